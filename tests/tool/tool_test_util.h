// What the tool's tests share.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
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
