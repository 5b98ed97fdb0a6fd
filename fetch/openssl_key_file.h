// OpenSSL helpers of the publisher's key handling: a private key read from
// a PEM file, and OpenSSL's last error as text.
#pragma once

#include <openssl/evp.h>
#include <string>

// OpenSSL's last error as "<what>: <reason>" (just `what` when the queue is
// empty); the queue is cleared.
std::string UpdOpenSslError(const char* what);

// Reads the private key of a PEM file: the key (the caller frees it), or
// null with the reason in *error ("cannot read <path>" or OpenSSL's).
EVP_PKEY* UpdReadPrivateKeyFile(const char* path, std::string* error);
