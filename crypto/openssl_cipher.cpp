// Cipher slots: the cipher selection table, the OpenSSL cipher context of an
// RVCryptoCipher, whole-buffer and streaming encryption and decryption, and
// key derivation from a passphrase.
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstdlib>
#include <cstring>

#include "crypto/crypto_slots.h"

namespace {

// One row of the selection table: the OpenSSL cipher for modes 1-5.
struct CipherRow {
  int16_t algorithm;     // RV_CIPHER_*
  int16_t key_len;       // the key length the row needs; 0 = any
  const char* names[5];  // OpenSSL cipher of mode 1 ... 5; null = none
};

// Modes: 1 and 2 CBC (triple DES: 1 ECB), 3 CFB (64-bit; AES 128-bit),
// 4 ECB (triple DES: none), 5 OFB.
const CipherRow kCiphers[] = {
    {RV_CIPHER_BLOWFISH, 0, {"BF-CBC", "BF-CBC", "BF-CFB", "BF-ECB", "BF-OFB"}},
    {RV_CIPHER_CAST5, 0, {"CAST5-CBC", "CAST5-CBC", "CAST5-CFB", "CAST5-ECB", "CAST5-OFB"}},
    {RV_CIPHER_AES, 16, {"AES-128-CBC", "AES-128-CBC", "AES-128-CFB", "AES-128-ECB", "AES-128-OFB"}},
    {RV_CIPHER_AES, 24, {"AES-192-CBC", "AES-192-CBC", "AES-192-CFB", "AES-192-ECB", "AES-192-OFB"}},
    {RV_CIPHER_AES, 32, {"AES-256-CBC", "AES-256-CBC", "AES-256-CFB", "AES-256-ECB", "AES-256-OFB"}},
    {RV_CIPHER_DES, 0, {"DES-CBC", "DES-CBC", "DES-CFB", "DES-ECB", "DES-OFB"}},
    {RV_CIPHER_3DES, 0, {"DES-EDE3-ECB", "DES-EDE3-CBC", "DES-EDE3-CFB", nullptr, "DES-EDE3-OFB"}},
};

// The OpenSSL cipher name for a context's algorithm, mode and key length,
// or null when the combination selects none.
const char* CipherName(const RVCryptoCipher* c) {
  if (c->mode < 1 || c->mode > 5) return nullptr;
  for (const CipherRow& row : kCiphers)
    if (row.algorithm == c->algorithm && (row.key_len == 0 || row.key_len == c->key_len))
      return row.names[c->mode - 1];
  return nullptr;
}

EVP_CIPHER_CTX* Ctx(const RVCryptoCipher* c) { return static_cast<EVP_CIPHER_CTX*>(c->ctx); }

// Starts encryption (enc 1) or decryption (enc 0) with the context's key
// and, when iv_len > 0, its IV; makes the OpenSSL context first when it has
// none. The key must have the length the context was set up with.
int Start(RVCryptoCipher* c, int enc) {
  if (!c) return -1;
  if (!c->ctx && CryptoLibCipherSetup(c) < 0) return -1;
  if (!c->key || c->key_len != EVP_CIPHER_CTX_get_key_length(Ctx(c))) return -1;
  if (EVP_CipherInit_ex(Ctx(c), nullptr, nullptr, c->key, c->iv_len > 0 ? c->iv : nullptr, enc) != 1) {
    ERR_clear_error();
    return -1;
  }
  return 0;
}

// Runs a whole buffer through the context in place; the output length.
int Whole(RVCryptoCipher* c, unsigned char* buf, int len, int enc) {
  if (!buf || len < 0 || Start(c, enc) < 0) return -1;
  int n = 0;
  int m = 0;
  if (EVP_CipherUpdate(Ctx(c), buf, &n, buf, len) != 1 || EVP_CipherFinal_ex(Ctx(c), buf + n, &m) != 1) {
    ERR_clear_error();
    return -1;
  }
  return n + m;
}

}  // namespace

int CryptoLibCipherSetup(RVCryptoCipher* c) {
  // A key is key_len bytes: a key without a length cannot be used.
  if (!c || (c->key && c->key_len <= 0)) return -1;
  const char* name = CipherName(c);
  if (!name) return -1;
  CryptoLibUseRandom();
  EVP_CIPHER* cipher = CryptoLibFetchCipher(name);
  EVP_CIPHER_CTX* ctx = cipher ? EVP_CIPHER_CTX_new() : nullptr;
  int key_len = c->key_len > 0 ? c->key_len : (cipher ? EVP_CIPHER_get_key_length(cipher) : 0);
  int iv_len = c->iv_len;
  unsigned char iv_base[sizeof c->iv_base];
  bool ok = ctx && EVP_EncryptInit_ex(ctx, cipher, nullptr, nullptr, nullptr) == 1 &&
            EVP_CIPHER_CTX_set_key_length(ctx, key_len) == 1;
  if (ok && iv_len == 0) {
    iv_len = EVP_CIPHER_get_iv_length(cipher);
    ok = iv_len >= 0 && iv_len <= static_cast<int>(sizeof iv_base) && (iv_len == 0 || RAND_bytes(iv_base, iv_len) == 1);
  }
  if (!ok) {
    EVP_CIPHER_CTX_free(ctx);
    EVP_CIPHER_free(cipher);
    ERR_clear_error();
    return -1;
  }
  CryptoLibCipherFree(c);
  c->ctx = ctx;
  c->cipher = cipher;
  c->key_len = static_cast<int16_t>(key_len);
  if (c->iv_len == 0) {
    std::memcpy(c->iv_base, iv_base, static_cast<size_t>(iv_len));
    c->iv_len = static_cast<int16_t>(iv_len);
  }
  OPENSSL_cleanse(iv_base, sizeof iv_base);
  return 0;
}

