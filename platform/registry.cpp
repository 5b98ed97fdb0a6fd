// The machine registry over its ".reg" hive: handles, rights, the cached
// key tree and the operations. Portable: the file itself is reached through
// platform/registry_store.h.
#include "platform/registry.h"

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/folders.h"
#include "platform/registry_store.h"
#include "platform/registry_text.h"

// An open key: the path of its key and what it may do.
struct PlatRegKey {
  std::vector<std::string> path; // components below HKEY_LOCAL_MACHINE, as stored
  uint32_t rights;               // KEY_QUERY_VALUE ... bits granted
  int predefined;                // 1 for the predefined root (never freed)
};

namespace {

// Single access rights inside the KEY_* masks.
constexpr uint32_t kQueryValue = 0x0001;
constexpr uint32_t kSetValue = 0x0002;
constexpr uint32_t kCreateSubKey = 0x0004;
constexpr uint32_t kEnumSubKeys = 0x0008;
// Generic rights that stand for key rights.
constexpr uint32_t kGenericRead = 0x80000000u;
constexpr uint32_t kGenericWrite = 0x40000000u;
constexpr uint32_t kGenericAll = 0x10000000u;
constexpr uint32_t kMaximumAllowed = 0x02000000u;

// Where the hive and its writers' lock live below the machine-state root.
constexpr const char kHiveFile[] = "registry/HKLM.reg";
constexpr const char kLockFile[] = "registry/HKLM.lock";
// Beside the hive: the last version that held unreadable lines, kept when
// a write replaces it.
constexpr const char kDamagedSuffix[] = ".bad";
// Full name of the root key in a script.
constexpr const char kRootPath[] = "HKEY_LOCAL_MACHINE";

PlatRegKey g_hklm{{}, PLAT_KEY_ALL_ACCESS, 1};

// The key tree of the hive as last read, with what identifies that version.
struct RegCache {
  std::mutex lock;         // guards everything below
  std::string hive_path;   // hive the tree was read from
  int valid;               // 1 when tree and stamp describe hive_path
  PlatRegStamp stamp;      // version of the file the tree was read from
  PlatRegNode root;        // HKEY_LOCAL_MACHINE
  int lines_skipped;       // malformed lines that version held
};

RegCache& Cache() {
  static RegCache* cache = new RegCache{};  // lives to the end of the process
  return *cache;
}

uint32_t Rights(uint32_t access) {
  uint32_t r = access & (kQueryValue | kSetValue | kCreateSubKey | kEnumSubKeys);
  if (access & kGenericRead) r |= kQueryValue | kEnumSubKeys;
  if (access & kGenericWrite) r |= kSetValue | kCreateSubKey;
  if (access & (kGenericAll | kMaximumAllowed)) r |= kQueryValue | kSetValue | kCreateSubKey | kEnumSubKeys;
  return r;
}

// Splits a subkey path at '\' and '/' (empty components dropped) and checks
// the names; ERROR_INVALID_PARAMETER for a bad name or a path too deep.
uint32_t SplitSubkey(const PlatRegKey* base, const char* subkey, std::vector<std::string>* parts) {
  parts->clear();
  if (!subkey) return ERROR_SUCCESS;
  std::string comp;
  for (const char* p = subkey;; p++) {
    if (*p == '\\' || *p == '/' || *p == '\0') {
      if (!comp.empty()) {
        if (!PlatRegKeyNameValid(comp)) return ERROR_INVALID_PARAMETER;
        parts->push_back(comp);
        comp.clear();
      }
      if (*p == '\0') break;
    } else {
      comp.push_back(*p);
      if (comp.size() > kPlatRegMaxKeyName) return ERROR_INVALID_PARAMETER;
    }
  }
  if (base->path.size() + parts->size() > kPlatRegMaxDepth) return ERROR_INVALID_PARAMETER;
  return ERROR_SUCCESS;
}

// The node a path names, or null.
PlatRegNode* Resolve(PlatRegNode* root, const std::vector<std::string>& path) {
  PlatRegNode* node = root;
  for (const std::string& comp : path) {
    node = PlatRegFindKey(node, comp);
    if (!node) return nullptr;
  }
  return node;
}

// Brings the cached tree up to the hive's current version (cache locked).
uint32_t Refresh(RegCache& c) {
  std::string path = PlatSystemPath(kHiveFile);
  const PlatRegStamp* known = (c.valid && c.hive_path == path) ? &c.stamp : nullptr;
  int changed = 0;
  std::string text;
  PlatRegStamp stamp;
  uint32_t r = PlatRegStoreRead(path.c_str(), known, &changed, &text, &stamp);
  if (r != ERROR_SUCCESS) {
    c.valid = 0;
    return r;
  }
  if (!changed) return ERROR_SUCCESS;
  c.root = PlatRegNode{};
  c.root.name = kRootPath;
  PlatRegParseResult res;
  PlatRegParse(PlatRegDecodeScript(text), false, &c.root, &res);
  c.hive_path = path;
  c.stamp = stamp;
  c.lines_skipped = res.lines_skipped;
  c.valid = 1;
  return ERROR_SUCCESS;
}

// Runs `op(root)` on the current tree, for reading.
template <class Op>
uint32_t ReadOp(Op op) {
  RegCache& c = Cache();
  std::lock_guard<std::mutex> g(c.lock);
  uint32_t r = Refresh(c);
  if (r != ERROR_SUCCESS) return r;
  return op(&c.root);
}

// Runs `op(root, &changed)` on the current tree under the writers' lock and
// writes the hive when it changed something. `op` leaves the tree as it was
// when it fails.
template <class Op>
uint32_t WriteOp(Op op) {
  std::string lock_path = PlatSystemPath(kLockFile);
  int token = -1;
  if (PlatRegStoreLock(lock_path.c_str(), &token) != ERROR_SUCCESS) return ERROR_ACCESS_DENIED;
  RegCache& c = Cache();
  uint32_t r;
  {
    std::lock_guard<std::mutex> g(c.lock);
    r = Refresh(c);
    if (r == ERROR_SUCCESS) {
      bool changed = false;
      r = op(&c.root, &changed);
      if (r == ERROR_SUCCESS && changed) {
        std::string text = PlatRegFormat(c.root, kRootPath);
        std::string keep = c.hive_path + kDamagedSuffix;
        PlatRegStamp stamp;
        if (static_cast<int64_t>(text.size()) > kPlatRegMaxHiveBytes ||
            PlatRegStoreReplace(c.hive_path.c_str(), text, c.lines_skipped ? keep.c_str() : nullptr, &stamp) !=
                ERROR_SUCCESS) {
          c.valid = 0;  // the tree holds what the file does not
          r = ERROR_ACCESS_DENIED;
        } else {
          c.stamp = stamp;
          c.lines_skipped = 0;
        }
      }
    }
  }
  PlatRegStoreUnlock(token);
  return r;
}

// Copies `s` into a caller's buffer of `*size` bytes with its terminator;
// on ERROR_MORE_DATA *size is the size it needs.
uint32_t CopyName(const std::string& s, char* out, uint32_t* size) {
  if (s.size() + 1 > *size) {
    *size = static_cast<uint32_t>(s.size() + 1);
    return ERROR_MORE_DATA;
  }
  std::memcpy(out, s.c_str(), s.size() + 1);
  *size = static_cast<uint32_t>(s.size());
  return ERROR_SUCCESS;
}

// Hands out a value's type and data as the query functions promise.
uint32_t CopyData(const PlatRegEntry& e, uint32_t* type, void* data, uint32_t* data_size) {
  if (type) *type = e.type;
  if (!data_size) return ERROR_SUCCESS;
  uint32_t r = ERROR_SUCCESS;
  if (data) {
    if (e.data.size() > *data_size) r = ERROR_MORE_DATA;
    else std::memcpy(data, e.data.data(), e.data.size());
  }
  *data_size = static_cast<uint32_t>(e.data.size());
  return r;
}

std::string FullPath(const std::vector<std::string>& path) {
  std::string s = kRootPath;
  for (const std::string& comp : path) s += "\\" + comp;
  return s;
}

}  // namespace

