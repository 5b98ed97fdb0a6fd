// Platform utilities: security descriptor, version names, directory
// creation, tokenizer, URL test, path status, user name.
#include "runtime/util.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <strings.h>
#include <vector>

#include "platform/error.h"
#include "platform/event.h"
#include "platform/registry.h"
#include "runtime/env.h"
#include "runtime/print.h"
#include "runtime/report.h"

namespace {

// Size of the path buffer of directory creation (MAX_PATH).
constexpr size_t kMakeDirsBuffer = 260;

// Longest user name kept.
constexpr size_t kUserNameMax = 128;

// Caches filled on first use by the main thread.
struct RVUtilCache {
  bool system_sid_built;  // local_system holds the LocalSystem identifier
  PlatSid local_system;   // S-1-5-18, built once and kept
  bool facts_read;        // facts holds the version facts
  PlatOsFacts facts;      // the host's version facts
  const char* os_name;    // the computed name, or null
  bool user_asked;        // user_name was asked for
  char user_name[kUserNameMax + 1]; // the user name, empty when unknown
};

RVUtilCache g_cache = {};

const char* const kUrlPrefixes[] = {"http://", "https://", "file://",   "ftp://",
                                    "gopher://", "telnet://", "news://", "wais://"};

bool IsDirSeparator(char c) { return c == '/' || c == '\\'; }

}  // namespace

int RVAuthUserSecDesc(PlatSecurityDescriptor* desc) {
  if (!g_cache.system_sid_built) {
    if (PlatAllocateSid(PLAT_SID_LOCAL_SYSTEM, &g_cache.local_system) != 0) {
      RVPrintError("RVAuthUserSecDesc() - AddAccessAllowedAceEx(LocalSystem) Error: %d",
                   static_cast<int>(PlatGetLastError()));
      return -1;
    }
    g_cache.system_sid_built = true;
  }
  PlatSid admin{}, auth{};
  if (PlatAllocateSid(PLAT_SID_ADMINISTRATORS, &admin) != 0) {
    RVPrintError("RVAuthUserSecDesc() - Cant get Administrator Sid");
    return -1;
  }
  if (PlatAllocateSid(PLAT_SID_AUTHENTICATED_USERS, &auth) != 0) {
    RVPrintError("RVAuthUserSecDesc() - Cant get AuthUser Sid");
    PlatFreeSid(&admin);
    return -1;
  }
  int rc = -1;
  PlatAcl acl;
  if (PlatInitSecurityDescriptor(desc) != 0) {
    RVPrintError("InitializeSecurityDescriptor Error: %d", static_cast<int>(PlatGetLastError()));
  } else if (PlatInitAcl(&acl, 300, 2) != 0) {
    RVPrintError("InitializeAcl Error: %d", static_cast<int>(PlatGetLastError()));
  } else if (PlatAddAccessAllowed(&acl, &g_cache.local_system) != 0) {
    RVPrintError("RVAuthUserSecDesc() - AddAccessAllowedAceEx(LocalSystem) Error: %d",
                 static_cast<int>(PlatGetLastError()));
  } else if (PlatAddAccessAllowed(&acl, &admin) != 0) {
    RVPrintError("RVAuthUserSecDesc() - AddAccessAllowedAceEx(Admin) Error: %d", static_cast<int>(PlatGetLastError()));
  } else if (PlatAddAccessAllowed(&acl, &auth) != 0) {
    RVPrintError("RVAuthUserSecDesc() - AddAccessAllowedAceEx(AuthUser) Error: %d",
                 static_cast<int>(PlatGetLastError()));
  } else if (PlatSetSecurityDescriptorAcl(desc, &acl) != 0) {
    RVPrintError("RVAuthUserSecDesc() - SetSecurityDescriptorDacl Error: %d", static_cast<int>(PlatGetLastError()));
  } else {
    rc = 0;
  }
  PlatFreeSid(&admin);
  PlatFreeSid(&auth);
  return rc;
}

namespace {

// Where the machine's registry keeps the version facts, with the names
// Windows gives them there.
constexpr char kVersionKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
constexpr char kMajorValue[] = "CurrentMajorVersionNumber"; // REG_DWORD
constexpr char kMinorValue[] = "CurrentMinorVersionNumber"; // REG_DWORD
constexpr char kBuildValue[] = "CurrentBuildNumber";        // REG_SZ, decimal digits
constexpr char kTypeValue[] = "InstallationType";           // REG_SZ, "Client" or a server kind

// Reads REG_DWORD `name` of `key` into `*out`; a missing value keeps it, a
// value of another type or size keeps it and is reported.
void ReadDwordFact(PlatHKey key, const char* name, uint32_t* out) {
  uint32_t type = 0, value = 0, size = sizeof value;
  uint32_t rc = PlatRegQueryValue(key, name, &type, &value, &size);
  if (rc == ERROR_FILE_NOT_FOUND) return;
  if (rc == ERROR_SUCCESS && type == PLAT_REG_DWORD && size == sizeof value) {
    *out = value;
    return;
  }
  RVReportWarning("Version fact %s is not a REG_DWORD - using %u", name, static_cast<unsigned>(*out));
}

// Reads REG_SZ `name` of `key` into `text` (`size` bytes): 1 when read, 0
// when missing, -1 when of another type or too long (reported by the caller).
int ReadTextFact(PlatHKey key, const char* name, char* text, uint32_t size) {
  uint32_t type = 0, got = size - 1;
  uint32_t rc = PlatRegQueryValue(key, name, &type, text, &got);
  if (rc == ERROR_FILE_NOT_FOUND) return 0;
  if (rc != ERROR_SUCCESS || type != PLAT_REG_SZ) return -1;
  text[got < size ? got : size - 1] = '\0';
  return 1;
}

}  // namespace

