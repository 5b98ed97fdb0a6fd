// The local file that receives a response body.
#pragma once

#include <cstdint>

struct PlatFileHandle;

// One local file being written.
struct UpdLocalFile {
  PlatFileHandle* handle; // the open file, or null once closed
  const char* path;       // its path (the caller's text)
};

// Creates or truncates `path`, its data forced to disk when it is closed.
// 0, or -1 after logging "Error: %d Creating File: %s" and deleting the path.
int UpdLocalFileCreate(UpdLocalFile* file, const char* path);

// Writes `len` bytes with one write. 0, or -1 after logging
// "WriteFile() Error: %d File: %s" or "WriteFile() Only Write %d bytes
// instead of: %d File: %s".
int UpdLocalFileWrite(UpdLocalFile* file, const char* data, uint32_t len);

// Closes the file with its data on disk. 0, or -1 after logging and
// deleting the file.
int UpdLocalFileFinish(UpdLocalFile* file);

// Closes the file if it is open and deletes it.
void UpdLocalFileDiscard(UpdLocalFile* file);
