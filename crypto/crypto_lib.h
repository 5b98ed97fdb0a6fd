// The crypto library record: every cryptographic service of the programs
// goes through this table of operations, filled by the library's entry point
// RVCryptoInit. The record is a binary interface between a caller and a
// possibly separately built library module, so its layout is fixed (x64,
// little-endian, 8-byte pointers): fields never move, new slots are only
// appended and only filled when the caller's version asks for them.
//
// Every slot reports failure by a null result or -1 and prints nothing (only
// RVCryptoInit and dh_params_read write to standard error). Keys handed out
// by the slots are opaque library objects of a key type; memory that a slot
// hands out is released with mem_free.
#pragma once

#include <cstddef>
#include <cstdint>

struct PlatModule;

// Interface versions: the library's own, and the thresholds above which a
// caller's record holds the later slots.
enum : int16_t {
  RV_CRYPTO_VERSION = 675,        // this library's interface version
  RV_CRYPTO_V_STREAMING = 502,    // above: cipher_setup ... b64_decode_final
  RV_CRYPTO_V_DERIVE = 504,       // above: cipher_derive_key
  RV_CRYPTO_V_HMAC = 602,         // above: hmac_key_new
};

// Key types (the `type` argument of the key slots and of RVCryptoKey).
enum : int {
  RV_CRYPTO_RSA = 1,  // RSA key
  RV_CRYPTO_DSA = 2,  // DSA key
  RV_CRYPTO_DH = 3,   // Diffie-Hellman parameters or key
  RV_CRYPTO_HMAC = 4, // MAC key for HMAC
};

// Digest types of digest_mem and digest_file.
enum : int {
  RV_DIGEST_SHA1 = 1,      // SHA-1, 20 bytes
  RV_DIGEST_RIPEMD160 = 2, // RIPEMD-160, 20 bytes
  RV_DIGEST_MD5 = 3,       // MD5, 16 bytes
  RV_DIGEST_SHA256 = 4,    // SHA-256, 32 bytes
  RV_DIGEST_SHA512 = 5,    // SHA-512, 64 bytes
  RV_DIGEST_MAX_LEN = 64,  // room for any digest
};

// Cipher algorithms of RVCryptoCipher.algorithm.
enum : int16_t {
  RV_CIPHER_NONE = 1,     // no encryption
  RV_CIPHER_BLOWFISH = 2, // Blowfish
  RV_CIPHER_CAST5 = 3,    // CAST5
  RV_CIPHER_AES = 4,      // AES, variant by key_len 16/24/32
  RV_CIPHER_DES = 5,      // single DES
  RV_CIPHER_3DES = 6,     // triple DES with three keys
};

enum : uint8_t {
  RV_CIPHER_FLAG_SALT = 0x2, // RVCryptoCipher.salt is present for cipher_derive_key
};

enum : int {
  RV_CRYPTO_MAX_NUMBER = 4096,   // bytes of one number of a key text
  RV_CRYPTO_MAX_KEY_TEXT = 4095, // characters of a key text
  RV_RSA_PADDING_OAEP = 4,       // padding code of the raw RSA slots
};

// A cipher context, owned by the caller and zero-filled at creation. `key`
// and `passphrase` live on the C heap (calloc/malloc) and belong to the
// context.
struct RVCryptoCipher {
  uint8_t flags;              // RV_CIPHER_FLAG_* bits
  int16_t algorithm;          // RV_CIPHER_* (1 none ... 6 triple DES)
  int16_t key_len;            // key length in bytes; for AES 16, 24 or 32; 0 = the cipher's own
  int16_t mode;               // 1-5, see the cipher selection table
  int16_t iv_len;             // IV length; 0 at setup = the cipher's, with a random base IV
  unsigned char* key;         // key bytes (key_len of them)
  char* passphrase;           // text for cipher_derive_key
  unsigned char iv[16];       // IV of the next encryption or decryption, set by the caller
  unsigned char reserved[16]; // zero
  unsigned char iv_base[32];  // base IV: random at setup, derived, or received from the peer
  unsigned char salt[8];      // salt for cipher_derive_key
  void* ctx;                  // the OpenSSL cipher context, made by cipher_setup
  void* cipher;               // the OpenSSL cipher chosen by cipher_setup
};

static_assert(offsetof(RVCryptoCipher, key) == 16);
static_assert(offsetof(RVCryptoCipher, iv) == 32);
static_assert(offsetof(RVCryptoCipher, iv_base) == 64);
static_assert(offsetof(RVCryptoCipher, salt) == 96);
static_assert(offsetof(RVCryptoCipher, cipher) == 112);

// The crypto library record. The caller zero-fills it and sets
// caller_version before RVCryptoInit.
struct RVCryptoLib {
  PlatModule* module; // the loaded library module; null in-process
  uint64_t flags;     // zero

