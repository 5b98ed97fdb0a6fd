// The service control manager with real service processes in a relocated
// system: the test program itself is the services' program (child role
// "svc"), started by the manager as a detached process.
#include <gtest/gtest.h>

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <mutex>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/error.h"
#include "platform/fault.h"
#include "platform/service_manager.h"
#include "platform/service_record.h"
#include "platform/system.h"
#include "tests/support/child.h"
#include "tests/support/temp_system.h"

namespace {

constexpr int64_t kWaitMs = 30000;  // bound of every wait for a service's state

// --- The service program ----------------------------------------------------

// State of the service main and its handler in the service process.
std::mutex g_svc_lock;
std::condition_variable g_svc_cv;
bool g_svc_stop = false;                      // a stop was requested
SERVICE_STATUS_HANDLE g_svc_handle = nullptr; // the registered status handle
uint32_t g_svc_accepts = 3;                   // controls accepted while running

void SvcReport(uint32_t state, uint32_t accepted, uint32_t checkpoint) {
  SERVICE_STATUS st{SERVICE_WIN32_OWN_PROCESS, state, accepted, 0, 0, checkpoint, checkpoint ? 3000u : 0u};
  SetServiceStatus(g_svc_handle, &st);
}

uint32_t SvcHandler(uint32_t control, uint32_t, void*, void*) {
  switch (control) {
    case SERVICE_CONTROL_STOP: {
      SvcReport(SERVICE_STOP_PENDING, 3, 1);
      std::lock_guard<std::mutex> g(g_svc_lock);
      g_svc_stop = true;
      g_svc_cv.notify_all();
      return 0;
    }
    case SERVICE_CONTROL_INTERROGATE: return 0;
    default: return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

// Writes its arguments to $HOME_TQ/<name>.args (so a test sees both the
// arguments and that the service runs in the starter's relocated system),
// reports its states and waits for a stop (at most two minutes).
void SvcMain(uint32_t argc, char** argv) {
  if (const char* home = PlatEnvGet("HOME_TQ")) {
    std::ofstream out(std::string(home) + "/" + argv[0] + ".args");
    for (uint32_t i = 0; i < argc; ++i) out << argv[i] << "\n";
  }
  g_svc_handle = RegisterServiceCtrlHandlerExA(argv[0], SvcHandler, nullptr);
  if (!g_svc_handle) return;
  SvcReport(SERVICE_START_PENDING, 0, 1);
  SvcReport(SERVICE_START_PENDING, 0, 2);
  SvcReport(SERVICE_RUNNING, g_svc_accepts, 0);
  {
    std::unique_lock<std::mutex> g(g_svc_lock);
    g_svc_cv.wait_for(g, std::chrono::minutes(2), [] { return g_svc_stop; });
  }
  SvcReport(SERVICE_STOPPED, 3, 0);
}

// args[0]: "run" connects and serves; "deaf" does too but accepts no
// controls; "exit" ends before connecting.
TQ_CHILD_ROLE(svc) {
  if (!args.empty() && args[0] == "exit") return 3;
  if (!args.empty() && args[0] == "deaf") g_svc_accepts = 0;
  SERVICE_TABLE_ENTRYA table[] = {{"", SvcMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherA(table) ? 0 : 4;
}

// Starts service args[0]: exit code 0 on success, 56 for 1056, else 1.
TQ_CHILD_ROLE(sc_start) {
  SC_HANDLE m = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE s = m ? OpenServiceA(m, args.at(0).c_str(), SERVICE_START) : nullptr;
  int rc = s && StartServiceA(s, 0, nullptr) ? 0 : PlatGetLastError() == ERROR_SERVICE_ALREADY_RUNNING ? 56 : 1;
  if (s) CloseServiceHandle(s);
  if (m) CloseServiceHandle(m);
  return rc;
}

// As user "nobody": may query service args[0], may not change anything.
// Exit code 0 when every step behaves, else the number of the failing step;
// 99 when the user cannot be changed.
TQ_CHILD_ROLE(sc_unprivileged) {
  if (::setgid(65534) != 0 || ::setuid(65534) != 0) return 99;
  ::prctl(PR_SET_DUMPABLE, 1);  // the leak checker of sanitized builds needs it
  const char* name = args.at(0).c_str();
  if (OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS) || PlatGetLastError() != ERROR_ACCESS_DENIED) return 1;
  if (OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE) || PlatGetLastError() != ERROR_ACCESS_DENIED)
    return 2;
  SC_HANDLE m = OpenSCManagerA(nullptr, nullptr, SC_GENERIC_READ);
  if (!m) return 3;
  for (uint32_t access : {SERVICE_START, SERVICE_STOP, SERVICE_CHANGE_CONFIG, SC_DELETE, SERVICE_ALL_ACCESS})
    if (OpenServiceA(m, name, access) || PlatGetLastError() != ERROR_ACCESS_DENIED) return 4;
  SC_HANDLE s = OpenServiceA(m, name, SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG | SERVICE_INTERROGATE);
  if (!s) return 5;
  SERVICE_STATUS_PROCESS st;
  uint32_t needed = 0;
  if (!QueryServiceStatusEx(s, SC_STATUS_PROCESS_INFO, &st, sizeof st, &needed)) return 6;
  char buf[1024];
  if (!QueryServiceConfigA(s, reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buf), sizeof buf, &needed)) return 7;
  if (!EnumServiceNamesA(m, buf, sizeof buf, &needed)) return 8;
  CloseServiceHandle(s);
  CloseServiceHandle(m);
  return 0;
}

// --- Helpers ------------------------------------------------------------------

// The test program's real path.
std::string SelfPath() {
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

// A binary path that runs the "svc" role in `mode`.
std::string SvcCommand(const char* mode) { return "\"" + SelfPath() + "\" --tq-child svc " + mode; }

// Number of zombie children of this process.
int ZombieChildren() {
  int count = 0;
  DIR* d = ::opendir("/proc");
  if (!d) return 0;
  while (struct dirent* e = ::readdir(d)) {
    std::ifstream in(std::string("/proc/") + e->d_name + "/stat");
    std::string line;
    if (!std::getline(in, line)) continue;
    size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    int ppid = 0;
    if (std::sscanf(line.c_str() + close + 1, " %c %d", &state, &ppid) == 2 && state == 'Z' && ppid == ::getpid())
      ++count;
  }
  ::closedir(d);
  return count;
}

bool ProcessGone(uint32_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(in, line)) return true;
  size_t close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
}

class ServiceManager : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!PlatIsAdministrator()) GTEST_SKIP() << "the service manager's tests run as root";
    scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(scm, nullptr) << PlatGetLastError();
  }

  // Ends every service process left running, then checks that none of them
  // stays a zombie of this process.
  void TearDown() override {
    if (!scm) return;
    for (const std::string& name : Names()) {
      SC_HANDLE s = OpenServiceA(scm, name.c_str(), SERVICE_QUERY_STATUS);
      if (!s) continue;
      SERVICE_STATUS_PROCESS st = Query(s);
      if (st.dwProcessId) {
        ::kill(static_cast<pid_t>(st.dwProcessId), SIGKILL);
        int64_t deadline = PlatMonotonicMs() + kWaitMs;
        while (!ProcessGone(st.dwProcessId) && PlatMonotonicMs() < deadline) PlatSleepMs(10);
      }
      CloseServiceHandle(s);
    }
    EXPECT_EQ(ZombieChildren(), 0);
    CloseServiceHandle(scm);
  }

  SC_HANDLE Create(const char* name, const std::string& command, uint32_t start_type = SERVICE_DEMAND_START) {
    return CreateServiceA(scm, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, start_type,
                          SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, "tcpip\0", nullptr, nullptr);
  }

  static SERVICE_STATUS_PROCESS Query(SC_HANDLE s) {
    SERVICE_STATUS_PROCESS st{};
    uint32_t needed = 0;
    EXPECT_TRUE(QueryServiceStatusEx(s, SC_STATUS_PROCESS_INFO, &st, sizeof st, &needed)) << PlatGetLastError();
    return st;
  }

  // Waits (bounded) until the service reads `state`; returns the last status.
  static SERVICE_STATUS_PROCESS WaitState(SC_HANDLE s, uint32_t state) {
    int64_t deadline = PlatMonotonicMs() + kWaitMs;
    SERVICE_STATUS_PROCESS st = Query(s);
    while (st.dwCurrentState != state && PlatMonotonicMs() < deadline) {
      PlatSleepMs(10);
      st = Query(s);
    }
    return st;
  }

  std::vector<std::string> Names() {
    std::vector<char> buf(4096);
    uint32_t needed = 0;
    std::vector<std::string> names;
    if (!EnumServiceNamesA(scm, buf.data(), static_cast<uint32_t>(buf.size()), &needed)) return names;
    for (const char* p = buf.data(); *p; p += std::strlen(p) + 1) names.push_back(p);
    return names;
  }

  TempSystem sys;
  SC_HANDLE scm = nullptr;
};

