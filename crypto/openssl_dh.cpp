// Diffie-Hellman slots: parameters from PEM files or generated, key pairs,
// shared secrets.
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/dh.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/pem.h>

#include <cstdio>

#include "crypto/crypto_slots.h"
#include "crypto/openssl_key.h"

namespace {

enum {
  DH_BITS_PRIME = 0x01,           // p is not prime
  DH_BITS_SAFE_PRIME = 0x02,      // p is not a safe prime
  DH_BITS_CHECK_GENERATOR = 0x04, // the generator could not be checked
  DH_BITS_GENERATOR = 0x08,       // the generator is unsuitable
};

// The four parameter checks of generated parameters: p prime, (p - 1) / 2
// prime, and 1 < g < p - 1 (for a safe prime every such g generates a
// subgroup of order (p - 1) / 2 or p - 1). Returns the bits of the failed checks.
int CheckParams(const EVP_PKEY* params) {
  BIGNUM* p = nullptr;
  BIGNUM* g = nullptr;
  BIGNUM* q = BN_new();
  BIGNUM* pm1 = BN_new();
  BN_CTX* bctx = BN_CTX_new();
  int bits = 0;
  if (!q || !pm1 || !bctx || EVP_PKEY_get_bn_param(params, OSSL_PKEY_PARAM_FFC_P, &p) != 1 ||
      EVP_PKEY_get_bn_param(params, OSSL_PKEY_PARAM_FFC_G, &g) != 1) {
    bits = DH_BITS_PRIME | DH_BITS_CHECK_GENERATOR;
  } else {
    if (BN_check_prime(p, bctx, nullptr) != 1) bits |= DH_BITS_PRIME;
    if (BN_rshift1(q, p) != 1 || BN_check_prime(q, bctx, nullptr) != 1) bits |= DH_BITS_SAFE_PRIME;
    if (!BN_copy(pm1, p) || BN_sub_word(pm1, 1) != 1) bits |= DH_BITS_CHECK_GENERATOR;
    else if (BN_cmp(g, BN_value_one()) <= 0 || BN_cmp(g, pm1) >= 0) bits |= DH_BITS_GENERATOR;
  }
  BN_free(p);
  BN_free(g);
  BN_free(q);
  BN_free(pm1);
  BN_CTX_free(bctx);
  return bits;
}

// A new DH object holding only the parameters p and g (no q, no key pair).
EVP_PKEY* DhFromNumbers(const BIGNUM* p, const BIGNUM* g) {
  OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
  OSSL_PARAM* params = nullptr;
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "DH", nullptr);
  EVP_PKEY* pkey = nullptr;
  if (bld && ctx && OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_FFC_P, p) == 1 &&
      OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_FFC_G, g) == 1 && (params = OSSL_PARAM_BLD_to_param(bld)) &&
      EVP_PKEY_fromdata_init(ctx) == 1)
    EVP_PKEY_fromdata(ctx, &pkey, EVP_PKEY_KEY_PARAMETERS, params);
  OSSL_PARAM_free(params);
  OSSL_PARAM_BLD_free(bld);
  EVP_PKEY_CTX_free(ctx);
  return pkey;
}

}  // namespace

void* CryptoLibDhParamsRead(const char* file) {
  BIO* bio = file ? BIO_new_file(file, "r") : nullptr;
  if (!bio) {
    ERR_clear_error();
    std::fprintf(stderr, "BIO_new_file(%s) - returns NULL\n", file ? file : "(null)");
    return nullptr;
  }
  EVP_PKEY* pkey = PEM_read_bio_Parameters(bio, nullptr);
  BIO_free(bio);
  if (pkey && EVP_PKEY_is_a(pkey, "DH") != 1) {
    EVP_PKEY_free(pkey);
    pkey = nullptr;
  }
  ERR_clear_error();
  if (!pkey) {
    std::fputs("_bioreaddhparams() - PEM_read_bio_DHparams() returns NULL\n", stderr);
    return nullptr;
  }
  return CryptoLibKeyWrap(RV_CRYPTO_DH, pkey);
}

