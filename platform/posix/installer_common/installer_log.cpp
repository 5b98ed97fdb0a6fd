// The installer's log file. POSIX implementation.
#include "platform/posix/installer_common/installer_log.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file.h"
#include "platform/folders.h"

namespace {

// Size at which the log is moved to "installer.log.1" and begun anew.
constexpr long kLogLimit = 1L << 20;

// Creates a directory and its parents. 0 or -1.
int MakeDirs(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : -1;
  size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && MakeDirs(path.substr(0, slash)) != 0) return -1;
  if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) return -1;
  return 0;
}

}  // namespace

void MsiLog(const std::string& text) {
  std::string dir = PlatSystemPath("installer") + "/logs";
  if (MakeDirs(dir) != 0) return;
  std::string path = dir + "/installer.log";
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && st.st_size > kLogLimit) ::rename(path.c_str(), (path + ".1").c_str());
  FILE* f = PlatFileOpen(path.c_str(), "a");
  if (!f) return;
  std::time_t now = std::time(nullptr);
  struct tm tm_utc;
  gmtime_r(&now, &tm_utc);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm_utc);
  std::fprintf(f, "%s UTC - %d - %s\n", stamp, static_cast<int>(::getpid()), text.c_str());
  std::fclose(f);
}
