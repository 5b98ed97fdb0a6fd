// The installation planner. Portable.
#include "platform/installer/plan.h"

#include <algorithm>
#include <cstdlib>
#include <set>

#include "platform/registry.h"
#include "platform/registry_text.h"

namespace {

// Registry roots of the Registry table.
constexpr int32_t kRootByInstallType = -1;
constexpr int32_t kRootLocalMachine = 2;

// The well-known folder an id stands for, or null.
const std::string* WellKnownFolder(const std::string& id, const MsiHostFolders& f) {
  if (id == "ProgramFilesFolder" || id == "ProgramFiles64Folder") return &f.program_files;
  if (id == "CommonAppDataFolder") return &f.common_appdata;
  if (id == "AppDataFolder" || id == "LocalAppDataFolder") return &f.appdata;
  if (id == "PersonalFolder") return &f.documents;
  return nullptr;
}

// The long target name of a DefaultDir ("target:source", "short|long").
std::string TargetName(const std::string& default_dir) {
  std::string t = default_dir.substr(0, default_dir.find(':'));
  size_t bar = t.find('|');
  return bar == std::string::npos ? t : t.substr(bar + 1);
}

// The long name of a FileName ("short|long").
std::string LongName(const std::string& file_name) {
  size_t bar = file_name.find('|');
  return bar == std::string::npos ? file_name : file_name.substr(bar + 1);
}

// Resolution state of the Directory table.
struct DirResolver {
  const MsiPackage* pkg;                                // the package
  const std::map<std::string, std::string>* command;    // command-line properties
  const MsiHostFolders* folders;                        // host folders
  std::string root;                                     // TARGETDIR's path
  std::map<std::string, size_t> rows;                   // id -> row index
  std::map<std::string, std::string> path;              // id -> resolved path
  std::map<std::string, std::string> anchor;            // id -> its anchor's path
  std::set<std::string> visiting;                       // ids on the current chain
  std::string why;                                      // the first failure
};

// Resolves one directory (and its parents). 0 or -1.
int Resolve(DirResolver* r, const std::string& id) {
  if (r->path.count(id)) return 0;
  if (r->visiting.count(id)) {
    r->why = "Directory table has a cycle at " + id;
    return -1;
  }
  auto cmd = r->command->find(id);
  if (cmd != r->command->end() && !cmd->second.empty()) {
    std::string p;
    if (MsiHostPath(cmd->second, &p) != 0) {
      r->why = "directory property " + id + " is no absolute path";
      return -1;
    }
    r->path[id] = p;
    r->anchor[id] = p;
    return 0;
  }
  if (const std::string* folder = WellKnownFolder(id, *r->folders)) {
    if (folder->empty() || (*folder)[0] != '/') {
      r->why = "the folder of " + id + " is unknown";
      return -1;
    }
    r->path[id] = *folder;
    r->anchor[id] = *folder;
    return 0;
  }
  auto row_it = r->rows.find(id);
  if (row_it == r->rows.end()) {
    r->why = "unknown directory " + id;
    return -1;
  }
  const MsiDirectoryRow& row = r->pkg->directories[row_it->second];
  if (id == "TARGETDIR" || row.parent.empty() || row.parent == id) {
    r->path[id] = r->root;
    r->anchor[id] = r->root;
    return 0;
  }
  r->visiting.insert(id);
  int rc = Resolve(r, row.parent);
  r->visiting.erase(id);
  if (rc != 0) return -1;
  std::string name = TargetName(row.default_dir);
  const std::string& parent = r->path[row.parent];
  if (name == ".") {
    r->path[id] = parent;
  } else if (!MsiPlainName(name)) {
    r->why = "directory " + id + " has an unsafe name";
    return -1;
  } else {
    r->path[id] = parent == "/" ? "/" + name : parent + "/" + name;
  }
  r->anchor[id] = r->anchor[row.parent];
  return 0;
}

// Splits a registry key text into its components, '\' separated; -1 when a
// component is invalid or there is none.
int KeyPath(const std::string& key, std::string* out) {
  out->clear();
  size_t i = 0;
  while (i <= key.size()) {
    size_t j = key.find('\\', i);
    if (j == std::string::npos) j = key.size();
    std::string part = key.substr(i, j - i);
    if (!part.empty()) {
      if (!PlatRegKeyNameValid(part)) return -1;
      if (!out->empty()) *out += '\\';
      *out += part;
    }
    i = j + 1;
  }
  return out->empty() ? -1 : 0;
}

// Hex digits into bytes (an odd count gets a leading 0); -1 on a non-digit.
int HexBytes(const std::string& hex, std::string* out) {
  std::string h = hex.size() % 2 ? "0" + hex : hex;
  out->clear();
  for (size_t i = 0; i < h.size(); i += 2) {
    int v = 0;
    for (size_t k = 0; k < 2; k++) {
      char c = h[i + k];
      int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      if (d < 0) return -1;
      v = v * 16 + d;
    }
    *out += static_cast<char>(v);
  }
  return 0;
}

// A decimal integer (optional sign) as a 32-bit registry dword; -1 when not a number.
int Dword(const std::string& text, std::string* out) {
  if (text.empty() || text.size() > 11) return -1;
  char* end = nullptr;
  long long v = std::strtoll(text.c_str(), &end, 10);
  if (*end != '\0' || v < -2147483648LL || v > 4294967295LL) return -1;
  uint32_t u = static_cast<uint32_t>(v);
  out->assign({static_cast<char>(u & 0xFF), static_cast<char>((u >> 8) & 0xFF), static_cast<char>((u >> 16) & 0xFF),
               static_cast<char>((u >> 24) & 0xFF)});
  return 0;
}

// Type and data of a Registry row's value. 0, or -1 when unusable.
int ValueOf(const MsiRegistryRow& row, const MsiPlan& plan, const MsiPackage& pkg, MsiPlanValue* v) {
  const std::string& raw = row.value;
  if (raw.find("[~]") != std::string::npos) return -1;  // multi-string values are not kept by the registry layer
  if (raw.size() >= 2 && raw[0] == '#' && (raw[1] == 'x' || raw[1] == 'X')) {
    v->type = PLAT_REG_BINARY;
    return HexBytes(MsiFormatText(raw.substr(2), plan, pkg), &v->data);
  }
  if (raw.size() >= 2 && raw[0] == '#' && raw[1] == '%') {
    v->type = PLAT_REG_EXPAND_SZ;
    v->data = MsiFormatText(raw.substr(2), plan, pkg);
  } else if (raw.size() >= 2 && raw[0] == '#' && raw[1] == '#') {
    v->type = PLAT_REG_SZ;
    v->data = "#" + MsiFormatText(raw.substr(2), plan, pkg);
  } else if (!raw.empty() && raw[0] == '#') {
    v->type = PLAT_REG_DWORD;
    return Dword(MsiFormatText(raw.substr(1), plan, pkg), &v->data);
  } else {
    v->type = PLAT_REG_SZ;
    v->data = MsiFormatText(raw, plan, pkg);
  }
  size_t zero = v->data.find('\0');  // text values end at their first zero byte
  if (zero != std::string::npos) v->data.resize(zero);
  return 0;
}

}  // namespace

