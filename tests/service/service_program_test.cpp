// The service program end to end: its service commands, the service it
// runs under the service manager, and the tool's service operations, all
// with real processes in a relocated system.
#include <gtest/gtest.h>

#include <algorithm>
#include <unistd.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "platform/error.h"
#include "platform/named_mutex.h"
#include "platform/service_manager.h"
#include "platform/system.h"
#include "runtime/env.h"
#include "engine/work_file.h"
#include "service/service_ops.h"
#include "tests/support/child.h"
#include "tests/support/temp_system.h"

namespace {

const std::string kTqupdd = TQ_BINARY_DIR "/service/tqupdd";
const std::string kTqsc = TQ_BINARY_DIR "/platform/tqsc";

struct ProgramRun {
  int code;
  std::string out;
};

ProgramRun Tqupdd(const std::string& args) {
  ProgramRun r;
  r.code = TqRunCommand(kTqupdd + " " + args + " </dev/null", &r.out);
  return r;
}

// The installed service's configuration and state; state 0 when it is not
// installed.
struct Installed {
  uint32_t start_type = 0;
  std::string binary_path;
  std::string dependencies;
  std::string description;
  uint32_t state = 0;
  uint32_t exit_code = 0;
};

Installed Query() {
  Installed q;
  SC_HANDLE m = OpenSCManagerA(nullptr, nullptr, SC_GENERIC_READ);
  SC_HANDLE s = m ? OpenServiceA(m, "TQUpdateD64", SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS) : nullptr;
  if (s) {
    std::vector<unsigned char> buf(4096);
    auto* c = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buf.data());
    uint32_t needed = 0;
    if (QueryServiceConfigA(s, c, static_cast<uint32_t>(buf.size()), &needed)) {
      q.start_type = c->dwStartType;
      q.binary_path = c->lpBinaryPathName;
      q.dependencies = c->lpDependencies ? c->lpDependencies : "";
    }
    char d[256] = "";
    QueryServiceDescriptionA(s, d, sizeof d);
    q.description = d;
    SERVICE_STATUS_PROCESS st{};
    if (QueryServiceStatusEx(s, SC_STATUS_PROCESS_INFO, &st, sizeof st, &needed)) {
      q.state = st.dwCurrentState;
      q.exit_code = st.dwWin32ExitCode;
    }
    CloseServiceHandle(s);
  }
  if (m) CloseServiceHandle(m);
  return q;
}

// Waits (bounded) until the service reaches `state`.
bool WaitForState(uint32_t state) {
  for (int i = 0; i < 200; ++i) {
    if (Query().state == state) return true;
    PlatSleepMs(50);
  }
  return false;
}

// Sends a control; returns 0 or the failure code, and the state afterwards.
uint32_t Control(uint32_t control, uint32_t* state) {
  SC_HANDLE m = OpenSCManagerA(nullptr, nullptr, SC_GENERIC_READ);
  SC_HANDLE s = OpenServiceA(m, "TQUpdateD64", SERVICE_ALL_ACCESS);
  SERVICE_STATUS st{};
  uint32_t rc = ControlService(s, control, &st) ? 0 : PlatGetLastError();
  *state = Query().state;
  CloseServiceHandle(s);
  CloseServiceHandle(m);
  return rc;
}

class ServiceProgram : public testing::Test {
 protected:
  void SetUp() override {
    // A configuration on which the worker runs until it is stopped.
    sys_.WriteFile("home-tq/TQUpdate/Config/tqupd-cnf.txt",
                   "Protocol http\nServer localhost\nScript /upd/updscript.txt\nInstallType OnRequest\n");
    sys_.WriteFile("home-tq/TQUpdate/Work/.keep", "");
  }
  void TearDown() override {
    // Leave no service process behind, whatever the test did.
    TqRunCommand(kTqupdd + " -v 0 stop remove");
    WaitForState(0);
  }
  TempSystem sys_;
};

}  // namespace

