// Installed products and version numbers: what the registry says is
// installed, and the clean-up of downloaded packages.
#pragma once

#include <cstdint>
#include <string>

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

// The path of an entry's package: "<work directory>/<local file name>".
std::string UpdPackagePath(const UpdEntry* entry);

// Opens the package at `path`, reads its property `name` into `buf` (`size`
// bytes) and closes it again. Returns the result of the open; *property_rc
// receives the result of the read (untouched when the open failed).
uint32_t UpdReadPackageProperty(const char* path, const char* name, char* buf, uint32_t size, uint32_t* property_rc);

// Deletes downloaded packages of products that are not installed from the
// work directory. A package of pending work is never deleted: one the work
// file names, or one of a skip-clear entry of the configuration's work
// list; nothing is deleted when the work file cannot be read.
void UpdPurgePackages();