  // The base slots, always filled.
  int (*test)(const char* text);                                // print the cipher list
  void* (*dh_params_read)(const char* file);                    // DH parameters from a PEM file
  void* (*dh_params_generate)(int prime_bits, int generator);   // new checked DH parameters
  void* (*dh_params_dup)(void* dh);                             // new DH key with a copy of p and g
  int (*dh_generate_key)(void* dh, int type);                   // make a DH key pair
  int (*dh_compute_key)(void* own, void* peer, unsigned char* out, int type); // shared secret length
  int (*dh_size)(void* dh, int type);                           // modulus size in bytes
  void* (*private_key_read_file)(const char* file, const char* passphrase, int type); // RSA/DSA
  void* (*private_key_read_mem)(const char* pem, const char* passphrase, int type);   // RSA/DSA
  void* (*public_key_read_file)(const char* file, int type);    // RSA/DSA public key
  void* (*public_key_read_mem)(const char* pem, int type);      // RSA/DSA public key
  int (*key_free)(void* key, int type);                         // free a key
  char* (*key_to_text)(void* key, int type);                    // key text form, free with mem_free
  void* (*key_from_text)(const char* text, int type);           // key from its text form
  int (*sign)(void* key, const unsigned char* data, int len, unsigned char* sig, int type,
              const char* digest_name);                         // signature length
  int (*verify)(void* key, const unsigned char* data, int len, const unsigned char* sig, int sig_len,
                int type, const char* digest_name);             // 0 when valid
  int (*cipher_encrypt_init)(RVCryptoCipher* c);                // (re)start encryption
  int (*cipher_decrypt_init)(RVCryptoCipher* c);                // (re)start decryption
  int (*cipher_encrypt)(RVCryptoCipher* c, unsigned char* buf, int len); // in place, output length
  int (*cipher_decrypt)(RVCryptoCipher* c, unsigned char* buf, int len); // in place, output length
  int (*cipher_free)(RVCryptoCipher* c);                        // release the OpenSSL state
  int (*rand_bytes)(unsigned char* buf, int count);             // random bytes
  void (*rand_add)(const void* buf, int count, double entropy); // add entropy
  int (*digest_mem)(const void* data, int len, unsigned char* out, int type); // digest length
  int (*digest_file)(const char* file, unsigned char* out, int type);         // digest length
  int (*b64_encode)(const unsigned char* data, int len, char* out);           // encoding length
  int (*b64_decode)(const char* text, unsigned char* out);                    // decoded length
  void (*mem_free)(void* p);                                    // free library memory

  int16_t version;        // the library's interface version, set by RVCryptoInit
  int16_t caller_version; // the caller's interface version
  unsigned char seed[1024]; // entropy pool of seed_prng
  int32_t seed_len;       // bytes of seed filled
  uint64_t reserved;      // zero

  // Filled when caller_version > RV_CRYPTO_V_STREAMING.
  int (*cipher_setup)(RVCryptoCipher* c);                       // choose the cipher, make the context
  int (*cipher_encrypt_update)(RVCryptoCipher* c, const unsigned char* in, unsigned char* out, int len);
  int (*cipher_encrypt_final)(RVCryptoCipher* c, unsigned char* out);
  int (*cipher_decrypt_update)(RVCryptoCipher* c, const unsigned char* in, unsigned char* out, int len);
  int (*cipher_decrypt_final)(RVCryptoCipher* c, unsigned char* out);
  int (*rsa_private_encrypt)(void* key, int type, int len, const unsigned char* in, unsigned char* out);
  int (*rsa_public_encrypt)(void* key, int type, int len, const unsigned char* in, unsigned char* out);
  int (*rsa_private_decrypt)(void* key, int type, int len, const unsigned char* in, unsigned char* out);
  int (*rsa_public_decrypt)(void* key, int type, int len, const unsigned char* in, unsigned char* out);
  void* (*b64_encode_ctx_new)();                                // streaming Base64 context
  int (*b64_encode_update)(void* ctx, const unsigned char* in, unsigned char* out, int len);
  int (*b64_encode_final)(void* ctx, unsigned char* out);       // also frees the context
  void* (*b64_decode_ctx_new)();                                // streaming Base64 context
  int (*b64_decode_update)(void* ctx, const unsigned char* in, unsigned char* out, int len);
  int (*b64_decode_final)(void* ctx, unsigned char* out);       // also frees the context
  // Filled when caller_version > RV_CRYPTO_V_DERIVE.
  int (*cipher_derive_key)(RVCryptoCipher* c);                  // key and base IV from the passphrase
  // Filled when caller_version > RV_CRYPTO_V_HMAC.
  void* (*hmac_key_new)(const unsigned char* key, int len);     // HMAC key (type 4)
};

static_assert(offsetof(RVCryptoLib, test) == 16);
static_assert(offsetof(RVCryptoLib, mem_free) == 16 + 27 * 8);
static_assert(offsetof(RVCryptoLib, version) == 240);
static_assert(offsetof(RVCryptoLib, caller_version) == 242);
static_assert(offsetof(RVCryptoLib, seed) == 244);
static_assert(offsetof(RVCryptoLib, seed_len) == 1268);
static_assert(offsetof(RVCryptoLib, reserved) == 1272);
static_assert(offsetof(RVCryptoLib, cipher_setup) == 1280);
static_assert(offsetof(RVCryptoLib, cipher_derive_key) == 1280 + 15 * 8);
static_assert(offsetof(RVCryptoLib, hmac_key_new) == 1280 + 16 * 8);
static_assert(sizeof(RVCryptoLib) == 1280 + 17 * 8);

// The library's entry point, exported by the library module under this name.
typedef int (*RVCryptoInitFn)(RVCryptoLib* lib);

// Fills `lib` up to what its caller_version holds, seeds the random
// generator and makes every cipher and digest available. 0, or -1 when
// seeding failed ("RVCryptoInit() - seed_prng() - failed\n" on standard error).
extern "C" __attribute__((visibility("default"))) int RVCryptoInit(RVCryptoLib* lib);

// The `test` slot: writes "RVCryptoTest(): %s\n", "Cipher Types\n" and every
// registered cipher name that begins with a lower-case letter as "-%-25s",
// three to a line, to standard output. Returns 0.
int RVCryptoTest(const char* text);
