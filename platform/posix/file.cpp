// POSIX implementation of platform/file.h.
#include "platform/file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <unordered_map>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "platform/error.h"
#include "platform/posix/syscalls.h"

namespace {

// Name of the extended attribute that holds a file's creation time.
constexpr const char kCreationAttr[] = "user.tq.creation_time";

int Fail(int err) {
  errno = err;
  PlatSetLastErrorFromErrno(err);
  return -1;
}

// A missing file whose directory is missing too reads as "path not found".
int FailMissing(const char* path, int err) {
  if (err == ENOENT) {
    std::string dir(path);
    size_t slash = dir.find_last_of('/');
    if (slash != std::string::npos && slash > 0) {
      dir.resize(slash);
      struct stat st;
      if (::stat(dir.c_str(), &st) != 0) {
        Fail(err);
        PlatSetLastError(ERROR_PATH_NOT_FOUND);
        return -1;
      }
    }
  }
  return Fail(err);
}

std::string SidecarName(const char* path) {
  std::string p(path);
  size_t slash = p.find_last_of('/');
  std::string dir = slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? p : p.substr(slash + 1);
  return dir + "." + base + ".tqctime";
}

// The cookie of a stream opened by PlatFileOpen.
struct StreamCookie {
  int fd;
  FILE* stream;
};

// Streams opened by PlatFileOpen, with their descriptors, for truncation.
std::mutex g_streams_lock;
std::unordered_map<FILE*, int> g_streams;

int StreamFd(FILE* stream) {
  std::lock_guard<std::mutex> g(g_streams_lock);
  auto it = g_streams.find(stream);
  return it == g_streams.end() ? -1 : it->second;
}

ssize_t CookieRead(void* c, char* buf, size_t len) {
  ssize_t n;
  do n = ::read(static_cast<StreamCookie*>(c)->fd, buf, len);
  while (n < 0 && errno == EINTR);
  return n;
}

ssize_t CookieWrite(void* c, const char* buf, size_t len) {
  size_t done = 0;
  while (done < len) {
    ssize_t n = plat_sys_write(static_cast<StreamCookie*>(c)->fd, buf + done, len - done);
    if (n < 0) return done > 0 ? static_cast<ssize_t>(done) : -1;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

int CookieSeek(void* c, off64_t* pos, int whence) {
  off_t r = ::lseek(static_cast<StreamCookie*>(c)->fd, *pos, whence);
  if (r < 0) return -1;
  *pos = r;
  return 0;
}

int CookieClose(void* c) {
  auto* k = static_cast<StreamCookie*>(c);
  {
    std::lock_guard<std::mutex> g(g_streams_lock);
    g_streams.erase(k->stream);
  }
  int r = ::close(k->fd);
  delete k;
  return r;
}

}  // namespace

int PlatFileStat(const char* path, PlatFileInfo* info) {
  struct stat st;
  if (::stat(path, &st) != 0) return FailMissing(path, errno);
  info->is_dir = S_ISDIR(st.st_mode) ? 1 : 0;
  info->size = st.st_size;
  info->mtime = st.st_mtime;
  info->mode = st.st_mode & 07777;
  int64_t ct = 0;
  info->creation_time = PlatGetCreationTime(path, &ct) == 0 ? ct : st.st_mtime;
  PlatSetLastError(ERROR_SUCCESS);
  return 0;
}

int PlatMakeDir(const char* path, uint32_t mode) {
  if (plat_sys_mkdir(path, mode) != 0) return FailMissing(path, errno);
  return 0;
}

int PlatDeleteFile(const char* path) {
  if (plat_sys_unlink(path) != 0) return FailMissing(path, errno);
  ::unlink(SidecarName(path).c_str());
  return 0;
}

int PlatRemoveDir(const char* path) {
  if (::rmdir(path) != 0) return FailMissing(path, errno);
  return 0;
}

int PlatMoveFile(const char* from, const char* to) {
  struct stat st;
  if (::lstat(to, &st) == 0) {
    errno = EEXIST;
    PlatSetLastError(ERROR_ALREADY_EXISTS);
    return -1;
  }
  return PlatReplaceFile(from, to);
}

int PlatReplaceFile(const char* from, const char* to) {
  if (plat_sys_rename(from, to) != 0) return FailMissing(from, errno);
  // A creation time kept beside the file moves with it.
  std::string side_from = SidecarName(from);
  if (::access(side_from.c_str(), F_OK) == 0) ::rename(side_from.c_str(), SidecarName(to).c_str());
  return 0;
}

int PlatCopyFile(const char* from, const char* to, int fail_if_exists) {
  int in = plat_sys_open(from, O_RDONLY, 0);
  if (in < 0) return FailMissing(from, errno);
  struct stat st;
  if (::fstat(in, &st) != 0) {
    int e = errno;
    ::close(in);
    return Fail(e);
  }
  if (fail_if_exists && ::access(to, F_OK) == 0) {
    ::close(in);
    errno = EEXIST;
    PlatSetLastError(ERROR_FILE_EXISTS);
    return -1;
  }
  std::string tmp = std::string(to) + ".tqcopy";
  // The copy keeps the source's modes but never write access for others.
  int out = plat_sys_open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, st.st_mode & 0755);
  if (out < 0) {
    int e = errno;
    ::close(in);
    return FailMissing(to, e);
  }
  char buf[65536];
  int err = 0;
  for (;;) {
    ssize_t n = ::read(in, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) { err = errno; break; }
    if (n == 0) break;
    ssize_t done = 0;
    while (done < n) {
      ssize_t w = plat_sys_write(out, buf + done, static_cast<size_t>(n - done));
      if (w < 0) { err = errno; break; }
      done += w;
    }
    if (err) break;
  }
  ::close(in);
  if (!err && ::close(out) != 0) err = errno;
  else if (err) ::close(out);
  if (!err && plat_sys_rename(tmp.c_str(), to) != 0) err = errno;
  if (err) {
    ::unlink(tmp.c_str());
    return Fail(err);
  }
  return 0;
}

int PlatGetCreationTime(const char* path, int64_t* t) {
  char buf[32];
  ssize_t n = ::getxattr(path, kCreationAttr, buf, sizeof buf - 1);
  if (n < 0) {
    // Without an attribute: a time kept beside the file, else the kernel's
    // birth time, else the last change of the file's status.
    std::string sidecar = SidecarName(path);
    FILE* f = ::fopen(sidecar.c_str(), "r");
    if (f) {
      long long v = 0;
      int ok = ::fscanf(f, "%lld", &v) == 1;
      ::fclose(f);
      if (ok) {
        *t = v;
        return 0;
      }
    }
    struct statx sx;
    if (::statx(AT_FDCWD, path, 0, STATX_BTIME | STATX_CTIME, &sx) != 0) return FailMissing(path, errno);
    *t = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime.tv_sec : sx.stx_ctime.tv_sec;
    return 0;
  }
  buf[n] = '\0';
  *t = std::strtoll(buf, nullptr, 10);
  return 0;
}

int PlatSetCreationTime(const char* path, int64_t t) {
  char buf[32];
  int n = std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(t));
  if (::setxattr(path, kCreationAttr, buf, static_cast<size_t>(n), 0) == 0) return 0;
  int e = errno;
  if (e != ENOTSUP && e != EPERM) return FailMissing(path, e);
  // File systems without user attributes keep the time beside the file.
  std::string sidecar = SidecarName(path);
  FILE* f = ::fopen(sidecar.c_str(), "w");
  if (!f) return Fail(errno);
  std::fputs(buf, f);
  if (std::fclose(f) != 0) return Fail(errno);
  return 0;
}

