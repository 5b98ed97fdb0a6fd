// RVCryptoInit: the library's entry point. Fills the record a caller hands
// in, seeds the random generator and makes the ciphers and digests available.
#include <openssl/crypto.h>
#include <openssl/provider.h>
#include <openssl/rand.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <vector>

#include "crypto/crypto_lib.h"
#include "crypto/crypto_slots.h"

namespace {

std::once_flag g_providers_once;             // the providers are loaded once per library copy
int g_providers_status = -1;                 // 0 once "default" is loaded
OSSL_PROVIDER* g_default_provider = nullptr; // this library's load of "default"
OSSL_PROVIDER* g_legacy_provider = nullptr;  // this library's load of "legacy"

// Gives back this library's loads of the providers at process exit (or when
// the library module is unloaded), before OpenSSL's own clean-up runs.
void UnloadProviders() {
  if (g_legacy_provider) OSSL_PROVIDER_unload(g_legacy_provider);
  if (g_default_provider) OSSL_PROVIDER_unload(g_default_provider);
  g_legacy_provider = nullptr;
  g_default_provider = nullptr;
}

// seed_prng: mixes the time and the addresses of a run of heap blocks into
// the record's pool and feeds the pool to OpenSSL's generator. 0, or -1 when
// a block could not be allocated.
int SeedPrng(RVCryptoLib* lib) {
  int64_t now = static_cast<int64_t>(std::time(nullptr));
  RAND_seed(&now, sizeof now);
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
  RAND_seed(lib->seed, static_cast<int>(sizeof lib->seed));
  return 0;
}

}  // namespace

int CryptoLibLoadProviders() {
  std::call_once(g_providers_once, [] {
    // Loading a provider by name stops OpenSSL from loading "default" on its
    // own, so both are loaded; they stay loaded for the life of the process.
    // Without "legacy" only Blowfish, CAST5 and DES are missing.
    g_default_provider = OSSL_PROVIDER_load(nullptr, "default");
    g_legacy_provider = OSSL_PROVIDER_load(nullptr, "legacy");
    // Registered after OpenSSL's initialisation, so it runs before its clean-up.
    std::atexit(UnloadProviders);
    g_providers_status = g_default_provider ? 0 : -1;
  });
  return g_providers_status;
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

  CryptoLibLoadProviders();
  if (SeedPrng(lib) < 0) {
    std::fputs("RVCryptoInit() - seed_prng() - failed\n", stderr);
    return -1;
  }
  OPENSSL_init_crypto(OPENSSL_INIT_ADD_ALL_CIPHERS | OPENSSL_INIT_ADD_ALL_DIGESTS, nullptr);
  OPENSSL_init_crypto(OPENSSL_INIT_ADD_ALL_CIPHERS, nullptr);
  OPENSSL_init_crypto(OPENSSL_INIT_ADD_ALL_DIGESTS, nullptr);
  return 0;
}
