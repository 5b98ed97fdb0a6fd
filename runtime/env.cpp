// Installation discovery, the settings lists and ${...} expansion.
#include "runtime/env.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <strings.h>
#include <vector>

#include "platform/error.h"
#include "platform/file.h"
#include "platform/folders.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "runtime/mutex.h"
#include "runtime/print.h"
#include "runtime/report.h"
#include "runtime/settings_file.h"
#include "runtime/util.h"

namespace {

// One entry of a settings list.
struct RVSetting {
  std::string name;  // compared without regard to case
  std::string value; // an empty value is an empty text
};

// Everything discovery finds, kept for the life of the process.
struct RVDiscovery {
  bool discovered;                  // discovery has run
  bool profile_loaded;              // the profile file has been read
  RVProgramKind kind;               // decides how directories are published
  std::vector<RVSetting> profile;   // the profile list
  std::vector<RVSetting> install;   // the installation list
  std::string program_name;         // base name of the program as started
  std::string scratch_name;         // "<RV_APPDATA>/s_%08lx"
  std::string install_dir32;        // 32-bit installation directory, or empty
  bool date_european;               // "datetype" is "EUROPEAN"
  RVMutex* global_mutex;            // "Global\<RV_HOME>/_TQ_Glbl_Mtx_", or null
  RVMutex* local_mutex;             // unnamed, or null
};

RVDiscovery g_rv = {false, false, RV_PROGRAM_SERVICE, {}, {}, {}, {}, {}, false, nullptr, nullptr};

// Characters of a ${...} reference name that are kept; longer names are cut.
constexpr size_t kMaxRefName = 511;

// Size of the buffer RVSetEnv expands into.
constexpr size_t kSetEnvBuffer = 4096;

// Size of path buffers of discovery (MAX_PATH).
constexpr size_t kPathBuffer = 260;

RVSetting* Find(std::vector<RVSetting>& list, const char* name) {
  for (RVSetting& s : list)
    if (strcasecmp(s.name.c_str(), name) == 0) return &s;
  return nullptr;
}

// Stores name = value in a list: replaces in place or appends. A value in
// matching quotes loses them and has its escapes converted.
const char* Store(std::vector<RVSetting>& list, const char* name, const char* value) {
  std::string v = value ? value : "";
  if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) {
    std::string inner = v.substr(1, v.size() - 2);
    std::vector<char> out(inner.size() + 1);
    int errors = 0;
    conv_line(out.data(), inner.c_str(), &errors);
    v = out.data();
  }
  RVSetting* s = Find(list, name);
  if (s) {
    s->value = v;
    return s->value.c_str();
  }
  list.push_back({name, v});
  return list.back().value.c_str();
}

// The name's legacy variable ("bin_dir" -> "XLBIN"), or empty when the name
// is not all lower case.
std::string LegacyName(const char* name) {
  std::string n(name);
  if (n.empty()) return {};
  for (char c : n)
    if (std::isupper(static_cast<unsigned char>(c))) return {};
  for (const char* suffix : {"_lst", "_dir", "_fn"}) {
    size_t len = std::strlen(suffix);
    if (n.size() > len && n.compare(n.size() - len, len, suffix) == 0) {
      n.resize(n.size() - len);
      break;
    }
  }
  if (n.rfind("alt_", 0) == 0) n = "alt" + n.substr(4);
  std::string legacy = "XL";
  for (char c : n) legacy += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return legacy;
}

// The legacy variable's value for `name`, stored in the profile list; or null.
const char* LegacyLookup(const char* name) {
  std::string legacy = LegacyName(name);
  if (legacy.empty()) return nullptr;
  const char* v = PlatEnvGet(legacy.c_str());
  if (!v) return nullptr;
  return Store(g_rv.profile, name, v);
}

// Profile list, then the environment (cached into the profile list).
const char* ProfileOrEnvironment(const char* name) {
  if (RVSetting* s = Find(g_rv.profile, name)) return s->value.c_str();
  if (const char* v = PlatEnvGet(name)) return Store(g_rv.profile, name, v);
  return nullptr;
}

std::string Expanded(const char* text) {
  std::vector<char> buf(kSetEnvBuffer);
  RVExpand(text ? text : "", buf.data(), buf.size());
  return buf.data();
}