TEST_F(ServiceProgram, InstallRegistersDemandStartWithItsOwnPath) {
  for (const char* command : {"install", "Install"}) {
    ProgramRun r = Tqupdd(command);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "Service TQUpdateD64 Installed OK\n");
    Installed q = Query();
    EXPECT_EQ(q.start_type, SERVICE_DEMAND_START);
    EXPECT_EQ(q.binary_path, kTqupdd);
    EXPECT_EQ(q.dependencies, "tcpip");
    EXPECT_EQ(q.description, "TQ Client Update Service");
    EXPECT_EQ(q.state, SERVICE_STOPPED);
    // A second install fails with the service manager's code, exit code 0.
    r = Tqupdd("install");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "CreateService() failed: 1073\n");
    // remove asks for a stop first (which fails: not running) and deletes anyway.
    r = Tqupdd("remove");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "Service TQUpdateD64 Removed OK\n");
    EXPECT_EQ(Query().state, 0u);
  }
  ProgramRun r = Tqupdd("remove");
  EXPECT_EQ(r.out, "OpenService() failed: 1060\n");
  EXPECT_EQ(Tqupdd("-v 0 start").out, "");
}

TEST_F(ServiceProgram, InstallStartAutoRunsTheServiceUntilStopRemove) {
  ProgramRun r = Tqupdd("-v 0 install start auto");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "");
  Installed q = Query();
  EXPECT_EQ(q.start_type, SERVICE_AUTO_START);
  ASSERT_TRUE(WaitForState(SERVICE_RUNNING));
  // The worker has announced its start in the log.
  std::string log = sys_.ReadFile("home-tq/TQUpdate/Log/tqupd-log.txt");
  EXPECT_NE(log.find("TQUpdateD64 - Version: 6.7.5-01 - Started - User: "), std::string::npos) << log;

  uint32_t state = 0;
  EXPECT_EQ(Control(SERVICE_CONTROL_PAUSE, &state), ERROR_CALL_NOT_IMPLEMENTED);
  EXPECT_EQ(state, SERVICE_RUNNING);
  EXPECT_EQ(Control(SERVICE_CONTROL_INTERROGATE, &state), 0u);
  EXPECT_EQ(state, SERVICE_RUNNING);
  EXPECT_EQ(Tqupdd("start").out, "StartService() failed: 1056\n");

  r = Tqupdd("stop remove");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "Service TQUpdateD64 Stopped OK\nService TQUpdateD64 Removed OK\n");
  EXPECT_TRUE(WaitForState(0));
  EXPECT_EQ(sys_.ReadFile("common/TQ/tqupd-msg.txt"), "TQUpdateD64 - Stopped\n");
}

TEST_F(ServiceProgram, StartAndStopCommands) {
  ASSERT_EQ(Tqupdd("-v0 install").code, 0);
  EXPECT_EQ(Tqupdd("stop").out, "StopService() failed: 1062\n");
  EXPECT_EQ(Tqupdd("start").out, "Service TQUpdateD64 Started OK\n");
  ASSERT_TRUE(WaitForState(SERVICE_RUNNING));
  EXPECT_EQ(Tqupdd("stop").out, "Service TQUpdateD64 Stopped OK\n");
  EXPECT_TRUE(WaitForState(SERVICE_STOPPED));
  EXPECT_EQ(Query().exit_code, 0u);
}

// Started from a console without --fg, the program cannot reach the service
// manager: it writes the event-log error and ends with exit code 0; with no
// command or an unknown one it says so in one line on standard error unless
// the verbosity is 0.
TEST_F(ServiceProgram, ConsoleRunReportsTheDispatcherFailure) {
  const struct {
    const char* args;
    const char* hint; // start of the one line printed, or "" for none
  } cases[] = {
      {"", "tqupdd: no command - running as the service"},
      {"foo", "tqupdd: unknown command 'foo' - running as the service"},
      {"strat", "tqupdd: unknown command 'strat' - running as the service"},
      {"-v 2 Strat now", "tqupdd: unknown command 'Strat' - running as the service"},
      {"-v 0 strat", ""},
      {"-v 0", ""},
  };
  for (const auto& c : cases) {
    ::unlink(sys_.path("system/events/TQUpdateD64.log").c_str());
    ProgramRun r = Tqupdd(c.args);
    EXPECT_EQ(r.code, 0) << c.args;
    if (*c.hint) {
      EXPECT_EQ(r.out.rfind(c.hint, 0), 0u) << c.args << ": " << r.out;
      EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << c.args << ": " << r.out;
      EXPECT_NE(r.out.find("install [auto] [start], remove, start, stop [remove]"), std::string::npos) << r.out;
    } else {
      EXPECT_EQ(r.out, "") << c.args;
    }
    std::string events = sys_.ReadFile("system/events/TQUpdateD64.log");
    EXPECT_NE(events.find("TQService Error: 1063 - StartServiceCtrlDispatcher Failed"), std::string::npos)
        << c.args << ": " << events;
  }
}

