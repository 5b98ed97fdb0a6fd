// Digest slots: SHA-1, RIPEMD-160, MD5, SHA-256 and SHA-512 of memory and of
// files.
#include <vector>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>

#include "crypto/crypto_slots.h"

namespace {

// OpenSSL name of a digest type, or null for an unknown type.
const char* DigestName(int type) {
  switch (type) {
    case RV_DIGEST_SHA1: return "SHA1";
    case RV_DIGEST_RIPEMD160: return "RIPEMD160";
    case RV_DIGEST_MD5: return "MD5";
    case RV_DIGEST_SHA256: return "SHA256";
    case RV_DIGEST_SHA512: return "SHA512";
    default: return nullptr;
  }
}

}  // namespace

int CryptoLibDigestMem(const void* data, int len, unsigned char* out, int type) {
  const char* name = DigestName(type);
  if (!name || !out || len < 0 || (!data && len > 0)) return -1;
  EVP_MD* md = CryptoLibFetchDigest(name);
  if (!md) {
    ERR_clear_error();
    return -1;
  }
  unsigned int n = 0;
  int ok = EVP_Digest(len > 0 ? data : "", static_cast<size_t>(len), out, &n, md, nullptr);
  EVP_MD_free(md);
  if (ok != 1) {
    ERR_clear_error();
    return -1;
  }
  return static_cast<int>(n);
}

int CryptoLibDigestFile(const char* file, unsigned char* out, int type) {
  const char* name = DigestName(type);
  if (!name || !file || !out) return -1;
  BIO* bio = BIO_new_file(file, "rb");
  if (!bio) {
    ERR_clear_error();
    return -1;
  }
  EVP_MD* md = CryptoLibFetchDigest(name);
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  int result = -1;
  if (md && ctx && EVP_DigestInit_ex(ctx, md, nullptr) == 1) {
    // Reads of 1 MiB: the digest, not the calls into the file, takes the time.
    std::vector<unsigned char> buf(size_t{1} << 20);
    int n;
    bool ok = true;
    while ((n = BIO_read(bio, buf.data(), static_cast<int>(buf.size()))) > 0) {
      if (EVP_DigestUpdate(ctx, buf.data(), static_cast<size_t>(n)) != 1) {
        ok = false;
        break;
      }
    }
    // A read error (rather than the end of the file) fails the digest.
    if (n < 0) ok = false;
    unsigned int len = 0;
    if (ok && EVP_DigestFinal_ex(ctx, out, &len) == 1) result = static_cast<int>(len);
  }
  EVP_MD_CTX_free(ctx);
  EVP_MD_free(md);
  BIO_free(bio);
  if (result < 0) ERR_clear_error();
  return result;
}
