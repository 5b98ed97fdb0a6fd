// The update service end to end with install type Automatic: the real
// tqupdd in the foreground fetches a signed update repository over HTTP or
// LocalShare, verifies and installs real packages, and the tests read the
// log, the registry, the installed files and the work directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/log_texts.h"
#include "tests/update/update_test_util.h"

using updt::Product;
using updt::Transport;
using updt::UpdateSystem;

namespace {

// A path as the installer's property string carries it: '/' turned into '\'.
std::string Backslashed(std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

// The work-list line of an entry as the update check logs it.
std::string WorkListLine(UpdateSystem& u, const std::string& name, int bits, unsigned inst_version) {
  return "\t" + name + " - File: " + u.Where("pkgs/" + name + ".msi") + ", Sig: " + u.Where("pkgs/" + name + ".sig") +
         ", Bits: " + std::to_string(bits) + ", InstVersion: " + std::to_string(inst_version);
}

// One script entry for a package published under pkgs/, with further
// statements (each "    Key Value\n") after the SignatureFile statement.
std::string Entry(const std::string& name, const std::string& desc, const std::string& more = "") {
  return "Update\n    Name " + name + "\n    Desc '" + desc + "'\n    InstallFile {src}pkgs/" + name +
         ".msi\n    SignatureFile {src}pkgs/" + name + ".sig\n" + more;
}

}  // namespace

// Two packages over each transport: both are verified and installed, the
// package of a product that is not installed is purged, the check's own
// files are gone, and a second run installs nothing (one entry is dropped
// by its Verify condition, the other is found installed at its version).
TEST(UpdateAutomatic, TwoPackagesInstalledOverEachTransport) {
  if (!updt::CanRun()) GTEST_SKIP() << "wixl/msibuild or the development key is missing";
  for (Transport t : {Transport::kHttp, Transport::kLocalShare}) {
    SCOPED_TRACE(updt::TransportName(t));
    UpdateSystem u;
    ASSERT_TRUE(u.Serve(t));
    MsiTestProduct demo = Product("tqdemo-win64", "1.2.300", "demo.txt");
    MsiTestProduct tool = Product("tqtool-win64", "3.4.501", "tool.txt");
    ASSERT_TRUE(u.Publish(demo, "pkgs/tqdemo-win64.msi"));
    ASSERT_TRUE(u.Publish(tool, "pkgs/tqtool-win64.msi"));
    // Left by an earlier run: a package of a product that is not installed,
    // and a work file (never used under Automatic).
    std::string stale = u.Build(Product("tqstale-win64", "1.0.0", "stale.txt"));
    ASSERT_FALSE(stale.empty());
    std::filesystem::copy_file(stale, u.Work("tqstale-win64.msi"));
    u.sys().WriteFile("common/TQ/tqupd-work.txt", "Name=\"tqstale-win64\",Desc=\"x\",CurVersion=\"NotInstalled\","
                                                  "NewVersion=\"1.0.0-00\",InstallFile=\"tqstale-win64.msi\"\n");
    u.WriteScript(Entry("tqdemo-win64", "Demo program", "    Verify VersionLT=1.2.300\n") +
                  Entry("tqtool-win64", "Tool program"));
    u.Configure("Automatic");

    std::string out;
    ASSERT_EQ(u.Run("--fg", &out), 0) << out << u.Log();
    EXPECT_EQ(u.CountText("Message Digest Verify on Script File - OK"), 1) << u.Log();
    EXPECT_EQ(u.WithPrefix("\t"), (std::vector<std::string>{WorkListLine(u, "tqdemo-win64", 0, 0),
                                                             WorkListLine(u, "tqtool-win64", 0, 0)}))
        << u.Log();
    EXPECT_EQ(u.CountText("Downloaded and Verified: tqdemo-win64.msi - OK"), 1) << u.Log();
    EXPECT_EQ(u.CountText("Downloaded and Verified: tqtool-win64.msi - OK"), 1) << u.Log();
    EXPECT_EQ(u.CountText("Installed: tqdemo-win64 - Version: 1.2.3-00 - OK"), 1) << u.Log();
    EXPECT_EQ(u.CountText("Installed: tqtool-win64 - Version: 3.4.5-01 - OK"), 1) << u.Log();
    EXPECT_EQ(u.CountText("Install End ret: 0"), 1) << u.Log();

    // The registry and the files: both products went to the default target
    // directory, the installation base directory.
    EXPECT_EQ(u.RegValue("tqdemo-win64", "Version"), "1.2.300");
    EXPECT_EQ(u.RegValue("tqdemo-win64", "ProductCode"), demo.product_code);
    EXPECT_EQ(u.RegValue("tqdemo-win64", "InstallDir"), u.sys().home());
    EXPECT_EQ(u.RegValue("tqtool-win64", "Version"), "3.4.501");
    EXPECT_EQ(u.RegValue("tqtool-win64", "UpgradeCode"), tool.upgrade_code);
    EXPECT_EQ(u.sys().ReadFile("home-tq/demo.txt"), MsiFixtureContent("extra.txt", demo));
    EXPECT_EQ(u.sys().ReadFile("home-tq/tool.txt"), MsiFixtureContent("extra.txt", tool));
    EXPECT_TRUE(UpdateSystem::Exists(u.Home("data/deep dir/table.txt")));
    EXPECT_TRUE(UpdateSystem::Exists(u.Home("bin/main.txt")));
    std::vector<std::string> codes = {demo.product_code, tool.product_code};
    std::sort(codes.begin(), codes.end());
    EXPECT_EQ(u.InstalledCodes(), codes);

    // The packages of installed products stay; the stale one, updscript.txt,
    // md.txt and sig.txt are gone; so is the work file.
    EXPECT_EQ(u.WorkNames(), (std::vector<std::string>{"tqdemo-win64.msi", "tqtool-win64.msi"}));
    EXPECT_FALSE(UpdateSystem::Exists(u.WorkFilePath()));

    // Second run: tqdemo-win64 is dropped by VersionLT, tqtool-win64 is
    // verified in place and found installed at the package's version.
    u.ClearLog();
    ASSERT_EQ(u.Run("--fg", &out), 0) << out << u.Log();
    EXPECT_EQ(u.WithPrefix("\t"), (std::vector<std::string>{WorkListLine(u, "tqtool-win64", 1, 3040501)})) << u.Log();
    EXPECT_EQ(u.CountText("File: tqtool-win64.msi exists and signature OK"), 1) << u.Log();
    EXPECT_EQ(u.CountPrefix("Downloading Files: "), 0) << u.Log();
    EXPECT_EQ(u.CountText(" - Ignoring: tqtool-win64 - Version: 3040501 already installed"), 1) << u.Log();
    EXPECT_EQ(u.CountPrefix("MsiInstallProduct("), 0) << u.Log();
    EXPECT_EQ(u.CountPrefix("Installed: "), 0) << u.Log();
    EXPECT_EQ(u.InstalledCodes(), codes);
    EXPECT_EQ(u.WorkNames(), (std::vector<std::string>{"tqdemo-win64.msi", "tqtool-win64.msi"}));
  }
}

// A package changed after it was signed fails its verification, and a
// script changed after its digest was made is not used: nothing is
// installed in either case, and with the bad script nothing is downloaded.
TEST(UpdateAutomatic, TamperedPackageOrScriptInstallsNothing) {
  if (!updt::CanRun()) GTEST_SKIP() << "wixl/msibuild or the development key is missing";
  const struct {
    const char* what;
    bool tamper_package; // change a byte of the second package after signing
    bool tamper_script;  // change the script after md.txt was made
  } cases[] = {{"package", true, false}, {"script", false, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    UpdateSystem u;
    ASSERT_TRUE(u.Serve(Transport::kHttp));
    ASSERT_TRUE(u.Publish(Product("tqdemo-win64", "1.2.300", "demo.txt"), "pkgs/tqdemo-win64.msi"));
    ASSERT_TRUE(u.Publish(Product("tqtool-win64", "3.4.501", "tool.txt"), "pkgs/tqtool-win64.msi"));
    u.WriteScript(Entry("tqdemo-win64", "Demo program") + Entry("tqtool-win64", "Tool program"));
    if (c.tamper_package) {
      std::string pkg = httpt::ReadAll(u.Repo("pkgs/tqtool-win64.msi"));
      pkg[pkg.size() / 2] = static_cast<char>(pkg[pkg.size() / 2] ^ 0x01);
      httpt::WriteAll(u.Repo("pkgs/tqtool-win64.msi"), pkg);
    }
    if (c.tamper_script) {
      std::string script = httpt::ReadAll(u.Repo("updscript.txt"));
      script.replace(script.find("Demo program"), 12, "Evil program");
      httpt::WriteAll(u.Repo("updscript.txt"), script);
    }
    u.Configure("Automatic");
    std::string out;
    ASSERT_EQ(u.Run("--fg", &out), 0) << out << u.Log();

    if (c.tamper_package) {
      EXPECT_EQ(u.CountText("Downloaded and Verified: tqdemo-win64.msi - OK"), 1) << u.Log();
      EXPECT_EQ(u.CountText("Signature Verify Failed on: tqtool-win64.msi"), 1) << u.Log();
    }
    if (c.tamper_script) {
      EXPECT_EQ(u.CountPrefix("Message Digest Verify - Failed, Calc: "), 1) << u.Log();
      EXPECT_EQ(u.CountText("WorkList Start"), 0) << u.Log();
      EXPECT_EQ(u.CountPrefix("Downloading Files: "), 0) << u.Log();
      EXPECT_EQ(u.WorkNames(), std::vector<std::string>{});
    }
    EXPECT_EQ(u.CountText("Install Start"), 0) << u.Log();
    EXPECT_EQ(u.CountPrefix("MsiInstallProduct("), 0) << u.Log();
    EXPECT_EQ(u.RegValue("tqdemo-win64", "Version"), "");
    EXPECT_EQ(u.RegValue("tqtool-win64", "Version"), "");
    EXPECT_EQ(u.InstalledCodes(), std::vector<std::string>{});
    EXPECT_FALSE(UpdateSystem::Exists(u.Home("demo.txt")));
    EXPECT_FALSE(UpdateSystem::Exists(u.Work("updscript.txt")));
    EXPECT_FALSE(UpdateSystem::Exists(u.Work("md.txt")));
    EXPECT_FALSE(UpdateSystem::Exists(u.Work("sig.txt")));
  }
}

// ForceReboot inside the second of three entries: the second and third
// entries carry the force-reboot bit, and only the last installation is
// asked to force the reboot; its result 3010 counts as success.
TEST(UpdateAutomatic, ForceRebootOnlyForTheLastEntry) {
  if (!updt::CanRun()) GTEST_SKIP() << "wixl/msibuild or the development key is missing";
  UpdateSystem u;
  ASSERT_TRUE(u.Serve(Transport::kLocalShare));
  const char* const names[] = {"tqone-win64", "tqtwo-win64", "tqthree-win64"};
  for (const char* name : names)
    ASSERT_TRUE(u.Publish(Product(name, "1.0.100", std::string(name) + ".txt"), std::string("pkgs/") + name + ".msi"));
  u.WriteScript(Entry("tqone-win64", "One") + Entry("tqtwo-win64", "Two", "    ForceReboot True\n") +
                Entry("tqthree-win64", "Three"));
  u.Configure("Automatic");
  std::string out;
  ASSERT_EQ(u.Run("--fg", &out), 0) << out << u.Log();

  EXPECT_EQ(u.WithPrefix("\t"),
            (std::vector<std::string>{WorkListLine(u, "tqone-win64", 0, 0), WorkListLine(u, "tqtwo-win64", 4, 0),
                                      WorkListLine(u, "tqthree-win64", 4, 0)}))
      << u.Log();
  std::string target = Backslashed(u.sys().home());
  std::string props = "ALLUSERS=1 TARGETDIR=\"" + target + "\" INSTALLDIR=\"" + target + "\"";
  // The package path joins the work directory and the file name; the
  // separator is the host's ('/') or the one Windows wants ('\\'): both
  // are read alike by the installer, so either is accepted here.
  std::string work = u.Work("");
  work.pop_back();
  std::vector<std::string> calls = u.WithPrefix("MsiInstallProduct(");
  for (std::string& call : calls) {
    size_t at = call.find(work + "\\");
    if (at != std::string::npos) call[at + work.size()] = '/';
  }
  EXPECT_EQ(calls,
            (std::vector<std::string>{
                "MsiInstallProduct(" + work + "/tqone-win64.msi," + props + " REBOOT=ReallySuppress)",
                "MsiInstallProduct(Install) Success",
                "MsiInstallProduct(" + work + "/tqtwo-win64.msi," + props + " REBOOT=ReallySuppress)",
                "MsiInstallProduct(Install) Success",
                "MsiInstallProduct(" + work + "/tqthree-win64.msi," + props + " REBOOT=FORCE)",
                "MsiInstallProduct(Install) Success - Reboot Required",
            }))
      << u.Log();
  for (const char* name : names) {
    EXPECT_EQ(u.CountText(std::string("Installed: ") + name + " - Version: 1.0.1-00 - OK"), 1) << name;
    EXPECT_EQ(u.RegValue(name, "Version"), "1.0.100") << name;
  }
  EXPECT_EQ(u.CountText("Install End ret: 0"), 1) << u.Log();
}

// A package older than the installed product of the same upgrade code: the
// installed product is removed through its product code first, then the
// older package is installed into the installed product's directory.
TEST(UpdateAutomatic, OlderPackageRemovesTheNewerProductFirst) {
  if (!updt::CanRun()) GTEST_SKIP() << "wixl/msibuild or the development key is missing";
  UpdateSystem u;
  ASSERT_TRUE(u.Serve(Transport::kHttp));
  MsiTestProduct newer = Product("tqdemo-win64", "2.0.0", "demo.txt");
  MsiTestProduct older = Product("tqdemo-win64", "1.2.300", "demo.txt");
  std::string installed = u.Build(newer);
  ASSERT_FALSE(installed.empty());
  std::string out;
  ASSERT_EQ(TqRunCommand(updt::kTqmsi + " install " + MsiFixtureQuote(installed), &out), 0) << out;
  std::string dir = u.RegValue("tqdemo-win64", "InstallDir");
  ASSERT_FALSE(dir.empty());
  ASSERT_EQ(u.RegValue("tqdemo-win64", "ProductCode"), newer.product_code);
  ASSERT_EQ(httpt::ReadAll(dir + "/demo.txt"), MsiFixtureContent("extra.txt", newer));

  ASSERT_TRUE(u.Publish(older, "pkgs/tqdemo-win64.msi"));
  u.WriteScript(Entry("tqdemo-win64", "Demo program", "    Verify Installed=True\n"));
  u.Configure("Automatic");
  ASSERT_EQ(u.Run("--fg", &out), 0) << out << u.Log();

  EXPECT_EQ(u.WithPrefix("\t"), (std::vector<std::string>{WorkListLine(u, "tqdemo-win64", 1, 2000000)})) << u.Log();
  std::vector<std::string> texts = u.Texts();
  int removed = TqTextIndex(texts, "MsiConfigureProduct(Remove) Success");
  int installed_at = TqTextIndex(texts, "MsiInstallProduct(Install) Success");
  EXPECT_GE(removed, 0) << u.Log();
  EXPECT_GT(installed_at, removed) << u.Log();
  std::vector<std::string> calls = u.WithPrefix("MsiInstallProduct(/");
  ASSERT_EQ(calls.size(), 1u) << u.Log();
  EXPECT_NE(calls[0].find("TARGETDIR=\"" + Backslashed(dir) + "\""), std::string::npos) << calls[0];
  EXPECT_EQ(u.CountText("Installed: tqdemo-win64 - Version: 1.2.3-00 - OK"), 1) << u.Log();

  EXPECT_EQ(u.RegValue("tqdemo-win64", "Version"), "1.2.300");
  EXPECT_EQ(u.RegValue("tqdemo-win64", "ProductCode"), older.product_code);
  EXPECT_EQ(u.InstalledCodes(), std::vector<std::string>{older.product_code});
  EXPECT_EQ(httpt::ReadAll(dir + "/demo.txt"), MsiFixtureContent("extra.txt", older));
}

// Test mode: one check that downloads and verifies, installs nothing,
// writes no work file (even under Prompt), and ends with exit status 255.
TEST(UpdateAutomatic, TestModeDownloadsAndVerifiesOnly) {
  if (!updt::CanRun()) GTEST_SKIP() << "wixl/msibuild or the development key is missing";
  UpdateSystem u;
  ASSERT_TRUE(u.Serve(Transport::kHttp));
  ASSERT_TRUE(u.Publish(Product("tqdemo-win64", "1.2.300", "demo.txt"), "pkgs/tqdemo-win64.msi"));
  u.WriteScript(Entry("tqdemo-win64", "Demo program"));
  u.Configure("Prompt");
  std::string out;
  EXPECT_EQ(u.Run("-T", &out), 255) << out << u.Log();
  EXPECT_EQ(u.CountText("Downloaded and Verified: tqdemo-win64.msi - OK"), 1) << u.Log();
  EXPECT_EQ(u.CountText("Install Start"), 0) << u.Log();
  EXPECT_EQ(u.CountPrefix("MsiInstallProduct("), 0) << u.Log();
  EXPECT_EQ(u.CountPrefix("Creating File: "), 0) << u.Log();
  EXPECT_FALSE(UpdateSystem::Exists(u.WorkFilePath()));
  EXPECT_EQ(u.RegValue("tqdemo-win64", "Version"), "");
  EXPECT_EQ(u.InstalledCodes(), std::vector<std::string>{});
  EXPECT_EQ(u.WorkNames(), std::vector<std::string>{"tqdemo-win64.msi"});
}
