// The update service updating itself: tqupdd runs under the service
// manager with install type Automatic, and the package it installs stops
// the service TQUpdateD64 while it is installed. The service notices the
// stop after the installation and starts the configuration tool to start it
// again; a recording program stands in for the tool.
#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <vector>

#include "platform/service_manager.h"
#include "platform/system.h"
#include "tests/support/log_texts.h"
#include "tests/support/service_state.h"
#include "tests/update/update_test_util.h"

using updt::Product;
using updt::Transport;
using updt::UpdateSystem;

namespace {

// The script entry of the service's own package.
const char kServiceEntry[] =
    "Update\n    Name tqupdate-win64\n    Desc 'Update service'\n    InstallFile {src}pkgs/tqupdate-win64.msi\n"
    "    SignatureFile {src}pkgs/tqupdate-win64.sig\n    Verify VersionLT=6.7.5-02\n";

class UpdateSelf : public testing::Test {
 protected:
  // Serves the service's own package over HTTP: installing it stops the
  // service TQUpdateD64.
  bool ServeServicePackage() {
    return u_.Serve(Transport::kHttp) &&
           u_.Publish(Product("tqupdate-win64", "6.7.502"), "pkgs/tqupdate-win64.msi", "service",
                      {{"Service", "TQUpdateD64"}});
  }
  void TearDown() override {
    // Leave no service process behind, whatever the test did.
    TqRunCommand(updt::kTqupdd + " -v 0 stop remove");
    TqWaitServiceState("TQUpdateD64", 0);
  }
  UpdateSystem u_;
};

}  // namespace

TEST_F(UpdateSelf, InstallingTheServicePackageStopsTheServiceAndStartsTheTool) {
  if (!updt::CanRun()) GTEST_SKIP() << "wixl/msibuild or the development key is missing";
  ASSERT_TRUE(ServeServicePackage());
  u_.WriteScript(kServiceEntry);
  // No pass limit: only the installation stops the service.
  u_.Configure("Automatic", "MaxLoopCount 0\n");
  // The tool's place in the installation: a program that records how it
  // was started.
  std::string record = u_.sys().path("tool-args.txt");
  u_.sys().WriteFile("home-tq/TQUpdate/bin/tqupdcnf",
                     "#!/bin/sh\necho \"$*\" >> " + MsiFixtureQuote(record) + "\n");
  ASSERT_EQ(::chmod(u_.Home("TQUpdate/bin/tqupdcnf").c_str(), 0755), 0);

  std::string out;
  ASSERT_EQ(TqRunCommand(updt::kTqupdd + " -v 0 install start", &out), 0) << out;
  ASSERT_TRUE(u_.WaitForLog("Got Stop Event During Install")) << u_.Log();
  EXPECT_TRUE(TqWaitServiceState("TQUpdateD64", SERVICE_STOPPED)) << u_.Log();
  for (int i = 0; i < 400 && !UpdateSystem::Exists(record); ++i) PlatSleepMs(25);
  EXPECT_EQ(u_.sys().ReadFile("tool-args.txt"), "--svcstart --nogui -w 120\n") << u_.Log();

  // The installation went through before the stop was noticed, and the
  // worker then ended.
  std::vector<std::string> texts = u_.Texts();
  int installed = TqTextIndex(texts, "Installed: tqupdate-win64 - Version: 6.7.5-02 - OK");
  int stop = TqTextIndex(texts, "Got Stop Event During Install");
  EXPECT_GE(installed, 0) << u_.Log();
  EXPECT_GT(stop, installed) << u_.Log();
  EXPECT_EQ(u_.CountPrefix("CreateProcess("), 0) << u_.Log();
  EXPECT_TRUE(u_.WaitForLog("TQUpdateD64 - Stopped")) << u_.Log();
  EXPECT_EQ(u_.RegValue("tqupdate-win64", "Version"), "6.7.502");
  EXPECT_EQ(u_.sys().ReadFile("home-tq/service.txt"),
            MsiFixtureContent("main.txt", Product("tqupdate-win64", "6.7.502")));
}

