// tqreg: the administrator's command over the machine registry.
//
//   tqreg query  KEY [/v NAME | /ve] [/s]
//   tqreg add    KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]
//   tqreg delete KEY [/v NAME | /ve | /va] [/f]
//   tqreg import FILE
//   tqreg export KEY FILE [/y]
//
// KEY is HKLM\... or HKEY_LOCAL_MACHINE\... (HKLM alone for the root).
// Exit code 0 on success, 1 on failure; errors are one line on stderr.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/file.h"
#include "platform/registry.h"

namespace {

constexpr const char kUsage[] =
    "Usage:\n"
    "  tqreg query  KEY [/v NAME | /ve] [/s]\n"
    "  tqreg add    KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]\n"
    "  tqreg delete KEY [/v NAME | /ve | /va] [/f]\n"
    "  tqreg import FILE\n"
    "  tqreg export KEY FILE [/y]\n"
    "\n"
    "  KEY    HKLM\\SUBKEY or HKEY_LOCAL_MACHINE\\SUBKEY (HKLM alone: the root)\n"
    "  /v     the value NAME          /ve  the default value (no name)\n"
    "  /va    every value of KEY      /s   KEY and all its subkeys\n"
    "  /t     REG_SZ (default), REG_EXPAND_SZ, REG_DWORD or REG_BINARY\n"
    "  /d     the data: text, a number (decimal or 0x hex) or hex bytes\n"
    "  /f     no question before overwriting or deleting\n"
    "  /y     overwrite FILE without a question\n";

constexpr const char kNotFound[] = "ERROR: The system was unable to find the specified registry key or value.\n";
constexpr const char kSuccess[] = "The operation completed successfully.\n";
// Longest value name, and the name buffer that holds it.
constexpr uint32_t kNameBuffer = 16384;

// A parsed command line.
struct RegArgs {
  std::string command;  // query, add, delete, import, export (lower case)
  std::string key_arg;  // KEY as given
  std::string key;      // path below HKEY_LOCAL_MACHINE ("" = the root)
  std::string shown;    // the key as printed ("HKEY_LOCAL_MACHINE\\...")
  std::string file;     // import or export file
  std::string value;    // /v NAME
  int has_value;        // 1 with /v or /ve
  int all_values;       // 1 with /va
  int recurse;          // 1 with /s
  std::string type;     // /t TYPE (upper case); "" = REG_SZ
  std::string data;     // /d DATA
  int has_data;         // 1 with /d
  int force;            // 1 with /f or /y
};

int Usage() {
  std::fputs("ERROR: Invalid syntax.\n", stderr);
  std::fputs(kUsage, stderr);
  return 1;
}

int Error(uint32_t code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_KEY_DELETED: std::fputs(kNotFound, stderr); break;
    case ERROR_ACCESS_DENIED: std::fputs("ERROR: Access is denied.\n", stderr); break;
    case ERROR_INVALID_PARAMETER: std::fputs("ERROR: Invalid key or value name.\n", stderr); break;
    default: std::fprintf(stderr, "ERROR: The registry operation failed (error %u).\n", code); break;
  }
  return 1;
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

// Splits KEY into the path below the root; false for another root.
bool ParseKey(const std::string& key, RegArgs* a) {
  size_t slash = key.find_first_of("\\/");
  std::string root = Upper(key.substr(0, slash));
  if (root != "HKLM" && root != "HKEY_LOCAL_MACHINE") return false;
  a->key = slash == std::string::npos ? "" : key.substr(slash + 1);
  while (!a->key.empty() && (a->key.back() == '\\' || a->key.back() == '/')) a->key.pop_back();
  a->shown = "HKEY_LOCAL_MACHINE";
  if (!a->key.empty()) a->shown += "\\" + a->key;
  for (char& c : a->shown)
    if (c == '/') c = '\\';
  return true;
}

// True for the option words (after their '/' or '-').
bool IsOption(const std::string& opt) {
  for (const char* o : {"v", "ve", "va", "s", "t", "d", "f", "y"})
    if (opt == o) return true;
  return false;
}

// Parses argv; false for bad syntax.
bool ParseArgs(int argc, char** argv, RegArgs* a) {
  *a = RegArgs{};
  if (argc < 2) return false;
  a->command = Lower(argv[1]);
  std::vector<std::string> plain;
  for (int i = 2; i < argc; i++) {
    std::string arg = argv[i];
    std::string opt = arg.size() >= 2 && (arg[0] == '/' || arg[0] == '-') ? Lower(arg.substr(1)) : "";
    if (!IsOption(opt)) {  // a key or a file, which may start with '/'
      plain.push_back(arg);
      continue;
    }
    if (opt == "v" && i + 1 < argc && !a->has_value) {
      a->value = argv[++i];
      a->has_value = 1;
    } else if (opt == "ve" && !a->has_value) {
      a->has_value = 1;
    } else if (opt == "va" && a->command == "delete") {
      a->all_values = 1;
    } else if (opt == "s" && a->command == "query") {
      a->recurse = 1;
    } else if (opt == "t" && i + 1 < argc && a->command == "add") {
      a->type = Upper(argv[++i]);
    } else if (opt == "d" && i + 1 < argc && a->command == "add") {
      a->data = argv[++i];
      a->has_data = 1;
    } else if ((opt == "f" && (a->command == "add" || a->command == "delete")) ||
               (opt == "y" && a->command == "export")) {
      a->force = 1;
    } else {
      return false;
    }
  }
  if (a->has_value && a->all_values) return false;
  if (a->command == "import") {
    if (plain.size() != 1 || a->has_value) return false;
    a->file = plain[0];
    return true;
  }
  if (a->command == "export") {
    if (plain.size() != 2 || a->has_value) return false;
    a->file = plain[1];
  } else if (a->command == "query" || a->command == "add" || a->command == "delete") {
    if (plain.size() != 1) return false;
  } else {
    return false;
  }
  a->key_arg = plain[0];
  return true;
}

// Asks a yes/no question on the terminal; true for yes.
bool Confirm(const std::string& question) {
  std::printf("%s (Yes/No)? ", question.c_str());
  std::fflush(stdout);
  char line[64];
  if (!std::fgets(line, sizeof line, stdin)) {
    std::putchar('\n');
    return false;
  }
  return line[0] == 'y' || line[0] == 'Y';
}

const char* TypeName(uint32_t type) {
  switch (type) {
    case PLAT_REG_NONE: return "REG_NONE";
    case PLAT_REG_SZ: return "REG_SZ";
    case PLAT_REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case PLAT_REG_BINARY: return "REG_BINARY";
    case PLAT_REG_DWORD: return "REG_DWORD";
    case 5: return "REG_DWORD_BIG_ENDIAN";
    case 7: return "REG_MULTI_SZ";
    case 11: return "REG_QWORD";
    default: return nullptr;
  }
}

// Prints one value line: "    Name    TYPE    data".
void PrintValue(const std::string& name, uint32_t type, const std::string& data) {
  std::string shown;
  char buf[40];
  const char* tname = TypeName(type);
  if (type == PLAT_REG_SZ || type == PLAT_REG_EXPAND_SZ) {
    shown = data.substr(0, data.find('\0'));
  } else if (type == PLAT_REG_DWORD && data.size() == 4) {
    uint32_t n = 0;
    for (int i = 3; i >= 0; i--) n = (n << 8) | static_cast<unsigned char>(data[static_cast<size_t>(i)]);
    std::snprintf(buf, sizeof buf, "0x%x", static_cast<unsigned>(n));
    shown = buf;
  } else if (type == 7) {
    std::string s = data;
    while (!s.empty() && s.back() == '\0') s.pop_back();
    for (char& c : s)
      if (c == '\0') c = '\n';
    size_t at;
    while ((at = s.find('\n')) != std::string::npos) s.replace(at, 1, "\\0");
    shown = s;
  } else {
    for (unsigned char c : data) {
      std::snprintf(buf, sizeof buf, "%02X", c);
      shown += buf;
    }
  }
  if (tname) {
    std::printf("    %s    %s    %s\n", name.empty() ? "(Default)" : name.c_str(), tname, shown.c_str());
  } else {
    std::snprintf(buf, sizeof buf, "REG_0x%X", static_cast<unsigned>(type));
    std::printf("    %s    %s    %s\n", name.empty() ? "(Default)" : name.c_str(), buf, shown.c_str());
  }
}

// Reads the named value; ERROR_SUCCESS with its type and data.
uint32_t ReadValue(PlatHKey key, const char* name, uint32_t* type, std::string* data) {
  for (;;) {
    uint32_t size = 0;
    uint32_t r = PlatRegQueryValue(key, name, type, nullptr, &size);
    if (r != ERROR_SUCCESS) return r;
    data->assign(size, '\0');
    r = PlatRegQueryValue(key, name, type, data->data(), &size);
    if (r == ERROR_MORE_DATA) continue;  // changed in between
    data->resize(size);
    return r;
  }
}

// Prints every value of `key`; ERROR_SUCCESS or the failure.
uint32_t PrintValues(PlatHKey key) {
  std::vector<char> name(kNameBuffer);
  for (uint32_t i = 0;; i++) {
    uint32_t nsize = kNameBuffer, type = 0, dsize = 0;
    uint32_t r = PlatRegEnumValue(key, i, name.data(), &nsize, &type, nullptr, &dsize);
    if (r == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (r != ERROR_SUCCESS) return r;
    std::string data(dsize, '\0');
    nsize = kNameBuffer;
    r = PlatRegEnumValue(key, i, name.data(), &nsize, &type, data.data(), &dsize);
    if (r == ERROR_MORE_DATA) {  // grew in between: ask again
      i--;
      continue;
    }
    if (r != ERROR_SUCCESS) return r;
    data.resize(dsize);
    PrintValue(std::string(name.data(), nsize), type, data);
  }
}

// Names of the direct subkeys of `key`.
uint32_t SubkeyNames(PlatHKey key, std::vector<std::string>* names) {
  names->clear();
  char name[256];
  for (uint32_t i = 0;; i++) {
    uint32_t size = sizeof name;
    uint32_t r = PlatRegEnumKey(key, i, name, &size);
    if (r == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (r != ERROR_SUCCESS) return r;
    names->push_back(std::string(name, size));
  }
}

// Prints `key` with its values, and with /s everything below it.
uint32_t QueryKey(PlatHKey key, const std::string& shown, const RegArgs& a, int* matches) {
  std::vector<std::string> subs;
  uint32_t r;
  if (a.has_value) {
    uint32_t type = 0;
    std::string data;
    r = ReadValue(key, a.value.c_str(), &type, &data);
    if (r == ERROR_SUCCESS) {
      std::printf("%s\n", shown.c_str());
      PrintValue(a.value, type, data);
      std::printf("\n");
      (*matches)++;
    } else if (r != ERROR_FILE_NOT_FOUND) {
      return r;
    }
  } else {
    std::printf("%s\n", shown.c_str());
    if ((r = PrintValues(key)) != ERROR_SUCCESS) return r;
    std::printf("\n");
  }
  if ((r = SubkeyNames(key, &subs)) != ERROR_SUCCESS) return r;
  for (const std::string& sub : subs) {
    std::string path = shown + "\\" + sub;
    if (!a.recurse) {
      if (!a.has_value) std::printf("%s\n", path.c_str());
      continue;
    }
    PlatHKey child = nullptr;
    r = PlatRegOpenKey(key, sub.c_str(), PLAT_KEY_READ, &child);
    if (r == ERROR_FILE_NOT_FOUND) continue;  // deleted meanwhile
    if (r != ERROR_SUCCESS) return r;
    r = QueryKey(child, path, a, matches);
    PlatRegCloseKey(child);
    if (r != ERROR_SUCCESS) return r;
  }
  return ERROR_SUCCESS;
}

int Query(const RegArgs& a) {
  PlatHKey key = nullptr;
  uint32_t r = PlatRegOpenKey(PLAT_HKEY_LOCAL_MACHINE, a.key.c_str(), PLAT_KEY_READ, &key);
  if (r != ERROR_SUCCESS) return Error(r);
  int matches = 0;
  std::printf("\n");
  r = QueryKey(key, a.shown, a, &matches);
  PlatRegCloseKey(key);
  if (r != ERROR_SUCCESS) return Error(r);
  if (a.has_value && matches == 0) return Error(ERROR_FILE_NOT_FOUND);
  if (a.has_value && a.recurse) std::printf("End of search: %d match(es) found.\n", matches);
  return 0;
}

// Turns /t and /d into a type and data; false (with the message printed)
// when they do not fit.
bool ParseData(const RegArgs& a, uint32_t* type, std::string* data) {
  std::string t = a.type.empty() ? "REG_SZ" : a.type;
  if (t == "REG_SZ" || t == "REG_EXPAND_SZ") {
    *type = t == "REG_SZ" ? PLAT_REG_SZ : PLAT_REG_EXPAND_SZ;
    *data = a.data;
    data->push_back('\0');
    return true;
  }
  if (t == "REG_DWORD") {
    *type = PLAT_REG_DWORD;
    const char* s = a.has_data ? a.data.c_str() : "0";
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(s, &end, 0);
    if (*s == '\0' || *s == '-' || *end != '\0' || errno != 0 || v > 0xFFFFFFFFull) {
      std::fprintf(stderr, "ERROR: Invalid data for REG_DWORD: \"%s\".\n", a.data.c_str());
      return false;
    }
    data->clear();
    for (int i = 0; i < 4; i++) data->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    return true;
  }
  if (t == "REG_BINARY") {
    *type = PLAT_REG_BINARY;
    data->clear();
    const std::string& d = a.data;
    bool ok = d.size() % 2 == 0;
    for (size_t i = 0; ok && i < d.size(); i += 2) {
      char pair[3] = {d[i], d[i + 1], '\0'};
      char* end = nullptr;
      if (!std::isxdigit(static_cast<unsigned char>(pair[0])) || !std::isxdigit(static_cast<unsigned char>(pair[1])))
        ok = false;
      else
        data->push_back(static_cast<char>(std::strtoul(pair, &end, 16)));
    }
    if (!ok) {
      std::fprintf(stderr, "ERROR: Invalid data for REG_BINARY: \"%s\".\n", d.c_str());
      return false;
    }
    return true;
  }
  std::fprintf(stderr, "ERROR: Invalid type \"%s\".\n", a.type.c_str());
  return false;
}

int Add(const RegArgs& a) {
  uint32_t type = 0;
  std::string data;
  if (a.has_value && !ParseData(a, &type, &data)) return 1;
  if (a.key.empty() && !a.has_value) return Error(ERROR_INVALID_PARAMETER);
  PlatHKey key = nullptr;
  uint32_t r = PlatRegCreateKey(PLAT_HKEY_LOCAL_MACHINE, a.key.c_str(), &key);
  if (r != ERROR_SUCCESS) return Error(r);
  if (a.has_value) {
    if (!a.force && PlatRegQueryValue(key, a.value.c_str(), nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
        !Confirm("Value " + (a.value.empty() ? std::string("(Default)") : a.value) + " exists, overwrite")) {
      PlatRegCloseKey(key);
      std::fputs("The operation was cancelled.\n", stderr);
      return 1;
    }
    r = PlatRegSetValue(key, a.value.c_str(), type, data.data(), static_cast<uint32_t>(data.size()));
  }
  PlatRegCloseKey(key);
  if (r != ERROR_SUCCESS) return Error(r);
  std::fputs(kSuccess, stdout);
  return 0;
}

int Delete(const RegArgs& a) {
  PlatHKey key = nullptr;
  uint32_t r = PlatRegOpenKey(PLAT_HKEY_LOCAL_MACHINE, a.key.c_str(), PLAT_KEY_ALL_ACCESS, &key);
  if (r != ERROR_SUCCESS) return Error(r);
  std::string question;
  if (a.has_value) {
    question = "Delete the registry value " + (a.value.empty() ? std::string("(Default)") : a.value);
  } else if (a.all_values) {
    question = "Delete all values under the registry key " + a.shown;
  } else {
    question = "Permanently delete the registry key " + a.shown;
  }
  if (a.has_value) {
    r = PlatRegQueryValue(key, a.value.c_str(), nullptr, nullptr, nullptr);
  } else if (!a.all_values && a.key.empty()) {
    r = ERROR_ACCESS_DENIED;  // the root itself stays
  }
  if (r == ERROR_SUCCESS && !a.force && !Confirm(question)) {
    PlatRegCloseKey(key);
    std::fputs("The operation was cancelled.\n", stderr);
    return 1;
  }
  if (r == ERROR_SUCCESS) {
    if (a.has_value) {
      r = PlatRegDeleteValue(key, a.value.c_str());
    } else if (a.all_values) {
      char name[kNameBuffer];
      for (;;) {
        uint32_t size = sizeof name;
        r = PlatRegEnumValue(key, 0, name, &size, nullptr, nullptr, nullptr);
        if (r == ERROR_NO_MORE_ITEMS) {
          r = ERROR_SUCCESS;
          break;
        }
        if (r == ERROR_SUCCESS) r = PlatRegDeleteValue(key, name);
        if (r != ERROR_SUCCESS) break;
      }
    } else {
      r = PlatRegDeleteTree(PLAT_HKEY_LOCAL_MACHINE, a.key.c_str());
    }
  }
  PlatRegCloseKey(key);
  if (r != ERROR_SUCCESS) return Error(r);
  std::fputs(kSuccess, stdout);
  return 0;
}

int Import(const RegArgs& a) {
  std::string script;
  // The administrator names the file: a link to it is what they mean.
  char* real = ::realpath(a.file.c_str(), nullptr);
  std::string path = real ? real : a.file;
  std::free(real);
  if (PlatReadFile(path.c_str(), &script) != 0) {
    std::fprintf(stderr, "ERROR: Unable to read the file \"%s\".\n", a.file.c_str());
    return 1;
  }
  int bad_line = 0;
  uint32_t r = PlatRegImport(script, &bad_line);
  if (r == ERROR_INVALID_DATA) {
    std::fprintf(stderr, "ERROR: \"%s\" line %d is not a registry script line; nothing was imported.\n",
                 a.file.c_str(), bad_line);
    return 1;
  }
  if (r != ERROR_SUCCESS) return Error(r);
  std::fputs(kSuccess, stdout);
  return 0;
}

int Export(const RegArgs& a) {
  PlatHKey key = nullptr;
  uint32_t r = PlatRegOpenKey(PLAT_HKEY_LOCAL_MACHINE, a.key.c_str(), PLAT_KEY_READ, &key);
  if (r != ERROR_SUCCESS) return Error(r);
  std::string script;
  r = PlatRegExport(key, &script);
  PlatRegCloseKey(key);
  if (r != ERROR_SUCCESS) return Error(r);
  PlatFileInfo info;
  if (!a.force && PlatFileStat(a.file.c_str(), &info) == 0 &&
      !Confirm("File " + a.file + " already exists. Overwrite")) {
    std::fputs("The operation was cancelled.\n", stderr);
    return 1;
  }
  if (PlatWriteFileAtomic(a.file.c_str(), script, 0644) != 0) {
    std::fprintf(stderr, "ERROR: Unable to write the file \"%s\".\n", a.file.c_str());
    return 1;
  }
  std::fputs(kSuccess, stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "/?") == 0 || std::strcmp(argv[1], "-h") == 0 ||
                    std::strcmp(argv[1], "--help") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  RegArgs a;
  if (!ParseArgs(argc, argv, &a)) return Usage();
  if (a.command != "import" && !ParseKey(a.key_arg, &a)) {
    std::fputs("ERROR: Invalid key name.\n", stderr);
    return 1;
  }
  if (a.command == "query") return Query(a);
  if (a.command == "add") return Add(a);
  if (a.command == "delete") return Delete(a);
  if (a.command == "import") return Import(a);
  return Export(a);
}
