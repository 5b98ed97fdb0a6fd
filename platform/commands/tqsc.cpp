// tqsc: the administrator's command for the services of this machine.
//
//   tqsc query NAME              state, process id, exit codes, accepted controls
//   tqsc qc NAME                 configuration
//   tqsc start NAME [ARGS...]    start (ARGS go to the service main)
//   tqsc stop NAME               stop and wait until stopped (at most 30 s;
//                                a service still starting is let finish first)
//   tqsc delete NAME             delete (a running service goes when it stops)
//   tqsc list                    every service with its state and start type
//   tqsc boot                    start every automatic-start service
//   tqsc shutdown                stop every running service
//
// Results go to standard output, failures to standard error as
// "tqsc: <call> failed <code>: <text>" with the Windows error code. The exit
// code is 0 on success, else 1; boot and shutdown give 0 unless the database
// cannot be read, after printing one line per service.
#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

#include "platform/error.h"
#include "platform/service_manager.h"
#include "platform/system.h"

namespace {

constexpr int64_t kStopWaitMs = 30000;  // how long stop and shutdown wait for a service to stop
constexpr uint32_t kPollMs = 50;        // how often they look

// A plain-language text for the codes the service manager gives.
const char* ErrorText(uint32_t code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND: return "the service's program was not found";
    case ERROR_ACCESS_DENIED: return "access is denied (administrators only)";
    case ERROR_INVALID_HANDLE: return "the handle is not valid";
    case ERROR_INVALID_DATA: return "the service's configuration cannot be read";
    case ERROR_INVALID_PARAMETER: return "a parameter is not valid";
    case ERROR_CALL_NOT_IMPLEMENTED: return "the service does not implement this control";
    case ERROR_INVALID_NAME: return "the service name is not valid";
    case ERROR_INVALID_SERVICE_CONTROL: return "the service does not accept this control";
    case ERROR_SERVICE_REQUEST_TIMEOUT: return "the service did not answer in time";
    case ERROR_SERVICE_NO_THREAD: return "the service's thread could not be created";
    case ERROR_SERVICE_DATABASE_LOCKED: return "the service database is locked";
    case ERROR_SERVICE_ALREADY_RUNNING: return "the service is already running";
    case ERROR_SERVICE_DISABLED: return "the service is disabled";
    case ERROR_SERVICE_DOES_NOT_EXIST: return "the service does not exist";
    case ERROR_SERVICE_CANNOT_ACCEPT_CTRL: return "the service cannot accept controls in its current state";
    case ERROR_SERVICE_NOT_ACTIVE: return "the service is not running";
    case ERROR_FAILED_SERVICE_CONTROLLER_CONNECT: return "the program was not started by the service manager";
    case ERROR_PROCESS_ABORTED: return "the service's process ended unexpectedly";
    case ERROR_SERVICE_MARKED_FOR_DELETE: return "the service is marked for delete";
    case ERROR_SERVICE_EXISTS: return "the service exists already";
    default: return "the operation failed";
  }
}

// Reports the failure of `call` with the last error; returns 1.
int Failed(const char* call) {
  uint32_t code = PlatGetLastError();
  std::fprintf(stderr, "tqsc: %s failed %u: %s\n", call, code, ErrorText(code));
  return 1;
}

// The word for a service state.
const char* StateName(uint32_t state) {
  switch (state) {
    case SERVICE_STOPPED: return "stopped";
    case SERVICE_START_PENDING: return "start pending";
    case SERVICE_STOP_PENDING: return "stop pending";
    case SERVICE_RUNNING: return "running";
    case SERVICE_CONTINUE_PENDING: return "continue pending";
    case SERVICE_PAUSE_PENDING: return "pause pending";
    case SERVICE_PAUSED: return "paused";
    default: return "unknown";
  }
}

// The word for a start type.
const char* StartTypeName(uint32_t type) {
  switch (type) {
    case SERVICE_AUTO_START: return "auto";
    case SERVICE_DEMAND_START: return "demand";
    case SERVICE_DISABLED: return "disabled";
    default: return "unknown";
  }
}

// The manager, opened with `access`; null after reporting.
SC_HANDLE OpenManager(uint32_t access) {
  SC_HANDLE m = OpenSCManagerA(nullptr, nullptr, access);
  if (!m) Failed("OpenSCManager");
  return m;
}

