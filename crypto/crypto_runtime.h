// The runtime side of the crypto library: the process's global record and
// its two bindings (in-process and loaded module), the crypto library mutex,
// key objects and the operations on the global record.
//
// Callers never call OpenSSL for these services: they take the crypto
// library mutex immediately before a slot call on the global record and
// release it immediately after (RVCryptoGuard), or use the operations below,
// which do so themselves.
#pragma once

#include <cstdint>

#include "crypto/crypto_lib.h"

// File names the loaded-module binding looks for in `lib_dir`: the library
// module and OpenSSL's own library, which the module needs.
extern const char* const RV_CRYPTO_MODULE_FILE;
extern const char* const RV_CRYPTO_OPENSSL_FILE;

// A key object of the runtime (owned by the runtime; made by
// RVCryptoKeyFromText or by its users, freed by RVCryptoKeyFree).
struct RVCryptoKey {
  uint32_t type;         // key type 1-4 (RV_CRYPTO_*)
  void* key;             // the library key
  char* key_file;        // PEM file of the key; used instead of key_pem when set
  char* key_pem;         // PEM text of the key
  char* key_text;        // text form, made by key_to_text when first needed; freed with mem_free
  int32_t secret_len;    // length of secret
  unsigned char* secret; // Diffie-Hellman shared secret; wiped before it is freed
  char* digest_name;     // OpenSSL digest name for sign and verify; null or empty = the default
};

// In-process binding, run once at program start before anything else uses
// cryptography: loads the runtime settings, creates the crypto library mutex
// and the global record and fills it with the linked-in RVCryptoInit. 0, or
// -1 after reporting ("Error Allocating tqcrypto Mutex", "RVCryptoInitLib()
// RVCryptoInit() failed"). Later calls return the first one's status.
int RVCryptoInitLib();

// The same binding without the runtime settings: no installation discovery,
// no directory or named object made. For programs that need nothing but the
// crypto library record (the publisher's command).
int RVCryptoInitLibBare();

// Loaded-module binding: when neither binding has been tried yet, loads
// OpenSSL's library and the library module from `lib_dir` and fills the
// global record with the module's RVCryptoInit. Otherwise returns the status
// of the binding tried first. 0 when the library is usable, else -1 after
// reporting.
int RVCryptoLoadLib();

// The global record once a binding succeeded, else null.
RVCryptoLib* RVCryptoGetLib();

// Takes the crypto library mutex: 0 when held (release with RVCryptoUnlock),
// -1 when there is none or it could not be taken.
int RVCryptoLock();

// Releases the crypto library mutex taken by RVCryptoLock.
void RVCryptoUnlock();

// Holds the crypto library mutex for one scope (when it could be taken).
class RVCryptoGuard {
 public:
  RVCryptoGuard() : held_(RVCryptoLock() == 0) {}
  ~RVCryptoGuard() {
    if (held_) RVCryptoUnlock();
  }
  RVCryptoGuard(const RVCryptoGuard&) = delete;
  RVCryptoGuard& operator=(const RVCryptoGuard&) = delete;

 private:
  bool held_;  // true when RVCryptoLock succeeded
};

// Key object from "<type word> <key text>": the type word (at most 15
// characters, up to the first space) is "tq-rsa", "tq-dsa" or "tq-dh" in any
// case; the rest goes to key_from_text. A new key object or null.
RVCryptoKey* RVCryptoKeyFromText(const char* text);

// The key's text form, made by key_to_text when first needed and kept in
// key_text; null when it cannot be made.
const char* RVCryptoKeyText(RVCryptoKey* key);

// Computes the Diffie-Hellman shared secret of two DH key objects into
// own->secret (any old secret wiped and freed first). 0 or -1.
int RVCryptoSharedSecret(RVCryptoKey* own, RVCryptoKey* peer);

// Frees the library key of a key object of type 1-4 and clears `key`.
void RVCryptoKeyRelease(RVCryptoKey* key);

// Releases the key, frees the PEM file name and text, wipes and frees the
// secret, frees the digest name and key text, and wipes and frees the object.
void RVCryptoKeyFree(RVCryptoKey* key);

// Random bytes from the library; 0 or -1.
int RVCryptoRandBytes(unsigned char* buf, int count);

// Adds entropy to the library's generator.
void RVCryptoRandAdd(const void* buf, int count, double entropy);

// Sets up a cipher context (cipher_setup); nothing for algorithm 1. 0 or -1.
int RVCryptoCipherStart(RVCryptoCipher* c);

// Encrypts a buffer in place (room for one more block needed); algorithm 1
// returns the length unchanged. The output length or -1.
int RVCryptoEncryptBuf(RVCryptoCipher* c, unsigned char* buf, int len);

// Decrypts a buffer in place; algorithm 1 returns the length unchanged. The
// output length or -1.
int RVCryptoDecryptBuf(RVCryptoCipher* c, unsigned char* buf, int len);

// Releases a cipher context made by RVAlloc: frees its OpenSSL state, wipes
// and frees key and passphrase, wipes and frees the context.
void RVCryptoCipherFree(RVCryptoCipher* c);
