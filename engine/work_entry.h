// One entry of the work list.
#pragma once

#include <cstdint>

enum : uint32_t {
  UPD_ENTRY_INSTALLED = 0x1,    // the product is installed
  UPD_ENTRY_SKIP = 0x2,         // the package's version equals the installed one
  UPD_ENTRY_FORCE_REBOOT = 0x4, // force a reboot after installing
  UPD_ENTRY_TRUSTED = 0x8,      // its package is bound by accepted script metadata
  UPD_ENTRY_DOWNGRADE = 0x10,   // that metadata marks it as an intended downgrade
};

// One entry of the work list, in script order.
struct UpdEntry {
  UpdEntry* next;             // next entry
  uint32_t flags;             // UPD_ENTRY_* bits
  char* name;                 // product name, also its registry key name
  char* desc;                 // description, or null
  char* install_file;         // path of the package on the server
  char* local_file;           // file name of the package in the work directory, or null
  char* signature_file;       // path of the package's signature on the server
  uint32_t new_version;       // version number of the package
  uint32_t installed_version; // version number of the installed product, 0 when unknown
  char* install_dir;          // InstallDir from the registry, or null
  char* product_code;         // ProductCode from the registry, or null
  char* upgrade_code;         // UpgradeCode from the registry, or null
};

// Frees a work list with the texts of its entries.
void UpdFreeWorkList(UpdEntry* list);

// Logs the skip-clear entries of g_upd_config's work list between
// "WorkList Start" and "WorkList End" (level 0).
void UpdLogWorkList();
