// Raw RSA slots with padding code 4 (OAEP). OpenSSL defines OAEP only for
// public-key encryption and private-key decryption; the private-key
// "encryption" and public-key "decryption" refuse that padding and fail.
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include "crypto/crypto_slots.h"
#include "crypto/openssl_key.h"

namespace {

enum RawOp {
  RAW_PUBLIC_ENCRYPT,  // encrypt with the public key
  RAW_PRIVATE_DECRYPT, // decrypt with the private key
  RAW_PRIVATE_ENCRYPT, // sign the raw input with the private key
  RAW_PUBLIC_DECRYPT,  // recover the raw input with the public key
};

// One raw RSA operation; `out` needs the modulus size. Bytes produced or -1.
int RawRsa(RawOp op, void* key, int type, int len, const unsigned char* in, unsigned char* out) {
  EVP_PKEY* pkey = type == RV_CRYPTO_RSA ? CryptoLibKeyGet(key, type) : nullptr;
  if (!pkey || !in || !out || len < 0) return -1;
  CryptoLibUseRandom();
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, pkey, nullptr);
  if (!ctx) return -1;
  int ok = 0;
  switch (op) {
    case RAW_PUBLIC_ENCRYPT: ok = EVP_PKEY_encrypt_init(ctx); break;
    case RAW_PRIVATE_DECRYPT: ok = EVP_PKEY_decrypt_init(ctx); break;
    case RAW_PRIVATE_ENCRYPT: ok = EVP_PKEY_sign_init(ctx); break;
    case RAW_PUBLIC_DECRYPT: ok = EVP_PKEY_verify_recover_init(ctx); break;
  }
  int result = -1;
  if (ok == 1 && EVP_PKEY_CTX_set_rsa_padding(ctx, RV_RSA_PADDING_OAEP) == 1) {
    size_t outlen = static_cast<size_t>(EVP_PKEY_get_size(pkey));
    size_t inlen = static_cast<size_t>(len);
    switch (op) {
      case RAW_PUBLIC_ENCRYPT: ok = EVP_PKEY_encrypt(ctx, out, &outlen, in, inlen); break;
      case RAW_PRIVATE_DECRYPT: ok = EVP_PKEY_decrypt(ctx, out, &outlen, in, inlen); break;
      case RAW_PRIVATE_ENCRYPT: ok = EVP_PKEY_sign(ctx, out, &outlen, in, inlen); break;
      case RAW_PUBLIC_DECRYPT: ok = EVP_PKEY_verify_recover(ctx, out, &outlen, in, inlen); break;
    }
    if (ok == 1) result = static_cast<int>(outlen);
  }
  EVP_PKEY_CTX_free(ctx);
  if (result < 0) ERR_clear_error();
  return result;
}

}  // namespace

int CryptoLibRsaPrivateEncrypt(void* key, int type, int len, const unsigned char* in, unsigned char* out) {
  return RawRsa(RAW_PRIVATE_ENCRYPT, key, type, len, in, out);
}

int CryptoLibRsaPublicEncrypt(void* key, int type, int len, const unsigned char* in, unsigned char* out) {
  return RawRsa(RAW_PUBLIC_ENCRYPT, key, type, len, in, out);
}

int CryptoLibRsaPrivateDecrypt(void* key, int type, int len, const unsigned char* in, unsigned char* out) {
  return RawRsa(RAW_PRIVATE_DECRYPT, key, type, len, in, out);
}

int CryptoLibRsaPublicDecrypt(void* key, int type, int len, const unsigned char* in, unsigned char* out) {
  return RawRsa(RAW_PUBLIC_DECRYPT, key, type, len, in, out);
}