// --- Records ------------------------------------------------------------------

TEST(ServiceRecord, CommandLinesSplitAsTheServiceManagerDoes) {
  struct Case {
    const char* command;
    std::vector<std::string> argv;
  } cases[] = {
      {"/opt/a/prog", {"/opt/a/prog"}},
      {"  \"/opt/with space/prog\" -v 2 ", {"/opt/with space/prog", "-v", "2"}},
      {"C:\\TQ\\etc\\tqupdd.exe run", {"C:/TQ/etc/tqupdd.exe", "run"}},
      {"p \"a b\" c\"d e\"f", {"p", "a b", "cd ef"}},
      {"p a\\\\\"b c\" \\\"q\\\" x\\y", {"p", "a\\b c", "\"q\"", "x\\y"}},
      {"p \"\"", {"p", ""}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> argv;
    ASSERT_EQ(PlatServiceSplitCommand(c.command, &argv), 0) << c.command;
    EXPECT_EQ(argv, c.argv) << c.command;
  }
  std::vector<std::string> argv;
  for (const char* bad : {"", "   ", "\"\""}) {
    EXPECT_EQ(PlatServiceSplitCommand(bad, &argv), -1) << bad;
    EXPECT_EQ(PlatGetLastError(), ERROR_INVALID_PARAMETER);
  }
}

// A record cut anywhere, or with a line changed, is refused as a whole.
TEST(ServiceRecord, OnlyWholeRecordsAreRead) {
  PlatServiceConfig config{"Svc", "Svc Display", "line one\nline\\two", "/bin/x \"a\"", {"tcpip", "other"},
                           "LocalSystem", "00ff", SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                           SERVICE_ERROR_NORMAL};
  PlatServiceState state = PlatServiceStateInitial();
  state.status.dwCurrentState = SERVICE_RUNNING;
  state.pid = 42;
  state.pid_start = 1234567;
  state.token = "0123abcd";
  state.connected = 1;
  state.args = {"a b", ""};
  std::string ctext = PlatServiceConfigText(config);
  std::string stext = PlatServiceStateText(state);
  PlatServiceConfig c2;
  PlatServiceState s2;
  ASSERT_EQ(PlatServiceConfigParse(ctext, &c2), 0);
  EXPECT_EQ(PlatServiceConfigText(c2), ctext);
  ASSERT_EQ(PlatServiceStateParse(stext, &s2), 0);
  EXPECT_EQ(PlatServiceStateText(s2), stext);
  for (size_t n = 0; n < ctext.size(); ++n) {
    EXPECT_EQ(PlatServiceConfigParse(ctext.substr(0, n), &c2), -1) << n;
    EXPECT_EQ(PlatGetLastError(), ERROR_INVALID_DATA);
  }
  for (size_t n = 0; n < stext.size(); ++n) EXPECT_EQ(PlatServiceStateParse(stext.substr(0, n), &s2), -1) << n;
  for (const char* from_to : {"state 4|state 9", "start_type 2|start_type 7", "pid 42|pid x", "\nend\n|\nend\nx 1\n",
                              "connected 1|connected 2", "token 0123abcd|token zz"}) {
    std::string f(from_to);
    std::string from = f.substr(0, f.find('|')), to = f.substr(f.find('|') + 1);
    std::string& text = ctext.find(from) != std::string::npos ? ctext : stext;
    std::string changed = text;
    changed.replace(changed.find(from), from.size(), to);
    bool bad = &text == &ctext ? PlatServiceConfigParse(changed, &c2) == -1 : PlatServiceStateParse(changed, &s2) == -1;
    EXPECT_TRUE(bad) << from_to;
  }
}

// --- Configuration ------------------------------------------------------------

TEST_F(ServiceManager, CreateOpenConfigureAndDescribe) {
  SC_HANDLE s = Create("TqConfSvc", SvcCommand("run"));
  ASSERT_NE(s, nullptr) << PlatGetLastError();
  // The Windows buffer rules: too small gives 122 and the size needed.
  uint32_t needed = 0;
  std::vector<char> buf(16);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buf.data());
  EXPECT_FALSE(QueryServiceConfigA(s, config, static_cast<uint32_t>(buf.size()), &needed));
  EXPECT_EQ(PlatGetLastError(), ERROR_INSUFFICIENT_BUFFER);
  ASSERT_GT(needed, sizeof(QUERY_SERVICE_CONFIGA));
  buf.assign(needed, 'x');
  config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buf.data());
  ASSERT_TRUE(QueryServiceConfigA(s, config, needed, &needed));
  EXPECT_EQ(config->dwServiceType, SERVICE_WIN32_OWN_PROCESS);
  EXPECT_EQ(config->dwStartType, SERVICE_DEMAND_START);
  EXPECT_EQ(config->dwErrorControl, SERVICE_ERROR_NORMAL);
  EXPECT_EQ(std::string(config->lpBinaryPathName), SvcCommand("run"));
  EXPECT_STREQ(config->lpDependencies, "tcpip");
  EXPECT_EQ(config->lpDependencies[6], '\0');
  EXPECT_STREQ(config->lpServiceStartName, "LocalSystem");
  EXPECT_STREQ(config->lpDisplayName, "TqConfSvc");
  for (char* p : {config->lpBinaryPathName, config->lpDisplayName, config->lpServiceStartName})
    EXPECT_TRUE(p > buf.data() && p < buf.data() + buf.size());

  ASSERT_TRUE(ChangeServiceConfigA(s, SERVICE_NO_CHANGE, SERVICE_AUTO_START, SERVICE_NO_CHANGE, nullptr, nullptr,
                                   nullptr, nullptr, nullptr, nullptr, "Shown Name"));
  const char* description = "TQ Client Update Service";
  ASSERT_TRUE(ChangeServiceConfig2A(s, SERVICE_CONFIG_DESCRIPTION, &description));
  CloseServiceHandle(s);

  // Names are compared without case; the display case stays.
  s = OpenServiceA(scm, "tqconfSVC", SERVICE_QUERY_CONFIG);
  ASSERT_NE(s, nullptr);
  buf.assign(1024, 'x');
  config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buf.data());
  ASSERT_TRUE(QueryServiceConfigA(s, config, static_cast<uint32_t>(buf.size()), &needed));
  EXPECT_EQ(config->dwStartType, SERVICE_AUTO_START);
  EXPECT_EQ(config->dwErrorControl, SERVICE_ERROR_NORMAL);
  EXPECT_STREQ(config->lpDisplayName, "Shown Name");
  char text[64];
  ASSERT_TRUE(QueryServiceDescriptionA(s, text, sizeof text));
  EXPECT_STREQ(text, description);
  EXPECT_FALSE(QueryServiceDescriptionA(s, text, 4));
  EXPECT_EQ(PlatGetLastError(), ERROR_INSUFFICIENT_BUFFER);
  CloseServiceHandle(s);
  EXPECT_EQ(Names(), std::vector<std::string>{"TqConfSvc"});

  struct Case {
    const char* name;
    bool create;  // CreateServiceA, else OpenServiceA
    uint32_t error;
  } cases[] = {
      {"TQCONFSVC", true, ERROR_SERVICE_EXISTS},        {"NoSuchService", false, ERROR_SERVICE_DOES_NOT_EXIST},
      {"a/b", true, ERROR_INVALID_NAME},                {"a\\b", false, ERROR_INVALID_NAME},
      {".hidden", true, ERROR_INVALID_NAME},            {"", false, ERROR_INVALID_NAME},
  };
  for (const Case& c : cases) {
    SC_HANDLE h = c.create ? Create(c.name, SvcCommand("run")) : OpenServiceA(scm, c.name, SERVICE_QUERY_STATUS);
    EXPECT_EQ(h, nullptr) << c.name;
    EXPECT_EQ(PlatGetLastError(), c.error) << c.name;
  }
}

