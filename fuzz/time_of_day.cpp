// Fuzzes UpdTimeOfDay: any text (NUL bytes ending it early) reads as -1 or
// a second of the day, and a time it accepts reads back the same from the
// 24-hour form the tool shows.
#include <cstdint>
#include <cstdio>
#include <string>

#include "service/schedule.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  int32_t t = UpdTimeOfDay(text.c_str());
  if (t < -1 || t > 86399) __builtin_trap();
  if (t >= 0) {
    char shown[16];
    std::snprintf(shown, sizeof shown, "%02d:%02d:%02d", t / 3600, t / 60 % 60, t % 60);
    if (UpdTimeOfDay(shown) != t) __builtin_trap();
  }
  return 0;
}
