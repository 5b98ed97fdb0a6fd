// Fuzzes the settings file reader and the escape conversion of its values:
// no input may crash or make either read or write past its buffers.
#include <cstdint>
#include <cstring>
#include <vector>

#include "runtime/env.h"
#include "runtime/report.h"
#include "runtime/settings_file.h"

namespace {

void Quiet(const char*) {}

void Entry(const char* name, const char* value) {
  if (std::strlen(name) > kRVSettingsLineMax) __builtin_trap();
  if (!value) return;
  size_t len = std::strlen(value);
  if (len > kRVSettingsLineMax) __builtin_trap();
  std::vector<char> out(len + 1);
  int errors = 0;
  int used = conv_line(out.data(), value, &errors);
  if (used < 0 || static_cast<size_t>(used) > len) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  RVReportHooks hooks = {Quiet, Quiet, Quiet};
  RVSetReportHooks(&hooks);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  RVParseSettings(reinterpret_cast<const char*>(data), size, Entry);
  return 0;
}
