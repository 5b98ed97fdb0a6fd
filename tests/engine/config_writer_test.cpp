// The tool's writer: the exact text (date, time and user injected), 12-hour
// times, interval words, the choice conversions, the "-bu" backup, the
// failure messages, fault injection at every file system call (the file is
// always whole, old or new), and the round trip through the reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "crypto/scramble.h"
#include "engine/config.h"
#include "engine/config_form.h"
#include "engine/config_writer.h"
#include "platform/fault.h"
#include "platform/file.h"
#include "tests/engine/engine_test_util.h"

namespace {

constexpr int64_t kNow = 1700000000; // 2023-11-14 22:13:20 UTC

UpdFormValues SampleForm() {
  UpdFormValues f;
  f.protocol = "https";
  f.server = "updates.example.test";
  f.script = "/tq update/updscript.txt";
  f.install_type = "Automatic";
  f.startup_wait = "2 Min";
  f.log_level = "3 Recommended";
  f.on_start_check = "True";
  f.rows[0] = {"04:00:00", "06:00:00", "24 Hour", "None", "None"};
  f.rows[2] = {"22:00:00", "02:00:00", "30 Min", "Friday", "None"};
  f.rows[3] = {"16:30:00", "", "1 Hour", "None", "15"};
  return f;
}

// A sample form that lives for the program.
const UpdFormValues& SampleFormRef() {
  static const UpdFormValues form = SampleForm();
  return form;
}

std::string Describe(const UpdFormValues& f) {
  std::string s = f.protocol + "|" + f.server + "|" + f.user + "|" + f.password + "|" + f.confirm_password + "|" +
                  f.script + "|" + f.install_type + "|" + f.startup_wait + "|" + f.log_level + "|" +
                  f.on_start_check;
  for (const UpdFormRow& r : f.rows)
    s += "\n  " + r.start_time + "|" + r.end_time + "|" + r.interval + "|" + r.day_of_week + "|" + r.day_of_month;
  return s;
}

class ConfigWriter : public testing::Test {
 protected:
  void TearDown() override { PlatFaultClear(); }

  std::string Write(const UpdFormValues& form, int expected_result = 0) {
    char message[kUpdFormMessageMax];
    EXPECT_EQ(UpdWriteConfigTo(&form, env_.ConfigPath().c_str(), kNow, "tester", message, sizeof message),
              expected_result);
    return message;
  }

  std::string Saved() const { return env_.sys().ReadFile("home-tq/TQUpdate/Config/tqupd-cnf.txt"); }
  std::string Backup() const { return env_.sys().ReadFile("home-tq/TQUpdate/Config/tqupd-cnf.txt-bu"); }

  // Names in the configuration directory.
  std::vector<std::string> DirNames() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(env_.sys().home() + "/TQUpdate/Config", ec))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  EngineSystem env_{"UTC0"};
};

TEST_F(ConfigWriter, ExactText) {
  UpdFormValues form = SampleForm();
  EXPECT_EQ(UpdConfigText(&form, kNow, "tester"),
            "#\n# tqupd-cnf.txt - Created By tqupdcnf\n"
            "# Date: 11/14/2023\n"
            "# Time: 22:13:20\n"
            "# User: tester\n"
            "#\n# Server Info First\n#\n"
            "Protocol\thttps\n"
            "Server\tupdates.example.test\n"
            "Script\t\"/tq update/updscript.txt\"\n"
            "InstallType\tAutomatic\n"
            "StartUpWait\t120\n"
            "LogLevel\t3\n"
            "OnStartCheck\tTrue\n"
            "#\n# Schedules\n#\n"
            "Schedule\tStartTime=04:00am,EndTime=06:00am,Interval=24Hour\n"
            "Schedule\tStartTime=10:00pm,EndTime=02:00am,Interval=30Min,DayOfWeek=Friday\n"
            "Schedule\tStartTime=04:30pm,Interval=1Hour,DayOfMonth=15\n");

  // With a user: the password scrambled with key letters of the time.
  form.user = "bob";
  form.password = form.confirm_password = "pa ss";
  char scrambled[32];
  RVScrambleAt("pa ss", scrambled, static_cast<uint32_t>(kNow));
  std::string text = UpdConfigText(&form, kNow, nullptr);
  EXPECT_NE(text.find("# User: \n"), std::string::npos);
  EXPECT_NE(text.find("Script\t\"/tq update/updscript.txt\"\nUser\tbob\nPassword\t" + std::string(scrambled) +
                      "\nInstallType\t"),
            std::string::npos)
      << text;
  char plain[32];
  ASSERT_EQ(RVUnscrambleCurrent(scrambled, plain), 0);
  EXPECT_STREQ(plain, "pa ss");
}

