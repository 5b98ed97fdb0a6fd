// The work file: the entries of the last check still to be installed, one
// line each, read back into a work list, checked against the packages and
// the registry, and rewritten.
#include "engine/work_file.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "engine/config.h"
#include "engine/install.h"
#include "engine/products.h"
#include "engine/statement_file.h"
#include "engine/update_script.h"
#include "engine/work_entry.h"
#include "fetch/fetch_file.h"
#include "fetch/signature_check.h"
#include "platform/error.h"
#include "platform/event.h"
#include "platform/file.h"
#include "platform/installer.h"
#include "platform/named_mutex.h"
#include "platform/system.h"
#include "runtime/alloc.h"
#include "runtime/env.h"
#include "runtime/message.h"
#include "runtime/util.h"

int g_upd_work_pending = 0;

namespace {

constexpr size_t kLinePieceMax = 1023;     // characters of a line read at a time
constexpr int kLineTokensMax = 12;         // tokens of a line kept
constexpr int kLineTokensMin = 10;         // tokens of a complete line (five pairs)
constexpr uint32_t kReadVersionSize = 100; // buffer for ProductVersion
constexpr uint32_t kWorkFileMode = 0644;   // other programs read the file

// Deletes the work file, logging the attempt and a failure.
void DeleteWorkFile() {
  const char* path = UpdWorkFilePath();
  UpdMessage(0, "Deleting File: %s", path);
  if (PlatDeleteFile(path) != 0)
    UpdMessage(0, "Delete File: %s - Error: %d", path, static_cast<int>(PlatGetLastError()));
}

// The work mutex for the time of one save.
struct WorkMutexHold {
  PlatMutex* mutex = nullptr; // the handle, or null when it could not be made
  bool held = false;          // a wait acquired it

