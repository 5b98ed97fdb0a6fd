// Digests of memory and files: known answers for every type, files read in
// pieces, bad types and missing files.
#include <gtest/gtest.h>

#include <string>

#include "crypto/crypto_lib.h"
#include "tests/crypto/crypto_test_util.h"
#include "tests/support/temp_system.h"

namespace {

struct DigestCase {
  int type;
  const char* abc;    // digest of "abc"
  const char* empty;  // digest of no data
};

const DigestCase kDigests[] = {
    {RV_DIGEST_SHA1, "a9993e364706816aba3e25717850c26c9cd0d89d", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
    {RV_DIGEST_RIPEMD160, "8eb208f7e05d987a9b044a8e98c6b087f15a0bfc", "9c1185a5c5e9fc54612808977ee8f548b2258d31"},
    {RV_DIGEST_MD5, "900150983cd24fb0d6963f7d28e17f72", "d41d8cd98f00b204e9800998ecf8427e"},
    {RV_DIGEST_SHA256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
     "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {RV_DIGEST_SHA512,
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f",
     "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e"},
};

}  // namespace

TEST(CryptoDigest, KnownAnswersFromMemoryAndFile) {
  RVCryptoLib* lib = SlotLib();
  ASSERT_NE(lib, nullptr);
  TempSystem sys;
  sys.WriteFile("abc.txt", "abc");
  sys.WriteFile("empty.txt", "");
  for (const DigestCase& c : kDigests) {
    unsigned char out[RV_DIGEST_MAX_LEN];
    int n = lib->digest_mem("abc", 3, out, c.type);
    ASSERT_GT(n, 0) << c.type;
    EXPECT_EQ(Hex(out, static_cast<size_t>(n)), c.abc) << c.type;
    n = lib->digest_mem("", 0, out, c.type);
    EXPECT_EQ(Hex(out, static_cast<size_t>(n)), c.empty) << c.type;
    n = lib->digest_file(sys.path("abc.txt").c_str(), out, c.type);
    EXPECT_EQ(Hex(out, static_cast<size_t>(n)), c.abc) << c.type;
    n = lib->digest_file(sys.path("empty.txt").c_str(), out, c.type);
    EXPECT_EQ(Hex(out, static_cast<size_t>(n)), c.empty) << c.type;
  }
}

// A file longer than one 4096-byte piece and not a multiple of it digests
// like the same bytes in memory.
TEST(CryptoDigest, FileOfManyPiecesMatchesMemory) {
  RVCryptoLib* lib = SlotLib();
  TempSystem sys;
  std::string data;
  for (int i = 0; i < 3 * 4096 + 17; i++) data.push_back(static_cast<char>(i * 7 + (i >> 8)));
  sys.WriteFile("big.bin", data);
  for (int type : {RV_DIGEST_SHA1, RV_DIGEST_SHA256}) {
    unsigned char a[RV_DIGEST_MAX_LEN], b[RV_DIGEST_MAX_LEN];
    int na = lib->digest_mem(data.data(), static_cast<int>(data.size()), a, type);
    int nb = lib->digest_file(sys.path("big.bin").c_str(), b, type);
    ASSERT_GT(na, 0);
    EXPECT_EQ(Hex(a, static_cast<size_t>(na)), Hex(b, static_cast<size_t>(nb)));
  }
}

TEST(CryptoDigest, BadTypesMissingFilesAndDirectoriesFail) {
  RVCryptoLib* lib = SlotLib();
  TempSystem sys;
  sys.WriteFile("abc.txt", "abc");
  unsigned char out[RV_DIGEST_MAX_LEN];
  for (int type : {0, 6, -1, 100}) {
    EXPECT_EQ(lib->digest_mem("abc", 3, out, type), -1) << type;
    EXPECT_EQ(lib->digest_file(sys.path("abc.txt").c_str(), out, type), -1) << type;
  }
  EXPECT_EQ(lib->digest_mem("abc", -1, out, RV_DIGEST_SHA1), -1);
  EXPECT_EQ(lib->digest_file(sys.path("missing.txt").c_str(), out, RV_DIGEST_SHA1), -1);
  EXPECT_EQ(lib->digest_file(sys.root().c_str(), out, RV_DIGEST_SHA1), -1);
}