// The header's date and time are local.
TEST(ConfigWriterZone, LocalDateAndTime) {
  EngineSystem env("JST-9");
  UpdFormValues form = SampleForm();
  std::string text = UpdConfigText(&form, kNow, "u");
  EXPECT_NE(text.find("# Date: 11/15/2023\n# Time: 07:13:20\n"), std::string::npos) << text;
}

TEST_F(ConfigWriter, FieldConversions) {
  struct Case {
    const char* start;
    const char* end;
    const char* interval;
    const char* day_of_week;
    const char* day_of_month;
    std::string line;
  } cases[] = {
      {"00:00:00", "12:00:00", "1 Hour", "None", "None", "StartTime=12:00am,EndTime=12:00pm,Interval=1Hour"},
      {"12:00am", "11:59:59", "", "", "", "StartTime=12:00am,EndTime=11:59am"},
      {"13:05", "23:59:59", "2 Hour", "Monday", "01", "StartTime=01:05pm,EndTime=11:59pm,Interval=2Hour,DayOfWeek=Monday,DayOfMonth=01"},
      {"4am", "430", "15 Min", "none", "NONE", "StartTime=04:00am,EndTime=04:30am,Interval=15Min"},
      {"16:30", "4:30:15pm", "  12  Hour  extra", "Sunday", "31", "StartTime=04:30pm,EndTime=04:30pm,Interval=12Hour,DayOfWeek=Sunday,DayOfMonth=31"},
      {"25:00", "4x", "Daily", "None", "None", "StartTime=??:????,EndTime=??:????,Interval=Daily"},
      {"??:??:??", "", "", "None", "None", "StartTime=??:????"},
  };
  for (const Case& c : cases) {
    UpdFormValues form = SampleForm();
    for (UpdFormRow& r : form.rows) r = UpdFormRow();
    form.rows[1] = {c.start, c.end, c.interval, c.day_of_week, c.day_of_month};
    std::string text = UpdConfigText(&form, kNow, "u");
    EXPECT_NE(text.find("#\n# Schedules\n#\nSchedule\t" + c.line + "\n"), std::string::npos) << text;
    EXPECT_EQ(text.substr(text.size() - c.line.size() - 1), c.line + "\n");
  }

  struct Choice {
    const char* startup_wait;
    int seconds;
  } waits[] = {{"None", 0},       {"30 Sec", 30},    {"1 Min", 60},     {"2 Min", 120},
               {"5 Min", 300},    {"15 Min", 900},   {"30 Min", 1800},  {"1 Hour", 3600},
               {"2 Hour", 7200},  {"4 Hour", 300},   {"", 300},         {"soon", 300}};
  for (const Choice& c : waits) {
    UpdFormValues form = SampleForm();
    form.startup_wait = c.startup_wait;
    EXPECT_NE(UpdConfigText(&form, kNow, "u").find("\nStartUpWait\t" + std::to_string(c.seconds) + "\n"),
              std::string::npos)
        << c.startup_wait;
  }
  struct Other {
    const char* log_level;
    const char* on_start_check;
    const char* expected;
  } others[] = {{"9 VeryVerbose", "true", "LogLevel\t9\nOnStartCheck\tTrue\n"},
                {"0 Very Low", "False", "LogLevel\t0\nOnStartCheck\tFalse\n"},
                {"7 High", "", "LogLevel\t7\nOnStartCheck\tFalse\n"},
                {"", "yes", "LogLevel\t3\nOnStartCheck\tFalse\n"}};
  for (const Other& c : others) {
    UpdFormValues form = SampleForm();
    form.log_level = c.log_level;
    form.on_start_check = c.on_start_check;
    EXPECT_NE(UpdConfigText(&form, kNow, "u").find(c.expected), std::string::npos) << c.log_level;
  }
}

// The first save needs no backup and creates the directory; later saves keep
// the previous file as "-bu"; nothing else is left beside them.
TEST_F(ConfigWriter, SaveAndBackup) {
  UpdFormValues form = SampleForm();
  EXPECT_EQ(Write(form), "");
  std::string first = Saved();
  EXPECT_EQ(first, UpdConfigText(&form, kNow, "tester"));
  EXPECT_EQ(DirNames(), std::vector<std::string>{"tqupd-cnf.txt"});

  form.server = "second.example.test";
  EXPECT_EQ(Write(form), "");
  EXPECT_EQ(Backup(), first);
  EXPECT_EQ(Saved(), UpdConfigText(&form, kNow, "tester"));

  std::string second = Saved();
  form.server = "third.example.test";
  EXPECT_EQ(Write(form), "");
  EXPECT_EQ(Backup(), second);
  EXPECT_EQ(DirNames(), (std::vector<std::string>{"tqupd-cnf.txt", "tqupd-cnf.txt-bu"}));
}

