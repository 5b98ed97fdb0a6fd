// Where the registry hive lives: reading it, the writers' lock, replacing
// it. One implementation per OS (platform/posix/registry.cpp); internal to
// the registry concern. Every function returns a Windows error code.
#pragma once

#include <cstdint>
#include <string>

// Largest hive file read or written (64 MiB): a larger file is taken as
// damaged (ERROR_BADDB) and left alone, and a change that would make the
// hive larger is refused.
constexpr int64_t kPlatRegMaxHiveBytes = 64 * 1024 * 1024;

// What tells one version of the hive file from another.
struct PlatRegStamp {
  int present;      // 1 when the file existed; 0 = missing (an empty hive)
  uint64_t device;  // file system of the file
  uint64_t inode;   // the file's number in it
  int64_t size;     // bytes
  int64_t mtime_ns; // last write
  int64_t ctime_ns; // last status change
};

// Reads the hive at `path` unless it is still the version `known` (null =
// none known): then *changed is 0 and *text untouched. Otherwise *changed is
// 1, *text holds the file (empty when missing) and *stamp its version; a
// file above kPlatRegMaxHiveBytes gives ERROR_BADDB. The
// store keeps the file of the stamp it last returned open, so its identity
// cannot pass to another file while a caller relies on it.
uint32_t PlatRegStoreRead(const char* path, const PlatRegStamp* known, int* changed, std::string* text,
                          PlatRegStamp* stamp);

// Takes the writers' lock `lock_path` (created with its directories when
// missing), waiting for it; *token identifies it for the unlock.
uint32_t PlatRegStoreLock(const char* lock_path, int* token);

// Releases the writers' lock.
void PlatRegStoreUnlock(int token);

// Replaces the hive at `path` with `text` in one step: a reader sees the old
// or the new file. With `keep_old` the old file is first copied to
// `keep_old` (failing the replacement when that fails). *stamp gets the new
// file's version. The caller holds the writers' lock.
uint32_t PlatRegStoreReplace(const char* path, const std::string& text, const char* keep_old, PlatRegStamp* stamp);
