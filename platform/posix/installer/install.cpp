// Installing and removing products as journaled operations. POSIX
// implementation.
//
// An installation works out its plan, checks the target tree on disk (no
// symbolic link or other non-directory below an anchor, no target that is
// not a plain file), writes its journal, creates the missing directories,
// extracts every file to a staged name beside its target, stops the
// services the package names, then swaps the files in (the old ones set
// aside), applies the registry changes in one step and writes the product's
// record: that write is the commit. Afterwards the set-aside files go and the
// journal is deleted. Whatever happens before the commit is undone from the
// journal, by this call or, after a crash, by the next one. A removal does the
// same with the product's files set aside and its record deleted as commit.
//
// An installed product with the same UpgradeCode and another ProductCode is
// taken over by the installation (its files and values that the package no
// longer has are removed, its record dropped), unless its version is higher:
// then the installation fails (a newer version is removed first).
#include <cerrno>
#include <ctime>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/error.h"
#include "platform/installer.h"
#include "platform/installer/reg_script.h"
#include "platform/posix/installer/installer_internal.h"
#include "platform/posix/syscalls.h"
#include "platform/registry.h"
#include "platform/registry_text.h"

namespace {

// The directory part of an absolute path ("/" for a file at the root).
std::string DirOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Checks the directories from `anchor` down to `dir` and lists the missing
// ones (parents first) in *missing: the anchor itself may be reached through
// links; below it every existing component must be a real directory. 0 or -1.
int CheckTree(const std::string& anchor, const std::string& dir, std::vector<std::string>* missing,
              std::set<std::string>* listed) {
  struct stat st;
  if (::stat(anchor.c_str(), &st) == 0) {
    if (!S_ISDIR(st.st_mode)) return -1;
  } else {
    // The anchor and its missing parents are created.
    std::vector<std::string> chain;
    std::string p = anchor;
    while (p != "/" && ::lstat(p.c_str(), &st) != 0) {
      chain.push_back(p);
      p = DirOf(p);
    }
    if (p != "/" && (::stat(p.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))) return -1;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      if (listed->insert(*it).second) missing->push_back(*it);
    }
  }
  if (dir == anchor) return 0;
  if (dir.compare(0, anchor.size(), anchor) != 0 || (anchor != "/" && dir[anchor.size()] != '/')) return -1;
  size_t i = anchor == "/" ? 1 : anchor.size() + 1;
  while (i <= dir.size()) {
    size_t j = dir.find('/', i);
    if (j == std::string::npos) j = dir.size();
    std::string p = dir.substr(0, j);
    if (listed->count(p) == 0) {
      if (::lstat(p.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode)) return -1;  // a link or a file where a directory belongs
      } else if (errno == ENOENT) {
        listed->insert(p);
        missing->push_back(p);
      } else {
        return -1;
      }
    }
    i = j + 1;
  }
  return 0;
}

// The highest key, from `key` upwards, that holds nothing but the chain
// down to `key` (no values, one subkey); top-level keys are never chosen.
std::string TopmostEmptyKey(const std::string& key) {
  std::string k = key;
  while (true) {
    size_t slash = k.find_last_of('\\');
    if (slash == std::string::npos) return k;
    std::string parent = k.substr(0, slash);
    if (parent.find('\\') == std::string::npos) return k;  // below a top-level key
    PlatHKey h = nullptr;
    if (PlatRegOpenKey(PLAT_HKEY_LOCAL_MACHINE, parent.c_str(), PLAT_KEY_READ, &h) != 0) return k;
    char name[kPlatRegMaxKeyName + 1];
    uint32_t size = sizeof name;
    bool one_key = PlatRegEnumKey(h, 1, name, &size) == ERROR_NO_MORE_ITEMS;
    size = sizeof name;
    bool no_values = PlatRegEnumValue(h, 0, name, &size, nullptr, nullptr, nullptr) == ERROR_NO_MORE_ITEMS;
    PlatRegCloseKey(h);
    if (!one_key || !no_values) return k;
    k = parent;
  }
}

// Logs why an installation fails; the installation failure result.
uint32_t Failed(const std::string& why) {
  MsiLog("installation failed: " + why);
  return MSI_ERROR_INSTALL_FAILURE;
}

// True when a recorded value is the value `name` of `key` (case ignored).
bool SameValue(const MsiValueRef& a, const std::string& key, const std::string& name) {
  return PlatRegNameEqual(a.key, key) && PlatRegNameEqual(a.name, name);
}

// Applies the journal's work up to the commit; on failure undoes it. The
// `work` callback returns 0 or -1.
template <typename Fn>
uint32_t RunJournaled(const MsiJournal& j, Fn work) {
  if (MsiSaveJournal(j) != 0) {
    MsiDeleteJournal();
    return MSI_ERROR_INSTALL_FAILURE;
  }
  MsiTestPoint("journal");
  if (work() != 0) {
    if (MsiRollback(j) != 0) MsiLog("undo of " + j.op + " " + j.txn + " incomplete: left to the next call");
    return Failed(j.op + " " + j.txn + " of " + j.product_code + " undone");
  }
  MsiFinish(j);  // after the commit: what is left is finished by the next call
  return MSI_OK;
}

}  // namespace