PlatHKey const PLAT_HKEY_LOCAL_MACHINE = &g_hklm;

uint32_t PlatRegOpenKey(PlatHKey root, const char* subkey, uint32_t access, PlatHKey* out) {
  if (!out) return ERROR_INVALID_PARAMETER;
  *out = nullptr;
  if (!root) return ERROR_INVALID_HANDLE;
  std::vector<std::string> parts;
  uint32_t r = SplitSubkey(root, subkey, &parts);
  if (r != ERROR_SUCCESS) return r;
  std::vector<std::string> path = root->path;
  r = ReadOp([&](PlatRegNode* tree) -> uint32_t {
    PlatRegNode* node = Resolve(tree, root->path);
    if (!node) return ERROR_KEY_DELETED;
    for (const std::string& comp : parts) {
      node = PlatRegFindKey(node, comp);
      if (!node) return ERROR_FILE_NOT_FOUND;
      path.push_back(node->name);
    }
    return ERROR_SUCCESS;
  });
  if (r == ERROR_SUCCESS) *out = new PlatRegKey{std::move(path), Rights(access), 0};
  return r;
}

uint32_t PlatRegCreateKey(PlatHKey root, const char* subkey, PlatHKey* out) {
  if (!out) return ERROR_INVALID_PARAMETER;
  *out = nullptr;
  if (!root) return ERROR_INVALID_HANDLE;
  std::vector<std::string> parts;
  uint32_t r = SplitSubkey(root, subkey, &parts);
  if (r != ERROR_SUCCESS) return r;
  // An existing key needs no write.
  r = PlatRegOpenKey(root, subkey, PLAT_KEY_ALL_ACCESS, out);
  if (r != ERROR_FILE_NOT_FOUND) return r;
  if (!(root->rights & kCreateSubKey)) return ERROR_ACCESS_DENIED;
  std::vector<std::string> path = root->path;
  r = WriteOp([&](PlatRegNode* tree, bool* changed) -> uint32_t {
    PlatRegNode* node = Resolve(tree, root->path);
    if (!node) return ERROR_KEY_DELETED;
    for (const std::string& comp : parts) {
      PlatRegNode* sub = PlatRegFindKey(node, comp);
      if (!sub) {
        node->keys.push_back(std::make_unique<PlatRegNode>());
        sub = node->keys.back().get();
        sub->name = comp;
        *changed = true;
      }
      node = sub;
      path.push_back(node->name);
    }
    return ERROR_SUCCESS;
  });
  if (r == ERROR_SUCCESS) *out = new PlatRegKey{std::move(path), Rights(PLAT_KEY_ALL_ACCESS), 0};
  return r;
}

