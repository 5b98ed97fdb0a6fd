// The test-only trace.
#include "gui/test_trace.h"

#include <mutex>

#include "platform/file.h"
#include "platform/system.h"

void GUITestTrace(const std::string& line) {
  static std::mutex mutex;
  const char* trace = PlatEnvGet("TQ_TEST_TRACE");
  if (!trace || !*trace) return;
  std::lock_guard<std::mutex> lock(mutex);
  std::string old;
  PlatReadFile(trace, &old);
  PlatWriteFileAtomic(trace, old + line + "\n", 0600);
}