// The default path and the user running the program.
TEST_F(ConfigWriter, DefaultPath) {
  UpdFormValues form = SampleForm();
  char message[kUpdFormMessageMax];
  ASSERT_EQ(UpdWriteConfig(&form, message, sizeof message), 0) << message;
  EXPECT_EQ(std::string(UpdConfigPath()), env_.ConfigPath());
  EXPECT_NE(Saved().find("\nProtocol\thttps\n"), std::string::npos);
}

TEST_F(ConfigWriter, Failures) {
  UpdFormValues form = SampleForm();
  // The backup cannot be made: nothing is written.
  env_.WriteConfig("old\n");
  PlatFaultInject(PLAT_SYS_OPEN, 1, EACCES, false);
  EXPECT_EQ(Write(form, -1), "Error Creating Backup File: 5");
  PlatFaultClear();
  EXPECT_EQ(Saved(), "old\n");
  EXPECT_EQ(DirNames(), std::vector<std::string>{"tqupd-cnf.txt"});

  // The file cannot be created: the C runtime's error number and the path.
  PlatFaultInject(PLAT_SYS_WRITE, 2, ENOSPC, false);
  EXPECT_EQ(Write(form, -1), "Error: 28 creating file: " + env_.ConfigPath());
  PlatFaultClear();
  EXPECT_EQ(Saved(), "old\n");
  EXPECT_EQ(Backup(), "old\n");

  // The directory's place is taken by a file.
  env_.sys().WriteFile("blocked", "");
  char message[kUpdFormMessageMax];
  std::string path = env_.sys().path("blocked/tqupd-cnf.txt");
  EXPECT_EQ(UpdWriteConfigTo(&form, path.c_str(), kNow, "u", message, sizeof message), -1);
  EXPECT_EQ(std::string(message), "Error: 20 creating file: " + path);
}

// Every failing file system call of a save leaves the file whole (old, or
// new when the save reports success), and no temporary behind.
TEST_F(ConfigWriter, FaultInjection) {
  UpdFormValues form = SampleForm();
  const std::string old_text = "Protocol http\nServer old\nScript s\n";
  const std::string new_text = UpdConfigText(&form, kNow, "tester");
  const PlatSyscall kinds[] = {PLAT_SYS_OPEN, PLAT_SYS_WRITE, PLAT_SYS_RENAME, PLAT_SYS_FSYNC,
                               PLAT_SYS_UNLINK, PLAT_SYS_MKDIR};
  int scenarios = 0;
  for (PlatSyscall kind : kinds) {
    // Count the calls of a clean save.
    env_.WriteConfig(old_text);
    std::remove((env_.ConfigPath() + "-bu").c_str());
    PlatFaultClear();
    EXPECT_EQ(Write(form), "");
    int calls = PlatFaultCalls(kind);
    for (int nth = 1; nth <= calls; ++nth) {
      env_.WriteConfig(old_text);
      env_.sys().WriteFile("home-tq/TQUpdate/Config/tqupd-cnf.txt-bu", "older\n");
      PlatFaultClear();
      PlatFaultInject(kind, nth, EIO, false);
      char message[kUpdFormMessageMax];
      int result = UpdWriteConfigTo(&form, env_.ConfigPath().c_str(), kNow, "tester", message, sizeof message);
      PlatFaultClear();
      ++scenarios;
      std::string label = "kind " + std::to_string(kind) + " call " + std::to_string(nth);
      if (result == 0) {
        EXPECT_EQ(Saved(), new_text) << label;
        EXPECT_EQ(Backup(), old_text) << label;
      } else {
        EXPECT_EQ(Saved(), old_text) << label;
        std::string m = message;
        EXPECT_TRUE(m.rfind("Error Creating Backup File: ", 0) == 0 || m == "Error: 5 creating file: " + env_.ConfigPath())
            << label << ": " << m;
        // The backup is whole: the older one or a copy of the file.
        std::string bu = Backup();
        EXPECT_TRUE(bu == "older\n" || bu == old_text) << label;
      }
      EXPECT_EQ(DirNames(), (std::vector<std::string>{"tqupd-cnf.txt", "tqupd-cnf.txt-bu"})) << label;
    }
  }
  EXPECT_GE(scenarios, 6);
}