uint32_t PlatRegCloseKey(PlatHKey key) {
  if (!key) return ERROR_INVALID_HANDLE;
  if (!key->predefined) delete key;
  return ERROR_SUCCESS;
}

uint32_t PlatRegEnumKey(PlatHKey key, uint32_t index, char* name, uint32_t* name_size) {
  if (!key) return ERROR_INVALID_HANDLE;
  if (!name || !name_size) return ERROR_INVALID_PARAMETER;
  if (!(key->rights & kEnumSubKeys)) return ERROR_ACCESS_DENIED;
  return ReadOp([&](PlatRegNode* tree) -> uint32_t {
    PlatRegNode* node = Resolve(tree, key->path);
    if (!node) return ERROR_KEY_DELETED;
    if (index >= node->keys.size()) return ERROR_NO_MORE_ITEMS;
    return CopyName(node->keys[index]->name, name, name_size);
  });
}

uint32_t PlatRegEnumValue(PlatHKey key, uint32_t index, char* name, uint32_t* name_size, uint32_t* type,
                          void* data, uint32_t* data_size) {
  if (!key) return ERROR_INVALID_HANDLE;
  if (!name || !name_size || (data && !data_size)) return ERROR_INVALID_PARAMETER;
  if (!(key->rights & kQueryValue)) return ERROR_ACCESS_DENIED;
  return ReadOp([&](PlatRegNode* tree) -> uint32_t {
    PlatRegNode* node = Resolve(tree, key->path);
    if (!node) return ERROR_KEY_DELETED;
    if (index >= node->values.size()) return ERROR_NO_MORE_ITEMS;
    const PlatRegEntry& e = node->values[index];
    uint32_t rn = CopyName(e.name, name, name_size);
    uint32_t rd = CopyData(e, type, data, data_size);
    return rn != ERROR_SUCCESS ? rn : rd;
  });
}

uint32_t PlatRegQueryValue(PlatHKey key, const char* name, uint32_t* type, void* data, uint32_t* data_size) {
  if (!key) return ERROR_INVALID_HANDLE;
  if (data && !data_size) return ERROR_INVALID_PARAMETER;
  if (!(key->rights & kQueryValue)) return ERROR_ACCESS_DENIED;
  std::string_view vname = name ? name : "";
  return ReadOp([&](PlatRegNode* tree) -> uint32_t {
    PlatRegNode* node = Resolve(tree, key->path);
    if (!node) return ERROR_KEY_DELETED;
    int i = PlatRegFindValue(node, vname);
    if (i < 0) return ERROR_FILE_NOT_FOUND;
    return CopyData(node->values[static_cast<size_t>(i)], type, data, data_size);
  });
}