int MsiHostPath(std::string_view value, std::string* out) {
  std::string p;
  for (char c : value) {
    char d = c == '\\' ? '/' : c;
    if (d == '/' && !p.empty() && p.back() == '/') continue;
    p += d;
  }
  if (p.empty() || p[0] != '/') return -1;
  if (p.size() > 1 && p.back() == '/') p.pop_back();
  size_t i = 1;
  while (i < p.size()) {
    size_t j = p.find('/', i);
    if (j == std::string::npos) j = p.size();
    std::string_view part(p.data() + i, j - i);
    if (part == "." || part == "..") return -1;
    i = j + 1;
  }
  *out = p;
  return 0;
}

bool MsiPlainName(std::string_view name) {
  if (name.empty() || name.size() > 255 || name == "." || name == "..") return false;
  for (char c : name) {
    if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  }
  return true;
}

int MsiCompareVersions(std::string_view a, std::string_view b) {
  size_t i = 0, j = 0;
  while (i < a.size() || j < b.size()) {
    unsigned long long x = 0, y = 0;
    while (i < a.size() && a[i] != '.') {
      if (a[i] >= '0' && a[i] <= '9' && x < 100000000ULL) x = x * 10 + static_cast<unsigned>(a[i] - '0');
      i++;
    }
    while (j < b.size() && b[j] != '.') {
      if (b[j] >= '0' && b[j] <= '9' && y < 100000000ULL) y = y * 10 + static_cast<unsigned>(b[j] - '0');
      j++;
    }
    if (x != y) return x < y ? -1 : 1;
    if (i < a.size()) i++;
    if (j < b.size()) j++;
  }
  return 0;
}

std::string MsiFormatText(std::string_view text, const MsiPlan& plan, const MsiPackage& pkg) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (c != '[') {
      out += c;
      i++;
      continue;
    }
    if (i + 3 < text.size() && text[i + 1] == '\\' && text[i + 3] == ']') {
      out += text[i + 2];  // "[\x]": the character itself
      i += 4;
      continue;
    }
    size_t close = text.find(']', i + 1);
    size_t inner_open = text.find('[', i + 1);
    if (close == std::string_view::npos || (inner_open != std::string_view::npos && inner_open < close)) {
      out += c;
      i++;
      continue;
    }
    std::string ref(text.substr(i + 1, close - i - 1));
    i = close + 1;
    if (ref.empty()) {
      out += "[]";
    } else if (ref == "~") {
      // a list separator: nothing in a single text
    } else if (ref[0] == '#' || ref[0] == '!') {
      for (const MsiPlanFile& f : plan.files) {
        if (f.key == ref.substr(1)) {
          out += f.target;
          break;
        }
      }
    } else if (ref[0] == '$') {
      for (const MsiComponentRow& comp : pkg.components) {
        if (comp.id == ref.substr(1)) {
          auto d = plan.directories.find(comp.directory);
          if (d != plan.directories.end()) out += d->second;
          break;
        }
      }
    } else {
      auto d = plan.directories.find(ref);
      if (d != plan.directories.end()) {
        out += d->second;
      } else {
        auto p = plan.properties.find(ref);
        if (p != plan.properties.end()) out += p->second;
      }
    }
  }
  return out;
}

