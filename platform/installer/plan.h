// The installation plan: what installing a package with a property string
// does on this host, worked out from the package's tables before anything is
// touched. Portable.
//
// Directories: TARGETDIR is the root (the TARGETDIR property of the command
// line, else the Program Files folder). A directory whose id is a property
// given on the command line (INSTALLDIR, ...) takes that value; the ids of
// the well-known folders (ProgramFilesFolder, ProgramFiles64Folder,
// CommonAppDataFolder, AppDataFolder, LocalAppDataFolder, PersonalFolder)
// take the host's folders; every other directory is its parent's path plus
// the long target part of its DefaultDir ("target:source", "short|long"; "."
// = the parent itself). Properties of the package's own Property table never
// move a directory. Values from the command line arrive in the form of the
// system the installer stands in for: '\' is turned into '/'. Such a
// directory, a well-known folder or the root is an "anchor": every name below
// it comes from the package and must be a plain name (no '/', '\', "." or
// "..", no control characters), so nothing resolves outside the anchors.
//
// A directory's path, as a property (for [INSTALLDIR] in formatted text and
// in the registry), is the host path with '/' separators and no trailing '/'.
//
// Every File and Registry row is installed: features and component
// conditions are not evaluated. Registry rows must be for
// HKEY_LOCAL_MACHINE (Root 2, or -1 with ALLUSERS 1 or 2); values are text,
// "#%" expandable text, "##" text starting with '#', "#x" bytes and "#"
// numbers (dwords); multi-string values ("[~]") are refused.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/installer/package.h"
#include "platform/installer/property_string.h"

// The host folders that well-known directory ids stand for.
struct MsiHostFolders {
  std::string program_files;  // ProgramFilesFolder, ProgramFiles64Folder, default TARGETDIR
  std::string common_appdata; // CommonAppDataFolder
  std::string appdata;        // AppDataFolder, LocalAppDataFolder
  std::string documents;      // PersonalFolder
};

// One file to install.
struct MsiPlanFile {
  std::string key;    // File key: the member's name in its cabinet
  std::string target; // absolute host path
  std::string anchor; // the anchor directory the target lies below
  int64_t size;       // FileSize of the File table
  size_t media;       // index into MsiPackage::media
};

// One registry value to write below HKEY_LOCAL_MACHINE.
struct MsiPlanValue {
  std::string key;  // key path, components separated by '\', none empty
  std::string name; // value name; "" = the key's default value
  uint32_t type;    // PLAT_REG_SZ, PLAT_REG_EXPAND_SZ, PLAT_REG_DWORD or PLAT_REG_BINARY
  std::string data; // text without terminator; a dword as 4 bytes little-endian; bytes
};

// Everything an installation does.
struct MsiPlan {
  std::map<std::string, std::string> properties;  // Property table overlaid with the command line
  std::map<std::string, std::string> directories; // Directory id -> resolved path
  std::vector<MsiPlanFile> files;                 // File table, in table order
  std::vector<MsiPlanValue> values;               // Registry table, one per (key, name)
  std::vector<std::string> stop_on_install;       // services stopped before files change
  std::vector<std::string> stop_on_remove;        // services stopped when the product is removed
  bool reboot_forced;                             // REBOOT=FORCE was given
};

// Works out the plan. 0, or -1 with the reason in *why (a Directory cycle, a
// name that would leave its anchor, a file without medium, a registry root
// other than HKEY_LOCAL_MACHINE, ...).
int MsiMakePlan(const MsiPackage& pkg, const std::vector<MsiProperty>& command_line, const MsiHostFolders& folders,
                MsiPlan* plan, std::string* why);

// Formatted text: "[NAME]" is the directory's path or the property's value
// ("" when neither), "[#file]" and "[!file]" the file's target path,
// "[$component]" the component's directory, "[\x]" the character x, "[~]"
// nothing; a '[' without its ']' stays as it is.
std::string MsiFormatText(std::string_view text, const MsiPlan& plan, const MsiPackage& pkg);

// A path from a property value made a host path: '\' turned into '/',
// repeated '/' merged, a trailing '/' dropped. -1 when it is not absolute or
// holds a "." or ".." component.
int MsiHostPath(std::string_view value, std::string* out);

// True when `name` may name a file or directory below an anchor.
bool MsiPlainName(std::string_view name);

// Numeric comparison of two ProductVersion texts ("1.2.3", "1.10"): <0, 0, >0.
int MsiCompareVersions(std::string_view a, std::string_view b);
