// Diffie-Hellman: parameters from PEM files and generated, key pairs, the
// key text of a peer, and agreement on one secret.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypto/crypto_lib.h"
#include "tests/crypto/crypto_test_util.h"
#include "tests/support/temp_system.h"

namespace {

// One side of an agreement: a key pair over copied parameters, and the
// peer's view of it made from its text form.
struct Side {
  void* own = nullptr;
  void* as_peer = nullptr;
  explicit Side(void* params) {
    RVCryptoLib* lib = SlotLib();
    own = lib->dh_params_dup(params);
    if (!own || lib->dh_generate_key(own, RV_CRYPTO_DH) != 0) return;
    char* text = lib->key_to_text(own, RV_CRYPTO_DH);
    if (text) as_peer = lib->key_from_text(text, RV_CRYPTO_DH);
    lib->mem_free(text);
  }
  ~Side() {
    if (own) SlotLib()->key_free(own, RV_CRYPTO_DH);
    if (as_peer) SlotLib()->key_free(as_peer, RV_CRYPTO_DH);
  }
};

// The secret `a` computes with `b`'s public text, as hexadecimal ("" on failure).
std::string Secret(const Side& a, const Side& b) {
  RVCryptoLib* lib = SlotLib();
  int size = lib->dh_size(a.own, RV_CRYPTO_DH);
  if (size <= 0) return "";
  std::vector<unsigned char> out(static_cast<size_t>(size));
  int n = lib->dh_compute_key(a.own, b.as_peer, out.data(), RV_CRYPTO_DH);
  return n > 0 ? Hex(out.data(), static_cast<size_t>(n)) : "";
}

}  // namespace

TEST(CryptoDh, TwoKeysAgreeOnOneSecret) {
  RVCryptoLib* lib = SlotLib();
  ASSERT_NE(lib, nullptr);
  void* params = lib->dh_params_read(TestKeyFiles().dh_params.c_str());
  ASSERT_NE(params, nullptr);
  EXPECT_EQ(lib->dh_size(params, RV_CRYPTO_DH), 128);
  Side a(params), b(params), c(params);
  ASSERT_TRUE(a.as_peer && b.as_peer && c.as_peer);

  char* text = lib->key_to_text(a.own, RV_CRYPTO_DH);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::string(text).rfind("tq-dh ", 0), 0u);
  lib->mem_free(text);

  std::string ab = Secret(a, b);
  EXPECT_GE(ab.size(), 2u * 120);
  EXPECT_EQ(ab, Secret(b, a));
  EXPECT_NE(ab, Secret(a, c));
  EXPECT_EQ(Secret(a, c), Secret(c, a));
  // Parameters alone hold no key pair; the wrong type is refused.
  EXPECT_EQ(lib->key_to_text(params, RV_CRYPTO_DH), nullptr);
  unsigned char out[256];
  EXPECT_EQ(lib->dh_compute_key(a.own, b.as_peer, out, RV_CRYPTO_RSA), -1);
  EXPECT_EQ(lib->dh_generate_key(a.own, RV_CRYPTO_DSA), -1);
  EXPECT_EQ(lib->dh_size(a.own, RV_CRYPTO_RSA), -1);
  lib->key_free(params, RV_CRYPTO_DH);
}

// Generated parameters pass the prime, safe-prime and generator checks and
// serve an agreement; sizes OpenSSL refuses give null after the attempts.
TEST(CryptoDh, GeneratedParameters) {
  RVCryptoLib* lib = SlotLib();
  void* params = lib->dh_params_generate(512, 2);
  ASSERT_NE(params, nullptr);
  EXPECT_EQ(lib->dh_size(params, RV_CRYPTO_DH), 64);
  {
    Side a(params), b(params);
    ASSERT_TRUE(a.as_peer && b.as_peer);
    EXPECT_EQ(Secret(a, b), Secret(b, a));
    EXPECT_NE(Secret(a, b), "");
  }
  lib->key_free(params, RV_CRYPTO_DH);
  EXPECT_EQ(lib->dh_params_generate(64, 2), nullptr);
  EXPECT_EQ(lib->dh_params_generate(512, 1), nullptr);
}

// Keys over different parameters do not agree.
TEST(CryptoDh, PeersOverOtherParametersAreRefused) {
  RVCryptoLib* lib = SlotLib();
  void* p1 = lib->dh_params_read(TestKeyFiles().dh_params.c_str());
  void* p2 = lib->dh_params_generate(512, 2);
  ASSERT_TRUE(p1 && p2);
  {
    Side a(p1), b(p2);
    ASSERT_TRUE(a.as_peer && b.as_peer);
    EXPECT_EQ(Secret(a, b), "");
  }
  lib->key_free(p1, RV_CRYPTO_DH);
  lib->key_free(p2, RV_CRYPTO_DH);
}

TEST(CryptoDh, UnreadableParameterFilesWriteTheirMessage) {
  RVCryptoLib* lib = SlotLib();
  TempSystem sys;
  sys.WriteFile("garbage.pem", "-----BEGIN DH PARAMETERS-----\nAAAA\n-----END DH PARAMETERS-----\n");
  std::string missing = sys.path("missing.pem");
  struct Case {
    std::string file;
    std::string message;
  } cases[] = {
      {missing, "BIO_new_file(" + missing + ") - returns NULL\n"},
      {sys.path("garbage.pem"), "_bioreaddhparams() - PEM_read_bio_DHparams() returns NULL\n"},
      {TestKeyFiles().rsa_public, "_bioreaddhparams() - PEM_read_bio_DHparams() returns NULL\n"},
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(lib->dh_params_read(c.file.c_str()), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
  }
}