// The same installation with the real configuration tool in its place: the
// service stops during its own installation, starts the tool without a
// display, and the tool (after its wait) starts the service again.
TEST_F(UpdateSelf, TheRealToolStartsTheServiceAgain) {
  if (!updt::CanRun()) GTEST_SKIP() << "wixl/msibuild or the development key is missing";
  ASSERT_TRUE(ServeServicePackage());
  u_.WriteScript(kServiceEntry);
  u_.Configure("Automatic", "MaxLoopCount 0\n");
  u_.sys().WriteFile("home-tq/TQUpdate/bin/.keep", "");
  ASSERT_EQ(TqRunCommand("cp " TQ_BINARY_DIR "/tool/tqupdcnf " + MsiFixtureQuote(u_.Home("TQUpdate/bin/tqupdcnf"))), 0);
  u_.sys().UnsetEnv("DISPLAY");

  std::string out;
  ASSERT_EQ(TqRunCommand(updt::kTqupdd + " -v 0 install start", &out), 0) << out;
  ASSERT_TRUE(u_.WaitForLog("Got Stop Event During Install")) << u_.Log();
  ASSERT_TRUE(u_.WaitForLog("TQUpdateD64 - Stopped")) << u_.Log();
  // The tool brings the service back: a second start in the log, and the
  // service running under the service manager.
  const std::string started = "TQUpdateD64 - Version: 6.7.5-01 - Started";
  for (int i = 0; i < 600 && u_.CountPrefix(started) < 2; ++i) PlatSleepMs(25);
  EXPECT_EQ(u_.CountPrefix(started), 2) << u_.Log();
  EXPECT_TRUE(TqWaitServiceState("TQUpdateD64", SERVICE_RUNNING)) << u_.Log();
  EXPECT_EQ(u_.RegValue("tqupdate-win64", "Version"), "6.7.502");
}

// Install type Prompt: an install request installs the service's own
// package first, which stops the service; the run ends early with the
// second package still pending. That package stays in the work directory
// and in the work file for the next request (the purge after the run keeps
// what is pending).
TEST_F(UpdateSelf, StopDuringARequestedInstallKeepsThePendingPackage) {
  if (!updt::CanRun()) GTEST_SKIP() << "wixl/msibuild or the development key is missing";
  ASSERT_TRUE(ServeServicePackage());
  MsiTestProduct demo = Product("tqdemo-win64", "1.2.300", "demo.txt");
  ASSERT_TRUE(u_.Publish(demo, "pkgs/tqdemo-win64.msi"));
  u_.WriteScript(
      std::string(kServiceEntry) +
      "Update\n    Name tqdemo-win64\n    Desc 'Demo program'\n    InstallFile {src}pkgs/tqdemo-win64.msi\n"
      "    SignatureFile {src}pkgs/tqdemo-win64.sig\n");
  u_.sys().WriteFile("home-tq/TQUpdate/bin/tqupdcnf", "#!/bin/sh\nexit 0\n");
  ASSERT_EQ(::chmod(u_.Home("TQUpdate/bin/tqupdcnf").c_str(), 0755), 0);

  // A check in the foreground records both packages as pending work.
  u_.Configure("Prompt");
  std::string out;
  ASSERT_EQ(u_.Run("--fg", &out), 0) << out << u_.Log();
  std::string work_file;
  ASSERT_TRUE(u_.ReadWorkFile(&work_file)) << u_.Log();
  ASSERT_NE(work_file.find("InstallFile=\"tqdemo-win64.msi\""), std::string::npos) << work_file;

  // The service takes the install request; its own package stops it.
  u_.ClearLog();
  u_.Configure("Prompt", "MaxLoopCount 0\n");
  ASSERT_EQ(TqRunCommand(updt::kTqupdd + " -v 0 install start", &out), 0) << out;
  ASSERT_TRUE(u_.WaitForLog("Checking for Current WorkFile List")) << u_.Log();
  TqRunCommand(updt::kTqupdreq + " install -w 60", &out);
  ASSERT_TRUE(u_.WaitForLog("Got Stop Event During Install")) << u_.Log();
  EXPECT_TRUE(u_.WaitForLog("TQUpdateD64 - Stopped")) << u_.Log();
  EXPECT_TRUE(TqWaitServiceState("TQUpdateD64", SERVICE_STOPPED)) << u_.Log();
  EXPECT_EQ(u_.RegValue("tqupdate-win64", "Version"), "6.7.502");
  EXPECT_EQ(u_.RegValue("tqdemo-win64", "Version"), "") << "the run ended before the second package";

  EXPECT_TRUE(UpdateSystem::Exists(u_.Work("tqdemo-win64.msi"))) << u_.Log();
  ASSERT_TRUE(u_.ReadWorkFile(&work_file)) << u_.Log();
  EXPECT_EQ(work_file,
            "Name=\"tqdemo-win64\",Desc=\"Demo program\",CurVersion=\"NotInstalled\",NewVersion=\"1.2.3-00\","
            "InstallFile=\"tqdemo-win64.msi\"\n");
}