  WorkMutexHold() {
    std::string name = UpdWorkMutexName();
    mutex = PlatMutexCreate(name.c_str(), UpdWorkObjectsDescriptor());
    if (!mutex) {
      UpdMessage(9, "Error Creating Work Mutex: %s", name.c_str());
      return;
    }
    uint32_t r = PlatMutexWait(mutex, PLAT_INFINITE);
    held = r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
  }
  ~WorkMutexHold() {
    if (held) PlatMutexRelease(mutex);
    PlatMutexClose(mutex);
  }
  WorkMutexHold(const WorkMutexHold&) = delete;
  WorkMutexHold& operator=(const WorkMutexHold&) = delete;
};

// The Desc of a line: "Unknown" when there is none. A double quote would end
// the quoted field early and make the whole file unreadable, so it is
// written as a single quote.
std::string DescField(const UpdEntry* e) {
  std::string desc = e->desc ? e->desc : "Unknown";
  for (char& c : desc)
    if (c == '"') c = '\'';
  return desc;
}

// One line of the work file, line feed included. A description that would
// make the line longer than the reader takes at a time (1,023 characters
// with the line feed) is cut, so the line reads back as one.
std::string WorkLine(const UpdEntry* e) {
  char cur[32] = "NotInstalled";
  if (e->flags & UPD_ENTRY_INSTALLED) UpdVersionText(e->installed_version, cur, sizeof cur);
  char next[32];
  UpdVersionText(e->new_version, next, sizeof next);
  std::string desc = DescField(e);
  std::string tail = std::string("\",CurVersion=\"") + cur + "\",NewVersion=\"" + next + "\",InstallFile=\"" +
                     (e->local_file ? e->local_file : "") + "\"" +
                     (e->flags & UPD_ENTRY_FORCE_REBOOT ? "ForceReboot=True" : "") + "\n";
  std::string head = std::string("Name=\"") + (e->name ? e->name : "") + "\",Desc=\"";
  size_t fixed = head.size() + tail.size();
  if (fixed + desc.size() > kLinePieceMax && fixed < kLinePieceMax) desc.resize(kLinePieceMax - fixed);
  return head + desc + tail;
}

// Reads one line (at most 1,023 characters at a time) without its line
// feed and carriage return. false at the end of the file.
bool ReadPiece(FILE* f, char* buf) {
  if (!std::fgets(buf, static_cast<int>(kLinePieceMax + 1), f)) return false;
  size_t len = std::strlen(buf);
  if (len > 0 && buf[len - 1] == '\n') buf[--len] = '\0';
  if (len > 0 && buf[len - 1] == '\r') buf[--len] = '\0';
  return true;
}

// 1 when an entry of `list` has exactly this name.
int NameListed(const UpdEntry* list, const char* name) {
  for (const UpdEntry* e = list; e; e = e->next)
    if (e->name && std::strcmp(e->name, name) == 0) return 1;
  return 0;
}

enum LineOutcome { LINE_KEPT, LINE_DROPPED, LINE_BAD };

// Reads one line into *out (a new entry) or drops it. LINE_BAD after the
// line's message.
LineOutcome ReadLine(char* line, const UpdEntry* list, UpdEntry** out) {
  char* tokens[kLineTokensMax + 1];
  int count = RVTokenize(line, tokens, kLineTokensMax + 1, ",=");
  if (count < kLineTokensMin || count % 2 != 0) {
    UpdMessage(9, "Invalid Entry In File: %s", UpdWorkFilePath());
    return LINE_BAD;
  }
  UpdEntry* e = RVAllocRecord<UpdEntry>();
  for (int i = 0; i < count; i += 2) {
    const char* key = tokens[i];
    const char* value = tokens[i + 1];
    if (UpdStmtKeyIs(key, "Name")) {
      if (NameListed(list, value) || !UpdPackageWanted(value)) {
        UpdFreeWorkList(e);
        return LINE_DROPPED;
      }
      RVFree(e->name);
      e->name = RVStrDup(value);
      UpdProductInfo(e);
    } else if (UpdStmtKeyIs(key, "Desc")) {
      RVFree(e->desc);
      e->desc = RVStrDup(value);
    } else if (UpdStmtKeyIs(key, "InstallFile")) {
      // Only the last part of the name counts: a package is only ever
      // installed from the work directory, where it was verified.
      char local[kUpdNameSize];
      RVFree(e->local_file);
      e->local_file = UpdLocalFileName(value, local) == 0 ? RVStrDup(local) : nullptr;
    } else if (UpdStmtKeyIs(key, "ForceReboot")) {
      if (UpdStmtKeyIs(value, "True")) e->flags |= UPD_ENTRY_FORCE_REBOOT;
    }
  }
  e->install_file = RVStrDup("dummy.msi");
  e->signature_file = RVStrDup("dummy.sig");
  if (!e->name) {
    UpdMessage(7, "Missing Name in Update Script");
    UpdFreeWorkList(e);
    return LINE_BAD;
  }
  *out = e;
  return LINE_KEPT;
}

// Checks one entry's package against the installed product: sets its new
// version and, when the two are equal, its skip bit. 1 when the entry is
// to be recorded, 0 when skipped, -1 when the package cannot be opened.
int CheckPackage(UpdEntry* e) {
  UpdProductInfo(e);
  std::string path = UpdPackagePath(e);
  const char* name = e->name ? e->name : "";
  UpdMessage(0, "Save - Checking %s - %s", name, path.c_str());
  char version[kReadVersionSize];
  uint32_t rc = MSI_OK;
  uint32_t opened = UpdReadPackageProperty(path.c_str(), "ProductVersion", version, sizeof version, &rc);
  UpdInstallResult("MsiOpenPackage()", opened);
  if (opened != MSI_OK) return -1;
  UpdInstallResult("MsiGetProductProperty(ProductVersion)", rc);
  if (rc != MSI_OK) return 1;
  e->new_version = UpdVersionNumber(version);
  if (e->new_version != e->installed_version) return 1;
  UpdMessage(0, "Save - Versions Match - Ignoring: %s", name);
  e->flags |= UPD_ENTRY_SKIP;
  return 0;
}

}  // namespace

const char* UpdWorkFilePath() {
  thread_local std::string path;
  const char* dir = RVGetEnv("RV_COMMONAPPDATA");
  path = std::string(dir ? dir : ".") + "/tqupd-work.txt";
  return path.c_str();
}

std::string UpdGlobalObjectName(const char* suffix) {
  const char* home = RVGetEnv("RV_HOME");
  return std::string("Global\\") + (home ? home : ".") + "/" + suffix;
}

std::string UpdWorkMutexName() { return UpdGlobalObjectName("tqupd-work-mtx"); }

const PlatSecurityDescriptor* UpdWorkObjectsDescriptor() {
  static PlatSecurityDescriptor desc;
  static int built = RVAuthUserSecDesc(&desc) == 0 ? 1 : 0;
  return built ? &desc : nullptr;
}