std::string Normalized(std::string path) {
  std::vector<char> buf(path.begin(), path.end());
  buf.push_back('\0');
  RVNormalizePath(buf.data());
  return buf.data();
}

std::string WithoutTrailingSeparator(std::string path) {
  while (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) path.pop_back();
  return path;
}

bool IsDirectory(const std::string& path) {
  PlatFileInfo info;
  return !path.empty() && PlatFileStat(path.c_str(), &info) == 0 && info.is_dir;
}

// Splits "FIRST REST" at the first blanks; REST may be empty.
void SplitFirst(const std::string& text, std::string* first, std::string* rest) {
  size_t end = text.find_first_of(" \t");
  *first = text.substr(0, end);
  if (end == std::string::npos) {
    rest->clear();
    return;
  }
  size_t start = text.find_first_not_of(" \t", end);
  *rest = start == std::string::npos ? std::string() : text.substr(start);
}

// Handles one entry of TQ.INF or of the config_fn file.
void InstallEntry(const char* name, const char* value) {
  std::string val = value ? value : "";
  std::string var, rest;
  if (strcasecmp(name, "LocalEnv") == 0) {
    SplitFirst(val, &var, &rest);
    if (!var.empty()) Store(g_rv.profile, var.c_str(), Expanded(rest.c_str()).c_str());
  } else if (strcasecmp(name, "Env") == 0) {
    SplitFirst(val, &var, &rest);
    if (!var.empty() && !PlatEnvGet(var.c_str())) {
      std::string once = Expanded(rest.c_str());
      Store(g_rv.profile, var.c_str(), Expanded(once.c_str()).c_str());
      RVSetEnv(var.c_str(), once.c_str());
    }
  } else if (strcasecmp(name, "UserEnv") == 0) {
    std::string user, tail;
    SplitFirst(val, &user, &tail);
    SplitFirst(tail, &var, &rest);
    const char* me = RVUserName();
    if (!var.empty() && me && strcasecmp(user.c_str(), me) == 0) {
      std::string once = Expanded(rest.c_str());
      Store(g_rv.profile, var.c_str(), Expanded(once.c_str()).c_str());
      RVSetEnv(var.c_str(), once.c_str());
    }
  } else {
    std::string legacy = LegacyName(name);
    const char* lv = legacy.empty() ? nullptr : PlatEnvGet(legacy.c_str());
    Store(g_rv.install, name, lv ? lv : value);
  }
}

void ReadInstallFile(const char* path) {
  RVReadSettingsFile(path, [](const char* name, const char* value) { InstallEntry(name, value); });
}

void LoadProfile() {
  if (g_rv.profile_loaded) return;
  g_rv.profile_loaded = true;
  std::string path;
  if (const char* p = PlatEnvGet("PROFILETQENV"); p && *p) {
    path = p;
  } else if (const char* home = PlatEnvGet("HOME"); home && *home) {
    path = home;
    if (path.back() != '/' && path.back() != '\\') path += "/";
    path += "PROFILE.TQ";
  } else {
    path = "PROFILE.TQ";
  }
  RVReadSettingsFile(path.c_str(), [](const char* name, const char* value) { Store(g_rv.profile, name, value); });
}

