// The update service end to end with install type Prompt: a check records
// the pending packages in the work file and installs nothing; the work file
// survives a restart of the service; an install request of tqupdreq makes
// the service install, after which the work file is gone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/update/update_test_util.h"

using updt::Product;
using updt::Transport;
using updt::UpdateSystem;

TEST(UpdatePrompt, CheckWritesTheWorkFileAndAnInstallRequestInstalls) {
  if (!updt::CanRun()) GTEST_SKIP() << "wixl/msibuild or the development key is missing";
  UpdateSystem u;
  ASSERT_TRUE(u.Serve(Transport::kHttp));
  MsiTestProduct demo = Product("tqdemo-win64", "1.2.300", "demo.txt");
  MsiTestProduct tool = Product("tqtool-win64", "3.4.501", "tool.txt");
  ASSERT_TRUE(u.Publish(demo, "pkgs/tqdemo-win64.msi"));
  ASSERT_TRUE(u.Publish(tool, "pkgs/tqtool-win64.msi"));
  // tqtool-win64 is installed already at the package's version.
  std::string out;
  ASSERT_EQ(TqRunCommand(updt::kTqmsi + " install " + MsiFixtureQuote(u.Repo("pkgs/tqtool-win64.msi")), &out), 0)
      << out;
  u.WriteScript(
      "Update\n    Name tqdemo-win64\n    Desc 'Demo program'\n    InstallFile {src}pkgs/tqdemo-win64.msi\n"
      "    SignatureFile {src}pkgs/tqdemo-win64.sig\n"
      "Update\n    Name tqtool-win64\n    InstallFile {src}pkgs/tqtool-win64.msi\n"
      "    SignatureFile {src}pkgs/tqtool-win64.sig\n");

  // First run: the start-up check saves the work file, with the entry whose
  // version is installed left out, and installs nothing.
  u.Configure("Prompt");
  ASSERT_EQ(u.Run("--fg", &out), 0) << out << u.Log();
  EXPECT_EQ(u.CountText("Downloaded and Verified: tqdemo-win64.msi - OK"), 1) << u.Log();
  EXPECT_EQ(u.CountText("Save - Versions Match - Ignoring: tqtool-win64"), 1) << u.Log();
  EXPECT_EQ(u.CountText("Creating File: " + u.WorkFilePath()), 1) << u.Log();
  std::string work_file;
  EXPECT_TRUE(u.ReadWorkFile(&work_file));
  EXPECT_EQ(work_file,
            "Name=\"tqdemo-win64\",Desc=\"Demo program\",CurVersion=\"NotInstalled\",NewVersion=\"1.2.3-00\","
            "InstallFile=\"tqdemo-win64.msi\"\n");
  EXPECT_EQ(u.CountText("Install Start"), 0) << u.Log();
  EXPECT_EQ(u.CountPrefix("MsiInstallProduct("), 0) << u.Log();
  EXPECT_EQ(u.RegValue("tqdemo-win64", "Version"), "");
  EXPECT_EQ(u.WorkNames(), (std::vector<std::string>{"tqdemo-win64.msi", "tqtool-win64.msi"}));

  // Second run, kept running: the work file is read back as pending work,
  // so no start-up check runs; an install request installs it.
  u.ClearLog();
  u.Configure("Prompt", "MaxLoopCount 1000000\n");
  u.StartForeground();
  ASSERT_TRUE(u.WaitForLog("Waiting up to: ")) << u.Log();
  EXPECT_EQ(u.CountText("Checking for Current WorkFile List"), 1) << u.Log();
  EXPECT_EQ(u.CountText("\ttqdemo-win64 - File: dummy.msi, Sig: dummy.sig, Bits: 0, InstVersion: 0"), 1) << u.Log();
  EXPECT_EQ(u.CountText("OnStart - Checking for updates"), 0) << u.Log();
  EXPECT_EQ(u.CountText("Checking for Software Updates"), 0) << u.Log();
  EXPECT_TRUE(u.ReadWorkFile(&work_file));

  out.clear();
  ASSERT_EQ(TqRunCommand(updt::kTqupdreq + " install -w 60", &out), 0) << out << u.Log();
  EXPECT_EQ(out.rfind("The update worker answered the install request\n", 0), 0u) << out;
  // The worker sets the complete event after it has read the work file
  // back; a careful reader still looks at the file under the work mutex.
  bool left = u.ReadWorkFile(&work_file);
  u.StopForeground();
  EXPECT_EQ(u.CountText("Got Install Event"), 1) << u.Log();
  EXPECT_EQ(u.CountText("WrkInstallPromptCalled"), 1) << u.Log();
  EXPECT_EQ(u.CountPrefix("MsiInstallProduct(/"), 1) << u.Log();
  EXPECT_EQ(u.CountText("Installed: tqdemo-win64 - Version: 1.2.3-00 - OK"), 1) << u.Log();
  EXPECT_GE(u.CountText("Setting CompleteEvent"), 1) << u.Log();
  EXPECT_EQ(u.RegValue("tqdemo-win64", "Version"), "1.2.300");
  EXPECT_EQ(u.sys().ReadFile("home-tq/demo.txt"), MsiFixtureContent("extra.txt", demo));
  EXPECT_FALSE(left) << work_file;
  EXPECT_EQ(u.WorkNames(), (std::vector<std::string>{"tqdemo-win64.msi", "tqtool-win64.msi"}));
}

