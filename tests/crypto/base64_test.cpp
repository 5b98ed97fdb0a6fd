// Base64: whole-text encoding and decoding with the decoded-length rule,
// invalid texts, and the streaming slots.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "crypto/crypto_lib.h"
#include "tests/crypto/crypto_test_util.h"

TEST(CryptoBase64, EncodesAndDecodesKnownVectors) {
  RVCryptoLib* lib = SlotLib();
  ASSERT_NE(lib, nullptr);
  struct Case {
    std::string plain;
    std::string text;
  } cases[] = {
      {"", ""},           {"f", "Zg=="},         {"fo", "Zm8="},       {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
      {std::string("\0\xff\xfe", 3), "AP/+"},
  };
  for (const Case& c : cases) {
    std::vector<char> enc(c.text.size() + 1, '\x7f');
    int n = lib->b64_encode(reinterpret_cast<const unsigned char*>(c.plain.data()), static_cast<int>(c.plain.size()),
                            enc.data());
    EXPECT_EQ(n, static_cast<int>(c.text.size())) << c.text;
    EXPECT_STREQ(enc.data(), c.text.c_str());
    // The output needs only the decoded length: a heap block of exactly that
    // size lets the address sanitizer catch a longer write.
    auto out = std::make_unique<unsigned char[]>(c.plain.size());
    n = lib->b64_decode(c.text.c_str(), out.get());
    ASSERT_EQ(n, static_cast<int>(c.plain.size())) << c.text;
    EXPECT_EQ(std::memcmp(out.get(), c.plain.data(), c.plain.size()), 0) << c.text;
  }
}

TEST(CryptoBase64, DecodedLengthRule) {
  RVCryptoLib* lib = SlotLib();
  unsigned char out[8];
  EXPECT_EQ(lib->b64_decode("QQ==", out), 1);
  EXPECT_EQ(out[0], 'A');
  EXPECT_EQ(lib->b64_decode("QUI=", out), 2);
  EXPECT_EQ(lib->b64_decode("QUJD", out), 3);
  char three[8];
  EXPECT_EQ(lib->b64_encode(reinterpret_cast<const unsigned char*>("ABC"), 3, three), 4);
  EXPECT_EQ(std::strlen(three), 4u);
}

TEST(CryptoBase64, InvalidTextsGiveMinusOne) {
  RVCryptoLib* lib = SlotLib();
  const char* bad[] = {
      "Zm9v!A==",   // character outside the alphabet
      "Zg=",        // length not a multiple of four
      "Z",          "Zm9vY",
      "Z===",       // three padding characters
      "=Zg=",       // padding in front
      "Zg==Zg==",   // padding inside
      "Zm=v",       // padding before a data character
      " Zg=",       // blank
      "Zm9v\n",     // line end
      "Zm9v-_AA",   // URL-safe alphabet
      "====",
  };
  for (const char* text : bad) {
    unsigned char out[16];
    EXPECT_EQ(lib->b64_decode(text, out), -1) << text;
  }
  unsigned char out[4];
  EXPECT_EQ(lib->b64_decode(nullptr, out), -1);
}

TEST(CryptoBase64, StreamingRoundTripAcrossPieces) {
  RVCryptoLib* lib = SlotLib();
  std::vector<unsigned char> data(1000);
  for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<unsigned char>(i * 31 + 7);

  void* enc = lib->b64_encode_ctx_new();
  ASSERT_NE(enc, nullptr);
  std::vector<unsigned char> text(2000);
  size_t tlen = 0;
  for (size_t off = 0; off < data.size(); off += 77) {
    int piece = static_cast<int>(std::min<size_t>(77, data.size() - off));
    int n = lib->b64_encode_update(enc, data.data() + off, text.data() + tlen, piece);
    ASSERT_GE(n, 0);
    tlen += static_cast<size_t>(n);
  }
  int n = lib->b64_encode_final(enc, text.data() + tlen);
  ASSERT_GE(n, 0);
  tlen += static_cast<size_t>(n);

  void* dec = lib->b64_decode_ctx_new();
  ASSERT_NE(dec, nullptr);
  std::vector<unsigned char> back(1000 + 80);
  size_t blen = 0;
  for (size_t off = 0; off < tlen; off += 50) {
    int piece = static_cast<int>(std::min<size_t>(50, tlen - off));
    int m = lib->b64_decode_update(dec, text.data() + off, back.data() + blen, piece);
    ASSERT_GE(m, 0);
    blen += static_cast<size_t>(m);
  }
  int m = lib->b64_decode_final(dec, back.data() + blen);
  ASSERT_GE(m, 0);
  blen += static_cast<size_t>(m);
  back.resize(blen);
  EXPECT_EQ(back, data);

  // A stream with a character outside the alphabet fails; final still frees.
  dec = lib->b64_decode_ctx_new();
  const char* bad = "Zm9v*mFy\n";
  EXPECT_EQ(lib->b64_decode_update(dec, reinterpret_cast<const unsigned char*>(bad), back.data(),
                                   static_cast<int>(std::strlen(bad))),
            -1);
  lib->b64_decode_final(dec, back.data());
}