// Searches the subkeys of `key` ending in `suffix` for the first "InstallDir"
// naming an existing directory.
std::string RegistryInstallDir(const char* key, const char* suffix) {
  PlatHKey root = nullptr;
  if (PlatRegOpenKey(PLAT_HKEY_LOCAL_MACHINE, key, PLAT_KEY_READ, &root) != ERROR_SUCCESS) return {};
  std::string found;
  size_t slen = std::strlen(suffix);
  for (uint32_t i = 0; found.empty(); ++i) {
    char sub[256];
    uint32_t sub_size = sizeof sub;
    uint32_t r = PlatRegEnumKey(root, i, sub, &sub_size);
    if (r == ERROR_MORE_DATA) continue;
    if (r != ERROR_SUCCESS) break;
    size_t len = std::strlen(sub);
    if (len < slen || strcasecmp(sub + len - slen, suffix) != 0) continue;
    PlatHKey product = nullptr;
    if (PlatRegOpenKey(root, sub, PLAT_KEY_READ, &product) != ERROR_SUCCESS) continue;
    for (uint32_t j = 0; found.empty(); ++j) {
      char name[256];
      uint32_t name_size = sizeof name;
      uint32_t type = 0;
      char data[1024];
      uint32_t data_size = sizeof data - 1;
      r = PlatRegEnumValue(product, j, name, &name_size, &type, data, &data_size);
      if (r == ERROR_MORE_DATA) continue;
      if (r != ERROR_SUCCESS) break;
      if (strcasecmp(name, "InstallDir") != 0 || (type != PLAT_REG_SZ && type != PLAT_REG_EXPAND_SZ)) continue;
      data[data_size < sizeof data ? data_size : sizeof data - 1] = '\0';
      std::string dir = data;
      if (dir.size() >= 2 && (dir[0] == '"' || dir[0] == '\'') && dir.back() == dir[0]) {
        std::vector<char> out(dir.size());
        int errors = 0;
        conv_line(out.data(), dir.substr(1, dir.size() - 2).c_str(), &errors);
        dir = out.data();
      }
      dir = WithoutTrailingSeparator(dir);
      if (IsDirectory(dir)) found = dir;
    }
    PlatRegCloseKey(product);
  }
  PlatRegCloseKey(root);
  return found;
}

