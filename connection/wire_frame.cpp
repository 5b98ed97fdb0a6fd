// The frame codec: header forms and checksums.
#include "connection/wire_frame.h"

namespace {

// The weighted sum of the extended header check: bytes 0-3 and 6-9.
uint8_t HeaderWeighted(const unsigned char* h) {
  unsigned sum = 0;
  static const int kIdx[] = {0, 1, 2, 3, 6, 7, 8, 9};
  for (int j : kIdx) sum += h[j] * static_cast<unsigned>((j + 1) % 16);
  return static_cast<uint8_t>(sum);
}

// The plain byte sum of the ten header bytes.
uint8_t HeaderSum(const unsigned char* h) {
  unsigned sum = 0;
  for (int j = 0; j < RV_WIRE_HDR_CHECKED; ++j) sum += h[j];
  return static_cast<uint8_t>(sum);
}

}  // namespace

uint16_t RVFrameSumClassic(const unsigned char* body, size_t len) {
  uint32_t sum = 0;
  size_t i = 0;
  for (; i + 1 < len; i += 2) sum += RVGetBE16(body + i);
  if (i < len) sum += static_cast<uint32_t>(body[i]) << 8;
  return static_cast<uint16_t>(sum);
}

uint16_t RVFrameSumExtended(const unsigned char* body, size_t len) {
  unsigned weighted = 0, plain = 0;
  for (size_t i = 0; i < len; ++i) {
    weighted += body[i] * static_cast<unsigned>((i + 1) % 16);
    plain += body[i];
  }
  return static_cast<uint16_t>(((weighted & 0xFF) << 8) | (plain & 0xFF));
}

uint16_t RVFrameBodySum(const unsigned char* body, size_t len, int extended) {
  return extended ? RVFrameSumExtended(body, len) : RVFrameSumClassic(body, len);
}

int RVFrameEncodeHeader(unsigned char* out, size_t room, uint16_t type, int32_t id, const unsigned char* body,
                        uint16_t length, int checked, int extended) {
  int size = RVFrameHeaderSize(checked);
  if (room < static_cast<size_t>(size) || length > RV_WIRE_BUF) return -1;
  RVPutBE16(out, type);
  RVPutBE16(out + 2, length);
  if (!checked) {
    RVPutBE32(out + 4, static_cast<uint32_t>(id));
    return size;
  }
  out[4] = 0;
  out[5] = 0;
  RVPutBE16(out + 6, static_cast<uint16_t>(id));
  RVPutBE16(out + 8, RVFrameBodySum(body, length, extended));
  out[4] = extended ? HeaderWeighted(out) : 3;
  out[5] = static_cast<unsigned char>(0x100 - HeaderSum(out));
  return size;
}

RVFrameStatus RVFrameDecodeHeader(const unsigned char* in, size_t avail, int checked, int extended,
                                  RVFrameHeader* out) {
  if (avail < static_cast<size_t>(RVFrameHeaderSize(checked))) return RV_FRAME_NEED_MORE;
  out->type = RVGetBE16(in);
  out->length = RVGetBE16(in + 2);
  out->body_sum = 0;
  if (!checked) {
    out->id = static_cast<int32_t>(RVGetBE32(in + 4));
    return out->length > RV_WIRE_BUF ? RV_FRAME_HEADER_1 : RV_FRAME_COMPLETE;
  }
  out->id = static_cast<int16_t>(RVGetBE16(in + 6));
  out->body_sum = RVGetBE16(in + 8);
  unsigned type = out->type & RV_WIRE_TYPE_MASK;
  if ((type > 9999 && type != 32767) || out->length > RV_WIRE_BUF) return RV_FRAME_HEADER_1;
  if (!extended && (in[4] & 3) != 3) return RV_FRAME_HEADER_1;
  if (HeaderSum(in) != 0) return RV_FRAME_HEADER_2;
  if (extended && HeaderWeighted(in) != in[4]) return RV_FRAME_HEADER_3;
  return RV_FRAME_COMPLETE;
}

RVFrameStatus RVFrameCheckBody(const RVFrameHeader* hdr, const unsigned char* body, int extended) {
  if (RVFrameBodySum(body, hdr->length, extended) == hdr->body_sum) return RV_FRAME_COMPLETE;
  return extended ? RV_FRAME_BODY_1 : RV_FRAME_BODY_2;
}
