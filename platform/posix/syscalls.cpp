// POSIX implementation of the fault-injectable system call table.
#include "platform/posix/syscalls.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fault.h"

namespace {

struct FaultSlot {
  std::atomic<int> calls{0};   // calls seen since the last clear
  std::atomic<int> fail_at{0}; // 1-based call number that fails; 0 = none
  std::atomic<int> err{0};     // errno of the injected failure
  std::atomic<bool> sticky{false};
};

FaultSlot g_slots[PLAT_SYS_COUNT];

// Counts one call of `which`; returns true (with errno set) when it must fail.
bool ShouldFail(PlatSyscall which) {
  FaultSlot& s = g_slots[which];
  int n = s.calls.fetch_add(1) + 1;
  int at = s.fail_at.load();
  if (at == 0) return false;
  if (n == at || (s.sticky.load() && n > at)) {
    errno = s.err.load();
    return true;
  }
  return false;
}

}  // namespace

void PlatFaultInject(PlatSyscall which, int nth, int err, bool sticky) {
  FaultSlot& s = g_slots[which];
  s.err = err;
  s.sticky = sticky;
  s.fail_at = s.calls.load() + (nth < 1 ? 1 : nth);
}

void PlatFaultClear() {
  for (FaultSlot& s : g_slots) {
    s.fail_at = 0;
    s.calls = 0;
    s.sticky = false;
    s.err = 0;
  }
}

int PlatFaultCalls(PlatSyscall which) { return g_slots[which].calls.load(); }

int plat_sys_open(const char* path, int flags, mode_t mode) { return plat_sys_open_follow(path, flags | O_NOFOLLOW, mode); }

int plat_sys_open_follow(const char* path, int flags, mode_t mode) {
  if (ShouldFail(PLAT_SYS_OPEN)) return -1;
  int fd;
  do fd = ::open(path, flags | O_CLOEXEC, mode);
  while (fd < 0 && errno == EINTR);
  return fd;
}

ssize_t plat_sys_write(int fd, const void* buf, size_t len) {
  if (ShouldFail(PLAT_SYS_WRITE)) return -1;
  ssize_t n;
  do n = ::write(fd, buf, len);
  while (n < 0 && errno == EINTR);
  return n;
}

int plat_sys_rename(const char* from, const char* to) {
  if (ShouldFail(PLAT_SYS_RENAME)) return -1;
  return ::rename(from, to);
}

int plat_sys_rename_noreplace(const char* from, const char* to) {
  if (ShouldFail(PLAT_SYS_RENAME)) return -1;
  return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
}

int plat_sys_fsync(int fd) {
  if (ShouldFail(PLAT_SYS_FSYNC)) return -1;
  return ::fsync(fd);
}

int plat_sys_unlink(const char* path) {
  if (ShouldFail(PLAT_SYS_UNLINK)) return -1;
  return ::unlink(path);
}

int plat_sys_mkdir(const char* path, mode_t mode) {
  if (ShouldFail(PLAT_SYS_MKDIR)) return -1;
  return ::mkdir(path, mode);
}

int plat_sys_ftruncate(int fd, off_t len) {
  if (ShouldFail(PLAT_SYS_FTRUNCATE)) return -1;
  return ::ftruncate(fd, len);
}

ssize_t plat_sys_copy_file_range(int fd_in, int fd_out, size_t len) {
  if (ShouldFail(PLAT_SYS_WRITE)) return -1;
  ssize_t n;
  do n = ::copy_file_range(fd_in, nullptr, fd_out, nullptr, len, 0);
  while (n < 0 && errno == EINTR);
  return n;
}
