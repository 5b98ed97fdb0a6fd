// The key text form: round trips for RSA and DSA keys (a key read back from
// its text verifies real signatures) and texts that must give null.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypto/crypto_lib.h"
#include "tests/crypto/crypto_test_util.h"

namespace {

// Splits at single spaces.
std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); i++) {
    if (i == text.size() || text[i] == ' ') {
      out.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  return out;
}

// The text form of a key, freed with mem_free.
std::string TextOf(void* key, int type) {
  RVCryptoLib* lib = SlotLib();
  char* text = lib->key_to_text(key, type);
  std::string s = text ? text : "";
  lib->mem_free(text);
  return s;
}

const unsigned char* Bytes(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

}  // namespace

TEST(CryptoKeyText, RsaAndDsaRoundTripAndVerify) {
  RVCryptoLib* lib = SlotLib();
  ASSERT_NE(lib, nullptr);
  const KeyFiles& f = TestKeyFiles();
  struct Case {
    int type;
    std::string private_file;
    const char* passphrase;
    std::string public_file;
    const char* word;
    size_t numbers;
  } cases[] = {
      {RV_CRYPTO_RSA, f.rsa_private, kRsaPassphrase, f.rsa_public, "tq-rsa", 2},
      {RV_CRYPTO_DSA, f.dsa_private, nullptr, f.dsa_public, "tq-dsa", 4},
  };
  const std::string data = "signed words";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.word);
    void* priv = lib->private_key_read_file(c.private_file.c_str(), c.passphrase, c.type);
    void* pub = lib->public_key_read_file(c.public_file.c_str(), c.type);
    ASSERT_TRUE(priv && pub);
    std::string text = TextOf(pub, c.type);
    std::vector<std::string> words = Words(text);
    ASSERT_EQ(words.size(), c.numbers + 1) << text;
    EXPECT_EQ(words[0], c.word);
    // Each number carries one zero byte in front of its big-endian bytes.
    for (size_t i = 1; i < words.size(); i++) {
      std::vector<unsigned char> bytes(words[i].size());
      ASSERT_GT(lib->b64_decode(words[i].c_str(), bytes.data()), 1);
      EXPECT_EQ(bytes[0], 0);
      EXPECT_NE(bytes[1], 0);
    }
    // The private key gives the same (public) text.
    EXPECT_EQ(TextOf(priv, c.type), text);

    // Read back with and without the type word (in any case).
    std::string upper = text;
    for (size_t i = 0; i < words[0].size(); i++) upper[i] = static_cast<char>(std::toupper(upper[i]));
    for (const std::string& in : {text, text.substr(words[0].size() + 1), upper}) {
      void* back = lib->key_from_text(in.c_str(), c.type);
      ASSERT_NE(back, nullptr);
      EXPECT_EQ(TextOf(back, c.type), text);
      unsigned char sig[512];
      int n = lib->sign(priv, Bytes(data), static_cast<int>(data.size()), sig, c.type, nullptr);
      ASSERT_GT(n, 0);
      EXPECT_EQ(lib->verify(back, Bytes(data), static_cast<int>(data.size()), sig, n, c.type, nullptr), 0);
      lib->key_free(back, c.type);
    }
    lib->key_free(priv, c.type);
    lib->key_free(pub, c.type);
  }
}

TEST(CryptoKeyText, RsaPublicExponentEncoding) {
  RVCryptoLib* lib = SlotLib();
  void* pub = lib->public_key_read_file(TestKeyFiles().rsa_public.c_str(), RV_CRYPTO_RSA);
  ASSERT_NE(pub, nullptr);
  std::vector<std::string> words = Words(TextOf(pub, RV_CRYPTO_RSA));
  ASSERT_EQ(words.size(), 3u);
  EXPECT_EQ(words[2], "AAEAAQ==");  // 00 01 00 01: e = 65537
  lib->key_free(pub, RV_CRYPTO_RSA);
}

TEST(CryptoKeyText, BadTextsGiveNull) {
  RVCryptoLib* lib = SlotLib();
  void* pub = lib->public_key_read_file(TestKeyFiles().rsa_public.c_str(), RV_CRYPTO_RSA);
  ASSERT_NE(pub, nullptr);
  const std::string good = TextOf(pub, RV_CRYPTO_RSA);
  lib->key_free(pub, RV_CRYPTO_RSA);
  std::vector<std::string> w = Words(good);
  const std::string n = w[1], e = w[2];
  const std::string huge(4097, 'A');  // one number over the text's 4095 characters
  std::string big_number = "AA" + std::string(5464, 'B') + "==";  // about 4097 bytes

  struct Case {
    std::string text;
    int type;
  } cases[] = {
      {"tq-rsa " + n + " " + e + " " + e, RV_CRYPTO_RSA},  // three numbers
      {"tq-rsa " + n, RV_CRYPTO_RSA},                      // one number
      {"tq-rsa", RV_CRYPTO_RSA},                           // none
      {"", RV_CRYPTO_RSA},
      {n + " " + e, RV_CRYPTO_DSA},                        // two numbers for DSA
      {n + " " + e + " " + e + " " + e + " " + e, RV_CRYPTO_DSA},
      {n + " " + e, RV_CRYPTO_DH},
      {"tq-dsa " + n + " " + e, RV_CRYPTO_RSA},            // word of another type
      {"tq-rsa " + n + "  " + e, RV_CRYPTO_RSA},           // two spaces
      {" " + n + " " + e, RV_CRYPTO_RSA},
      {n + " " + e + " ", RV_CRYPTO_RSA},
      {"tq-rsa " + n + " AAEA*Q==", RV_CRYPTO_RSA},        // not Base64
      {"tq-rsa " + n + " AAEAAQ=", RV_CRYPTO_RSA},
      {"tq-rsa " + n + " AAEAAQ==\n", RV_CRYPTO_RSA},
      {"tq-rsa " + huge + " " + e, RV_CRYPTO_RSA},         // over 4095 characters
      {"tq-rsa " + big_number + " " + e, RV_CRYPTO_RSA},   // number over 4096 bytes
      {good, RV_CRYPTO_HMAC},                              // types without a text form
      {good, 0},
      {good, 5},
  };
  for (const Case& c : cases) {
    void* key = lib->key_from_text(c.text.c_str(), c.type);
    EXPECT_EQ(key, nullptr) << c.type << ": " << c.text.substr(0, 60);
    if (key) lib->key_free(key, c.type);
  }
  EXPECT_EQ(lib->key_from_text(nullptr, RV_CRYPTO_RSA), nullptr);
  EXPECT_EQ(lib->key_to_text(nullptr, RV_CRYPTO_RSA), nullptr);
  // A key of one type has no text form of another.
  void* key = lib->key_from_text(good.c_str(), RV_CRYPTO_RSA);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(lib->key_to_text(key, RV_CRYPTO_DSA), nullptr);
  lib->key_free(key, RV_CRYPTO_RSA);
}
