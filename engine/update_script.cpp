// The update script reader: statements of two tokens in the statement-file
// syntax, entries opened by "Update", filtered by the Package names, the
// Ignore mark and their conditions, closed when complete.
#include "engine/update_script.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "connection/adapters.h"
#include "engine/config.h"
#include "engine/products.h"
#include "engine/statement_file.h"
#include "engine/work_entry.h"
#include "fetch/digest_check.h"
#include "runtime/alloc.h"
#include "runtime/log_text.h"
#include "runtime/message.h"
#include "runtime/util.h"

namespace {

constexpr int kScriptTokens = 2;  // key and value
constexpr int kVerifyTokens = 29; // most tokens of a Verify list

// The reader's state during one read.
struct ScriptRead {
  UpdEntry* head;       // entries kept so far, in script order
  UpdEntry* tail;       // last kept entry
  UpdEntry* open;       // the entry being read, or null
  int dropped;          // the last entry was dropped: ignore until "Update"
  int force_reboot;     // ForceReboot True was seen: later entries get bit 2
  int machine_listed;   // the machine's adapter list has been built
  char machine[kRVMacListMax + 1]; // the machine's adapter addresses
};

// Replaces the text at *slot with a copy of `value`.
void SetText(char** slot, const char* value) {
  RVFree(*slot);
  *slot = RVStrDup(value);
}

// Drops the open entry: it is freed and the statements up to the next
// "Update" are ignored.
void DropOpen(ScriptRead* r) {
  UpdFreeWorkList(r->open);
  r->open = nullptr;
  r->dropped = 1;
}

// Closes the open entry: appended when it has a name, an install file and a
// signature file; else each missing one is reported and -1 returned.
int CloseOpen(ScriptRead* r) {
  UpdEntry* e = r->open;
  if (!e) return 0;
  r->open = nullptr;
  int bad = 0;
  const char* name = e->name;
  RVShown shown;
  if (!name) {
    UpdMessage(7, "Missing Name in Update Script");
    name = "Unknown";
    bad = 1;
  }
  if (!e->install_file) {
    UpdMessage(7, "Missing InstallFile in Update Script - Entry: %s", RVShowText(&shown, name));
    bad = 1;
  }
  if (!e->signature_file) {
    UpdMessage(7, "Missing SignatureFile in Update Script - Entry: %s", RVShowText(&shown, name));
    bad = 1;
  }
  if (bad) {
    UpdFreeWorkList(e);
    return -1;
  }
  if (r->tail) r->tail->next = e;
  else r->head = e;
  r->tail = e;
  return 0;
}

// 1 when an entry already kept has exactly this name.
int NameKept(const ScriptRead* r, const char* name) {
  for (const UpdEntry* e = r->head; e; e = e->next)
    if (e->name && std::strcmp(e->name, name) == 0) return 1;
  return 0;
}

// The machine's adapter addresses, listed once per read.
const char* MachineAddresses(ScriptRead* r) {
  if (!r->machine_listed) {
    r->machine_listed = 1;
    if (RVAdapterMacList(r->machine) < 0) r->machine[0] = '\0';
  }
  return r->machine;
}

// Applies one condition statement to the open, named entry; drops it when
// the condition fails. Unknown keys are ignored.
void ApplyCondition(ScriptRead* r, const char* key, const char* value) {
  int stays = 1;
  if (UpdStmtKeyIs(key, "Verify") || UpdStmtKeyIs(key, "VerifyAll")) {
    stays = UpdVerify(r->open, value, UPD_VERIFY_ALL);
  } else if (UpdStmtKeyIs(key, "VerifyAny") || UpdStmtKeyIs(key, "VerifyOne")) {
    stays = UpdVerify(r->open, value, UPD_VERIFY_ANY);
  } else if (UpdStmtKeyIs(key, "MACAddress")) {
    stays = UpdMacAddressMatches(value, MachineAddresses(r));
  } else if (UpdStmtKeyIs(key, "OSVersion")) {
    stays = UpdOsVersionMatches(value, static_cast<int>(RVOsVersion()->major));
  } else if (UpdStmtKeyIs(key, "MinOSVersion") || UpdStmtKeyIs(key, "MaxOSVersion")) {
    // Published scripts rely on these directions, though they read the
    // reverse of the names: MinOSVersion N keeps the entry only while N is
    // not below the running major version, MaxOSVersion N only while N is
    // not above it.
    int n = std::atoi(value);
    int major = static_cast<int>(RVOsVersion()->major);
    stays = UpdStmtKeyIs(key, "MinOSVersion") ? !(n < major) : !(n > major);
  }
  if (!stays) DropOpen(r);
}

// Applies one statement inside the open entry. -1 when the read must fail.
int ApplyEntryStatement(ScriptRead* r, UpdStmtReader* reader, const UpdStmt* stmt) {
  if (stmt->count < kScriptTokens) {
    char shown[kUpdStmtShownSize];
    UpdMessage(8, "Invalid Config Option: %s", UpdStmtShown(stmt, shown));
    return 0;
  }
  const char* key = stmt->tokens[0];
  const char* value = stmt->tokens[1];
  UpdEntry* e = r->open;
  if (UpdStmtKeyIs(key, "Name")) {
    if (NameKept(r, value)) {
      DropOpen(r);
      UpdStmtSkipGroup(reader);
    } else if (!UpdPackageWanted(value)) {
      DropOpen(r);
    } else {
      SetText(&e->name, value);
      UpdProductInfo(e);
    }
  } else if (UpdStmtKeyIs(key, "Ignore")) {
    if (UpdStmtKeyIs(value, "True")) DropOpen(r);
  } else if (UpdStmtKeyIs(key, "Desc")) {
    SetText(&e->desc, value);
  } else if (UpdStmtKeyIs(key, "InstallFile")) {
    SetText(&e->install_file, value);
  } else if (UpdStmtKeyIs(key, "SignatureFile")) {
    SetText(&e->signature_file, value);
  } else if (UpdStmtKeyIs(key, "ForceReboot")) {
    if (UpdStmtKeyIs(value, "True")) e->flags |= UPD_ENTRY_FORCE_REBOOT;
  } else if (!e->name) {
    UpdMessage(7, "Missing Name in Update Script");
    return -1;
  } else {
    ApplyCondition(r, key, value);
  }
  return 0;
}

// Applies one statement of the script. -1 when the read must fail.
int ApplyStatement(ScriptRead* r, UpdStmtReader* reader, const UpdStmt* stmt) {
  const char* key = stmt->tokens[0];
  const char* value = stmt->count >= kScriptTokens ? stmt->tokens[1] : nullptr;
  if (UpdStmtKeyIs(key, "MessageDigest")) {
    if (!value) {
      UpdMessage(8, "Invalid MessageDigest");
      return -1;
    }
    return UpdMessageDigest(value) < 0 ? -1 : 0;
  }
  if (UpdStmtKeyIs(key, "ForceReboot") && UpdStmtKeyIs(value, "True")) r->force_reboot = 1;
  if (UpdStmtKeyIs(key, "Update")) {
    if (CloseOpen(r) != 0) return -1;
    r->open = RVAllocRecord<UpdEntry>();
    r->dropped = 0;
    if (r->force_reboot) r->open->flags |= UPD_ENTRY_FORCE_REBOOT;
    return 0;
  }
  if (!r->open) return 0;  // before any entry, or inside a dropped one
  return ApplyEntryStatement(r, reader, stmt);
}

// An unsigned comparison of the installed version with a Verify value.
int VersionTest(const char* key, uint32_t installed, const char* value, int* holds) {
  uint32_t v = UpdVersionNumber(value);
  if (UpdStmtKeyIs(key, "Version") || UpdStmtKeyIs(key, "VersionEQ")) *holds = installed == v;
  else if (UpdStmtKeyIs(key, "VersionLEQ")) *holds = installed <= v;
  else if (UpdStmtKeyIs(key, "VersionLT")) *holds = installed < v;
  else if (UpdStmtKeyIs(key, "VersionGEQ")) *holds = installed >= v;
  else if (UpdStmtKeyIs(key, "VersionGT")) *holds = installed > v;
  else return 0;
  return 1;
}

// The items of a comma-separated list, empty ones included.
std::vector<std::string> CommaItems(const char* text) {
  std::vector<std::string> items;
  std::string t = text;
  size_t start = 0;
  for (;;) {
    size_t end = t.find(',', start);
    items.push_back(t.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return items;
    start = end + 1;
  }
}

}  // namespace

int UpdPackageWanted(const char* name) {
  const UpdConfig* c = g_upd_config;
  if (!c || c->package_count == 0) return 1;
  for (int i = 0; i < c->package_count; ++i) {
    const char* p = c->packages[i];
    if (UpdStmtKeyIs(p, "Any") || (name && UpdStmtKeyIs(p, name))) return 1;
  }
  return 0;
}

int UpdVerify(const UpdEntry* entry, const char* conditions, UpdVerifyMode mode) {
  std::string copy = conditions ? conditions : "";
  char* tokens[kVerifyTokens + 1];
  int count = RVTokenize(copy.data(), tokens, kVerifyTokens + 1, ",=");
  for (int i = 0; i < count; i += 2) {
    const char* key = tokens[i];
    if (i + 1 >= count) {
      RVShown shown;
      UpdMessage(8, "Missing arg for Verify option: %s", RVShowText(&shown, key));
      break;
    }
    const char* value = tokens[i + 1];
    int negate = key[0] == '!';
    if (negate) ++key;
    int holds = 0;
    if (UpdStmtKeyIs(key, "Installed")) {
      holds = UpdStmtKeyIs(value, "True") && (entry->flags & UPD_ENTRY_INSTALLED);
    } else if (!VersionTest(key, entry->installed_version, value, &holds)) {
      continue;  // not a test
    }
    if (negate) holds = !holds;
    if (mode == UPD_VERIFY_ALL && !holds) return 0;
    if (mode == UPD_VERIFY_ANY && holds) return 1;
  }
  return mode == UPD_VERIFY_ALL ? 1 : 0;
}

int UpdMacAddressMatches(const char* wanted, const char* machine) {
  if (!wanted || !machine) return 0;
  std::vector<std::string> listed = CommaItems(machine);
  for (const std::string& one : CommaItems(wanted))
    for (const std::string& m : listed)
      if (m.size() >= 10 && m == one) return 1;
  return 0;
}

int UpdOsVersionMatches(const char* wanted, int major) {
  if (!wanted) return 0;
  for (const std::string& one : CommaItems(wanted))
    if (std::atoi(one.c_str()) == major) return 1;
  return 0;
}

int UpdReadScript() {
  UpdStmtReader reader;
  ScriptRead r = {};
  int failed = 0;
  if (UpdStmtOpen(&reader, kUpdScriptFile, kScriptTokens) != 0) {
    UpdMessage(9, "Unable to read local upd script file: %s", kUpdScriptFile);
    failed = 1;
  } else {
    UpdStmt stmt;
    while (!failed && UpdStmtNext(&reader, &stmt)) {
      if (ApplyStatement(&r, &reader, &stmt) != 0) failed = 1;
    }
    if (!failed && reader.read_error) {
      // A script read only in part must not be acted on.
      UpdMessage(9, "Unable to read local upd script file: %s", kUpdScriptFile);
      failed = 1;
    }
    UpdStmtClose(&reader);
    if (!failed && CloseOpen(&r) != 0) failed = 1;
  }
  if (failed) {
    UpdFreeWorkList(r.open);
    UpdFreeWorkList(r.head);
    r.head = nullptr;
  }
  // A failed read leaves no work list.
  if (g_upd_config) {
    UpdFreeWorkList(g_upd_config->work_list);
    g_upd_config->work_list = r.head;
  } else {
    UpdFreeWorkList(r.head);
  }
  return failed ? -1 : 0;
}
