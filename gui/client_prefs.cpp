// The client preferences.
#include "gui/client_prefs.h"

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/file.h"
#include "platform/system.h"
#include "runtime/env.h"
#include "runtime/mutex.h"
#include "runtime/report.h"
#include "runtime/text_lines.h"
#include "runtime/util.h"

namespace {

constexpr char kPrefsFile[] = "cl-pref.txt";
constexpr char kGlobalHeader[] = "#\n# TQ Client Preferences - Global\n#\n";
constexpr int kKeyWidth = 20; // keys of a written file are left-justified in this many bytes

// One key the client programs know.
struct PrefKey {
  const char* key;      // as written in the files
  const char* fallback; // built-in default, or null
  int global_only;      // 1: the user file cannot set it
};

const PrefKey kKeys[] = {
    {"UseWindowsThemes", "True", 0},
    {"FontFileList", nullptr, 0},
    {"FontSizeInc", nullptr, 0},
    {"SysAddr", nullptr, 1},
    {"SysMemory", nullptr, 1},
    {"Help", "Off", 0},
    {"ListAddStyle", "Relative", 0},
    {"BtnReturnActivate", "False", 0},
    {"TabstopAll", nullptr, 0},
    {"DisableTypeAhead", nullptr, 0},
    {"GetAnswerType", "Default", 0},
    {"ShowConnInfo", "False", 0},
    {"ShowUser", nullptr, 0},
    {"ShowDate", nullptr, 0},
    {"ShowTime", nullptr, 0},
    {"PSHdrConnInfo", nullptr, 0},
    {"PSHdrUser", nullptr, 0},
    {"PSHdrDate", nullptr, 0},
    {"PSHdrTime", nullptr, 0},
    {"PSHdrLayoutTitle", nullptr, 0},
    {"ConnFileList", nullptr, 0},
    {"FKeyFileList", nullptr, 0},
    {"SelInactiveBG", nullptr, 0},
    {"SelInactiveFG", nullptr, 0},
    {"MaxConnHist", nullptr, 0},
    {"MaxInstances", nullptr, 0},
    {"MaxInstanceOverride", nullptr, 0},
    {"WarnAfter", nullptr, 0},
    {"EnableAutoConnect", nullptr, 0},
    {"AutoConnectServer", nullptr, 0},
    {"AutoConnectApplication", nullptr, 0},
    {"DisableEmptyTextHighlight", nullptr, 0},
    {"MaxMessageMerge", nullptr, 0},
    {"UpdatePrompt", nullptr, 0},
    {"LastUpdateCheck", nullptr, 0},
    {"LastInstallStart", nullptr, 0},
    {"LastInstallEnd", nullptr, 0},
    {"SessionControlFKey", nullptr, 0},
    {"HotTrackMode", nullptr, 0},
};
constexpr int kKeyCount = static_cast<int>(sizeof kKeys / sizeof kKeys[0]);

// The six settings of a first run, in the order they are written.
const struct {
  const char* key;
  const char* value;
} kFirstRun[] = {
    {"Help", "Off"},
    {"ListAddStyle", "Relative"},
    {"BtnReturnActivate", "False"},
    {"GetAnswerType", "Default"},
    {"ShowConnInfo", "False"},
    {"UseWindowsThemes", "True"},
};

// Which file a value comes from.
enum PrefLevel { PREF_GLOBAL = 0, PREF_USER = 1 };

// The two values of one key.
struct PrefValues {
  std::string value[2]; // by PrefLevel
  int set[2] = {0, 0};  // 1 when the level set the value
};

// The process's preferences.
struct ClientPrefs {
  int loaded = 0;               // 1 once a load ran
  int result = 0;               // that load's result
  PrefValues values[kKeyCount]; // by the index of kKeys
};

std::mutex g_lock; // guards g_prefs and the path texts
ClientPrefs g_prefs;
std::string g_global_path; // the texts of GUIClientPrefsGlobalPath
std::string g_user_path;   // and GUIClientPrefsUserPath

int KeyIndex(const char* key) {
  for (int i = 0; i < kKeyCount; ++i)
    if (RVTextEqualNoCase(kKeys[i].key, key)) return i;
  return -1;
}

void Store(PrefLevel level, int index, const char* value, size_t length) {
  PrefValues& v = g_prefs.values[index];
  v.value[level].assign(value, length);
  v.set[level] = 1;
}

bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// One logical line of a preferences file: a key and its value.
void PrefLine(char* line, size_t length, void* context) {
  PrefLevel level = *static_cast<PrefLevel*>(context);
  size_t i = 0;
  while (i < length && IsSeparator(line[i])) ++i;
  size_t key = i;
  while (i < length && !IsSeparator(line[i])) ++i;
  size_t key_end = i;
  while (i < length && IsSeparator(line[i])) ++i;
  size_t end = length;
  while (end > i && IsSeparator(line[end - 1])) --end;
  if (key_end == key || end == i) return;
  line[key_end] = '\0';
  int index = KeyIndex(line + key);
  if (index >= 0) Store(level, index, line + i, end - i);
}

// "<dir>/cl-pref.txt" with "\" as "/" and doubled slashes reduced.
std::string PrefsPath(const char* dir_setting) {
  const char* dir = RVGetEnv(dir_setting);
  std::string path = std::string(dir && *dir ? dir : ".") + "/" + kPrefsFile;
  RVNormalizePath(path.data());
  path.resize(std::char_traits<char>::length(path.c_str()));
  return path;
}

bool Exists(const std::string& path) {
  PlatFileInfo info;
  return PlatFileStat(path.c_str(), &info) == 0;
}

// Reads one preferences file at `level`; false when it cannot be opened
// (errno tells why).
bool ReadPrefsFile(const std::string& path, PrefLevel level) {
  std::FILE* f = PlatFileOpen(path.c_str(), "r");
  if (!f) return false;
  RVReadTextStream(f, RV_COMMENT_ANYWHERE, PrefLine, &level);
  std::fclose(f);
  return true;
}

std::string FirstRunText() {
  std::string text = kGlobalHeader;
  for (const auto& d : kFirstRun) {
    char line[128];
    std::snprintf(line, sizeof line, "%-*s\t%s\n", kKeyWidth, d.key, d.value);
    text += line;
  }
  return text;
}

// The named mutex that serialises the writers of the global file: only an
// administrator writes it, and readers need no lock since the file is
// replaced in one step. Null when it cannot be had (then reported by the
// runtime, and the load goes on without it).
RVMutex* LockGlobalFile(const std::string& path) {
  RVMutex* m = RVMutexAlloc();
  m->flags |= RV_MUTEX_AUTHUSER;
  std::string name = "Global\\" + path + "-mtx";
  if (RVMutexCreate(m, name.c_str()) != 0) {
    RVMutexFree(m);
    return nullptr;
  }
  if (RVMutexLock(m) != 0) {
    RVMutexFree(m);
    return nullptr;
  }
  return m;
}

// Steps 1 and 2: the global file, written first by an administrator when
// it does not exist.
void LoadGlobal(const std::string& path) {
  if (ReadPrefsFile(path, PREF_GLOBAL)) return;
  if (!Exists(path) && PlatIsAdministrator()) {
    RVMakeDirs(path.c_str());
    PlatWriteFileAtomic(path.c_str(), FirstRunText(), 0644);
    if (ReadPrefsFile(path, PREF_GLOBAL)) return;
  }
  for (const auto& d : kFirstRun) {
    std::string value = d.value;
    Store(PREF_GLOBAL, KeyIndex(d.key), value.data(), value.size());
  }
}

// Step 3: the user file, created with its header when it does not exist.
int LoadUser(const std::string& path) {
  if (ReadPrefsFile(path, PREF_USER)) return 0;
  int open_error = errno;
  if (Exists(path)) {
    RVReportError("Error Opening User Preferences File: %s, errno: %d", path.c_str(), open_error);
    return -1;
  }
  const char* user = RVUserName();
  std::string header = std::string("#\n# TQ Client Preferences - ") + (user ? user : "") + "\n#\n";
  RVMakeDirs(path.c_str());
  if (PlatWriteFileAtomic(path.c_str(), header, 0644) != 0) {
    RVReportError("Error Creating User Preferences File: %s, errno: %d", path.c_str(), errno);
    return -1;
  }
  if (!ReadPrefsFile(path, PREF_USER)) {
    RVReportError("Error Opening User Preferences File: %s, errno: %d", path.c_str(), errno);
    return -1;
  }
  return 0;
}

const char* Lookup(const char* key, int use_user, int use_global, int use_fallback) {
  int i = KeyIndex(key);
  if (i < 0) return nullptr;
  const PrefValues& v = g_prefs.values[i];
  if (use_user && !kKeys[i].global_only && v.set[PREF_USER]) return v.value[PREF_USER].c_str();
  if (use_global && v.set[PREF_GLOBAL]) return v.value[PREF_GLOBAL].c_str();
  return use_fallback ? kKeys[i].fallback : nullptr;
}

}  // namespace

