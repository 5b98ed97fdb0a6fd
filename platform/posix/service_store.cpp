// POSIX implementation of the service database on disk (service_store.h).
#include "platform/posix/service_store.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/error.h"
#include "platform/file.h"
#include "platform/folders.h"
#include "platform/posix/syscalls.h"
#include "platform/system.h"

namespace {

constexpr uint32_t kDirMode = 0755;             // directories of the database
constexpr uint32_t kFileMode = 0644;            // files of the database (readable for queries)
constexpr int64_t kStatusLockTimeoutMs = 10000; // the status lock is only ever held for one write
constexpr char kChannelPrefix[] = "tq-service-"; // abstract socket name before the token

// Sets the last error from errno value `err`; returns -1.
int FailErrno(int err) {
  PlatSetLastErrorFromErrno(err);
  return -1;
}

// Sets the last error; returns -1.
int Fail(uint32_t code) {
  PlatSetLastError(code);
  return -1;
}

// Creates one directory unless it exists.
int MakeDir(const std::string& path) {
  if (plat_sys_mkdir(path.c_str(), kDirMode) == 0 || errno == EEXIST) return 0;
  return FailErrno(errno);
}

// Locks `path` (created when missing) with a bounded wait. For a file of a
// service (`service_file`), the lock only counts while `path` still names the
// file that was locked: a service removed meanwhile gives 1060.
int LockFile(const std::string& path, int64_t timeout_ms, bool service_file, ScLock* lock) {
  lock->Release();
  int fd = plat_sys_open(path.c_str(), O_RDWR | O_CREAT, kFileMode);
  if (fd < 0) {
    if (service_file && (errno == ENOENT || errno == ENOTDIR)) return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
    return FailErrno(errno);
  }
  int64_t deadline = PlatMonotonicMs() + timeout_ms;
  uint32_t sleep_ms = 1;
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) {
      int e = errno;
      ::close(fd);
      return FailErrno(e);
    }
    if (PlatMonotonicMs() >= deadline) {
      ::close(fd);
      return Fail(ERROR_SERVICE_DATABASE_LOCKED);
    }
    PlatSleepMs(sleep_ms);
    if (sleep_ms < 20) sleep_ms *= 2;
  }
  if (service_file) {
    struct stat held, now;
    if (::fstat(fd, &held) != 0 || ::stat(path.c_str(), &now) != 0 || held.st_ino != now.st_ino ||
        held.st_dev != now.st_dev) {
      ::close(fd);
      return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
    }
  }
  lock->fd = fd;
  return 0;
}

// Deletes a directory and the plain files in it.
void RemoveTree(const std::string& dir) {
  if (DIR* d = ::opendir(dir.c_str())) {
    while (struct dirent* e = ::readdir(d)) {
      if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
      ::unlink((dir + "/" + e->d_name).c_str());
    }
    ::closedir(d);
  }
  ::rmdir(dir.c_str());
}

}  // namespace

ScLock::~ScLock() { Release(); }

void ScLock::Release() {
  if (fd >= 0) ::close(fd);  // closing the only descriptor releases the flock
  fd = -1;
}

std::string ScServicesDir() { return PlatSystemPath("services"); }

std::string ScServiceDir(const std::string& key) { return ScServicesDir() + "/" + key; }

int ScEnsureDatabase() {
  if (MakeDir(PlatSystemRoot()) != 0) return -1;
  return MakeDir(ScServicesDir());
}

