// The signature check of install files and their download: every install
// file of the work list is fetched (unless a verified copy is present) with
// its detached signature and verified against the compiled-in public key.
#pragma once

// The signature file of the entry being worked on, in the current (work)
// directory.
inline constexpr const char kUpdSignatureFile[] = "sig.txt";

// Derives the local name of an install file into `out` (261 bytes): the
// name normalised as UpdFetchFile does, then its part after the last "/".
// -1 when that part is empty, "." or "..": such a name cannot be stored in
// the work directory.
int UpdLocalFileName(const char* install_file, char* out);

// 0 when the first line of "sig.txt" is the Base64 of a valid signature of
// `local_file`: RSA PKCS #1 v1.5 with SHA-1 over the file's 20-byte SHA-1
// digest, checked with each compiled-in public key in turn. -1 otherwise; failures
// to read or decode are logged, an invalid signature is not.
int UpdVerifySignature(const char* local_file);
