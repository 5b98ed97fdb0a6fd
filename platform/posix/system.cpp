// POSIX implementation of platform/system.h.
#include "platform/system.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/error.h"

uint32_t PlatProcessId() { return static_cast<uint32_t>(::getpid()); }

uint64_t PlatThreadId() {
  thread_local uint64_t tid = static_cast<uint64_t>(::syscall(SYS_gettid));
  return tid;
}

const char* PlatEnvGet(const char* name) { return ::getenv(name); }

int PlatEnvSet(const char* name, const char* value) {
  if (::setenv(name, value, 1) != 0) {
    PlatSetLastErrorFromErrno(errno);
    return -1;
  }
  return 0;
}

int PlatEnvUnset(const char* name) {
  if (::unsetenv(name) != 0) {
    PlatSetLastErrorFromErrno(errno);
    return -1;
  }
  return 0;
}

// The mask can narrow what the process creates, but never takes the owner's
// own access, and group and others never get write access.
uint32_t PlatSetUmask(uint32_t mask) {
  return static_cast<uint32_t>(::umask(static_cast<mode_t>((mask & 0077) | 0022)));
}

uint32_t PlatEffectiveUserId() { return static_cast<uint32_t>(::geteuid()); }

void PlatUserNameOf(uint32_t uid, char* out, size_t size) {
  struct passwd pw;
  struct passwd* res = nullptr;
  char buf[4096];
  if (::getpwuid_r(static_cast<uid_t>(uid), &pw, buf, sizeof buf, &res) == 0 && res && res->pw_name)
    std::snprintf(out, size, "%s", res->pw_name);
  else
    std::snprintf(out, size, "%u", uid);
}

int PlatUserName(char* out, size_t size) {
  struct passwd pw;
  struct passwd* res = nullptr;
  char buf[4096];
  if (::getpwuid_r(::geteuid(), &pw, buf, sizeof buf, &res) != 0 || !res || !res->pw_name) {
    PlatSetLastError(ERROR_NOT_FOUND);
    return -1;
  }
  if (std::strlen(res->pw_name) + 1 > size) {
    PlatSetLastError(ERROR_INSUFFICIENT_BUFFER);
    return -1;
  }
  std::strcpy(out, res->pw_name);
  return 0;
}

int PlatComputerName(char* out, size_t size) {
  char buf[256];
  if (::gethostname(buf, sizeof buf) != 0) {
    PlatSetLastErrorFromErrno(errno);
    return -1;
  }
  buf[sizeof buf - 1] = '\0';
  if (std::strlen(buf) + 1 > size) {
    PlatSetLastError(ERROR_INSUFFICIENT_BUFFER);
    return -1;
  }
  std::strcpy(out, buf);
  return 0;
}

bool PlatIsAdministrator() { return ::geteuid() == 0; }

void PlatSetErrorMode() {}

int64_t PlatTimeNow() { return static_cast<int64_t>(::time(nullptr)); }

int64_t PlatMonotonicMs() {
  struct timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void PlatSleepMs(uint32_t ms) {
  struct timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

void PlatExitProcess(int code) {
  std::fflush(nullptr);
  ::_exit(code);
}

void PlatBeep() {}

int32_t PlatComInitialize() { return 0; }

void PlatComUninitialize() {}

void PlatKeepAwake(int) {}

int PlatExecutablePath(char* out, size_t size) {
  if (size == 0) return -1;
  ssize_t n = ::readlink("/proc/self/exe", out, size - 1);
  if (n < 0) {
    PlatSetLastErrorFromErrno(errno);
    return -1;
  }
  if (static_cast<size_t>(n) >= size - 1) {
    PlatSetLastError(ERROR_INSUFFICIENT_BUFFER);
    return -1;
  }
  out[n] = '\0';
  return 0;
}
