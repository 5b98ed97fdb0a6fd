// Directory listing with opendir/readdir.
#include "platform/directory.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

#include "platform/error.h"

int PlatListDir(const char* dir, std::vector<PlatDirEntry>* out) {
  out->clear();
  DIR* d = opendir(dir);
  if (!d) {
    PlatSetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : PlatErrorFromErrno(errno));
    return -1;
  }
  while (struct dirent* e = readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    PlatDirEntry entry;
    entry.name = e->d_name;
    struct stat st;
    std::string full = std::string(dir) + "/" + e->d_name;
    entry.is_dir = stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    out->push_back(std::move(entry));
  }
  closedir(d);
  return 0;
}
