// Generation of a signing key pair for the publisher's command: OpenSSL's
// key generation, which the crypto library record does not offer.
#pragma once

#include <string>

// Smallest and largest RSA key sizes offered: a signature of more than 4,096
// bits would not fit the signature line that the service reads.
constexpr int kUpdKeyBitsMin = 2048;
constexpr int kUpdKeyBitsMax = 4096;

// Generates an RSA key pair of `bits` (kUpdKeyBitsMin..kUpdKeyBitsMax, public
// exponent 65537): the private key as unencrypted PKCS #8 PEM ("BEGIN
// PRIVATE KEY"), the public key as SubjectPublicKeyInfo PEM ("BEGIN PUBLIC
// KEY"). 0, or -1 with a reason in *error.
int UpdGenerateKeyPair(int bits, std::string* private_pem, std::string* public_pem, std::string* error);

// The public half (SubjectPublicKeyInfo PEM) of the unencrypted private key
// in the PEM file `path`. 0, or -1 with a reason in *error.
int UpdPublicKeyOfPrivateFile(const char* path, std::string* public_pem, std::string* error);

// 1 when two PEM texts hold the same text, apart from CR and the blanks and
// line breaks around it; else 0.
int UpdSamePem(const std::string& a, const std::string& b);
