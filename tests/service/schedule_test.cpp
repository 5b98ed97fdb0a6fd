// Schedule windows: time-of-day texts (valid and invalid), Schedule values
// (keys, interval units, day names, missing values, the 29-token limit,
// over-long values), the split at midnight with the YESTERDAY flag, and the
// due test across days, intervals, install types and time zones with an
// injected clock.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "engine/config.h"
#include "runtime/alloc.h"
#include "runtime/log.h"
#include "runtime/message.h"
#include "runtime/mutex.h"
#include "service/schedule.h"
#include "tests/support/log_texts.h"
#include "tests/support/temp_system.h"

namespace {

constexpr int64_t kDay = 86400;
constexpr int64_t kFri15Mar2024 = 1710460800; // 2024-03-15 00:00:00 UTC, a Friday
constexpr int64_t kMon1Apr2024 = 1711929600;  // 2024-04-01 00:00:00 UTC, a Monday

// A relocated system, a log of the test's own, and a fixed time zone.
class Schedules : public testing::Test {
 protected:
  void SetUp() override {
    sys_ = std::make_unique<TempSystem>();
    SetZone("UTC0");
    RVLog* log = RVAllocRecord<RVLog>();
    log->flags = RV_LOG_IN_USE;
    log->keep_count = 1;
    std::snprintf(log->file_name, sizeof log->file_name, "%s", sys_->path("log.txt").c_str());
    log->mutex = RVMutexAlloc();
    RVMutexCreate(log->mutex, nullptr);
    RVLogSetCurrent(log);
    UpdMessageSetLogLevel(-1);
    config_ = RVAllocRecord<UpdConfig>();
  }

  void TearDown() override {
    UpdFreeSchedules(config_);
    RVFree(config_);
    RVLogClose();
    UpdMessageSetLogLevel(-1);
    sys_.reset();
    ::tzset();
  }

  void SetZone(const char* tz) {
    sys_->SetEnv("TZ", tz);
    ::tzset();
  }

  // Message texts logged since the last call.
  std::vector<std::string> Texts() { return TqLogTexts(sys_->ReadFile("log.txt"), &consumed_, false); }

  // The windows of `texts` parsed into a fresh list.
  std::string Parse(const std::vector<std::string>& texts) {
    UpdFreeSchedules(config_);
    for (const std::string& t : texts) UpdParseSchedule(config_, t.c_str());
    std::string out;
    for (const UpdSchedule* w = config_->schedules; w; w = w->next)
      out += "[" + std::to_string(w->start) + "," + std::to_string(w->end) + "," + std::to_string(w->interval) + "," +
             std::to_string(w->day_of_week) + "," + std::to_string(w->day_of_month) + "," + std::to_string(w->flags) +
             "]";
    return out;
  }

  // Index of the due window at `now`, or -1.
  int Due(int64_t now) {
    const UpdSchedule* due = UpdScheduleDue(config_, now);
    int i = 0;
    for (const UpdSchedule* w = config_->schedules; w; w = w->next, ++i)
      if (w == due) return i;
    EXPECT_EQ(due, nullptr);
    return -1;
  }

