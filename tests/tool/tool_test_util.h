// What the tool's tests share.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

#include "tests/support/temp_system.h"

// The shipped font definitions, installed into a relocated system's etc/
// (the default etc_dir), as an installation has them.
inline void ToolInstallFontFile(const TempSystem& sys) {
  std::ifstream in(TQ_SOURCE_DIR "/dist/etc/tqsfont.def");
  std::stringstream text;
  text << in.rdbuf();
  sys.WriteFile("home-tq/etc/tqsfont.def", text.str());
}

// The lines of the tool's test-only trace file `trace.txt` in `sys`.
inline std::vector<std::string> ToolTraceLines(const TempSystem& sys) {
  std::vector<std::string> lines;
  std::string text = sys.ReadFile("trace.txt");
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// Starts the program at `path` with `args` as a child process; its pid.
inline pid_t ToolSpawn(const std::string& path, const std::vector<std::string>& args) {
  pid_t pid = ::fork();
  if (pid == 0) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(path.c_str(), argv.data());
    ::_exit(127);
  }
  return pid;
}
