// The library's key object: the opaque "key" that the key slots hand out.
// Internal to the library.
#pragma once

#include <openssl/evp.h>

// One key of a key type. A holder (rather than the bare OpenSSL object) lets
// dh_generate_key give an existing DH handle its key pair, and lets every
// slot refuse a key of another type.
struct CryptoLibKey {
  int type;       // RV_CRYPTO_RSA ... RV_CRYPTO_HMAC
  EVP_PKEY* pkey; // the OpenSSL key (or DH parameters)
};

// New holder owning `pkey`; null (and `pkey` freed) when pkey is null or the
// holder cannot be allocated.
CryptoLibKey* CryptoLibKeyWrap(int type, EVP_PKEY* pkey);

// The OpenSSL key of `key` when it is a key of `type`, else null.
EVP_PKEY* CryptoLibKeyGet(void* key, int type);
