// Password scrambling: the ZIP cipher against vectors of an independent
// implementation of the traditional ZIP encryption, the three password
// forms, key letters, the hexadecimal alphabet and odd-length texts.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "crypto/scramble.h"
#include "crypto/zip_cipher.h"
#include "tests/crypto/crypto_test_util.h"

namespace {

struct Vector {
  const char* key;
  const char* plain;
  const char* hex;  // the scrambled bytes
};

// Computed with the traditional-encryption decrypter of Python's zipfile
// module (the keystream taken byte by byte).
const Vector kVectors[] = {
    {"secret", "hello, world", "a0254d7b73bee67c15583a7e"},
    {RV_SCRAMBLE_FIXED_KEY, "Passw0rd!", "c5c7ed265154590dfb"},
    {"QK", "tiger", "30a417f66b"},
};

std::string ScrambleWithKey(const std::string& plain, const char* key) {
  std::vector<char> out(2 * plain.size() + 1, '\x7f');
  RVScrambleWithKey(plain.c_str(), out.data(), key);
  return out.data();
}

// Unscrambles into a block of exactly the documented size.
std::string UnscrambleWithKey(const std::string& hex, const char* key, int* rc = nullptr) {
  auto out = std::make_unique<char[]>(hex.size() / 2 + 1);
  int r = RVUnscrambleWithKey(hex.c_str(), out.get(), key);
  if (rc) *rc = r;
  return out.get();
}

std::string Current(const std::string& plain, uint32_t t) {
  std::vector<char> out(2 * plain.size() + 3, '\x7f');
  RVScrambleAt(plain.c_str(), out.data(), t);
  return out.data();
}

std::string UnscrambleCurrent(const std::string& text) {
  auto out = std::make_unique<char[]>(text.size() / 2 + 1);
  RVUnscrambleCurrent(text.c_str(), out.get());
  return out.get();
}

}  // namespace

TEST(Scramble, ZipCipherKnownVectors) {
  for (const Vector& v : kVectors) {
    EXPECT_EQ(ScrambleWithKey(v.plain, v.key), v.hex) << v.key;
    EXPECT_EQ(UnscrambleWithKey(v.hex, v.key), v.plain) << v.key;
    // The raw form is the same bytes.
    std::vector<unsigned char> raw(v.plain, v.plain + std::strlen(v.plain));
    RVScrambleInPlace(raw.data(), raw.size(), v.key);
    EXPECT_EQ(Hex(raw), v.hex);
    RVUnscrambleInPlace(raw.data(), raw.size(), v.key);
    EXPECT_EQ(std::string(raw.begin(), raw.end()), v.plain);
  }
  // The initial keys of an empty password.
  RVZipKeys keys;
  RVZipInitKeys(&keys, "");
  EXPECT_EQ(keys.key0, 0x12345678u);
  EXPECT_EQ(keys.key1, 0x23456789u);
  EXPECT_EQ(keys.key2, 0x34567890u);
}

TEST(Scramble, KeyLettersFromTheTime) {
  struct Case {
    uint32_t t;
    const char* letters;
  } cases[] = {{0, "AV"}, {1, "BU"}, {25, "ZW"}, {26, "AV"}, {1700000000u, "KL"}, {0xFFFFFFFFu, "VA"}};
  for (const Case& c : cases) {
    char letters[3];
    RVScrambleKeyLetters(c.t, letters);
    EXPECT_STREQ(letters, c.letters) << c.t;
    // The current form starts with them and is keyed by them.
    std::string text = Current("tiger", c.t);
    EXPECT_EQ(text.substr(0, 2), c.letters);
    EXPECT_EQ(text.substr(2), ScrambleWithKey("tiger", c.letters));
  }
}