uint32_t MsiInstallLocked(const std::string& package_path, const std::vector<MsiProperty>& props,
                          const std::string& command_line) {
  MsiPackage pkg;
  if (MsiReadPackage(package_path, true, &pkg) != 0) {
    MsiLog("package cannot be read: " + package_path);
    return MSI_ERROR_INSTALL_PACKAGE_OPEN_FAILED;
  }
  MsiPlan plan;
  std::string why;
  if (MsiMakePlan(pkg, props, MsiFolders(), &plan, &why) != 0) return Failed(package_path + ": " + why);
  const std::string code = MsiUpper(plan.properties["ProductCode"]);
  const std::string upgrade = MsiUpper(plan.properties["UpgradeCode"]);
  const std::string version = plan.properties["ProductVersion"];
  if (!MsiProductCodeValid(code)) return Failed(package_path + ": no usable ProductCode");

  // What the installation takes over: the product itself and older
  // versions of the same upgrade family.
  MsiJournal j;
  j.txn = MsiNewTxnId();
  j.op = "install";
  j.product_code = code;
  std::vector<MsiProductRecord> old;
  {
    std::vector<MsiProductRecord> all;
    if (MsiListRecords(&all) != 0) return Failed("the installed products cannot be read");
    for (MsiProductRecord& rec : all) {
      bool same = rec.product_code == code;
      bool family = !upgrade.empty() && MsiUpper(rec.properties["UpgradeCode"]) == upgrade;
      if (!same && !family) continue;
      if (!same && MsiCompareVersions(rec.properties["ProductVersion"], version) > 0) {
        return Failed(package_path + ": a newer version is installed: " + rec.product_code);
      }
      if (!same) j.replaced.push_back(rec.product_code);
      old.push_back(std::move(rec));
    }
  }

  // The target tree on disk.
  std::set<std::string> listed, targets;
  for (const MsiPlanFile& f : plan.files) {
    if (CheckTree(f.anchor, DirOf(f.target), &j.new_dirs, &listed) != 0) {
      return Failed("the way to " + f.target + " is no plain directory tree below " + f.anchor);
    }
    struct stat st;
    if (::lstat(f.target.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return Failed(f.target + " is no plain file");
    targets.insert(f.target);
  }

  // Staged and set-aside names, beside each target.
  std::map<size_t, std::map<std::string, std::string>> staged_by_media;
  std::map<size_t, std::map<std::string, int64_t>> sizes_by_media;
  for (size_t i = 0; i < plan.files.size(); i++) {
    const MsiPlanFile& f = plan.files[i];
    std::string base = DirOf(f.target) + "/.tqmsi-" + j.txn + "-" + std::to_string(i);
    struct stat st;
    bool exists = ::lstat(f.target.c_str(), &st) == 0;
    j.files.push_back({f.target, base, exists ? base + ".old" : ""});
    staged_by_media[f.media][f.key] = base;
    sizes_by_media[f.media][f.key] = f.size;
  }
  size_t first_drop = j.files.size();
  std::set<std::string> dropped;
  for (const MsiProductRecord& rec : old) {
    for (const std::string& file : rec.files) {
      struct stat st;
      if (targets.count(file) || dropped.count(file) || ::lstat(file.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
      dropped.insert(file);
      j.files.push_back({file, "", DirOf(file) + "/.tqmsi-" + j.txn + "-d" + std::to_string(j.files.size()) + ".old"});
    }
  }

  // Registry: the package's values set, the taken-over values it lacks deleted.
  std::vector<MsiRegChange> changes;
  std::vector<std::pair<std::string, std::string>> touched;
  for (const MsiPlanValue& v : plan.values) {
    changes.push_back({MSI_REG_SET, v.key, v.name, v.type, v.data});
    touched.push_back({v.key, v.name});
  }
  for (const MsiProductRecord& rec : old) {
    for (const MsiValueRef& ref : rec.values) {
      bool kept = false;
      for (const auto& t : touched) kept = kept || SameValue(ref, t.first, t.second);
      if (kept) continue;
      changes.push_back({MSI_REG_DELETE_VALUE, ref.key, ref.name, 0, ""});
      touched.push_back({ref.key, ref.name});
    }
  }
  j.undo_registry = MsiUndoScript(touched);
  const std::string forward = MsiRegScript(changes);

  // The new record.
  MsiProductRecord rec;
  rec.txn = j.txn;
  rec.product_code = code;
  rec.properties = plan.properties;
  rec.package_path = package_path;
  rec.command_line = command_line;
  rec.install_time = static_cast<int64_t>(std::time(nullptr));
  for (const MsiPlanFile& f : plan.files) rec.files.push_back(f.target);
  std::set<std::string> dir_set;
  for (const MsiProductRecord& o : old) {
    for (const std::string& d : o.dirs) {
      if (dir_set.insert(d).second) rec.dirs.push_back(d);
    }
  }
  for (const std::string& d : j.new_dirs) {
    if (dir_set.insert(d).second) rec.dirs.push_back(d);
  }
  for (const MsiPlanValue& v : plan.values) rec.values.push_back({v.key, v.name});
  rec.stop_on_remove = plan.stop_on_remove;

  uint32_t rc = RunJournaled(j, [&]() -> int {
    for (const std::string& d : j.new_dirs) {
      if (plat_sys_mkdir(d.c_str(), 0755) != 0 && errno != EEXIST) {
        MsiLog("directory cannot be made: " + d);
        return -1;
      }
    }
    for (const auto& [media, staged] : staged_by_media) {
      if (MsiExtractMedium(pkg, media, staged, sizes_by_media[media], &why) != 0) {
        MsiLog(package_path + ": " + why);
        return -1;
      }
    }
    MsiTestPoint("staged");
    if (MsiStopServices(plan.stop_on_install) != 0) {
      MsiLog("a service named by the package did not stop");
      return -1;
    }
    for (size_t i = 0; i < j.files.size(); i++) {
      const MsiJournalFile& f = j.files[i];
      if (!f.backup.empty() && plat_sys_rename(f.target.c_str(), f.backup.c_str()) != 0) return -1;
      if (!f.staged.empty() && plat_sys_rename(f.staged.c_str(), f.target.c_str()) != 0) return -1;
      if (i == 0 || i == first_drop) MsiTestPoint(i == 0 ? "swap" : "drop");
    }
    MsiTestPoint("swapped");
    if (MsiApplyRegistry(forward) != 0) return -1;
    MsiTestPoint("registry");
    if (MsiSaveRecord(rec) != 0) return -1;
    MsiTestPoint("commit");
    return 0;
  });
  if (rc != MSI_OK) return rc;
  return plan.reboot_forced ? MSI_ERROR_SUCCESS_REBOOT_REQUIRED : MSI_OK;
}

uint32_t MsiRemoveLocked(const std::string& code) {
  MsiProductRecord rec;
  int have = MsiLoadRecord(code, &rec);
  if (have == 1) return MSI_ERROR_UNKNOWN_PRODUCT;
  if (have != 0) return Failed("the record of " + code + " cannot be read");

  MsiJournal j;
  j.txn = MsiNewTxnId();
  j.op = "remove";
  j.product_code = code;
  for (const std::string& file : rec.files) {
    struct stat st;
    if (::lstat(file.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
    j.files.push_back({file, "", DirOf(file) + "/.tqmsi-" + j.txn + "-d" + std::to_string(j.files.size()) + ".old"});
  }
  j.cleanup_dirs = rec.dirs;

  // Registry: the product's values deleted; a key left without values and
  // subkeys goes with them.
  std::vector<MsiRegChange> changes, key_deletes;
  std::vector<std::pair<std::string, std::string>> touched;
  std::set<std::string> keys_seen;
  for (const MsiValueRef& ref : rec.values) {
    changes.push_back({MSI_REG_DELETE_VALUE, ref.key, ref.name, 0, ""});
    touched.push_back({ref.key, ref.name});
    std::string lower = ref.key;
    for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (!keys_seen.insert(lower).second) continue;
    PlatHKey k = nullptr;
    if (PlatRegOpenKey(PLAT_HKEY_LOCAL_MACHINE, ref.key.c_str(), PLAT_KEY_READ, &k) != 0) continue;
    char name[kPlatRegMaxValueName + 1];
    bool only_ours = true;
    uint32_t size = sizeof name;
    if (PlatRegEnumKey(k, 0, name, &size) != ERROR_NO_MORE_ITEMS) only_ours = false;
    for (uint32_t i = 0; only_ours; i++) {
      size = sizeof name;
      uint32_t r = PlatRegEnumValue(k, i, name, &size, nullptr, nullptr, nullptr);
      if (r == ERROR_NO_MORE_ITEMS) break;
      bool ours = false;
      if (r == 0) {
        for (const MsiValueRef& o : rec.values) ours = ours || SameValue(o, ref.key, std::string(name, size));
      }
      only_ours = ours;
    }
    PlatRegCloseKey(k);
    if (only_ours) key_deletes.push_back({MSI_REG_DELETE_KEY, TopmostEmptyKey(ref.key), "", 0, ""});
  }
  changes.insert(changes.end(), key_deletes.begin(), key_deletes.end());
  j.undo_registry = MsiUndoScript(touched);
  const std::string forward = MsiRegScript(changes);

  return RunJournaled(j, [&]() -> int {
    if (MsiStopServices(rec.stop_on_remove) != 0) return -1;
    for (size_t i = 0; i < j.files.size(); i++) {
      if (plat_sys_rename(j.files[i].target.c_str(), j.files[i].backup.c_str()) != 0) return -1;
      if (i == 0) MsiTestPoint("moved");
    }
    if (MsiApplyRegistry(forward) != 0) return -1;
    MsiTestPoint("registry");
    if (MsiDeleteRecord(code) != 0) return -1;
    MsiTestPoint("commit");
    return 0;
  });
}
