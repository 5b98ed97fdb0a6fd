// Fuzzes UpdParseSchedule and the due test: the input is a Schedule value
// (of any length, NUL bytes ending it early). The windows made must keep
// their promises (ends at most 86,399, intervals at least 1, weekdays -1-6,
// split halves in pairs), and the due test must cope with them at any time.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>

#include "engine/config.h"
#include "fuzz/support/relocated_system.h"
#include "runtime/alloc.h"
#include "service/schedule.h"

namespace {

// Relocates the system (removed at exit), so that messages never touch the
// host's own directories.
void Relocate() {
  fuzz_support::Relocate();
  ::setenv("TZ", "EST5EDT", 1);
  ::tzset();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Relocate();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  UpdConfig* config = RVAllocRecord<UpdConfig>();
  config->install_type = UPD_INSTALL_AUTOMATIC;
  UpdParseSchedule(config, text.c_str());
  int count = 0;
  for (const UpdSchedule* w = config->schedules; w; w = w->next) {
    ++count;
    if (w->start < -1 || w->start > 86399 || w->end < -1 || w->end > 86399) __builtin_trap();
    if (w->interval < 1 || w->day_of_week < -1 || w->day_of_week > 6) __builtin_trap();
    if (w->flags & UPD_SCHED_FIRST_HALF) {
      const UpdSchedule* second = w->next;
      if (!second || second->start != 0 || second->interval != w->interval || w->end != 86399) __builtin_trap();
    }
  }
  if (count > 2) __builtin_trap();
  if (count == 2 && !(config->schedules->flags & UPD_SCHED_FIRST_HALF)) __builtin_trap();
  // The due test at a few moments spread over a week, from the input.
  uint32_t seed = 0;
  for (size_t i = 0; i < size && i < 8; ++i) seed = seed * 131 + data[i];
  for (int i = 0; i < 8; ++i) {
    int64_t now = 1710460800 + static_cast<int64_t>((seed + static_cast<uint32_t>(i) * 7919u * 97u) % 604800u);
    config->last_check = now - static_cast<int64_t>(seed % 200000u);
    const UpdSchedule* due = UpdScheduleDue(config, now);
    if (due && now - config->last_check < due->interval) __builtin_trap();
  }
  UpdFreeSchedules(config);
  RVFree(config);
  return 0;
}