// A service and its manager, closed together.
struct Opened {
  SC_HANDLE manager = nullptr; // the manager
  SC_HANDLE service = nullptr; // the service
  ~Opened() {
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
  }
};

// Opens the service `name` with `access`; false after reporting.
bool OpenNamed(const char* name, uint32_t access, Opened* o) {
  o->manager = OpenManager(SC_MANAGER_CONNECT);
  if (!o->manager) return false;
  o->service = OpenServiceA(o->manager, name, access);
  if (!o->service) {
    Failed("OpenService");
    return false;
  }
  return true;
}

// Reads the status; false (with the last error) when it cannot.
bool Status(SC_HANDLE service, SERVICE_STATUS_PROCESS* st) {
  uint32_t needed = 0;
  return QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, st, sizeof *st, &needed) != 0;
}

// Prints a status, one field a line.
void PrintStatus(const char* name, const SERVICE_STATUS_PROCESS& st) {
  std::printf("name:              %s\n", name);
  std::printf("state:             %u %s\n", st.dwCurrentState, StateName(st.dwCurrentState));
  std::printf("pid:               %u\n", st.dwProcessId);
  std::printf("exit code:         %u\n", st.dwWin32ExitCode);
  std::printf("service exit code: %u\n", st.dwServiceSpecificExitCode);
  std::printf("checkpoint:        %u\n", st.dwCheckPoint);
  std::printf("wait hint:         %u\n", st.dwWaitHint);
  std::printf("accepts:          %s%s%s\n", (st.dwControlsAccepted & SERVICE_ACCEPT_STOP) ? " stop" : "",
              (st.dwControlsAccepted & SERVICE_ACCEPT_PAUSE_CONTINUE) ? " pause-continue" : "",
              (st.dwControlsAccepted & ~3u) ? " other" : "");
}

// Waits until the service reads stopped (a service removed meanwhile counts
// as stopped); false when it did not in time or cannot be queried.
bool WaitStopped(SC_HANDLE service, SERVICE_STATUS_PROCESS* st) {
  int64_t deadline = PlatMonotonicMs() + kStopWaitMs;
  for (;;) {
    if (!Status(service, st)) {
      if (PlatGetLastError() != ERROR_SERVICE_DOES_NOT_EXIST) return false;
      *st = SERVICE_STATUS_PROCESS{SERVICE_WIN32_OWN_PROCESS, SERVICE_STOPPED, 0, 0, 0, 0, 0, 0, 0};
      return true;
    }
    if (st->dwCurrentState == SERVICE_STOPPED) return true;
    if (PlatMonotonicMs() >= deadline) return false;
    PlatSleepMs(kPollMs);
  }
}

// Sends the stop control; a service still starting is given the time to
// finish its start first (at most 30 s). 1 on success, else 0 with the last
// error.
int SendStop(SC_HANDLE service) {
  int64_t deadline = PlatMonotonicMs() + kStopWaitMs;
  SERVICE_STATUS status;
  for (;;) {
    if (ControlService(service, SERVICE_CONTROL_STOP, &status)) return 1;
    if (PlatGetLastError() != ERROR_SERVICE_CANNOT_ACCEPT_CTRL || status.dwCurrentState != SERVICE_START_PENDING ||
        PlatMonotonicMs() >= deadline)
      return 0;
    PlatSleepMs(kPollMs);
  }
}

// Reads the configuration into `buf`; null after reporting.
QUERY_SERVICE_CONFIGA* Config(SC_HANDLE service, std::vector<char>* buf) {
  uint32_t needed = 0;
  if (!QueryServiceConfigA(service, nullptr, 0, &needed) && PlatGetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    Failed("QueryServiceConfig");
    return nullptr;
  }
  buf->assign(needed, 0);
  auto* c = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buf->data());
  if (!QueryServiceConfigA(service, c, needed, &needed)) {
    Failed("QueryServiceConfig");
    return nullptr;
  }
  return c;
}

// Names of every service; false after reporting.
bool Names(SC_HANDLE manager, std::vector<std::string>* names) {
  uint32_t needed = 0;
  std::vector<char> buf;
  while (!EnumServiceNamesA(manager, buf.data(), static_cast<uint32_t>(buf.size()), &needed)) {
    if (PlatGetLastError() != ERROR_INSUFFICIENT_BUFFER) {
      Failed("EnumServiceNames");
      return false;
    }
    buf.assign(needed, 0);
  }
  for (const char* p = buf.data(); *p; p += std::strlen(p) + 1) names->push_back(p);
  return true;
}

