// Schedule windows: when scheduled update checks are due.
#pragma once

#include <cstdint>

struct UpdConfig;

enum : uint32_t {
  UPD_SCHED_YESTERDAY = 0x1,   // compare the day of the month with yesterday's date
  UPD_SCHED_FIRST_HALF = 0x2,  // first half of a window past midnight; the second half follows
};

// One schedule window, kept in the configuration's list in creation order.
struct UpdSchedule {
  UpdSchedule* next;    // next window in the list
  uint32_t flags;       // UPD_SCHED_* bits
  int32_t start;        // seconds after local midnight; -1 when invalid
  int32_t end;          // seconds after local midnight, at most 86,399; -1 when invalid
  int32_t interval;     // minimum seconds between checks, at least 1
  int32_t day_of_week;  // -1 any day; 0 Tuesday ... 6 Monday
  int32_t day_of_month; // 0 or less any day; else 1-31
};

// Parses one schedule text ("StartTime=4am,EndTime=6am,Interval=1D,...")
// and appends one or two windows to config->schedules.
void UpdParseSchedule(UpdConfig* config, const char* text);

// Seconds after midnight (0-86,399) of a time-of-day text, or -1 when invalid.
int32_t UpdTimeOfDay(const char* text);

// The first window of the list that is due at `now` (seconds since 1970
// UTC, judged in the local time zone) given the last check time, or null.
// Install type OnRequest (3) never has a due window.
const UpdSchedule* UpdScheduleDue(const UpdConfig* config, int64_t now);

// Frees every window of config->schedules.
void UpdFreeSchedules(UpdConfig* config);
