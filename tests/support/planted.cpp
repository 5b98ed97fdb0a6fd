// Objects a local attacker plants, and file snapshots.
#include "tests/support/planted.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

const char* TqPlantName(TqPlant p) {
  switch (p) {
    case TqPlant::kSymlink: return "symbolic link to the victim";
    case TqPlant::kHardLink: return "hard link to the victim";
    case TqPlant::kFifo: return "FIFO";
    case TqPlant::kDirectory: return "directory";
    case TqPlant::kAttackerFile: return "file of the attacker";
  }
  return "?";
}

bool TqPlantAt(TqPlant p, const std::string& path, const std::string& victim, const TqUser& attacker) {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  bool ok = false;
  switch (p) {
    case TqPlant::kSymlink:
      ok = ::symlink(victim.c_str(), path.c_str()) == 0 && ::lchown(path.c_str(), attacker.uid, attacker.gid) == 0;
      break;
    case TqPlant::kHardLink: ok = ::link(victim.c_str(), path.c_str()) == 0; break;
    case TqPlant::kFifo:
      ok = ::mkfifo(path.c_str(), 0666) == 0 && ::chown(path.c_str(), attacker.uid, attacker.gid) == 0;
      break;
    case TqPlant::kDirectory:
      ok = ::mkdir(path.c_str(), 0777) == 0 && ::chown(path.c_str(), attacker.uid, attacker.gid) == 0;
      break;
    case TqPlant::kAttackerFile: {
      int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
      ok = fd >= 0 && ::write(fd, kTqAttackerText, sizeof kTqAttackerText - 1) ==
                          static_cast<ssize_t>(sizeof kTqAttackerText - 1);
      if (fd >= 0) ::close(fd);
      ok = ok && ::chown(path.c_str(), attacker.uid, attacker.gid) == 0 && ::chmod(path.c_str(), 0666) == 0;
      break;
    }
  }
  EXPECT_TRUE(ok) << "cannot plant a " << TqPlantName(p) << " at " << path;
  return ok;
}

TqSnapshot TqTake(const std::string& path) {
  TqSnapshot s;
  s.exists = ::lstat(path.c_str(), &s.st) == 0;
  if (s.exists && S_ISREG(s.st.st_mode)) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    s.text = text.str();
  }
  return s;
}

bool TqSame(const TqSnapshot& a, const TqSnapshot& b) {
  return a.exists == b.exists && a.text == b.text && a.st.st_ino == b.st.st_ino && a.st.st_size == b.st.st_size &&
         a.st.st_mtim.tv_sec == b.st.st_mtim.tv_sec && a.st.st_mtim.tv_nsec == b.st.st_mtim.tv_nsec &&
         a.st.st_uid == b.st.st_uid && a.st.st_mode == b.st.st_mode;
}
