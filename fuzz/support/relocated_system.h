// The relocated system of a fuzz program: every machine-wide directory in a
// fresh temporary directory, removed when the program ends, so that what the
// code under test writes never touches the host's own directories.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <unistd.h>

namespace fuzz_support {

// The temporary directory of the relocated system.
inline std::string& Root() {
  static std::string root;
  return root;
}

inline void RemoveRoot() {
  std::error_code ec;
  std::filesystem::remove_all(Root(), ec);
}

// Creates the temporary directory and points HOME_TQ, TQ_SYSTEM_ROOT, the
// shell folders and the profile into it; returns its path. Aborts when no
// directory can be made.
inline const std::string& Relocate() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "tqfuzz-XXXXXX").string();
  const char* dir = ::mkdtemp(tmpl.data());
  if (!dir) std::abort();
  Root() = dir;
  std::atexit(RemoveRoot);
  for (const char* name : {"HOME_TQ", "TQ_SYSTEM_ROOT", "TQ_FOLDER_PROGRAM_FILES", "TQ_FOLDER_COMMON_APPDATA",
                           "TQ_FOLDER_APPDATA", "TQ_FOLDER_DOCUMENTS"})
    ::setenv(name, dir, 1);
  std::string profile = Root() + "/PROFILE.TQ";
  ::setenv("PROFILETQENV", profile.c_str(), 1);
  return Root();
}

}  // namespace fuzz_support