int PlatChmod(const char* path, uint32_t mode) {
  if (::chmod(path, mode) != 0) return FailMissing(path, errno);
  return 0;
}

FILE* PlatFileOpen(const char* path, const char* mode) {
  int flags;
  bool plus = std::strchr(mode, '+') != nullptr;
  switch (mode[0]) {
    case 'r': flags = plus ? O_RDWR : O_RDONLY; break;
    case 'w': flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC; break;
    case 'a': flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND; break;
    default:
      Fail(EINVAL);
      return nullptr;
  }
  int fd = plat_sys_open(path, flags, 0666);
  if (fd < 0) {
    FailMissing(path, errno);
    return nullptr;
  }
  auto* cookie = new StreamCookie{fd, nullptr};
  cookie_io_functions_t io{CookieRead, CookieWrite, CookieSeek, CookieClose};
  FILE* f = ::fopencookie(cookie, mode, io);
  if (!f) {
    int e = errno;
    ::close(fd);
    delete cookie;
    Fail(e);
    return nullptr;
  }
  cookie->stream = f;
  {
    std::lock_guard<std::mutex> g(g_streams_lock);
    g_streams[f] = fd;
  }
  if (mode[0] == 'a') std::fseek(f, 0, SEEK_END);
  return f;
}

