// POSIX implementation of platform/event.h.
//
// An event is a FIFO (named) or a pipe (unnamed) opened non-blocking for
// reading and writing: set = write one byte, reset = drain, signalled =
// readable. An auto-reset wait drains after the poll; when another waiter
// drained first, the wait goes on. Every handle of a named event holds a
// shared lock on a presence file, so that opening an event nobody holds
// fails as on Windows.
#include "platform/event.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/error.h"
#include "platform/folders.h"
#include "platform/object_names.h"
#include "platform/posix/object_files.h"
#include "platform/system.h"

struct PlatEvent {
  int read_fd;       // readable while signalled
  int write_fd;      // written to signal
  int presence_fd;   // shared lock held while the handle is open; -1 unnamed
  bool manual_reset; // stays signalled until reset
};

namespace {

void Drain(int fd) {
  char buf[256];
  while (::read(fd, buf, sizeof buf) > 0) {
  }
}

// Takes the signal of an auto-reset event; false when another waiter won.
bool Take(PlatEvent* e) {
  char buf[256];
  ssize_t n = ::read(e->read_fd, buf, sizeof buf);
  if (n <= 0) return false;
  Drain(e->read_fd);
  return true;
}

// Opens a named event only to signal it: what a process may do that is not
// allowed to wait for the event (its FIFO is writable for it, not readable).
// Opening a FIFO for writing without waiting fails when no process holds
// it for reading: then no handle exists anywhere, as with an event that
// nobody holds.
PlatEvent* OpenSignalOnly(const std::string& fifo, bool manual_reset) {
  int fd = ObjectFileOpen(fifo, O_WRONLY | O_NONBLOCK, nullptr, true);
  if (fd < 0) {
    if (errno == ENXIO || errno == ENOENT) PlatSetLastError(ERROR_FILE_NOT_FOUND);
    else PlatSetLastErrorFromErrno(errno);
    return nullptr;
  }
  PlatSetLastError(ERROR_ALREADY_EXISTS);
  return new PlatEvent{-1, fd, -1, manual_reset};
}

PlatEvent* Open(const char* name, bool manual_reset, bool create, bool initially_set,
                const PlatSecurityDescriptor* desc) {
  std::string base;
  if (PlatObjectPath(name, "event", &base) != 0) return nullptr;
  std::string fifo = base + ".fifo", presence = base + ".presence", guard = base + ".lock";
  // Opening and creating are serialised by a guard lock, so that exactly one
  // process creates the FIFO and nobody opens it half made.
  int gfd = ObjectFileOpen(guard, O_RDWR | (create ? O_CREAT : 0), desc, false);
  if (gfd < 0) {
    if (!create && (errno == EACCES || errno == EPERM)) return OpenSignalOnly(fifo, manual_reset);
    if (!create && errno == ENOENT) {
      PlatSetLastError(ERROR_FILE_NOT_FOUND);
      return nullptr;
    }
    PlatSetLastErrorFromErrno(errno);
    return nullptr;
  }
  while (::flock(gfd, LOCK_EX) != 0 && errno == EINTR) {
  }
  struct GuardRelease {
    int fd;
    ~GuardRelease() { ::close(fd); }
  } release{gfd};
  int pfd = ObjectFileOpen(presence, O_RDWR | (create ? O_CREAT : 0), desc, false);
  if (pfd < 0) {
    if (!create && errno == ENOENT) PlatSetLastError(ERROR_FILE_NOT_FOUND);
    else PlatSetLastErrorFromErrno(errno);
    return nullptr;
  }
  // Whether any other handle exists: an exclusive lock succeeds only if not.
  bool existed = ::flock(pfd, LOCK_EX | LOCK_NB) != 0;
  if (!existed && !create) {
    ::flock(pfd, LOCK_UN);
    ::close(pfd);
    PlatSetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  if (!existed) {
    // First handle in the system: a fresh FIFO, so no stale signal survives.
    ::unlink(fifo.c_str());
    if (ObjectFifoCreate(fifo, desc) != 0 && errno != EEXIST) {
      int err = errno;
      ::close(pfd);
      PlatSetLastErrorFromErrno(err);
      return nullptr;
    }
  }
  int fd = ObjectFileOpen(fifo, O_RDWR | O_NONBLOCK, nullptr, true);
  if (fd < 0) {
    int err = errno;
    ::close(pfd);
    PlatSetLastErrorFromErrno(err);
    return nullptr;
  }
  // Downgrade to the shared lock every open handle holds.
  ::flock(pfd, LOCK_SH);
  auto* e = new PlatEvent{fd, fd, pfd, manual_reset};
  if (!existed && initially_set) PlatEventSet(e);
  PlatSetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return e;
}

}  // namespace

PlatEvent* PlatEventCreate(const char* name, bool manual_reset, bool initially_set,
                           const PlatSecurityDescriptor* desc) {
  if (name) return Open(name, manual_reset, true, initially_set, desc);
  int fds[2];
  if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) {
    PlatSetLastErrorFromErrno(errno);
    return nullptr;
  }
  auto* e = new PlatEvent{fds[0], fds[1], -1, manual_reset};
  if (initially_set) PlatEventSet(e);
  PlatSetLastError(ERROR_SUCCESS);
  return e;
}