void RVReadOsFacts(PlatOsFacts* f) {
  *f = PlatOsFacts{2, kRVOsDefaultMajor, kRVOsDefaultMinor, 1, kRVOsDefaultBuild};
  PlatHKey key = nullptr;
  if (PlatRegOpenKey(PLAT_HKEY_LOCAL_MACHINE, kVersionKey, PLAT_KEY_READ, &key) != ERROR_SUCCESS) return;
  ReadDwordFact(key, kMajorValue, &f->major);
  ReadDwordFact(key, kMinorValue, &f->minor);
  char text[64];
  int r = ReadTextFact(key, kBuildValue, text, sizeof text);
  if (r > 0) {
    char* end = nullptr;
    errno = 0;
    unsigned long build = std::strtoul(text, &end, 10);
    if (text[0] >= '0' && text[0] <= '9' && *end == '\0' && errno == 0 && build <= UINT32_MAX)
      f->build = static_cast<uint32_t>(build);
    else
      r = -1;
  }
  if (r < 0) RVReportWarning("Version fact %s is not a REG_SZ build number - using %u", kBuildValue,
                             static_cast<unsigned>(f->build));
  r = ReadTextFact(key, kTypeValue, text, sizeof text);
  if (r > 0) {
    if (strcasecmp(text, "Client") == 0) f->product_type = 1;
    else if (strcasecmp(text, "Server") == 0 || strcasecmp(text, "Server Core") == 0 ||
             strcasecmp(text, "Nano Server") == 0)
      f->product_type = 3;
    else
      r = -1;
  }
  if (r < 0) RVReportWarning("Version fact %s is not Client, Server, Server Core or Nano Server - using Client",
                             kTypeValue);
  PlatRegCloseKey(key);
}

const PlatOsFacts* RVOsVersion() {
  if (!g_cache.facts_read) {
    g_cache.facts_read = true;
    PlatOsFacts f{};
    RVReadOsFacts(&f);
    if (f.platform != 1 && f.platform != 2) {
      RVPrintError("PlatformID: %ld", static_cast<long>(f.platform));
      f.platform = 1;
    }
    g_cache.facts = f;
  }
  return &g_cache.facts;
}

const char* RVOsNameFor(const PlatOsFacts* f) {
  bool workstation = f->product_type == 1;
  if (f->platform == 1) {
    if (f->minor == 0) return "WINDOWS-95";
    if (f->minor < 90) return "WINDOWS-98";
    return "WINDOWS-ME";
  }
  switch (f->major) {
    case 5:
      switch (f->minor) {
        case 0: return "WINDOWS-2000";
        case 1: return "WINDOWS-XP";
        case 2: return "WINDOWS-2003";
        default: return "WINDOWS-UNKNOWN";
      }
    case 6:
      if (f->minor == 0) return workstation ? "WINDOWS-VISTA" : "WINDOWS-SERVER-2008";
      if (f->minor == 1) return workstation ? "WINDOWS-7" : "WINDOWS-SERVER-2008";
      if (f->minor <= 3) return workstation ? "WINDOWS-8" : "WINDOWS-SERVER-2012";
      return workstation ? "WINDOWS-WORKSTATION-?" : "WINDOWS-SERVER-?";
    case 10:
      if (!workstation) return "WINDOWS-SERVER-2016";
      return f->build >= 22000 ? "WINDOWS-11" : "WINDOWS-10";
    default:
      return "WINDOWS-NT";
  }
}

const char* RVOsName() {
  if (!g_cache.os_name) {
    const PlatOsFacts* f = RVOsVersion();
    g_cache.os_name = RVOsNameFor(f);
    if (std::strcmp(g_cache.os_name, "WINDOWS-UNKNOWN") == 0) {
      RVReportWarning("Unknown Windows OS - OSMajorVer: %d, OSMinorVer: %d", static_cast<int>(f->major),
                      static_cast<int>(f->minor));
      RVReportWarning("Platform: %d Product: %d", static_cast<int>(f->platform), static_cast<int>(f->product_type));
    }
  }
  return g_cache.os_name;
}

