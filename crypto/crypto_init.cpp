// RVCryptoInit: the library's entry point. Fills the record a caller hands
// in and fills its entropy pool; what OpenSSL costs (its configuration, the
// providers, the random generator, the name tables) is paid on first use.
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/provider.h>
#include <openssl/rand.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <vector>

#include "crypto/crypto_lib.h"
#include "crypto/crypto_slots.h"

namespace {

constexpr size_t kPoolSize = sizeof(RVCryptoLib::seed); // the record's entropy pool

std::once_flag g_legacy_once;                // "legacy" is loaded once per library copy
int g_legacy_status = -1;                    // 0 once "default" and "legacy" are loaded
OSSL_PROVIDER* g_default_provider = nullptr; // this library's load of "default"
OSSL_PROVIDER* g_legacy_provider = nullptr;  // this library's load of "legacy"

// The seed waiting for OpenSSL's generator: RVCryptoInit fills the record's
// pool without touching OpenSSL, the first use of randomness feeds it.
std::mutex g_seed_lock;                      // guards the fields below
bool g_generator_started = false;            // the generator has had the pools so far
bool g_seed_waiting = false;                 // g_waiting_* hold a seed not yet fed
int64_t g_waiting_time = 0;                  // the time of the initialisation
unsigned char g_waiting_pool[kPoolSize];     // a copy of the record's pool
std::once_flag g_tables_once;                // the cipher and digest name tables

// Gives back this library's loads of the providers at process exit (or when
// the library module is unloaded), before OpenSSL's own clean-up runs.
void UnloadProviders() {
  if (g_legacy_provider) OSSL_PROVIDER_unload(g_legacy_provider);
  if (g_default_provider) OSSL_PROVIDER_unload(g_default_provider);
  g_legacy_provider = nullptr;
  g_default_provider = nullptr;
}

// Feeds the waiting seed to OpenSSL's generator: the time, then the pool.
// The caller holds g_seed_lock.
void FeedWaitingSeed() {
  if (!g_seed_waiting) return;
  RAND_seed(&g_waiting_time, sizeof g_waiting_time);
  RAND_seed(g_waiting_pool, static_cast<int>(sizeof g_waiting_pool));
  OPENSSL_cleanse(g_waiting_pool, sizeof g_waiting_pool);
  g_seed_waiting = false;
}

// seed_prng: mixes the addresses of a run of heap blocks into the record's
// pool, then hands the time and the pool to OpenSSL's generator: at once
// when it has started, otherwise on its first use. 0, or -1 when a block
// could not be allocated.
int SeedPrng(RVCryptoLib* lib) {
  int64_t now = static_cast<int64_t>(std::time(nullptr));
  if (lib->seed_len < 0) lib->seed_len = 0;
  const int32_t pool = static_cast<int32_t>(sizeof lib->seed);
  std::vector<void*> blocks;
  blocks.reserve(static_cast<size_t>(pool));
  int ok = 0;
  while (lib->seed_len < pool) {
    // The blocks grow by one byte each and all stay allocated until the end,
    // so every address is a new one.
    size_t size = static_cast<size_t>(lib->seed_len);
    void* block = std::calloc(1, size ? size : 1);
    if (!block) {
      ok = -1;
      break;
    }
    blocks.push_back(block);
    uintptr_t address = reinterpret_cast<uintptr_t>(block);
    unsigned sum = 0;
    for (int i = 0; i < 8; i++) sum += static_cast<unsigned>((address >> (8 * i)) & 0xFF);
    lib->seed[lib->seed_len] = static_cast<unsigned char>(lib->seed[lib->seed_len] + sum);
    lib->seed_len++;
  }
  for (void* block : blocks) std::free(block);
  if (ok < 0) return -1;
  std::lock_guard<std::mutex> g(g_seed_lock);
  g_waiting_time = now;
  std::memcpy(g_waiting_pool, lib->seed, sizeof g_waiting_pool);
  g_seed_waiting = true;
  if (g_generator_started) FeedWaitingSeed();
  return 0;
}

}  // namespace

int CryptoLibLoadLegacy() {
  std::call_once(g_legacy_once, [] {
    // Loading a provider by name stops OpenSSL from loading "default" on its
    // own, so both are loaded; they stay loaded for the life of the process.
    g_default_provider = OSSL_PROVIDER_load(nullptr, "default");
    g_legacy_provider = OSSL_PROVIDER_load(nullptr, "legacy");
    // Registered after OpenSSL's initialisation, so it runs before its clean-up.
    std::atexit(UnloadProviders);
    g_legacy_status = g_default_provider && g_legacy_provider ? 0 : -1;
  });
  return g_legacy_status;
}

EVP_CIPHER* CryptoLibFetchCipher(const char* name) {
  EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, name, nullptr);
  if (cipher) return cipher;
  ERR_clear_error();
  if (CryptoLibLoadLegacy() != 0) return nullptr;
  return EVP_CIPHER_fetch(nullptr, name, nullptr);
}

