// POSIX implementation of platform/file.h.
#include "platform/file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <unordered_map>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "platform/error.h"
#include "platform/posix/syscalls.h"

namespace {

// Extended attributes that keep a file's creation time: the administrator's
// own (trusted.*, which only the administrator can read or set) for a
// process that runs as the administrator, the user's own otherwise.
constexpr const char kCreationAttrAdmin[] = "trusted.tq.creation_time";
constexpr const char kCreationAttrUser[] = "user.tq.creation_time";

// Bytes of file data handed to write-back at a time while a write-through
// file is written, and of one copy step of PlatCopyFileThrough.
constexpr int64_t kWriteBackChunk = int64_t{8} << 20;

// Starts write-back of each whole chunk of the first `written` bytes that
// is not started yet (*started bytes are), and waits for the chunk before
// it: the final fsync finds at most two chunks still to write, and the page
// cache holds no more dirty data of the file than that. Advisory: a
// failure here is met again by the final fsync.
void StartWriteBack(int fd, int64_t written, int64_t* started) {
  while (written - *started >= kWriteBackChunk) {
    off64_t from = *started;
    ::sync_file_range(fd, from, kWriteBackChunk, SYNC_FILE_RANGE_WRITE);
    if (from >= kWriteBackChunk)
      ::sync_file_range(fd, from - kWriteBackChunk, kWriteBackChunk,
                        SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
    *started += kWriteBackChunk;
  }
}

// Bits never given to group and others on a created file or directory.
constexpr mode_t kNoWriteForOthers = S_IWGRP | S_IWOTH;

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

bool IsAdmin() { return ::geteuid() == 0; }

// Reads a kept creation time of `path` itself; false when none is kept or
// the value is damaged (not a plain positive decimal number).
bool KeptCreationTime(const char* path, const struct stat& st, int64_t* t) {
  const char* attr = IsAdmin() ? kCreationAttrAdmin : kCreationAttrUser;
  // A user's own attribute counts only on the user's own file.
  if (!IsAdmin() && st.st_uid != ::geteuid()) return false;
  char buf[32];
  ssize_t n = ::lgetxattr(path, attr, buf, sizeof buf - 1);
  if (n <= 0 || n > 19) return false;
  int64_t v = 0;
  for (ssize_t i = 0; i < n; ++i) {
    if (buf[i] < '0' || buf[i] > '9') return false;
    v = v * 10 + (buf[i] - '0');
  }
  if (v <= 0) return false;
  *t = v;
  return true;
}

// The file system's own creation time of `path` itself: its birth time,
// else its last status change.
int SystemCreationTime(const char* path, int64_t* t) {
  struct statx sx;
  if (::statx(AT_FDCWD, path, AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_CTIME, &sx) != 0)
    return FailMissing(path, errno);
  *t = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime.tv_sec : sx.stx_ctime.tv_sec;
  return 0;
}

// Creation times of names this process deleted or replaced lately.
struct TunnelEntry {
  int64_t creation_time; // the creation time the name had
  int64_t gone_at;       // when the file left the name (monotonic seconds)
};
std::mutex g_tunnel_lock;
std::unordered_map<std::string, TunnelEntry> g_tunnel;

int64_t MonotonicSeconds() {
  struct timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec;
}

// Remembers the creation time of `path`, which is about to leave its name.
void TunnelRemember(const char* path) {
  int64_t t = 0;
  if (PlatGetCreationTime(path, &t) != 0) return;
  std::lock_guard<std::mutex> g(g_tunnel_lock);
  int64_t now = MonotonicSeconds();
  for (auto it = g_tunnel.begin(); it != g_tunnel.end();)
    it = now - it->second.gone_at > kPlatCreationTunnelSeconds ? g_tunnel.erase(it) : std::next(it);
  g_tunnel[path] = TunnelEntry{t, now};
}

// The creation time a file newly created under `path` takes over, if any.
bool TunnelTake(const char* path, int64_t* t) {
  std::lock_guard<std::mutex> g(g_tunnel_lock);
  auto it = g_tunnel.find(path);
  if (it == g_tunnel.end()) return false;
  bool fresh = MonotonicSeconds() - it->second.gone_at <= kPlatCreationTunnelSeconds;
  if (fresh) *t = it->second.creation_time;
  g_tunnel.erase(it);
  return fresh;
}

// Gives a file just created under `path` the creation time its name had.
void TunnelApply(const char* path) {
  int64_t t = 0;
  if (TunnelTake(path, &t)) PlatSetCreationTime(path, t);
}

// Opens a file by a fixed name: never through a symbolic link, only a
// regular file (or, for reading, a character device), never blocking on a
// FIFO. An existing file opened for writing must be the user's own with a
// single name; it loses write access for group and others. O_TRUNC is
// applied only after these checks. *created tells whether the open made the
// file. -1 with errno set on failure.
int OpenFixedName(const char* path, int flags, mode_t mode, bool* created) {
  bool writing = (flags & O_ACCMODE) != O_RDONLY;
  bool truncate = (flags & O_TRUNC) != 0;
  int base = (flags & ~(O_TRUNC | O_CREAT | O_EXCL)) | O_NOFOLLOW | O_NONBLOCK;
  mode &= ~kNoWriteForOthers;
  *created = false;
  int fd = -1;
  for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
    if (flags & O_CREAT) {
      fd = plat_sys_open(path, base | O_CREAT | O_EXCL, mode);
      if (fd >= 0) {
        *created = true;
        break;
      }
      if (errno != EEXIST || (flags & O_EXCL)) return -1;
    }
    fd = plat_sys_open(path, base, 0);
    if (fd < 0 && !(errno == ENOENT && (flags & O_CREAT))) {
      // A symbolic link as the last component, or a FIFO (nobody reads it),
      // reads as "access denied".
      if (errno == ELOOP || errno == ENXIO) errno = EACCES;
      return -1;
    }
  }
  if (fd < 0) return -1;
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    int e = errno;
    ::close(fd);
    errno = e;
    return -1;
  }
  bool kind_ok = S_ISREG(st.st_mode) || (!writing && S_ISCHR(st.st_mode));
  bool owner_ok = !writing || *created || (st.st_uid == ::geteuid() && st.st_nlink == 1);
  if (!kind_ok || !owner_ok) {
    ::close(fd);
    errno = S_ISDIR(st.st_mode) ? EISDIR : EACCES;
    return -1;
  }
  if (writing && !*created && (st.st_mode & kNoWriteForOthers)) ::fchmod(fd, st.st_mode & 07755);
  if (truncate && !*created && ::ftruncate(fd, 0) != 0) {
    int e = errno;
    ::close(fd);
    errno = e;
    return -1;
  }
  int fl = ::fcntl(fd, F_GETFL);
  if (fl >= 0) ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
  return fd;
}