// A package downloaded by a later check that fails its verification is
// never installed: the check downloads it over the verified package of the
// same name that the work file names, so the failed file must not stay
// there for the next install request.
TEST(UpdatePrompt, DownloadThatFailsVerificationIsNeverInstalled) {
  if (!updt::CanRun()) GTEST_SKIP() << "wixl/msibuild or the development key is missing";
  UpdateSystem u;
  ASSERT_TRUE(u.Serve(Transport::kHttp));
  ASSERT_TRUE(u.Publish(Product("tqdemo-win64", "1.2.300", "demo.txt"), "pkgs/tqdemo-win64.msi"));
  u.WriteScript(
      "Update\n    Name tqdemo-win64\n    Desc 'Demo program'\n    InstallFile {src}pkgs/tqdemo-win64.msi\n"
      "    SignatureFile {src}pkgs/tqdemo-win64.sig\n");
  u.Configure("Prompt", "MaxLoopCount 1000000\n");
  u.StartForeground();
  ASSERT_TRUE(u.WaitForLog("Waiting up to: ")) << u.Log();
  ASSERT_TRUE(UpdateSystem::Exists(u.WorkFilePath())) << u.Log();

  // The repository now offers a package signed with another key.
  std::string built = u.Build(Product("tqdemo-win64", "1.2.300", "evil.txt"));
  ASSERT_FALSE(built.empty());
  std::string out;
  ASSERT_EQ(TqRunCommand(updt::kTqupdpub + " keygen --bits 2048 " + MsiFixtureQuote(u.sys().path("other.pem")) + " " +
                             MsiFixtureQuote(u.sys().path("other-pub.pem")),
                         &out),
            0)
      << out;
  httpt::WriteAll(u.Repo("pkgs/tqdemo-win64.msi"), httpt::ReadAll(built));
  ASSERT_EQ(TqRunCommand(updt::kTqupdpub + " sign --key " + MsiFixtureQuote(u.sys().path("other.pem")) + " " +
                             MsiFixtureQuote(u.Repo("pkgs/tqdemo-win64.msi")) + " > " +
                             MsiFixtureQuote(u.Repo("pkgs/tqdemo-win64.sig"))),
            0);

  // The check is answered as failed, with the verification's message.
  out.clear();
  ASSERT_EQ(TqRunCommand(updt::kTqupdreq + " check -w 60", &out), 5) << out << u.Log();
  EXPECT_EQ(out.rfind("The update worker answered the check request: it failed: ", 0), 0u) << out;
  EXPECT_EQ(u.CountText("Signature Verify Failed on: tqdemo-win64.msi"), 1) << u.Log();
  ASSERT_EQ(TqRunCommand(updt::kTqupdreq + " install -w 60", &out), 0) << out << u.Log();
  u.StopForeground();
  EXPECT_FALSE(UpdateSystem::Exists(u.Home("evil.txt"))) << u.Log();
  EXPECT_EQ(u.RegValue("tqdemo-win64", "File-evil.txt"), "") << "unverified package registered";
}
