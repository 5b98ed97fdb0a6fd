// POSIX implementation of platform/object_names.h.
#include "platform/object_names.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/error.h"
#include "platform/folders.h"

namespace {

// Longest escaped name kept whole; the file system allows 255 bytes.
constexpr size_t kMaxEscaped = 180;

uint64_t Fnv1a(const std::string& s) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : s) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

int MakeDirs(const std::string& dir) {
  struct stat st;
  if (::stat(dir.c_str(), &st) == 0) return 0;
  size_t slash = dir.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && MakeDirs(dir.substr(0, slash)) != 0) return -1;
  if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return -1;
  return 0;
}

// Makes sure the objects directory is one that only its owner (the
// administrator for the service's objects) can change: created 0755; an
// existing one must be a real directory of this user or the administrator,
// and loses write access for group and others when it is this user's own.
int SecureObjectsDir(const std::string& dir) {
  struct stat st;
  if (::lstat(dir.c_str(), &st) != 0) {
    if (errno != ENOENT || MakeDirs(dir) != 0) return -1;
    ::chmod(dir.c_str(), 0755);
    if (::lstat(dir.c_str(), &st) != 0) return -1;
  }
  if (!S_ISDIR(st.st_mode) || (st.st_uid != ::geteuid() && st.st_uid != 0)) {
    errno = EACCES;
    return -1;
  }
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) && st.st_uid == ::geteuid()) ::chmod(dir.c_str(), 0755);
  return 0;
}

}  // namespace

int PlatObjectPath(const char* name, const char* kind, std::string* path) {
  std::string dir = PlatSystemPath("objects");
  if (SecureObjectsDir(dir) != 0) {
    PlatSetLastErrorFromErrno(errno);
    return -1;
  }
  std::string n(name);
  std::string escaped;
  for (unsigned char c : n) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
        c == '_') {
      escaped += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      escaped += hex;
    }
  }
  if (escaped.size() > kMaxEscaped) {
    char hash[20];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(Fnv1a(n)));
    escaped = escaped.substr(escaped.size() - (kMaxEscaped - 17)) + "~" + hash;
  }
  *path = dir + "/" + kind + "-" + escaped;
  return 0;
}
