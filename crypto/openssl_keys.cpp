// Key slots: the library's key object, RSA and DSA keys from PEM files and
// texts, HMAC keys, and releasing keys.
#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstring>

#include "crypto/crypto_slots.h"
#include "crypto/openssl_key.h"

namespace {

// Answers OpenSSL's password prompt with the passphrase in `u`; without a
// passphrase (or one that does not fit) the key cannot be read. Never asks
// the terminal.
int PassphraseAnswer(char* buf, int size, int /*rwflag*/, void* u) {
  const char* pass = static_cast<const char*>(u);
  if (!pass || size <= 0) return -1;
  size_t len = std::strlen(pass);
  if (len > static_cast<size_t>(size)) return -1;
  std::memcpy(buf, pass, len);
  return static_cast<int>(len);
}

// True when `pkey` is of the key type `type` (RSA or DSA).
bool IsRsaOrDsa(const EVP_PKEY* pkey, int type) {
  if (type == RV_CRYPTO_RSA) return EVP_PKEY_is_a(pkey, "RSA") == 1;
  if (type == RV_CRYPTO_DSA) return EVP_PKEY_is_a(pkey, "DSA") == 1;
  return false;
}

// Reads a private key from `bio` (consumed) when it is of `type`.
void* ReadPrivate(BIO* bio, const char* passphrase, int type) {
  EVP_PKEY* pkey = nullptr;
  // An encrypted key may be sealed with an old cipher of "legacy".
  if (passphrase && *passphrase) CryptoLibLoadLegacy();
  if (bio && (type == RV_CRYPTO_RSA || type == RV_CRYPTO_DSA))
    pkey = PEM_read_bio_PrivateKey(bio, nullptr, PassphraseAnswer, const_cast<char*>(passphrase));
  BIO_free(bio);
  if (pkey && !IsRsaOrDsa(pkey, type)) {
    EVP_PKEY_free(pkey);
    pkey = nullptr;
  }
  ERR_clear_error();
  return CryptoLibKeyWrap(type, pkey);
}

// Reads a SubjectPublicKeyInfo public key from `bio` (consumed) when it is of `type`.
void* ReadPublic(BIO* bio, int type) {
  EVP_PKEY* pkey = nullptr;
  if (bio && (type == RV_CRYPTO_RSA || type == RV_CRYPTO_DSA))
    pkey = PEM_read_bio_PUBKEY(bio, nullptr, PassphraseAnswer, nullptr);
  BIO_free(bio);
  if (pkey && !IsRsaOrDsa(pkey, type)) {
    EVP_PKEY_free(pkey);
    pkey = nullptr;
  }
  ERR_clear_error();
  return CryptoLibKeyWrap(type, pkey);
}

}  // namespace

CryptoLibKey* CryptoLibKeyWrap(int type, EVP_PKEY* pkey) {
  if (!pkey) return nullptr;
  CryptoLibKey* key = static_cast<CryptoLibKey*>(OPENSSL_zalloc(sizeof(CryptoLibKey)));
  if (!key) {
    EVP_PKEY_free(pkey);
    return nullptr;
  }
  key->type = type;
  key->pkey = pkey;
  return key;
}

EVP_PKEY* CryptoLibKeyGet(void* key, int type) {
  CryptoLibKey* k = static_cast<CryptoLibKey*>(key);
  if (!k || k->type != type) return nullptr;
  return k->pkey;
}

void* CryptoLibPrivateKeyReadFile(const char* file, const char* passphrase, int type) {
  if (!file) return nullptr;
  return ReadPrivate(BIO_new_file(file, "r"), passphrase, type);
}

void* CryptoLibPrivateKeyReadMem(const char* pem, const char* passphrase, int type) {
  if (!pem) return nullptr;
  return ReadPrivate(BIO_new_mem_buf(pem, -1), passphrase, type);
}

void* CryptoLibPublicKeyReadFile(const char* file, int type) {
  if (!file) return nullptr;
  return ReadPublic(BIO_new_file(file, "r"), type);
}

void* CryptoLibPublicKeyReadMem(const char* pem, int type) {
  if (!pem) return nullptr;
  return ReadPublic(BIO_new_mem_buf(pem, -1), type);
}

// Frees a key of a key type; OpenSSL clears the private parts of the key as
// it frees them, and the holder is wiped.
int CryptoLibKeyFree(void* key, int type) {
  CryptoLibKey* k = static_cast<CryptoLibKey*>(key);
  if (!k || type < RV_CRYPTO_RSA || type > RV_CRYPTO_HMAC) return -1;
  EVP_PKEY_free(k->pkey);
  OPENSSL_clear_free(k, sizeof *k);
  return 0;
}

void* CryptoLibHmacKeyNew(const unsigned char* key, int len) {
  if (len < 0 || (!key && len > 0)) return nullptr;
  static const unsigned char empty = 0;
  EVP_PKEY* pkey = EVP_PKEY_new_raw_private_key_ex(nullptr, "HMAC", nullptr, len > 0 ? key : &empty,
                                                   static_cast<size_t>(len));
  if (!pkey) ERR_clear_error();
  return CryptoLibKeyWrap(RV_CRYPTO_HMAC, pkey);
}