// A failing disk never leaves half a service or half a configuration.
TEST_F(ServiceManager, WriteFaultsLeaveWholeRecords) {
  for (PlatSyscall kind : {PLAT_SYS_OPEN, PLAT_SYS_MKDIR, PLAT_SYS_WRITE, PLAT_SYS_FSYNC, PLAT_SYS_RENAME}) {
    PlatFaultInject(kind, 1, ENOSPC, true);
    SC_HANDLE s = Create("TqFaultSvc", SvcCommand("run"));
    uint32_t error = PlatGetLastError();
    PlatFaultClear();
    EXPECT_EQ(s, nullptr) << kind;
    EXPECT_EQ(error, ERROR_DISK_FULL) << kind;
    EXPECT_TRUE(Names().empty()) << kind;
  }
  SC_HANDLE s = Create("TqFaultSvc", SvcCommand("run"));
  ASSERT_NE(s, nullptr);
  for (PlatSyscall kind : {PLAT_SYS_OPEN, PLAT_SYS_WRITE, PLAT_SYS_FSYNC, PLAT_SYS_RENAME}) {
    PlatFaultInject(kind, 1, ENOSPC, true);
    int changed = ChangeServiceConfigA(s, SERVICE_NO_CHANGE, SERVICE_AUTO_START, SERVICE_NO_CHANGE, "/new/path",
                                       nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    uint32_t error = PlatGetLastError();
    PlatFaultClear();
    EXPECT_FALSE(changed) << kind;
    EXPECT_EQ(error, ERROR_DISK_FULL) << kind;
    char buf[1024];
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buf);
    uint32_t needed = 0;
    ASSERT_TRUE(QueryServiceConfigA(s, config, sizeof buf, &needed)) << kind;
    EXPECT_EQ(config->dwStartType, SERVICE_DEMAND_START) << kind;
    EXPECT_EQ(std::string(config->lpBinaryPathName), SvcCommand("run")) << kind;
  }
  CloseServiceHandle(s);
}