// A temporary name beside `path` that nobody can guess in advance.
std::string TemporaryName(const char* path, const char* kind) {
  unsigned char r[8] = {};
  if (::getrandom(r, sizeof r, 0) != static_cast<ssize_t>(sizeof r)) {
    uint64_t v = static_cast<uint64_t>(MonotonicSeconds()) ^ (static_cast<uint64_t>(::getpid()) << 32) ^
                 reinterpret_cast<uintptr_t>(&r);
    std::memcpy(r, &v, sizeof r);
  }
  char hex[17];
  for (int i = 0; i < 8; ++i) std::snprintf(hex + 2 * i, 3, "%02x", r[i]);
  return std::string(path) + "." + kind + "-" + hex;
}

// Creates a temporary beside `path` exclusively; its name in *tmp.
int CreateTemporary(const char* path, const char* kind, mode_t mode, std::string* tmp) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    *tmp = TemporaryName(path, kind);
    int fd = plat_sys_open(tmp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, mode & ~kNoWriteForOthers);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
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
  struct stat own;
  if (::lstat(path, &own) != 0) return FailMissing(path, errno);
  struct stat st = own;
  bool link = S_ISLNK(own.st_mode);
  if (link && ::stat(path, &st) != 0) st = own;  // a dangling link is just a link
  info->is_dir = S_ISDIR(st.st_mode) ? 1 : 0;
  info->is_link = link ? 1 : 0;
  info->is_regular = S_ISREG(st.st_mode) ? 1 : 0;
  info->size = st.st_size;
  info->mtime = st.st_mtime;
  info->mode = st.st_mode & 07777;
  info->owner = own.st_uid;
  info->links = static_cast<uint32_t>(own.st_nlink);
  int64_t ct = 0;
  info->creation_time = PlatGetCreationTime(path, &ct) == 0 ? ct : st.st_mtime;
  PlatSetLastError(ERROR_SUCCESS);
  return 0;
}

int PlatMakeDir(const char* path, uint32_t mode) {
  if (plat_sys_mkdir(path, static_cast<mode_t>(mode) & ~kNoWriteForOthers & 07777) != 0)
    return FailMissing(path, errno);
  return 0;
}

int PlatDeleteFile(const char* path) {
  TunnelRemember(path);
  if (plat_sys_unlink(path) != 0) return FailMissing(path, errno);
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
  int64_t kept = 0;
  bool had = PlatGetCreationTime(from, &kept) == 0;
  TunnelRemember(from);
  if (plat_sys_rename(from, to) != 0) return FailMissing(from, errno);
  // The file keeps its creation time under its new name.
  if (had) PlatSetCreationTime(to, kept);
  return 0;
}

