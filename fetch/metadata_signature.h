// The signature of script metadata: RSA PKCS #1 v1.5 with SHA-256 over a
// fixed context text followed by the metadata's body, and the SHA-256 of
// files that the metadata lists. Over OpenSSL directly: the crypto library
// record offers neither SHA-256 signatures nor a context.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// Bytes of a SHA-256 digest.
constexpr int kUpdSha256Size = 32;
using UpdSha256Digest = std::array<unsigned char, kUpdSha256Size>;

// The context that precedes the body in every signed message: a text no
// package signature covers (those sign a raw 20-byte SHA-1 digest with
// SHA-1), ended by a zero byte that no metadata body holds.
extern const char kUpdMetadataContext[];

// The message a metadata signature covers: the context text, one zero
// byte, then `body`.
std::string UpdMetadataSignedMessage(const std::string& body);

// Signs the metadata `body` with the unencrypted RSA private key in the PEM
// file `private_key_file` (2,048 to 4,096 bits). 0 with the signature bytes
// in *sig, or -1 with a reason in *error.
int UpdMetadataSign(const char* private_key_file, const std::string& body, std::vector<unsigned char>* sig,
                    std::string* error);

// 1 when `sig` is a valid signature of `body` by the RSA public key in
// `public_pem` (SubjectPublicKeyInfo PEM), else 0.
int UpdMetadataVerifyWith(const char* public_pem, const std::string& body, const std::vector<unsigned char>& sig);

// The index of the first compiled-in key whose signature of `body` `sig`
// is, or -1 when none verifies it.
int UpdMetadataVerify(const std::string& body, const std::vector<unsigned char>& sig);

// SHA-256 of `data`.
UpdSha256Digest UpdSha256(const std::string& data);

// SHA-256 and length in bytes of the file at `path`. 0, or -1 when it
// cannot be read.
int UpdFileSha256(const char* path, UpdSha256Digest* digest, int64_t* length);