TEST(Scramble, AllThreeFormsRoundTrip) {
  const std::string passwords[] = {"", "a", "p@ss w0rd", std::string(100, 'x') + "!", "\xe9t\xe9", "#52+83?"};
  for (const std::string& p : passwords) {
    // Current form, at two times: different texts, the same password.
    std::string t1 = Current(p, 1700000000u);
    std::string t2 = Current(p, 1700000001u);
    EXPECT_EQ(t1.size(), 2 * p.size() + 2);
    EXPECT_NE(t1, t2);
    EXPECT_EQ(UnscrambleCurrent(t1), p);
    EXPECT_EQ(UnscrambleCurrent(t2), p);
    // Fixed-key hexadecimal.
    std::string hex = ScrambleWithKey(p, RV_SCRAMBLE_FIXED_KEY);
    EXPECT_EQ(hex.size(), 2 * p.size());
    EXPECT_EQ(hex.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(UnscrambleWithKey(hex, RV_SCRAMBLE_FIXED_KEY), p);
    // Fixed-key raw.
    std::vector<unsigned char> raw(p.begin(), p.end());
    RVScrambleInPlace(raw.data(), raw.size(), RV_SCRAMBLE_FIXED_KEY);
    EXPECT_EQ(Hex(raw), hex);
    RVUnscrambleInPlace(raw.data(), raw.size(), RV_SCRAMBLE_FIXED_KEY);
    EXPECT_EQ(std::string(raw.begin(), raw.end()), p);
  }
  // The current form with the clock's letters.
  std::vector<char> out(2 * 5 + 3);
  RVScramble("tiger", out.data());
  EXPECT_EQ(UnscrambleCurrent(out.data()), "tiger");
}

TEST(Scramble, EmptyPasswordForms) {
  EXPECT_EQ(Current("", 0), "AV");
  EXPECT_EQ(UnscrambleCurrent("AV"), "");
  EXPECT_EQ(ScrambleWithKey("", RV_SCRAMBLE_FIXED_KEY), "");
  int rc = -2;
  EXPECT_EQ(UnscrambleWithKey("", RV_SCRAMBLE_FIXED_KEY, &rc), "");
  EXPECT_EQ(rc, 0);
  // Shorter than the two key letters is no current form.
  char out[4] = "x";
  EXPECT_EQ(RVUnscrambleCurrent("A", out), -1);
  EXPECT_STREQ(out, "");
}

// Reading takes each character's position in the alphabet without "l";
// upper-case digits are not hexadecimal there.
TEST(Scramble, AlphabetPositionsNotHexadecimal) {
  std::string hex = ScrambleWithKey("tiger", RV_SCRAMBLE_FIXED_KEY);
  std::string upper = hex;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  ASSERT_NE(upper, hex);
  EXPECT_NE(UnscrambleWithKey(upper, RV_SCRAMBLE_FIXED_KEY), "tiger");
  // "g" is position 16: "g0" reads as 16 * 16 mod 256 = 0, as "00" does;
  // "m" is position 21 (after k, without l): "0m" reads as 0x15; "L" is not in
  // the alphabet (255): "LL" reads as (255 * 16 + 255) mod 256 = 0xef.
  unsigned char raw[3] = {0x00, 0x15, 0xef};
  RVUnscrambleInPlace(raw, 3, "k");
  char out[4];
  ASSERT_EQ(RVUnscrambleWithKey("g00mLL", out, "k"), 0);
  EXPECT_EQ(std::memcmp(out, raw, 3), 0);
  EXPECT_EQ(out[3], '\0');
}

TEST(Scramble, OddLengthIsRefusedWithoutReadingPastTheEnd) {
  for (const char* text : {"a", "abc", "0a1b2"}) {
    // A heap block holding exactly the text: a read past it is caught.
    size_t len = std::strlen(text);
    auto in = std::make_unique<char[]>(len + 1);
    std::memcpy(in.get(), text, len + 1);
    char out[8] = "junk";
    EXPECT_EQ(RVUnscrambleWithKey(in.get(), out, RV_SCRAMBLE_FIXED_KEY), -1) << text;
    EXPECT_STREQ(out, "");
  }
  char out[8] = "junk";
  EXPECT_EQ(RVUnscrambleCurrent("AVabc", out), -1);
  EXPECT_STREQ(out, "");
}

// Operations on several threads at once never mix their keys.
TEST(Scramble, ConcurrentOperationsStayApart) {
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int i = 0; i < 4; i++) {
    threads.emplace_back([i, &failures] {
      std::string plain = "password-" + std::to_string(i) + std::string(static_cast<size_t>(20 + i), 'q');
      for (int round = 0; round < 2000; round++) {
        std::string text = Current(plain, static_cast<uint32_t>(round * 7 + i));
        if (UnscrambleCurrent(text) != plain) failures[static_cast<size_t>(i)]++;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  for (int f : failures) EXPECT_EQ(f, 0);
}
