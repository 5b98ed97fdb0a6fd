// tqlayout: checks layout files and prints their geometry.
#include <cstdio>

#include "platform/window.h"
#include "tool/layout_command.h"

int main(int argc, char** argv) {
#ifdef TQ_TOOL_HAS_FLTK
  const PlatWindowOps* windowed = PlatWindowFltk();
#else
  const PlatWindowOps* windowed = nullptr;
#endif
  return LayoutCommandMain(argc, argv, windowed, stdout, stderr);
}
