// RSA, DSA and HMAC keys: PEM reading, signatures checked both ways against
// the `openssl` command, and raw RSA with padding code 4.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypto/crypto_lib.h"
#include "tests/crypto/crypto_test_util.h"
#include "tests/support/child.h"
#include "tests/support/temp_system.h"

namespace {

// A library key freed at the end of the scope.
struct Key {
  void* k;
  int type;
  Key(void* key, int t) : k(key), type(t) {}
  ~Key() {
    if (k) SlotLib()->key_free(k, type);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
};

const unsigned char* Bytes(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

}  // namespace

TEST(CryptoKeys, ReadsPemFilesAndTextsOfTheRightTypeOnly) {
  RVCryptoLib* lib = SlotLib();
  ASSERT_NE(lib, nullptr);
  const KeyFiles& f = TestKeyFiles();
  const std::string rsa_pem = ReadWholeFile(f.rsa_private);
  const std::string rsa_pub = ReadWholeFile(f.rsa_public);

  Key a(lib->private_key_read_file(f.rsa_private.c_str(), kRsaPassphrase, RV_CRYPTO_RSA), RV_CRYPTO_RSA);
  EXPECT_NE(a.k, nullptr);
  Key b(lib->private_key_read_mem(rsa_pem.c_str(), kRsaPassphrase, RV_CRYPTO_RSA), RV_CRYPTO_RSA);
  EXPECT_NE(b.k, nullptr);
  Key c(lib->public_key_read_file(f.rsa_public.c_str(), RV_CRYPTO_RSA), RV_CRYPTO_RSA);
  EXPECT_NE(c.k, nullptr);
  Key d(lib->public_key_read_mem(rsa_pub.c_str(), RV_CRYPTO_RSA), RV_CRYPTO_RSA);
  EXPECT_NE(d.k, nullptr);
  Key e(lib->private_key_read_file(f.dsa_private.c_str(), nullptr, RV_CRYPTO_DSA), RV_CRYPTO_DSA);
  EXPECT_NE(e.k, nullptr);
  Key g(lib->public_key_read_file(f.dsa_public.c_str(), RV_CRYPTO_DSA), RV_CRYPTO_DSA);
  EXPECT_NE(g.k, nullptr);

  // Everything else is null, and nothing asks a terminal for a passphrase.
  const std::string garbage = "-----BEGIN PUBLIC KEY-----\nbm90IGEga2V5\n-----END PUBLIC KEY-----\n";
  void* nulls[] = {
      lib->private_key_read_file(f.rsa_private.c_str(), "wrong", RV_CRYPTO_RSA),
      lib->private_key_read_file(f.rsa_private.c_str(), nullptr, RV_CRYPTO_RSA),
      lib->private_key_read_file(f.rsa_private.c_str(), kRsaPassphrase, RV_CRYPTO_DSA),
      lib->private_key_read_file(f.dsa_private.c_str(), nullptr, RV_CRYPTO_RSA),
      lib->private_key_read_file(f.dsa_private.c_str(), nullptr, RV_CRYPTO_DH),
      lib->private_key_read_file((f.dir + "/missing.pem").c_str(), nullptr, RV_CRYPTO_RSA),
      lib->private_key_read_mem("not pem at all", nullptr, RV_CRYPTO_RSA),
      lib->public_key_read_file(f.rsa_public.c_str(), RV_CRYPTO_DSA),
      lib->public_key_read_file(f.rsa_private.c_str(), RV_CRYPTO_RSA),
      lib->public_key_read_file(f.dh_params.c_str(), RV_CRYPTO_RSA),
      lib->public_key_read_mem(garbage.c_str(), RV_CRYPTO_RSA),
      lib->public_key_read_mem("", RV_CRYPTO_RSA),
      lib->public_key_read_mem(rsa_pub.c_str(), RV_CRYPTO_HMAC),
      lib->public_key_read_mem(rsa_pub.c_str(), 0),
  };
  for (size_t i = 0; i < sizeof nulls / sizeof nulls[0]; i++) EXPECT_EQ(nulls[i], nullptr) << i;
  EXPECT_EQ(lib->key_free(nullptr, RV_CRYPTO_RSA), -1);
}

// Our RSA signatures verify with `openssl dgst`, and `openssl dgst`
// signatures verify here; the digest defaults to SHA-1.
TEST(CryptoKeys, RsaSignaturesAgreeWithOpensslCommand) {
  RVCryptoLib* lib = SlotLib();
  const KeyFiles& f = TestKeyFiles();
  TempSystem sys;
  Key priv(lib->private_key_read_file(f.rsa_private.c_str(), kRsaPassphrase, RV_CRYPTO_RSA), RV_CRYPTO_RSA);
  Key pub(lib->public_key_read_file(f.rsa_public.c_str(), RV_CRYPTO_RSA), RV_CRYPTO_RSA);
  ASSERT_TRUE(priv.k && pub.k);
  const std::string data = "update script digest line\n";
  sys.WriteFile("data.txt", data);

  struct Case {
    const char* name;     // digest name passed to sign/verify
    const char* command;  // the `openssl dgst` option of the same digest
  } cases[] = {{nullptr, "-sha1"}, {"", "-sha1"}, {"SHA1", "-sha1"}, {"SHA256", "-sha256"}, {"SHA512", "-sha512"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    unsigned char sig[512];
    int n = lib->sign(priv.k, Bytes(data), static_cast<int>(data.size()), sig, RV_CRYPTO_RSA, c.name);
    ASSERT_EQ(n, 256);
    EXPECT_EQ(lib->verify(pub.k, Bytes(data), static_cast<int>(data.size()), sig, n, RV_CRYPTO_RSA, c.name), 0);
    // A signature over other data, or changed, fails.
    EXPECT_EQ(lib->verify(pub.k, Bytes(data), static_cast<int>(data.size()) - 1, sig, n, RV_CRYPTO_RSA, c.name), -1);
    sig[10] ^= 1;
    EXPECT_EQ(lib->verify(pub.k, Bytes(data), static_cast<int>(data.size()), sig, n, RV_CRYPTO_RSA, c.name), -1);
    sig[10] ^= 1;

    sys.WriteFile("ours.sig", std::string(reinterpret_cast<char*>(sig), static_cast<size_t>(n)));
    std::string out;
    EXPECT_EQ(TqRunCommand("openssl dgst " + std::string(c.command) + " -verify '" + f.rsa_public +
                               "' -signature '" + sys.path("ours.sig") + "' '" + sys.path("data.txt") + "'",
                           &out),
              0)
        << out;

    ASSERT_EQ(TqRunCommand("openssl dgst " + std::string(c.command) + " -sign '" + f.rsa_private +
                               "' -passin pass:sesame -out '" + sys.path("theirs.sig") + "' '" +
                               sys.path("data.txt") + "'",
                           &out),
              0)
        << out;
    std::string theirs = sys.ReadFile("theirs.sig");
    EXPECT_EQ(lib->verify(pub.k, Bytes(data), static_cast<int>(data.size()), Bytes(theirs),
                          static_cast<int>(theirs.size()), RV_CRYPTO_RSA, c.name),
              0);
  }
  unsigned char sig[512];
  EXPECT_EQ(lib->sign(priv.k, Bytes(data), 4, sig, RV_CRYPTO_RSA, "NO-SUCH-DIGEST"), -1);
  EXPECT_EQ(lib->sign(priv.k, Bytes(data), 4, sig, RV_CRYPTO_DSA, nullptr), -1);
  EXPECT_EQ(lib->sign(pub.k, Bytes(data), 4, sig, RV_CRYPTO_RSA, nullptr), -1);  // no private part
}

TEST(CryptoKeys, DsaSignsWithSha1Always) {
  RVCryptoLib* lib = SlotLib();
  const KeyFiles& f = TestKeyFiles();
  TempSystem sys;
  Key priv(lib->private_key_read_file(f.dsa_private.c_str(), nullptr, RV_CRYPTO_DSA), RV_CRYPTO_DSA);
  Key pub(lib->public_key_read_file(f.dsa_public.c_str(), RV_CRYPTO_DSA), RV_CRYPTO_DSA);
  ASSERT_TRUE(priv.k && pub.k);
  const std::string data = "challenge 0123456789";
  unsigned char sig[256];
  // The digest name is ignored for DSA.
  int n = lib->sign(priv.k, Bytes(data), static_cast<int>(data.size()), sig, RV_CRYPTO_DSA, "SHA512");
  ASSERT_GT(n, 0);
  EXPECT_EQ(lib->verify(pub.k, Bytes(data), static_cast<int>(data.size()), sig, n, RV_CRYPTO_DSA, nullptr), 0);
  EXPECT_EQ(lib->verify(pub.k, Bytes("challenge 0123456788"), static_cast<int>(data.size()), sig, n,
                        RV_CRYPTO_DSA, nullptr),
            -1);
  sys.WriteFile("data.txt", data);
  sys.WriteFile("dsa.sig", std::string(reinterpret_cast<char*>(sig), static_cast<size_t>(n)));
  std::string out;
  EXPECT_EQ(TqRunCommand("openssl dgst -sha1 -verify '" + f.dsa_public + "' -signature '" + sys.path("dsa.sig") +
                             "' '" + sys.path("data.txt") + "'",
                         &out),
            0)
      << out;
  // A DSA key is not an RSA key.
  EXPECT_EQ(lib->verify(pub.k, Bytes(data), static_cast<int>(data.size()), sig, n, RV_CRYPTO_RSA, nullptr), -1);
}

// HMAC keys against the published test vectors (RFC 4231 case 2, RFC 2202
// case 2): the digest defaults to SHA-256.
TEST(CryptoKeys, HmacKnownAnswers) {
  RVCryptoLib* lib = SlotLib();
  Key key(lib->hmac_key_new(Bytes("Jefe"), 4), RV_CRYPTO_HMAC);
  ASSERT_NE(key.k, nullptr);
  const std::string data = "what do ya want for nothing?";
  struct Case {
    const char* digest;
    const char* mac;
  } cases[] = {
      {nullptr, "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
      {"SHA1", "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
  };
  for (const Case& c : cases) {
    unsigned char mac[64];
    int n = lib->sign(key.k, Bytes(data), static_cast<int>(data.size()), mac, RV_CRYPTO_HMAC, c.digest);
    ASSERT_GT(n, 0);
    EXPECT_EQ(Hex(mac, static_cast<size_t>(n)), c.mac);
    EXPECT_EQ(lib->verify(key.k, Bytes(data), static_cast<int>(data.size()), mac, n, RV_CRYPTO_HMAC, c.digest), 0);
    EXPECT_EQ(lib->verify(key.k, Bytes(data), static_cast<int>(data.size()), mac, n - 1, RV_CRYPTO_HMAC, c.digest),
              -1);
    mac[0] ^= 0x80;
    EXPECT_EQ(lib->verify(key.k, Bytes(data), static_cast<int>(data.size()), mac, n, RV_CRYPTO_HMAC, c.digest), -1);
  }
}

// Raw RSA with padding code 4 (OAEP): public encryption is decrypted by the
// private key here and by `openssl pkeyutl`; OAEP has no private-key
// encryption, so those two slots fail.
TEST(CryptoKeys, RawRsaWithOaepPadding) {
  RVCryptoLib* lib = SlotLib();
  const KeyFiles& f = TestKeyFiles();
  TempSystem sys;
  Key priv(lib->private_key_read_file(f.rsa_private.c_str(), kRsaPassphrase, RV_CRYPTO_RSA), RV_CRYPTO_RSA);
  Key pub(lib->public_key_read_file(f.rsa_public.c_str(), RV_CRYPTO_RSA), RV_CRYPTO_RSA);
  ASSERT_TRUE(priv.k && pub.k);
  const std::string secret = "session key material 0123456789";
  unsigned char enc[256], dec[256];
  int n = lib->rsa_public_encrypt(pub.k, RV_CRYPTO_RSA, static_cast<int>(secret.size()), Bytes(secret), enc);
  ASSERT_EQ(n, 256);
  int m = lib->rsa_private_decrypt(priv.k, RV_CRYPTO_RSA, n, enc, dec);
  ASSERT_EQ(m, static_cast<int>(secret.size()));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(dec), static_cast<size_t>(m)), secret);

  sys.WriteFile("enc.bin", std::string(reinterpret_cast<char*>(enc), static_cast<size_t>(n)));
  std::string out;
  ASSERT_EQ(TqRunCommand("openssl pkeyutl -decrypt -inkey '" + f.rsa_private +
                             "' -passin pass:sesame -pkeyopt rsa_padding_mode:oaep -in '" + sys.path("enc.bin") +
                             "' -out '" + sys.path("dec.bin") + "'",
                         &out),
            0)
      << out;
  EXPECT_EQ(sys.ReadFile("dec.bin"), secret);

  EXPECT_EQ(lib->rsa_private_encrypt(priv.k, RV_CRYPTO_RSA, 20, Bytes(secret), enc), -1);
  EXPECT_EQ(lib->rsa_public_decrypt(pub.k, RV_CRYPTO_RSA, n, enc, dec), -1);
  EXPECT_EQ(lib->rsa_public_encrypt(pub.k, RV_CRYPTO_DSA, 20, Bytes(secret), enc), -1);
  enc[5] ^= 1;
  EXPECT_EQ(lib->rsa_private_decrypt(priv.k, RV_CRYPTO_RSA, n, enc, dec), -1);
  std::string too_long(300, 'x');
  EXPECT_EQ(lib->rsa_public_encrypt(pub.k, RV_CRYPTO_RSA, 300, Bytes(too_long), enc), -1);
}