int CryptoLibCipherEncryptInit(RVCryptoCipher* c) { return Start(c, 1); }

int CryptoLibCipherDecryptInit(RVCryptoCipher* c) { return Start(c, 0); }

// `buf` needs room for len plus one block.
int CryptoLibCipherEncrypt(RVCryptoCipher* c, unsigned char* buf, int len) { return Whole(c, buf, len, 1); }

int CryptoLibCipherDecrypt(RVCryptoCipher* c, unsigned char* buf, int len) { return Whole(c, buf, len, 0); }

int CryptoLibCipherEncryptUpdate(RVCryptoCipher* c, const unsigned char* in, unsigned char* out, int len) {
  if (!c || !c->ctx || !out || len < 0 || (!in && len > 0)) return -1;
  int n = 0;
  if (EVP_EncryptUpdate(Ctx(c), out, &n, in, len) != 1) {
    ERR_clear_error();
    return -1;
  }
  return n;
}

int CryptoLibCipherEncryptFinal(RVCryptoCipher* c, unsigned char* out) {
  if (!c || !c->ctx || !out) return -1;
  int n = 0;
  if (EVP_EncryptFinal_ex(Ctx(c), out, &n) != 1) {
    ERR_clear_error();
    return -1;
  }
  return n;
}

int CryptoLibCipherDecryptUpdate(RVCryptoCipher* c, const unsigned char* in, unsigned char* out, int len) {
  if (!c || !c->ctx || !out || len < 0 || (!in && len > 0)) return -1;
  int n = 0;
  if (EVP_DecryptUpdate(Ctx(c), out, &n, in, len) != 1) {
    ERR_clear_error();
    return -1;
  }
  return n;
}

int CryptoLibCipherDecryptFinal(RVCryptoCipher* c, unsigned char* out) {
  if (!c || !c->ctx || !out) return -1;
  int n = 0;
  if (EVP_DecryptFinal_ex(Ctx(c), out, &n) != 1) {
    ERR_clear_error();
    return -1;
  }
  return n;
}

// Frees the OpenSSL context (which clears its key schedule) and cipher.
int CryptoLibCipherFree(RVCryptoCipher* c) {
  if (!c) return -1;
  EVP_CIPHER_CTX_free(Ctx(c));
  EVP_CIPHER_free(static_cast<EVP_CIPHER*>(c->cipher));
  c->ctx = nullptr;
  c->cipher = nullptr;
  return 0;
}

// EVP_BytesToKey with the selected cipher, SHA-256, the salt when flagged,
// the passphrase and one iteration. The key is the cipher's own length (a
// context set up for another length is refused) and is allocated on the C
// heap when the context has none; the IV goes to iv_base.
int CryptoLibCipherDeriveKey(RVCryptoCipher* c) {
  if (!c || !c->passphrase) return -1;
  if (!c->cipher && CryptoLibCipherSetup(c) < 0) return -1;
  const EVP_CIPHER* cipher = static_cast<const EVP_CIPHER*>(c->cipher);
  int key_len = EVP_CIPHER_get_key_length(cipher);
  int iv_len = EVP_CIPHER_get_iv_length(cipher);
  if (key_len <= 0 || key_len > EVP_MAX_KEY_LENGTH || c->key_len != key_len || iv_len > EVP_MAX_IV_LENGTH) return -1;
  EVP_MD* md = CryptoLibFetchDigest("SHA256");
  unsigned char key[EVP_MAX_KEY_LENGTH];
  unsigned char iv[EVP_MAX_IV_LENGTH];
  const unsigned char* salt = (c->flags & RV_CIPHER_FLAG_SALT) ? c->salt : nullptr;
  int n = md ? EVP_BytesToKey(cipher, md, salt, reinterpret_cast<const unsigned char*>(c->passphrase),
                              static_cast<int>(std::strlen(c->passphrase)), 1, key, iv)
             : 0;
  EVP_MD_free(md);
  int result = -1;
  if (n == key_len) {
    if (!c->key) c->key = static_cast<unsigned char*>(std::calloc(1, static_cast<size_t>(key_len)));
    if (c->key) {
      std::memcpy(c->key, key, static_cast<size_t>(key_len));
      if (iv_len > 0) std::memcpy(c->iv_base, iv, static_cast<size_t>(iv_len));
      result = 0;
    }
  }
  OPENSSL_cleanse(key, sizeof key);
  OPENSSL_cleanse(iv, sizeof iv);
  if (result < 0) ERR_clear_error();
  return result;
}
