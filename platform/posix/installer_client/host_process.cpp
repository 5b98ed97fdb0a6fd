// The installer host's process: start, one exchange, end. POSIX
// implementation.
#include "platform/posix/installer_client/host_process.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/system.h"

extern char** environ;

namespace {

// How long a host that closed its output gets to become reapable before
// its group is killed.
constexpr int64_t kExitGraceMs = 2000;

// Owns the attributes and file actions of one posix_spawn call.
struct SpawnSetup {
  posix_spawnattr_t attr;
  posix_spawn_file_actions_t files;
  bool attr_ok = false, files_ok = false;
  ~SpawnSetup() {
    if (attr_ok) posix_spawnattr_destroy(&attr);
    if (files_ok) posix_spawn_file_actions_destroy(&files);
  }
};

// Prepares a start with `fd` as standard input and output, in a new process
// group, with default signal actions and no blocked signal. 0 or an errno.
int Prepare(SpawnSetup* s, int fd) {
  int rc = posix_spawnattr_init(&s->attr);
  if (rc) return rc;
  s->attr_ok = true;
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  if ((rc = posix_spawnattr_setflags(&s->attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF)) ||
      (rc = posix_spawnattr_setpgroup(&s->attr, 0)) || (rc = posix_spawnattr_setsigmask(&s->attr, &none)) ||
      (rc = posix_spawnattr_setsigdefault(&s->attr, &all)))
    return rc;
  if ((rc = posix_spawn_file_actions_init(&s->files)) != 0) return rc;
  s->files_ok = true;
  if ((rc = posix_spawn_file_actions_adddup2(&s->files, fd, 0)) || (rc = posix_spawn_file_actions_adddup2(&s->files, fd, 1)) ||
      (rc = posix_spawn_file_actions_addclosefrom_np(&s->files, 3)))
    return rc;
  return 0;
}

// Milliseconds left until `deadline` (0 when past), for poll.
int Left(int64_t deadline) {
  int64_t left = deadline - PlatMonotonicMs();
  if (left <= 0) return 0;
  return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

// Waits until `fd` is ready for `events` before `deadline`: 1 ready, 0 time
// is up, -1 failure.
int WaitFd(int fd, short events, int64_t deadline) {
  for (;;) {
    struct pollfd p = {fd, events, 0};
    int r = ::poll(&p, 1, Left(deadline));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    return r > 0 ? 1 : 0;
  }
}

// Text of a wait status.
std::string StatusText(int status) {
  if (WIFSIGNALED(status)) return "ended by signal " + std::to_string(WTERMSIG(status));
  if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
  return "ended";
}

// Reaps the host, killing its group when it has not ended by `deadline`;
// the way it ended as text. The host is gone afterwards.
std::string Reap(MsiHostProcess* host, int64_t deadline, int* status_out = nullptr) {
  std::string how = "ended";
  int status = 0;
  bool reaped = false;
  while (host->pid > 0) {
    pid_t r = ::waitpid(host->pid, &status, WNOHANG);
    if (r == host->pid) {
      reaped = true;
      break;
    }
    if (r < 0 && errno != EINTR) break;  // reaped elsewhere
    if (PlatMonotonicMs() >= deadline) {
      ::kill(-host->pid, SIGKILL);
      ::kill(host->pid, SIGKILL);
      while ((r = ::waitpid(host->pid, &status, 0)) < 0 && errno == EINTR) {
      }
      reaped = r == host->pid;
      if (reaped) how = "killed";
      break;
    }
    PlatSleepMs(1);
  }
  if (reaped && how == "ended") how = StatusText(status);
  if (status_out) *status_out = reaped ? status : -1;
  if (host->pid > 0) ::kill(-host->pid, SIGKILL);  // anything it left in its group
  if (host->fd >= 0) ::close(host->fd);
  host->pid = -1;
  host->fd = -1;
  return how;
}

// Fails an exchange: the host ended (given time to become reapable unless
// `at_once`) and `why` completed with how it ended.
int Fail(MsiHostProcess* host, const std::string& what, std::string* why, bool at_once = false) {
  std::string how = Reap(host, PlatMonotonicMs() + (at_once ? 0 : kExitGraceMs));
  *why = what + " (" + how + ")";
  return -1;
}

// Reads `size` bytes within `deadline`: 1 read, 0 the end came first (after
// *got bytes), -1 failure, -2 time is up.
int ReadExact(int fd, char* buf, size_t size, int64_t deadline, size_t* got) {
  *got = 0;
  while (*got < size) {
    int w = WaitFd(fd, POLLIN, deadline);
    if (w == 0) return -2;
    if (w < 0) return -1;
    ssize_t n = ::recv(fd, buf + *got, size - *got, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n < 0) return errno == ECONNRESET ? 0 : -1;
    if (n == 0) return 0;
    *got += static_cast<size_t>(n);
  }
  return 1;
}

}  // namespace

std::string MsiHostProgram() {
  const char* over = std::getenv("TQ_TEST_MSI_HOST");
  if (over && *over) return over;
  char self[4096];
  if (PlatExecutablePath(self, sizeof self) != 0) return "tqmsihost";
  std::string dir = self;
  size_t slash = dir.find_last_of('/');
  dir = slash == std::string::npos ? "." : dir.substr(0, slash);
  return dir + "/tqmsihost";
}

int64_t MsiHostLimitMs(uint8_t kind) {
  const char* over = std::getenv("TQ_TEST_MSI_HOST_LIMIT_MS");
  if (over && *over) {
    char* end = nullptr;
    long long ms = std::strtoll(over, &end, 10);
    if (end && !*end && ms > 0) return ms;
  }
  return kind == MSI_WIRE_INSTALL || kind == MSI_WIRE_CONFIGURE ? kMsiHostInstallLimitMs : kMsiHostQueryLimitMs;
}

int MsiHostStart(MsiHostProcess* host, std::string* why) {
  std::string program = MsiHostProgram();
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
    *why = std::string("no socket for the installer host: ") + std::strerror(errno);
    return -1;
  }
  SpawnSetup setup;
  int rc = Prepare(&setup, pair[1]);
  std::string pid_text = std::to_string(static_cast<long>(::getpid()));
  char* argv[] = {program.data(), const_cast<char*>("--for"), pid_text.data(), nullptr};
  pid_t pid = -1;
  if (rc == 0) rc = posix_spawn(&pid, program.c_str(), &setup.files, &setup.attr, argv, environ);
  ::close(pair[1]);
  if (rc != 0) {
    ::close(pair[0]);
    *why = "installer host " + program + " cannot be started: " + std::strerror(rc);
    return -1;
  }
  host->pid = pid;
  host->fd = pair[0];
  return 0;
}

