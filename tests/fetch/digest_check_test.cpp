// The message digest check: the MessageDigest value's parsing, every digest
// type by name in any case, the comparison of md.txt's first line with the
// computed encoding, and the failures with their messages and levels. The
// expected digests come from the openssl command.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypto/crypto_lib.h"
#include "fetch/digest_check.h"
#include "fetch/digest_statement.h"
#include "tests/fetch/fetch_test_util.h"

namespace {

using Texts = std::vector<std::string>;

const char kScript[] = "MessageDigest Filename=md.txt,Type=sha256\nUpdate\n    Name tqupdate-win64\n";

TEST(DigestStatement, ParseTable) {
  const struct {
    const char* value;
    const char* file;
    int type;
    const char* missing;
  } cases[] = {
      {"Filename=md.txt,Type=sha256", "md.txt", RV_DIGEST_SHA256, ""},
      {"Filename=md.txt", "md.txt", RV_DIGEST_SHA1, ""},
      {"TYPE=SHA512,FILENAME=/x/md.txt", "/x/md.txt", RV_DIGEST_SHA512, ""},
      {"Type=Md5,Filename=a,Filename=b", "b", RV_DIGEST_MD5, ""},
      {"Type=RipeMD160", "", RV_DIGEST_RIPEMD160, ""},
      {"Type=sha384,Filename=a", "a", 0, ""},
      {"Type=sha256,Type=bogus", "", 0, ""},
      {"Filename=a,Type=sha1,Extra", "a", RV_DIGEST_SHA1, "Extra"},
      {"Filename", "", RV_DIGEST_SHA1, "Filename"},
      {"Other=1,Filename=a", "a", RV_DIGEST_SHA1, ""},
      {"Filename='a,b=c',Type=md5", "a,b=c", RV_DIGEST_MD5, ""},
      {",,Filename==a,,", "a", RV_DIGEST_SHA1, ""},
      {"", "", RV_DIGEST_SHA1, ""},
  };
  for (const auto& c : cases) {
    UpdDigestChoice choice;
    UpdParseDigestStatement(c.value, &choice);
    EXPECT_EQ(choice.file_name, c.file) << c.value;
    EXPECT_EQ(choice.type, c.type) << c.value;
    EXPECT_EQ(choice.missing_key, c.missing) << c.value;
  }
}

TEST(DigestStatement, AtMost29Items) {
  // 14 ignored pairs fill 28 items; "Filename" is the 29th and its value
  // would be the 30th, which the tokenizer has no room for.
  std::string value;
  for (int i = 0; i < 14; ++i) value += "k" + std::to_string(i) + "=v,";
  UpdDigestChoice choice;
  UpdParseDigestStatement((value + "Filename=md.txt").c_str(), &choice);
  EXPECT_EQ(choice.file_name, "");
  EXPECT_EQ(choice.missing_key, "Filename");
  // With 13 pairs before it, the pair fits (items 27 and 28).
  value.clear();
  for (int i = 0; i < 13; ++i) value += "k" + std::to_string(i) + "=v,";
  UpdParseDigestStatement((value + "Filename=md.txt").c_str(), &choice);
  EXPECT_EQ(choice.file_name, "md.txt");
  EXPECT_EQ(choice.missing_key, "");
}

class DigestCheck : public testing::Test {
 protected:
  void SetUp() override { fs_.WriteWork("updscript.txt", kScript); }
  std::string Computed(const std::string& type) { return OpensslDigest(fs_.Work("updscript.txt"), type); }
  std::string Md() const { return fs_.Server("md.txt"); }

