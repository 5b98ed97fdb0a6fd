// The signature check and the install-file download: local names, reuse of
// a verified local file, fresh downloads, every way a signature can fail,
// the stop at the first failing entry, and the messages with their levels.
// Signatures are made by the openssl command with the development key.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/config.h"
#include "engine/work_entry.h"
#include "fetch/fetch_file.h"
#include "engine/download_files.h"
#include "fetch/signature_check.h"
#include "fetch/signing_key.h"
#include "tests/fetch/fetch_test_util.h"

namespace {

using Texts = std::vector<std::string>;

TEST(LocalFileName, Table) {
  const struct {
    const char* install_file;
    const char* local; // null: refused
  } cases[] = {
      {"pkg.msi", "pkg.msi"},
      {"/tqupdate/pkg.msi", "pkg.msi"},
      {"\\\\server\\share\\dir\\pkg.msi", "pkg.msi"},
      {"dir\\\\sub//pkg.msi", "pkg.msi"},
      {"http://host/a/b.msi", "b.msi"},
      {"a/./b.msi", "b.msi"},
      {"..pkg", "..pkg"},
      {"", nullptr},
      {"dir/", nullptr},
      {"dir\\", nullptr},
      {".", nullptr},
      {"..", nullptr},
      {"/srv/..", nullptr},
      {"\\srv\\.", nullptr},
  };
  for (const auto& c : cases) {
    char out[kUpdNameSize];
    int r = UpdLocalFileName(c.install_file, out);
    if (c.local) {
      EXPECT_EQ(r, 0) << c.install_file;
      EXPECT_STREQ(out, c.local) << c.install_file;
    } else {
      EXPECT_EQ(r, -1) << c.install_file << " -> " << out;
    }
  }
}

TEST(SigningKey, CompiledInKeyIsAPublicKeyPem) {
  std::string pem = UpdSigningPublicKey();
  EXPECT_EQ(pem.rfind("-----BEGIN PUBLIC KEY-----\n", 0), 0u);
  EXPECT_EQ(pem.substr(pem.size() - 24), "-----END PUBLIC KEY-----");
  EXPECT_EQ(UpdSigningKeyIsDevelopment() != 0, DevKeyCompiledIn());
}

// Tests whose signatures must verify need the development key compiled in.
#define REQUIRE_DEV_KEY()                                                                      \
  do {                                                                                         \
    if (!DevKeyCompiledIn()) GTEST_SKIP() << "a key other than the development key is compiled in"; \
  } while (0)

class Download : public testing::Test {
 protected:

  // Writes a package and its sig.txt line (with a line break) to the server.
  void Publish(const std::string& name, const std::string& data) {
    fs_.WriteServer(name, data);
    fs_.WriteServer(name + ".sig", OpensslSignature(fs_.Server(name), DevPrivateKey()) + "\n");
  }
  // Appends an entry for a published package to the work list.
  UpdEntry* Add(const std::string& install_file, const std::string& signature_file) {
    UpdEntry* e = NewEntry(install_file, signature_file);
    UpdEntry** tail = &g_upd_config->work_list;
    while (*tail) tail = &(*tail)->next;
    *tail = e;
    return e;
  }
  UpdEntry* AddPublished(const std::string& name) { return Add(fs_.Server(name), fs_.Server(name + ".sig")); }
  // The messages of a fresh download of one package.
  Texts Downloaded(const std::string& local, const std::string& install, const std::string& sig) {
    return {"Downloading Files: " + install + " and " + sig, "Downloading OK", "Verifying Signature",
            "Signature Verify OK on: " + local, "Downloaded and Verified: " + local + " - OK"};
  }
  Texts Framed(Texts middle, bool end = true) {
    middle.insert(middle.begin(), "Downloading/Verifying Install Files - Start");
    if (end) middle.push_back("Downloading/Verifying Install Files - End");
    return middle;
  }

