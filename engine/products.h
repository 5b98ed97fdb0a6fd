// Installed products and version numbers: what the registry says is
// installed, and the clean-up of downloaded packages.
#pragma once

#include <cstdint>

struct UpdEntry;

// Converts a version text ("6.7.5-01", "6.7.501", "10.2") into a version
// number, two decimal digits per part (6070501). Logs
// "Converted VersionStr: %s to %u".
uint32_t UpdVersionNumber(const char* text);

// UpdVersionNumber without the log line.
uint32_t UpdVersionNumberOf(const char* text);

// Renders a version number as "%d.%d.%d-%02d" into out (at least 32 bytes).
void UpdVersionText(uint32_t number, char* out, int size);

// Refreshes an entry's installed bit, installed version, install directory,
// product code and upgrade code from the product's registry key. Products
// whose name does not end in "-win64" or "-win32" are left unchanged.
void UpdProductInfo(UpdEntry* entry);

// Deletes downloaded packages of products that are not installed from the
// work directory.
void UpdPurgePackages();
