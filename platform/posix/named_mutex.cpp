// POSIX implementation of platform/named_mutex.h.
//
// A named mutex is two files under TQ_SYSTEM_ROOT/objects/, named after the
// object name by PlatObjectPath (platform/object_names.h), kind "mutex":
//   <name>.own        ownership: the holding process has an exclusive flock
//                     on it; its first four bytes (mapped shared into every
//                     process) hold the holder's pid while held, so a waiter
//                     that obtains the flock and finds a pid there knows the
//                     holder died (or closed) without releasing it: the mutex
//                     was abandoned;
//   <name>.ref        presence: every process with a handle holds a shared
//                     flock on it; the name exists while anyone does.
// Opening, the last close (which deletes both files) and the existence test
// are serialised by a flock on the objects directory itself, so a file is
// never deleted while someone opens it.
//
// Inside a process every handle of one name shares one state (owner thread,
// recursion count, condition variable), so ownership is per thread and
// recursive as with a Windows mutex. flock has no time-out: a wait polls
// LOCK_NB with short, growing sleeps. An uncontended wait and release are
// one flock call each; the pid record is a store into the shared mapping.
#include "platform/named_mutex.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <unordered_map>

#include "platform/error.h"
#include "platform/object_names.h"
#include "platform/posix/object_files.h"
#include "platform/system.h"

namespace {

constexpr uint32_t kInfinite = 0xFFFFFFFFu;    // a wait without time limit
constexpr int64_t kOwnerCheckMs = 100;         // how often an in-process waiter checks its owner is alive
constexpr int64_t kPollFirstUs = 100;          // first sleep of a contended flock poll
constexpr int64_t kPollMaxUs = 2000;           // longest sleep between two flock polls
constexpr off_t kRecordSize = 16;              // size of the ownership file: the holder's pid, 4 bytes, first

// The state of one mutex shared by all handles of the process.
struct Shared {
  std::string base;              // path of the object files without suffix; empty when unnamed
  int refs = 0;                  // handles open in this process (under g_registry_lock)
  int lock_fd = -1;              // <base>.own: flock = ownership, content = holder pid
  uint32_t* holder = nullptr;    // the pid record mapped from <base>.own, or null (then pread/pwrite)
  int ref_fd = -1;               // <base>.ref: shared flock while the process has a handle
  std::mutex m;                  // guards the fields below
  std::condition_variable cv;    // signalled when the owner or `acquiring` changes
  uint64_t owner = 0;            // owning thread id, 0 when none in this process
  uint32_t count = 0;            // recursion count of the owner
  bool acquiring = false;        // one thread is polling the cross-process flock
};

}  // namespace

// One handle: several handles may share one state.
struct PlatMutex {
  Shared* shared; // the mutex's state in this process
};

namespace {

std::mutex g_registry_lock;                           // guards g_named and Shared::refs
std::unordered_map<std::string, Shared*> g_named;     // open named mutexes by file base path

int FailErrno(int err) {
  PlatSetLastErrorFromErrno(err);
  return -1;
}

int Flock(int fd, int op) {
  int r;
  do r = ::flock(fd, op);
  while (r != 0 && errno == EINTR);
  return r;
}

// Opens an object file read-write, creating it under `desc`.
int OpenObjectFile(const std::string& path, const PlatSecurityDescriptor* desc) {
  int fd = ObjectFileOpen(path, O_RDWR | O_CREAT, desc, false);
  if (fd < 0) return FailErrno(errno);
  return fd;
}

// Takes the lock that serialises opening, deleting and testing objects.
int LockObjectsDir(const std::string& dir, int op) {
  int fd = ObjectsLock(dir, op);
  if (fd < 0) return FailErrno(errno);
  return fd;
}

std::string DirOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

bool ThreadAlive(uint64_t tid) {
  return ::syscall(SYS_tgkill, static_cast<pid_t>(::getpid()), static_cast<pid_t>(tid), 0) == 0 || errno != ESRCH;
}

// The pid recorded in the ownership file (0 = released cleanly).
uint32_t ReadHolder(const Shared* s) {
  if (s->holder) return __atomic_load_n(s->holder, __ATOMIC_ACQUIRE);
  uint32_t pid = 0;
  if (::pread(s->lock_fd, &pid, sizeof pid, 0) != static_cast<ssize_t>(sizeof pid)) return 0;
  return pid;
}

int WriteHolder(Shared* s, uint32_t pid) {
  if (s->holder) {
    __atomic_store_n(s->holder, pid, __ATOMIC_RELEASE);
    return 0;
  }
  return ::pwrite(s->lock_fd, &pid, sizeof pid, 0) == static_cast<ssize_t>(sizeof pid) ? 0 : -1;
}

// Tries the cross-process flock once: 0 taken, 1 busy, -1 failed.
int TryFlock(Shared* s) {
  for (;;) {
    if (::flock(s->lock_fd, LOCK_EX | LOCK_NB) == 0) return 0;
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) return 1;
    return FailErrno(errno);
  }
}

