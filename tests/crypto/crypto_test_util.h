// Helpers shared by the crypto tests.
#pragma once

#include <string>
#include <vector>

#include "crypto/crypto_lib.h"

// A record filled by the linked-in RVCryptoInit (once per process), for
// tests of the slots themselves.
RVCryptoLib* SlotLib();

// Lower-case hexadecimal of bytes, and back.
std::string Hex(const unsigned char* data, size_t len);
std::string Hex(const std::vector<unsigned char>& data);
std::vector<unsigned char> Unhex(const std::string& hex);

// PEM files made once per test program by the `openssl` command in a
// temporary directory (removed at exit): an RSA-2048 private key encrypted
// with the passphrase "sesame" and its public key, a DSA-2048 key pair, and
// DH parameters.
struct KeyFiles {
  std::string dir;         // the directory
  std::string rsa_private; // encrypted PKCS #8 RSA private key
  std::string rsa_public;  // SubjectPublicKeyInfo of the RSA key
  std::string dsa_private; // unencrypted DSA private key
  std::string dsa_public;  // SubjectPublicKeyInfo of the DSA key
  std::string dh_params;   // "DH PARAMETERS" of a generated 1024-bit group
};
const KeyFiles& TestKeyFiles();

// The passphrase of KeyFiles::rsa_private.
inline const char* kRsaPassphrase = "sesame";

// Reads a whole file ("" when missing).
std::string ReadWholeFile(const std::string& path);