  FetchSystem fs_;
};

TEST_F(DigestCheck, EveryTypeByNameInAnyCase) {
  const struct {
    const char* type_value; // as written in the statement, or null for none
    const char* openssl;    // the openssl digest name
  } cases[] = {
      {nullptr, "sha1"},        {"sha1", "sha1"},      {"SHA1", "sha1"},
      {"sha256", "sha256"},     {"SHA256", "sha256"},  {"sha512", "sha512"},
      {"Sha512", "sha512"},     {"md5", "md5"},        {"MD5", "md5"},
      {"ripemd160", "ripemd160"}, {"RIPEMD160", "ripemd160"},
  };
  for (const auto& c : cases) {
    std::string line = Computed(c.openssl);
    fs_.WriteServer("md.txt", line + "\n");
    std::string value = "Filename=" + Md();
    if (c.type_value) value += std::string(",Type=") + c.type_value;
    EXPECT_EQ(UpdMessageDigest(value.c_str()), 0) << value;
    EXPECT_EQ(fs_.Texts(), (Texts{"Successfully fetched MessageDigest File: " + Md(),
                                  "Message Digest Verify on Script File - OK"}))
        << value;
    EXPECT_EQ(fs_.ReadWork("md.txt"), line + "\n");
  }
}

TEST_F(DigestCheck, LevelsOfASuccessfulCheck) {
  fs_.WriteServer("md.txt", Computed("sha256"));
  std::string value = "Filename=" + Md() + ",Type=sha256";
  auto levels = fs_.engine().Levels([&] { EXPECT_EQ(UpdMessageDigest(value.c_str()), 0); });
  EXPECT_EQ(levels, (std::vector<CapturedMessage>{{3, "Successfully fetched MessageDigest File: " + Md()},
                                                  {3, "Message Digest Verify on Script File - OK"}}));
}

// What md.txt's first line may and may not hold, for a SHA-256 check.
TEST_F(DigestCheck, DigestLineTable) {
  const std::string d = Computed("sha256");
  std::string hex;
  {
    std::string out;
    RunSplit("openssl dgst -sha256 -r " + Quoted(fs_.Work("updscript.txt")) + " | cut -c1-64", &out, nullptr);
    hex = out.substr(0, 64);
  }
  const struct {
    std::string md;    // md.txt's content
    bool ok;           // verified
    std::string found; // the found text of the failure message
  } cases[] = {
      {d, true, ""},
      {d + "\n", true, ""},
      {d + "\r\n", true, ""},
      {d + "   and a comment\nsecond line\n", true, ""},
      {d + "trailing", true, ""},
      {d.substr(0, d.size() - 1), false, d.substr(0, d.size() - 1)},
      {d.substr(0, d.size() - 1) + "\n", false, d.substr(0, d.size() - 1)},
      {hex, false, hex.substr(0, d.size())},
      {"", false, ""},
      {"\n" + d, false, ""},
      {" " + d, false, (" " + d).substr(0, d.size())},
  };
  std::string value = "Filename=" + Md() + ",Type=sha256";
  for (const auto& c : cases) {
    fs_.WriteServer("md.txt", c.md);
    EXPECT_EQ(UpdMessageDigest(value.c_str()), c.ok ? 0 : -1) << c.md;
    Texts expected{"Successfully fetched MessageDigest File: " + Md()};
    expected.push_back(c.ok ? "Message Digest Verify on Script File - OK"
                            : "Message Digest Verify - Failed, Calc: " + d + ", Found: " + c.found);
    EXPECT_EQ(fs_.Texts(), expected) << c.md;
  }
}

TEST_F(DigestCheck, FailureLevels) {
  fs_.WriteServer("md.txt", "short");
  std::string value = "Filename=" + Md() + ",Type=sha256";
  auto levels = fs_.engine().Levels([&] { EXPECT_EQ(UpdMessageDigest(value.c_str()), -1); });
  EXPECT_EQ(levels,
            (std::vector<CapturedMessage>{{3, "Successfully fetched MessageDigest File: " + Md()},
                                          {9, "Message Digest Verify - Failed, Calc: " + Computed("sha256") +
                                                  ", Found: short"}}));
}

TEST_F(DigestCheck, NoUsableStatementFetchesNothing) {
  fs_.WriteServer("md.txt", Computed("sha1"));
  for (std::string value : {"Type=sha384,Filename=" + Md(), std::string("Type=sha256"), std::string(""),
                            std::string("Filename=''")}) {
    auto levels = fs_.engine().Levels([&] { EXPECT_EQ(UpdMessageDigest(value.c_str()), -1); });
    EXPECT_EQ(levels, (std::vector<CapturedMessage>{{9, "No Message Digest Specified in: updscript-on-server.txt"}}))
        << value;
    EXPECT_FALSE(fs_.InWork("md.txt")) << value;
  }
}

TEST_F(DigestCheck, KeyWithoutValue) {
  // The complete pair before the lone key still leads to a check.
  fs_.WriteServer("md.txt", Computed("md5"));
  std::string value = "Filename=" + Md() + ",Type=md5,Trailing";
  auto levels = fs_.engine().Levels([&] { EXPECT_EQ(UpdMessageDigest(value.c_str()), 0); });
  EXPECT_EQ(levels, (std::vector<CapturedMessage>{{8, "Missing arg for MessageDigest option: Trailing"},
                                                  {3, "Successfully fetched MessageDigest File: " + Md()},
                                                  {3, "Message Digest Verify on Script File - OK"}}));
  // Without one: both messages, nothing fetched.
  fs_.Texts();
  EXPECT_EQ(UpdMessageDigest("Type=md5,Filename"), -1);
  EXPECT_EQ(fs_.Texts(), (Texts{"Missing arg for MessageDigest option: Filename",
                                "No Message Digest Specified in: updscript-on-server.txt"}));
}

TEST_F(DigestCheck, FetchFailure) {
  std::string missing = fs_.Server("none.txt");
  auto levels =
      fs_.engine().Levels([&] { EXPECT_EQ(UpdMessageDigest(("Filename=" + missing + ",Type=sha1").c_str()), -1); });
  EXPECT_EQ(levels, (std::vector<CapturedMessage>{{9, "Error: 2 Copying file: " + missing + " to md.txt"},
                                                  {8, "Failed to fetch Message Digest File: " + missing}}));
  EXPECT_FALSE(fs_.InWork("md.txt"));
}

TEST_F(DigestCheck, ScriptMissing) {
  fs_.WriteServer("md.txt", "x");
  std::remove(fs_.Work("updscript.txt").c_str());
  auto levels = fs_.engine().Levels([&] { EXPECT_EQ(UpdVerifyDigest(Md().c_str(), RV_DIGEST_SHA1), -1); });
  EXPECT_EQ(levels, (std::vector<CapturedMessage>{
                        {3, "Successfully fetched MessageDigest File: " + Md()},
                        {9, "Error Calculating Message Digest on lcl script file: updscript.txt"}}));
}

TEST_F(DigestCheck, DigestTypeTheLibraryDoesNotKnow) {
  fs_.WriteServer("md.txt", Computed("sha1"));
  EXPECT_EQ(UpdVerifyDigest(Md().c_str(), 9), -1);
  EXPECT_EQ(fs_.Texts(), (Texts{"Successfully fetched MessageDigest File: " + Md(),
                                "Error Calculating Message Digest on lcl script file: updscript.txt"}));
}

}  // namespace