int RVMakeDirs(const char* path) {
  if (!path || !*path) return -1;
  if (std::strchr(path, '!')) {
    bool known = false;
    for (const char* setting : {"RV_APPDATA", "RV_DOCUMENTS", "RV_HOME", "RV_COMMONAPPDATA"}) {
      const char* dir = RVGetEnv(setting);
      if (dir && *dir && std::strncmp(path, dir, std::strlen(dir)) == 0) known = true;
    }
    if (!known) return 0;
  }
  // A path that does not fit the buffer is refused, never cut and created.
  std::vector<char> wide(4096);
  size_t len = RVExpand(path, wide.data(), wide.size());
  if (len >= kMakeDirsBuffer) {
    RVPrintError("Cannot Create Directory: %s - errno: %d, GetLastError: %d", path, ENAMETOOLONG,
                 static_cast<int>(ERROR_FILENAME_EXCED_RANGE));
    return -1;
  }
  char buf[kMakeDirsBuffer];
  std::memcpy(buf, wide.data(), len + 1);
  RVNormalizePath(buf);

  // Collect the missing prefixes, innermost first.
  std::vector<std::string> missing;
  std::string p(buf);
  size_t slash = p.find_last_of('/');
  while (slash != std::string::npos && slash > 0) {
    std::string prefix = p.substr(0, slash);
    bool drive = prefix.size() == 2 && prefix[1] == ':';
    if (drive) break;
    PlatFileInfo info;
    if (PlatFileStat(prefix.c_str(), &info) == 0) {
      if (!info.is_dir) return -1;
      break;
    }
    uint32_t err = PlatGetLastError();
    if (err != ERROR_FILE_NOT_FOUND && err != ERROR_PATH_NOT_FOUND) return -1;
    missing.push_back(prefix);
    slash = prefix.find_last_of('/');
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (PlatMakeDir(it->c_str(), 0755) != 0 && PlatGetLastError() != ERROR_ALREADY_EXISTS) {
      RVPrintError("Cannot Create Directory: %s - errno: %d, GetLastError: %d", it->c_str(), errno,
                   static_cast<int>(PlatGetLastError()));
      return -1;
    }
  }
  return 0;
}

uint32_t RVWaitMs(int64_t seconds, uint32_t second_ms) {
  constexpr uint64_t kLongest = PLAT_INFINITE - 1;
  if (seconds <= 0 || second_ms == 0) return 0;
  // Both factors are below 2^32 once capped, so the product fits 64 bits.
  uint64_t s = static_cast<uint64_t>(seconds) > kLongest ? kLongest : static_cast<uint64_t>(seconds);
  uint64_t ms = s * second_ms;
  return static_cast<uint32_t>(ms > kLongest ? kLongest : ms);
}

uint32_t RVSecondMs() {
  const char* v = PlatEnvGet("TQ_TEST_SECOND_MS");
  if (!v || !*v) return 1000;
  long ms = std::strtol(v, nullptr, 10);
  return ms >= 1 && ms <= 1000 ? static_cast<uint32_t>(ms) : 1000;
}

int RVTokenize(char* text, char** tokens, int size, const char* separators) {
  if (!tokens || size <= 0) return 0;
  const char* seps = separators ? separators : ";\t\r\n";
  auto is_sep = [seps](char c) { return c != '\0' && std::strchr(seps, c) != nullptr; };
  int count = 0;
  char* p = text;
  if (p) {
    while (count < size - 1) {
      while (is_sep(*p)) ++p;
      if (!*p) break;
      if (*p == '"' || *p == '\'') {
        char quote = *p++;
        tokens[count++] = p;
        while (*p && *p != quote) ++p;
        if (*p) *p++ = '\0';
        if (is_sep(*p)) ++p;
        continue;
      }
      tokens[count++] = p;
      char in_quote = 0;
      while (*p) {
        if (in_quote) {
          if (*p == in_quote) in_quote = 0;
        } else if (*p == '"' || *p == '\'') {
          in_quote = *p;
        } else if (is_sep(*p)) {
          break;
        }
        ++p;
      }
      if (*p) *p++ = '\0';
    }
  }
  tokens[count] = nullptr;
  return count;
}

int RVIsUrl(const char* text) {
  if (!text) return 0;
  size_t len = std::strlen(text);
  for (const char* prefix : kUrlPrefixes) {
    size_t plen = std::strlen(prefix);
    if (len > plen && strncasecmp(text, prefix, plen) == 0) return 1;
  }
  return 0;
}

int RVStatPath(const char* dir, const char* name, PlatFileInfo* info) {
  if (!name) return -1;
  bool absolute = IsDirSeparator(name[0]) || (name[0] && name[1] == ':' && IsDirSeparator(name[2]));
  std::string path = dir && *dir && !absolute ? std::string(dir) + "/" + name : std::string(name);
  std::vector<char> buf(path.begin(), path.end());
  buf.push_back('\0');
  RVNormalizePath(buf.data());
  PlatFileInfo local;
  return PlatFileStat(buf.data(), info ? info : &local) == 0 ? 0 : -1;
}

const char* RVUserName() {
  if (!g_cache.user_asked) {
    g_cache.user_asked = true;
    if (PlatUserName(g_cache.user_name, sizeof g_cache.user_name) != 0) g_cache.user_name[0] = '\0';
  }
  return g_cache.user_name[0] ? g_cache.user_name : nullptr;
}