// Appends <dir>/Bin/win, <dir>/Bin and <dir>/lib to PATH where missing.
void ExtendPath(const std::string& dir) {
  constexpr size_t kMaxPath = 32768;
  constexpr int kMaxEntries = 200;
  const char list_sep = ':';
  std::string path = PlatEnvGet("PATH") ? PlatEnvGet("PATH") : "";
  if (path.size() > kMaxPath) path.resize(kMaxPath);
  std::vector<std::string> entries;
  size_t start = 0;
  while (start <= path.size() && static_cast<int>(entries.size()) < kMaxEntries) {
    size_t end = path.find(list_sep, start);
    std::string e = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    entries.push_back(WithoutTrailingSeparator(e));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  bool changed = false;
  for (const char* sub : {"/Bin/win", "/Bin", "/lib"}) {
    std::string want = dir + sub;
    bool present = false;
    for (const std::string& e : entries) present = present || strcasecmp(e.c_str(), want.c_str()) == 0;
    if (present) continue;
    std::string next = path;
    if (!next.empty() && next.back() != list_sep) next += list_sep;
    next += want;
    if (next.size() >= kMaxPath) break;
    path = next;
    changed = true;
  }
  if (changed) RVSetEnv("PATH", path.c_str());
}

// Fixes one published directory: tool = environment, service = profile only.
void Publish(const char* name, const std::string& value) {
  if (g_rv.kind == RV_PROGRAM_TOOL) {
    RVSetEnv(name, value.c_str());
  } else {
    PlatEnvUnset(name);
    Store(g_rv.profile, name, Expanded(value.c_str()).c_str());
  }
}

void CreateDirectory(const std::string& dir) {
  std::string probe = dir + "/tmp.txt";
  uint32_t old = PlatSetUmask(0);
  RVMakeDirs(probe.c_str());
  PlatSetUmask(old);
}

void Discover() {
  if (g_rv.discovered) return;
  g_rv.discovered = true;

  // 1-2: error mode, empty installation list, the shell folders.
  PlatSetErrorMode();
  g_rv.install.clear();
  char folder[kPathBuffer];
  std::string appdata, common, documents;
  if (PlatSpecialFolder(PLAT_FOLDER_APPDATA, folder, sizeof folder) == 0) appdata = Normalized(std::string(folder) + "/TQ");
  if (PlatSpecialFolder(PLAT_FOLDER_COMMON_APPDATA, folder, sizeof folder) == 0) common = Normalized(std::string(folder) + "/TQ");
  if (PlatSpecialFolder(PLAT_FOLDER_DOCUMENTS, folder, sizeof folder) == 0) documents = Normalized(folder);

  // 3: the registry's installation directories.
  std::string reg_home = RegistryInstallDir("SOFTWARE\\TQ Software", "-win64");
  if (!reg_home.empty()) Store(g_rv.install, "HOME_TQ", reg_home.c_str());
  g_rv.install_dir32 = RegistryInstallDir("SOFTWARE\\Wow6432Node\\TQ Software", "-win32");

  // 4: HOME_TQ, TQ.INF.
  std::string home_tq;
  if (const char* env = PlatEnvGet("HOME_TQ"); env && *env) home_tq = env;
  else if (!reg_home.empty()) home_tq = reg_home;
  else if (PlatSpecialFolder(PLAT_FOLDER_PROGRAM_FILES, folder, sizeof folder) == 0) home_tq = std::string(folder) + "/TQ";
  else home_tq = "/TQ";
  home_tq = Normalized(home_tq);
  ReadInstallFile((home_tq + "/TQ.INF").c_str());
  Store(g_rv.profile, "HOME_TQ", Expanded(home_tq.c_str()).c_str());

  // 5: common application data falls back to HOME_TQ/share.
  if (common.empty()) common = home_tq + "/share";

  // 6: the base directory and the default directory settings.
  std::string base;
  if (const char* b = RVGetEnv("base_dir"); b && *b) base = b;
  else base = home_tq;
  base = WithoutTrailingSeparator(base);
  if (!IsDirectory(base)) base.clear();
  static const struct {
    const char* name; // setting
    const char* sub;  // default below the base directory
  } kDirs[] = {{"bin_dir", "/bin"},       {"etc_dir", "/etc"},       {"lib_dir", "/lib"},  {"system_dir", "/system"},
               {"serial_dir", "/serial"}, {"image_dir", "/images"}, {"tmp_dir", "/tmp"}};
  for (const auto& d : kDirs) {
    if (RVGetEnv(d.name)) continue;
    if (!base.empty()) Store(g_rv.profile, d.name, (base + d.sub).c_str());
  }

  // 7: the profile.
  LoadProfile();

  // 8: the config_fn file.
  std::string config;
  bool store_config = false;
  if (const char* c = ProfileOrEnvironment("config_fn")) config = c;
  else if (RVSetting* s = Find(g_rv.install, "config_fn")) config = s->value;
  else if (const char* x = PlatEnvGet("XLCONFIG")) config = x, store_config = true;
  else if (!base.empty()) {
    PlatFileInfo info;
    std::string cnf = base + "/TQ.CNF";
    if (PlatFileStat(cnf.c_str(), &info) == 0 && !info.is_dir) config = cnf, store_config = true;
  }
  if (!config.empty()) {
    if (store_config) Store(g_rv.profile, "config_fn", config.c_str());
    ReadInstallFile(config.c_str());
  }

  // 9: the directories.
  std::string last_resort = base.empty() ? std::string(".") : base + "/tmp";
  std::string rv_home = base.empty() ? std::string(".") : base;
  std::string rv_common = common.empty() ? last_resort : common;
  std::string rv_appdata = appdata.empty() ? last_resort : appdata;
  std::string rv_documents = documents.empty() ? last_resort : documents;
  std::string rv_images;
  if (const char* img = RVGetEnv("image_dir")) rv_images = img;
  else rv_images = base.empty() ? std::string(".") : base + "/images";
  std::string rv_temp;
  if (const char* t = PlatEnvGet("RV_TEMP"); t && *t) {
    char buf[kPathBuffer];
    RVExpand(t, buf, sizeof buf);
    rv_temp = buf;
  } else if (const char* td = RVGetEnv("tmp_dir")) {
    rv_temp = td;
  } else {
    rv_temp = last_resort;
  }
  std::string rv_climages = rv_common + "/images";
  char scratch[kPathBuffer + 16];
  std::snprintf(scratch, sizeof scratch, "%s/s_%08lx", rv_appdata.c_str(), static_cast<unsigned long>(PlatProcessId()));
  g_rv.scratch_name = scratch;
  if (const char* dt = RVGetEnv("datetype")) {
    if (strcasecmp(dt, "EUROPEAN") == 0) g_rv.date_european = true;
    else if (strcasecmp(dt, "AMERICAN") == 0) g_rv.date_european = false;
  }

  // 10: publish.
  Publish("RV_COMMONAPPDATA", rv_common);
  Publish("RV_APPDATA", rv_appdata);
  Publish("RV_DOCUMENTS", rv_documents);
  Publish("RV_TEMP", rv_temp);
  Publish("RV_HOME", rv_home);
  Publish("RV_IMAGES", rv_images);
  Publish("RV_CLIMAGES", rv_climages);
  if (g_rv.kind == RV_PROGRAM_TOOL) {
    ExtendPath(rv_home);
    if (!g_rv.install_dir32.empty()) ExtendPath(Normalized(g_rv.install_dir32));
  }

  // 11: directories.
  if (g_rv.kind == RV_PROGRAM_TOOL) {
    CreateDirectory(rv_appdata);
    CreateDirectory(rv_documents);
  }
  CreateDirectory(rv_common);
  CreateDirectory(rv_temp);

  // 12: the runtime mutexes.
  RVMutex* local = RVMutexAlloc();
  if (RVMutexCreate(local, nullptr) == 0) {
    g_rv.local_mutex = local;
  } else {
    RVPrintError("Error Allocating RV Local Mutex");
    RVMutexFree(local);
  }
  RVMutex* global = RVMutexAlloc();
  global->flags |= RV_MUTEX_AUTHUSER;
  std::string name = "Global\\" + Normalized(rv_home) + "/_TQ_Glbl_Mtx_";
  if (RVMutexCreate(global, name.c_str()) == 0) {
    g_rv.global_mutex = global;
  } else {
    RVPrintError("Error Allocating RV Global Mutex");
    RVMutexFree(global);
  }
}

bool IsUrlPrefixed(const char* path) { return RVIsUrl(path) != 0; }

// Discovery and the profile run at the latest on the first lookup.
void EnsureDiscovered() {
  if (g_rv.discovered) return;
  LoadProfile();
  Discover();
}

}  // namespace

