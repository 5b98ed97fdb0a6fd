// A private key read from a PEM file, and OpenSSL's last error as text.
#include "fetch/openssl_key_file.h"

#include <cstdio>
#include <openssl/err.h>
#include <openssl/pem.h>

#include "platform/file.h"

std::string UpdOpenSslError(const char* what) {
  unsigned long code = ERR_get_error();
  char buf[256];
  ERR_error_string_n(code, buf, sizeof buf);
  ERR_clear_error();
  return std::string(what) + (code ? std::string(": ") + buf : std::string());
}

EVP_PKEY* UpdReadPrivateKeyFile(const char* path, std::string* error) {
  FILE* f = PlatFileOpen(path, "rb");
  if (!f) {
    *error = std::string("cannot read ") + path;
    return nullptr;
  }
  EVP_PKEY* pkey = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
  std::fclose(f);
  if (!pkey) *error = UpdOpenSslError("reading the private key failed");
  return pkey;
}
