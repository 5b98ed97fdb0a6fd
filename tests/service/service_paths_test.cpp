// The service program at a path with a blank, installed by its own command
// and by the tool's operation, started and restarted under the service
// manager; and the development key's warning in the help text and at every
// start of the worker.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fetch/signing_key.h"
#include "platform/service_manager.h"
#include "platform/system.h"
#include "runtime/env.h"
#include "service/service_ops.h"
#include "tests/support/child.h"
#include "tests/support/service_state.h"
#include "tests/support/temp_system.h"

namespace {

const std::string kTqupdd = TQ_BINARY_DIR "/service/tqupdd";

// The binary path the service manager holds for the service ("" when none).
std::string BinaryPath() {
  std::string path;
  SC_HANDLE m = OpenSCManagerA(nullptr, nullptr, SC_GENERIC_READ);
  SC_HANDLE s = m ? OpenServiceA(m, "TQUpdateD64", SERVICE_QUERY_CONFIG) : nullptr;
  if (s) {
    std::vector<unsigned char> buf(4096);
    auto* c = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buf.data());
    uint32_t needed = 0;
    if (QueryServiceConfigA(s, c, static_cast<uint32_t>(buf.size()), &needed)) path = c->lpBinaryPathName;
    CloseServiceHandle(s);
  }
  if (m) CloseServiceHandle(m);
  return path;
}

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Copies the service program to `to`, executable.
void CopyProgram(const std::string& to) {
  std::filesystem::create_directories(std::filesystem::path(to).parent_path());
  std::filesystem::copy_file(kTqupdd, to, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::permissions(to, std::filesystem::perms(0755));
}

class ServicePaths : public testing::Test {
 protected:
  // A configuration on which the worker runs until it is stopped, in the
  // installation at `home`.
  void UseHome(const std::string& home) {
    sys_.SetEnv("HOME_TQ", home.c_str());
    RVResetForTest();
    std::filesystem::create_directories(home + "/TQUpdate/Config");
    std::filesystem::create_directories(home + "/TQUpdate/Work");
    WriteText(home + "/TQUpdate/Config/tqupd-cnf.txt",
                "Protocol http\nServer localhost\nScript /upd/updscript.txt\nInstallType OnRequest\nLogLevel 0\n");
  }
  void TearDown() override {
    TqRunCommand(kTqupdd + " -v 0 stop remove");
    TqWaitServiceState("TQUpdateD64", 0);
  }
  TempSystem sys_;
};

}  // namespace

TEST_F(ServicePaths, OwnInstallAtAPathWithABlankStartsAndRestarts) {
  UseHome(sys_.home());
  const std::string program = sys_.path("opt/with space/TQUpdate/etc/tqupdd");
  CopyProgram(program);
  std::string out;
  ASSERT_EQ(TqRunCommand("'" + program + "' -v 0 install start", &out), 0) << out;
  EXPECT_EQ(BinaryPath(), "\"" + program + "\"");
  ASSERT_TRUE(TqWaitServiceState("TQUpdateD64", SERVICE_RUNNING)) << sys_.ReadFile("home-tq/TQUpdate/Log/tqupd-log.txt");
  ASSERT_EQ(TqRunCommand("'" + program + "' -v 0 stop", &out), 0) << out;
  ASSERT_TRUE(TqWaitServiceState("TQUpdateD64", SERVICE_STOPPED));
  ASSERT_EQ(TqRunCommand("'" + program + "' -v 0 start", &out), 0) << out;
  EXPECT_TRUE(TqWaitServiceState("TQUpdateD64", SERVICE_RUNNING));
}

TEST_F(ServicePaths, ToolInstallUnderABaseWithABlankStartsAndRestarts) {
  const std::string home = sys_.path("with space/home tq");
  UseHome(home);
  RVInit(nullptr);
  CopyProgram(home + "/TQUpdate/etc/tqupdd");
  ASSERT_EQ(UpdSvcInstall("false"), "TQUpdateD64 Service - Installed");
  EXPECT_EQ(BinaryPath(), "\"" + UpdSvcBinaryPath() + "\"");
  EXPECT_EQ(UpdSvcBinaryPath(), home + "/TQUpdate/etc/tqupdd");
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    ASSERT_EQ(UpdSvcStart(), "TQUpdateD64 Service - Started");
    ASSERT_TRUE(TqWaitServiceState("TQUpdateD64", SERVICE_RUNNING)) << ReadText(home + "/TQUpdate/Log/tqupd-log.txt");
    ASSERT_EQ(UpdSvcStop(), "TQUpdateD64 Service - Stopped");
    ASSERT_TRUE(TqWaitServiceState("TQUpdateD64", SERVICE_STOPPED));
  }
  EXPECT_EQ(UpdSvcRemove(), "TQUpdateD64 Service - Removed");
}

// A path without a blank stays unquoted.
TEST_F(ServicePaths, PathWithoutABlankIsRegisteredAsItIs) {
  UseHome(sys_.home());
  std::string out;
  ASSERT_EQ(TqRunCommand(kTqupdd + " -v 0 install", &out), 0) << out;
  EXPECT_EQ(BinaryPath(), kTqupdd);
}

// With the development key compiled in, the help says so, and every start
// of the worker logs it at level 9: even LogLevel 0 shows it.
TEST_F(ServicePaths, DevelopmentKeyIsLoud) {
  UseHome(sys_.home());
  const std::string warning = kUpdDevelopmentKeyWarning;
  std::string out;
  EXPECT_EQ(TqRunCommand(kTqupdd + " --help", &out), 0);
  EXPECT_EQ(out.find(warning) != std::string::npos, UpdSigningKeyIsDevelopment() == 1) << out;

  const std::string log = "home-tq/TQUpdate/Log/tqupd-log.txt";
  ASSERT_EQ(TqRunCommand(kTqupdd + " -v 0 install start", &out), 0) << out;
  ASSERT_TRUE(TqWaitServiceState("TQUpdateD64", SERVICE_RUNNING));
  for (int start = 1; start <= 2; ++start) {
    SCOPED_TRACE(start);
    // Wait for the start's line, then count the warnings.
    int started = 0, warned = 0;
    for (int i = 0; i < 200; ++i) {
      std::string text = sys_.ReadFile(log);
      started = warned = 0;
      for (size_t p = 0; (p = text.find("Started - User:", p)) != std::string::npos; ++p) ++started;
      for (size_t p = 0; (p = text.find(warning, p)) != std::string::npos; ++p) ++warned;
      if (started >= start) break;
      PlatSleepMs(50);
    }
    EXPECT_EQ(started, start) << sys_.ReadFile(log);
    EXPECT_EQ(warned, UpdSigningKeyIsDevelopment() ? start : 0) << sys_.ReadFile(log);
    ASSERT_EQ(TqRunCommand(kTqupdd + " -v 0 stop", &out), 0) << out;
    ASSERT_TRUE(TqWaitServiceState("TQUpdateD64", SERVICE_STOPPED));
    if (start == 1) {
      ASSERT_EQ(TqRunCommand(kTqupdd + " -v 0 start", &out), 0) << out;
      ASSERT_TRUE(TqWaitServiceState("TQUpdateD64", SERVICE_RUNNING));
    }
  }
}
