// The key text form: a type word, then each number of the key as a space and
// the Base64 encoding (no line breaks) of its big-endian bytes with one zero
// byte in front.
//
//   RSA  "tq-rsa" n e          (the public part only)
//   DSA  "tq-dsa" p q g public-key
//   DH   "tq-dh"  p g public-key
//
// No number may exceed 4096 bytes and a text read back holds at most 4095
// characters.
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "crypto/crypto_slots.h"
#include "crypto/openssl_key.h"

namespace {

// The text form of one key type.
struct KeyForm {
  int type;              // RV_CRYPTO_RSA, _DSA or _DH
  const char* word;      // the type word
  const char* key_type;  // OpenSSL key type name
  size_t count;          // numbers in the text
  const char* names[4];  // OpenSSL parameter name of each number, in text order
};

const KeyForm kForms[] = {
    {RV_CRYPTO_RSA, "tq-rsa", "RSA", 2, {OSSL_PKEY_PARAM_RSA_N, OSSL_PKEY_PARAM_RSA_E, nullptr, nullptr}},
    {RV_CRYPTO_DSA, "tq-dsa", "DSA", 4,
     {OSSL_PKEY_PARAM_FFC_P, OSSL_PKEY_PARAM_FFC_Q, OSSL_PKEY_PARAM_FFC_G, OSSL_PKEY_PARAM_PUB_KEY}},
    {RV_CRYPTO_DH, "tq-dh", "DH", 3,
     {OSSL_PKEY_PARAM_FFC_P, OSSL_PKEY_PARAM_FFC_G, OSSL_PKEY_PARAM_PUB_KEY, nullptr}},
};

// The text form of `type`, or null when the type has none.
const KeyForm* FormOf(int type) {
  for (const KeyForm& form : kForms)
    if (form.type == type) return &form;
  return nullptr;
}

// True when `a` equals `b` without regard to case.
bool SameWord(const std::string& a, const char* b) {
  size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; i++)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

// Appends " " and the encoding of `bn`; false when it is too long.
bool AppendNumber(std::string* text, const BIGNUM* bn) {
  int n = BN_num_bytes(bn);
  if (n < 0 || n > RV_CRYPTO_MAX_NUMBER) return false;
  std::vector<unsigned char> bytes(static_cast<size_t>(n) + 1, 0);
  if (n > 0 && BN_bn2bin(bn, bytes.data() + 1) != n) return false;
  std::vector<char> enc(4 * ((bytes.size() + 2) / 3) + 1);
  int len = CryptoLibB64Encode(bytes.data(), static_cast<int>(bytes.size()), enc.data());
  if (len <= 0) return false;
  text->push_back(' ');
  text->append(enc.data(), static_cast<size_t>(len));
  return true;
}

// Decodes one number; null when it is not Base64 or exceeds 4096 bytes.
BIGNUM* DecodeNumber(const std::string& token) {
  std::vector<unsigned char> bytes(token.size() / 4 * 3 + 1);
  int n = CryptoLibB64Decode(token.c_str(), bytes.data());
  if (n <= 0) return nullptr;
  BIGNUM* bn = BN_bin2bn(bytes.data(), n, nullptr);
  if (bn && BN_num_bytes(bn) > RV_CRYPTO_MAX_NUMBER) {
    BN_free(bn);
    bn = nullptr;
  }
  return bn;
}

// Splits `text` at single spaces; false when two spaces meet or the text
// starts or ends with one.
bool SplitAtSpaces(const char* text, size_t len, std::vector<std::string>* tokens) {
  size_t start = 0;
  for (size_t i = 0; i <= len; i++) {
    if (i < len && text[i] != ' ') continue;
    if (i == start) return false;
    tokens->emplace_back(text + start, i - start);
    start = i + 1;
  }
  return true;
}

}  // namespace

char* CryptoLibKeyToText(void* key, int type) {
  const KeyForm* form = FormOf(type);
  EVP_PKEY* pkey = form ? CryptoLibKeyGet(key, type) : nullptr;
  if (!pkey) return nullptr;
  std::string text = form->word;
  bool ok = true;
  for (size_t i = 0; ok && i < form->count; i++) {
    BIGNUM* bn = nullptr;
    ok = EVP_PKEY_get_bn_param(pkey, form->names[i], &bn) == 1 && AppendNumber(&text, bn);
    BN_free(bn);
  }
  ERR_clear_error();
  if (!ok) return nullptr;
  char* out = static_cast<char*>(OPENSSL_malloc(text.size() + 1));
  if (out) std::memcpy(out, text.c_str(), text.size() + 1);
  return out;
}

// Reads the numbers of a key text, with or without its type word in front,
// into a public key of `type`.
void* CryptoLibKeyFromText(const char* text, int type) {
  const KeyForm* form = FormOf(type);
  if (!form || !text) return nullptr;
  size_t len = 0;
  while (len <= RV_CRYPTO_MAX_KEY_TEXT && text[len]) len++;
  if (len > RV_CRYPTO_MAX_KEY_TEXT) return nullptr;
  std::vector<std::string> tokens;
  if (!SplitAtSpaces(text, len, &tokens)) return nullptr;
  if (!tokens.empty() && SameWord(tokens[0], form->word)) tokens.erase(tokens.begin());
  if (tokens.size() != form->count) return nullptr;

  BIGNUM* numbers[4] = {nullptr, nullptr, nullptr, nullptr};
  bool ok = true;
  for (size_t i = 0; ok && i < form->count; i++) ok = (numbers[i] = DecodeNumber(tokens[i])) != nullptr;

  OSSL_PARAM_BLD* bld = ok ? OSSL_PARAM_BLD_new() : nullptr;
  for (size_t i = 0; bld && ok && i < form->count; i++)
    ok = OSSL_PARAM_BLD_push_BN(bld, form->names[i], numbers[i]) == 1;
  OSSL_PARAM* params = bld && ok ? OSSL_PARAM_BLD_to_param(bld) : nullptr;
  EVP_PKEY_CTX* ctx = params ? EVP_PKEY_CTX_new_from_name(nullptr, form->key_type, nullptr) : nullptr;
  EVP_PKEY* pkey = nullptr;
  if (ctx && EVP_PKEY_fromdata_init(ctx) == 1) EVP_PKEY_fromdata(ctx, &pkey, EVP_PKEY_PUBLIC_KEY, params);
  EVP_PKEY_CTX_free(ctx);
  OSSL_PARAM_free(params);
  OSSL_PARAM_BLD_free(bld);
  for (BIGNUM* bn : numbers) BN_free(bn);
  ERR_clear_error();
  return CryptoLibKeyWrap(type, pkey);
}

void CryptoLibMemFree(void* p) { OPENSSL_free(p); }
