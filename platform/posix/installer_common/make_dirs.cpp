// Directories of the installer's state. POSIX implementation.
#include "platform/posix/installer_common/make_dirs.h"

#include <cerrno>
#include <sys/stat.h>

int MsiMakeDirs(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : -1;
  size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && MsiMakeDirs(path.substr(0, slash)) != 0) return -1;
  if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) return -1;
  return 0;
}