void RVSetProgramKind(RVProgramKind kind) { g_rv.kind = kind; }

void RVInit(const char* program_path) {
  EnsureDiscovered();
  if (program_path) {
    const char* p = program_path;
    if (std::isupper(static_cast<unsigned char>(p[0])) && p[1] == ':') p += 2;
    const char* base = p;
    for (const char* q = p; *q; ++q)
      if (*q == '/' || *q == '\\') base = q + 1;
    g_rv.program_name = base;
  }
}

const char* RVGetEnv(const char* name) {
  if (!name || !*name) return nullptr;
  EnsureDiscovered();
  if (const char* v = ProfileOrEnvironment(name)) return v;
  if (RVSetting* s = Find(g_rv.install, name)) return s->value.c_str();
  return LegacyLookup(name);
}

const char* RVGetInstallSetting(const char* name) {
  if (!name) return nullptr;
  EnsureDiscovered();
  RVSetting* s = Find(g_rv.install, name);
  return s ? s->value.c_str() : nullptr;
}

const char* RVGetSystemSetting(const char* name) {
  if (!name) return nullptr;
  EnsureDiscovered();
  if (const char* v = ProfileOrEnvironment(name)) return v;
  if (RVSetting* s = Find(g_rv.install, name)) return s->value.c_str();
  if (strcasecmp(name, "XLSYSTEM") == 0) return RVGetEnv("system_dir");
  return nullptr;
}

void RVSetEnv(const char* name, const char* text) {
  if (!name || !*name) return;
  std::string value = Expanded(text);
  const char* current = PlatEnvGet(name);
  bool had = current != nullptr;
  if ((current && value != current) || (!current && text)) {
    if (text && *text) PlatEnvSet(name, value.c_str());
    else PlatEnvUnset(name);
  }
  if (had || text) Store(g_rv.profile, name, value.c_str());
  if (std::strcmp(name, "RV_UMASK") == 0) PlatSetUmask(static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 0)));
}

void RVSetProfileValue(const char* name, const char* value) {
  if (name && *name) Store(g_rv.profile, name, value);
}

