// Version numbers, the installed-product facts from the registry, and the
// purge of downloaded packages whose product is not installed.
#include "engine/products.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

#include "engine/config.h"
#include "engine/work_dir.h"
#include "engine/work_entry.h"
#include "engine/work_file.h"
#include "platform/directory.h"
#include "platform/file.h"
#include "platform/installer.h"
#include "platform/registry.h"
#include "runtime/alloc.h"
#include "runtime/message.h"
#include "runtime/util.h"

namespace {

// Digits of a version number's text form.
constexpr size_t kVersionDigits = 8;

// Buffers of the registry lookup: subkey names and value names and data.
constexpr uint32_t kSubkeyNameSize = 100;
constexpr uint32_t kValueSize = 100;

// Size of the ProductCode buffer.
constexpr uint32_t kProductCodeSize = 100;

// True when `name` matches the pattern "*.msi" (letters in any case).
bool IsPackageName(const std::string& name) {
  return name.size() >= 4 && strcasecmp(name.c_str() + name.size() - 4, ".msi") == 0;
}

// True when `name` is one of `names` (letters in any case, as the work
// directory's file system may see them).
bool NameListed(const std::vector<std::string>& names, const std::string& name) {
  for (const std::string& n : names)
    if (strcasecmp(n.c_str(), name.c_str()) == 0) return true;
  return false;
}

// Replaces a text field with a private copy of `data`, or none when empty.
void SetField(char** field, const char* data) {
  RVFree(*field);
  *field = nullptr;
  if (data && *data) *field = RVStrDup(data);
}

}  // namespace

uint32_t UpdVersionNumberOf(const char* text) {
  std::string copy = text ? text : "";
  char* parts[5];
  int count = RVTokenize(copy.data(), parts, 5, ".-,");
  std::string digits;
  for (int i = 0; i < count; ++i) {
    if (std::strlen(parts[i]) % 2) digits += '0';
    digits += parts[i];
  }
  if (digits.size() < kVersionDigits) digits.append(kVersionDigits - digits.size(), '0');
  digits.resize(kVersionDigits);
  return static_cast<uint32_t>(std::atoi(digits.c_str()));
}

uint32_t UpdVersionNumber(const char* text) {
  uint32_t number = UpdVersionNumberOf(text);
  UpdMessage(0, "Converted VersionStr: %s to %u", text ? text : "", number);
  return number;
}

void UpdVersionText(uint32_t number, char* out, int size) {
  std::snprintf(out, static_cast<size_t>(size), "%d.%d.%d-%02d", static_cast<int>(number / 1000000),
                static_cast<int>(number / 10000 % 100), static_cast<int>(number / 100 % 100),
                static_cast<int>(number % 100));
}

void UpdProductInfo(UpdEntry* entry) {
  const char* name = entry->name;
  size_t len = name ? std::strlen(name) : 0;
  if (len < 6) return;
  const char* suffix = name + len - 6;
  const char* parent_name = nullptr;
  if (std::strcmp(suffix, "-win64") == 0) {
    parent_name = "SOFTWARE\\TQ Software";
  } else if (std::strcmp(suffix, "-win32") == 0) {
    parent_name = "SOFTWARE\\Wow6432Node\\TQ Software";
  } else {
    return;
  }
  entry->flags &= ~UPD_ENTRY_INSTALLED;

  PlatHKey parent = nullptr;
  if (PlatRegOpenKey(PLAT_HKEY_LOCAL_MACHINE, parent_name, PLAT_KEY_READ, &parent) != 0) return;
  bool found = false;
  for (uint32_t i = 0;; ++i) {
    char subkey[kSubkeyNameSize];
    uint32_t size = sizeof subkey;
    uint32_t rc = PlatRegEnumKey(parent, i, subkey, &size);
    if (rc == 234) continue;  // a longer name cannot be the product's
    if (rc != 0) break;
    if (strcasecmp(subkey, name) == 0) {
      found = true;
      break;
    }
  }
  PlatHKey product = nullptr;
  if (found && PlatRegOpenKey(parent, name, PLAT_KEY_READ, &product) == 0) {
    for (uint32_t i = 0;; ++i) {
      char value_name[kValueSize];
      char data[kValueSize + 1];
      uint32_t name_size = kValueSize;
      uint32_t data_size = kValueSize;
      uint32_t type = 0;
      if (PlatRegEnumValue(product, i, value_name, &name_size, &type, data, &data_size) != 0) break;
      data[data_size < kValueSize ? data_size : kValueSize] = '\0';
      if (strcasecmp(value_name, "InstallDir") == 0) {
        SetField(&entry->install_dir, data);
      } else if (strcasecmp(value_name, "ProductCode") == 0) {
        SetField(&entry->product_code, data);
      } else if (strcasecmp(value_name, "UpgradeCode") == 0) {
        SetField(&entry->upgrade_code, data);
      } else if (strcasecmp(value_name, "Version") == 0) {
        entry->installed_version = UpdVersionNumber(data);
        entry->flags |= UPD_ENTRY_INSTALLED;
      }
    }
    PlatRegCloseKey(product);
  }
  PlatRegCloseKey(parent);
}


std::string UpdPackagePath(const UpdEntry* entry) {
  return std::string(UpdWorkDir()) + "/" + (entry->local_file ? entry->local_file : "");
}

uint32_t UpdReadPackageProperty(const char* path, const char* name, char* buf, uint32_t size, uint32_t* property_rc) {
  MSIHANDLE package = 0;
  uint32_t rc = MsiOpenPackageA(path, &package);
  if (rc != MSI_OK) return rc;
  *property_rc = MsiGetProductPropertyA(package, name, buf, &size);
  MsiCloseHandle(package);
  return rc;
}

void UpdPurgePackages() {
  std::string dir = UpdWorkDir();
  for (char& c : dir) {
    if (c == '\\') c = '/';
  }
  // Packages of pending work stay: those the work file names (a run that
  // stopped early leaves them to a later installation) and those of the
  // work list in hand. An unreadable work file keeps every package.
  std::vector<std::string> pending;
  if (UpdWorkFilePackages(&pending) != 0) {
    UpdMessage(9, "Purge skipped - unreadable work file: %s", UpdWorkFilePath());
    return;
  }
  for (const UpdEntry* w = g_upd_config ? g_upd_config->work_list : nullptr; w; w = w->next)
    if (!(w->flags & UPD_ENTRY_SKIP) && w->local_file) pending.push_back(w->local_file);
  std::vector<PlatDirEntry> entries;
  if (PlatListDir(dir.c_str(), &entries) != 0) return;
  for (const PlatDirEntry& e : entries) {
    if (e.is_dir || !IsPackageName(e.name)) continue;
    if (NameListed(pending, e.name)) continue;
    std::string path = dir + "/" + e.name;
    char code[kProductCodeSize];
    uint32_t rc = MSI_ERROR_INSTALL_PACKAGE_OPEN_FAILED;
    if (UpdReadPackageProperty(path.c_str(), "ProductCode", code, sizeof code, &rc) != MSI_OK) continue;
    if (rc != 0 || !*code) continue;
    MSIHANDLE product = 0;
    rc = MsiOpenProductA(code, &product);
    if (rc == 0) {
      MsiCloseHandle(product);
    } else if (rc == MSI_ERROR_UNKNOWN_PRODUCT) {
      PlatDeleteFile(path.c_str());
    }
  }
}