// tqsc query NAME.
int Query(const char* name) {
  Opened o;
  if (!OpenNamed(name, SERVICE_QUERY_STATUS, &o)) return 1;
  SERVICE_STATUS_PROCESS st;
  if (!Status(o.service, &st)) return Failed("QueryServiceStatusEx");
  PrintStatus(name, st);
  return 0;
}

// tqsc qc NAME.
int QueryConfig(const char* name) {
  Opened o;
  if (!OpenNamed(name, SERVICE_QUERY_CONFIG, &o)) return 1;
  std::vector<char> buf;
  QUERY_SERVICE_CONFIGA* c = Config(o.service, &buf);
  if (!c) return 1;
  char description[4096] = "";
  if (!QueryServiceDescriptionA(o.service, description, sizeof description)) description[0] = '\0';
  std::string deps;
  for (const char* p = c->lpDependencies; p && *p; p += std::strlen(p) + 1) {
    if (!deps.empty()) deps += ' ';
    deps += p;
  }
  std::printf("name:          %s\n", name);
  std::printf("display name:  %s\n", c->lpDisplayName);
  std::printf("description:   %s\n", description);
  std::printf("type:          %u own process\n", c->dwServiceType);
  std::printf("start type:    %u %s\n", c->dwStartType, StartTypeName(c->dwStartType));
  std::printf("error control: %u\n", c->dwErrorControl);
  std::printf("binary path:   %s\n", c->lpBinaryPathName);
  std::printf("dependencies:  %s\n", deps.c_str());
  std::printf("account:       %s\n", c->lpServiceStartName);
  return 0;
}

// tqsc start NAME [ARGS...]: starts and prints the status.
int Start(const char* name, int argc, char** argv) {
  Opened o;
  if (!OpenNamed(name, SERVICE_START | SERVICE_QUERY_STATUS, &o)) return 1;
  std::vector<const char*> args(argv, argv + argc);
  if (!StartServiceA(o.service, static_cast<uint32_t>(args.size()), args.data())) return Failed("StartService");
  SERVICE_STATUS_PROCESS st;
  if (!Status(o.service, &st)) return Failed("QueryServiceStatusEx");
  PrintStatus(name, st);
  return 0;
}

// tqsc stop NAME: stops, waits until stopped, prints the status.
int Stop(const char* name) {
  Opened o;
  if (!OpenNamed(name, SERVICE_STOP | SERVICE_QUERY_STATUS, &o)) return 1;
  if (!SendStop(o.service)) return Failed("ControlService");
  SERVICE_STATUS_PROCESS st;
  bool stopped = WaitStopped(o.service, &st);
  PrintStatus(name, st);
  if (!stopped) {
    std::fprintf(stderr, "tqsc: %s has not stopped within %lld seconds\n", name,
                 static_cast<long long>(kStopWaitMs / 1000));
    return 1;
  }
  return 0;
}

// tqsc delete NAME: says whether it went at once or when it stops.
int Delete(const char* name) {
  Opened o;
  if (!OpenNamed(name, SC_DELETE, &o)) return 1;
  if (!DeleteService(o.service)) return Failed("DeleteService");
  SC_HANDLE again = OpenServiceA(o.manager, name, SERVICE_QUERY_STATUS);
  if (again) {
    CloseServiceHandle(again);
    std::printf("%s: marked for delete; it is removed when it stops\n", name);
  } else {
    std::printf("%s: deleted\n", name);
  }
  return 0;
}

// tqsc list: a line per service with state, start type and process id.
int List() {
  SC_HANDLE m = OpenManager(SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE);
  if (!m) return 1;
  std::vector<std::string> names;
  bool ok = Names(m, &names);
  if (ok) std::printf("%-32s %-16s %-8s %s\n", "NAME", "STATE", "START", "PID");
  for (const std::string& n : names) {
    SC_HANDLE s = OpenServiceA(m, n.c_str(), SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG);
    SERVICE_STATUS_PROCESS st{};
    std::vector<char> buf;
    uint32_t needed = 0;
    const char* state = "unknown";
    const char* start = "unknown";
    if (s && Status(s, &st)) state = StateName(st.dwCurrentState);
    if (s && !QueryServiceConfigA(s, nullptr, 0, &needed) && PlatGetLastError() == ERROR_INSUFFICIENT_BUFFER) {
      buf.assign(needed, 0);
      auto* c = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buf.data());
      if (QueryServiceConfigA(s, c, needed, &needed)) start = StartTypeName(c->dwStartType);
    }
    std::printf("%-32s %-16s %-8s %u\n", n.c_str(), state, start, st.dwProcessId);
    if (s) CloseServiceHandle(s);
  }
  CloseServiceHandle(m);
  return ok ? 0 : 1;
}