EVP_MD* CryptoLibFetchDigest(const char* name) {
  EVP_MD* md = EVP_MD_fetch(nullptr, name, nullptr);
  if (md) return md;
  ERR_clear_error();
  if (CryptoLibLoadLegacy() != 0) return nullptr;
  return EVP_MD_fetch(nullptr, name, nullptr);
}

void CryptoLibUseRandom() {
  std::lock_guard<std::mutex> g(g_seed_lock);
  g_generator_started = true;
  FeedWaitingSeed();
}

void CryptoLibUseNameTables() {
  std::call_once(g_tables_once, [] {
    OPENSSL_init_crypto(OPENSSL_INIT_ADD_ALL_CIPHERS | OPENSSL_INIT_ADD_ALL_DIGESTS, nullptr);
    OPENSSL_init_crypto(OPENSSL_INIT_ADD_ALL_CIPHERS, nullptr);
    OPENSSL_init_crypto(OPENSSL_INIT_ADD_ALL_DIGESTS, nullptr);
  });
}

extern "C" int RVCryptoInit(RVCryptoLib* lib) {
  if (!lib) return -1;
  lib->version = RV_CRYPTO_VERSION;
  lib->test = RVCryptoTest;
  lib->dh_params_read = CryptoLibDhParamsRead;
  lib->dh_params_generate = CryptoLibDhParamsGenerate;
  lib->dh_params_dup = CryptoLibDhParamsDup;
  lib->dh_generate_key = CryptoLibDhGenerateKey;
  lib->dh_compute_key = CryptoLibDhComputeKey;
  lib->dh_size = CryptoLibDhSize;
  lib->private_key_read_file = CryptoLibPrivateKeyReadFile;
  lib->private_key_read_mem = CryptoLibPrivateKeyReadMem;
  lib->public_key_read_file = CryptoLibPublicKeyReadFile;
  lib->public_key_read_mem = CryptoLibPublicKeyReadMem;
  lib->key_free = CryptoLibKeyFree;
  lib->key_to_text = CryptoLibKeyToText;
  lib->key_from_text = CryptoLibKeyFromText;
  lib->sign = CryptoLibSign;
  lib->verify = CryptoLibVerify;
  lib->cipher_encrypt_init = CryptoLibCipherEncryptInit;
  lib->cipher_decrypt_init = CryptoLibCipherDecryptInit;
  lib->cipher_encrypt = CryptoLibCipherEncrypt;
  lib->cipher_decrypt = CryptoLibCipherDecrypt;
  lib->cipher_free = CryptoLibCipherFree;
  lib->rand_bytes = CryptoLibRandBytes;
  lib->rand_add = CryptoLibRandAdd;
  lib->digest_mem = CryptoLibDigestMem;
  lib->digest_file = CryptoLibDigestFile;
  lib->b64_encode = CryptoLibB64Encode;
  lib->b64_decode = CryptoLibB64Decode;
  lib->mem_free = CryptoLibMemFree;

  // A caller with an older, shorter record gets nothing past its end.
  if (lib->caller_version > RV_CRYPTO_V_STREAMING) {
    lib->cipher_setup = CryptoLibCipherSetup;
    lib->cipher_encrypt_update = CryptoLibCipherEncryptUpdate;
    lib->cipher_encrypt_final = CryptoLibCipherEncryptFinal;
    lib->cipher_decrypt_update = CryptoLibCipherDecryptUpdate;
    lib->cipher_decrypt_final = CryptoLibCipherDecryptFinal;
    lib->rsa_private_encrypt = CryptoLibRsaPrivateEncrypt;
    lib->rsa_public_encrypt = CryptoLibRsaPublicEncrypt;
    lib->rsa_private_decrypt = CryptoLibRsaPrivateDecrypt;
    lib->rsa_public_decrypt = CryptoLibRsaPublicDecrypt;
    lib->b64_encode_ctx_new = CryptoLibB64EncodeCtxNew;
    lib->b64_encode_update = CryptoLibB64EncodeUpdate;
    lib->b64_encode_final = CryptoLibB64EncodeFinal;
    lib->b64_decode_ctx_new = CryptoLibB64DecodeCtxNew;
    lib->b64_decode_update = CryptoLibB64DecodeUpdate;
    lib->b64_decode_final = CryptoLibB64DecodeFinal;
  }
  if (lib->caller_version > RV_CRYPTO_V_DERIVE) lib->cipher_derive_key = CryptoLibCipherDeriveKey;
  if (lib->caller_version > RV_CRYPTO_V_HMAC) lib->hmac_key_new = CryptoLibHmacKeyNew;

  // Nothing of OpenSSL is started here: its configuration, providers,
  // generator and name tables come with their first use.
  if (SeedPrng(lib) < 0) {
    std::fputs("RVCryptoInit() - seed_prng() - failed\n", stderr);
    return -1;
  }
  return 0;
}