bool ScServiceExists(const std::string& key) {
  struct stat st;
  return ::stat(ScServiceDir(key).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int ScLockDatabase(ScLock* lock) { return LockFile(ScServicesDir() + "/.lock", kScLockTimeoutMs, false, lock); }

int ScLockService(const std::string& key, ScLock* lock) {
  return LockFile(ScServiceDir(key) + "/lock", kScLockTimeoutMs, true, lock);
}

int ScReadConfig(const std::string& key, PlatServiceConfig* config) {
  if (!ScServiceExists(key)) return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
  std::string text;
  if (PlatReadFile((ScServiceDir(key) + "/config").c_str(), &text) != 0) {
    if (!ScServiceExists(key)) return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
    if (PlatGetLastError() == ERROR_FILE_NOT_FOUND) return Fail(ERROR_INVALID_DATA);
    return -1;
  }
  return PlatServiceConfigParse(text, config);
}

int ScWriteConfig(const std::string& key, const PlatServiceConfig& config) {
  return ScWriteConfigFile(ScServiceDir(key), config);
}

int ScWriteConfigFile(const std::string& dir, const PlatServiceConfig& config) {
  return PlatWriteFileAtomic((dir + "/config").c_str(), PlatServiceConfigText(config), kFileMode);
}

int ScReadState(const std::string& key, PlatServiceState* state) {
  if (!ScServiceExists(key)) return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
  std::string text;
  if (PlatReadFile((ScServiceDir(key) + "/status").c_str(), &text) != 0 ||
      PlatServiceStateParse(text, state) != 0) {
    if (!ScServiceExists(key)) return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
    *state = PlatServiceStateInitial();
    state->status.dwWin32ExitCode = 0;
  }
  return 0;
}

int ScUpdateState(const std::string& key, const std::function<bool(PlatServiceState*)>& change) {
  ScLock lock;
  if (LockFile(ScServiceDir(key) + "/status.lock", kStatusLockTimeoutMs, true, &lock) != 0) return -1;
  PlatServiceState state;
  if (ScReadState(key, &state) != 0) return -1;
  PlatSetLastError(ERROR_SUCCESS);
  if (!change(&state)) return PlatGetLastError() == ERROR_SUCCESS ? 0 : -1;
  return ScWriteStateFile(ScServiceDir(key), state);
}

int ScWriteStateFile(const std::string& dir, const PlatServiceState& state) {
  return PlatWriteFileAtomic((dir + "/status").c_str(), PlatServiceStateText(state), kFileMode);
}

uint64_t ScProcessStartTime(uint32_t pid) {
  if (pid == 0) return 0;
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%u/stat", pid);
  std::string text;
  if (PlatReadFile(path, &text) != 0) return 0;
  // "pid (comm) state ppid ...": the command may hold ")" itself, the last one ends it.
  size_t close = text.rfind(')');
  if (close == std::string::npos || close + 2 >= text.size()) return 0;
  char proc_state = text[close + 2];
  if (proc_state == 'Z' || proc_state == 'X' || proc_state == 'x') return 0;
  // The start time is field 22; field 3 (the state) follows the ")".
  size_t pos = close + 2;
  for (int field = 3; field < 22; ++field) {
    pos = text.find(' ', pos);
    if (pos == std::string::npos) return 0;
    ++pos;
  }
  unsigned long long ticks = std::strtoull(text.c_str() + pos, nullptr, 10);
  return ticks == 0 ? 1 : static_cast<uint64_t>(ticks);
}

bool ScProcessAlive(uint32_t pid, uint64_t pid_start) {
  if (pid == 0) return false;
  uint64_t t = ScProcessStartTime(pid);
  return t != 0 && (pid_start == 0 || t == pid_start);
}

bool ScEffectiveState(const PlatServiceState& state, SERVICE_STATUS_PROCESS* out) {
  const SERVICE_STATUS& s = state.status;
  *out = SERVICE_STATUS_PROCESS{s.dwServiceType,       s.dwCurrentState, s.dwControlsAccepted, s.dwWin32ExitCode,
                                s.dwServiceSpecificExitCode, s.dwCheckPoint, s.dwWaitHint,   state.pid,
                                0};
  if (s.dwCurrentState != SERVICE_STOPPED && !ScProcessAlive(state.pid, state.pid_start)) {
    // The process ended without reporting stopped.
    out->dwCurrentState = SERVICE_STOPPED;
    out->dwControlsAccepted = 0;
    out->dwWin32ExitCode = ERROR_PROCESS_ABORTED;
    out->dwServiceSpecificExitCode = 0;
    out->dwCheckPoint = 0;
    out->dwWaitHint = 0;
  }
  if (out->dwCurrentState == SERVICE_STOPPED) out->dwProcessId = 0;
  return out->dwCurrentState == SERVICE_STOPPED;
}

int ScRemoveIfDeleted(const std::string& key) {
  static std::atomic<uint32_t> counter{0};
  std::string trash;
  {
    ScLock db;
    if (ScLockDatabase(&db) != 0) return -1;
    PlatServiceState state;
    if (ScReadState(key, &state) != 0) return 0;  // gone already
    SERVICE_STATUS_PROCESS view;
    if (!state.delete_pending || !ScEffectiveState(state, &view)) return 1;
    char name[64];
    std::snprintf(name, sizeof name, "/.trash-%u-%u", PlatProcessId(), counter.fetch_add(1));
    trash = ScServicesDir() + name;
    if (plat_sys_rename(ScServiceDir(key).c_str(), trash.c_str()) != 0) return FailErrno(errno);
  }
  RemoveTree(trash);
  return 0;
}

std::string ScNewToken() {
  unsigned char bytes[16];
  size_t got = 0;
  while (got < sizeof bytes) {
    ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  if (got < sizeof bytes) {
    // No random source: the time and process id still make a start's token unique.
    uint64_t mix = static_cast<uint64_t>(PlatMonotonicMs()) * 6364136223846793005ull + PlatProcessId();
    for (size_t i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<unsigned char>(mix >> ((i % 8) * 8));
  }
  static const char hex[] = "0123456789abcdef";
  std::string token;
  for (unsigned char b : bytes) {
    token += hex[b >> 4];
    token += hex[b & 15];
  }
  return token;
}

uint32_t ScChannelAddress(const std::string& token, void* sockaddr_un_out) {
  auto* addr = static_cast<struct sockaddr_un*>(sockaddr_un_out);
  std::memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  // An abstract name: sun_path[0] is "\0", the name follows without an end.
  std::string name = std::string(kChannelPrefix) + token;
  if (name.size() > sizeof addr->sun_path - 1) name.resize(sizeof addr->sun_path - 1);
  std::memcpy(addr->sun_path + 1, name.data(), name.size());
  return static_cast<uint32_t>(offsetof(struct sockaddr_un, sun_path) + 1 + name.size());
}

void ScFramePut(unsigned char* frame, const char magic[4], uint32_t a, uint32_t b) {
  std::memcpy(frame, magic, 4);
  for (int i = 0; i < 4; ++i) {
    frame[4 + i] = static_cast<unsigned char>(a >> (24 - 8 * i));
    frame[8 + i] = static_cast<unsigned char>(b >> (24 - 8 * i));
  }
}

bool ScFrameGet(const unsigned char* frame, const char magic[4], uint32_t* a, uint32_t* b) {
  if (std::memcmp(frame, magic, 4) != 0) return false;
  *a = *b = 0;
  for (int i = 0; i < 4; ++i) {
    *a = (*a << 8) | frame[4 + i];
    *b = (*b << 8) | frame[8 + i];
  }
  return true;
}