// Each operation needs its right in the handle; a closed handle is refused.
TEST_F(ServiceManager, HandlesHoldOnlyTheRightsAskedFor) {
  SC_HANDLE s = Create("TqRightsSvc", SvcCommand("run"));
  ASSERT_NE(s, nullptr);
  CloseServiceHandle(s);
  SC_HANDLE q = OpenServiceA(scm, "TqRightsSvc", SERVICE_QUERY_STATUS);
  ASSERT_NE(q, nullptr);
  char buf[1024];
  uint32_t needed = 0;
  SERVICE_STATUS st;
  const char* description = "x";
  struct Case {
    const char* what;
    int result;
  } cases[] = {
      {"start", StartServiceA(q, 0, nullptr)},
      {"stop", ControlService(q, SERVICE_CONTROL_STOP, &st)},
      {"pause", ControlService(q, SERVICE_CONTROL_PAUSE, &st)},
      {"delete", DeleteService(q)},
      {"config", QueryServiceConfigA(q, reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buf), sizeof buf, &needed)},
      {"change", ChangeServiceConfigA(q, SERVICE_NO_CHANGE, SERVICE_AUTO_START, SERVICE_NO_CHANGE, nullptr, nullptr,
                                      nullptr, nullptr, nullptr, nullptr, nullptr)},
      {"describe", ChangeServiceConfig2A(q, SERVICE_CONFIG_DESCRIPTION, &description)},
  };
  for (const Case& c : cases) EXPECT_EQ(c.result, 0) << c.what;
  EXPECT_EQ(PlatGetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Query(q).dwCurrentState, SERVICE_STOPPED);
  SC_HANDLE reader = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  EXPECT_EQ(CreateServiceA(reader, "TqOther", nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                           SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, "/bin/true", nullptr, nullptr, nullptr,
                           nullptr, nullptr),
            nullptr);
  EXPECT_EQ(PlatGetLastError(), ERROR_ACCESS_DENIED);
  CloseServiceHandle(reader);
  ASSERT_TRUE(CloseServiceHandle(q));
  EXPECT_FALSE(CloseServiceHandle(q));
  EXPECT_EQ(PlatGetLastError(), ERROR_INVALID_HANDLE);
}