TEST_F(ServiceProgram, CommandLineErrorsAndHelp) {
  ProgramRun r = Tqupdd("--verbose install");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "Illegal Option: verbose\n");
  EXPECT_EQ(Query().state, 0u);
  r = Tqupdd("--help");
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.out.find("Usage: tqupdd <option> [<optarg>] ..."), std::string::npos);
  EXPECT_NE(r.out.find("\tCommands:\n"), std::string::npos) << r.out;
  for (const char* command : {"\t\tinstall [auto] [start] - ", "\t\tremove - ", "\t\tstart - ", "\t\tstop [remove] - "})
    EXPECT_NE(r.out.find(command), std::string::npos) << command << r.out;
  // Test mode runs one check in the process and ends with -1.
  EXPECT_EQ(Tqupdd("-T").code, 255);
}

TEST_F(ServiceProgram, BootStartsTheAutomaticService) {
  ASSERT_EQ(Tqupdd("-v 0 install auto").code, 0);
  EXPECT_EQ(Query().state, SERVICE_STOPPED);
  std::string out;
  EXPECT_EQ(TqRunCommand(kTqsc + " boot", &out), 0) << out;
  EXPECT_TRUE(WaitForState(SERVICE_RUNNING)) << out;
}

TQ_CHILD_ROLE(hold_work_mutex) {
  // Stands for a worker running in the foreground: it holds the work mutex
  // until its standard input closes.
  PlatMutex* m = PlatMutexCreate(args.at(0).c_str(), nullptr);
  if (!m || PlatMutexWait(m, 0) != WAIT_OBJECT_0) return 2;
  char c;
  while (std::fread(&c, 1, 1, stdin) == 1) {
  }
  PlatMutexRelease(m);
  PlatMutexClose(m);
  return 0;
}

// The tool's status query: installed or not, with or without a worker in the
// foreground holding the work mutex.
TEST_F(ServiceProgram, ToolStatusQuery) {
  RVInit(nullptr);
  const struct {
    bool installed;
    bool worker;
    int expect_installed;
    int expect_running;
    const char* auto_start;
  } cases[] = {
      {false, false, 0, 0, "True"},
      {false, true, 0, 1, "True"},
      {true, false, 1, 0, "False"},
      {true, true, 1, 0, "False"},
  };
  for (const auto& c : cases) {
    if (c.installed) {
      ASSERT_EQ(Tqupdd("-v 0 install").code, 0);
    }
    FILE* holder = nullptr;
    if (c.worker) {
      std::string cmd = "/proc/" + std::to_string(getpid()) + "/exe --tq-child hold_work_mutex '" +
                        UpdWorkMutexName() + "'";
      holder = popen(cmd.c_str(), "w");
      ASSERT_NE(holder, nullptr);
      for (int i = 0; i < 200 && !PlatMutexExists(UpdWorkMutexName().c_str()); ++i) PlatSleepMs(20);
    }
    UpdSvcStatus st = UpdSvcQueryStatus();
    EXPECT_EQ(st.installed, c.expect_installed) << c.installed << c.worker;
    EXPECT_EQ(st.running, c.expect_running) << c.installed << c.worker;
    EXPECT_EQ(st.auto_start, c.auto_start);
    EXPECT_EQ(st.install_text, c.installed ? "TQUpdateD64 - Installed" : "TQUpdateD64 - Not Installed");
    EXPECT_EQ(st.run_text, c.expect_running ? "TQUpdateD64 - Running" : "TQUpdateD64 - Not Running");
    if (holder) pclose(holder);
    if (c.installed) Tqupdd("-v 0 remove");
  }
}

