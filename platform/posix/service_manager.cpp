// POSIX implementation of the manager's side of platform/service_manager.h:
// handles and their rights, creating, opening, starting, controlling,
// deleting, configuring and querying services in the database of
// service_store.h. The service process's side is service_dispatcher.cpp.
//
// Rights: root (the administrators) is granted every right it asks for;
// any other user asking for a right that changes a service or the database
// (create, change, start, stop, pause, user controls, delete, security) is
// refused with 5, and may query, enumerate and interrogate. Each operation
// checks that its handle holds the right it needs (else 5).
#include "platform/service_manager.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <mutex>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <unordered_set>
#include <vector>

#include "platform/error.h"
#include "platform/posix/service_store.h"
#include "platform/posix/syscalls.h"
#include "platform/service_record.h"
#include "platform/system.h"

namespace {

// Generic and standard rights, mapped to the specific rights below.
constexpr uint32_t kGenericRead = 0x80000000u;
constexpr uint32_t kGenericWrite = 0x40000000u;
constexpr uint32_t kGenericExecute = 0x20000000u;
constexpr uint32_t kGenericAll = 0x10000000u;
constexpr uint32_t kReadControl = 0x00020000u;
constexpr uint32_t kWriteDac = 0x00040000u;
constexpr uint32_t kWriteOwner = 0x00080000u;
constexpr uint32_t kScManagerLock = 0x0008;
constexpr uint32_t kScManagerQueryLockStatus = 0x0010;
constexpr uint32_t kScManagerModifyBootConfig = 0x0020;
constexpr uint32_t kServiceEnumerateDependents = 0x0008;
constexpr uint32_t kServiceUserDefinedControl = 0x0100;

// Rights only the administrators are granted.
constexpr uint32_t kManagerAdminRights =
    SC_MANAGER_CREATE_SERVICE | kScManagerLock | kScManagerModifyBootConfig | SC_DELETE | kWriteDac | kWriteOwner;
constexpr uint32_t kServiceAdminRights = SERVICE_CHANGE_CONFIG | SERVICE_START | SERVICE_STOP |
                                         SERVICE_PAUSE_CONTINUE | kServiceUserDefinedControl | SC_DELETE |
                                         kWriteDac | kWriteOwner;

// Windows codes used here only.
constexpr uint32_t kErrorInvalidLevel = 124;
constexpr uint32_t kErrorDatabaseDoesNotExist = 1065;

// The account every service runs as.
constexpr const char kAccount[] = "LocalSystem";

// The search path of a service's program given without a directory, and the
// PATH of its environment.
constexpr const char kServicePath[] = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";

// Variables passed from the starter to the service, so that a service started
// in a relocated system runs in that system.
constexpr const char* kPassedVariables[] = {
    "TQ_SYSTEM_ROOT",           "HOME_TQ",           "PROFILETQENV",        "TQ_FOLDER_PROGRAM_FILES",
    "TQ_FOLDER_COMMON_APPDATA", "TQ_FOLDER_APPDATA", "TQ_FOLDER_DOCUMENTS", "TZ",
    "ASAN_OPTIONS",             "UBSAN_OPTIONS",     "LSAN_OPTIONS",
};

enum HandleKind : uint32_t { kManagerHandle = 0x4D475253u, kServiceHandle = 0x53525643u };

}  // namespace

// A manager or service handle.
struct PlatScHandle {
  uint32_t kind;   // kManagerHandle or kServiceHandle
  uint32_t access; // rights granted (generic rights mapped)
  std::string key; // the service's key; "" for the manager
  std::string id;  // the incarnation of the service when opened; "" when unknown
};

