// The record as a binary interface: what RVCryptoInit fills for each caller
// version, and the cipher listing of the `test` slot.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "crypto/crypto_lib.h"
#include "tests/crypto/crypto_test_util.h"

namespace {

constexpr size_t kVersionedStart = offsetof(RVCryptoLib, cipher_setup);

// True when the 8 bytes of the slot at `offset` are all `fill`.
bool SlotIs(const unsigned char* raw, size_t offset, unsigned char fill) {
  for (size_t i = 0; i < 8; i++)
    if (raw[offset + i] != fill) return false;
  return true;
}

}  // namespace

// A caller's record ends where its version ends: nothing past it is written.
// The bytes after the base part are filled with a pattern that must survive
// where the caller's version does not ask for the slot.
TEST(CryptoRecord, CallerVersionDecidesWhichSlotsAreFilled) {
  struct Case {
    int16_t caller_version;
    bool streaming;  // cipher_setup ... b64_decode_final
    bool derive;     // cipher_derive_key
    bool hmac;       // hmac_key_new
  } cases[] = {
      {0, false, false, false},   {502, false, false, false}, {503, true, false, false},
      {504, true, false, false},  {505, true, true, false},   {602, true, true, false},
      {603, true, true, true},    {675, true, true, true},
  };
  for (const Case& c : cases) {
    auto raw = std::make_unique<unsigned char[]>(sizeof(RVCryptoLib));
    std::memset(raw.get(), 0, kVersionedStart);
    std::memset(raw.get() + kVersionedStart, 0xA5, sizeof(RVCryptoLib) - kVersionedStart);
    RVCryptoLib* lib = reinterpret_cast<RVCryptoLib*>(raw.get());
    lib->caller_version = c.caller_version;
    ASSERT_EQ(RVCryptoInit(lib), 0);
    EXPECT_EQ(lib->version, 675);
    EXPECT_EQ(lib->caller_version, c.caller_version);
    EXPECT_EQ(lib->seed_len, 1024);
    EXPECT_EQ(lib->module, nullptr);
    // Every base slot is filled.
    for (size_t off = offsetof(RVCryptoLib, test); off <= offsetof(RVCryptoLib, mem_free); off += 8)
      EXPECT_FALSE(SlotIs(raw.get(), off, 0)) << "base slot at " << off;
    for (size_t off = kVersionedStart; off < offsetof(RVCryptoLib, cipher_derive_key); off += 8)
      EXPECT_EQ(!SlotIs(raw.get(), off, 0xA5), c.streaming) << c.caller_version << " slot at " << off;
    EXPECT_EQ(!SlotIs(raw.get(), offsetof(RVCryptoLib, cipher_derive_key), 0xA5), c.derive) << c.caller_version;
    EXPECT_EQ(!SlotIs(raw.get(), offsetof(RVCryptoLib, hmac_key_new), 0xA5), c.hmac) << c.caller_version;
  }
}

TEST(CryptoRecord, TestSlotListsLowerCaseCipherNamesThreeToALine) {
  RVCryptoLib* lib = SlotLib();
  ASSERT_NE(lib, nullptr);
  testing::internal::CaptureStdout();
  EXPECT_EQ(lib->test("hello"), 0);
  std::string out = testing::internal::GetCapturedStdout();
  const std::string head = "RVCryptoTest(): hello\nCipher Types\n";
  ASSERT_EQ(out.compare(0, head.size(), head), 0) << out.substr(0, 80);
  std::string body = out.substr(head.size());
  ASSERT_FALSE(body.empty());
  ASSERT_EQ(body.back(), '\n');
  // Each entry is "-" and the name padded to 25, followed by " " or "\n".
  size_t entries = 0;
  bool saw_bf = false, saw_cast5 = false, saw_des = false, saw_aes = false;
  size_t pos = 0;
  while (pos < body.size() && body[pos] == '-') {
    size_t end = body.find_first_of(" \n", pos);
    std::string name = body.substr(pos + 1, end - pos - 1);
    ASSERT_FALSE(name.empty());
    EXPECT_TRUE(std::islower(static_cast<unsigned char>(name[0]))) << name;
    size_t field = std::max<size_t>(name.size(), 25);
    pos += 1 + field;  // "-" and the padded name
    char sep = body[pos];
    entries++;
    EXPECT_EQ(sep, entries % 3 == 0 ? '\n' : ' ') << "after " << name;
    pos++;
    saw_bf |= name == "bf-cbc";
    saw_cast5 |= name == "cast5-cbc";
    saw_des |= name == "des-cbc";
    saw_aes |= name == "aes-256-cbc";
  }
  EXPECT_GT(entries, 20u);
  EXPECT_EQ(body.substr(pos), "\n");
  EXPECT_TRUE(saw_bf && saw_cast5 && saw_des && saw_aes);
}
