// Random number slots over OpenSSL's generator.
#include <openssl/rand.h>

#include "crypto/crypto_slots.h"

int CryptoLibRandBytes(unsigned char* buf, int count) {
  if (count < 0 || (!buf && count > 0)) return -1;
  if (count == 0) return 0;
  CryptoLibUseRandom();
  return RAND_bytes(buf, count) == 1 ? 0 : -1;
}

void CryptoLibRandAdd(const void* buf, int count, double entropy) {
  if (!buf || count <= 0) return;
  CryptoLibUseRandom();
  RAND_add(buf, count, entropy);
}