void* CryptoLibDhParamsGenerate(int prime_bits, int generator) {
  CryptoLibUseRandom();
  for (int attempt = 0; attempt < 10; attempt++) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "DH", nullptr);
    EVP_PKEY* params = nullptr;
    // A "DH" context generates a safe prime with the generator given.
    if (ctx && EVP_PKEY_paramgen_init(ctx) == 1 && EVP_PKEY_CTX_set_dh_paramgen_prime_len(ctx, prime_bits) == 1 &&
        EVP_PKEY_CTX_set_dh_paramgen_generator(ctx, generator) == 1)
      EVP_PKEY_paramgen(ctx, &params);
    EVP_PKEY_CTX_free(ctx);
    ERR_clear_error();
    if (params && CheckParams(params) == 0) return CryptoLibKeyWrap(RV_CRYPTO_DH, params);
    EVP_PKEY_free(params);
  }
  return nullptr;
}

void* CryptoLibDhParamsDup(void* dh) {
  EVP_PKEY* src = CryptoLibKeyGet(dh, RV_CRYPTO_DH);
  if (!src) return nullptr;
  BIGNUM* p = nullptr;
  BIGNUM* g = nullptr;
  EVP_PKEY* pkey = nullptr;
  if (EVP_PKEY_get_bn_param(src, OSSL_PKEY_PARAM_FFC_P, &p) == 1 &&
      EVP_PKEY_get_bn_param(src, OSSL_PKEY_PARAM_FFC_G, &g) == 1)
    pkey = DhFromNumbers(p, g);
  BN_free(p);
  BN_free(g);
  ERR_clear_error();
  return CryptoLibKeyWrap(RV_CRYPTO_DH, pkey);
}

// Gives the DH handle a new key pair over its parameters.
int CryptoLibDhGenerateKey(void* dh, int type) {
  CryptoLibKey* key = static_cast<CryptoLibKey*>(dh);
  if (type != RV_CRYPTO_DH || !CryptoLibKeyGet(dh, type)) return -1;
  CryptoLibUseRandom();
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key->pkey, nullptr);
  EVP_PKEY* pair = nullptr;
  if (ctx && EVP_PKEY_keygen_init(ctx) == 1) EVP_PKEY_keygen(ctx, &pair);
  EVP_PKEY_CTX_free(ctx);
  if (!pair) {
    ERR_clear_error();
    return -1;
  }
  EVP_PKEY_free(key->pkey);
  key->pkey = pair;
  return 0;
}

// `out` needs dh_size bytes; the secret is never longer.
int CryptoLibDhComputeKey(void* own, void* peer, unsigned char* out, int type) {
  EVP_PKEY* mine = type == RV_CRYPTO_DH ? CryptoLibKeyGet(own, type) : nullptr;
  EVP_PKEY* theirs = type == RV_CRYPTO_DH ? CryptoLibKeyGet(peer, type) : nullptr;
  if (!mine || !theirs || !out) return -1;
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, mine, nullptr);
  int result = -1;
  size_t len = 0;
  size_t room = static_cast<size_t>(EVP_PKEY_get_size(mine));
  if (ctx && EVP_PKEY_derive_init(ctx) == 1 && EVP_PKEY_derive_set_peer(ctx, theirs) == 1 &&
      EVP_PKEY_derive(ctx, nullptr, &len) == 1 && len <= room && EVP_PKEY_derive(ctx, out, &len) == 1)
    result = static_cast<int>(len);
  EVP_PKEY_CTX_free(ctx);
  if (result < 0) ERR_clear_error();
  return result;
}

int CryptoLibDhSize(void* dh, int type) {
  EVP_PKEY* pkey = type == RV_CRYPTO_DH ? CryptoLibKeyGet(dh, type) : nullptr;
  if (!pkey) return -1;
  int size = EVP_PKEY_get_size(pkey);
  return size > 0 ? size : -1;
}