// A configuration saved by the writer reads back to the same form values.
TEST_F(ConfigWriter, RoundTrip) {
  std::vector<UpdFormValues> forms;
  forms.push_back(SampleForm());
  {
    UpdFormValues f = SampleForm();
    f.protocol = "tqfs";
    f.user = "bob";
    f.password = f.confirm_password = "p#ss 'word\"";
    f.install_type = "OnRequest";
    f.startup_wait = "None";
    f.log_level = "9 VeryVerbose";
    f.on_start_check = "False";
    f.rows[0] = {"00:00:00", "23:59:00", "15 Min", "Tuesday", "None"};
    f.rows[1] = {"12:00:00", "12:00:00", "12 Hour", "Monday", "31"};
    f.rows[2] = {"23:00:00", "01:00:00", "4 Hour", "Sunday", "01"};
    f.rows[3] = {"06:15:00", "07:45:00", "8 Hour", "Saturday", "None"};
    f.rows[4] = {"10:00:00", "10:30:00", "2 Hour", "Wednesday", "28"};
    forms.push_back(f);
  }
  {
    UpdFormValues f = SampleForm();
    f.protocol = "LocalShare";
    f.server = "//fileserver/share";
    f.install_type = "Prompt";
    f.startup_wait = "30 Sec";
    f.log_level = "0 Very Low";
    for (UpdFormRow& r : f.rows) r = UpdFormRow();
    f.rows[0] = {"04:00:00", "06:00:00", "24 Hour", "None", "None"};
    forms.push_back(f);
  }
  for (const UpdFormValues& form : forms) {
    ASSERT_EQ(Write(form), "");
    UpdFormValues back;
    ASSERT_EQ(UpdFormLoad(&back), 0) << Saved();
    // Rows come back packed in list order; a row without an end time runs
    // to the end of the day.
    UpdFormValues expected = form;
    int n = 0;
    UpdFormRow rows[kUpdFormRows];
    for (const UpdFormRow& r : form.rows)
      if (!r.start_time.empty()) rows[n++] = r;
    for (UpdFormRow& r : rows)
      if (!r.start_time.empty() && r.end_time.empty()) r.end_time = "23:59:59";
    for (int i = 0; i < kUpdFormRows; ++i) expected.rows[i] = rows[i];
    EXPECT_EQ(Describe(back), Describe(expected));
  }
}

// Saving a hand-written file: times on the 12-hour clock, Package, Env and
// MaxLoopCount dropped (the previous file stays as "-bu").
TEST_F(ConfigWriter, SavingHandWrittenFile) {
  const std::string hand =
      "Protocol http\nServer h\nScript s\nPackage tqupdate-win64\nEnv TQ_CFG_W 1\nMaxLoopCount 3\n"
      "Schedule StartTime=16:30\n";
  env_.WriteConfig(hand);
  UpdFormValues form;
  ASSERT_EQ(UpdFormLoad(&form), 0);
  env_.sys().UnsetEnv("TQ_CFG_W");
  EXPECT_EQ(Write(form), "");
  std::string saved = Saved();
  EXPECT_NE(saved.find("\nSchedule\tStartTime=04:30pm,EndTime=11:59pm,Interval=1Hour\n"), std::string::npos) << saved;
  EXPECT_EQ(saved.find("Package"), std::string::npos);
  EXPECT_EQ(saved.find("Env"), std::string::npos);
  EXPECT_EQ(saved.find("MaxLoopCount"), std::string::npos);
  EXPECT_EQ(Backup(), hand);
}

// The transport settings read from a file are written again when the tool
// saves, and read back the same.
TEST_F(ConfigWriter, KeepsTransportSettings) {
  const std::string ca = env_.sys().path("ca.pem");
  std::FILE* f = std::fopen(ca.c_str(), "w");
  std::fputs("pem", f);
  std::fclose(f);
  const std::string pin = "sha256/AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=";
  env_.WriteConfig("Protocol https\nServer h\nScript s\nHttpsVerify file\nHttpsCAFile \"" + ca + "\"\nHttpsPin " +
                   pin + "\nMaxDownloadSize 5000\n");
  UpdFormValues form;
  ASSERT_EQ(UpdFormLoad(&form), 0);
  std::string text = UpdConfigText(&form, kNow, "u");
  EXPECT_NE(text.find("OnStartCheck\tFalse\nHttpsVerify\tFile\nHttpsCAFile\t\"" + ca + "\"\nHttpsPin\t" + pin +
                      "\nMaxDownloadSize\t5000\n#\n# Schedules\n"),
            std::string::npos)
      << text;
  env_.WriteConfig(text);
  ASSERT_EQ(UpdReadConfig(), 0);
  EXPECT_EQ(g_upd_config->https_verify, UPD_HTTPS_VERIFY_FILE);
  EXPECT_EQ(std::string(g_upd_config->https_ca_file), ca);
  ASSERT_EQ(g_upd_config->https_pin_count, 1);
  EXPECT_EQ(std::string(g_upd_config->https_pins[0]), pin);
  EXPECT_EQ(g_upd_config->max_download_size, 5000);
  // A file without them gets none.
  EXPECT_EQ(UpdConfigText(&SampleFormRef(), kNow, "u").find("Https"), std::string::npos);
}

}  // namespace
