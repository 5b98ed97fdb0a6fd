// The tables of an installer package that the installer layer acts on, as
// plain records. Portable: filled by the package reader, read by the
// planner.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// One row of the Directory table.
struct MsiDirectoryRow {
  std::string id;          // Directory: the directory's key (and property name)
  std::string parent;      // Directory_Parent: "" (null) or equal to id = a root
  std::string default_dir; // DefaultDir: "[target:]source", each "short|long" or "."
};

// One row of the Component table.
struct MsiComponentRow {
  std::string id;        // Component
  std::string directory; // Directory_: where the component's files go
};

// One row of the File table.
struct MsiFileRow {
  std::string key;       // File: the key, also the file's name inside its cabinet
  std::string component; // Component_
  std::string file_name; // FileName: "short|long" or one name
  int64_t size;          // FileSize in bytes
  int32_t sequence;      // Sequence: position in the media, maps to a Media row
};

// One row of the Media table.
struct MsiMediaRow {
  int32_t disk_id;       // DiskId
  int32_t last_sequence; // LastSequence: highest file sequence on this medium
  std::string cabinet;   // Cabinet: "#stream" embedded, "name" beside the package, "" none
};

// One row of the Registry table.
struct MsiRegistryRow {
  std::string id;        // Registry
  int32_t root;          // Root: -1 per installation type, 0 HKCR, 1 HKCU, 2 HKLM, 3 HKU
  std::string key;       // Key (formatted text)
  std::string name;      // Name (formatted); "" with name_null = the default value
  bool name_null;        // Name was null
  std::string value;     // Value (formatted, with its '#' type prefixes)
  bool value_null;       // Value was null: only the key is meant
  std::string component; // Component_
};

// One row of the ServiceControl table.
struct MsiServiceControlRow {
  std::string id;        // ServiceControl
  std::string name;      // Name (formatted): the service
  int32_t event;         // Event bits: 0x1 start, 0x2 stop, 0x8 delete (install); 0x10, 0x20, 0x80 (removal)
  int32_t wait;          // Wait: 1 = the installation waits for the service's state
  std::string component; // Component_
};

// What the installer reads of one package.
struct MsiPackage {
  std::string path;                               // the package file on this host
  std::map<std::string, std::string> properties;  // Property table
  std::vector<MsiDirectoryRow> directories;       // Directory table
  std::vector<MsiComponentRow> components;        // Component table
  std::vector<MsiFileRow> files;                  // File table
  std::vector<MsiMediaRow> media;                 // Media table, by LastSequence
  std::vector<MsiRegistryRow> registry;           // Registry table
  std::vector<MsiServiceControlRow> services;     // ServiceControl table
};

// ServiceControl event bits the installer acts on.
enum : int32_t {
  MSI_SERVICE_STOP_INSTALL = 0x2,
  MSI_SERVICE_STOP_UNINSTALL = 0x20,
};
