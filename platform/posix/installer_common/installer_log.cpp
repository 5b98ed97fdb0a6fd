// The installer's log file. POSIX implementation.
#include "platform/posix/installer_common/installer_log.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file.h"
#include "platform/folders.h"
#include "platform/posix/installer_common/make_dirs.h"

namespace {

// Size at which the log is moved to "installer.log.1" and begun anew.
constexpr long kLogLimit = 1L << 20;

}  // namespace

void MsiLog(const std::string& text) {
  std::string dir = PlatSystemPath("installer") + "/logs";
  if (MsiMakeDirs(dir) != 0) return;
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
