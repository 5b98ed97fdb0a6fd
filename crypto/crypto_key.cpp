// Runtime key objects over the global crypto library record.
#include <cctype>
#include <cstring>

#include "crypto/crypto_runtime.h"
#include "crypto/wipe.h"
#include "runtime/alloc.h"

namespace {

// Key type of a type word ("tq-rsa", "tq-dsa", "tq-dh", any case), or 0.
int TypeOfWord(const char* word) {
  static const struct {
    const char* word; // the type word
    int type;         // its key type
  } kWords[] = {{"tq-rsa", RV_CRYPTO_RSA}, {"tq-dsa", RV_CRYPTO_DSA}, {"tq-dh", RV_CRYPTO_DH}};
  for (const auto& w : kWords) {
    size_t i = 0;
    while (w.word[i] && std::tolower(static_cast<unsigned char>(word[i])) == w.word[i]) i++;
    if (!w.word[i] && !word[i]) return w.type;
  }
  return 0;
}

}  // namespace

RVCryptoKey* RVCryptoKeyFromText(const char* text) {
  RVCryptoLib* lib = RVCryptoGetLib();
  if (!lib || !text) return nullptr;
  const char* space = std::strchr(text, ' ');
  size_t word_len = space ? static_cast<size_t>(space - text) : std::strlen(text);
  if (!space || word_len == 0 || word_len > 15) return nullptr;
  char word[16];
  std::memcpy(word, text, word_len);
  word[word_len] = '\0';
  int type = TypeOfWord(word);
  if (!type) return nullptr;
  void* k;
  {
    RVCryptoGuard guard;
    k = lib->key_from_text(space + 1, type);
  }
  if (!k) return nullptr;
  RVCryptoKey* key = RVAllocRecord<RVCryptoKey>();
  key->type = static_cast<uint32_t>(type);
  key->key = k;
  return key;
}

const char* RVCryptoKeyText(RVCryptoKey* key) {
  RVCryptoLib* lib = RVCryptoGetLib();
  if (!lib || !key || !key->key) return nullptr;
  if (!key->key_text) {
    RVCryptoGuard guard;
    key->key_text = lib->key_to_text(key->key, static_cast<int>(key->type));
  }
  return key->key_text;
}

int RVCryptoSharedSecret(RVCryptoKey* own, RVCryptoKey* peer) {
  RVCryptoLib* lib = RVCryptoGetLib();
  if (!lib || !own || !peer || own->type != RV_CRYPTO_DH || peer->type != RV_CRYPTO_DH) return -1;
  if (own->secret) {
    RVCryptoWipe(own->secret, static_cast<size_t>(own->secret_len > 0 ? own->secret_len : 0));
    RVFree(own->secret);
    own->secret = nullptr;
    own->secret_len = 0;
  }
  if (!own->key || !peer->key) return -1;
  RVCryptoGuard guard;
  int size = lib->dh_size(own->key, RV_CRYPTO_DH);
  if (size <= 0) return -1;
  unsigned char* secret = static_cast<unsigned char*>(RVAlloc(1, static_cast<size_t>(size)));
  int len = lib->dh_compute_key(own->key, peer->key, secret, RV_CRYPTO_DH);
  if (len < 0 || len > size) {
    RVCryptoWipe(secret, static_cast<size_t>(size));
    RVFree(secret);
    return -1;
  }
  own->secret = secret;
  own->secret_len = len;
  return 0;
}

void RVCryptoKeyRelease(RVCryptoKey* key) {
  RVCryptoLib* lib = RVCryptoGetLib();
  if (!key || !key->key) return;
  if (lib && key->type >= RV_CRYPTO_RSA && key->type <= RV_CRYPTO_HMAC) {
    RVCryptoGuard guard;
    lib->key_free(key->key, static_cast<int>(key->type));
  }
  key->key = nullptr;
}

void RVCryptoKeyFree(RVCryptoKey* key) {
  if (!key) return;
  RVCryptoKeyRelease(key);
  RVFree(key->key_file);
  RVCryptoWipeFreeText(key->key_pem);  // may be a private key
  if (key->secret) {
    RVCryptoWipe(key->secret, static_cast<size_t>(key->secret_len > 0 ? key->secret_len : 0));
    RVFree(key->secret);
  }
  RVFree(key->digest_name);
  RVCryptoLib* lib = RVCryptoGetLib();
  if (key->key_text && lib) {
    RVCryptoGuard guard;
    lib->mem_free(key->key_text);
  }
  RVCryptoWipe(key, sizeof *key);
  RVFree(key);
}