int GUILoadClientPrefs() {
  std::lock_guard<std::mutex> lock(g_lock);
  if (g_prefs.loaded) return g_prefs.result;
  g_prefs.loaded = 1;
  std::string global = PrefsPath("RV_COMMONAPPDATA");
  std::string user = PrefsPath("RV_APPDATA");
  RVMutex* m = PlatIsAdministrator() ? LockGlobalFile(global) : nullptr;
  LoadGlobal(global);
  g_prefs.result = LoadUser(user);
  if (m) {
    RVMutexUnlock(m);
    RVMutexFree(m);
  }
  return g_prefs.result;
}

const char* GUIPrefValue(const char* key) {
  std::lock_guard<std::mutex> lock(g_lock);
  return Lookup(key, 1, 1, 1);
}

const char* GUIPrefGlobalValue(const char* key) {
  std::lock_guard<std::mutex> lock(g_lock);
  return Lookup(key, 0, 1, 0);
}

const char* GUIPrefUserValue(const char* key) {
  std::lock_guard<std::mutex> lock(g_lock);
  int i = KeyIndex(key);
  if (i < 0 || !g_prefs.values[i].set[PREF_USER]) return nullptr;
  return g_prefs.values[i].value[PREF_USER].c_str();
}

int GUIPrefIsTrue(const char* value) {
  return RVTextEqualNoCase(value, "True") || RVTextEqualNoCase(value, "Yes") || RVTextEqualNoCase(value, "On") ? 1
                                                                                                                : 0;
}

int GUIPrefBool(const char* key) { return GUIPrefIsTrue(GUIPrefValue(key)); }

int GUIPrefUseThemes() {
  const char* v = GUIPrefValue("UseWindowsThemes");
  return !v || GUIPrefIsTrue(v) ? 1 : 0;
}

void GUIFreeClientPrefs() {
  std::lock_guard<std::mutex> lock(g_lock);
  for (PrefValues& v : g_prefs.values) {
    for (int level = 0; level < 2; ++level) {
      std::string().swap(v.value[level]);
      v.set[level] = 0;
    }
  }
  g_prefs.loaded = 0;
  g_prefs.result = 0;
}

const char* GUIClientPrefsGlobalPath() {
  std::lock_guard<std::mutex> lock(g_lock);
  g_global_path = PrefsPath("RV_COMMONAPPDATA");
  return g_global_path.c_str();
}

const char* GUIClientPrefsUserPath() {
  std::lock_guard<std::mutex> lock(g_lock);
  g_user_path = PrefsPath("RV_APPDATA");
  return g_user_path.c_str();
}