namespace {

// Copies the rest of `in` to `out` in 64 KiB reads and writes. 0 or an errno.
int CopyPlain(int in, int out) {
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(in, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return 0;
    ssize_t done = 0;
    while (done < n) {
      ssize_t w = plat_sys_write(out, buf + done, static_cast<size_t>(n - done));
      if (w < 0) return errno;
      done += w;
    }
  }
}

// Copies the rest of `in` to `out` in chunks: inside the file system where
// it allows, else through a buffer of one chunk; write-back started as it
// goes, `control` asked between chunks. 0 or an errno (EFBIG over the
// limit, ECANCELED when cancelled).
int CopyThrough(int in, int out, const PlatCopyControl* control) {
  int64_t copied = 0;
  int64_t started = 0;
  bool in_kernel = true;
  std::string buf;
  for (;;) {
    if (control && control->cancelled && control->cancelled(control->arg)) return ECANCELED;
    ssize_t n = -1;
    if (in_kernel) {
      n = plat_sys_copy_file_range(in, out, static_cast<size_t>(kWriteBackChunk));
      // Across file systems, or where the system has no such copy, the data
      // goes through the process. Nothing was copied by the failed call.
      if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) && copied == 0) {
        in_kernel = false;
        continue;
      }
      if (n < 0) return errno;
    } else {
      if (buf.empty()) buf.resize(static_cast<size_t>(kWriteBackChunk / 8));
      do n = ::read(in, buf.data(), buf.size());
      while (n < 0 && errno == EINTR);
      if (n < 0) return errno;
      ssize_t done = 0;
      while (done < n) {
        ssize_t w = plat_sys_write(out, buf.data() + done, static_cast<size_t>(n - done));
        if (w < 0) return errno;
        done += w;
      }
    }
    if (n == 0) return 0;
    copied += n;
    if (control && control->max_bytes > 0 && copied > control->max_bytes) return EFBIG;
    StartWriteBack(out, copied, &started);
  }
}

// The copy of PlatCopyFile and PlatCopyFileThrough (`through`).
int CopyFileImpl(const char* from, const char* to, int fail_if_exists, bool through, const PlatCopyControl* control) {
  // The source may be reached through links (a share), but must be a
  // regular file: a FIFO would block the copy for ever.
  int in = plat_sys_open_follow(from, O_RDONLY | O_NONBLOCK, 0);
  if (in < 0) return FailMissing(from, errno);
  struct stat st;
  if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    int e = S_ISDIR(st.st_mode) ? EISDIR : (errno ? errno : EACCES);
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) e = EACCES;
    ::close(in);
    return Fail(e);
  }
  if (through && control && control->max_bytes > 0 && st.st_size > control->max_bytes) {
    ::close(in);
    errno = EFBIG;
    PlatSetLastError(ERROR_FILE_TOO_LARGE);
    return -1;
  }
  int fl = ::fcntl(in, F_GETFL);
  if (fl >= 0) ::fcntl(in, F_SETFL, fl & ~O_NONBLOCK);
  struct stat dst;
  bool existed = ::lstat(to, &dst) == 0;
  if (fail_if_exists && existed) {
    ::close(in);
    errno = EEXIST;
    PlatSetLastError(ERROR_FILE_EXISTS);
    return -1;
  }
  // The copy keeps the source's modes but never write access for others.
  std::string tmp;
  int out = CreateTemporary(to, "tqcopy", st.st_mode & 0755, &tmp);
  if (out < 0) {
    int e = errno;
    ::close(in);
    return FailMissing(to, e);
  }
  ::fchmod(out, st.st_mode & 0755);
  int err = through ? CopyThrough(in, out, control) : CopyPlain(in, out);
  if (!err && through && plat_sys_fsync(out) != 0) err = errno;
  ::close(in);
  if (!err && ::close(out) != 0) err = errno;
  else if (err) ::close(out);
  int64_t kept = 0;
  bool keep = existed && PlatGetCreationTime(to, &kept) == 0;
  if (!err) {
    // Without replacing: a name that appeared meanwhile is not overwritten.
    if (fail_if_exists) {
      if (plat_sys_rename_noreplace(tmp.c_str(), to) != 0) err = errno;
    } else if (plat_sys_rename(tmp.c_str(), to) != 0) {
      err = errno;
    }
  }
  if (err) {
    ::unlink(tmp.c_str());
    if (err == EEXIST) {
      errno = EEXIST;
      PlatSetLastError(ERROR_FILE_EXISTS);
      return -1;
    }
    if (err == EFBIG || err == ECANCELED) {
      errno = err;
      PlatSetLastError(err == EFBIG ? ERROR_FILE_TOO_LARGE : ERROR_OPERATION_ABORTED);
      return -1;
    }
    return Fail(err);
  }
  if (keep) PlatSetCreationTime(to, kept);
  else TunnelApply(to);
  return 0;
}

}  // namespace