// A user other than root may look but not touch (a real process as "nobody").
TEST_F(ServiceManager, OtherUsersMayOnlyQuery) {
  SC_HANDLE s = Create("TqUserSvc", SvcCommand("run"));
  ASSERT_NE(s, nullptr);
  CloseServiceHandle(s);
  ASSERT_EQ(::chmod(sys.root().c_str(), 0755), 0);
  EXPECT_EQ(TqWaitChild(TqSpawnChild("sc_unprivileged", {"TqUserSvc"})), 0);
}

// --- Start, controls, stop ------------------------------------------------------

TEST_F(ServiceManager, StartControlAndStopARealService) {
  SC_HANDLE s = Create("TqLifeSvc", SvcCommand("run"));
  ASSERT_NE(s, nullptr);
  const char* args[] = {"first arg", "2"};
  ASSERT_TRUE(StartServiceA(s, 2, args)) << PlatGetLastError();
  SERVICE_STATUS_PROCESS st = WaitState(s, SERVICE_RUNNING);
  ASSERT_EQ(st.dwCurrentState, SERVICE_RUNNING);
  EXPECT_NE(st.dwProcessId, 0u);
  EXPECT_NE(st.dwProcessId, static_cast<uint32_t>(::getpid()));
  EXPECT_EQ(st.dwControlsAccepted, 3u);
  // The service main got the name and the arguments, in the relocated system.
  EXPECT_EQ(sys.ReadFile("home-tq/TqLifeSvc.args"), "TqLifeSvc\nfirst arg\n2\n");

  EXPECT_FALSE(StartServiceA(s, 0, nullptr));
  EXPECT_EQ(PlatGetLastError(), ERROR_SERVICE_ALREADY_RUNNING);
  SERVICE_STATUS status{};
  struct Case {
    uint32_t control;
    int result;
    uint32_t error;
  } controls[] = {
      {SERVICE_CONTROL_INTERROGATE, 1, 0},
      {SERVICE_CONTROL_PAUSE, 0, ERROR_CALL_NOT_IMPLEMENTED},
      {SERVICE_CONTROL_CONTINUE, 0, ERROR_CALL_NOT_IMPLEMENTED},
      {200, 0, ERROR_CALL_NOT_IMPLEMENTED},
      {77, 0, ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : controls) {
    EXPECT_EQ(ControlService(s, c.control, &status), c.result) << c.control;
    if (!c.result) {
      EXPECT_EQ(PlatGetLastError(), c.error) << c.control;
    }
    EXPECT_EQ(Query(s).dwCurrentState, SERVICE_RUNNING) << c.control;
  }
  EXPECT_EQ(status.dwCurrentState, SERVICE_RUNNING);

  ASSERT_TRUE(ControlService(s, SERVICE_CONTROL_STOP, &status)) << PlatGetLastError();
  EXPECT_TRUE(status.dwCurrentState == SERVICE_STOP_PENDING || status.dwCurrentState == SERVICE_STOPPED);
  st = WaitState(s, SERVICE_STOPPED);
  EXPECT_EQ(st.dwCurrentState, SERVICE_STOPPED);
  EXPECT_EQ(st.dwProcessId, 0u);
  EXPECT_EQ(st.dwWin32ExitCode, 0u);
  EXPECT_FALSE(ControlService(s, SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(PlatGetLastError(), ERROR_SERVICE_NOT_ACTIVE);
  EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);

  // It starts again after a stop.
  ASSERT_TRUE(StartServiceA(s, 0, nullptr)) << PlatGetLastError();
  ASSERT_EQ(WaitState(s, SERVICE_RUNNING).dwCurrentState, SERVICE_RUNNING);
  ASSERT_TRUE(ControlService(s, SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(WaitState(s, SERVICE_STOPPED).dwCurrentState, SERVICE_STOPPED);
  CloseServiceHandle(s);
}

// Controls the running service does not accept are refused without reaching
// it; interrogate always reaches it.
TEST_F(ServiceManager, ControlsNotAcceptedAreRefused) {
  SC_HANDLE s = Create("TqDeafSvc", SvcCommand("deaf"));
  ASSERT_NE(s, nullptr);
  ASSERT_TRUE(StartServiceA(s, 0, nullptr)) << PlatGetLastError();
  ASSERT_EQ(WaitState(s, SERVICE_RUNNING).dwCurrentState, SERVICE_RUNNING);
  SERVICE_STATUS status{};
  for (uint32_t control : {SERVICE_CONTROL_STOP, SERVICE_CONTROL_PAUSE, SERVICE_CONTROL_CONTINUE}) {
    EXPECT_FALSE(ControlService(s, control, &status)) << control;
    EXPECT_EQ(PlatGetLastError(), ERROR_INVALID_SERVICE_CONTROL) << control;
  }
  EXPECT_TRUE(ControlService(s, SERVICE_CONTROL_INTERROGATE, &status));
  EXPECT_EQ(status.dwCurrentState, SERVICE_RUNNING);
  CloseServiceHandle(s);  // the process is ended by TearDown
}

// A program path written the Windows way (backslashes, ".exe") finds the
// program, as the configuration tool registers it that way.
TEST_F(ServiceManager, ProgramPathInWindowsFormIsFound) {
  std::string dir = sys.path("programs/TQUpdate/etc");
  ASSERT_EQ(TqRunCommand("mkdir -p '" + dir + "'"), 0);
  ASSERT_EQ(::symlink(SelfPath().c_str(), (dir + "/tqupdd").c_str()), 0);
  std::string command = sys.path("programs") + "\\TQUpdate\\etc\\tqupdd.exe --tq-child svc run";
  SC_HANDLE s = Create("TqWinPathSvc", command);
  ASSERT_NE(s, nullptr);
  ASSERT_TRUE(StartServiceA(s, 0, nullptr)) << PlatGetLastError();
  ASSERT_EQ(WaitState(s, SERVICE_RUNNING).dwCurrentState, SERVICE_RUNNING);
  SERVICE_STATUS status;
  ASSERT_TRUE(ControlService(s, SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(WaitState(s, SERVICE_STOPPED).dwWin32ExitCode, 0u);
  CloseServiceHandle(s);
}

// Two processes start the same service at once: one start, one 1056.
TEST_F(ServiceManager, ConcurrentStartsStartItOnce) {
  SC_HANDLE s = Create("TqRaceSvc", SvcCommand("run"));
  ASSERT_NE(s, nullptr);
  for (int round = 0; round < 3; ++round) {
    pid_t a = TqSpawnChild("sc_start", {"TqRaceSvc"});
    pid_t b = TqSpawnChild("sc_start", {"TqRaceSvc"});
    int ra = TqWaitChild(a), rb = TqWaitChild(b);
    EXPECT_TRUE((ra == 0 && rb == 56) || (ra == 56 && rb == 0)) << ra << " " << rb;
    ASSERT_EQ(WaitState(s, SERVICE_RUNNING).dwCurrentState, SERVICE_RUNNING);
    SERVICE_STATUS status;
    ASSERT_TRUE(ControlService(s, SERVICE_CONTROL_STOP, &status)) << PlatGetLastError();
    ASSERT_EQ(WaitState(s, SERVICE_STOPPED).dwCurrentState, SERVICE_STOPPED);
  }
  CloseServiceHandle(s);
}

// Starts that cannot succeed, and the database stays usable after each.
TEST_F(ServiceManager, FailedStartsLeaveTheServiceStopped) {
  struct Case {
    std::string command;
    uint32_t start_type;
    uint32_t error;      // StartServiceA's failure
    uint32_t exit_code;  // the status's exit code afterwards
  } cases[] = {
      {"/nonexistent/dir/program --x", SERVICE_DEMAND_START, ERROR_FILE_NOT_FOUND, 1077},
      {"\"" + sys.path("home-tq") + "\"", SERVICE_DEMAND_START, ERROR_ACCESS_DENIED, 1077},
      {SvcCommand("run"), SERVICE_DISABLED, ERROR_SERVICE_DISABLED, 1077},
      {SvcCommand("exit"), SERVICE_DEMAND_START, ERROR_PROCESS_ABORTED, ERROR_PROCESS_ABORTED},
  };
  SC_HANDLE s = Create("TqFailSvc", SvcCommand("run"));
  ASSERT_NE(s, nullptr);
  for (const Case& c : cases) {
    ASSERT_TRUE(ChangeServiceConfigA(s, SERVICE_NO_CHANGE, c.start_type, SERVICE_NO_CHANGE, c.command.c_str(),
                                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_FALSE(StartServiceA(s, 0, nullptr)) << c.command;
    EXPECT_EQ(PlatGetLastError(), c.error) << c.command;
    SERVICE_STATUS_PROCESS st = Query(s);
    EXPECT_EQ(st.dwCurrentState, SERVICE_STOPPED) << c.command;
    EXPECT_EQ(st.dwWin32ExitCode, c.exit_code) << c.command;
    EXPECT_EQ(st.dwProcessId, 0u);
  }
  ASSERT_TRUE(ChangeServiceConfigA(s, SERVICE_NO_CHANGE, SERVICE_DEMAND_START, SERVICE_NO_CHANGE,
                                   SvcCommand("run").c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
  ASSERT_TRUE(StartServiceA(s, 0, nullptr)) << PlatGetLastError();
  EXPECT_EQ(WaitState(s, SERVICE_RUNNING).dwCurrentState, SERVICE_RUNNING);
  SERVICE_STATUS status;
  ASSERT_TRUE(ControlService(s, SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(WaitState(s, SERVICE_STOPPED).dwCurrentState, SERVICE_STOPPED);
  CloseServiceHandle(s);
}

// A service process killed outright reads as stopped, and starts again; one
// killed while marked for delete is removed by the query that notices.
TEST_F(ServiceManager, KilledServiceReadsStopped) {
  for (bool marked : {false, true}) {
    SC_HANDLE s = Create("TqKillSvc", SvcCommand("run"));
    ASSERT_NE(s, nullptr) << PlatGetLastError();
    ASSERT_TRUE(StartServiceA(s, 0, nullptr)) << PlatGetLastError();
    SERVICE_STATUS_PROCESS st = WaitState(s, SERVICE_RUNNING);
    ASSERT_EQ(st.dwCurrentState, SERVICE_RUNNING);
    if (marked) {
      ASSERT_TRUE(DeleteService(s));
    }
    ASSERT_EQ(::kill(static_cast<pid_t>(st.dwProcessId), SIGKILL), 0);
    st = WaitState(s, SERVICE_STOPPED);
    EXPECT_EQ(st.dwCurrentState, SERVICE_STOPPED);
    EXPECT_EQ(st.dwWin32ExitCode, ERROR_PROCESS_ABORTED);
    EXPECT_EQ(st.dwProcessId, 0u);
    SERVICE_STATUS status;
    EXPECT_FALSE(ControlService(s, SERVICE_CONTROL_STOP, &status));
    if (marked) {
      EXPECT_EQ(PlatGetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
      EXPECT_EQ(OpenServiceA(scm, "TqKillSvc", SERVICE_QUERY_STATUS), nullptr);
      EXPECT_EQ(PlatGetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
    } else {
      EXPECT_EQ(PlatGetLastError(), ERROR_SERVICE_NOT_ACTIVE);
      ASSERT_TRUE(StartServiceA(s, 0, nullptr)) << PlatGetLastError();
      ASSERT_EQ(WaitState(s, SERVICE_RUNNING).dwCurrentState, SERVICE_RUNNING);
      ASSERT_TRUE(ControlService(s, SERVICE_CONTROL_STOP, &status));
      ASSERT_EQ(WaitState(s, SERVICE_STOPPED).dwCurrentState, SERVICE_STOPPED);
      ASSERT_TRUE(DeleteService(s));
    }
    CloseServiceHandle(s);
  }
}

// A running service marked for delete stays (queryable, not startable, its
// name taken) until it stops; then it is gone, even for open handles, and
// the name is free again.
TEST_F(ServiceManager, DeletedRunningServiceGoesWhenItStops) {
  SC_HANDLE s = Create("TqDelSvc", SvcCommand("run"));
  ASSERT_NE(s, nullptr);
  ASSERT_TRUE(StartServiceA(s, 0, nullptr)) << PlatGetLastError();
  ASSERT_EQ(WaitState(s, SERVICE_RUNNING).dwCurrentState, SERVICE_RUNNING);
  ASSERT_TRUE(DeleteService(s));
  EXPECT_FALSE(DeleteService(s));
  EXPECT_EQ(PlatGetLastError(), ERROR_SERVICE_MARKED_FOR_DELETE);
  SC_HANDLE again = OpenServiceA(scm, "TqDelSvc", SERVICE_ALL_ACCESS);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(Query(again).dwCurrentState, SERVICE_RUNNING);
  EXPECT_EQ(Create("TqDelSvc", SvcCommand("run")), nullptr);
  EXPECT_EQ(PlatGetLastError(), ERROR_SERVICE_MARKED_FOR_DELETE);
  SERVICE_STATUS status;
  ASSERT_TRUE(ControlService(again, SERVICE_CONTROL_STOP, &status));
  int64_t deadline = PlatMonotonicMs() + kWaitMs;
  SC_HANDLE probe;
  while ((probe = OpenServiceA(scm, "TqDelSvc", SERVICE_QUERY_STATUS)) && PlatMonotonicMs() < deadline) {
    CloseServiceHandle(probe);
    PlatSleepMs(10);
  }
  ASSERT_EQ(probe, nullptr);
  EXPECT_EQ(PlatGetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
  SERVICE_STATUS_PROCESS st;
  uint32_t needed;
  EXPECT_FALSE(QueryServiceStatusEx(s, SC_STATUS_PROCESS_INFO, &st, sizeof st, &needed));
  EXPECT_EQ(PlatGetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
  // A new service of the same name is not the old handles' service.
  SC_HANDLE fresh = Create("TqDelSvc", SvcCommand("run"));
  ASSERT_NE(fresh, nullptr) << PlatGetLastError();
  EXPECT_FALSE(StartServiceA(again, 0, nullptr));
  EXPECT_EQ(PlatGetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
  EXPECT_TRUE(DeleteService(fresh));
  for (SC_HANDLE h : {s, again, fresh}) CloseServiceHandle(h);
}

// Damaged files never wedge the database: the service reads stopped, a
// damaged configuration fails cleanly with 13, and delete still works.
TEST_F(ServiceManager, DamagedRecordsCanStillBeQueriedAndDeleted) {
  struct Case {
    const char* file;
    const char* content;  // null: the file's first half
    bool config_readable;
  } cases[] = {
      {"status", "garbage\n", true},
      {"status", nullptr, true},
      {"status", "", true},
      {"config", nullptr, false},
      {"config", "tq-service-config 1\nname x\n", false},
  };
  for (const Case& c : cases) {
    SC_HANDLE s = Create("TqBadSvc", SvcCommand("run"));
    ASSERT_NE(s, nullptr) << PlatGetLastError();
    std::string rel = std::string("system/services/tqbadsvc/") + c.file;
    std::string whole = sys.ReadFile(rel);
    ASSERT_FALSE(whole.empty()) << rel;
    sys.WriteFile(rel, c.content ? std::string(c.content) : whole.substr(0, whole.size() / 2));
    SERVICE_STATUS_PROCESS st = Query(s);
    EXPECT_EQ(st.dwCurrentState, SERVICE_STOPPED) << rel;
    char buf[1024];
    uint32_t needed = 0;
    EXPECT_EQ(QueryServiceConfigA(s, reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buf), sizeof buf, &needed),
              c.config_readable ? 1 : 0);
    if (!c.config_readable) {
      EXPECT_EQ(PlatGetLastError(), ERROR_INVALID_DATA);
      EXPECT_FALSE(StartServiceA(s, 0, nullptr));
      EXPECT_EQ(PlatGetLastError(), ERROR_INVALID_DATA);
    }
    EXPECT_EQ(Names(), std::vector<std::string>{c.config_readable ? "TqBadSvc" : "tqbadsvc"});
    ASSERT_TRUE(DeleteService(s)) << PlatGetLastError();
    EXPECT_EQ(OpenServiceA(scm, "TqBadSvc", SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(PlatGetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
    CloseServiceHandle(s);
  }
}

// A program the manager did not start cannot connect as a service.
TEST_F(ServiceManager, DispatcherOutsideTheManagerFails) {
  SC_HANDLE s = Create("TqLoneSvc", SvcCommand("run"));
  ASSERT_NE(s, nullptr);
  CloseServiceHandle(s);
  struct Case {
    const char* name;   // TQ_SERVICE_NAME, null for none
    const char* token;  // TQ_SERVICE_TOKEN, null for none
  } cases[] = {{nullptr, nullptr}, {"TqLoneSvc", nullptr}, {"TqLoneSvc", "00112233"}, {"NoSuchSvc", "00"}};
  SERVICE_TABLE_ENTRYA table[] = {{"TqLoneSvc", SvcMain}, {nullptr, nullptr}};
  for (const Case& c : cases) {
    if (c.name) sys.SetEnv("TQ_SERVICE_NAME", c.name);
    else sys.UnsetEnv("TQ_SERVICE_NAME");
    if (c.token) sys.SetEnv("TQ_SERVICE_TOKEN", c.token);
    else sys.UnsetEnv("TQ_SERVICE_TOKEN");
    EXPECT_FALSE(StartServiceCtrlDispatcherA(table)) << (c.name ? c.name : "-");
    EXPECT_EQ(PlatGetLastError(), ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
  }
  EXPECT_EQ(RegisterServiceCtrlHandlerExA("TqLoneSvc", SvcHandler, nullptr), nullptr);
  SERVICE_STATUS st{SERVICE_WIN32_OWN_PROCESS, SERVICE_RUNNING, 0, 0, 0, 0, 0};
  EXPECT_FALSE(SetServiceStatus(nullptr, &st));
  EXPECT_EQ(PlatGetLastError(), ERROR_INVALID_HANDLE);
}

// --- The administrator's command -----------------------------------------------

TEST_F(ServiceManager, TqscDrivesTheServices) {
  struct Service {
    const char* name;
    std::string command;
    uint32_t start_type;
  } services[] = {
      {"TqAutoSvc", SvcCommand("run"), SERVICE_AUTO_START},
      {"TqDemandSvc", SvcCommand("run"), SERVICE_DEMAND_START},
      {"TqBrokenSvc", "/nonexistent/program", SERVICE_AUTO_START},
  };
  for (const Service& v : services) {
    SC_HANDLE s = Create(v.name, v.command, v.start_type);
    ASSERT_NE(s, nullptr);
    CloseServiceHandle(s);
  }
  const std::string tqsc = TQ_BINARY_DIR "/platform/tqsc";
  std::string out;
  EXPECT_EQ(TqRunCommand(tqsc + " boot", &out), 0) << out;
  for (const char* text : {"TqAutoSvc: started\n", "TqBrokenSvc: StartService failed 2:",
                           "TqDemandSvc: demand start, not started\n"})
    EXPECT_NE(out.find(text), std::string::npos) << text << "\n" << out;
  SC_HANDLE automatic = OpenServiceA(scm, "TqAutoSvc", SERVICE_QUERY_STATUS);
  ASSERT_EQ(WaitState(automatic, SERVICE_RUNNING).dwCurrentState, SERVICE_RUNNING);
  CloseServiceHandle(automatic);
  struct Case {
    std::string args;
    int exit;
    std::vector<std::string> expected;  // texts in the output
  } cases[] = {
      {"query TqAutoSvc", 0, {"state:             4 running", "accepts:           stop pause-continue"}},
      {"query TqDemandSvc", 0, {"state:             1 stopped", "pid:               0"}},
      {"qc tqdemandsvc", 0, {"start type:    3 demand", "dependencies:  tcpip", "account:       LocalSystem"}},
      {"list", 0, {"TqAutoSvc", "TqBrokenSvc", "TqDemandSvc"}},
      {"start TqDemandSvc a1", 0, {"name:              TqDemandSvc"}},
      {"start TqDemandSvc", 1, {"tqsc: StartService failed 1056:"}},
      {"STOP TqDemandSvc", 0, {"state:             1 stopped"}},
      {"stop TqDemandSvc", 1, {"tqsc: ControlService failed 1062:"}},
      {"delete TqDemandSvc", 0, {"TqDemandSvc: deleted"}},
      {"query TqDemandSvc", 1, {"tqsc: OpenService failed 1060:"}},
      {"delete TqAutoSvc", 0, {"TqAutoSvc: marked for delete"}},
      {"shutdown", 0, {"TqAutoSvc: stopped"}},
      {"query TqAutoSvc", 1, {"1060"}},
      {"frobnicate", 1, {"usage: tqsc"}},
  };
  for (const Case& c : cases) {
    out.clear();
    EXPECT_EQ(TqRunCommand(tqsc + " " + c.args, &out), c.exit) << c.args << "\n" << out;
    for (const std::string& text : c.expected) EXPECT_NE(out.find(text), std::string::npos) << c.args << "\n" << out;
  }
  EXPECT_EQ(sys.ReadFile("home-tq/TqDemandSvc.args"), "TqDemandSvc\na1\n");
}

}  // namespace
