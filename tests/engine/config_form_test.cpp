// The tool's form values: every display rule, schedule rows (split windows,
// the five-row limit, invalid times), the password in both fields, the fresh
// values, loading (read or fresh), and the form check with its order, field
// and message.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "crypto/scramble.h"
#include "engine/config.h"
#include "engine/config_form.h"
#include "runtime/alloc.h"
#include "service/schedule.h"
#include "tests/engine/engine_test_util.h"

namespace {

// A configuration record owned by the test (as g_upd_config, freed with it).
UpdConfig* NewConfig() {
  UpdFreeConfig();
  g_upd_config = RVAllocRecord<UpdConfig>();
  return g_upd_config;
}

std::string Row(const UpdFormRow& r) {
  return r.start_time + "|" + r.end_time + "|" + r.interval + "|" + r.day_of_week + "|" + r.day_of_month;
}

class ConfigForm : public testing::Test {
 protected:
  EngineSystem env_;
};

TEST_F(ConfigForm, ChoiceTexts) {
  struct Case {
    int32_t value;
    const char* startup_wait;
    const char* interval;
  } cases[] = {
      {INT32_MIN, "5 Min", "1 Hour"}, {-1, "5 Min", "1 Hour"},      {0, "None", "1 Hour"},
      {1, "30 Sec", "15 Min"},        {30, "30 Sec", "15 Min"},     {31, "1 Min", "15 Min"},
      {60, "1 Min", "15 Min"},        {61, "2 Min", "15 Min"},      {120, "2 Min", "15 Min"},
      {121, "5 Min", "15 Min"},       {300, "5 Min", "15 Min"},     {301, "15 Min", "15 Min"},
      {900, "15 Min", "15 Min"},      {901, "30 Min", "30 Min"},    {1800, "30 Min", "30 Min"},
      {1801, "1 Hour", "1 Hour"},     {3600, "1 Hour", "1 Hour"},   {3601, "2 Hour", "2 Hour"},
      {7200, "2 Hour", "2 Hour"},     {7201, "2 Hour", "4 Hour"},   {14400, "2 Hour", "4 Hour"},
      {14401, "2 Hour", "8 Hour"},    {28800, "2 Hour", "8 Hour"},  {28801, "2 Hour", "12 Hour"},
      {43200, "2 Hour", "12 Hour"},   {43201, "2 Hour", "24 Hour"}, {INT32_MAX, "2 Hour", "24 Hour"},
  };
  for (const Case& c : cases) {
    UpdConfig* config = NewConfig();
    config->startup_wait = c.value;
    UpdSchedule* w = RVAllocRecord<UpdSchedule>();
    w->interval = c.value;
    w->end = 86399;
    w->day_of_week = -1;
    config->schedules = w;
    UpdFormValues form;
    UpdFormFill(config, &form);
    EXPECT_EQ(form.startup_wait, c.startup_wait) << c.value;
    EXPECT_EQ(form.rows[0].interval, c.interval) << c.value;
  }
}

TEST_F(ConfigForm, FieldTexts) {
  const char* levels[] = {"0 Very Low", "1 Low", "2",         "3 Recommended", "4",
                          "5 Medium",   "6",     "7 High",    "8 Verbose",     "9 VeryVerbose"};
  for (int level = -2; level <= 11; ++level) {
    UpdConfig* config = NewConfig();
    config->log_level = level;
    UpdFormValues form;
    UpdFormFill(config, &form);
    EXPECT_EQ(form.log_level, level >= 0 && level <= 9 ? levels[level] : "3 Recommended") << level;
  }
  struct Case {
    uint16_t protocol;
    uint16_t install_type;
    uint32_t flags;
    const char* protocol_text;
    const char* install_text;
    const char* check_text;
  } cases[] = {
      {0, 0, 0, "", "Automatic", "False"},          {1, 1, 1, "http", "Prompt", "True"},
      {2, 2, 0, "tqfs", "Automatic", "False"},      {3, 3, 1, "LocalShare", "OnRequest", "True"},
      {4, 4, 0x3, "https", "Automatic", "True"},    {5, 9, 2, "", "Automatic", "False"},
  };
  for (const Case& c : cases) {
    UpdConfig* config = NewConfig();
    config->protocol = c.protocol;
    config->install_type = c.install_type;
    config->flags = c.flags;
    UpdFormValues form;
    UpdFormFill(config, &form);
    EXPECT_EQ(form.protocol, c.protocol_text);
    EXPECT_EQ(form.install_type, c.install_text);
    EXPECT_EQ(form.on_start_check, c.check_text);
    EXPECT_EQ(form.server, "");
    EXPECT_EQ(form.script, "");
    EXPECT_EQ(form.user, "");
  }
}

// The stored password shows unscrambled in both password fields.
TEST_F(ConfigForm, Password) {
  char scrambled[64];
  RVScrambleAt("s3cret pw", scrambled, 1700000000u);
  char empty[8];
  RVScrambleAt("", empty, 1700000000u);
  struct Case {
    const char* stored;
    const char* shown;
  } cases[] = {{scrambled, "s3cret pw"}, {empty, ""}, {nullptr, ""}, {"ABc", ""}, {"A", ""}};
  for (const Case& c : cases) {
    UpdConfig* config = NewConfig();
    config->user = RVStrDup("bob");
    config->password = RVStrDup(c.stored);
    UpdFormValues form;
    UpdFormFill(config, &form);
    EXPECT_EQ(form.user, "bob");
    EXPECT_EQ(form.password, c.shown) << (c.stored ? c.stored : "(null)");
    EXPECT_EQ(form.confirm_password, c.shown);
  }
}

// One row per window pair; a split window shows its second half's end; no
// more than five rows.
TEST_F(ConfigForm, ScheduleRows) {
  struct Case {
    std::vector<const char*> schedules;
    std::vector<std::string> rows;
  } cases[] = {
      {{"StartTime=4am,EndTime=6am,Interval=1D"}, {"04:00:00|06:00:00|24 Hour|None|None"}},
      {{"StartTime=10pm,EndTime=2am,DayOfWeek=Friday"}, {"22:00:00|02:00:00|1 Hour|Friday|None"}},
      {{"StartTime=10pm,EndTime=2am,DayOfMonth=5,Interval=30M"}, {"22:00:00|02:00:00|30 Min|None|05"}},
      {{"StartTime=4:30:15pm,DayOfWeek=Tue,DayOfMonth=31"}, {"16:30:15|23:59:59|1 Hour|Tuesday|31"}},
      {{"DayOfWeek=Mon,DayOfMonth=32"}, {"00:00:00|23:59:59|1 Hour|Monday|None"}},
      {{"StartTime=25:00,EndTime=6am"}, {"??:??:??|06:00:00|1 Hour|None|None"}},
      {{"StartTime=4am,EndTime=bad"}, {"04:00:00|??:??:??|1 Hour|None|None"}},
      {{"StartTime=1am,EndTime=2am", "StartTime=2am,EndTime=3am", "StartTime=3am,EndTime=4am",
        "StartTime=4am,EndTime=5am", "StartTime=11pm,EndTime=1am", "StartTime=6am,EndTime=7am"},
       {"01:00:00|02:00:00|1 Hour|None|None", "02:00:00|03:00:00|1 Hour|None|None",
        "03:00:00|04:00:00|1 Hour|None|None", "04:00:00|05:00:00|1 Hour|None|None",
        "23:00:00|01:00:00|1 Hour|None|None"}},
      {{"StartTime=1am,EndTime=2am", "StartTime=2am,EndTime=3am", "StartTime=3am,EndTime=4am",
        "StartTime=4am,EndTime=5am", "StartTime=5am,EndTime=6am", "StartTime=11pm,EndTime=1am"},
       {"01:00:00|02:00:00|1 Hour|None|None", "02:00:00|03:00:00|1 Hour|None|None",
        "03:00:00|04:00:00|1 Hour|None|None", "04:00:00|05:00:00|1 Hour|None|None",
        "05:00:00|06:00:00|1 Hour|None|None"}},
  };
  for (const Case& c : cases) {
    UpdConfig* config = NewConfig();
    for (const char* s : c.schedules) UpdParseSchedule(config, s);
    UpdFormValues form;
    UpdFormFill(config, &form);
    std::vector<std::string> rows;
    for (const UpdFormRow& r : form.rows)
      if (!r.start_time.empty()) rows.push_back(Row(r));
    EXPECT_EQ(rows, c.rows) << c.schedules[0];
    for (size_t i = c.rows.size(); i < kUpdFormRows; ++i) EXPECT_EQ(Row(form.rows[i]), "||||");
  }
}

TEST_F(ConfigForm, FreshValues) {
  UpdFormValues form;
  form.server = "stale";
  UpdFormFresh(&form);
  EXPECT_EQ(form.protocol, "");
  EXPECT_EQ(form.server, "");
  EXPECT_EQ(form.script, "");
  EXPECT_EQ(form.user, "");
  EXPECT_EQ(form.password, "");
  EXPECT_EQ(form.install_type, "Automatic");
  EXPECT_EQ(form.startup_wait, "2 Min");
  EXPECT_EQ(form.log_level, "3 Recommended");
  EXPECT_EQ(form.on_start_check, "True");
  EXPECT_EQ(Row(form.rows[0]), "12:00am||1 Hour|None|None");
  for (int i = 1; i < kUpdFormRows; ++i) EXPECT_EQ(Row(form.rows[i]), "||||");
}

// Loading reads the file, or falls back to the fresh values when the file is
// missing or fails a check; the record is released either way.
TEST_F(ConfigForm, Load) {
  UpdFormValues fresh;
  UpdFormFresh(&fresh);
  UpdFormValues form;
  EXPECT_EQ(UpdFormLoad(&form), -1);
  EXPECT_EQ(Row(form.rows[0]), Row(fresh.rows[0]));
  EXPECT_EQ(form.on_start_check, "True");
  EXPECT_EQ(g_upd_config, nullptr);

  env_.WriteConfig("Protocol LocalShare\nScript /share/upd.txt\nInstallType OnRequest\nLogLevel 8\n");
  EXPECT_EQ(UpdFormLoad(&form), 0);
  EXPECT_EQ(form.protocol, "LocalShare");
  EXPECT_EQ(form.script, "/share/upd.txt");
  EXPECT_EQ(form.install_type, "OnRequest");
  EXPECT_EQ(form.log_level, "8 Verbose");
  EXPECT_EQ(form.on_start_check, "False");
  EXPECT_EQ(form.startup_wait, "None");
  EXPECT_EQ(Row(form.rows[0]), "04:00:00|06:00:00|24 Hour|None|None");
  EXPECT_EQ(g_upd_config, nullptr);

  env_.WriteConfig("Protocol http\nScript /upd.txt\nLogLevel 8\n");
  EXPECT_EQ(UpdFormLoad(&form), -1);
  EXPECT_EQ(form.protocol, "");
  EXPECT_EQ(form.log_level, "3 Recommended");
  EXPECT_EQ(g_upd_config, nullptr);
}

// The form check: first failure wins, with its field and message.
TEST_F(ConfigForm, Check) {
  UpdFormValues good;
  good.protocol = "http";
  good.server = "host";
  good.script = "/upd/updscript.txt";
  good.rows[0].start_time = "04:00:00";
  struct Case {
    const char* name;
    void (*change)(UpdFormValues*);
    UpdFormField field;
    std::string message;
  } cases[] = {
      {"valid", [](UpdFormValues*) {}, UPD_FIELD_NONE, ""},
      {"no protocol", [](UpdFormValues* f) { f->protocol = ""; }, UPD_FIELD_PROTOCOL, "Protocol is mandatory"},
      {"nothing at all", [](UpdFormValues* f) { *f = UpdFormValues(); }, UPD_FIELD_PROTOCOL, "Protocol is mandatory"},
      {"no server", [](UpdFormValues* f) { f->server = ""; }, UPD_FIELD_SERVER, "Server is mandatory"},
      {"LocalShare without server", [](UpdFormValues* f) { f->protocol = "LocalShare"; f->server = ""; },
       UPD_FIELD_SERVER, "Server is mandatory"},
      {"no script", [](UpdFormValues* f) { f->script = ""; }, UPD_FIELD_SCRIPT, "Script filename is mandatory"},
      {"server before script", [](UpdFormValues* f) { f->server = ""; f->script = ""; }, UPD_FIELD_SERVER,
       "Server is mandatory"},
      {"user with password", [](UpdFormValues* f) { f->user = "bob"; f->password = f->confirm_password = "pw"; },
       UPD_FIELD_NONE, ""},
      {"blank first", [](UpdFormValues* f) { f->user = " bob"; }, UPD_FIELD_USER, "Invalid Username:  bob"},
      {"control first", [](UpdFormValues* f) { f->user = "\x1f" "bob"; }, UPD_FIELD_USER,
       "Invalid Username: \x1f" "bob"},
      {"high byte first", [](UpdFormValues* f) { f->user = "\xe9mile"; f->password = f->confirm_password = "x"; },
       UPD_FIELD_USER, "Invalid Username: \xe9mile"},
      {"! first", [](UpdFormValues* f) { f->user = "!x"; f->password = f->confirm_password = "x"; },
       UPD_FIELD_NONE, ""},
      {"long user", [](UpdFormValues* f) { f->user = " " + std::string(80, 'u'); }, UPD_FIELD_USER,
       "Invalid Username:  " + std::string(58, 'u')},
      {"no password", [](UpdFormValues* f) { f->user = "bob"; }, UPD_FIELD_PASSWORD,
       "Password is mandatory with username"},
      {"mismatch", [](UpdFormValues* f) { f->user = "bob"; f->password = "a"; f->confirm_password = "b"; },
       UPD_FIELD_CONFIRM_PASSWORD, "Password Mismatch"},
      {"password without user", [](UpdFormValues* f) { f->password = "a"; }, UPD_FIELD_NONE, ""},
      {"no schedule", [](UpdFormValues* f) { f->rows[0].start_time = ""; }, UPD_FIELD_START_TIME0,
       "Must Specify at least one schedule"},
      {"password before schedule", [](UpdFormValues* f) { f->rows[0].start_time = ""; f->user = "bob"; },
       UPD_FIELD_PASSWORD, "Password is mandatory with username"},
      {"last row only",
       [](UpdFormValues* f) { f->rows[0].start_time = ""; f->rows[4].start_time = "12:00am"; }, UPD_FIELD_NONE,
       ""},
  };
  for (const Case& c : cases) {
    UpdFormValues form = good;
    c.change(&form);
    UpdFormFailure failure;
    int result = UpdFormCheck(&form, &failure);
    EXPECT_EQ(result, c.message.empty() ? 0 : -1) << c.name;
    EXPECT_EQ(failure.field, c.field) << c.name;
    EXPECT_EQ(std::string(failure.message), c.message) << c.name;
  }
}

}  // namespace