// tqsc boot: starts every automatic-start service, a line per service.
int Boot() {
  SC_HANDLE m = OpenManager(SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE);
  if (!m) return 1;
  std::vector<std::string> names;
  bool ok = Names(m, &names);
  for (const std::string& n : names) {
    SC_HANDLE s = OpenServiceA(m, n.c_str(), SERVICE_QUERY_CONFIG | SERVICE_START);
    std::vector<char> buf;
    QUERY_SERVICE_CONFIGA* c = s ? Config(s, &buf) : nullptr;
    if (!s) {
      uint32_t code = PlatGetLastError();
      std::printf("%s: OpenService failed %u: %s\n", n.c_str(), code, ErrorText(code));
    } else if (!c) {
      std::printf("%s: configuration unreadable, not started\n", n.c_str());
    } else if (c->dwStartType != SERVICE_AUTO_START) {
      std::printf("%s: %s start, not started\n", n.c_str(), StartTypeName(c->dwStartType));
    } else if (StartServiceA(s, 0, nullptr)) {
      std::printf("%s: started\n", n.c_str());
    } else {
      uint32_t code = PlatGetLastError();
      std::printf("%s: StartService failed %u: %s\n", n.c_str(), code, ErrorText(code));
    }
    std::fflush(stdout);
    if (s) CloseServiceHandle(s);
  }
  CloseServiceHandle(m);
  return ok ? 0 : 1;
}

// tqsc shutdown: asks every running service to stop, then waits for each.
int Shutdown() {
  SC_HANDLE m = OpenManager(SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE);
  if (!m) return 1;
  std::vector<std::string> names;
  bool ok = Names(m, &names);
  // Every running service is asked first, then each is waited for.
  std::vector<std::pair<std::string, SC_HANDLE>> asked;
  for (const std::string& n : names) {
    SC_HANDLE s = OpenServiceA(m, n.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS);
    SERVICE_STATUS_PROCESS st;
    if (!s) continue;
    if (!Status(s, &st) || st.dwCurrentState == SERVICE_STOPPED) {
      CloseServiceHandle(s);
      continue;
    }
    if (SendStop(s) || PlatGetLastError() == ERROR_SERVICE_CANNOT_ACCEPT_CTRL) {
      asked.emplace_back(n, s);
      continue;
    }
    uint32_t code = PlatGetLastError();
    std::printf("%s: ControlService failed %u: %s\n", n.c_str(), code, ErrorText(code));
    CloseServiceHandle(s);
  }
  for (auto& [n, s] : asked) {
    SERVICE_STATUS_PROCESS st;
    if (WaitStopped(s, &st)) std::printf("%s: stopped\n", n.c_str());
    else
      std::printf("%s: has not stopped within %lld seconds\n", n.c_str(),
                  static_cast<long long>(kStopWaitMs / 1000));
    CloseServiceHandle(s);
  }
  CloseServiceHandle(m);
  return ok ? 0 : 1;
}

// Prints the usage; returns 1.
int Usage() {
  std::fprintf(stderr,
               "usage: tqsc query NAME | qc NAME | start NAME [ARGS...] | stop NAME | delete NAME\n"
               "            | list | boot | shutdown\n");
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  // Command words are compared without regard to case.
  auto is = [&](const char* word) { return ::strcasecmp(argv[1], word) == 0; };
  if (argc == 2) {
    if (is("list")) return List();
    if (is("boot")) return Boot();
    if (is("shutdown")) return Shutdown();
    return Usage();
  }
  const char* name = argv[2];
  if (is("start")) return Start(name, argc - 3, argv + 3);
  if (argc != 3) return Usage();
  if (is("query")) return Query(name);
  if (is("qc")) return QueryConfig(name);
  if (is("stop")) return Stop(name);
  if (is("delete")) return Delete(name);
  return Usage();
}