const PlatSecurityDescriptor* UpdRequestEventDescriptor() {
  static PlatSecurityDescriptor desc;
  static int built = [] {
    if (RVAuthUserSecDesc(&desc) != 0) return 0;
    PlatAllowSignalByAll(&desc);
    return 1;
  }();
  return built ? &desc : nullptr;
}

int UpdWorkFilePackages(std::vector<std::string>* names) {
  FILE* f = PlatFileOpen(UpdWorkFilePath(), "r");
  if (!f) {
    uint32_t err = PlatGetLastError();
    return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND ? 0 : -1;
  }
  char line[kLinePieceMax + 1];
  while (ReadPiece(f, line)) {
    // Every InstallFile of a line counts, even of a line the reader would
    // refuse: keeping a package too many loses nothing.
    char* tokens[kLineTokensMax + 1];
    int count = RVTokenize(line, tokens, kLineTokensMax + 1, ",=");
    for (int i = 0; i + 1 < count; i += 2) {
      char local[kUpdNameSize];
      if (UpdStmtKeyIs(tokens[i], "InstallFile") && UpdLocalFileName(tokens[i + 1], local) == 0)
        names->push_back(local);
    }
  }
  bool failed = std::ferror(f) != 0;
  std::fclose(f);
  return failed ? -1 : 0;
}

int UpdSaveWorkFile() {
  WorkMutexHold hold;
  if (!hold.held) return -1;
  DeleteWorkFile();
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  int32_t com = PlatComInitialize();
  if (com != 0 && com != 1) {
    UpdMessage(9, "Error Initializing COM - HResult: %x", static_cast<unsigned>(com));
    return -1;
  }
  int count = 0;
  int failed = 0;
  for (UpdEntry* e = g_upd_config ? g_upd_config->work_list : nullptr; e && !failed; e = e->next) {
    if (e->flags & UPD_ENTRY_SKIP) continue;
    int r = CheckPackage(e);
    if (r < 0) failed = 1;
    else count += r;
  }
  if (!failed && count > 0) {
    const char* path = UpdWorkFilePath();
    UpdMessage(0, "Creating File: %s", path);
    std::string text;
    for (const UpdEntry* e = g_upd_config->work_list; e; e = e->next)
      if (!(e->flags & UPD_ENTRY_SKIP)) text += WorkLine(e);
    // Written beside and renamed over: a reader never sees a part of it.
    if (PlatWriteFileAtomic(path, text, kWorkFileMode) != 0) {
      UpdMessage(9, "Failed to open tqupd work file: %s - for writing", path);
      failed = 1;
    }
  }
  PlatComUninitialize();
  return failed ? -1 : 0;
}

int UpdReadWorkFile() {
  g_upd_work_pending = 0;
  FILE* f = PlatFileOpen(UpdWorkFilePath(), "r");
  if (!f) return 0;
  UpdEntry* head = nullptr;
  UpdEntry* tail = nullptr;
  char line[kLinePieceMax + 1];
  bool bad = false;
  while (!bad && ReadPiece(f, line)) {
    UpdEntry* e = nullptr;
    LineOutcome outcome = ReadLine(line, head, &e);
    if (outcome == LINE_BAD) bad = true;
    if (outcome != LINE_KEPT) continue;
    if (tail) tail->next = e;
    else head = e;
    tail = e;
  }
  if (!bad && std::ferror(f)) {
    // A file read only in part is damaged as far as the reader can tell.
    UpdMessage(9, "Invalid Entry In File: %s", UpdWorkFilePath());
    bad = true;
  }
  std::fclose(f);
  if (bad) {
    DeleteWorkFile();
    UpdFreeWorkList(head);
    return -1;
  }
  if (!g_upd_config) {
    UpdFreeWorkList(head);
    return -1;
  }
  UpdFreeWorkList(g_upd_config->work_list);
  g_upd_config->work_list = head;
  UpdSaveWorkFile();
  for (const UpdEntry* e = head; e; e = e->next) {
    if (!(e->flags & UPD_ENTRY_SKIP)) {
      g_upd_work_pending = 1;
      return 0;
    }
  }
  DeleteWorkFile();
  UpdFreeWorkList(g_upd_config->work_list);
  g_upd_config->work_list = nullptr;
  return 0;
}
