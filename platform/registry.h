// The machine registry: the HKEY_LOCAL_MACHINE hive kept as a ".reg" text
// file under TQ_SYSTEM_ROOT/registry/HKLM.reg.
//
// Keys are compared without regard to case; subkeys and values enumerate in
// file order. Every function returns a Windows error code (ERROR_SUCCESS,
// ERROR_FILE_NOT_FOUND, ERROR_NO_MORE_ITEMS, ERROR_MORE_DATA, ...), as the
// Windows registry functions do. Writers are serialised by a lock and replace
// the file in one step, so a reader sees the old or the new hive.
//
// Names: a key name component holds at most 255 characters and no control
// characters or "/" (both "\" and "/" separate components in a subkey path);
// a value name holds at most 16,383 characters and no line breaks. Case is
// ignored for the letters A-Z only (text is 8-bit). A handle names its key by
// path: a handle whose key was deleted answers ERROR_KEY_DELETED, and a key
// created again under the same path is the same key to it. A handle opened
// without write access gets ERROR_ACCESS_DENIED for changes; a hive that
// cannot be written (or would grow above 64 MiB) gives ERROR_ACCESS_DENIED
// too. Damaged lines of the hive are skipped on reading (the next write
// keeps that version beside it as "HKLM.reg.bad"); a hive file above
// 64 MiB is not read at all (ERROR_BADDB).
#pragma once

#include <cstdint>
#include <string>

struct PlatRegKey;
typedef PlatRegKey* PlatHKey;

// The one predefined root key.
extern PlatHKey const PLAT_HKEY_LOCAL_MACHINE;

enum : uint32_t {
  PLAT_REG_NONE = 0,
  PLAT_REG_SZ = 1,        // text, stored with its terminator
  PLAT_REG_EXPAND_SZ = 2, // text with %VAR% references
  PLAT_REG_BINARY = 3,    // bytes
  PLAT_REG_DWORD = 4,     // 32-bit number
};

enum : uint32_t {
  PLAT_KEY_READ = 0x20019,
  PLAT_KEY_WRITE = 0x20006,
  PLAT_KEY_ALL_ACCESS = 0xF003F,
};

// Opens an existing key below `root` ("SOFTWARE\\TQ Software", "\" or "/"
// separated). ERROR_FILE_NOT_FOUND when it does not exist.
uint32_t PlatRegOpenKey(PlatHKey root, const char* subkey, uint32_t access, PlatHKey* out);

// Opens a key, creating it and its parents when missing.
uint32_t PlatRegCreateKey(PlatHKey root, const char* subkey, PlatHKey* out);

// Closes a key handle (the predefined root may be passed and is ignored).
uint32_t PlatRegCloseKey(PlatHKey key);

// Name of the index-th direct subkey (file order). `*name_size` holds the
// buffer size on entry (terminator included) and the name's length on
// success; ERROR_MORE_DATA when it does not fit, with the buffer size it
// needs (length + 1) stored; ERROR_NO_MORE_ITEMS past the last one.
uint32_t PlatRegEnumKey(PlatHKey key, uint32_t index, char* name, uint32_t* name_size);

// Name, type and data of the index-th value (file order). `*name_size` and
// `*data_size` in/out as above (a data size counts bytes; on ERROR_MORE_DATA
// both hold what is needed); null data pointers skip that part, and a null
// `data` with a `data_size` asks for the size only.
uint32_t PlatRegEnumValue(PlatHKey key, uint32_t index, char* name, uint32_t* name_size, uint32_t* type,
                          void* data, uint32_t* data_size);

// Type and data of the named value ("" or null = the default value);
// `*data_size` in/out as for PlatRegEnumValue.
uint32_t PlatRegQueryValue(PlatHKey key, const char* name, uint32_t* type, void* data, uint32_t* data_size);

// Sets a value (REG_SZ data includes its terminator; REG_DWORD is 4 bytes).
// Text values (REG_SZ, REG_EXPAND_SZ) end at their first zero byte; other
// types keep their bytes as given.
uint32_t PlatRegSetValue(PlatHKey key, const char* name, uint32_t type, const void* data, uint32_t data_size);

// Deletes one value.
uint32_t PlatRegDeleteValue(PlatHKey key, const char* name);

// Deletes a key and everything below it; with an empty or null `subkey`,
// the values and subkeys of `root` itself (not of the predefined root).
uint32_t PlatRegDeleteTree(PlatHKey root, const char* subkey);

// Applies a registry script (".reg" text: "Windows Registry Editor Version
// 5.00" or "REGEDIT4", 8-bit or UTF-16LE) to the hive in one step: all of
// it or, when any line is malformed or names another root than
// HKEY_LOCAL_MACHINE, nothing (ERROR_INVALID_DATA, that line's number in
// `*bad_line`, 1 = the first).
uint32_t PlatRegImport(const std::string& script, int* bad_line);

// Writes `key` and everything below it as a registry script into `*out`.
uint32_t PlatRegExport(PlatHKey key, std::string* out);
