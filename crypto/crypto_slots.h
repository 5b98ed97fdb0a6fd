// The functions behind the slots of the crypto library record, over
// OpenSSL's libcrypto. Internal to the library (the in-process binding and
// the library module both build them); callers go through RVCryptoLib.
// Each function's contract is the slot's, described in crypto/crypto_lib.h.
#pragma once

#include <openssl/types.h>

#include "crypto/crypto_lib.h"

// Digests (openssl_digest.cpp).
int CryptoLibDigestMem(const void* data, int len, unsigned char* out, int type);
int CryptoLibDigestFile(const char* file, unsigned char* out, int type);

// Base64, whole texts and streaming (base64.cpp).
int CryptoLibB64Encode(const unsigned char* data, int len, char* out);
int CryptoLibB64Decode(const char* text, unsigned char* out);
void* CryptoLibB64EncodeCtxNew();
int CryptoLibB64EncodeUpdate(void* ctx, const unsigned char* in, unsigned char* out, int len);
int CryptoLibB64EncodeFinal(void* ctx, unsigned char* out);
void* CryptoLibB64DecodeCtxNew();
int CryptoLibB64DecodeUpdate(void* ctx, const unsigned char* in, unsigned char* out, int len);
int CryptoLibB64DecodeFinal(void* ctx, unsigned char* out);

// Cipher contexts (openssl_cipher.cpp).
int CryptoLibCipherSetup(RVCryptoCipher* c);
int CryptoLibCipherEncryptInit(RVCryptoCipher* c);
int CryptoLibCipherDecryptInit(RVCryptoCipher* c);
int CryptoLibCipherEncrypt(RVCryptoCipher* c, unsigned char* buf, int len);
int CryptoLibCipherDecrypt(RVCryptoCipher* c, unsigned char* buf, int len);
int CryptoLibCipherEncryptUpdate(RVCryptoCipher* c, const unsigned char* in, unsigned char* out, int len);
int CryptoLibCipherEncryptFinal(RVCryptoCipher* c, unsigned char* out);
int CryptoLibCipherDecryptUpdate(RVCryptoCipher* c, const unsigned char* in, unsigned char* out, int len);
int CryptoLibCipherDecryptFinal(RVCryptoCipher* c, unsigned char* out);
int CryptoLibCipherFree(RVCryptoCipher* c);
int CryptoLibCipherDeriveKey(RVCryptoCipher* c);

// Key reading and release (openssl_keys.cpp).
void* CryptoLibPrivateKeyReadFile(const char* file, const char* passphrase, int type);
void* CryptoLibPrivateKeyReadMem(const char* pem, const char* passphrase, int type);
void* CryptoLibPublicKeyReadFile(const char* file, int type);
void* CryptoLibPublicKeyReadMem(const char* pem, int type);
int CryptoLibKeyFree(void* key, int type);
void* CryptoLibHmacKeyNew(const unsigned char* key, int len);

// Key text form (key_text.cpp); mem_free releases the texts.
char* CryptoLibKeyToText(void* key, int type);
void* CryptoLibKeyFromText(const char* text, int type);
void CryptoLibMemFree(void* p);

// Signatures (openssl_sign.cpp).
int CryptoLibSign(void* key, const unsigned char* data, int len, unsigned char* sig, int type,
                  const char* digest_name);
int CryptoLibVerify(void* key, const unsigned char* data, int len, const unsigned char* sig, int sig_len,
                    int type, const char* digest_name);

// Raw RSA with padding code 4 (openssl_rsa_raw.cpp).
int CryptoLibRsaPrivateEncrypt(void* key, int type, int len, const unsigned char* in, unsigned char* out);
int CryptoLibRsaPublicEncrypt(void* key, int type, int len, const unsigned char* in, unsigned char* out);
int CryptoLibRsaPrivateDecrypt(void* key, int type, int len, const unsigned char* in, unsigned char* out);
int CryptoLibRsaPublicDecrypt(void* key, int type, int len, const unsigned char* in, unsigned char* out);

// Diffie-Hellman (openssl_dh.cpp).
void* CryptoLibDhParamsRead(const char* file);
void* CryptoLibDhParamsGenerate(int prime_bits, int generator);
void* CryptoLibDhParamsDup(void* dh);
int CryptoLibDhGenerateKey(void* dh, int type);
int CryptoLibDhComputeKey(void* own, void* peer, unsigned char* out, int type);
int CryptoLibDhSize(void* dh, int type);

// Random numbers (openssl_rand.cpp).
int CryptoLibRandBytes(unsigned char* buf, int count);
void CryptoLibRandAdd(const void* buf, int count, double entropy);

// Makes the "legacy" provider (Blowfish, CAST5, single DES and other old
// algorithms) available beside "default", once per library copy; called
// before the first algorithm "default" lacks. 0, or -1 when either failed.
int CryptoLibLoadLegacy();

// The cipher or digest of an OpenSSL name, from "default" or, when that has
// none, from "legacy" (loaded then); null when neither has it.
EVP_CIPHER* CryptoLibFetchCipher(const char* name);
EVP_MD* CryptoLibFetchDigest(const char* name);

// Called before a slot first draws on OpenSSL's random generator: hands it
// the seed RVCryptoInit prepared (once per initialisation).
void CryptoLibUseRandom();

// Called before a slot reads OpenSSL's cipher and digest name tables:
// registers all ciphers and digests (once per library copy).
void CryptoLibUseNameTables();