int MsiMakePlan(const MsiPackage& pkg, const std::vector<MsiProperty>& command_line, const MsiHostFolders& folders,
                MsiPlan* plan, std::string* why) {
  *plan = MsiPlan{};
  plan->properties = pkg.properties;
  std::map<std::string, std::string> command;
  for (const MsiProperty& p : command_line) {
    plan->properties[p.name] = p.value;
    command[p.name] = p.value;
  }
  const std::string reboot = plan->properties.count("REBOOT") ? plan->properties["REBOOT"] : "";
  plan->reboot_forced = !reboot.empty() && (reboot[0] == 'F' || reboot[0] == 'f');

  // Directories.
  DirResolver r{&pkg, &command, &folders, {}, {}, {}, {}, {}, {}};
  auto target = command.find("TARGETDIR");
  if (target != command.end() && !target->second.empty()) {
    if (MsiHostPath(target->second, &r.root) != 0) {
      *why = "TARGETDIR is no absolute path";
      return -1;
    }
  } else {
    r.root = folders.program_files;
    if (r.root.empty() || r.root[0] != '/') {
      *why = "no TARGETDIR";
      return -1;
    }
  }
  for (size_t i = 0; i < pkg.directories.size(); i++) {
    if (!r.rows.emplace(pkg.directories[i].id, i).second) {
      *why = "directory " + pkg.directories[i].id + " is listed twice";
      return -1;
    }
  }
  for (const MsiDirectoryRow& row : pkg.directories) {
    if (Resolve(&r, row.id) != 0) {
      *why = r.why;
      return -1;
    }
  }
  plan->directories = r.path;

  // Files.
  std::map<std::string, const MsiComponentRow*> components;
  for (const MsiComponentRow& c : pkg.components) components[c.id] = &c;
  std::set<std::string> targets;
  for (const MsiFileRow& f : pkg.files) {
    auto c = components.find(f.component);
    if (c == components.end() || !plan->directories.count(c->second->directory)) {
      *why = "file " + f.key + " has no component or directory";
      return -1;
    }
    std::string name = LongName(f.file_name);
    if (!MsiPlainName(name)) {
      *why = "file " + f.key + " has an unsafe name";
      return -1;
    }
    const std::string& dir = plan->directories[c->second->directory];
    MsiPlanFile pf{f.key, dir == "/" ? "/" + name : dir + "/" + name, r.anchor[c->second->directory], f.size, 0};
    if (f.size < 0 || !targets.insert(pf.target).second) {
      *why = "file " + f.key + " has a bad size or a target used twice";
      return -1;
    }
    size_t m = 0;
    while (m < pkg.media.size() && pkg.media[m].last_sequence < f.sequence) m++;
    if (m == pkg.media.size()) {
      *why = "file " + f.key + " is on no medium";
      return -1;
    }
    pf.media = m;
    plan->files.push_back(pf);
  }

  // Registry values (after the files, so that [#file] resolves).
  const std::string& all_users = plan->properties["ALLUSERS"];
  for (const MsiRegistryRow& row : pkg.registry) {
    bool machine = row.root == kRootLocalMachine || (row.root == kRootByInstallType && (all_users == "1" || all_users == "2"));
    if (!machine) {
      *why = "registry row " + row.id + " is not for HKEY_LOCAL_MACHINE";
      return -1;
    }
    if (row.value_null) continue;  // a key alone: nothing is written
    MsiPlanValue v{};
    if (KeyPath(MsiFormatText(row.key, *plan, pkg), &v.key) != 0) {
      *why = "registry row " + row.id + " has a bad key";
      return -1;
    }
    v.name = row.name_null ? std::string() : MsiFormatText(row.name, *plan, pkg);
    if (!PlatRegValueNameValid(v.name) || ValueOf(row, *plan, pkg, &v) != 0) {
      *why = "registry row " + row.id + " has a bad name or value";
      return -1;
    }
    bool replaced = false;
    for (MsiPlanValue& old : plan->values) {
      if (PlatRegNameEqual(old.key, v.key) && PlatRegNameEqual(old.name, v.name)) {
        old = v;
        replaced = true;
      }
    }
    if (!replaced) plan->values.push_back(v);
  }

  // Services.
  for (const MsiServiceControlRow& s : pkg.services) {
    std::string name = MsiFormatText(s.name, *plan, pkg);
    if (name.empty()) continue;
    if (s.event & MSI_SERVICE_STOP_INSTALL) plan->stop_on_install.push_back(name);
    if (s.event & MSI_SERVICE_STOP_UNINSTALL) plan->stop_on_remove.push_back(name);
  }
  return 0;
}
