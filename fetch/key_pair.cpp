// RSA key pair generation and the public half of a private key, over
// OpenSSL.
#include "fetch/key_pair.h"

#include <cstdio>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include "fetch/openssl_key_file.h"

namespace {

// The text OpenSSL wrote into a memory BIO.
std::string BioText(BIO* bio) {
  char* data = nullptr;
  long len = BIO_get_mem_data(bio, &data);
  return len > 0 && data ? std::string(data, static_cast<size_t>(len)) : std::string();
}

}  // namespace

int UpdGenerateKeyPair(int bits, std::string* private_pem, std::string* public_pem, std::string* error) {
  if (bits < kUpdKeyBitsMin || bits > kUpdKeyBitsMax) {
    *error = "key size out of range";
    return -1;
  }
  EVP_PKEY* pkey = EVP_RSA_gen(static_cast<unsigned int>(bits));
  if (!pkey) {
    *error = UpdOpenSslError("RSA key generation failed");
    return -1;
  }
  BIO* priv = BIO_new(BIO_s_secmem());
  BIO* pub = BIO_new(BIO_s_mem());
  int result = -1;
  if (!priv || !pub) {
    *error = UpdOpenSslError("out of memory");
  } else if (PEM_write_bio_PrivateKey(priv, pkey, nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    *error = UpdOpenSslError("writing the private key failed");
  } else if (PEM_write_bio_PUBKEY(pub, pkey) != 1) {
    *error = UpdOpenSslError("writing the public key failed");
  } else {
    *private_pem = BioText(priv);
    *public_pem = BioText(pub);
    result = 0;
  }
  BIO_free(priv);
  BIO_free(pub);
  EVP_PKEY_free(pkey);
  return result;
}

int UpdPublicKeyOfPrivateFile(const char* path, std::string* public_pem, std::string* error) {
  EVP_PKEY* pkey = UpdReadPrivateKeyFile(path, error);
  if (!pkey) return -1;
  BIO* pub = BIO_new(BIO_s_mem());
  int result = -1;
  if (!pub) {
    *error = UpdOpenSslError("out of memory");
  } else if (PEM_write_bio_PUBKEY(pub, pkey) != 1) {
    *error = UpdOpenSslError("writing the public key failed");
  } else {
    *public_pem = BioText(pub);
    result = 0;
  }
  BIO_free(pub);
  EVP_PKEY_free(pkey);
  return result;
}

int UpdSamePem(const std::string& a, const std::string& b) {
  auto bare = [](const std::string& s) {
    std::string t;
    for (char c : s)
      if (c != '\r') t += c;
    size_t first = t.find_first_not_of(" \t\n");
    size_t last = t.find_last_not_of(" \t\n");
    return first == std::string::npos ? std::string() : t.substr(first, last - first + 1);
  };
  return bare(a) == bare(b) ? 1 : 0;
}
