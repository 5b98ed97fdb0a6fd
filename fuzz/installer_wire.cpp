// Fuzzes the installer host's request and answer decoders: no input may
// crash them, and what they accept encodes back to the very same bytes.
// The first byte picks the decoder, the rest is the body.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/installer_wire/wire.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  std::string_view body(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string frame;
  if (data[0] & 1) {
    MsiWireAnswer ans;
    if (MsiWireDecodeAnswer(body, &ans) != 0) return 0;
    frame = MsiWireEncodeAnswer(ans);
  } else {
    MsiWireRequest req;
    if (MsiWireDecodeRequest(body, &req) != 0) return 0;
    if (req.text1.find('\0') != std::string::npos || req.text2.find('\0') != std::string::npos) __builtin_trap();
    frame = MsiWireEncodeRequest(req);
  }
  if (frame.size() != body.size() + kMsiWireLengthSize) __builtin_trap();
  uint32_t length = 0;
  if (MsiWireBodyLength(reinterpret_cast<const unsigned char*>(frame.data()), body.size(), &length) != 0 ||
      length != body.size())
    __builtin_trap();
  if (std::memcmp(frame.data() + kMsiWireLengthSize, body.data(), body.size()) != 0) __builtin_trap();
  return 0;
}
