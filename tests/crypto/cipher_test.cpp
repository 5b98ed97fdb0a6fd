// Cipher contexts: every row of the selection table against the `openssl enc`
// command, streaming against whole buffers, combinations that select no
// cipher, and key derivation against `openssl enc -P`.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "crypto/crypto_lib.h"
#include "tests/crypto/crypto_test_util.h"
#include "tests/support/child.h"
#include "tests/support/temp_system.h"

namespace {

// A cipher context on the stack with its key on the C heap.
struct Context {
  RVCryptoCipher c{};
  Context(int16_t algorithm, int16_t mode, int16_t key_len) {
    c.algorithm = algorithm;
    c.mode = mode;
    c.key_len = key_len;
    if (key_len > 0) {
      c.key = static_cast<unsigned char*>(std::calloc(1, static_cast<size_t>(key_len)));
      for (int i = 0; i < key_len; i++) c.key[i] = static_cast<unsigned char>(0x10 + i * 3);
    }
  }
  ~Context() {
    SlotLib()->cipher_free(&c);
    std::free(c.key);
    std::free(c.passphrase);
  }
};

// Encrypts `plain` with the `openssl enc` command; hexadecimal of the result.
std::string OpensslEnc(const TempSystem& sys, const std::string& name, const RVCryptoCipher& c,
                       const std::string& plain) {
  sys.WriteFile("plain.bin", plain);
  std::string cmd = "openssl enc -e -" + name + " -K " + Hex(c.key, static_cast<size_t>(c.key_len));
  if (c.iv_len > 0) cmd += " -iv " + Hex(c.iv, static_cast<size_t>(c.iv_len));
  cmd += " -in '" + sys.path("plain.bin") + "' -out '" + sys.path("cipher.bin") + "'";
  cmd += " -provider legacy -provider default";
  std::string out;
  if (TqRunCommand(cmd, &out) != 0) return "failed: " + out;
  std::string cipher = sys.ReadFile("cipher.bin");
  return Hex(reinterpret_cast<const unsigned char*>(cipher.data()), cipher.size());
}

struct Row {
  int16_t algorithm;
  int16_t mode;
  int16_t key_len;
  const char* openssl;  // the `openssl enc` name of the cipher expected
};

const Row kRows[] = {
    {RV_CIPHER_BLOWFISH, 1, 16, "bf-cbc"},      {RV_CIPHER_BLOWFISH, 2, 16, "bf-cbc"},
    {RV_CIPHER_BLOWFISH, 3, 16, "bf-cfb"},      {RV_CIPHER_BLOWFISH, 4, 16, "bf-ecb"},
    {RV_CIPHER_BLOWFISH, 5, 16, "bf-ofb"},      {RV_CIPHER_CAST5, 1, 16, "cast5-cbc"},
    {RV_CIPHER_CAST5, 2, 16, "cast5-cbc"},      {RV_CIPHER_CAST5, 3, 16, "cast5-cfb"},
    {RV_CIPHER_CAST5, 4, 16, "cast5-ecb"},      {RV_CIPHER_CAST5, 5, 16, "cast5-ofb"},
    {RV_CIPHER_AES, 1, 16, "aes-128-cbc"},      {RV_CIPHER_AES, 2, 24, "aes-192-cbc"},
    {RV_CIPHER_AES, 3, 16, "aes-128-cfb"},      {RV_CIPHER_AES, 3, 24, "aes-192-cfb"},
    {RV_CIPHER_AES, 3, 32, "aes-256-cfb"},      {RV_CIPHER_AES, 4, 32, "aes-256-ecb"},
    {RV_CIPHER_AES, 5, 24, "aes-192-ofb"},      {RV_CIPHER_AES, 2, 32, "aes-256-cbc"},
    {RV_CIPHER_DES, 1, 8, "des-cbc"},           {RV_CIPHER_DES, 2, 8, "des-cbc"},
    {RV_CIPHER_DES, 3, 8, "des-cfb"},           {RV_CIPHER_DES, 4, 8, "des-ecb"},
    {RV_CIPHER_DES, 5, 8, "des-ofb"},           {RV_CIPHER_3DES, 1, 24, "des-ede3"},
    {RV_CIPHER_3DES, 2, 24, "des-ede3-cbc"},    {RV_CIPHER_3DES, 3, 24, "des-ede3-cfb"},
    {RV_CIPHER_3DES, 5, 24, "des-ede3-ofb"},
};

const std::string kPlain = "The quick brown fox jumps over 13 lazy dogs.";  // 44 bytes

}  // namespace