size_t RVExpand(const char* text, char* out, size_t size) {
  if (!out || size == 0) return 0;
  size_t n = 0;
  auto put = [&](char c) {
    if (n + 1 < size) out[n++] = c;
  };
  const char* p = text ? text : "";
  while (*p && n + 1 < size) {
    if (p[0] == '$' && p[1] == '{') {
      const char* close = std::strchr(p + 2, '}');
      if (close && close > p + 2) {
        std::string name(p + 2, static_cast<size_t>(close - (p + 2)));
        if (name.size() > kMaxRefName) name.resize(kMaxRefName);
        if (const char* v = RVGetEnv(name.c_str()))
          for (const char* q = v; *q; ++q) put(*q);
        p = close + 1;
        continue;
      }
    }
    put(*p++);
  }
  out[n] = '\0';
  return n;
}

void RVNormalizePath(char* path) {
  if (!path) return;
  for (char* p = path; *p; ++p)
    if (*p == '\\') *p = '/';
  bool keep_first = IsUrlPrefixed(path);
  size_t len = std::strlen(path);
  size_t i = 3;
  while (i + 1 < len) {
    if (path[i] == '/' && path[i + 1] == '/') {
      if (keep_first) {
        keep_first = false;
        i += 2;
        continue;
      }
      std::memmove(path + i + 1, path + i + 2, len - (i + 1));
      --len;
      continue;
    }
    ++i;
  }
}

int conv_line(char* out, const char* in, int* errors) {
  const char* p = in;
  char* o = out;
  while (*p) {
    char c = *p;
    if (c == '\\') {
      char e = p[1];
      if (!e) {
        RVReportWarning("Warning: Unescaped '\\' in conv_line()");
        if (errors) ++*errors;
        *o++ = c;
        ++p;
        break;
      }
      char r;
      switch (e) {
        case 'E': case 'e': r = 27; break;
        case 'A': case 'a': r = 7; break;
        case 'B': case 'b': r = 8; break;
        case 'F': r = 12; break;
        case 'N': case 'n': r = '\n'; break;
        case 'R': case 'r': r = '\r'; break;
        case 'T': case 't': r = '\t'; break;
        case 'V': case 'v': r = 11; break;
        default: r = e; break;
      }
      *o++ = r;
      p += 2;
    } else if (c == '^') {
      unsigned char e = static_cast<unsigned char>(p[1]);
      if (!e) {
        RVReportWarning("Warning: Unescaped '^' in conv_line()");
        if (errors) ++*errors;
        *o++ = c;
        ++p;
        break;
      }
      if ((e >= 64 && e <= 'Z') || (e >= 'a' && e <= 'z')) {
        *o++ = static_cast<char>(e & 0x1F);
        p += 2;
      } else {
        RVReportWarning("Warning: Invalid <ctrl> char ^%c in conv_line()", e);
        RVReportWarning("Try escaping the '^' with a '\\'");
        if (errors) ++*errors;
        *o++ = c;
        ++p;
      }
    } else {
      *o++ = c;
      ++p;
    }
  }
  *o = '\0';
  return static_cast<int>(p - in);
}

const char* RVProgramName() { return g_rv.program_name.empty() ? nullptr : g_rv.program_name.c_str(); }

const char* RVScratchName() { return g_rv.scratch_name.empty() ? nullptr : g_rv.scratch_name.c_str(); }

const char* RVInstallDir32() { return g_rv.install_dir32.empty() ? nullptr : g_rv.install_dir32.c_str(); }

int RVDateEuropean() { return g_rv.date_european ? 1 : 0; }

RVMutex* RVGlobalMutex() { return g_rv.global_mutex; }

RVMutex* RVLocalMutex() { return g_rv.local_mutex; }

void RVResetForTest() {
  if (g_rv.global_mutex) RVMutexFree(g_rv.global_mutex);
  if (g_rv.local_mutex) RVMutexFree(g_rv.local_mutex);
  RVProgramKind kind = g_rv.kind;
  g_rv.discovered = false;
  g_rv.profile_loaded = false;
  g_rv.profile.clear();
  g_rv.install.clear();
  g_rv.program_name.clear();
  g_rv.scratch_name.clear();
  g_rv.install_dir32.clear();
  g_rv.date_european = false;
  g_rv.global_mutex = nullptr;
  g_rv.local_mutex = nullptr;
  g_rv.kind = kind;
}
