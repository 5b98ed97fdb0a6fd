// POSIX files behind named objects: see object_files.h.
#include "platform/posix/object_files.h"

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Name of the lock file in the objects directory.
constexpr const char kLockName[] = ".objects.lock";

// The group and mode that `desc` gives a file.
void ObjectAccess(const PlatSecurityDescriptor* desc, bool fifo, long* gid, mode_t* mode) {
  *gid = -1;
  *mode = static_cast<mode_t>(PlatSecurityFileMode(desc)) & 0660;
  if (desc && desc->users_group) *gid = UsersGroupId();
  // Without the group, only the owner has access.
  if (*gid < 0) *mode &= 0600;
  if (fifo && desc && desc->signal_by_all) *mode |= S_IWOTH;
}

// Gives a file this process just created its group and mode.
void ApplyAccess(int fd, const PlatSecurityDescriptor* desc, bool fifo) {
  long gid;
  mode_t mode;
  ObjectAccess(desc, fifo, &gid, &mode);
  if (gid >= 0 && ::fchown(fd, static_cast<uid_t>(-1), static_cast<gid_t>(gid)) != 0) mode &= 0602;
  ::fchmod(fd, mode);
}

}  // namespace

long UsersGroupId() {
  struct group gr;
  struct group* found = nullptr;
  std::vector<char> buf(16384);
  if (::getgrnam_r(kPlatUsersGroup, &gr, buf.data(), buf.size(), &found) != 0 || !found) return -1;
  return static_cast<long>(found->gr_gid);
}

int ObjectFileOpen(const std::string& path, int flags, const PlatSecurityDescriptor* desc, bool fifo) {
  int base = (flags & ~(O_CREAT | O_EXCL)) | O_NOFOLLOW | O_CLOEXEC;
  for (int attempt = 0; attempt < 8; ++attempt) {
    int fd;
    if (flags & O_CREAT) {
      fd = ::open(path.c_str(), base | O_CREAT | O_EXCL, 0600);
      if (fd >= 0) {
        ApplyAccess(fd, desc, false);
        return fd;
      }
      if (errno != EEXIST) return -1;
    }
    fd = ::open(path.c_str(), base);
    if (fd < 0) {
      if (errno == ENOENT && (flags & O_CREAT)) continue;
      if (errno == ELOOP) errno = EACCES;
      return -1;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || (fifo ? !S_ISFIFO(st.st_mode) : !S_ISREG(st.st_mode))) {
      ::close(fd);
      errno = EACCES;
      return -1;
    }
    return fd;
  }
  errno = EAGAIN;
  return -1;
}

int ObjectFifoCreate(const std::string& path, const PlatSecurityDescriptor* desc) {
  if (::mkfifo(path.c_str(), 0600) != 0) return -1;
  int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  ApplyAccess(fd, desc, true);
  ::close(fd);
  return 0;
}

int ObjectsLock(const std::string& dir, int op) {
  PlatSecurityDescriptor users{};
  users.initialized = 1;
  users.file_mode = 0660;
  users.users_group = 1;
  int fd = ObjectFileOpen(dir + "/" + kLockName, O_RDWR | O_CREAT, &users, false);
  if (fd < 0) return -1;
  int r;
  do r = ::flock(fd, op);
  while (r != 0 && errno == EINTR);
  if (r != 0) {
    int e = errno;
    ::close(fd);
    errno = e;
    return -1;
  }
  return fd;
}