uint32_t PlatRegSetValue(PlatHKey key, const char* name, uint32_t type, const void* data, uint32_t data_size) {
  if (!key) return ERROR_INVALID_HANDLE;
  std::string_view vname = name ? name : "";
  if (!PlatRegValueNameValid(vname) || (!data && data_size > 0)) return ERROR_INVALID_PARAMETER;
  if (type == PLAT_REG_DWORD && data_size != 4) return ERROR_INVALID_PARAMETER;
  if (!(key->rights & kSetValue)) return ERROR_ACCESS_DENIED;
  std::string_view bytes(static_cast<const char*>(data), data ? data_size : 0);
  return WriteOp([&](PlatRegNode* tree, bool* changed) -> uint32_t {
    PlatRegNode* node = Resolve(tree, key->path);
    if (!node) return ERROR_KEY_DELETED;
    *changed = PlatRegPutValue(node, vname, type, bytes);
    return ERROR_SUCCESS;
  });
}

uint32_t PlatRegDeleteValue(PlatHKey key, const char* name) {
  if (!key) return ERROR_INVALID_HANDLE;
  if (!(key->rights & kSetValue)) return ERROR_ACCESS_DENIED;
  std::string_view vname = name ? name : "";
  return WriteOp([&](PlatRegNode* tree, bool* changed) -> uint32_t {
    PlatRegNode* node = Resolve(tree, key->path);
    if (!node) return ERROR_KEY_DELETED;
    int i = PlatRegFindValue(node, vname);
    if (i < 0) return ERROR_FILE_NOT_FOUND;
    node->values.erase(node->values.begin() + i);
    *changed = true;
    return ERROR_SUCCESS;
  });
}

uint32_t PlatRegDeleteTree(PlatHKey root, const char* subkey) {
  if (!root) return ERROR_INVALID_HANDLE;
  std::vector<std::string> parts;
  uint32_t r = SplitSubkey(root, subkey, &parts);
  if (r != ERROR_SUCCESS) return r;
  if (parts.empty() && (root->predefined || !(root->rights & kSetValue))) return ERROR_ACCESS_DENIED;
  return WriteOp([&](PlatRegNode* tree, bool* changed) -> uint32_t {
    PlatRegNode* node = Resolve(tree, root->path);
    if (!node) return ERROR_KEY_DELETED;
    if (parts.empty()) {
      *changed = !node->values.empty() || !node->keys.empty();
      node->values.clear();
      node->keys.clear();
      return ERROR_SUCCESS;
    }
    for (size_t i = 0; i + 1 < parts.size(); i++) {
      node = PlatRegFindKey(node, parts[i]);
      if (!node) return ERROR_FILE_NOT_FOUND;
    }
    for (size_t i = 0; i < node->keys.size(); i++) {
      if (PlatRegNameEqual(node->keys[i]->name, parts.back())) {
        node->keys.erase(node->keys.begin() + static_cast<std::ptrdiff_t>(i));
        *changed = true;
        return ERROR_SUCCESS;
      }
    }
    return ERROR_FILE_NOT_FOUND;
  });
}

uint32_t PlatRegImport(const std::string& script, int* bad_line) {
  if (bad_line) *bad_line = 0;
  std::string text = PlatRegDecodeScript(script);
  // Every line is checked before anything is applied.
  PlatRegNode scratch;
  PlatRegParseResult res;
  PlatRegParse(text, true, &scratch, &res);
  if (res.bad_line != 0) {
    if (bad_line) *bad_line = res.bad_line;
    return ERROR_INVALID_DATA;
  }
  return WriteOp([&](PlatRegNode* tree, bool* changed) -> uint32_t {
    PlatRegParse(text, false, tree, &res);
    *changed = true;
    return ERROR_SUCCESS;
  });
}

uint32_t PlatRegExport(PlatHKey key, std::string* out) {
  if (!key) return ERROR_INVALID_HANDLE;
  if (!out) return ERROR_INVALID_PARAMETER;
  if (!(key->rights & kQueryValue)) return ERROR_ACCESS_DENIED;
  return ReadOp([&](PlatRegNode* tree) -> uint32_t {
    PlatRegNode* node = Resolve(tree, key->path);
    if (!node) return ERROR_KEY_DELETED;
    *out = PlatRegFormat(*node, FullPath(key->path));
    return ERROR_SUCCESS;
  });
}