  FetchSystem fs_;
};

TEST_F(Download, EmptyWorkListLogsStartAndEnd) {
  auto levels = fs_.engine().Levels([] { EXPECT_EQ(UpdDownloadFiles(), 0); });
  EXPECT_EQ(levels, (std::vector<CapturedMessage>{{3, "Downloading/Verifying Install Files - Start"},
                                                  {3, "Downloading/Verifying Install Files - End"}}));
}

TEST_F(Download, FreshDownloadWithLevels) {
  REQUIRE_DEV_KEY();
  Publish("pkg.msi", "package bytes\n");
  UpdEntry* e = AddPublished("pkg.msi");
  auto levels = fs_.engine().Levels([&] {
    std::remove(fs_.Work("pkg.msi").c_str());
    EXPECT_EQ(UpdDownloadFiles(), 0);
  });
  const std::string install = fs_.Server("pkg.msi"), sig = fs_.Server("pkg.msi.sig");
  EXPECT_EQ(levels, (std::vector<CapturedMessage>{{3, "Downloading/Verifying Install Files - Start"},
                                                  {3, "Downloading Files: " + install + " and " + sig},
                                                  {3, "Downloading OK"},
                                                  {0, "Verifying Signature"},
                                                  {3, "Signature Verify OK on: pkg.msi"},
                                                  {7, "Downloaded and Verified: pkg.msi - OK"},
                                                  {3, "Downloading/Verifying Install Files - End"}}));
  EXPECT_STREQ(e->local_file, "pkg.msi");
  EXPECT_EQ(fs_.ReadWork("pkg.msi"), "package bytes\n");
}

TEST_F(Download, VerifiedLocalFileFetchesOnlyTheSignature) {
  REQUIRE_DEV_KEY();
  // The server holds the signature but not the package: a fetch of the
  // package would fail.
  fs_.WriteWork("pkg.msi", "package bytes");
  fs_.WriteServer("pkg.msi.sig", OpensslSignature(fs_.Work("pkg.msi"), DevPrivateKey()) + "\n");
  AddPublished("pkg.msi");
  auto levels = fs_.engine().Levels([] { EXPECT_EQ(UpdDownloadFiles(), 0); });
  EXPECT_EQ(levels, (std::vector<CapturedMessage>{{3, "Downloading/Verifying Install Files - Start"},
                                                  {3, "File: pkg.msi exists and signature OK"},
                                                  {7, "Verified: pkg.msi - OK"},
                                                  {3, "Downloading/Verifying Install Files - End"}}));
  EXPECT_EQ(fs_.ReadWork("pkg.msi"), "package bytes");
}

TEST_F(Download, StaleLocalFileIsFetchedAgain) {
  REQUIRE_DEV_KEY();
  Publish("pkg.msi", "new package");
  fs_.WriteWork("pkg.msi", "old package");
  AddPublished("pkg.msi");
  EXPECT_EQ(UpdDownloadFiles(), 0);
  EXPECT_EQ(fs_.Texts(), Framed(Downloaded("pkg.msi", fs_.Server("pkg.msi"), fs_.Server("pkg.msi.sig"))));
  EXPECT_EQ(fs_.ReadWork("pkg.msi"), "new package");
}

// Signatures that must not verify; each ends the run at the entry.
TEST_F(Download, BadSignatures) {
  const std::string data = "package bytes, version 2";
  fs_.WriteServer("raw", data);
  const std::string good = OpensslSignature(fs_.Server("raw"), DevPrivateKey());
  std::string changed = data;
  changed[5] ^= 0x01;
  const std::string over_file = OpensslSignature(fs_.Server("raw"), DevPrivateKey(), true);
  std::string other_key;
  {
    std::string priv = fs_.sys().path("other.pem"), pub = fs_.sys().path("other-pub.pem");
    ASSERT_EQ(RunSplit("openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out " + Quoted(priv), nullptr,
                       nullptr),
              0);
    other_key = OpensslSignature(fs_.Server("raw"), priv);
  }
  const struct {
    const char* what;
    std::string package;
    std::string sig;
    const char* extra; // a message before "Signature Verify Failed on", or null
  } cases[] = {
      {"one changed byte", changed, good + "\n", nullptr},
      {"signed over the file, not its digest", data, over_file + "\n", nullptr},
      {"another key", data, other_key + "\n", nullptr},
      {"split over two lines", data, good.substr(0, 256) + "\n" + good.substr(256) + "\n", nullptr},
      {"one character short", data, good.substr(0, good.size() - 1), "Error converting b64sig to binary sig"},
      {"not Base64", data, std::string(512, '*'), "Error converting b64sig to binary sig"},
      {"empty", data, "", nullptr},
      {"1,020 characters of Base64", data, std::string(1020, 'A') + "\n", nullptr},
      {"1,023 characters", data, std::string(1023, 'A') + "\r\n", "Error converting b64sig to binary sig"},
      {"1,024 characters", data, std::string(1024, 'A'), "Signature line longer than 1023 characters in: sig.txt"},
      {"5,000 characters", data, std::string(5000, 'A'), "Signature line longer than 1023 characters in: sig.txt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs_.WriteServer("pkg.msi", c.package);
    fs_.WriteServer("pkg.msi.sig", c.sig);
    UpdFreeWorkList(g_upd_config->work_list);
    g_upd_config->work_list = nullptr;
    AddPublished("pkg.msi");
    AddPublished("never.msi");
    std::remove(fs_.Work("pkg.msi").c_str());
    EXPECT_EQ(UpdDownloadFiles(), -1);
    Texts expected{"Downloading/Verifying Install Files - Start",
                   "Downloading Files: " + fs_.Server("pkg.msi") + " and " + fs_.Server("pkg.msi.sig"),
                   "Downloading OK", "Verifying Signature"};
    if (c.extra) expected.push_back(c.extra);
    expected.push_back("Signature Verify Failed on: pkg.msi");
    EXPECT_EQ(fs_.Texts(), expected);
    // The package that failed is gone (nothing can install it from the work
    // directory); the later entry is not looked at.
    EXPECT_FALSE(fs_.InWork("pkg.msi"));
    EXPECT_EQ(g_upd_config->work_list->next->local_file, nullptr);
  }
  // The unchanged package with its good signature passes.
  REQUIRE_DEV_KEY();
  fs_.WriteServer("pkg.msi", data);
  fs_.WriteServer("pkg.msi.sig", good + "\r\n");
  UpdFreeWorkList(g_upd_config->work_list);
  g_upd_config->work_list = nullptr;
  AddPublished("pkg.msi");
  EXPECT_EQ(UpdDownloadFiles(), 0);
}

TEST_F(Download, FailureLevel) {
  Publish("pkg.msi", "data");
  fs_.WriteServer("pkg.msi", "DATA");
  AddPublished("pkg.msi");
  auto levels = fs_.engine().Levels([&] { EXPECT_EQ(UpdDownloadFiles(), -1); });
  ASSERT_FALSE(levels.empty());
  EXPECT_EQ(levels.back(), (CapturedMessage{9, "Signature Verify Failed on: pkg.msi"}));
}

TEST_F(Download, BackslashNamesAreStoredUnderTheirLastPart) {
  REQUIRE_DEV_KEY();
  Publish("sub/pkg.msi", "package in a folder");
  std::string install = fs_.Server("") + "\\sub\\\\pkg.msi";
  std::string sig = fs_.Server("") + "\\sub\\pkg.msi.sig";
  UpdEntry* e = Add(install, sig);
  EXPECT_EQ(UpdDownloadFiles(), 0);
  EXPECT_STREQ(e->local_file, "pkg.msi");
  EXPECT_EQ(fs_.ReadWork("pkg.msi"), "package in a folder");
  // The messages show every backslash of a name escaped, doubled.
  EXPECT_EQ(fs_.Texts(), Framed(Downloaded("pkg.msi", fs_.Server("") + "\\\\sub\\\\\\\\pkg.msi",
                                           fs_.Server("") + "\\\\sub\\\\pkg.msi.sig")));
}

TEST_F(Download, NameWithoutSeparatorIsTheLocalName) {
  REQUIRE_DEV_KEY();
  // LocalShare reads a bare name from the work directory itself, so the
  // package is there already, verified by its fetched signature.
  fs_.WriteWork("pkg.msi", "bare");
  fs_.WriteServer("pkg.msi.sig", OpensslSignature(fs_.Work("pkg.msi"), DevPrivateKey()));
  UpdEntry* e = Add("pkg.msi", fs_.Server("pkg.msi.sig"));
  EXPECT_EQ(UpdDownloadFiles(), 0);
  EXPECT_STREQ(e->local_file, "pkg.msi");
  EXPECT_EQ(fs_.Texts(), Framed({"File: pkg.msi exists and signature OK", "Verified: pkg.msi - OK"}));
}

TEST_F(Download, StopsAtTheFirstFailingFetch) {
  REQUIRE_DEV_KEY();
  Publish("a.msi", "a");
  Publish("c.msi", "c");
  UpdEntry* a = AddPublished("a.msi");
  UpdEntry* b = AddPublished("b.msi");  // not on the server
  UpdEntry* c = AddPublished("c.msi");
  EXPECT_EQ(UpdDownloadFiles(), -1);
  Texts expected = Downloaded("a.msi", fs_.Server("a.msi"), fs_.Server("a.msi.sig"));
  expected.push_back("Downloading Files: " + fs_.Server("b.msi") + " and " + fs_.Server("b.msi.sig"));
  expected.push_back("Error: 2 Copying file: " + fs_.Server("b.msi") + " to b.msi");
  EXPECT_EQ(fs_.Texts(), Framed(expected, false));
  EXPECT_STREQ(a->local_file, "a.msi");
  EXPECT_STREQ(b->local_file, "b.msi");
  EXPECT_EQ(c->local_file, nullptr);
  EXPECT_EQ(fs_.WorkNames(), (std::vector<std::string>{"a.msi", "sig.txt"}));
}

TEST_F(Download, MissingSignatureOfAPresentFileStops) {
  fs_.WriteWork("pkg.msi", "present");
  Add(fs_.Server("pkg.msi"), fs_.Server("none.sig"));
  EXPECT_EQ(UpdDownloadFiles(), -1);
  EXPECT_EQ(fs_.Texts(), Framed({"Error: 2 Copying file: " + fs_.Server("none.sig") + " to sig.txt"}, false));
}

TEST_F(Download, NamesWithoutAFilePartAreRefused) {
  fs_.WriteServer("pkg.msi.sig", "x");
  for (std::string install : {fs_.Server(".."), fs_.Server("sub/"), std::string("..")}) {
    UpdFreeWorkList(g_upd_config->work_list);
    g_upd_config->work_list = nullptr;
    UpdEntry* e = Add(install, fs_.Server("pkg.msi.sig"));
    auto levels = fs_.engine().Levels([] { EXPECT_EQ(UpdDownloadFiles(), -1); });
    EXPECT_EQ(levels,
              (std::vector<CapturedMessage>{
                  {3, "Downloading/Verifying Install Files - Start"},
                  {9, "Install file name has no file name part to store it under: " + install}}))
        << install;
    EXPECT_EQ(e->local_file, nullptr);
    EXPECT_EQ(fs_.WorkNames(), std::vector<std::string>{}) << install;
  }
}

class VerifySignature : public Download {};

TEST_F(VerifySignature, ItsOwnFailures) {
  REQUIRE_DEV_KEY();
  fs_.WriteWork("pkg.msi", "data");
  // No local file.
  EXPECT_EQ(UpdVerifySignature("none.msi"), -1);
  // No sig.txt.
  EXPECT_EQ(UpdVerifySignature("pkg.msi"), -1);
  // A good one, with and without a line break, and a wrong one (not logged).
  std::string good = OpensslSignature(fs_.Work("pkg.msi"), DevPrivateKey());
  EXPECT_EQ(good.size(), 512u);
  fs_.WriteWork("sig.txt", good);
  EXPECT_EQ(UpdVerifySignature("pkg.msi"), 0);
  fs_.WriteWork("sig.txt", good + "\n");
  EXPECT_EQ(UpdVerifySignature("pkg.msi"), 0);
  fs_.WriteWork("sig.txt", "QUJD\n");
  EXPECT_EQ(UpdVerifySignature("pkg.msi"), -1);
  EXPECT_EQ(fs_.Texts(), (Texts{"Error Calculating Message Digest on file: none.msi", "Error opening sig file: sig.txt"}));
  auto levels = fs_.engine().Levels([] { UpdVerifySignature("none.msi"); });
  EXPECT_EQ(levels, (std::vector<CapturedMessage>{{9, "Error Calculating Message Digest on file: none.msi"}}));
}

}  // namespace
