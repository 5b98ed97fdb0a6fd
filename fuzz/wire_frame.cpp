// Fuzzes the frame codec: every header the decoder accepts encodes back to
// the same bytes (a classic byte A aside), and a body check never reads past the body.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "connection/wire_frame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  int checked = data[0] & 1, extended = (data[0] >> 1) & 1;
  const uint8_t* in = data + 1;
  size_t avail = size - 1;
  RVFrameHeader h;
  RVFrameStatus st = RVFrameDecodeHeader(in, avail, checked, extended, &h);
  if (st != RV_FRAME_COMPLETE) return 0;
  int hs = RVFrameHeaderSize(checked);
  if (h.length > RV_WIRE_BUF) std::abort();
  if (checked && avail >= static_cast<size_t>(hs) + h.length) {
    std::vector<unsigned char> body(in + hs, in + hs + h.length);
    if (RVFrameCheckBody(&h, body.data(), extended) == RV_FRAME_COMPLETE) {
      unsigned char out[RV_WIRE_HDR_CHECKED];
      if (RVFrameEncodeHeader(out, sizeof out, h.type, h.id, body.data(), h.length, 1, extended) != hs) std::abort();
      // classic byte A may be any value with both low bits set; the rest is fixed
      bool same = extended ? std::memcmp(out, in, 8) == 0
                           : std::memcmp(out, in, 4) == 0 && std::memcmp(out + 6, in + 6, 2) == 0;
      if (!same || RVGetBE16(out + 8) != h.body_sum) std::abort();
    }
  }
  return 0;
}