int MsiHostCall(MsiHostProcess* host, const MsiWireRequest& req, int64_t limit_ms, MsiWireAnswer* ans,
                std::string* why) {
  if (host->pid <= 0) {
    *why = "no installer host";
    return -1;
  }
  const int64_t deadline = PlatMonotonicMs() + limit_ms;
  // Bytes waiting before a request are more than the last answer held.
  if (WaitFd(host->fd, POLLIN, PlatMonotonicMs()) != 0) {
    char c;
    ssize_t n = ::recv(host->fd, &c, 1, MSG_DONTWAIT);
    return Fail(host, n > 0 ? "installer host wrote more than its answer" : "installer host ended between requests", why);
  }
  std::string frame = MsiWireEncodeRequest(req);
  if (frame.empty()) {
    MsiHostKill(host);
    *why = "request out of bounds";
    return -1;
  }
  size_t sent = 0;
  while (sent < frame.size()) {
    int w = WaitFd(host->fd, POLLOUT, deadline);
    if (w == 0) return Fail(host, "installer host took no request within " + std::to_string(limit_ms) + " ms", why, true);
    ssize_t n = w < 0 ? -1 : ::send(host->fd, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return Fail(host, "installer host ended before taking its request", why);
    sent += static_cast<size_t>(n);
  }
  unsigned char field[kMsiWireLengthSize];
  size_t got = 0;
  int r = ReadExact(host->fd, reinterpret_cast<char*>(field), sizeof field, deadline, &got);
  if (r == -2) return Fail(host, "installer host gave no answer within " + std::to_string(limit_ms) + " ms", why, true);
  if (r == 0 && got == 0) return Fail(host, "installer host ended without answering", why);
  if (r != 1) return Fail(host, "installer host cut its answer off", why);
  uint32_t size = 0;
  if (MsiWireBodyLength(field, kMsiWireMaxAnswerBody, &size) != 0) {
    return Fail(host, "installer host answered with malformed data", why);
  }
  std::string body(size, '\0');
  r = ReadExact(host->fd, body.data(), size, deadline, &got);
  if (r == -2) return Fail(host, "installer host gave no answer within " + std::to_string(limit_ms) + " ms", why, true);
  if (r != 1) return Fail(host, "installer host cut its answer off", why);
  if (MsiWireDecodeAnswer(body, ans) != 0 || ans->kind != req.kind) {
    return Fail(host, "installer host answered with malformed data", why);
  }
  char c;
  if (::recv(host->fd, &c, 1, MSG_PEEK | MSG_DONTWAIT) > 0) return Fail(host, "installer host wrote more than its answer", why);
  return 0;
}

int MsiHostFinish(MsiHostProcess* host, int64_t limit_ms, std::string* why) {
  if (host->pid <= 0) return 0;
  const int64_t deadline = PlatMonotonicMs() + limit_ms;
  ::shutdown(host->fd, SHUT_WR);
  bool extra = false, timed_out = false;
  for (;;) {
    int w = WaitFd(host->fd, POLLIN, deadline);
    if (w == 0) {
      timed_out = true;
      break;
    }
    char buf[512];
    ssize_t n = w < 0 ? -1 : ::recv(host->fd, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    extra = true;
  }
  int status = -1;
  std::string how = Reap(host, timed_out ? PlatMonotonicMs() : deadline, &status);
  if (extra) {
    *why = "installer host wrote more than its answer (" + how + ")";
    return -1;
  }
  if (timed_out) {
    *why = "installer host did not end within " + std::to_string(limit_ms) + " ms (" + how + ")";
    return -1;
  }
  if (status != -1 && (!WIFEXITED(status) || WEXITSTATUS(status) != 0)) {  // -1: reaped elsewhere
    *why = "installer host " + how + " after answering";
    return -1;
  }
  return 0;
}

void MsiHostKill(MsiHostProcess* host) {
  if (host->pid <= 0) return;
  Reap(host, PlatMonotonicMs());
}
