// Runtime operations on cipher contexts and the random generator over the
// global crypto library record.
#include <cstring>

#include "crypto/crypto_runtime.h"
#include "crypto/wipe.h"
#include "runtime/alloc.h"

int RVCryptoRandBytes(unsigned char* buf, int count) {
  RVCryptoLib* lib = RVCryptoGetLib();
  if (!lib) return -1;
  RVCryptoGuard guard;
  return lib->rand_bytes(buf, count);
}

void RVCryptoRandAdd(const void* buf, int count, double entropy) {
  RVCryptoLib* lib = RVCryptoGetLib();
  if (!lib) return;
  RVCryptoGuard guard;
  lib->rand_add(buf, count, entropy);
}

int RVCryptoCipherStart(RVCryptoCipher* c) {
  if (!c) return -1;
  if (c->algorithm == RV_CIPHER_NONE) return 0;
  RVCryptoLib* lib = RVCryptoGetLib();
  if (!lib || !lib->cipher_setup) return -1;
  RVCryptoGuard guard;
  return lib->cipher_setup(c);
}

int RVCryptoEncryptBuf(RVCryptoCipher* c, unsigned char* buf, int len) {
  if (!c) return -1;
  if (c->algorithm == RV_CIPHER_NONE) return len;
  RVCryptoLib* lib = RVCryptoGetLib();
  if (!lib) return -1;
  RVCryptoGuard guard;
  return lib->cipher_encrypt(c, buf, len);
}

int RVCryptoDecryptBuf(RVCryptoCipher* c, unsigned char* buf, int len) {
  if (!c) return -1;
  if (c->algorithm == RV_CIPHER_NONE) return len;
  RVCryptoLib* lib = RVCryptoGetLib();
  if (!lib) return -1;
  RVCryptoGuard guard;
  return lib->cipher_decrypt(c, buf, len);
}

void RVCryptoCipherFree(RVCryptoCipher* c) {
  if (!c) return;
  RVCryptoLib* lib = RVCryptoGetLib();
  if (lib && (c->ctx || c->cipher)) {
    RVCryptoGuard guard;
    lib->cipher_free(c);
  }
  if (c->key) {
    RVCryptoWipe(c->key, static_cast<size_t>(c->key_len > 0 ? c->key_len : 0));
    RVFree(c->key);
  }
  RVCryptoWipeFreeText(c->passphrase);
  RVCryptoWipe(c, sizeof *c);
  RVFree(c);
}
