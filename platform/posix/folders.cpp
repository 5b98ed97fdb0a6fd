// POSIX implementation of platform/folders.h.
#include "platform/folders.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/error.h"

namespace {

std::string Trimmed(std::string s) {
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

std::string FromEnv(const char* name) {
  const char* v = ::getenv(name);
  return v && *v ? Trimmed(v) : std::string();
}

}  // namespace

int PlatSpecialFolder(PlatFolder which, char* out, size_t size) {
  std::string path;
  std::string home = FromEnv("HOME");
  switch (which) {
    case PLAT_FOLDER_PROGRAM_FILES:
      path = FromEnv("TQ_FOLDER_PROGRAM_FILES");
      if (path.empty()) path = "/opt";
      break;
    case PLAT_FOLDER_COMMON_APPDATA:
      path = FromEnv("TQ_FOLDER_COMMON_APPDATA");
      if (path.empty()) path = "/var/lib";
      break;
    case PLAT_FOLDER_APPDATA:
      path = FromEnv("TQ_FOLDER_APPDATA");
      if (path.empty()) path = FromEnv("XDG_DATA_HOME");
      if (path.empty() && !home.empty()) path = home + "/.local/share";
      break;
    case PLAT_FOLDER_DOCUMENTS:
      path = FromEnv("TQ_FOLDER_DOCUMENTS");
      if (path.empty() && !home.empty()) path = home + "/Documents";
      break;
  }
  if (path.empty()) {
    PlatSetLastError(ERROR_PATH_NOT_FOUND);
    return -1;
  }
  if (path.size() + 1 > size) {
    PlatSetLastError(ERROR_INSUFFICIENT_BUFFER);
    return -1;
  }
  std::memcpy(out, path.c_str(), path.size() + 1);
  return 0;
}

std::string PlatSystemRoot() {
  std::string root = FromEnv("TQ_SYSTEM_ROOT");
  return root.empty() ? std::string("/var/lib/tq-system") : root;
}

std::string PlatSystemPath(const char* relative) { return PlatSystemRoot() + "/" + relative; }
