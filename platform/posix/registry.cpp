// POSIX implementation of platform/registry_store.h: the hive file, its
// writers' lock (flock) and its replacement. No registry logic here.
#include "platform/registry_store.h"

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/error.h"
#include "platform/file.h"
#include "platform/posix/syscalls.h"

namespace {

// Permission bits of the hive and its lock: the machine reads, root writes.
constexpr mode_t kHiveMode = 0644;
constexpr mode_t kDirMode = 0755;

// The hive file of the stamp last handed out, held open.
std::mutex g_pin_lock;
int g_pin_fd = -1;

void Pin(int fd) {
  std::lock_guard<std::mutex> g(g_pin_lock);
  if (g_pin_fd >= 0) ::close(g_pin_fd);
  g_pin_fd = fd;
}

void StampOf(const struct stat& st, PlatRegStamp* s) {
  s->present = 1;
  s->device = st.st_dev;
  s->inode = st.st_ino;
  s->size = st.st_size;
  s->mtime_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  s->ctime_ns = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
}

bool SameStamp(const PlatRegStamp& a, const PlatRegStamp& b) {
  return a.present == b.present && a.device == b.device && a.inode == b.inode && a.size == b.size &&
         a.mtime_ns == b.mtime_ns && a.ctime_ns == b.ctime_ns;
}

uint32_t FromErrno(int err) { return PlatSetLastErrorFromErrno(err); }

// Creates the directories above `path` that are missing.
void MakeParents(const std::string& path) {
  for (size_t i = 1; i < path.size(); i++) {
    if (path[i] != '/') continue;
    std::string dir = path.substr(0, i);
    if (plat_sys_mkdir(dir.c_str(), kDirMode) != 0 && errno != EEXIST) return;
  }
}

std::string DirOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

uint32_t PlatRegStoreRead(const char* path, const PlatRegStamp* known, int* changed, std::string* text,
                          PlatRegStamp* stamp) {
  struct stat st;
  if (::lstat(path, &st) != 0) {
    if (errno != ENOENT && errno != ENOTDIR) return FromErrno(errno);
    *stamp = PlatRegStamp{0, 0, 0, 0, 0, 0};
    *changed = !(known && !known->present);
    if (*changed) {
      text->clear();
      Pin(-1);
    }
    return ERROR_SUCCESS;
  }
  PlatRegStamp now;
  StampOf(st, &now);
  if (known && SameStamp(now, *known)) {
    *changed = 0;
    return ERROR_SUCCESS;
  }
  // Never through a link planted at the hive's name, never a FIFO.
  int fd = plat_sys_open(path, O_RDONLY | O_NONBLOCK, 0);
  if (fd < 0) {
    if (errno == ELOOP) return ERROR_ACCESS_DENIED;
    if (errno == ENOENT) {  // removed since the look: an empty hive
      *stamp = PlatRegStamp{0, 0, 0, 0, 0, 0};
      *changed = 1;
      text->clear();
      Pin(-1);
      return ERROR_SUCCESS;
    }
    return FromErrno(errno);
  }
  if (::fstat(fd, &st) != 0) {
    int e = errno;
    ::close(fd);
    return FromErrno(e);
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return ERROR_ACCESS_DENIED;
  }
  if (st.st_size > kPlatRegMaxHiveBytes) {
    ::close(fd);
    return ERROR_BADDB;
  }
  std::string data;
  data.reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int e = errno;
      ::close(fd);
      return FromErrno(e);
    }
    if (n == 0) break;
    data.append(buf, static_cast<size_t>(n));
    if (static_cast<int64_t>(data.size()) > kPlatRegMaxHiveBytes) {  // grew while read
      ::close(fd);
      return ERROR_BADDB;
    }
  }
  StampOf(st, stamp);
  *text = std::move(data);
  *changed = 1;
  Pin(fd);
  return ERROR_SUCCESS;
}

uint32_t PlatRegStoreLock(const char* lock_path, int* token) {
  MakeParents(lock_path);
  int fd = plat_sys_open(lock_path, O_RDWR | O_CREAT, kHiveMode);
  if (fd < 0) return FromErrno(errno);
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    int e = errno;
    ::close(fd);
    return FromErrno(e);
  }
  *token = fd;
  return ERROR_SUCCESS;
}

void PlatRegStoreUnlock(int token) {
  ::flock(token, LOCK_UN);
  ::close(token);
}

uint32_t PlatRegStoreReplace(const char* path, const std::string& text, const char* keep_old, PlatRegStamp* stamp) {
  if (keep_old && PlatCopyFile(path, keep_old, 0) != 0 && PlatGetLastError() != ERROR_FILE_NOT_FOUND)
    return PlatGetLastError();
  if (PlatWriteFileAtomic(path, text, kHiveMode) != 0) return PlatGetLastError();
  // The rename is made durable with its directory; the replacement has
  // happened either way, so a failure here changes nothing for the caller.
  int dir = ::open(DirOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  // Hold the new file open for its stamp; without it the stamp matches
  // nothing, so the next reader reads the file again.
  *stamp = PlatRegStamp{1, 0, 0, -1, 0, 0};
  int fd = ::open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  struct stat st;
  if (fd >= 0 && ::fstat(fd, &st) == 0) {
    StampOf(st, stamp);
    Pin(fd);
  } else {
    if (fd >= 0) ::close(fd);
    Pin(-1);
  }
  return ERROR_SUCCESS;
}
