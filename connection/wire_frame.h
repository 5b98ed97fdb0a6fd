// The frame codec of the wire protocol: message headers in their plain
// (8-byte) and checksummed (10-byte) forms, the classic and extended body
// checksums, and big-endian numbers on bounded buffers. Pure: no I/O, no
// allocation, no reports.
#pragma once

#include <cstddef>
#include <cstdint>

enum : int {
  RV_WIRE_BUF = 1024,        // bytes of the input and output buffers; largest body
  RV_WIRE_HDR_PLAIN = 8,     // plain header
  RV_WIRE_HDR_CHECKED = 10,  // checksummed header
  RV_WIRE_MORE = 0x8000,     // type bit: another fragment follows
  RV_WIRE_TYPE_MASK = 0x7FFF // the type without the continuation bit
};

// Result of decoding a header or checking a body.
enum RVFrameStatus : int {
  RV_FRAME_COMPLETE = 0,  // decoded; the header is valid
  RV_FRAME_NEED_MORE = 1, // fewer bytes than the form needs
  RV_FRAME_HEADER_1 = 2,  // type above 9,999 (not 32,767), length above 1,024, bad classic byte A
  RV_FRAME_HEADER_2 = 3,  // header bytes do not sum to 0
  RV_FRAME_HEADER_3 = 4,  // extended weighted header sum differs
  RV_FRAME_BODY_1 = 5,    // extended body checksum differs
  RV_FRAME_BODY_2 = 6,    // classic body checksum differs
};

// One decoded header.
struct RVFrameHeader {
  uint16_t type;     // as transmitted, bit 15 included
  uint16_t length;   // body bytes
  int32_t id;        // message id (16 bits in the checksummed form)
  uint16_t body_sum; // checksummed form: bytes 8-9 as stored
};

// Big-endian numbers; the caller guarantees the room.
inline void RVPutBE16(unsigned char* p, uint16_t v) {
  p[0] = static_cast<unsigned char>(v >> 8);
  p[1] = static_cast<unsigned char>(v);
}
inline void RVPutBE32(unsigned char* p, uint32_t v) {
  RVPutBE16(p, static_cast<uint16_t>(v >> 16));
  RVPutBE16(p + 2, static_cast<uint16_t>(v));
}
inline uint16_t RVGetBE16(const unsigned char* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t RVGetBE32(const unsigned char* p) {
  return (static_cast<uint32_t>(RVGetBE16(p)) << 16) | RVGetBE16(p + 2);
}

// Header size of the form: checked != 0 the 10-byte form.
inline int RVFrameHeaderSize(int checked) { return checked ? RV_WIRE_HDR_CHECKED : RV_WIRE_HDR_PLAIN; }

// The classic body checksum: big-endian 16-bit words summed modulo 65,536, a
// final odd byte as the high byte of a word.
uint16_t RVFrameSumClassic(const unsigned char* body, size_t len);

// The extended body checksum: high byte the sum of body[i] * ((i + 1) mod 16),
// low byte the plain sum, both modulo 256.
uint16_t RVFrameSumExtended(const unsigned char* body, size_t len);

// The body checksum of the selected kind.
uint16_t RVFrameBodySum(const unsigned char* body, size_t len, int extended);

// Writes the header for `body` (length bytes) into `out` (room bytes). The
// checksummed form (checked != 0) computes the body checksum and both check
// bytes; its id is the low 16 bits of `id`. Returns the header size, or -1
// when the room is too small or the length above 1,024.
int RVFrameEncodeHeader(unsigned char* out, size_t room, uint16_t type, int32_t id, const unsigned char* body,
                        uint16_t length, int checked, int extended);

// Decodes a header from `in` (avail bytes). The plain form answers
// RV_FRAME_HEADER_1 for a length above 1,024; the checksummed form checks
// type, length and check bytes. Type checks apply to the type without bit 15.
RVFrameStatus RVFrameDecodeHeader(const unsigned char* in, size_t avail, int checked, int extended,
                                  RVFrameHeader* out);

// Checks a body against a checksummed header: complete, or the body error of
// the selected kind.
RVFrameStatus RVFrameCheckBody(const RVFrameHeader* hdr, const unsigned char* body, int extended);
