// The machine registry: the HKEY_LOCAL_MACHINE hive kept as a ".reg" text
// file under TQ_SYSTEM_ROOT/registry/HKLM.reg.
//
// Keys are compared without regard to case; subkeys and values enumerate in
// file order. Every function returns a Windows error code (ERROR_SUCCESS,
// ERROR_FILE_NOT_FOUND, ERROR_NO_MORE_ITEMS, ERROR_MORE_DATA, ...), as the
// Windows registry functions do. Writers are serialised by a lock and replace
// the file in one step, so a reader sees the old or the new hive.
#pragma once

#include <cstdint>

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
// buffer size on entry and the name's length on success; ERROR_MORE_DATA
// when it does not fit, ERROR_NO_MORE_ITEMS past the last one.
uint32_t PlatRegEnumKey(PlatHKey key, uint32_t index, char* name, uint32_t* name_size);

// Name, type and data of the index-th value (file order). `*name_size` and
// `*data_size` in/out as above; null data pointers skip that part.
uint32_t PlatRegEnumValue(PlatHKey key, uint32_t index, char* name, uint32_t* name_size, uint32_t* type,
                          void* data, uint32_t* data_size);

// Type and data of the named value ("" or null = the default value).
uint32_t PlatRegQueryValue(PlatHKey key, const char* name, uint32_t* type, void* data, uint32_t* data_size);

// Sets a value (REG_SZ data includes its terminator; REG_DWORD is 4 bytes).
uint32_t PlatRegSetValue(PlatHKey key, const char* name, uint32_t type, const void* data, uint32_t data_size);

// Deletes one value.
uint32_t PlatRegDeleteValue(PlatHKey key, const char* name);

// Deletes a key and everything below it.
uint32_t PlatRegDeleteTree(PlatHKey root, const char* subkey);