TEST(CryptoCipher, SelectionTableMatchesOpensslEncAndDecryptsBack) {
  RVCryptoLib* lib = SlotLib();
  ASSERT_NE(lib, nullptr);
  TempSystem sys;
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.openssl);
    Context ctx(row.algorithm, row.mode, row.key_len);
    ASSERT_EQ(lib->cipher_setup(&ctx.c), 0);
    ASSERT_NE(ctx.c.ctx, nullptr);
    ASSERT_NE(ctx.c.cipher, nullptr);
    // Setup with iv_len 0 takes the cipher's IV length and a random base IV.
    bool ecb = std::strstr(row.openssl, "ecb") || std::strcmp(row.openssl, "des-ede3") == 0;
    EXPECT_EQ(ctx.c.iv_len, ecb ? 0 : (row.algorithm == RV_CIPHER_AES ? 16 : 8));
    for (int i = 0; i < 16; i++) ctx.c.iv[i] = static_cast<unsigned char>(0xA0 + i);

    std::vector<unsigned char> buf(kPlain.begin(), kPlain.end());
    buf.resize(kPlain.size() + 16);
    int n = lib->cipher_encrypt(&ctx.c, buf.data(), static_cast<int>(kPlain.size()));
    ASSERT_GT(n, 0);
    EXPECT_EQ(Hex(buf.data(), static_cast<size_t>(n)), OpensslEnc(sys, row.openssl, ctx.c, kPlain));

    int m = lib->cipher_decrypt(&ctx.c, buf.data(), n);
    ASSERT_EQ(m, static_cast<int>(kPlain.size()));
    EXPECT_EQ(std::string(buf.begin(), buf.begin() + m), kPlain);
  }
}

TEST(CryptoCipher, StreamingGivesTheWholeBufferResult) {
  RVCryptoLib* lib = SlotLib();
  for (const Row& row : {kRows[0], kRows[12], kRows[17], kRows[24]}) {
    SCOPED_TRACE(row.openssl);
    Context ctx(row.algorithm, row.mode, row.key_len);
    std::vector<unsigned char> whole(kPlain.begin(), kPlain.end());
    whole.resize(kPlain.size() + 16);
    int n = lib->cipher_encrypt(&ctx.c, whole.data(), static_cast<int>(kPlain.size()));
    ASSERT_GT(n, 0);

    ASSERT_EQ(lib->cipher_encrypt_init(&ctx.c), 0);
    std::vector<unsigned char> out(kPlain.size() + 32);
    int total = 0;
    for (size_t off = 0; off < kPlain.size(); off += 10) {
      int piece = static_cast<int>(std::min<size_t>(10, kPlain.size() - off));
      int k = lib->cipher_encrypt_update(&ctx.c, reinterpret_cast<const unsigned char*>(kPlain.data()) + off,
                                         out.data() + total, piece);
      ASSERT_GE(k, 0);
      total += k;
    }
    int k = lib->cipher_encrypt_final(&ctx.c, out.data() + total);
    ASSERT_GE(k, 0);
    total += k;
    EXPECT_EQ(Hex(out.data(), static_cast<size_t>(total)), Hex(whole.data(), static_cast<size_t>(n)));

    ASSERT_EQ(lib->cipher_decrypt_init(&ctx.c), 0);
    std::vector<unsigned char> back(out.size() + 16);
    int b = lib->cipher_decrypt_update(&ctx.c, out.data(), back.data(), total);
    ASSERT_GE(b, 0);
    int f = lib->cipher_decrypt_final(&ctx.c, back.data() + b);
    ASSERT_GE(f, 0);
    EXPECT_EQ(std::string(back.begin(), back.begin() + b + f), kPlain);
  }
}

// Blowfish and CAST5 take other key lengths than their default.
TEST(CryptoCipher, VariableKeyLengthsRoundTrip) {
  RVCryptoLib* lib = SlotLib();
  struct Case {
    int16_t algorithm;
    int16_t key_len;
  } cases[] = {{RV_CIPHER_BLOWFISH, 8}, {RV_CIPHER_BLOWFISH, 32}, {RV_CIPHER_BLOWFISH, 56},
               {RV_CIPHER_CAST5, 5},    {RV_CIPHER_CAST5, 10}};
  for (const Case& c : cases) {
    Context ctx(c.algorithm, 2, c.key_len);
    std::vector<unsigned char> buf(kPlain.begin(), kPlain.end());
    buf.resize(kPlain.size() + 16);
    int n = lib->cipher_encrypt(&ctx.c, buf.data(), static_cast<int>(kPlain.size()));
    ASSERT_GT(n, 0) << c.algorithm << "/" << c.key_len;
    EXPECT_EQ(ctx.c.key_len, c.key_len);
    EXPECT_NE(std::string(buf.begin(), buf.begin() + static_cast<long>(kPlain.size())), kPlain);
    EXPECT_EQ(lib->cipher_decrypt(&ctx.c, buf.data(), n), static_cast<int>(kPlain.size()));
    EXPECT_EQ(std::string(buf.begin(), buf.begin() + static_cast<long>(kPlain.size())), kPlain);
  }
}

