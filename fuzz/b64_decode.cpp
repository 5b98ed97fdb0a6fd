// Fuzzes b64_decode and the streaming decoder. The output block has exactly
// the size the length rule gives, so a longer write is caught; a decoded
// text must follow the rule and survive encoding and decoding again.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "crypto/crypto_lib.h"

namespace {
RVCryptoLib g_lib;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_lib.caller_version = RV_CRYPTO_VERSION;
  if (RVCryptoInit(&g_lib) != 0) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  size_t len = std::strlen(text.c_str());
  long expected = -1;
  if (len % 4 == 0) {
    expected = static_cast<long>(len / 4 * 3);
    if (len > 0 && text[len - 1] == '=') expected -= text[len - 2] == '=' ? 2 : 1;
  }
  std::vector<unsigned char> out(expected > 0 ? static_cast<size_t>(expected) : 1);
  int n = g_lib.b64_decode(text.c_str(), out.data());
  if (n >= 0) {
    if (n != expected) std::abort();
    std::vector<char> enc(4 * ((static_cast<size_t>(n) + 2) / 3) + 1);
    int m = g_lib.b64_encode(out.data(), n, enc.data());
    std::vector<unsigned char> back(static_cast<size_t>(n) + 1);
    if (m < 0 || g_lib.b64_decode(enc.data(), back.data()) != n ||
        std::memcmp(back.data(), out.data(), static_cast<size_t>(n)) != 0)
      std::abort();
  }

  // The streaming decoder on the raw bytes, in two pieces.
  void* ctx = g_lib.b64_decode_ctx_new();
  std::vector<unsigned char> stream(size + 80);
  size_t half = size / 2;
  int a = g_lib.b64_decode_update(ctx, data, stream.data(), static_cast<int>(half));
  int b = a < 0 ? -1
                : g_lib.b64_decode_update(ctx, data + half, stream.data() + a, static_cast<int>(size - half));
  g_lib.b64_decode_final(ctx, stream.data() + (a > 0 ? a : 0) + (b > 0 ? b : 0));
  return 0;
}
