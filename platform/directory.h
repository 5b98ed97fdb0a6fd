// Listing the entries of a directory.
#pragma once

#include <string>
#include <vector>

// One entry of a directory.
struct PlatDirEntry {
  std::string name; // the entry's name, without the directory
  bool is_dir;      // a directory (a link to one counts)
};

// Lists the entries of `dir` except "." and "..", in no particular order.
// 0, or -1 with the Windows error code in the thread's last error (3 when the
// directory does not exist).
int PlatListDir(const char* dir, std::vector<PlatDirEntry>* out);
