// Directories of the installer's state. POSIX implementation.
#pragma once

#include <string>

// Creates a directory and its parents (mode 0755). 0, or -1 when a part of
// the path is no directory or cannot be made.
int MsiMakeDirs(const std::string& path);
