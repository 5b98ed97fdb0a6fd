// The update check over a LocalShare server with real, signed packages: an
// empty script, a script that cannot be fetched, test mode, a package that
// fails its signature, installation under Automatic (and a failing one),
// the work file under Prompt, and a script that fails its digest check; in
// every case the check's temporary files are gone afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/config.h"
#include "engine/update_check.h"
#include "engine/work_dir.h"
#include "engine/work_entry.h"
#include "engine/work_file.h"
#include "platform/file.h"
#include "platform/installer.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "runtime/alloc.h"
#include "service/command_line.h"
#include "tests/fetch/fetch_test_util.h"
#include "tests/support/log_texts.h"
#include "tests/support/msi_fixture.h"

namespace {

using Texts = std::vector<std::string>;

const MsiTestProduct kP1 = {"tqcheck-p-win64", "1.0.0", "{5E2B8C31-0001-4B22-8B00-0000000000A1}",
                            "{5E2B8C31-00AA-4B22-8B00-0000000000AA}", ""};
const MsiTestProduct kP2 = {"tqcheck-p-win64", "2.0.0", "{5E2B8C31-0002-4B22-8B00-0000000000A2}",
                            "{5E2B8C31-00AA-4B22-8B00-0000000000AA}", ""};
const MsiTestProduct kQ = {"tqcheck-q-win64", "1.2.0", "{5E2B8C31-0003-4B22-8B00-0000000000B1}",
                           "{5E2B8C31-00BB-4B22-8B00-0000000000BB}", ""};
// A product whose package lies in the work directory but is never installed.
const MsiTestProduct kStale = {"tqcheck-stale-win64", "1.0.0", "{5E2B8C31-0004-4B22-8B00-0000000000C1}",
                               "{5E2B8C31-00CC-4B22-8B00-0000000000CC}", ""};


// The registry's Version of a product, "<missing>" when absent.
std::string RegVersion(const std::string& product) {
  PlatHKey key = nullptr;
  std::string path = "SOFTWARE\\TQ Software\\" + product;
  if (PlatRegOpenKey(PLAT_HKEY_LOCAL_MACHINE, path.c_str(), PLAT_KEY_READ, &key) != 0) return "<missing>";
  char data[256];
  uint32_t size = sizeof data;
  uint32_t type = 0;
  uint32_t rc = PlatRegQueryValue(key, "Version", &type, data, &size);
  PlatRegCloseKey(key);
  return rc == 0 ? std::string(data) : "<missing>";
}

class CheckTest : public testing::Test {
 protected:
  void SetUp() override {
    UpdSetWorkDir(fs_.sys().path("work").c_str());
    RVFree(g_upd_config->script);
    g_upd_config->script = RVStrDup(fs_.Server("updscript.txt").c_str());
    g_upd_config->install_type = UPD_INSTALL_AUTOMATIC;
    g_upd_options.test_mode = 0;
  }
  void TearDown() override {
    g_upd_options.test_mode = 0;
    UpdSetWorkDir("");
  }
  // Tests that publish signed packages need the development key and wixl.
  static bool CanPublish() { return DevKeyCompiledIn() && MsiFixtureToolsPresent(); }

  // Builds `p` (with `sql` applied) into a package on the server as `file`
  // and signs it there as `file` without ".msi" plus ".sig".
  void Publish(const MsiTestProduct& p, const std::string& file, const std::string& sql = "") {
    std::string log;
    std::string built = MsiFixtureBuild(fs_.sys().path("build"), MSI_FIXTURE_SOURCE("app"), p, file, {}, &log);
    ASSERT_FALSE(built.empty()) << log;
    if (!sql.empty()) {
      ASSERT_EQ(MsiFixtureSql(built, sql), 0);
    }
    ASSERT_EQ(std::rename(built.c_str(), fs_.Server(file).c_str()), 0);
    fs_.WriteServer(Sig(file), OpensslSignature(fs_.Server(file), DevPrivateKey()) + "\n");
  }
  static std::string Sig(const std::string& file) { return file.substr(0, file.size() - 4) + ".sig"; }
  // A script entry for the published package `file`.
  std::string Entry(const std::string& name, const std::string& file, const std::string& extra = "") const {
    return "Update\n  Name " + name + "\n  InstallFile " + fs_.Server(file) + "\n  SignatureFile " +
           fs_.Server(Sig(file)) + "\n" + extra;
  }
  // The work-list line of an entry as the check logs it.
  std::string ListLine(const std::string& name, const std::string& file, int bits, uint32_t version) const {
    return "\t" + name + " - File: " + fs_.Server(file) + ", Sig: " + fs_.Server(Sig(file)) +
           ", Bits: " + std::to_string(bits) + ", InstVersion: " + std::to_string(version);
  }
  // Runs one check; its messages in *texts.
  int Check(Texts* texts) {
    fs_.Texts();
    int r = UpdCheck();
    *texts = fs_.Texts();
    return r;
  }
  // The check's temporary files are gone.
  void ExpectNoTemporaries() const {
    for (const char* name : {"updscript.txt", "md.txt", "sig.txt"}) EXPECT_FALSE(fs_.InWork(name)) << name;
  }
  // Installs a package of the work directory (as an earlier check would have).
  void InstallFromWork(const std::string& local) {
    std::string dir = fs_.sys().path("earlier");
    std::string props = "ALLUSERS=1 TARGETDIR=\"" + dir + "\" INSTALLDIR=\"" + dir + "\" REBOOT=ReallySuppress";
    ASSERT_EQ(MsiInstallProductA(fs_.Work(local).c_str(), props.c_str()), MSI_OK);
  }