TEST(CryptoCipher, CombinationsOutsideTheTableSelectNoCipher) {
  RVCryptoLib* lib = SlotLib();
  struct Case {
    int16_t algorithm, mode, key_len;
  } cases[] = {
      {RV_CIPHER_3DES, 4, 24},     // triple DES has no mode 4
      {RV_CIPHER_AES, 2, 20},      // AES only by 16, 24, 32
      {RV_CIPHER_AES, 2, 0},       {RV_CIPHER_NONE, 2, 16},   {7, 2, 16},
      {0, 2, 16},                  {RV_CIPHER_BLOWFISH, 0, 16}, {RV_CIPHER_BLOWFISH, 6, 16},
      {RV_CIPHER_DES, 2, 16},      // single DES keys are 8 bytes
      {RV_CIPHER_3DES, 2, 16},     // three keys: 24 bytes
  };
  for (const Case& c : cases) {
    Context ctx(c.algorithm, c.mode, c.key_len);
    EXPECT_EQ(lib->cipher_setup(&ctx.c), -1) << c.algorithm << "/" << c.mode << "/" << c.key_len;
    EXPECT_EQ(ctx.c.ctx, nullptr);
    unsigned char buf[64] = "abc";
    EXPECT_EQ(lib->cipher_encrypt(&ctx.c, buf, 3), -1);
    EXPECT_EQ(lib->cipher_encrypt_init(&ctx.c), -1);
    EXPECT_EQ(lib->cipher_encrypt_update(&ctx.c, buf, buf, 3), -1);
  }
  // A key without a length is refused rather than read past its end.
  Context ctx(RV_CIPHER_BLOWFISH, 2, 0);
  ctx.c.key = static_cast<unsigned char*>(std::calloc(1, 4));
  EXPECT_EQ(lib->cipher_setup(&ctx.c), -1);
}

// cipher_derive_key is EVP_BytesToKey with SHA-256 and one iteration: the
// `openssl enc -P -md sha256` command derives the same key and IV.
TEST(CryptoCipher, DeriveKeyIsDeterministicAndMatchesOpensslEnc) {
  RVCryptoLib* lib = SlotLib();
  struct Case {
    int16_t algorithm, mode, key_len;
    const char* openssl;
    bool salted;
  } cases[] = {
      {RV_CIPHER_AES, 2, 32, "aes-256-cbc", true},
      {RV_CIPHER_AES, 2, 32, "aes-256-cbc", false},
      {RV_CIPHER_BLOWFISH, 2, 0, "bf-cbc", true},
      {RV_CIPHER_3DES, 2, 24, "des-ede3-cbc", true},
  };
  const unsigned char salt[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.openssl);
    std::string keys[2];
    for (std::string& k : keys) {
      Context ctx(c.algorithm, c.mode, c.key_len);
      ctx.c.passphrase = strdup("correct horse");
      if (c.salted) ctx.c.flags = RV_CIPHER_FLAG_SALT;
      std::memcpy(ctx.c.salt, salt, sizeof salt);
      ASSERT_EQ(lib->cipher_derive_key(&ctx.c), 0);
      k = Hex(ctx.c.key, static_cast<size_t>(ctx.c.key_len)) + "/" +
          Hex(ctx.c.iv_base, static_cast<size_t>(ctx.c.iv_len));
    }
    EXPECT_EQ(keys[0], keys[1]);

    std::string cmd = "openssl enc -" + std::string(c.openssl) + " -P -md sha256 -pass pass:'correct horse'" +
                      (c.salted ? " -S " + Hex(salt, 8) : " -nosalt") + " -provider legacy -provider default";
    std::string out;
    ASSERT_EQ(TqRunCommand(cmd, &out), 0) << out;
    std::string key, iv;
    size_t p = out.find("key=");
    if (p != std::string::npos) key = out.substr(p + 4, out.find('\n', p) - p - 4);
    p = out.find("iv =");
    if (p != std::string::npos) iv = out.substr(p + 4, out.find('\n', p) - p - 4);
    for (char& ch : key) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    for (char& ch : iv) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    EXPECT_EQ(keys[0], key + "/" + iv);
  }

  // Another salt, another key; a key length other than the cipher's is refused.
  Context a(RV_CIPHER_AES, 2, 16), b(RV_CIPHER_AES, 2, 16), odd(RV_CIPHER_BLOWFISH, 2, 32);
  for (Context* ctx : {&a, &b, &odd}) {
    ctx->c.passphrase = strdup("pw");
    ctx->c.flags = RV_CIPHER_FLAG_SALT;
  }
  b.c.salt[0] = 1;
  ASSERT_EQ(lib->cipher_derive_key(&a.c), 0);
  ASSERT_EQ(lib->cipher_derive_key(&b.c), 0);
  EXPECT_NE(Hex(a.c.key, 16), Hex(b.c.key, 16));
  EXPECT_EQ(lib->cipher_derive_key(&odd.c), -1);
}
