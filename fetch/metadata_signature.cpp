// Script metadata signatures and SHA-256 digests, over OpenSSL.
#include "fetch/metadata_signature.h"

#include <cstdio>
#include <cstring>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include "fetch/key_pair.h"
#include "fetch/openssl_key_file.h"
#include "fetch/signing_key.h"
#include "platform/file.h"

const char kUpdMetadataContext[] = "TQUpdate script metadata signature v1\n";

namespace {

// Bytes read from a file per digest step.
constexpr size_t kReadBlock = 64 * 1024;

// True when `pkey` is an RSA key of an accepted size.
bool AcceptedKey(const EVP_PKEY* pkey) {
  if (EVP_PKEY_base_id(pkey) != EVP_PKEY_RSA) return false;
  int bits = EVP_PKEY_get_bits(pkey);
  return bits >= kUpdKeyBitsMin && bits <= kUpdKeyBitsMax;
}

// Selects PKCS #1 v1.5 padding on a signing or verifying context.
bool UsePkcs1(EVP_PKEY_CTX* pctx) { return EVP_PKEY_CTX_set_rsa_padding(pctx, RSA_PKCS1_PADDING) == 1; }

}  // namespace

std::string UpdMetadataSignedMessage(const std::string& body) {
  // The context's zero byte is part of the message.
  return std::string(kUpdMetadataContext) + std::string(1, '\0') + body;
}

int UpdMetadataSign(const char* private_key_file, const std::string& body, std::vector<unsigned char>* sig,
                    std::string* error) {
  EVP_PKEY* pkey = UpdReadPrivateKeyFile(private_key_file, error);
  if (!pkey) return -1;
  int result = -1;
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  EVP_PKEY_CTX* pctx = nullptr;
  std::string message = UpdMetadataSignedMessage(body);
  size_t len = 0;
  if (!AcceptedKey(pkey)) {
    *error = "the key is no RSA key of 2048 to 4096 bits";
  } else if (!ctx || EVP_DigestSignInit(ctx, &pctx, EVP_sha256(), nullptr, pkey) != 1 || !UsePkcs1(pctx)) {
    *error = UpdOpenSslError("signing cannot start");
  } else if (EVP_DigestSign(ctx, nullptr, &len, reinterpret_cast<const unsigned char*>(message.data()),
                            message.size()) != 1) {
    *error = UpdOpenSslError("signing failed");
  } else {
    sig->assign(len, 0);
    if (EVP_DigestSign(ctx, sig->data(), &len, reinterpret_cast<const unsigned char*>(message.data()),
                       message.size()) != 1) {
      *error = UpdOpenSslError("signing failed");
    } else {
      sig->resize(len);
      result = 0;
    }
  }
  EVP_MD_CTX_free(ctx);
  EVP_PKEY_free(pkey);
  return result;
}

int UpdMetadataVerifyWith(const char* public_pem, const std::string& body, const std::vector<unsigned char>& sig) {
  if (!public_pem || sig.empty()) return 0;
  BIO* bio = BIO_new_mem_buf(public_pem, -1);
  EVP_PKEY* pkey = bio ? PEM_read_bio_PUBKEY(bio, nullptr, nullptr, nullptr) : nullptr;
  BIO_free(bio);
  int valid = 0;
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  EVP_PKEY_CTX* pctx = nullptr;
  std::string message = UpdMetadataSignedMessage(body);
  if (pkey && ctx && AcceptedKey(pkey) && static_cast<int>(sig.size()) == EVP_PKEY_get_size(pkey) &&
      EVP_DigestVerifyInit(ctx, &pctx, EVP_sha256(), nullptr, pkey) == 1 && UsePkcs1(pctx)) {
    valid = EVP_DigestVerify(ctx, sig.data(), sig.size(), reinterpret_cast<const unsigned char*>(message.data()),
                             message.size()) == 1;
  }
  ERR_clear_error();
  EVP_MD_CTX_free(ctx);
  EVP_PKEY_free(pkey);
  return valid;
}

int UpdMetadataVerify(const std::string& body, const std::vector<unsigned char>& sig) {
  for (int i = 0; i < UpdSigningPublicKeyCount(); ++i)
    if (UpdMetadataVerifyWith(UpdSigningPublicKeyAt(i), body, sig)) return i;
  return -1;
}

UpdSha256Digest UpdSha256(const std::string& data) {
  UpdSha256Digest d{};
  unsigned int len = 0;
  EVP_Digest(data.data(), data.size(), d.data(), &len, EVP_sha256(), nullptr);
  return d;
}

int UpdFileSha256(const char* path, UpdSha256Digest* digest, int64_t* length) {
  FILE* f = PlatFileOpen(path, "rb");
  if (!f) return -1;
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  int ok = ctx && EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr) == 1;
  std::vector<unsigned char> block(kReadBlock);
  int64_t total = 0;
  while (ok) {
    size_t n = std::fread(block.data(), 1, block.size(), f);
    if (n > 0) {
      ok = EVP_DigestUpdate(ctx, block.data(), n) == 1;
      total += static_cast<int64_t>(n);
    }
    if (n < block.size()) {
      if (std::ferror(f)) ok = 0;
      break;
    }
  }
  unsigned int len = 0;
  if (ok) ok = EVP_DigestFinal_ex(ctx, digest->data(), &len) == 1 && len == kUpdSha256Size;
  EVP_MD_CTX_free(ctx);
  std::fclose(f);
  if (!ok) return -1;
  *length = total;
  return 0;
}