  FetchSystem fs_;
};

TEST_F(CheckTest, ScriptWithoutEntriesDownloadsNothing) {
  fs_.WriteServer("updscript.txt", "# nothing on offer\nForceReboot True\n");
  auto levels = fs_.engine().Levels([&] {
    // Left-overs of an interrupted check are cleared too.
    fs_.WriteWork("md.txt", "stale digest\n");
    fs_.WriteWork("sig.txt", "stale signature\n");
    EXPECT_EQ(UpdCheck(), 0);
    EXPECT_EQ(fs_.WorkNames(), Texts{});
  });
  EXPECT_EQ(levels, (std::vector<CapturedMessage>{{3, "Checking for Software Updates"},
                                                  {3, "Successfully fetched script: " + fs_.Server("updscript.txt")},
                                                  {0, "WorkList Start"},
                                                  {0, "WorkList End"}}));
}

TEST_F(CheckTest, FetchFailureStillMovesTheLastCheck) {
  // The script of an earlier check is not read again.
  fs_.WriteWork("updscript.txt", "Update\n  Name old-win64\n  InstallFile /x.msi\n  SignatureFile /x.sig\n");
  g_upd_config->last_check = 0;
  int64_t before = PlatTimeNow();
  auto levels = fs_.engine().Levels([&] { EXPECT_EQ(UpdCheck(), -1); });
  int64_t after = PlatTimeNow();
  EXPECT_GE(g_upd_config->last_check, before);
  EXPECT_LE(g_upd_config->last_check, after);
  ASSERT_FALSE(levels.empty());
  EXPECT_EQ(levels.front(), (CapturedMessage{3, "Checking for Software Updates"}));
  EXPECT_EQ(levels.back(), (CapturedMessage{8, "Failed to fetch update script: " + fs_.Server("updscript.txt")}));
  for (const CapturedMessage& m : levels) {
    EXPECT_EQ(m.text.find("WorkList"), std::string::npos) << m;
    EXPECT_EQ(m.text.find("Successfully"), std::string::npos) << m;
  }
  EXPECT_EQ(fs_.WorkNames(), Texts{});
}

TEST_F(CheckTest, TestModeDownloadsAndVerifiesButInstallsAndRecordsNothing) {
  if (!CanPublish()) GTEST_SKIP() << "needs the development key compiled in and wixl";
  Publish(kP1, "p.msi");
  fs_.WriteServer("updscript.txt", Entry(kP1.name, "p.msi"));
  g_upd_options.test_mode = 1;
  for (uint16_t type : {UPD_INSTALL_AUTOMATIC, UPD_INSTALL_PROMPT}) {
    SCOPED_TRACE(type);
    g_upd_config->install_type = type;
    std::filesystem::remove(fs_.Work("p.msi"));
    Texts texts;
    EXPECT_EQ(Check(&texts), -1);
    EXPECT_GE(TqTextIndex(texts, "Downloaded and Verified: p.msi - OK"), 0);
    EXPECT_GE(TqTextIndex(texts, "Downloading/Verifying Install Files - End"), 0);
    EXPECT_EQ(TqTextsStarting(texts, "Install"), Texts{});
    EXPECT_EQ(fs_.WorkNames(), Texts{"p.msi"});
    EXPECT_FALSE(MsiFixtureInstalled(kP1));
    EXPECT_EQ(RegVersion(kP1.name), "<missing>");
    EXPECT_FALSE(std::filesystem::exists(UpdWorkFilePath()));
    EXPECT_EQ(g_upd_config->work_list, nullptr);
  }
}

TEST_F(CheckTest, FailedSignatureInstallsNothing) {
  if (!CanPublish()) GTEST_SKIP() << "needs the development key compiled in and wixl";
  Publish(kP1, "p.msi");
  Publish(kQ, "q.msi");
  // The second package is not the one that was signed.
  Publish(kStale, "other.msi");
  std::filesystem::copy_file(fs_.Server("other.msi"), fs_.Server("q.msi"),
                             std::filesystem::copy_options::overwrite_existing);
  fs_.WriteServer("updscript.txt", Entry(kP1.name, "p.msi") + Entry(kQ.name, "q.msi"));
  Texts texts;
  EXPECT_EQ(Check(&texts), -1);
  EXPECT_GE(TqTextIndex(texts, "Downloaded and Verified: p.msi - OK"), 0);
  EXPECT_EQ(texts.back(), "Signature Verify Failed on: q.msi");
  EXPECT_FALSE(MsiFixtureInstalled(kP1));
  EXPECT_FALSE(MsiFixtureInstalled(kQ));
  EXPECT_FALSE(MsiFixtureInstalled(kStale));
  EXPECT_EQ(RegVersion(kP1.name), "<missing>");
  // The verified package stays for the next check; the one that failed is gone.
  EXPECT_EQ(fs_.WorkNames(), (Texts{"p.msi"}));
  EXPECT_EQ(g_upd_config->work_list, nullptr);
}

TEST_F(CheckTest, AutomaticInstallsEveryEntryAndPurgesStalePackages) {
  if (!CanPublish()) GTEST_SKIP() << "needs the development key compiled in and wixl";
  Publish(kP1, "p.msi");
  Publish(kQ, "q.msi");
  Publish(kStale, "stale.msi");
  std::filesystem::copy_file(fs_.Server("stale.msi"), fs_.Work("stale.msi"));
  fs_.WriteServer("updscript.txt", Entry(kP1.name, "p.msi") + Entry(kQ.name, "q.msi"));
  Texts texts;
  EXPECT_EQ(Check(&texts), 0);
  EXPECT_EQ(TqTextsStarting(texts, "\t"), (Texts{ListLine(kP1.name, "p.msi", 0, 0), ListLine(kQ.name, "q.msi", 0, 0)}));
  EXPECT_GE(TqTextIndex(texts, "Install End ret: 0"), 0);
  EXPECT_TRUE(MsiFixtureInstalled(kP1));
  EXPECT_TRUE(MsiFixtureInstalled(kQ));
  EXPECT_EQ(RegVersion(kP1.name), "1.0.0");
  EXPECT_EQ(RegVersion(kQ.name), "1.2.0");
  // The packages of installed products stay; the stale one is purged.
  EXPECT_EQ(fs_.WorkNames(), (Texts{"p.msi", "q.msi"}));
  EXPECT_EQ(g_upd_config->work_list, nullptr);

  // The next check reuses the verified packages and installs nothing.
  EXPECT_EQ(Check(&texts), 0);
  EXPECT_EQ(TqTextsStarting(texts, "\t"),
            (Texts{ListLine(kP1.name, "p.msi", 1, 1000000), ListLine(kQ.name, "q.msi", 1, 1020000)}));
  EXPECT_GE(TqTextIndex(texts, "File: p.msi exists and signature OK"), 0);
  EXPECT_GE(TqTextIndex(texts, "File: q.msi exists and signature OK"), 0);
  EXPECT_EQ(TqTextsStarting(texts, " - Ignoring").size(), 2u);
  EXPECT_EQ(TqTextsStarting(texts, "MsiInstallProduct("), Texts{});
  EXPECT_EQ(fs_.WorkNames(), (Texts{"p.msi", "q.msi"}));
}

TEST_F(CheckTest, FailedInstallationKeepsTheResultAndThePackages) {
  if (!CanPublish()) GTEST_SKIP() << "needs the development key compiled in and wixl";
  Publish(kP1, "p.msi");
  // Signed as it is, but its cabinet is missing: the installer refuses it.
  Publish(kQ, "q.msi", "UPDATE `Media` SET `Cabinet` = '#none.cab' WHERE `DiskId` = 1");
  Publish(kStale, "stale.msi");
  std::filesystem::copy_file(fs_.Server("stale.msi"), fs_.Work("stale.msi"));
  fs_.WriteServer("updscript.txt", Entry(kP1.name, "p.msi") + Entry(kQ.name, "q.msi"));
  Texts texts;
  EXPECT_EQ(Check(&texts), 0);
  EXPECT_GE(TqTextIndex(texts, "MsiInstallProduct(Install) Error: InstallFailure"), 0);
  EXPECT_GE(TqTextIndex(texts, "Install End ret: -1"), 0);
  EXPECT_TRUE(MsiFixtureInstalled(kP1));
  EXPECT_FALSE(MsiFixtureInstalled(kQ));
  // No purge after a failed installation run.
  EXPECT_EQ(fs_.WorkNames(), (Texts{"p.msi", "q.msi", "stale.msi"}));
  EXPECT_EQ(g_upd_config->work_list, nullptr);
}

TEST_F(CheckTest, PromptRecordsTheWorkFileAndInstallsNothing) {
  if (!CanPublish()) GTEST_SKIP() << "needs the development key compiled in and wixl";
  g_upd_config->install_type = UPD_INSTALL_PROMPT;
  // Version 1 is installed; the server offers version 2 and a new product.
  Publish(kP1, "p1.msi");
  std::filesystem::copy_file(fs_.Server("p1.msi"), fs_.Work("p1.msi"));
  InstallFromWork("p1.msi");
  Publish(kP2, "p.msi");
  Publish(kQ, "q.msi");
  // The script carries its digest, which it passes.
  std::string script = "MessageDigest Filename=" + fs_.Server("updscript.md") + ",Type=sha256\n" +
                       Entry(kP2.name, "p.msi", "  Desc 'Product P'\n") +
                       Entry(kQ.name, "q.msi", "  ForceReboot True\n");
  fs_.WriteServer("updscript.txt", script);
  fs_.WriteServer("updscript.md", OpensslDigest(fs_.Server("updscript.txt"), "sha256") + "\n");
  Texts texts;
  EXPECT_EQ(Check(&texts), 0);
  EXPECT_EQ(TqTextsStarting(texts, "\t"),
            (Texts{ListLine(kP2.name, "p.msi", 1, 1000000), ListLine(kQ.name, "q.msi", 4, 0)}));
  std::string file;
  ASSERT_EQ(PlatReadFile(UpdWorkFilePath(), &file), 0);
  EXPECT_EQ(file,
            "Name=\"tqcheck-p-win64\",Desc=\"Product P\",CurVersion=\"1.0.0-00\",NewVersion=\"2.0.0-00\","
            "InstallFile=\"p.msi\"\n"
            "Name=\"tqcheck-q-win64\",Desc=\"Unknown\",CurVersion=\"NotInstalled\",NewVersion=\"1.2.0-00\","
            "InstallFile=\"q.msi\"ForceReboot=True\n");
  EXPECT_EQ(TqTextsStarting(texts, "Install"), Texts{});
  EXPECT_TRUE(MsiFixtureInstalled(kP1));
  EXPECT_FALSE(MsiFixtureInstalled(kP2));
  EXPECT_FALSE(MsiFixtureInstalled(kQ));
  EXPECT_EQ(RegVersion(kP1.name), "1.0.0");
  EXPECT_EQ(fs_.WorkNames(), (Texts{"p.msi", "p1.msi", "q.msi"}));
  EXPECT_EQ(g_upd_config->work_list, nullptr);
}

TEST_F(CheckTest, TamperedScriptDownloadsNothing) {
  if (!CanPublish()) GTEST_SKIP() << "needs the development key compiled in and wixl";
  Publish(kP1, "p.msi");
  std::string script =
      "MessageDigest Filename=" + fs_.Server("updscript.md") + ",Type=sha256\n" + Entry(kP1.name, "p.msi");
  fs_.WriteServer("updscript.txt", script);
  fs_.WriteServer("updscript.md", OpensslDigest(fs_.Server("updscript.txt"), "sha256") + "\n");
  // Changed on the server after its digest was published.
  fs_.WriteServer("updscript.txt", script + "  Desc 'slipped in'\n");
  Texts texts;
  EXPECT_EQ(Check(&texts), -1);
  EXPECT_EQ(TqTextsStarting(texts, "WorkList"), Texts{});
  EXPECT_EQ(TqTextsStarting(texts, "Download"), Texts{});
  EXPECT_EQ(fs_.WorkNames(), Texts{});
  EXPECT_FALSE(MsiFixtureInstalled(kP1));
}

}  // namespace