TEST_F(ServiceProgram, ToolOperations) {
  RVInit(nullptr);
  EXPECT_EQ(UpdSvcStart(), "OpenService() - Error: 1060");
  EXPECT_EQ(UpdSvcInstall("false"), "TQUpdateD64 Service - Installed");
  EXPECT_EQ(Query().binary_path, sys_.home() + "/TQUpdate/etc/tqupdd");
  EXPECT_EQ(Query().start_type, SERVICE_DEMAND_START);
  EXPECT_EQ(UpdSvcInstall("True"), "CreateService() failed: 1073");
  EXPECT_EQ(UpdSvcStop(), "ControlService(stop) - Error: 1062");
  // The tool's binary path does not exist in this relocated system.
  std::string start = UpdSvcStart();
  EXPECT_EQ(start.rfind("StartService() - Error: ", 0), 0u) << start;
  EXPECT_EQ(UpdSvcRemove(), "TQUpdateD64 Service - Removed");
  EXPECT_EQ(UpdSvcRemove(), "OpenService() - Error: 1060");
}

// The tool's start-type change, read back through the service manager: the
// wanted type is stored, and a request for the type the service has already
// makes no change call (every change rewrites the stored configuration, a
// new file in its place).
TEST_F(ServiceProgram, ToolStartTypeChangesOnlyWhenItDiffers) {
  RVInit(nullptr);
  ASSERT_EQ(UpdSvcInstall("false"), "TQUpdateD64 Service - Installed");
  const std::string config = sys_.path("system/services/tqupdated64/config");
  struct stat before;
  ASSERT_EQ(::stat(config.c_str(), &before), 0) << "the stored configuration of the service";
  const struct {
    const char* request;
    uint32_t start_type; // read back afterwards
    bool changed;        // the stored configuration was rewritten
  } cases[] = {
      {"FALSE", SERVICE_DEMAND_START, false}, {"true", SERVICE_AUTO_START, true},
      {"TRUE", SERVICE_AUTO_START, false},    {"no", SERVICE_DEMAND_START, true},
      {"", SERVICE_DEMAND_START, false},      {"True", SERVICE_AUTO_START, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.request);
    std::string text_before = sys_.ReadFile("system/services/tqupdated64/config");
    ASSERT_EQ(::stat(config.c_str(), &before), 0);
    EXPECT_EQ(UpdSvcChangeStartType(c.request), "TQUpdateD64 Service - Options Updated");
    EXPECT_EQ(Query().start_type, c.start_type);
    struct stat after;
    ASSERT_EQ(::stat(config.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino != before.st_ino, c.changed);
    if (!c.changed) {
      EXPECT_EQ(sys_.ReadFile("system/services/tqupdated64/config"), text_before);
    }
  }
  EXPECT_EQ(UpdSvcRemove(), "TQUpdateD64 Service - Removed");
  EXPECT_EQ(UpdSvcChangeStartType("true"), "OpenService() - Error: 1060");
}

// Under the service manager standard error leads nowhere, so the runtime's
// printed failures reach the event log too. Here a directory takes the log
// file's place: the service cannot write its log and says so. Run in the
// program itself (test mode) the same text goes to the console only.
TEST_F(ServiceProgram, PrintedFailuresReachTheEventLogUnderTheServiceManager) {
  const std::string log = sys_.home() + "/TQUpdate/Log/tqupd-log.txt";
  ASSERT_EQ(TqRunCommand("mkdir -p '" + log + "'"), 0);
  const std::string text = "RVLogWrite() - Error reopening: " + log;
  const std::string events = "system/events/TQUpdateD64.log";

  ProgramRun console = Tqupdd("-T");
  EXPECT_NE(console.out.find(text + "\n"), std::string::npos) << console.out;
  EXPECT_EQ(sys_.ReadFile(events).find(text), std::string::npos) << sys_.ReadFile(events);

  ASSERT_EQ(Tqupdd("-v 0 install start").code, 0);
  ASSERT_TRUE(WaitForState(SERVICE_RUNNING));
  bool found = false;
  for (int i = 0; i < 200 && !found; ++i) {
    found = sys_.ReadFile(events).find(" Error " + text) != std::string::npos;
    if (!found) PlatSleepMs(50);
  }
  EXPECT_TRUE(found) << sys_.ReadFile(events);
}
