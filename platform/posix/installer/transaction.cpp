// The installer's journal at work: undoing and finishing operations, the
// registry's part of them, services stopped on the way, and the test hooks
// at the named points of an operation. POSIX implementation.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/folders.h"
#include "platform/installer/reg_script.h"
#include "platform/posix/installer/installer_internal.h"
#include "platform/posix/syscalls.h"
#include "platform/registry.h"
#include "platform/registry_text.h"
#include "platform/service_manager.h"

namespace {

// Bound of the wait for one service to report stopped.
constexpr int kStopWaitMs = 30000;
// Poll interval of that wait.
constexpr int kStopPollMs = 50;
// Bound of a test pause.
constexpr int kPauseMs = 60000;

// The process the installer works for besides this one (0: none).
std::atomic<uint32_t> g_caller_pid{0};

// True when something (a link too) is at `path`.
bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// Removes a file; a missing one is no failure. 0 or -1.
int Unlink(const std::string& path) {
  if (plat_sys_unlink(path.c_str()) != 0 && errno != ENOENT) return -1;
  return 0;
}

// Removes the directories that are empty, deepest first; others stay.
void RemoveEmptyDirs(std::vector<std::string> dirs) {
  std::sort(dirs.begin(), dirs.end(), [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  for (const std::string& d : dirs) ::rmdir(d.c_str());
}

// Type and data of a value now; false when the value (or its key) is missing.
bool CurrentValue(const std::string& key, const std::string& name, uint32_t* type, std::string* data) {
  PlatHKey k = nullptr;
  if (PlatRegOpenKey(PLAT_HKEY_LOCAL_MACHINE, key.c_str(), PLAT_KEY_READ, &k) != 0) return false;
  uint32_t size = 0;
  bool ok = PlatRegQueryValue(k, name.c_str(), type, nullptr, &size) == 0;
  if (ok) {
    data->assign(size, '\0');
    ok = PlatRegQueryValue(k, name.c_str(), type, data->data(), &size) == 0;
    data->resize(size);
  }
  PlatRegCloseKey(k);
  if (ok && (*type == PLAT_REG_SZ || *type == PLAT_REG_EXPAND_SZ)) {
    size_t zero = data->find('\0');
    if (zero != std::string::npos) data->resize(zero);
  }
  return ok;
}

// The topmost key on the path of `key` that does not exist, or "".
std::string FirstMissingKey(const std::string& key) {
  std::string prefix;
  size_t i = 0;
  while (i <= key.size()) {
    size_t j = key.find('\\', i);
    if (j == std::string::npos) j = key.size();
    prefix = key.substr(0, j);
    PlatHKey k = nullptr;
    if (PlatRegOpenKey(PLAT_HKEY_LOCAL_MACHINE, prefix.c_str(), PLAT_KEY_READ, &k) != 0) return prefix;
    PlatRegCloseKey(k);
    i = j + 1;
  }
  return std::string();
}

}  // namespace

std::string MsiUndoScript(const std::vector<std::pair<std::string, std::string>>& values) {
  std::vector<MsiRegChange> sets, key_deletes;
  std::set<std::string> deleted_keys;
  for (const auto& [key, name] : values) {
    std::string missing = FirstMissingKey(key);
    if (!missing.empty()) {
      std::string lower = missing;
      for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
      if (deleted_keys.insert(lower).second) key_deletes.push_back({MSI_REG_DELETE_KEY, missing, "", 0, ""});
      continue;
    }
    MsiRegChange c{MSI_REG_SET, key, name, 0, ""};
    if (!CurrentValue(key, name, &c.type, &c.data)) c.kind = MSI_REG_DELETE_VALUE;
    sets.push_back(c);
  }
  sets.insert(sets.end(), key_deletes.begin(), key_deletes.end());
  return MsiRegScript(sets);
}

int MsiApplyRegistry(const std::string& script) {
  if (script.empty()) return 0;
  int bad_line = 0;
  return PlatRegImport(script, &bad_line) == 0 ? 0 : -1;
}

int MsiRollback(const MsiJournal& j) {
  int rc = 0;
  for (auto it = j.files.rbegin(); it != j.files.rend(); ++it) {
    const MsiJournalFile& f = *it;
    bool staged_left = !f.staged.empty() && Exists(f.staged);
    if (staged_left && Unlink(f.staged) != 0) rc = -1;
    if (!f.backup.empty()) {
      if (Exists(f.backup) && plat_sys_rename(f.backup.c_str(), f.target.c_str()) != 0) rc = -1;
    } else if (!f.staged.empty() && !staged_left && Exists(f.target)) {
      if (Unlink(f.target) != 0) rc = -1;  // a new file already in place
    }
  }
  if (MsiApplyRegistry(j.undo_registry) != 0) rc = -1;
  RemoveEmptyDirs(j.new_dirs);
  if (rc == 0) rc = MsiDeleteJournal();
  return rc;
}

int MsiFinish(const MsiJournal& j) {
  int rc = 0;
  for (const MsiJournalFile& f : j.files) {
    if (!f.backup.empty() && Unlink(f.backup) != 0) rc = -1;
    if (!f.staged.empty() && Unlink(f.staged) != 0) rc = -1;
  }
  if (j.op == "install") {
    for (const std::string& code : j.replaced) {
      if (code != j.product_code && MsiDeleteRecord(code) != 0) rc = -1;
    }
    MsiProductRecord rec;
    if (MsiLoadRecord(j.product_code, &rec) == 0) RemoveEmptyDirs(rec.dirs);
  } else {
    RemoveEmptyDirs(j.cleanup_dirs);
  }
  MsiTestPoint("cleanup");
  if (rc == 0) rc = MsiDeleteJournal();
  return rc;
}

int MsiRecover() {
  MsiJournal j;
  int r = MsiLoadJournal(&j);
  if (r == 1) return 0;
  if (r == -2) {
    // The journal is written in one step, so this is damage from outside:
    // nothing can be undone from it; it is kept aside for a look.
    return MsiSetJournalAside();
  }
  if (r < 0) return -1;
  MsiProductRecord rec;
  int have = MsiLoadRecord(j.product_code, &rec);
  if (have < 0) return -1;
  bool committed = j.op == "install" ? (have == 0 && rec.txn == j.txn) : have == 1;
  return committed ? MsiFinish(j) : MsiRollback(j);
}

int MsiStopServices(const std::vector<std::string>& names) {
  if (names.empty()) return 0;
  SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!scm) return -1;
  int rc = 0;
  for (const std::string& name : names) {
    SC_HANDLE s = OpenServiceA(scm, name.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS);
    if (!s) continue;  // not installed: nothing to stop
    SERVICE_STATUS status{};
    ControlService(s, SERVICE_CONTROL_STOP, &status);  // not running: already as wanted
    bool stopped = false;
    for (int waited = 0; waited <= kStopWaitMs; waited += kStopPollMs) {
      SERVICE_STATUS_PROCESS sp{};
      uint32_t needed = 0;
      if (QueryServiceStatusEx(s, SC_STATUS_PROCESS_INFO, &sp, sizeof sp, &needed)) {
        // A service that runs in this very process, or in the process the
        // installer host works for (a service updating itself), cannot
        // finish stopping before the installation returns: it has been told
        // to stop, and that is all that can be waited for.
        stopped = sp.dwCurrentState == SERVICE_STOPPED || sp.dwProcessId == static_cast<uint32_t>(::getpid()) ||
                  (sp.dwProcessId != 0 && sp.dwProcessId == g_caller_pid.load());
        if (stopped) break;
      }
      ::usleep(kStopPollMs * 1000);
    }
    if (!stopped) rc = -1;
    CloseServiceHandle(s);
  }
  CloseServiceHandle(scm);
  return rc;
}

void MsiSetCallerProcess(uint32_t pid) { g_caller_pid.store(pid); }

void MsiTestPoint(const char* point) {
  const char* crash = std::getenv("TQ_TEST_MSI_CRASH_AT");
  if (crash && std::string(crash) == point) ::kill(::getpid(), SIGKILL);
  const char* pause = std::getenv("TQ_TEST_MSI_PAUSE_AT");
  const char* file = std::getenv("TQ_TEST_MSI_PAUSE_FILE");
  if (pause && file && std::string(pause) == point) {
    FILE* f = std::fopen(file, "w");
    if (f) std::fclose(f);
    for (int waited = 0; waited < kPauseMs && Exists(file); waited += 10) ::usleep(10000);
  }
}

std::string MsiNewTxnId() {
  static std::atomic<unsigned> counter{0};
  return std::to_string(static_cast<long long>(std::time(nullptr))) + "-" + std::to_string(::getpid()) + "-" +
         std::to_string(counter.fetch_add(1) + 1);
}

MsiHostFolders MsiFolders() {
  MsiHostFolders f;
  char buf[4096];
  if (PlatSpecialFolder(PLAT_FOLDER_PROGRAM_FILES, buf, sizeof buf) == 0) f.program_files = buf;
  if (PlatSpecialFolder(PLAT_FOLDER_COMMON_APPDATA, buf, sizeof buf) == 0) f.common_appdata = buf;
  if (PlatSpecialFolder(PLAT_FOLDER_APPDATA, buf, sizeof buf) == 0) f.appdata = buf;
  if (PlatSpecialFolder(PLAT_FOLDER_DOCUMENTS, buf, sizeof buf) == 0) f.documents = buf;
  return f;
}

std::string MsiPackagePath(const char* path) {
  std::string p = path;
  for (char& c : p) {
    if (c == '\\') c = '/';
  }
  char cwd[4096];
  if (!p.empty() && p[0] != '/' && ::getcwd(cwd, sizeof cwd)) p = std::string(cwd) + "/" + p;
  return p;
}
