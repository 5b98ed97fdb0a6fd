// tqupdpub sign-script: the metadata it writes reads back, lists the
// script's packages under their products and verifies with the key's
// public half; serials never go down by accident; bad arguments and
// missing packages are refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "fetch/metadata_signature.h"
#include "fetch/script_metadata.h"
#include "tests/fetch/fetch_test_util.h"
#include "tests/fetch/http_test_util.h"

namespace {

const std::string kPub = TQ_BINARY_DIR "/fetch/tqupdpub";

}  // namespace

TEST(SignScript, WritesMetadataAndGuardsTheSerial) {
  FetchSystem f;
  const std::string dir = f.sys().path("repo");
  std::filesystem::create_directories(dir + "/pkgs");
  httpt::WriteAll(dir + "/updscript.txt",
                  "MessageDigest Filename=md.txt,Type=sha256\nUpdate\n  Name tqa-win64\n  InstallFile "
                  "\"/pkgs/a b.msi\"\n  SignatureFile /pkgs/a.sig\nUpdate\n  Name tqb-win64\n  InstallFile "
                  "\\pkgs\\b.msi\n  SignatureFile /pkgs/b.sig\n");
  httpt::WriteAll(dir + "/pkgs/a b.msi", "package a");
  httpt::WriteAll(dir + "/pkgs/b.msi", "package b, longer");
  const std::string base = kPub + " sign-script --key " + Quoted(DevPrivateKey()) + " --dir " + Quoted(dir + "/pkgs") +
                           " --expires 2040-02-29 ";
  const std::string script = " " + Quoted(dir + "/updscript.txt");
  const struct {
    const char* what;
    std::string args;
    int rc;
    const char* err;     // part of standard error
    uint64_t serial;     // serial in the file afterwards
  } runs[] = {
      {"first", "--serial 5 --downgrade tqb-win64", 0, "", 5},
      {"same serial", "--serial 5", 1, "serial 5 is not higher than 5", 5},
      {"lower serial", "--serial 4", 1, "serial 4 is not higher than 5", 5},
      {"serial 0", "--serial 0", 2, "--serial must be a number", 5},
      {"serial beyond 64 bits", "--serial 18446744073709551616", 2, "--serial must be a number", 5},
      {"expiry not a date", "--serial 9 --expires soon", 2, "--expires must be", 5},
      {"downgrade of no entry", "--serial 9 --downgrade tqc-win64", 1, "no entry of the script has this Name", 5},
      {"higher serial", "--serial 6", 0, "", 6},
      {"lower serial forced", "--serial 3 --force", 0, "", 3},
  };
  for (const auto& r : runs) {
    SCOPED_TRACE(r.what);
    std::string out, err;
    EXPECT_EQ(RunSplit(base + r.args + script, &out, &err), r.rc) << err;
    EXPECT_NE(err.find(r.err), std::string::npos) << err;
    UpdScriptMetadata meta;
    std::string error;
    ASSERT_EQ(UpdParseScriptMetadata(httpt::ReadAll(dir + "/updscript.sig"), &meta, &error), 0) << error;
    EXPECT_EQ(meta.serial, r.serial);
  }
  UpdScriptMetadata meta;
  std::string error;
  ASSERT_EQ(UpdParseScriptMetadata(httpt::ReadAll(dir + "/updscript.sig"), &meta, &error), 0) << error;
  EXPECT_EQ(UpdUtcTimeText(meta.expires), "2040-02-29T00:00:00Z");
  UpdSha256Digest digest;
  int64_t length = 0;
  ASSERT_EQ(UpdFileSha256((dir + "/updscript.txt").c_str(), &digest, &length), 0);
  EXPECT_EQ(meta.script_sha256, digest);
  EXPECT_EQ(meta.script_length, length);
  ASSERT_EQ(meta.packages.size(), 2u);
  EXPECT_EQ(meta.packages[0].file, "a b.msi");
  EXPECT_EQ(meta.packages[0].product, "tqa-win64");
  EXPECT_EQ(meta.packages[0].length, 9);
  EXPECT_EQ(meta.packages[0].sha256, UpdSha256("package a"));
  EXPECT_EQ(meta.packages[0].downgrade, 0);
  EXPECT_EQ(meta.packages[1].file, "b.msi");
  EXPECT_EQ(meta.packages[1].downgrade, 0);  // the forced run gave no --downgrade
  std::string public_pem = httpt::ReadAll(DevPublicKey());
  EXPECT_EQ(UpdMetadataVerifyWith(public_pem.c_str(), meta.body, meta.signature), 1);

  // A package the script names but the directory lacks: nothing written.
  std::filesystem::remove(dir + "/pkgs/b.msi");
  std::string out, err;
  EXPECT_EQ(RunSplit(base + "--serial 10 --out " + Quoted(dir + "/other.sig") + script, &out, &err), 1);
  EXPECT_NE(err.find("cannot read the package " + dir + "/pkgs/b.msi"), std::string::npos) << err;
  EXPECT_FALSE(std::filesystem::exists(dir + "/other.sig"));
}