PlatEvent* PlatEventOpen(const char* name, bool manual_reset) {
  if (!name) {
    PlatSetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return Open(name, manual_reset, false, false, nullptr);
}

int PlatEventSet(PlatEvent* e) {
  if (!e) {
    PlatSetLastError(ERROR_INVALID_HANDLE);
    return -1;
  }
  struct pollfd p = {e->read_fd, POLLIN, 0};
  if (e->read_fd >= 0 && ::poll(&p, 1, 0) == 1) return 0;  // signalled already
  char one = 1;
  if (::write(e->write_fd, &one, 1) < 0 && errno != EAGAIN) {
    PlatSetLastErrorFromErrno(errno);
    return -1;
  }
  return 0;
}

int PlatEventReset(PlatEvent* e) {
  if (!e) {
    PlatSetLastError(ERROR_INVALID_HANDLE);
    return -1;
  }
  if (e->read_fd < 0) {
    PlatSetLastError(ERROR_ACCESS_DENIED);
    return -1;
  }
  Drain(e->read_fd);
  return 0;
}

uint32_t PlatEventWaitAny(PlatEvent* const* events, uint32_t count, uint32_t timeout_ms) {
  struct pollfd fds[64];
  if (count > 64) {
    PlatSetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  for (uint32_t i = 0; i < count; ++i) {
    if (events[i] && events[i]->read_fd < 0) {
      // A handle that may only signal cannot wait.
      PlatSetLastError(ERROR_ACCESS_DENIED);
      return WAIT_FAILED;
    }
  }
  int64_t deadline = timeout_ms == PLAT_INFINITE ? 0 : PlatMonotonicMs() + timeout_ms;
  for (;;) {
    for (uint32_t i = 0; i < count; ++i) fds[i] = {events[i] ? events[i]->read_fd : -1, POLLIN, 0};
    int wait = -1;
    if (timeout_ms != PLAT_INFINITE) {
      int64_t left = deadline - PlatMonotonicMs();
      wait = left > 0 ? static_cast<int>(left) : 0;
    }
    int n = ::poll(fds, count, wait);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      PlatSetLastErrorFromErrno(errno);
      return WAIT_FAILED;
    }
    if (n == 0) return WAIT_TIMEOUT;
    for (uint32_t i = 0; i < count; ++i) {
      if (!(fds[i].revents & POLLIN)) continue;
      if (events[i]->manual_reset || Take(events[i])) return WAIT_OBJECT_0 + i;
    }
    // Another waiter took every auto-reset signal: wait on.
  }
}

uint32_t PlatEventWait(PlatEvent* e, uint32_t timeout_ms) {
  if (!e) {
    PlatSetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  return PlatEventWaitAny(&e, 1, timeout_ms);
}

void PlatEventClose(PlatEvent* e) {
  if (!e) return;
  if (e->read_fd >= 0) ::close(e->read_fd);
  if (e->write_fd != e->read_fd) ::close(e->write_fd);
  if (e->presence_fd >= 0) ::close(e->presence_fd);
  delete e;
}