int PlatFileTruncate(FILE* stream, int64_t length) {
  if (std::fflush(stream) != 0) return Fail(errno);
  int fd = StreamFd(stream);
  if (fd < 0) fd = ::fileno(stream);
  if (fd < 0) return Fail(EBADF);
  if (plat_sys_ftruncate(fd, static_cast<off_t>(length)) != 0) return Fail(errno);
  if (std::fseek(stream, static_cast<long>(length), SEEK_SET) != 0) return Fail(errno);
  return 0;
}

int PlatFileSync(FILE* stream) {
  if (std::fflush(stream) != 0) return Fail(errno);
  int fd = StreamFd(stream);
  if (fd < 0) fd = ::fileno(stream);
  if (fd >= 0 && plat_sys_fsync(fd) != 0) return Fail(errno);
  return 0;
}

int PlatReadFile(const char* path, std::string* out) {
  int fd = plat_sys_open(path, O_RDONLY, 0);
  if (fd < 0) return FailMissing(path, errno);
  out->clear();
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int e = errno;
      ::close(fd);
      return Fail(e);
    }
    if (n == 0) break;
    out->append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return 0;
}

int PlatWriteFileAtomic(const char* path, const std::string& data, uint32_t mode) {
  std::string tmp = std::string(path) + ".tqnew";
  int fd = plat_sys_open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode);
  if (fd < 0) return FailMissing(path, errno);
  size_t done = 0;
  int err = 0;
  while (done < data.size()) {
    ssize_t n = plat_sys_write(fd, data.data() + done, data.size() - done);
    if (n < 0) { err = errno; break; }
    done += static_cast<size_t>(n);
  }
  if (!err && plat_sys_fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && !err) err = errno;
  if (!err && plat_sys_rename(tmp.c_str(), path) != 0) err = errno;
  if (err) {
    ::unlink(tmp.c_str());
    return Fail(err);
  }
  return 0;
}

int PlatGetCurrentDir(char* out, size_t size) {
  if (!::getcwd(out, size)) return Fail(errno);
  return 0;
}

int PlatSetCurrentDir(const char* path) {
  if (::chdir(path) != 0) return FailMissing(path, errno);
  return 0;
}

// An open file of PlatFileCreateAlways.
struct PlatFileHandle {
  int fd;            // the open descriptor
  int write_through; // 1: fsync before close
};

PlatFileHandle* PlatFileCreateAlways(const char* path, int write_through) {
  // Owner read and write, others read: what such a file holds (a download
  // that is verified and then installed) must not be writable by others,
  // whatever the process's creation mask. An existing file is narrowed too.
  int fd = plat_sys_open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    FailMissing(path, errno);
    return nullptr;
  }
  ::fchmod(fd, 0644);
  return new PlatFileHandle{fd, write_through ? 1 : 0};
}

int PlatFileHandleWrite(PlatFileHandle* file, const void* data, uint32_t len, uint32_t* written) {
  *written = 0;
  const char* p = static_cast<const char*>(data);
  while (*written < len) {
    ssize_t n = plat_sys_write(file->fd, p + *written, len - *written);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int e = errno;
      if (*written == 0) return Fail(e);
      PlatSetLastErrorFromErrno(e);
      return 0;
    }
    if (n == 0) break;
    *written += static_cast<uint32_t>(n);
  }
  return 0;
}

int PlatFileHandleClose(PlatFileHandle* file) {
  if (!file) return 0;
  int err = 0;
  if (file->write_through && plat_sys_fsync(file->fd) != 0) err = errno;
  if (::close(file->fd) != 0 && !err) err = errno;
  delete file;
  return err ? Fail(err) : 0;
}
