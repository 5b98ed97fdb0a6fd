// Schedule windows: the Schedule value, the time-of-day text, the split of
// a window that runs past midnight, and the due test.
#include "service/schedule.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "engine/config.h"
#include "engine/statement_file.h"
#include "runtime/alloc.h"
#include "runtime/message.h"
#include "runtime/util.h"

namespace {

constexpr size_t kValueMax = 1023;     // longest Schedule value
constexpr int kValueTokens = 29;       // tokens of one value, taken in pairs
constexpr int32_t kDayEnd = 86399;     // last second of a day
constexpr int32_t kDefaultInterval = 3600;

// An integer as atoi reads it, saturated to the 32-bit range instead of
// undefined when out of range.
int32_t ToInt(const char* text) {
  long long v = std::strtoll(text, nullptr, 10);
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

// Applies an Interval value to *interval: a decimal number (none reads as 0,
// raised to 1) and an optional unit letter D, H, M or S (no letter: hours;
// another letter leaves *interval unchanged). The product saturates at the
// largest 32-bit interval.
void ApplyInterval(const char* value, int32_t* interval) {
  char* end = nullptr;
  long long n = std::strtoll(value, &end, 10);
  if (n < 1) n = 1;
  long long unit;
  switch (*end) {
    case '\0': unit = 3600; break;
    case 'd': case 'D': unit = 86400; break;
    case 'h': case 'H': unit = 3600; break;
    case 'm': case 'M': unit = 60; break;
    case 's': case 'S': unit = 1; break;
    default: return;
  }
  *interval = n > INT32_MAX / unit ? INT32_MAX : static_cast<int32_t>(n * unit);
}

// Applies a DayOfWeek value to *day: only the first one or two letters count.
void ApplyDayOfWeek(const char* value, int32_t* day) {
  char first = value[0];
  char second = first ? value[1] : '\0';
  auto is = [](char c, char letter) { return c == letter || c == letter - 'A' + 'a'; };
  if (is(first, 'F')) *day = 3;
  else if (is(first, 'M')) *day = 6;
  else if (is(first, 'S')) *day = is(second, 'A') ? 4 : 5;
  else if (is(first, 'T')) *day = is(second, 'U') ? 0 : 2;
  else if (is(first, 'W')) *day = 1;
}

// Appends `window` at the end of the configuration's list.
void Append(UpdConfig* config, UpdSchedule* window) {
  UpdSchedule** link = &config->schedules;
  while (*link) link = &(*link)->next;
  *link = window;
}

// The weekday number of a local date: 0 Tuesday ... 6 Monday.
int32_t WeekdayNumber(const struct tm& local) { return (local.tm_wday + 5) % 7; }

}  // namespace

void UpdParseSchedule(UpdConfig* config, const char* text) {
  if (!config || !text) return;
  size_t length = std::strlen(text);
  if (length > kValueMax) {
    // A value over the reader's buffer is refused whole rather than cut.
    UpdMessage(8, "Schedule Too Long - %.40s... ignored", text);
    return;
  }
  char value[kValueMax + 1];
  std::memcpy(value, text, length + 1);
  char* tokens[kValueTokens + 1];
  int count = RVTokenize(value, tokens, kValueTokens + 1, ",=");

  int32_t start = 0;
  int32_t end = kDayEnd;
  int32_t interval = kDefaultInterval;
  int32_t day_of_week = -1;
  int32_t day_of_month = 0;
  for (int i = 0; i < count; i += 2) {
    const char* key = tokens[i];
    if (i + 1 >= count) {
      UpdMessage(8, "Missing arg for Sched option: %s", key);
      break;
    }
    const char* arg = tokens[i + 1];
    if (UpdStmtKeyIs(key, "StartTime")) start = UpdTimeOfDay(arg);
    else if (UpdStmtKeyIs(key, "EndTime")) end = UpdTimeOfDay(arg);
    else if (UpdStmtKeyIs(key, "Interval")) ApplyInterval(arg, &interval);
    else if (UpdStmtKeyIs(key, "DayOfWeek")) ApplyDayOfWeek(arg, &day_of_week);
    else if (UpdStmtKeyIs(key, "DayOfMonth")) day_of_month = ToInt(arg);
  }

  UpdSchedule* first = RVAllocRecord<UpdSchedule>();
  first->start = start;
  first->end = end;
  first->interval = interval;
  first->day_of_week = day_of_week;
  first->day_of_month = day_of_month;
  Append(config, first);
  if (start < end) return;

  // The span runs past midnight (or starts where it ends): the first half
  // ends at midnight, the second runs from midnight on the following day.
  first->flags |= UPD_SCHED_FIRST_HALF;
  first->end = kDayEnd;
  UpdSchedule* second = RVAllocRecord<UpdSchedule>();
  second->start = 0;
  second->end = end;
  second->interval = interval;
  second->day_of_week = day_of_week < 0 ? -1 : (day_of_week + 1) % 7;
  second->day_of_month = day_of_month;
  if (day_of_month > 0) second->flags |= UPD_SCHED_YESTERDAY;
  Append(config, second);
}

int32_t UpdTimeOfDay(const char* text) {
  if (!text) return 0;
  int32_t fields[3] = {0, 0, 0}; // hours, minutes, seconds
  int field = 0;                 // the field being filled; 3 when all are closed
  int field_digits = 0;          // digits in the field being filled
  char mark = 0;                 // 'a' or 'p' once seen
  char last = 0;                 // the character before the current one
  for (const char* p = text; *p; ++p) {
    char c = *p;
    if (c >= '0' && c <= '9') {
      if (mark) return -1;
      // A run of digits: the hours and the minutes take one digit when it is
      // followed by a non-zero, even number of further digits, else two.
      size_t run = std::strspn(p, "0123456789");
      while (run > 0) {
        if (field >= 3) return -1;
        size_t take;
        if (field == 2) {
          take = run;
          if (field_digits + take > 2) return -1;
        } else {
          size_t further = run - 1;
          take = (further > 0 && further % 2 == 0) ? 1 : (run < 2 ? run : 2);
        }
        for (size_t i = 0; i < take; ++i) fields[field] = fields[field] * 10 + (p[i] - '0');
        field_digits += static_cast<int>(take);
        p += take;
        run -= take;
        if (run > 0) {
          ++field;
          field_digits = 0;
        }
      }
      --p;
      last = '0';
      continue;
    }
    if (c == ' ' || c == ':') {
      // Closes the field being filled: only after a digit of it, before a mark.
      if (mark || field_digits == 0 || field >= 3) return -1;
      ++field;
      field_digits = 0;
      last = c;
      continue;
    }
    if (c == 'a' || c == 'A' || c == 'p' || c == 'P') {
      if (mark) return -1;
      mark = (c == 'a' || c == 'A') ? 'a' : 'p';
      last = mark;
      continue;
    }
    if (c == 'm' || c == 'M') {
      if (last != 'a' && last != 'p') return -1;
      last = 'm';
      continue;
    }
    return -1;
  }
  int32_t hours = fields[0];
  if (hours > 23) return -1;
  if (mark == 'a') {
    if (hours > 12) return -1;
    if (hours == 12) hours = 0;
  } else if (mark == 'p') {
    if (hours < 12) hours += 12;
  }
  if (fields[1] >= 60 || fields[2] >= 60) return -1;
  return hours * 3600 + fields[1] * 60 + fields[2];
}

const UpdSchedule* UpdScheduleDue(const UpdConfig* config, int64_t now) {
  if (!config) return nullptr;
  if (config->install_type != UPD_INSTALL_PROMPT && config->install_type != UPD_INSTALL_AUTOMATIC) return nullptr;
  time_t t = static_cast<time_t>(now);
  time_t before = static_cast<time_t>(now - 86400);
  struct tm today;
  struct tm yesterday;
  if (!localtime_r(&t, &today) || !localtime_r(&before, &yesterday)) return nullptr;
  int32_t time_of_day = today.tm_hour * 3600 + today.tm_min * 60 + today.tm_sec;
  int32_t weekday = WeekdayNumber(today);
  for (const UpdSchedule* w = config->schedules; w; w = w->next) {
    if (now - config->last_check < w->interval) continue;
    if (w->day_of_week >= 0 && w->day_of_week != weekday) continue;
    if (w->day_of_month > 0) {
      int32_t day = (w->flags & UPD_SCHED_YESTERDAY) ? yesterday.tm_mday : today.tm_mday;
      if (w->day_of_month != day) continue;
    }
    if (w->start <= time_of_day && time_of_day <= w->end) return w;
  }
  return nullptr;
}

void UpdFreeSchedules(UpdConfig* config) {
  if (!config) return;
  UpdSchedule* w = config->schedules;
  while (w) {
    UpdSchedule* next = w->next;
    RVFree(w);
    w = next;
  }
  config->schedules = nullptr;
}
