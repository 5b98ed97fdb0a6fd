// Helpers shared by the crypto tests.
#include "tests/crypto/crypto_test_util.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/child.h"

RVCryptoLib* SlotLib() {
  static RVCryptoLib* lib = [] {
    static RVCryptoLib record{};
    record.caller_version = RV_CRYPTO_VERSION;
    return RVCryptoInit(&record) == 0 ? &record : nullptr;
  }();
  return lib;
}

std::string Hex(const unsigned char* data, size_t len) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < len; i++) {
    out.push_back(digits[data[i] >> 4]);
    out.push_back(digits[data[i] & 15]);
  }
  return out;
}

std::string Hex(const std::vector<unsigned char>& data) { return Hex(data.data(), data.size()); }

std::vector<unsigned char> Unhex(const std::string& hex) {
  std::vector<unsigned char> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

namespace {

KeyFiles MakeKeyFiles() {
  char tmpl[] = "/tmp/tqcrypto-keys-XXXXXX";
  const char* dir = ::mkdtemp(tmpl);
  if (!dir) throw std::runtime_error("mkdtemp failed");
  KeyFiles k;
  k.dir = dir;
  k.rsa_private = k.dir + "/rsa.pem";
  k.rsa_public = k.dir + "/rsa-pub.pem";
  k.dsa_private = k.dir + "/dsa.pem";
  k.dsa_public = k.dir + "/dsa-pub.pem";
  k.dh_params = k.dir + "/dh.pem";
  const std::string d = "'" + k.dir + "'";
  const char* steps[] = {
      "openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -aes-128-cbc -pass pass:sesame -out rsa.pem",
      "openssl pkey -in rsa.pem -passin pass:sesame -pubout -out rsa-pub.pem",
      "openssl genpkey -genparam -algorithm DSA -pkeyopt dsa_paramgen_bits:2048 -out dsa-param.pem",
      "openssl genpkey -paramfile dsa-param.pem -out dsa.pem",
      "openssl pkey -in dsa.pem -pubout -out dsa-pub.pem",
      "openssl genpkey -genparam -algorithm DH -pkeyopt dh_paramgen_prime_len:1024 -out dh.pem",
  };
  for (const char* step : steps) {
    std::string out;
    if (TqRunCommand("cd " + d + " && " + step, &out) != 0) throw std::runtime_error(std::string(step) + ": " + out);
  }
  return k;
}

// Removes the key directory when the test program ends.
struct KeyFilesHolder {
  KeyFiles files = MakeKeyFiles();
  ~KeyFilesHolder() {
    std::error_code ec;
    std::filesystem::remove_all(files.dir, ec);
  }
};

}  // namespace

const KeyFiles& TestKeyFiles() {
  static KeyFilesHolder holder;
  return holder.files;
}