// Polls the cross-process flock until `deadline_ms` (monotonic; -1 = none)
// with short, growing sleeps: 0 taken, 1 timed out, -1 failed.
int PollFlock(Shared* s, int64_t deadline_ms) {
  int64_t sleep_us = kPollFirstUs;
  for (;;) {
    int r = TryFlock(s);
    if (r <= 0) return r;
    int64_t wait_us = sleep_us;
    if (deadline_ms >= 0) {
      int64_t left_us = (deadline_ms - PlatMonotonicMs()) * 1000;
      if (left_us <= 0) return 1;
      if (left_us < wait_us) wait_us = left_us;
    }
    struct timespec ts{static_cast<time_t>(wait_us / 1000000), static_cast<long>(wait_us % 1000000) * 1000L};
    ::nanosleep(&ts, nullptr);
    sleep_us = sleep_us * 2 > kPollMaxUs ? kPollMaxUs : sleep_us * 2;
  }
}

// Opens the files of a named mutex not yet open in this process.
Shared* OpenNamed(const std::string& base, const PlatSecurityDescriptor* desc, bool* existed) {
  int guard = LockObjectsDir(DirOf(base), LOCK_EX);
  if (guard < 0) return nullptr;
  Shared* s = nullptr;
  int ref_fd = OpenObjectFile(base + ".ref", desc);
  int lock_fd = ref_fd >= 0 ? OpenObjectFile(base + ".own", desc) : -1;
  if (lock_fd >= 0) {
    // Nobody else holding the presence lock means the object is new: a pid
    // left by a process that died holding it belongs to the old object.
    *existed = ::flock(ref_fd, LOCK_EX | LOCK_NB) != 0;
    struct stat st;
    bool sized = true;
    if (!*existed || ::fstat(lock_fd, &st) != 0 || st.st_size < kRecordSize)
      sized = (*existed || ::ftruncate(lock_fd, 0) == 0) && ::ftruncate(lock_fd, kRecordSize) == 0;
    if (!sized) {
      PlatSetLastErrorFromErrno(errno);
    } else if (Flock(ref_fd, LOCK_SH) == 0) {
      s = new Shared;
      s->base = base;
      s->lock_fd = lock_fd;
      s->ref_fd = ref_fd;
      s->refs = 1;
      void* map = ::mmap(nullptr, static_cast<size_t>(kRecordSize), PROT_READ | PROT_WRITE, MAP_SHARED, lock_fd, 0);
      if (map != MAP_FAILED) s->holder = static_cast<uint32_t*>(map);
    } else {
      PlatSetLastErrorFromErrno(errno);
    }
  }
  if (!s) {
    uint32_t code = PlatGetLastError();
    if (lock_fd >= 0) ::close(lock_fd);
    if (ref_fd >= 0) ::close(ref_fd);
    PlatSetLastError(code);
  }
  ::close(guard);
  return s;
}

// Closes the files of a named mutex whose last handle in the process went;
// deletes them when no other process has a handle.
void CloseNamed(Shared* s) {
  int guard = LockObjectsDir(DirOf(s->base), LOCK_EX);
  if (guard >= 0 && ::flock(s->ref_fd, LOCK_EX | LOCK_NB) == 0) {
    ::unlink((s->base + ".own").c_str());
    ::unlink((s->base + ".ref").c_str());
  }
  if (s->holder) ::munmap(s->holder, static_cast<size_t>(kRecordSize));
  ::close(s->lock_fd);
  ::close(s->ref_fd);
  if (guard >= 0) ::close(guard);
}

}  // namespace

PlatMutex* PlatMutexCreate(const char* name, const PlatSecurityDescriptor* desc) {
  if (!name || !*name) {
    auto* s = new Shared;
    s->refs = 1;
    PlatSetLastError(ERROR_SUCCESS);
    return new PlatMutex{s};
  }
  std::string base;
  if (PlatObjectPath(name, "mutex", &base) != 0) return nullptr;
  std::lock_guard<std::mutex> g(g_registry_lock);
  auto it = g_named.find(base);
  if (it != g_named.end()) {
    it->second->refs++;
    PlatSetLastError(ERROR_ALREADY_EXISTS);
    return new PlatMutex{it->second};
  }
  bool existed = false;
  Shared* s = OpenNamed(base, desc, &existed);
  if (!s) return nullptr;
  g_named[base] = s;
  PlatSetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return new PlatMutex{s};
}