namespace {

// Handles open in this process, so that a stale or foreign pointer is
// refused with 6 instead of being used.
std::mutex g_handles_lock;
std::unordered_set<PlatScHandle*> g_handles;

// Sets the last error; returns the failure result of an int function.
int Fail(uint32_t code) {
  PlatSetLastError(code);
  return 0;
}

// Sets the last error; returns the failure result of a handle function.
SC_HANDLE FailNull(uint32_t code) {
  PlatSetLastError(code);
  return nullptr;
}

// A new open handle.
SC_HANDLE NewHandle(uint32_t kind, uint32_t access, const std::string& key, const std::string& id) {
  auto* h = new PlatScHandle{kind, access, key, id};
  std::lock_guard<std::mutex> g(g_handles_lock);
  g_handles.insert(h);
  return h;
}

// The handle when it is open, of `kind`, and holds every right in `need`;
// null with 6 or 5 otherwise.
PlatScHandle* Checked(SC_HANDLE handle, uint32_t kind, uint32_t need) {
  {
    std::lock_guard<std::mutex> g(g_handles_lock);
    if (!handle || !g_handles.count(handle) || handle->kind != kind) {
      PlatSetLastError(ERROR_INVALID_HANDLE);
      return nullptr;
    }
  }
  if ((handle->access & need) != need) {
    PlatSetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  return handle;
}

// The manager rights `access` stands for (connect always included).
uint32_t MapManagerAccess(uint32_t access) {
  uint32_t a = access & ~(kGenericRead | kGenericWrite | kGenericExecute | kGenericAll);
  if (access & kGenericRead) a |= SC_MANAGER_ENUMERATE_SERVICE | kScManagerQueryLockStatus | kReadControl;
  if (access & kGenericWrite) a |= SC_MANAGER_CREATE_SERVICE | kScManagerModifyBootConfig | kReadControl;
  if (access & kGenericExecute) a |= SC_MANAGER_CONNECT | kScManagerLock | kReadControl;
  if (access & kGenericAll) a |= SC_MANAGER_ALL_ACCESS;
  return a | SC_MANAGER_CONNECT;
}

// The service rights `access` stands for.
uint32_t MapServiceAccess(uint32_t access) {
  uint32_t a = access & ~(kGenericRead | kGenericWrite | kGenericExecute | kGenericAll);
  if (access & kGenericRead)
    a |= SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_INTERROGATE | kServiceEnumerateDependents |
         kReadControl;
  if (access & kGenericWrite) a |= SERVICE_CHANGE_CONFIG | kReadControl;
  if (access & kGenericExecute)
    a |= SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE | kServiceUserDefinedControl | kReadControl;
  if (access & kGenericAll) a |= SERVICE_ALL_ACCESS;
  return a;
}

// True when the caller may be granted `mapped` (administrators get all).
bool Grantable(uint32_t mapped, uint32_t admin_rights) {
  return (mapped & admin_rights) == 0 || PlatIsAdministrator();
}

// Fails with 1060 when the service behind the handle was removed (and maybe
// created again under the same name). A configuration that cannot be read
// does not count against the handle, so that it can still be deleted.
bool SameService(const PlatScHandle* h) {
  PlatServiceConfig config;
  if (ScReadConfig(h->key, &config) != 0) {
    if (PlatGetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) return false;
    return true;
  }
  if (!h->id.empty() && config.id != h->id) {
    PlatSetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
    return false;
  }
  return true;
}

// True when two texts are equal without regard to case.
bool SameText(const char* a, const char* b) { return ::strcasecmp(a, b) == 0; }

// Reads a "\0\0"-ended list of names; false (87) for an over-long entry.
bool ParseNameList(const char* list, std::vector<std::string>* out) {
  out->clear();
  for (const char* p = list; p && *p; p += std::strlen(p) + 1) {
    if (std::strlen(p) > kPlatServiceNameMax) {
      PlatSetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    out->push_back(p);
  }
  return true;
}

// Checks the fields of a create or change call that are given (with
// `no_change_allowed`, SERVICE_NO_CHANGE marks a number left as it is);
// false with 87, or 1057 for another account than LocalSystem.
bool ValidFields(uint32_t service_type, uint32_t start_type, uint32_t error_control, const uint32_t* tag_id,
                 const char* account, const char* display_name, bool no_change_allowed) {
  auto given = [&](uint32_t v) { return !(no_change_allowed && v == SERVICE_NO_CHANGE); };
  if ((given(service_type) && service_type != SERVICE_WIN32_OWN_PROCESS) ||
      (given(start_type) && (start_type < SERVICE_AUTO_START || start_type > SERVICE_DISABLED)) ||
      (given(error_control) && error_control > 3) || tag_id ||
      (display_name && std::strlen(display_name) > kPlatServiceNameMax)) {
    PlatSetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (account && !SameText(account, kAccount) && !SameText(account, ".\\LocalSystem")) {
    PlatSetLastError(ERROR_INVALID_SERVICE_ACCOUNT);
    return false;
  }
  return true;
}

// Finds the program of a binary path as the service will run it: a name
// without a directory along the service's PATH, a relative name from "/"
// (the service's working directory); a name given with ".exe" that is missing
// is looked for without it. 2 when missing, 5 when not an executable file.
bool ResolveProgram(std::string* program) {
  std::vector<std::string> candidates;
  if (program->find('/') == std::string::npos) {
    std::string dirs = kServicePath;
    for (size_t pos = 0; pos <= dirs.size();) {
      size_t colon = dirs.find(':', pos);
      if (colon == std::string::npos) colon = dirs.size();
      candidates.push_back(dirs.substr(pos, colon - pos) + "/" + *program);
      pos = colon + 1;
    }
  } else {
    candidates.push_back((*program)[0] == '/' ? *program : "/" + *program);
  }
  size_t n = candidates.size();
  for (size_t i = 0; i < n; ++i) {
    const std::string& c = candidates[i];
    if (c.size() > 4 && SameText(c.c_str() + c.size() - 4, ".exe")) candidates.push_back(c.substr(0, c.size() - 4));
  }
  uint32_t error = ERROR_FILE_NOT_FOUND;
  for (const std::string& c : candidates) {
    struct stat st;
    if (::stat(c.c_str(), &st) != 0) continue;
    if (!S_ISREG(st.st_mode) || ::access(c.c_str(), X_OK) != 0) {
      error = ERROR_ACCESS_DENIED;
      continue;
    }
    *program = c;
    return true;
  }
  PlatSetLastError(error);
  return false;
}

// The environment of a service: a fixed PATH and HOME, the control channel,
// and the relocation variables of the starter.
std::vector<std::string> ServiceEnvironment(const std::string& name, const std::string& token) {
  std::vector<std::string> env;
  env.push_back(std::string("PATH=") + kServicePath);
  struct passwd pw;
  struct passwd* res = nullptr;
  char buf[4096];
  const char* home = "/";
  if (::getpwuid_r(::geteuid(), &pw, buf, sizeof buf, &res) == 0 && res && res->pw_dir && *res->pw_dir)
    home = res->pw_dir;
  env.push_back(std::string("HOME=") + home);
  env.push_back("TQ_SERVICE_NAME=" + name);
  env.push_back("TQ_SERVICE_TOKEN=" + token);
  for (const char* v : kPassedVariables)
    if (const char* value = PlatEnvGet(v)) env.push_back(std::string(v) + "=" + value);
  // Test-only settings of the programs ("TQ_TEST_...") follow them too.
  for (char** e = environ; e && *e; ++e)
    if (std::strncmp(*e, "TQ_TEST_", 8) == 0) env.push_back(*e);
  return env;
}

// Copies a status as a query shows it into `out` (when given).
void FillStatus(const SERVICE_STATUS_PROCESS& view, SERVICE_STATUS* out) {
  if (!out) return;
  *out = SERVICE_STATUS{view.dwServiceType, view.dwCurrentState, view.dwControlsAccepted,
                        view.dwWin32ExitCode, view.dwServiceSpecificExitCode, view.dwCheckPoint, view.dwWaitHint};
}

// Reads the service's status as a query shows it; false when it is gone.
bool ReadView(const std::string& key, PlatServiceState* state, SERVICE_STATUS_PROCESS* view) {
  if (ScReadState(key, state) != 0) return false;
  ScEffectiveState(*state, view);
  return true;
}

// Ends a start of ours that did not connect: records it stopped with `exit`.
// Returns true when it had connected after all.
bool EndFailedStart(const std::string& key, const std::string& token, uint32_t exit) {
  bool connected = false;
  ScUpdateState(key, [&](PlatServiceState* s) {
    if (s->token != token) return false;
    if (s->connected) {
      connected = true;
      return false;
    }
    s->status = SERVICE_STATUS{SERVICE_WIN32_OWN_PROCESS, SERVICE_STOPPED, 0, exit, 0, 0, 0};
    s->pid = 0;
    s->pid_start = 0;
    return true;
  });
  return connected;
}

// Waits for the dispatcher of our start to connect. 1 when it did; else
// records the start as failed: 1067 when the program ended first, 1053
// (after ending the program) when it did not connect in time.
int WaitForConnect(const std::string& key, const std::string& token, uint32_t pid, uint64_t pid_start) {
  int64_t deadline = PlatMonotonicMs() + kScStartTimeoutMs;
  uint32_t sleep_ms = 1;
  for (;;) {
    PlatServiceState state;
    if (ScReadState(key, &state) != 0) return 0;  // deleted meanwhile: 1060
    if (state.token != token) return Fail(ERROR_SERVICE_REQUEST_TIMEOUT);
    if (state.connected) return 1;
    if (!ScProcessAlive(pid, pid_start)) {
      if (EndFailedStart(key, token, ERROR_PROCESS_ABORTED)) return 1;
      return Fail(ERROR_PROCESS_ABORTED);
    }
    if (PlatMonotonicMs() >= deadline) break;
    PlatSleepMs(sleep_ms);
    if (sleep_ms < 20) sleep_ms *= 2;
  }
  if (EndFailedStart(key, token, ERROR_SERVICE_REQUEST_TIMEOUT)) return 1;
  if (ScProcessAlive(pid, pid_start)) ::kill(static_cast<pid_t>(pid), SIGKILL);
  return Fail(ERROR_SERVICE_REQUEST_TIMEOUT);
}

// Result of one exchange over a control channel.
enum ChannelResult { kAnswered, kNoChannel, kNoAnswer, kTimedOut };

// Connects to the channel of `token` and sends `control`; the connected
// socket in *fd.
ChannelResult SendControl(const std::string& token, uint32_t control, int* fd) {
  *fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (*fd < 0) return kNoChannel;
  struct sockaddr_un addr;
  socklen_t len = ScChannelAddress(token, &addr);
  int rc;
  do rc = ::connect(*fd, reinterpret_cast<struct sockaddr*>(&addr), len);
  while (rc != 0 && errno == EINTR);
  unsigned char frame[kScFrameSize];
  ScFramePut(frame, "TQSC", control, 0);
  if (rc != 0 || ::send(*fd, frame, sizeof frame, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof frame)) {
    ::close(*fd);
    *fd = -1;
    return kNoChannel;
  }
  return kAnswered;
}

// Waits for the handler's answer on `fd` (and closes it).
ChannelResult ReadAnswer(int fd, uint32_t* result) {
  unsigned char frame[kScFrameSize];
  size_t got = 0;
  int64_t deadline = PlatMonotonicMs() + kScControlTimeoutMs;
  ChannelResult r = kAnswered;
  while (got < sizeof frame) {
    int64_t left = deadline - PlatMonotonicMs();
    if (left <= 0) {
      r = kTimedOut;
      break;
    }
    struct pollfd p{fd, POLLIN, 0};
    int n = ::poll(&p, 1, static_cast<int>(left));
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) {
      r = kTimedOut;
      break;
    }
    ssize_t k = ::recv(fd, frame + got, sizeof frame - got, 0);
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) {
      r = kNoAnswer;
      break;
    }
    got += static_cast<size_t>(k);
  }
  ::close(fd);
  uint32_t unused = 0;
  if (r == kAnswered && !ScFrameGet(frame, "TQSA", result, &unused)) r = kNoAnswer;
  return r;
}

// The right a control needs; 0 for a control that does not exist.
uint32_t ControlRight(uint32_t control) {
  switch (control) {
    case SERVICE_CONTROL_STOP: return SERVICE_STOP;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE: return SERVICE_PAUSE_CONTINUE;
    case SERVICE_CONTROL_INTERROGATE: return SERVICE_INTERROGATE;
    default: return control >= 128 && control <= 255 ? kServiceUserDefinedControl : 0;
  }
}

}  // namespace

SC_HANDLE OpenSCManagerA(const char* machine, const char* database, uint32_t access) {
  if (machine && *machine) return FailNull(ERROR_INVALID_PARAMETER);
  if (database && *database && !SameText(database, "ServicesActive")) return FailNull(kErrorDatabaseDoesNotExist);
  uint32_t mapped = MapManagerAccess(access);
  if (!Grantable(mapped, kManagerAdminRights)) return FailNull(ERROR_ACCESS_DENIED);
  return NewHandle(kManagerHandle, mapped, "", "");
}

SC_HANDLE CreateServiceA(SC_HANDLE manager, const char* name, const char* display_name, uint32_t access,
                         uint32_t service_type, uint32_t start_type, uint32_t error_control, const char* binary_path,
                         const char* load_order_group, uint32_t* tag_id, const char* dependencies,
                         const char* account, const char* password) {
  (void)load_order_group;
  (void)password;
  if (!Checked(manager, kManagerHandle, SC_MANAGER_CREATE_SERVICE)) return nullptr;
  PlatServiceConfig config{};
  std::string key;
  if (PlatServiceKey(name, &key) != 0) return nullptr;
  if (!ValidFields(service_type, start_type, error_control, tag_id, account, display_name, false))
    return nullptr;
  if (!binary_path || !*binary_path) return FailNull(ERROR_INVALID_PARAMETER);
  if (!ParseNameList(dependencies, &config.dependencies)) return nullptr;
  uint32_t mapped = MapServiceAccess(access);
  if (!Grantable(mapped, kServiceAdminRights)) return FailNull(ERROR_ACCESS_DENIED);
  config.name = name;
  config.display_name = display_name && *display_name ? display_name : name;
  config.binary_path = binary_path;
  config.account = kAccount;
  config.id = ScNewToken();
  config.service_type = service_type;
  config.start_type = start_type;
  config.error_control = error_control;

  ScLock db;
  if (ScEnsureDatabase() != 0 || ScLockDatabase(&db) != 0) return nullptr;
  if (ScServiceExists(key)) {
    PlatServiceState state;
    bool marked = ScReadState(key, &state) == 0 && state.delete_pending;
    return FailNull(marked ? ERROR_SERVICE_MARKED_FOR_DELETE : ERROR_SERVICE_EXISTS);
  }
  // The service appears whole: built in a directory of its own, then renamed.
  static std::atomic<uint32_t> counter{0};
  std::string tmp = ScServicesDir() + "/.new-" + std::to_string(PlatProcessId()) + "-" +
                    std::to_string(counter.fetch_add(1));
  if (plat_sys_mkdir(tmp.c_str(), 0755) != 0) {
    PlatSetLastErrorFromErrno(errno);
    return nullptr;
  }
  bool ok = ScWriteConfigFile(tmp, config) == 0 && ScWriteStateFile(tmp, PlatServiceStateInitial()) == 0;
  if (!ok || plat_sys_rename(tmp.c_str(), ScServiceDir(key).c_str()) != 0) {
    uint32_t code = ok ? PlatErrorFromErrno(errno) : PlatGetLastError();
    for (const char* f : {"/config", "/status"}) ::unlink((tmp + f).c_str());
    ::rmdir(tmp.c_str());
    return FailNull(code);
  }
  return NewHandle(kServiceHandle, mapped, key, config.id);
}

SC_HANDLE OpenServiceA(SC_HANDLE manager, const char* name, uint32_t access) {
  if (!Checked(manager, kManagerHandle, 0)) return nullptr;
  std::string key;
  if (PlatServiceKey(name, &key) != 0) return nullptr;
  uint32_t mapped = MapServiceAccess(access);
  if (!Grantable(mapped, kServiceAdminRights)) return FailNull(ERROR_ACCESS_DENIED);
  PlatServiceConfig config;
  std::string id;
  if (ScReadConfig(key, &config) == 0) id = config.id;
  else if (PlatGetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) return nullptr;
  return NewHandle(kServiceHandle, mapped, key, id);
}

int CloseServiceHandle(SC_HANDLE handle) {
  std::lock_guard<std::mutex> g(g_handles_lock);
  if (!handle || !g_handles.erase(handle)) return Fail(ERROR_INVALID_HANDLE);
  delete handle;
  return 1;
}

int StartServiceA(SC_HANDLE service, uint32_t argc, const char** argv) {
  PlatScHandle* h = Checked(service, kServiceHandle, SERVICE_START);
  if (!h) return 0;
  if (argc > 0 && !argv) return Fail(ERROR_INVALID_PARAMETER);
  ScLock lock;
  if (ScLockService(h->key, &lock) != 0 || !SameService(h)) return 0;
  PlatServiceConfig config;
  if (ScReadConfig(h->key, &config) != 0) return 0;
  if (config.start_type == SERVICE_DISABLED) return Fail(ERROR_SERVICE_DISABLED);
  PlatServiceState state;
  SERVICE_STATUS_PROCESS view;
  if (!ReadView(h->key, &state, &view)) return 0;
  if (state.delete_pending) return Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
  if (view.dwCurrentState != SERVICE_STOPPED) return Fail(ERROR_SERVICE_ALREADY_RUNNING);
  std::vector<std::string> command;
  if (PlatServiceSplitCommand(config.binary_path, &command) != 0 || !ResolveProgram(&command[0])) return 0;

  // The start is recorded before the program runs, so that its dispatcher
  // finds its token; until the program's id is known the record names this
  // process, so a starter that dies leaves a service that reads as stopped.
  std::string token = ScNewToken();
  uint32_t self = PlatProcessId();
  uint64_t self_start = ScProcessStartTime(self);
  std::vector<std::string> args;
  for (uint32_t i = 0; i < argc; ++i) args.push_back(argv[i] ? argv[i] : "");
  if (ScUpdateState(h->key, [&](PlatServiceState* s) {
        s->status = SERVICE_STATUS{SERVICE_WIN32_OWN_PROCESS, SERVICE_START_PENDING, 0, 0, 0, 0, 2000};
        s->pid = self;
        s->pid_start = self_start;
        s->token = token;
        s->connected = 0;
        s->args = args;
        return true;
      }) != 0)
    return 0;
  uint32_t pid = 0;
  if (ScSpawnDetached(command, ServiceEnvironment(config.name, token), &pid) != 0) {
    uint32_t code = PlatGetLastError();
    EndFailedStart(h->key, token, code);
    return Fail(code);
  }
  uint64_t pid_start = ScProcessStartTime(pid);
  ScUpdateState(h->key, [&](PlatServiceState* s) {
    if (s->token != token) return false;
    s->pid = pid;
    s->pid_start = pid_start;
    return true;
  });
  lock.Release();
  return WaitForConnect(h->key, token, pid, pid_start);
}

int ControlService(SC_HANDLE service, uint32_t control, SERVICE_STATUS* status) {
  uint32_t right = ControlRight(control);
  if (right == 0) {
    if (!Checked(service, kServiceHandle, 0)) return 0;
    return Fail(ERROR_INVALID_PARAMETER);
  }
  PlatScHandle* h = Checked(service, kServiceHandle, right);
  if (!h) return 0;
  ScLock lock;
  if (ScLockService(h->key, &lock) != 0 || !SameService(h)) return 0;
  PlatServiceState state;
  SERVICE_STATUS_PROCESS view;
  if (!ReadView(h->key, &state, &view)) return 0;
  FillStatus(view, status);
  if (view.dwCurrentState == SERVICE_STOPPED) return Fail(ERROR_SERVICE_NOT_ACTIVE);
  if (view.dwCurrentState == SERVICE_START_PENDING || view.dwCurrentState == SERVICE_STOP_PENDING)
    return Fail(ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
  if ((control == SERVICE_CONTROL_STOP && !(view.dwControlsAccepted & SERVICE_ACCEPT_STOP)) ||
      ((control == SERVICE_CONTROL_PAUSE || control == SERVICE_CONTROL_CONTINUE) &&
       !(view.dwControlsAccepted & SERVICE_ACCEPT_PAUSE_CONTINUE)))
    return Fail(ERROR_INVALID_SERVICE_CONTROL);
  int fd = -1;
  ChannelResult r = SendControl(state.token, control, &fd);
  lock.Release();
  uint32_t result = 0;
  if (r == kAnswered) r = ReadAnswer(fd, &result);
  bool stopped = !ReadView(h->key, &state, &view) || view.dwCurrentState == SERVICE_STOPPED;
  if (ScServiceExists(h->key)) FillStatus(view, status);
  switch (r) {
    case kAnswered:
      if (result != 0) return Fail(result);
      return 1;
    case kTimedOut: return Fail(ERROR_SERVICE_REQUEST_TIMEOUT);
    default: return Fail(stopped ? ERROR_SERVICE_NOT_ACTIVE : ERROR_SERVICE_REQUEST_TIMEOUT);
  }
}

int DeleteService(SC_HANDLE service) {
  PlatScHandle* h = Checked(service, kServiceHandle, SC_DELETE);
  if (!h) return 0;
  ScLock lock;
  if (ScLockService(h->key, &lock) != 0 || !SameService(h)) return 0;
  if (ScUpdateState(h->key, [](PlatServiceState* s) {
        if (s->delete_pending) {
          PlatSetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
          return false;
        }
        s->delete_pending = 1;
        return true;
      }) != 0)
    return 0;
  // A stopped service goes at once; a running one when it stops. A removal
  // that fails now is done by the next query that finds it stopped.
  ScRemoveIfDeleted(h->key);
  PlatSetLastError(ERROR_SUCCESS);
  return 1;
}

int QueryServiceConfigA(SC_HANDLE service, QUERY_SERVICE_CONFIGA* config, uint32_t size, uint32_t* needed) {
  PlatScHandle* h = Checked(service, kServiceHandle, SERVICE_QUERY_CONFIG);
  if (!h) return 0;
  if (!needed) return Fail(ERROR_INVALID_PARAMETER);
  PlatServiceConfig c;
  if (!SameService(h) || ScReadConfig(h->key, &c) != 0) return 0;
  *needed = PlatServiceConfigSize(c);
  if (!config || size < *needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
  PlatServiceConfigPack(c, config);
  return 1;
}

int ChangeServiceConfigA(SC_HANDLE service, uint32_t service_type, uint32_t start_type, uint32_t error_control,
                         const char* binary_path, const char* load_order_group, uint32_t* tag_id,
                         const char* dependencies, const char* account, const char* password,
                         const char* display_name) {
  (void)load_order_group;
  (void)password;
  PlatScHandle* h = Checked(service, kServiceHandle, SERVICE_CHANGE_CONFIG);
  if (!h) return 0;
  if (!ValidFields(service_type, start_type, error_control, tag_id, account, display_name, true)) return 0;
  if (binary_path && !*binary_path) return Fail(ERROR_INVALID_PARAMETER);
  std::vector<std::string> deps;
  if (dependencies && !ParseNameList(dependencies, &deps)) return 0;
  ScLock lock;
  if (ScLockService(h->key, &lock) != 0 || !SameService(h)) return 0;
  PlatServiceConfig c;
  PlatServiceState state;
  if (ScReadConfig(h->key, &c) != 0 || ScReadState(h->key, &state) != 0) return 0;
  if (state.delete_pending) return Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
  if (service_type != SERVICE_NO_CHANGE) c.service_type = service_type;
  if (start_type != SERVICE_NO_CHANGE) c.start_type = start_type;
  if (error_control != SERVICE_NO_CHANGE) c.error_control = error_control;
  if (binary_path) c.binary_path = binary_path;
  if (dependencies) c.dependencies = deps;
  if (display_name && *display_name) c.display_name = display_name;
  return ScWriteConfig(h->key, c) == 0 ? 1 : 0;
}

int ChangeServiceConfig2A(SC_HANDLE service, uint32_t level, void* info) {
  PlatScHandle* h = Checked(service, kServiceHandle, SERVICE_CHANGE_CONFIG);
  if (!h) return 0;
  if (level != SERVICE_CONFIG_DESCRIPTION) return Fail(kErrorInvalidLevel);
  if (!info) return Fail(ERROR_INVALID_PARAMETER);
  const char* description = *static_cast<const char* const*>(info);
  ScLock lock;
  if (ScLockService(h->key, &lock) != 0 || !SameService(h)) return 0;
  PlatServiceConfig c;
  PlatServiceState state;
  if (ScReadConfig(h->key, &c) != 0 || ScReadState(h->key, &state) != 0) return 0;
  if (state.delete_pending) return Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
  if (!description) return 1;  // no change
  c.description = description;
  return ScWriteConfig(h->key, c) == 0 ? 1 : 0;
}

int QueryServiceDescriptionA(SC_HANDLE service, char* out, uint32_t size) {
  PlatScHandle* h = Checked(service, kServiceHandle, SERVICE_QUERY_CONFIG);
  if (!h) return 0;
  PlatServiceConfig c;
  if (!SameService(h) || ScReadConfig(h->key, &c) != 0) return 0;
  if (!out || size < c.description.size() + 1) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(out, c.description.c_str(), c.description.size() + 1);
  return 1;
}

int QueryServiceStatusEx(SC_HANDLE service, uint32_t level, void* buffer, uint32_t size, uint32_t* needed) {
  PlatScHandle* h = Checked(service, kServiceHandle, SERVICE_QUERY_STATUS);
  if (!h) return 0;
  if (level != SC_STATUS_PROCESS_INFO) return Fail(kErrorInvalidLevel);
  if (needed) *needed = sizeof(SERVICE_STATUS_PROCESS);
  if (!buffer || size < sizeof(SERVICE_STATUS_PROCESS)) return Fail(ERROR_INSUFFICIENT_BUFFER);
  PlatServiceState state;
  SERVICE_STATUS_PROCESS view;
  if (!SameService(h) || !ReadView(h->key, &state, &view)) return 0;
  std::memcpy(buffer, &view, sizeof view);
  // A service marked for delete whose process died goes now.
  if (state.delete_pending && view.dwCurrentState == SERVICE_STOPPED && PlatIsAdministrator())
    ScRemoveIfDeleted(h->key);
  PlatSetLastError(ERROR_SUCCESS);
  return 1;
}

int EnumServiceNamesA(SC_HANDLE manager, char* out, uint32_t size, uint32_t* needed) {
  if (!Checked(manager, kManagerHandle, SC_MANAGER_ENUMERATE_SERVICE)) return 0;
  std::vector<std::pair<std::string, std::string>> names;  // key, name
  if (DIR* d = ::opendir(ScServicesDir().c_str())) {
    while (struct dirent* e = ::readdir(d)) {
      if (e->d_name[0] == '.' || !ScServiceExists(e->d_name)) continue;
      PlatServiceConfig c;
      names.emplace_back(e->d_name, ScReadConfig(e->d_name, &c) == 0 ? c.name : std::string(e->d_name));
    }
    ::closedir(d);
  } else if (errno != ENOENT) {
    return Fail(PlatErrorFromErrno(errno));
  }
  std::sort(names.begin(), names.end());
  std::string list;
  for (const auto& n : names) list.append(n.second).push_back('\0');
  list.push_back('\0');
  if (needed) *needed = static_cast<uint32_t>(list.size());
  if (!out || size < list.size()) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(out, list.data(), list.size());
  return 1;
}
