// The tool's silent service operations against the real service manager
// layer and the real tqupdd installed at TQUpdate/etc/tqupdd of a relocated
// system, with no display. What the tool writes into its message field is
// read back from the test-only trace file.
#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

#include "platform/service_manager.h"
#include "platform/system.h"
#include "runtime/env.h"
#include "tests/support/child.h"
#include "tests/support/service_state.h"
#include "tests/support/temp_system.h"
#include "tests/tool/tool_test_util.h"

namespace {

const std::string kTool = TQ_BINARY_DIR "/tool/tqupdcnf";
const std::string kTqupdd = TQ_BINARY_DIR "/service/tqupdd";
const char kService[] = "TQUpdateD64";

class ToolSilent : public testing::Test {
 protected:
  void SetUp() override {
    sys_.UnsetEnv("DISPLAY");
    sys_.SetEnv("TQ_TEST_SECOND_MS", "1");
    sys_.SetEnv("TQ_TEST_TRACE", Trace().c_str());
    // A configuration on which the worker runs until it is stopped.
    sys_.WriteFile("home-tq/TQUpdate/Config/tqupd-cnf.txt",
                   "Protocol http\nServer localhost\nScript /upd/updscript.txt\nInstallType OnRequest\n");
    sys_.WriteFile("home-tq/TQUpdate/Work/.keep", "");
    installed_ = sys_.home() + "/TQUpdate/etc/tqupdd";
    sys_.WriteFile("home-tq/TQUpdate/etc/.keep", "");
    ToolInstallFontFile(sys_);
    ASSERT_EQ(TqRunCommand("cp " + kTqupdd + " " + installed_), 0);
  }
  void TearDown() override {
    TqRunCommand(installed_ + " -v 0 stop remove");
    TqWaitServiceState(kService, 0);
  }

  std::string Trace() const { return sys_.path("trace.txt"); }

  // Runs the tool; returns its exit code, with standard output and error.
  int Tool(const std::string& args, std::string* out = nullptr) {
    return TqRunCommand(kTool + " " + args + " </dev/null", out);
  }

  std::vector<std::string> TraceLines() const { return ToolTraceLines(sys_); }

  TempSystem sys_;
  std::string installed_;
};

}  // namespace

TEST_F(ToolSilent, StartStopRemoveTheInstalledService) {
  ASSERT_EQ(TqRunCommand(installed_ + " -v 0 install"), 0);
  ASSERT_EQ(TqServiceState(kService), SERVICE_STOPPED);

  std::string out;
  EXPECT_EQ(Tool("--svcstart --nogui", &out), 0) << out;
  EXPECT_EQ(out, "");
  EXPECT_EQ(TqServiceState(kService), SERVICE_RUNNING);
  std::string query;
  ASSERT_EQ(TqRunCommand(TQ_BINARY_DIR "/platform/tqsc query TQUpdateD64", &query), 0);
  EXPECT_NE(query.find("4 running"), std::string::npos) << query;

  EXPECT_EQ(Tool("--SVCSTOP --nogui", &out), 0) << out;
  EXPECT_TRUE(TqWaitServiceState(kService, SERVICE_STOPPED));
  EXPECT_EQ(Tool("--svcremove --nogui", &out), 0) << out;
  EXPECT_EQ(TqServiceState(kService), 0u);
  EXPECT_EQ(TraceLines(), (std::vector<std::string>{"TQUpdateD64 Service - Started", "TQUpdateD64 Service - Stopped",
                                                    "TQUpdateD64 Service - Removed"}));
}

// The operations run in the fixed order start, stop, remove whatever the
// order of the options.
TEST_F(ToolSilent, FixedOrderOfTheOperations) {
  ASSERT_EQ(TqRunCommand(installed_ + " -v 0 install"), 0);
  EXPECT_EQ(Tool("--svcremove --svcstop --svcstart --nogui"), 0);
  EXPECT_EQ(TraceLines(), (std::vector<std::string>{"TQUpdateD64 Service - Started", "TQUpdateD64 Service - Stopped",
                                                    "TQUpdateD64 Service - Removed"}));
  EXPECT_EQ(TqServiceState(kService), 0u);
}

// A missing service is a text in the message field, never a failure of the
// tool.
TEST_F(ToolSilent, MissingServiceStillExitsZero) {
  std::string out;
  EXPECT_EQ(Tool("--svcstart --svcstop --svcremove --nogui", &out), 0) << out;
  EXPECT_EQ(out, "");
  EXPECT_EQ(TraceLines(), (std::vector<std::string>{"OpenService() - Error: 1060", "OpenService() - Error: 1060",
                                                    "OpenService() - Error: 1060"}));
}

// -w waits before anything else: while the tool waits the service is not
// started; afterwards it runs.
TEST_F(ToolSilent, WaitComesBeforeTheStart) {
  ASSERT_EQ(TqRunCommand(installed_ + " -v 0 install"), 0);
  sys_.SetEnv("TQ_TEST_SECOND_MS", "1000");
  pid_t pid = ToolSpawn(kTool, {"-w", "3", "--svcstart", "--nogui"});
  ASSERT_GT(pid, 0);
  // The tool is waiting: nothing is started and nothing is in its field yet.
  PlatSleepMs(500);
  EXPECT_EQ(TqServiceState(kService), SERVICE_STOPPED);
  EXPECT_TRUE(TraceLines().empty());
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(TqServiceState(kService), SERVICE_RUNNING);
  EXPECT_EQ(TraceLines(), std::vector<std::string>{"TQUpdateD64 Service - Started"});
}

// A failure of the preferences in a --nogui run is reported on standard
// error, the service operations still run, and the exit code is 1.
TEST_F(ToolSilent, PreferencesFailureStillRunsTheOperations) {
  ASSERT_EQ(TqRunCommand(installed_ + " -v 0 install"), 0);
  // The user's application data folder is a file: no user preferences.
  RVInit(nullptr);
  const char* appdata = RVGetEnv("RV_APPDATA");
  ASSERT_NE(appdata, nullptr);
  std::string folder = appdata;
  ASSERT_EQ(folder.rfind(sys_.root() + "/", 0), 0u) << folder;
  TqRunCommand("rm -rf '" + folder + "'");
  sys_.WriteFile(folder.substr(sys_.root().size() + 1), "not a folder");
  std::string out;
  EXPECT_EQ(Tool("--svcstart --nogui", &out), 1);
  EXPECT_NE(out.find("Error Loading Client Preferences"), std::string::npos) << out;
  EXPECT_EQ(TraceLines(), std::vector<std::string>{"TQUpdateD64 Service - Started"});
  EXPECT_EQ(TqServiceState(kService), SERVICE_RUNNING);
}
