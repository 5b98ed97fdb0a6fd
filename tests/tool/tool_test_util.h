// What the tool's tests share.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/temp_system.h"

// The shipped font definitions, installed into a relocated system's etc/
// (the default etc_dir), as an installation has them.
inline void ToolInstallFontFile(const TempSystem& sys) {
  std::ifstream in(TQ_SOURCE_DIR "/dist/etc/tqsfont.def");
  std::stringstream text;
  text << in.rdbuf();
  sys.WriteFile("home-tq/etc/tqsfont.def", text.str());
}