  std::unique_ptr<TempSystem> sys_;
  UpdConfig* config_ = nullptr;
  size_t consumed_ = 0;
};

TEST_F(Schedules, TimeOfDay) {
  struct Case {
    const char* text;
    int32_t seconds;
  } cases[] = {
      // Examples.
      {"4am", 14400}, {"6am", 21600}, {"12:00am", 0}, {"12pm", 43200}, {"16:30", 59400}, {"4:30:15pm", 59415},
      {"", 0}, {"25:00", -1}, {"13am", -1}, {"4x", -1},
      // Runs of digits.
      {"430", 16200}, {"1630", 59400}, {"43000", 16200}, {"163000", 59400}, {"123", 4980}, {"4", 14400},
      {"12", 43200}, {"0", 0}, {"2359", 86340}, {"235959", 86399}, {"1234567", -1}, {"4:530", 14730},
      {"4:30:150", -1}, {"99", -1},
      // Separators and marks.
      {"4:30 pm", 59400}, {"4 PM", 57600}, {"4P", 57600}, {"4pM", 57600}, {"12:00AM", 0}, {"12:30am", 1800},
      {"11:59:59pm", 86399}, {"23:59:59", 86399}, {"1:2:3", 3723}, {"4 ", 14400}, {"16:30pm", 59400},
      {"0pm", 43200}, {"13pm", 46800}, {"am", 0}, {"pm", 43200}, {"12 am", 0}, {"12:00 pm", 43200},
      // Invalid texts.
      {"24:00", -1}, {"12:60", -1}, {"12:00:60", -1}, {"4pm5", -1}, {"4pmm", -1}, {"4m", -1}, {"4apm", -1},
      {"4pa", -1}, {" 4", -1}, {":30", -1}, {"4::30", -1}, {"4 :30", -1}, {"4-30", -1}, {"4.30", -1},
      {"12:00:00:00", -1}, {"4:30:15 1", -1}, {"4pm ", -1}, {"four", -1}, {"\xff", -1}, {"4\t30", -1},
  };
  for (const Case& c : cases) EXPECT_EQ(UpdTimeOfDay(c.text), c.seconds) << "\"" << c.text << "\"";
  EXPECT_EQ(UpdTimeOfDay(nullptr), 0);
}

TEST_F(Schedules, ParseTable) {
  struct Case {
    std::vector<std::string> texts;
    std::string windows; // [start,end,interval,dow,dom,flags]...
  } cases[] = {
      {{""}, "[0,86399,3600,-1,0,0]"},
      // Split at midnight; day of week and day of month follow the second half.
      {{"StartTime=10pm,EndTime=2am,DayOfWeek=Friday"}, "[79200,86399,3600,3,0,2][0,7200,3600,4,0,0]"},
      {{"StartTime=10pm,EndTime=2am,DayOfWeek=Monday"}, "[79200,86399,3600,6,0,2][0,7200,3600,0,0,0]"},
      {{"StartTime=10pm,EndTime=2am,DayOfMonth=15"}, "[79200,86399,3600,-1,15,2][0,7200,3600,-1,15,1]"},
      {{"StartTime=10pm,EndTime=2am"}, "[79200,86399,3600,-1,0,2][0,7200,3600,-1,0,0]"},
      {{"StartTime=4am,EndTime=4am"}, "[14400,86399,3600,-1,0,2][0,14400,3600,-1,0,0]"},
      {{"StartTime=4am"}, "[14400,86399,3600,-1,0,0]"},
      {{"EndTime=6am"}, "[0,21600,3600,-1,0,0]"},
      {{"StartTime=4am,EndTime=6am,Interval=1D"}, "[14400,21600,86400,-1,0,0]"},
      // Invalid times.
      {{"StartTime=25:00,EndTime=6am"}, "[-1,21600,3600,-1,0,0]"},
      {{"StartTime=4am,EndTime=bad"}, "[14400,86399,3600,-1,0,2][0,-1,3600,-1,0,0]"},
      // Keys: any case, in full; unknown keys ignored; later keys override.
      {{"starttime=4AM,ENDTIME=5am"}, "[14400,18000,3600,-1,0,0]"},
      {{"Start=4am,StartTimes=5am,Foo=bar"}, "[0,86399,3600,-1,0,0]"},
      {{"StartTime=4am,StartTime=5am"}, "[18000,86399,3600,-1,0,0]"},
      // A blank inside the value leaves " EndTime" unrecognised.
      {{"StartTime=4am, EndTime=6am"}, "[14400,86399,3600,-1,0,0]"},
      // Several values append in order.
      {{"StartTime=1am,EndTime=2am", "StartTime=11pm,EndTime=1am", "EndTime=3am"},
       "[3600,7200,3600,-1,0,0][82800,86399,3600,-1,0,2][0,3600,3600,-1,0,0][0,10800,3600,-1,0,0]"},
  };
  for (const Case& c : cases) EXPECT_EQ(Parse(c.texts), c.windows) << c.texts[0];
  EXPECT_EQ(Texts(), std::vector<std::string>{});
}

TEST_F(Schedules, IntervalAndDays) {
  struct Case {
    const char* text;
    int32_t interval;
    int32_t day_of_week;
    int32_t day_of_month;
  } cases[] = {
      {"Interval=0M", 60, -1, 0},       {"Interval=2", 7200, -1, 0},      {"Interval=90S", 90, -1, 0},
      {"Interval=90s", 90, -1, 0},      {"Interval=2d", 172800, -1, 0},   {"Interval=3h", 10800, -1, 0},
      {"Interval=Daily", 86400, -1, 0}, {"Interval=Hourly", 3600, -1, 0}, {"Interval=1Hour", 3600, -1, 0},
      {"Interval=30Min", 1800, -1, 0},  {"Interval=24Hour", 86400, -1, 0}, {"Interval=Weekly", 3600, -1, 0},
      {"Interval=2H,Interval=Weekly", 7200, -1, 0}, {"Interval=-5M", 60, -1, 0}, {"Interval=5x", 3600, -1, 0},
      {"Interval= 5", 18000, -1, 0},    {"Interval=99999999999999999999D", INT32_MAX, -1, 0},
      {"Interval=24856D", INT32_MAX, -1, 0}, {"Interval=24855D", 2147472000, -1, 0},
      {"DayOfWeek=sat", 3600, 4, 0},    {"DayOfWeek=SUNDAY", 3600, 5, 0}, {"DayOfWeek=Thu", 3600, 2, 0},
      {"DayOfWeek=Tue", 3600, 0, 0},    {"DayOfWeek=Wed", 3600, 1, 0},    {"DayOfWeek=friday", 3600, 3, 0},
      {"DayOfWeek=M", 3600, 6, 0},      {"DayOfWeek=S", 3600, 5, 0},      {"DayOfWeek=T", 3600, 2, 0},
      {"DayOfWeek=None", 3600, -1, 0},  {"DayOfWeek=Fri,DayOfWeek=None", 3600, 3, 0},
      {"DayOfWeek=\"\"", 3600, -1, 0},  {"DayOfMonth=15", 3600, -1, 15},  {"DayOfMonth=31", 3600, -1, 31},
      {"DayOfMonth=0", 3600, -1, 0},    {"DayOfMonth=x", 3600, -1, 0},    {"DayOfMonth=-4", 3600, -1, -4},
      {"DayOfMonth=99999999999", 3600, -1, INT32_MAX},
  };
  for (const Case& c : cases) {
    Parse({c.text});
    ASSERT_NE(config_->schedules, nullptr);
    EXPECT_EQ(config_->schedules->interval, c.interval) << c.text;
    EXPECT_EQ(config_->schedules->day_of_week, c.day_of_week) << c.text;
    EXPECT_EQ(config_->schedules->day_of_month, c.day_of_month) << c.text;
    EXPECT_EQ(config_->schedules->next, nullptr) << c.text;
  }
}

// A key without a value ends the value with a level-8 message; the window is
// still made from what was read. The value holds at most 29 tokens.
TEST_F(Schedules, MissingValues) {
  struct Case {
    std::string text;
    std::string windows;
    std::vector<std::string> messages;
  } cases[] = {
      {"StartTime", "[0,86399,3600,-1,0,0]", {"Missing arg for Sched option: StartTime"}},
      {"StartTime=4am,EndTime", "[14400,86399,3600,-1,0,0]", {"Missing arg for Sched option: EndTime"}},
      {"StartTime=4am,", "[14400,86399,3600,-1,0,0]", {}},
      {"StartTime==4am", "[14400,86399,3600,-1,0,0]", {}},
      // 14 pairs, then StartTime as the 29th token: its value is cut off.
      {"A=1,B=1,C=1,D=1,E=1,F=1,G=1,H=1,I=1,J=1,K=1,L=1,M=1,N=1,StartTime=4am", "[0,86399,3600,-1,0,0]",
       {"Missing arg for Sched option: StartTime"}},
      {"A=1,B=1,C=1,D=1,E=1,F=1,G=1,H=1,I=1,J=1,K=1,L=1,M=1,StartTime=4am,EndTime=6am", "[14400,86399,3600,-1,0,0]",
       {"Missing arg for Sched option: EndTime"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Parse({c.text}), c.windows) << c.text;
    EXPECT_EQ(Texts(), c.messages) << c.text;
  }
  // The message's level is 8: logged from LogLevel 1 on.
  UpdMessageSetLogLevel(0);
  Parse({"StartTime"});
  EXPECT_EQ(Texts(), std::vector<std::string>{});
  UpdMessageSetLogLevel(1);
  Parse({"StartTime"});
  EXPECT_EQ(Texts(), std::vector<std::string>{"Missing arg for Sched option: StartTime"});
}

// A value over 1,023 characters (the reader never passes one) is refused
// whole; 1,023 characters are read.
TEST_F(Schedules, OverlongValue) {
  std::string value = "StartTime=4am,";
  while (value.size() < 1023) value += "X";
  value.resize(1023);
  EXPECT_EQ(Parse({value}), "[14400,86399,3600,-1,0,0]");
  EXPECT_EQ(Texts(), std::vector<std::string>{("Missing arg for Sched option: " + value.substr(14)).substr(0, 1023)});
  std::string longer = "StartTime=4am," + std::string(1986, 'X');
  EXPECT_EQ(Parse({longer}), "");
  EXPECT_EQ(Texts(), std::vector<std::string>{"Schedule Too Long - StartTime=4am,XXXXXXXXXXXXXXXXXXXXXXXXXX... ignored"});
}

// The due test: interval since the last check, weekday (0 = Tuesday), day of
// month (yesterday's for a second half), the span with both ends included.
TEST_F(Schedules, DueTable) {
  const int64_t fri = kFri15Mar2024;
  const int64_t h = 3600;
  struct Case {
    const char* name;
    std::vector<std::string> windows;
    uint16_t install_type;
    int64_t last_check;
    int64_t now;
    int due;
  } cases[] = {
      {"default before", {"StartTime=4am,EndTime=6am,Interval=1D"}, 2, 0, fri + 4 * h - 1, -1},
      {"default at start", {"StartTime=4am,EndTime=6am,Interval=1D"}, 2, 0, fri + 4 * h, 0},
      {"default at end", {"StartTime=4am,EndTime=6am,Interval=1D"}, 2, 0, fri + 6 * h, 0},
      {"default after", {"StartTime=4am,EndTime=6am,Interval=1D"}, 2, 0, fri + 6 * h + 1, -1},
      {"interval not over", {"StartTime=4am,EndTime=6am,Interval=1D"}, 2, fri + 5 * h - kDay + 1, fri + 5 * h, -1},
      {"interval just over", {"StartTime=4am,EndTime=6am,Interval=1D"}, 2, fri + 5 * h - kDay, fri + 5 * h, 0},
      {"prompt", {"Interval=1H"}, 1, 0, fri, 0},
      {"on request", {"Interval=1H"}, 3, 0, fri, -1},
      {"no install type", {"Interval=1H"}, 0, 0, fri, -1},
      // 10pm-2am on Fridays: Friday night and the early Saturday morning.
      {"fri 23:00", {"StartTime=10pm,EndTime=2am,DayOfWeek=Friday"}, 2, 0, fri + 23 * h, 0},
      {"sat 01:00", {"StartTime=10pm,EndTime=2am,DayOfWeek=Friday"}, 2, 0, fri + kDay + h, 1},
      {"sat 02:00", {"StartTime=10pm,EndTime=2am,DayOfWeek=Friday"}, 2, 0, fri + kDay + 2 * h, 1},
      {"sat 02:01", {"StartTime=10pm,EndTime=2am,DayOfWeek=Friday"}, 2, 0, fri + kDay + 2 * h + 60, -1},
      {"fri 01:00", {"StartTime=10pm,EndTime=2am,DayOfWeek=Friday"}, 2, 0, fri + h, -1},
      {"sat 23:00", {"StartTime=10pm,EndTime=2am,DayOfWeek=Friday"}, 2, 0, fri + kDay + 23 * h, -1},
      // 10pm-2am on the 15th: the night of the 15th into the 16th.
      {"15th 23:00", {"StartTime=10pm,EndTime=2am,DayOfMonth=15"}, 2, 0, fri + 23 * h, 0},
      {"16th 01:00", {"StartTime=10pm,EndTime=2am,DayOfMonth=15"}, 2, 0, fri + kDay + h, 1},
      {"15th 01:00", {"StartTime=10pm,EndTime=2am,DayOfMonth=15"}, 2, 0, fri + h, -1},
      {"16th 23:00", {"StartTime=10pm,EndTime=2am,DayOfMonth=15"}, 2, 0, fri + kDay + 23 * h, -1},
      // Invalid times: a start of -1 begins at midnight; an end of -1 never matches.
      {"start -1", {"StartTime=bad,EndTime=6am"}, 2, 0, fri, 0},
      {"end -1 second half", {"StartTime=4am,EndTime=bad"}, 2, 0, fri + h, -1},
      {"end -1 first half", {"StartTime=4am,EndTime=bad"}, 2, 0, fri + 5 * h, 0},
      // The first due window in list order wins.
      {"first of two", {"StartTime=1am,EndTime=3am", "StartTime=2am,EndTime=4am"}, 2, 0, fri + 2 * h, 0},
      {"second of two", {"StartTime=1am,EndTime=3am,DayOfWeek=Mon", "StartTime=2am,EndTime=4am"}, 2, 0, fri + 2 * h, 1},
      {"intervals differ", {"StartTime=1am,EndTime=3am,Interval=1D", "StartTime=2am,EndTime=4am,Interval=1H"}, 2,
       fri + 2 * h - 2 * h, fri + 2 * h, 1},
  };
  for (const Case& c : cases) {
    Parse(c.windows);
    config_->install_type = c.install_type;
    config_->last_check = c.last_check;
    EXPECT_EQ(Due(c.now), c.due) << c.name;
  }
}

// Weekday numbers: 0 Tuesday ... 6 Monday, for seven days in a row.
TEST_F(Schedules, WeekdayNumbers) {
  const char* names[7] = {"Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday", "Monday"};
  config_->install_type = UPD_INSTALL_AUTOMATIC;
  for (int dow = 0; dow < 7; ++dow) {
    Parse({std::string("DayOfWeek=") + names[dow]});
    EXPECT_EQ(config_->schedules->day_of_week, dow);
    for (int d = 0; d < 7; ++d) {
      int64_t noon = kFri15Mar2024 + d * kDay + 12 * 3600; // Friday is number 3
      EXPECT_EQ(Due(noon), (3 + d) % 7 == dow ? 0 : -1) << names[dow] << " day " << d;
    }
  }
}

// DayOfMonth=31 never matches in April; on 31 March it does.
TEST_F(Schedules, DayOfMonth31) {
  Parse({"StartTime=4am,EndTime=6am,DayOfMonth=31"});
  config_->install_type = UPD_INSTALL_AUTOMATIC;
  for (int64_t t = kMon1Apr2024; t < kMon1Apr2024 + 30 * kDay; t += 1800) EXPECT_EQ(Due(t), -1) << t;
  EXPECT_EQ(Due(kMon1Apr2024 - kDay + 5 * 3600), 0);
}

// Right after start-up inside a window the first pass starts a check; a pass
// an hour later inside the same window does not for intervals above an hour.
TEST_F(Schedules, FirstPassAndNextPass) {
  for (const char* interval : {"Interval=2H", "Interval=1D", "Interval=61M"}) {
    Parse({std::string("StartTime=1am,EndTime=11pm,") + interval});
    config_->install_type = UPD_INSTALL_PROMPT;
    config_->last_check = 0;
    int64_t now = kFri15Mar2024 + 2 * 3600;
    ASSERT_EQ(Due(now), 0) << interval;
    config_->last_check = now; // set by the check
    EXPECT_EQ(Due(now + 3600), -1) << interval;
  }
  Parse({"StartTime=1am,EndTime=11pm,Interval=1H"});
  config_->install_type = UPD_INSTALL_PROMPT;
  config_->last_check = kFri15Mar2024 + 2 * 3600;
  EXPECT_EQ(Due(kFri15Mar2024 + 3 * 3600), 0);
}

// The window is judged in local time: 4am-6am in a zone nine hours ahead of
// UTC is 19:00-21:00 UTC, and its weekday and day of month are local too.
TEST_F(Schedules, LocalTimeZone) {
  SetZone("JST-9");
  config_->install_type = UPD_INSTALL_AUTOMATIC;
  Parse({"StartTime=4am,EndTime=6am"});
  EXPECT_EQ(Due(kFri15Mar2024 + 20 * 3600), 0);  // 05:00 on Saturday 16th, local
  EXPECT_EQ(Due(kFri15Mar2024 + 5 * 3600), -1);  // 14:00 local
  Parse({"StartTime=4am,EndTime=6am,DayOfWeek=Saturday,DayOfMonth=16"});
  EXPECT_EQ(Due(kFri15Mar2024 + 20 * 3600), 0);
  Parse({"StartTime=4am,EndTime=6am,DayOfWeek=Friday"});
  EXPECT_EQ(Due(kFri15Mar2024 + 20 * 3600), -1);

  // A zone behind UTC: 10pm-2am on the 15th local.
  SetZone("EST5");
  Parse({"StartTime=10pm,EndTime=2am,DayOfMonth=15"});
  EXPECT_EQ(Due(kFri15Mar2024 + kDay + 3 * 3600 + 1800), 0); // 22:30 on the 15th local
  EXPECT_EQ(Due(kFri15Mar2024 + kDay + 6 * 3600), 1);        // 01:00 on the 16th local
  EXPECT_EQ(Due(kFri15Mar2024 + 6 * 3600), -1);              // 01:00 on the 15th local
}

TEST_F(Schedules, FreeSchedules) {
  Parse({"StartTime=10pm,EndTime=2am", "Interval=1D"});
  ASSERT_NE(config_->schedules, nullptr);
  UpdFreeSchedules(config_);
  EXPECT_EQ(config_->schedules, nullptr);
  UpdFreeSchedules(config_);
  UpdFreeSchedules(nullptr);
  EXPECT_EQ(UpdScheduleDue(nullptr, 0), nullptr);
  UpdParseSchedule(nullptr, "StartTime=4am");
}

}  // namespace
