// The installed-products database under TQ_SYSTEM_ROOT/installer/: one
// record file per product in products/, the journal of an operation in
// progress, and the lock that lets one installation run at a time on the
// machine. POSIX implementation.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file.h"
#include "platform/folders.h"
#include "platform/posix/installer/installer_internal.h"
#include "platform/posix/installer_common/make_dirs.h"

namespace {

constexpr const char kProductsDir[] = "products";
constexpr const char kRecordSuffix[] = ".rec";
constexpr const char kJournalFile[] = "journal";
constexpr const char kLockFile[] = "lock";

// The record file of `code` below the installer's directory `dir`.
std::string RecordPath(const std::string& dir, const std::string& code) {
  return dir + "/" + kProductsDir + "/" + code + kRecordSuffix;
}

}  // namespace

std::string MsiInstallerDir() {
  std::string dir = PlatSystemPath("installer");
  if (MsiMakeDirs(dir + "/" + kProductsDir) != 0) return std::string();
  return dir;
}

int MsiLockAcquire(int* fd) {
  std::string dir = MsiInstallerDir();
  if (dir.empty()) return -1;
  int f = ::open((dir + "/" + kLockFile).c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (f < 0) return -1;
  int rc;
  do rc = ::flock(f, LOCK_EX | LOCK_NB);
  while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    int busy = errno == EWOULDBLOCK;
    ::close(f);
    return busy ? 1 : -1;
  }
  *fd = f;
  return 0;
}

void MsiLockRelease(int fd) {
  if (fd < 0) return;
  ::flock(fd, LOCK_UN);
  ::close(fd);
}

int MsiLoadRecord(const std::string& code, MsiProductRecord* rec) {
  std::string dir = MsiInstallerDir();
  if (dir.empty() || !MsiProductCodeValid(code)) return -1;
  std::string path = RecordPath(dir, code);
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return errno == ENOENT ? 1 : -1;
  std::string text;
  if (PlatReadFile(path.c_str(), &text) != 0) return -1;
  return MsiParseRecord(text, rec) == 0 ? 0 : -1;
}

int MsiSaveRecord(const MsiProductRecord& rec) {
  std::string dir = MsiInstallerDir();
  if (dir.empty() || !MsiProductCodeValid(rec.product_code)) return -1;
  return PlatWriteFileAtomic(RecordPath(dir, rec.product_code).c_str(), MsiFormatRecord(rec), 0644);
}

int MsiDeleteRecord(const std::string& code) {
  std::string dir = MsiInstallerDir();
  if (dir.empty() || !MsiProductCodeValid(code)) return -1;
  if (PlatDeleteFile(RecordPath(dir, code).c_str()) != 0 && errno != ENOENT) return -1;
  return 0;
}

int MsiListRecords(std::vector<MsiProductRecord>* out) {
  out->clear();
  std::string dir = MsiInstallerDir();
  if (dir.empty()) return -1;
  DIR* d = ::opendir((dir + "/" + kProductsDir).c_str());
  if (!d) return -1;
  std::vector<std::string> codes;
  while (struct dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    size_t n = sizeof kRecordSuffix - 1;
    if (name.size() > n && name.compare(name.size() - n, n, kRecordSuffix) == 0) codes.push_back(name.substr(0, name.size() - n));
  }
  ::closedir(d);
  std::sort(codes.begin(), codes.end());
  for (const std::string& code : codes) {
    MsiProductRecord rec;
    int r = MsiLoadRecord(code, &rec);
    if (r < 0) return -1;  // a record that cannot be read now must not look absent
    if (r == 0) out->push_back(std::move(rec));
  }
  return 0;
}

int MsiSaveJournal(const MsiJournal& j) {
  std::string dir = MsiInstallerDir();
  if (dir.empty()) return -1;
  return PlatWriteFileAtomic((dir + "/" + kJournalFile).c_str(), MsiFormatJournal(j), 0600);
}

int MsiLoadJournal(MsiJournal* j) {
  std::string dir = MsiInstallerDir();
  if (dir.empty()) return -1;
  std::string path = dir + "/" + kJournalFile;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return errno == ENOENT ? 1 : -1;
  std::string text;
  if (PlatReadFile(path.c_str(), &text) != 0) return -1;
  return MsiParseJournal(text, j) == 0 ? 0 : -2;
}

int MsiSetJournalAside() {
  std::string dir = MsiInstallerDir();
  if (dir.empty()) return -1;
  return PlatReplaceFile((dir + "/" + kJournalFile).c_str(), (dir + "/" + kJournalFile + ".bad").c_str());
}

int MsiDeleteJournal() {
  std::string dir = MsiInstallerDir();
  if (dir.empty()) return -1;
  if (PlatDeleteFile((dir + "/" + kJournalFile).c_str()) != 0 && errno != ENOENT) return -1;
  return 0;
}
