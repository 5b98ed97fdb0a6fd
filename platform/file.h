// Files and directories.
//
// Every operation returns 0 on success and -1 on failure with the Windows
// error code in the thread's last error (platform/error.h). Operations that
// stand for a C runtime call also leave errno set, so callers can report the
// C runtime's error number where the system's messages carry it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Files opened by a fixed name are never opened through a symbolic link as
// the last component, and must be regular files; an existing file that is
// written must belong to the process's user and have no second name (hard
// link). Such a refusal fails with 5 (access denied). Files are created
// without write access for group and others, whatever the creation mask.

// What a status query tells about one path.
struct PlatFileInfo {
  int is_dir;            // 1 for a directory (the link's target for a link)
  int is_link;           // 1 when the path itself is a symbolic link
  int is_regular;        // 1 for a regular file (the link's target for a link)
  int64_t size;          // bytes
  int64_t mtime;         // last write, seconds since 1970 UTC
  int64_t creation_time; // creation time (PlatGetCreationTime of the path itself)
  uint32_t mode;         // permission bits
  uint32_t owner;        // user id of the owner (of the path itself)
  uint32_t links;        // number of names of the file (of the path itself)
};

// Queries the status of `path`; -1 with 2 (file) or 3 (path) when missing.
int PlatFileStat(const char* path, PlatFileInfo* info);

// Creates one directory with permission `mode` less write access for group
// and others; -1 with 183 when it exists.
int PlatMakeDir(const char* path, uint32_t mode);

// Deletes a file (not a directory).
int PlatDeleteFile(const char* path);

// Removes an empty directory.
int PlatRemoveDir(const char* path);

// Renames a file; fails with 183 when `to` exists already.
int PlatMoveFile(const char* from, const char* to);

// Renames a file over `to` in one step, replacing it when it exists.
int PlatReplaceFile(const char* from, const char* to);

// Copies a file's content to `to`; with fail_if_exists an existing `to` is
// an error (80), else it is overwritten. The copy is complete or absent and
// has the source's permission bits without write access for others.
int PlatCopyFile(const char* from, const char* to, int fail_if_exists);

// What bounds a PlatCopyFileThrough.
struct PlatCopyControl {
  int64_t max_bytes;          // a larger source fails with 223 (file too large); 0 = no limit
  int (*cancelled)(void* arg); // asked between chunks; non-zero ends the copy with 995 (aborted); null = never
  void* arg;                  // passed to `cancelled`
};

// PlatCopyFile whose copy is on disk before it takes the name: the data is
// copied inside the file system where it allows (else read and written in
// large chunks), its write-back started as it goes, and forced to disk
// before the rename. `control` (null: none) bounds it.
int PlatCopyFileThrough(const char* from, const char* to, int fail_if_exists, const PlatCopyControl* control);

// Reads the creation time of `path` itself (seconds since 1970 UTC): the
// time kept by PlatSetCreationTime where one is kept, else the file
// system's birth time, else its last status change. A kept value is one
// only the process's own user (the administrator for a service) can set;
// a damaged one is ignored.
int PlatGetCreationTime(const char* path, int64_t* t);

// Sets the creation time of `path` (seconds since 1970 UTC); -1 with 50
// where the file system keeps none.
int PlatSetCreationTime(const char* path, int64_t t);

// As on the system this layer stands in for, a file created under a name
// that was deleted or replaced in the last 15 seconds by this process takes
// over the creation time of the file that had the name.
constexpr int64_t kPlatCreationTunnelSeconds = 15;

// Sets the permission bits of `path`.
int PlatChmod(const char* path, uint32_t mode);

// Opens a C stream with an fopen mode ("r", "w", "a", "rb", "r+", ...);
// the stream's writes go through the fault-injectable write call. Null and
// the last error on failure.
FILE* PlatFileOpen(const char* path, const char* mode);

// Cuts the stream's file to `length` bytes and moves its position there.
int PlatFileTruncate(FILE* stream, int64_t length);

// Flushes the stream and forces its data to disk.
int PlatFileSync(FILE* stream);

// Reads a whole file into `out`.
int PlatReadFile(const char* path, std::string* out);

// Replaces `path` with `data` so that a reader sees the old or the new file,
// never a part: a temporary of a unique name beside it, created exclusively,
// written, synced, renamed over. The new file keeps the creation time of
// the one it replaces. `mode` is applied less write access for others.
int PlatWriteFileAtomic(const char* path, const std::string& data, uint32_t mode);

// Makes a path the process keeps as its own safe to use: a directory or
// file that belongs to the process's user loses write access for group and
// others (the old mode in *old_mode, else 0 there); a path owned by another
// user (its user id in *owner), or a symbolic link another user made, is
// refused with 5 (a link of the user's own or the administrator's stands
// for its target).
// A missing path is 0 with *old_mode 0. `is_dir` says what it must be.
int PlatSecureOwnPath(const char* path, int is_dir, uint32_t* old_mode, uint32_t* owner);

// Copies the current working directory into `out` (size bytes).
int PlatGetCurrentDir(char* out, size_t size);

// Changes the current working directory.
int PlatSetCurrentDir(const char* path);

// A file opened by PlatFileCreateAlways (owned by the caller until
// PlatFileHandleClose).
struct PlatFileHandle;

// Creates `path` or truncates it (read and write access, permission 0644
// less the umask; an existing file is narrowed to it). With write_through
// the data is forced to disk once, at PlatFileHandleClose; so that little
// is left for then, the write-back of every 8 MiB written is started at
// once and waited for one chunk later. Null and the last error on failure.
PlatFileHandle* PlatFileCreateAlways(const char* path, int write_through);

// Writes `len` bytes; *written tells how many reached the file. -1 with the
// last error when nothing could be written; 0 otherwise, *written short of
// `len` when the system stopped part way.
int PlatFileHandleWrite(PlatFileHandle* file, const void* data, uint32_t len, uint32_t* written);

// Forces the data to disk when the file was created write-through, then
// closes the file and frees the handle (always, even on failure). -1 with
// the last error when forcing or closing failed.
int PlatFileHandleClose(PlatFileHandle* file);
