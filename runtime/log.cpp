// Placeholder until the log writer lands.
#include "runtime/log.h"
void RVLogWrite(RVLog*, const char*, ...) {}
int RVLogOpenService(const char*) { return -1; }
RVLog* RVLogCurrent() { return nullptr; }
void RVLogSetCurrent(RVLog*) {}
void RVLogClose() {}
void RVLogSetClock(RVLogClock) {}
