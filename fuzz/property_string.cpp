// Fuzzes the installer's property string parser: no input may crash it, and
// what it accepts, written back, reads as the same pairs.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/installer/property_string.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<MsiProperty> props;
  if (MsiParsePropertyString(text, &props) != 0) {
    if (!props.empty()) __builtin_trap();
    return 0;
  }
  std::string again = MsiFormatPropertyString(props);
  if (again.size() > kMsiMaxPropertyString) return 0;  // quoting may make it too long
  std::vector<MsiProperty> back;
  if (MsiParsePropertyString(again, &back) != 0 || back.size() != props.size()) __builtin_trap();
  for (size_t i = 0; i < props.size(); i++) {
    if (back[i].name != props[i].name || back[i].value != props[i].value) __builtin_trap();
  }
  return 0;
}