int PlatCopyFile(const char* from, const char* to, int fail_if_exists) {
  return CopyFileImpl(from, to, fail_if_exists, false, nullptr);
}

int PlatCopyFileThrough(const char* from, const char* to, int fail_if_exists, const PlatCopyControl* control) {
  return CopyFileImpl(from, to, fail_if_exists, true, control);
}

int PlatGetCreationTime(const char* path, int64_t* t) {
  struct stat st;
  if (::lstat(path, &st) != 0) return FailMissing(path, errno);
  if (KeptCreationTime(path, st, t)) return 0;
  return SystemCreationTime(path, t);
}

int PlatSetCreationTime(const char* path, int64_t t) {
  char buf[32];
  int n = std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(t));
  const char* attr = IsAdmin() ? kCreationAttrAdmin : kCreationAttrUser;
  if (::lsetxattr(path, attr, buf, static_cast<size_t>(n), 0) == 0) return 0;
  int e = errno;
  if (e == ENOTSUP || e == EPERM) {
    errno = e;
    PlatSetLastError(ERROR_NOT_SUPPORTED);
    return -1;
  }
  return FailMissing(path, e);
}

int PlatChmod(const char* path, uint32_t mode) {
  if (::chmod(path, mode) != 0) return FailMissing(path, errno);
  return 0;
}

int PlatSecureOwnPath(const char* path, int is_dir, uint32_t* old_mode, uint32_t* owner) {
  *old_mode = 0;
  *owner = 0;
  struct stat st;
  if (::lstat(path, &st) != 0) {
    if (errno == ENOENT) return 0;
    return FailMissing(path, errno);
  }
  *owner = st.st_uid;
  // A link the user or the administrator made (a relocated installation
  // base) stands for its target; another user's link is refused.
  if (S_ISLNK(st.st_mode)) {
    if (st.st_uid != ::geteuid() && st.st_uid != 0) return Fail(EACCES);
    if (::stat(path, &st) != 0) return FailMissing(path, errno);
    *owner = st.st_uid;
  }
  bool kind_ok = is_dir ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode);
  if (!kind_ok || st.st_uid != ::geteuid()) return Fail(EACCES);
  if (st.st_mode & kNoWriteForOthers) {
    *old_mode = st.st_mode & 07777;
    mode_t narrowed = st.st_mode & 07777 & ~kNoWriteForOthers & ~static_cast<mode_t>(S_ISVTX);
    if (::chmod(path, narrowed) != 0) return Fail(errno);
  }
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
  bool created = false;
  int fd = OpenFixedName(path, flags, 0644, &created);
  if (fd < 0) {
    FailMissing(path, errno);
    return nullptr;
  }
  if (created) TunnelApply(path);
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
  bool created = false;
  int fd = OpenFixedName(path, O_RDONLY, 0, &created);
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
  std::string tmp;
  int fd = CreateTemporary(path, "tqnew", static_cast<mode_t>(mode), &tmp);
  if (fd < 0) return FailMissing(path, errno);
  ::fchmod(fd, static_cast<mode_t>(mode) & 07777 & ~static_cast<mode_t>(S_IWOTH));
  size_t done = 0;
  int err = 0;
  while (done < data.size()) {
    ssize_t n = plat_sys_write(fd, data.data() + done, data.size() - done);
    if (n < 0) { err = errno; break; }
    done += static_cast<size_t>(n);
  }
  if (!err && plat_sys_fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && !err) err = errno;
  // The new file takes over the creation time of the one it replaces.
  int64_t kept = 0;
  bool keep = !err && PlatGetCreationTime(path, &kept) == 0;
  if (!keep && !err) keep = TunnelTake(path, &kept);
  if (keep) PlatSetCreationTime(tmp.c_str(), kept);
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
  int fd;             // the open descriptor
  int write_through;  // 1: fsync before close, write-back started as it is written
  int64_t written;    // bytes written so far
  int64_t started;    // bytes whose write-back was started
};

PlatFileHandle* PlatFileCreateAlways(const char* path, int write_through) {
  // Owner read and write, others read: what such a file holds (a download
  // that is verified and then installed) must not be writable by others,
  // whatever the process's creation mask. An existing file is narrowed too.
  bool created = false;
  int fd = OpenFixedName(path, O_RDWR | O_CREAT | O_TRUNC, 0644, &created);
  if (fd < 0) {
    FailMissing(path, errno);
    return nullptr;
  }
  ::fchmod(fd, 0644);
  if (created) TunnelApply(path);
  return new PlatFileHandle{fd, write_through ? 1 : 0, 0, 0};
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
  file->written += *written;
  if (file->write_through) StartWriteBack(file->fd, file->written, &file->started);
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