uint32_t PlatMutexWait(PlatMutex* mutex, uint32_t timeout_ms) {
  if (!mutex || !mutex->shared) {
    PlatSetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  Shared* s = mutex->shared;
  const uint64_t me = PlatThreadId();
  // The clock is read only once the mutex turns out to be busy.
  int64_t deadline = -2;  // -2 not yet computed, -1 none
  auto deadline_ms = [&] {
    if (deadline == -2) deadline = timeout_ms == kInfinite ? -1 : PlatMonotonicMs() + timeout_ms;
    return deadline;
  };
  std::unique_lock<std::mutex> lk(s->m);
  if (s->owner == me) {
    if (s->count == 0x7FFFFFFFu) {
      PlatSetLastError(ERROR_INVALID_PARAMETER);
      return WAIT_FAILED;
    }
    s->count++;
    return WAIT_OBJECT_0;
  }
  // Wait until no thread of this process owns the mutex or polls its flock.
  while (s->owner != 0 || s->acquiring) {
    if (s->owner != 0 && !ThreadAlive(s->owner)) {
      // The owning thread ended holding it; the process still holds the
      // flock, which passes to this thread.
      s->owner = me;
      s->count = 1;
      return WAIT_ABANDONED;
    }
    if (timeout_ms == 0) return WAIT_TIMEOUT;
    int64_t now = PlatMonotonicMs();
    int64_t end = deadline_ms();
    if (end >= 0 && now >= end) return WAIT_TIMEOUT;
    int64_t slice = kOwnerCheckMs;
    if (end >= 0 && end - now < slice) slice = end - now;
    s->cv.wait_for(lk, std::chrono::milliseconds(slice));
  }
  bool abandoned = false;
  if (s->lock_fd >= 0) {
    int r = TryFlock(s);
    if (r == 1 && timeout_ms != 0) {
      // Another process holds it: poll without blocking this process's
      // other threads, which wait for `acquiring` to clear.
      s->acquiring = true;
      lk.unlock();
      r = PollFlock(s, deadline_ms());
      uint32_t code = PlatGetLastError();
      lk.lock();
      s->acquiring = false;
      s->cv.notify_all();
      PlatSetLastError(code);
    }
    if (r < 0) return WAIT_FAILED;
    if (r > 0) return WAIT_TIMEOUT;
    // A pid left in the record: its holder ended (or closed) without
    // releasing.
    abandoned = ReadHolder(s) != 0;
    if (WriteHolder(s, PlatProcessId()) != 0) {
      int e = errno;
      ::flock(s->lock_fd, LOCK_UN);
      PlatSetLastErrorFromErrno(e ? e : EIO);
      return WAIT_FAILED;
    }
  }
  s->owner = me;
  s->count = 1;
  return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
}

int PlatMutexRelease(PlatMutex* mutex) {
  if (!mutex || !mutex->shared) {
    PlatSetLastError(ERROR_INVALID_HANDLE);
    return -1;
  }
  Shared* s = mutex->shared;
  std::lock_guard<std::mutex> lk(s->m);
  if (s->owner != PlatThreadId() || s->count == 0) {
    PlatSetLastError(ERROR_NOT_OWNER);
    return -1;
  }
  if (--s->count == 0) {
    if (s->lock_fd >= 0) {
      // Clear the pid first: a holder killed between the two steps leaves a
      // cleanly released mutex, never a falsely abandoned one.
      WriteHolder(s, 0);
      ::flock(s->lock_fd, LOCK_UN);
    }
    s->owner = 0;
    s->cv.notify_all();
  }
  return 0;
}

void PlatMutexClose(PlatMutex* mutex) {
  if (!mutex) return;
  Shared* s = mutex->shared;
  delete mutex;
  if (!s) return;
  if (s->base.empty()) {
    // Unnamed objects have exactly one handle.
    delete s;
    return;
  }
  std::lock_guard<std::mutex> g(g_registry_lock);
  if (--s->refs > 0) return;
  g_named.erase(s->base);
  CloseNamed(s);
  delete s;
}

int PlatMutexExists(const char* name) {
  if (!name || !*name) {
    PlatSetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string base;
  if (PlatObjectPath(name, "mutex", &base) != 0) return 0;
  {
    std::lock_guard<std::mutex> g(g_registry_lock);
    if (g_named.count(base)) return 1;
  }
  int guard = ObjectsLock(DirOf(base), LOCK_SH);
  if (guard < 0) {
    PlatSetLastError(errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND);
    return 0;
  }
  int exists = 0;
  int fd = ObjectFileOpen(base + ".ref", O_RDONLY, nullptr, false);
  if (fd >= 0) {
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) exists = errno == EWOULDBLOCK;
    ::close(fd);
  }
  ::close(guard);
  PlatSetLastError(exists ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
  return exists;
}
