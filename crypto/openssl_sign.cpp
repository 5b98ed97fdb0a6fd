// Signature slots: RSA (PKCS #1 v1.5), DSA (SHA-1) and HMAC.
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>

#include "crypto/crypto_slots.h"
#include "crypto/openssl_key.h"

namespace {

// The digest a key type signs with: RSA the named one (default "SHA1"), DSA
// always SHA-1, HMAC the named one (default "SHA256"); null for other types.
const char* SigningDigest(int type, const char* digest_name) {
  bool named = digest_name && *digest_name;
  switch (type) {
    case RV_CRYPTO_RSA: return named ? digest_name : "SHA1";
    case RV_CRYPTO_DSA: return "SHA1";
    case RV_CRYPTO_HMAC: return named ? digest_name : "SHA256";
    default: return nullptr;
  }
}

// Signs (or MACs) `data` into `sig` (null: only the maximal length); the
// signature length or -1.
int DigestSign(EVP_PKEY* pkey, const char* md_name, const unsigned char* data, int len, unsigned char* sig,
               size_t sig_room) {
  CryptoLibUseRandom();
  EVP_MD* md = CryptoLibFetchDigest(md_name);
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  int result = -1;
  size_t siglen = 0;
  if (md && ctx && EVP_DigestSignInit_ex(ctx, nullptr, EVP_MD_get0_name(md), nullptr, nullptr, pkey, nullptr) == 1 &&
      EVP_DigestSign(ctx, nullptr, &siglen, data, static_cast<size_t>(len)) == 1) {
    if (!sig) {
      result = static_cast<int>(siglen);
    } else {
      siglen = sig_room ? sig_room : siglen;
      if (EVP_DigestSign(ctx, sig, &siglen, data, static_cast<size_t>(len)) == 1) result = static_cast<int>(siglen);
    }
  }
  EVP_MD_CTX_free(ctx);
  EVP_MD_free(md);
  if (result < 0) ERR_clear_error();
  return result;
}

}  // namespace

// `sig` needs room for the key's largest signature: the modulus size for
// RSA, DSA's DER size, the digest length for HMAC.
int CryptoLibSign(void* key, const unsigned char* data, int len, unsigned char* sig, int type,
                  const char* digest_name) {
  const char* md_name = SigningDigest(type, digest_name);
  EVP_PKEY* pkey = CryptoLibKeyGet(key, type);
  if (!md_name || !pkey || !sig || len < 0 || (!data && len > 0)) return -1;
  const unsigned char* in = len > 0 ? data : reinterpret_cast<const unsigned char*>("");
  return DigestSign(pkey, md_name, in, len, sig, 0);
}

int CryptoLibVerify(void* key, const unsigned char* data, int len, const unsigned char* sig, int sig_len,
                    int type, const char* digest_name) {
  const char* md_name = SigningDigest(type, digest_name);
  EVP_PKEY* pkey = CryptoLibKeyGet(key, type);
  if (!md_name || !pkey || !sig || sig_len < 0 || len < 0 || (!data && len > 0)) return -1;
  const unsigned char* in = len > 0 ? data : reinterpret_cast<const unsigned char*>("");
  if (type == RV_CRYPTO_HMAC) {
    unsigned char mac[EVP_MAX_MD_SIZE];
    int n = DigestSign(pkey, md_name, in, len, mac, sizeof mac);
    int ok = n >= 0 && n == sig_len && CRYPTO_memcmp(mac, sig, static_cast<size_t>(n)) == 0;
    OPENSSL_cleanse(mac, sizeof mac);
    return ok ? 0 : -1;
  }
  EVP_MD* md = CryptoLibFetchDigest(md_name);
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  int result = -1;
  if (md && ctx && EVP_DigestVerifyInit_ex(ctx, nullptr, EVP_MD_get0_name(md), nullptr, nullptr, pkey, nullptr) == 1 &&
      EVP_DigestVerify(ctx, sig, static_cast<size_t>(sig_len), in, static_cast<size_t>(len)) == 1)
    result = 0;
  EVP_MD_CTX_free(ctx);
  EVP_MD_free(md);
  if (result < 0) ERR_clear_error();
  return result;
}
