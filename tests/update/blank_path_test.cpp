// The self-update of a service installed under a base with a blank in its
// path: the service program runs from there, installs its own package,
// which stops it, and starts the configuration tool of that base, which
// starts the service again.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/stat.h>

#include "platform/service_manager.h"
#include "platform/system.h"
#include "runtime/env.h"
#include "tests/support/log_texts.h"
#include "tests/support/service_state.h"
#include "tests/update/update_test_util.h"

using updt::Product;
using updt::Transport;
using updt::UpdateSystem;

namespace {

class UpdateBlankPath : public testing::Test {
 protected:
  void TearDown() override {
    TqRunCommand(updt::kTqupdd + " -v 0 stop remove");
    TqWaitServiceState("TQUpdateD64", 0);
  }
  UpdateSystem u_;
};

}  // namespace

TEST_F(UpdateBlankPath, ServiceUnderABaseWithABlankIsRestartedAfterItsOwnUpdate) {
  if (!updt::CanRun()) GTEST_SKIP() << "wixl/msibuild or the development key is missing";
  // The installation base as the service sees it: a name with a blank for
  // the relocated home the helpers read and write.
  const std::string base = u_.sys().path("opt/with space");
  std::filesystem::create_directories(u_.sys().path("opt"));
  std::filesystem::create_directory_symlink(u_.sys().home(), base);
  u_.sys().SetEnv("HOME_TQ", base.c_str());
  RVResetForTest();

  ASSERT_TRUE(u_.Serve(Transport::kHttp));
  ASSERT_TRUE(u_.Publish(Product("tqupdate-win64", "6.7.502"), "pkgs/tqupdate-win64.msi", "service",
                         {{"Service", "TQUpdateD64"}}));
  u_.WriteScript(
      "Update\n    Name tqupdate-win64\n    Desc 'Update service'\n    InstallFile {src}pkgs/tqupdate-win64.msi\n"
      "    SignatureFile {src}pkgs/tqupdate-win64.sig\n    Verify VersionLT=6.7.5-02\n");
  u_.Configure("Automatic", "MaxLoopCount 0\n");

  // The service program in its place below the base.
  const std::string program = base + "/TQUpdate/etc/tqupdd";
  std::filesystem::create_directories(base + "/TQUpdate/etc");
  std::filesystem::copy_file(updt::kTqupdd, program);
  // The installer host it runs its installations in, beside it.
  std::filesystem::copy_file(std::filesystem::path(updt::kTqupdd).parent_path() / "tqmsihost",
                             base + "/TQUpdate/etc/tqmsihost");
  // The tool records how it was started and, once the service has
  // stopped, starts it again (as the real tool waits with -w).
  std::string record = u_.sys().path("tool-args.txt");
  u_.sys().WriteFile("home-tq/TQUpdate/bin/tqupdcnf",
                     "#!/bin/sh\necho \"$*\" >> " + MsiFixtureQuote(record) + "\nfor i in $(seq 400); do\n  " +
                         MsiFixtureQuote(program) + " start 2>&1 | grep -q 'Started OK' && exit 0\n  sleep 0.1\ndone\n"
                                                    "exit 1\n");
  ASSERT_EQ(::chmod(u_.Home("TQUpdate/bin/tqupdcnf").c_str(), 0755), 0);

  std::string out;
  ASSERT_EQ(TqRunCommand(MsiFixtureQuote(program) + " -v 0 install start", &out), 0) << out;
  ASSERT_TRUE(u_.WaitForLog("Got Stop Event During Install")) << u_.Log();
  for (int i = 0; i < 400 && !UpdateSystem::Exists(record); ++i) PlatSleepMs(25);
  EXPECT_EQ(u_.sys().ReadFile("tool-args.txt"), "--svcstart --nogui -w 120\n") << u_.Log();
  EXPECT_EQ(u_.CountPrefix("CreateProcess("), 0) << u_.Log();
  EXPECT_EQ(u_.RegValue("tqupdate-win64", "Version"), "6.7.502");

  // Started again by the tool: a second start line in the log, running.
  bool restarted = false;
  for (int i = 0; i < 400 && !restarted; ++i) {
    restarted = u_.CountPrefix("TQUpdateD64 - Version: ") >= 2 && TqServiceState("TQUpdateD64") == SERVICE_RUNNING;
    if (!restarted) PlatSleepMs(25);
  }
  EXPECT_TRUE(restarted) << u_.Log();
}
