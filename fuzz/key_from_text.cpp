// Fuzzes key_from_text: the first byte picks the key type (0-4, so types
// without a text form are tried too), the rest is the text. A key that is
// read must give a text that reads back to the same text, and the slots that
// take a peer's key must cope with it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

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
  if (size < 1) return 0;
  int type = data[0] % 5;
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  void* key = g_lib.key_from_text(text.c_str(), type);
  if (!key) return 0;
  if (type < RV_CRYPTO_RSA || type > RV_CRYPTO_DH) std::abort();

  char* first = g_lib.key_to_text(key, type);
  if (!first) std::abort();
  if (std::strlen(first) <= RV_CRYPTO_MAX_KEY_TEXT) {
    void* again = g_lib.key_from_text(first, type);
    if (!again) std::abort();
    char* second = g_lib.key_to_text(again, type);
    if (!second || std::strcmp(first, second) != 0) std::abort();
    g_lib.mem_free(second);
    g_lib.key_free(again, type);
  }
  g_lib.mem_free(first);

  // What a peer's key meets: a signature check, raw RSA, the DH size.
  unsigned char sig[64] = {0x30, 0x06, 0x02, 0x01, 0x01, 0x02, 0x01, 0x01};
  unsigned char out[4096 + 16];
  if (type != RV_CRYPTO_DH) g_lib.verify(key, data, static_cast<int>(size), sig, 8, type, nullptr);
  if (type == RV_CRYPTO_RSA) g_lib.rsa_public_encrypt(key, type, 4, sig, out);
  if (type == RV_CRYPTO_DH && g_lib.dh_size(key, type) > 4096) std::abort();
  g_lib.key_free(key, type);
  return 0;
}
