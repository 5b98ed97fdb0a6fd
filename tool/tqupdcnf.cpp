// tqupdcnf: the configuration tool of the update service.
#include "platform/window.h"
#include "tool/tool_main.h"

int main(int argc, char** argv) {
#ifdef TQ_TOOL_HAS_FLTK
  const PlatWindowOps* windowed = PlatWindowFltk();
#else
  const PlatWindowOps* windowed = PlatWindowHeadless();
#endif
  return ToolMain(argc, argv, windowed);
}
