// Registry scripts that the installer applies in one step (PlatRegImport):
// values set, values deleted, keys deleted. Portable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One change of a registry script.
struct MsiRegChange {
  int kind;         // MSI_REG_SET, MSI_REG_DELETE_VALUE or MSI_REG_DELETE_KEY
  std::string key;  // key path below HKEY_LOCAL_MACHINE, '\' separated
  std::string name; // value name ("" = default value); unused for a key
  uint32_t type;    // PLAT_REG_* of a value set
  std::string data; // data of a value set (text without terminator)
};

enum : int { MSI_REG_SET = 0, MSI_REG_DELETE_VALUE = 1, MSI_REG_DELETE_KEY = 2 };

// The ".reg" script that makes the changes, in order ("" for none).
std::string MsiRegScript(const std::vector<MsiRegChange>& changes);
