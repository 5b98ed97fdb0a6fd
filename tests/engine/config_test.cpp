// The configuration reader: every key with its values and limits, the
// messages and their levels, the checks after the last line and their order,
// the default window, loop_wait, the "Sched STime" lines and the LogLevel
// filter, Env through the runtime's settings, MaxLoopCount, and bad files
// (missing, unreadable, overlong lines and groups, unmatched quotes, binary
// bytes, a 2,000-character Schedule value, thousands of Schedule lines).
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <cstdio>

#include "engine/config.h"
#include "runtime/env.h"
#include "runtime/message.h"
#include "service/schedule.h"
#include "tests/engine/engine_test_util.h"

namespace {

const char kBase[] = "Protocol http\nServer host\nScript s\n";

std::string Text(const char* s) { return s ? s : "-"; }

std::string Windows(const UpdConfig* c) {
  std::string out;
  for (const UpdSchedule* w = c->schedules; w; w = w->next) {
    out += "[" + std::to_string(w->start) + "," + std::to_string(w->end) + "," + std::to_string(w->interval) + "," +
           std::to_string(w->day_of_week) + "," + std::to_string(w->day_of_month) + "," + std::to_string(w->flags) +
           "]";
  }
  return out;
}

// The record's fields as texts, for tables.
std::map<std::string, std::string> Fields(const UpdConfig* c) {
  std::map<std::string, std::string> f;
  f["protocol"] = std::to_string(c->protocol);
  f["install_type"] = std::to_string(c->install_type);
  f["server"] = Text(c->server);
  f["script"] = Text(c->script);
  f["user"] = Text(c->user);
  f["password"] = Text(c->password);
  std::string packages;
  for (int i = 0; i < c->package_count; ++i) packages += "[" + Text(c->packages[i]) + "]";
  f["packages"] = packages;
  f["schedules"] = Windows(c);
  f["loop_wait"] = std::to_string(c->loop_wait);
  f["log_level"] = std::to_string(c->log_level);
  f["startup_wait"] = std::to_string(c->startup_wait);
  f["flags"] = std::to_string(c->flags);
  std::string env;
  for (int i = 0; i < c->env_count; ++i) env += "[" + Text(c->env_names[i]) + "=" + Text(c->env_values[i]) + "]";
  f["env"] = env;
  return f;
}

class ConfigTest : public testing::Test {
 protected:
  // Writes `text` as the configuration file and reads it once per log
  // level; the result of the read and its messages (without Sched lines).
  int Read(const std::string& text, std::vector<CapturedMessage>* messages = nullptr) {
    env_.WriteConfig(text);
    int result = 0;
    std::vector<CapturedMessage> m = env_.Levels([&] { result = UpdReadConfig(); });
    if (messages) *messages = WithoutSchedLines(m);
    return result;
  }

  EngineSystem env_;
};

// Every key, its values and its rules; all with a passing base.
TEST_F(ConfigTest, KeysTable) {
  struct Case {
    std::string text;                                  // after the base lines
    std::map<std::string, std::string> expected;       // fields checked
    std::vector<CapturedMessage> messages;             // without Sched lines
  } cases[] = {
      {"", {{"protocol", "1"}, {"install_type", "1"}, {"server", "host"}, {"script", "s"}, {"user", "-"},
            {"password", "-"}, {"packages", ""}, {"schedules", "[14400,21600,86400,-1,0,0]"}, {"loop_wait", "3600"},
            {"log_level", "3"}, {"startup_wait", "0"}, {"flags", "0"}, {"env", ""}}, {}},
      // Protocol: any case, in full; a later line overrides.
      {"Protocol HTTPS\n", {{"protocol", "4"}}, {}},
      {"Protocol tqfs\n", {{"protocol", "2"}}, {}},
      {"Protocol localshare\n", {{"protocol", "3"}}, {}},
      {"Protocol https\nProtocol Http\n", {{"protocol", "1"}}, {}},
      {"pROTOCOL LocalShare\n", {{"protocol", "3"}}, {}},
      // InstallType: 0 (not given or unknown) becomes Prompt.
      {"InstallType Prompt\n", {{"install_type", "1"}}, {}},
      {"InstallType automatic\n", {{"install_type", "2"}}, {}},
      {"InstallType ONREQUEST\n", {{"install_type", "3"}}, {}},
      {"InstallType Auto\n", {{"install_type", "1"}}, {}},
      // Texts: later lines override; quotes keep blanks; "#" cuts.
      {"Server other\n", {{"server", "other"}}, {}},
      {"Script \"/upd/my script.txt\"\n", {{"script", "/upd/my script.txt"}}, {}},
      {"Script /upd/a#b\n", {{"script", "/upd/a"}}, {}},
      {"Script '/upd/unclosed quote\n", {{"script", "/upd/unclosed quote"}}, {}},
      {"User bob\nPassword ABc0ffee\n", {{"user", "bob"}, {"password", "ABc0ffee"}}, {}},
      {"Password ABc0ffee\n", {{"user", "-"}, {"password", "ABc0ffee"}}, {}},
      {"Server x y z\n", {{"server", "x"}}, {}},
      // Packages: ten kept, further ones logged; an empty name is no name.
      {"Package tqupdate-win64\nPackage Any\n", {{"packages", "[tqupdate-win64][Any]"}}, {}},
      {"Package p1\nPackage p2\nPackage p3\nPackage p4\nPackage p5\nPackage p6\nPackage p7\nPackage p8\n"
       "Package p9\nPackage p10\nPackage p11\nPackage p12\n",
       {{"packages", "[p1][p2][p3][p4][p5][p6][p7][p8][p9][p10]"}},
       {{8, "Too Many Packages - p11 ignored"}, {8, "Too Many Packages - p12 ignored"}}},
      {"Package \"\"\nPackage a\n", {{"packages", "[a]"}}, {{8, "Invalid Config Option: Package \"\""}}},
      // Numbers.
      {"StartUpWait 120\n", {{"startup_wait", "120"}}, {}},
      {"StartUpWait -5\n", {{"startup_wait", "-5"}}, {}},
      {"StartUpWait soon\n", {{"startup_wait", "0"}}, {}},
      {"StartUpWait 99999999999999\n", {{"startup_wait", "2147483647"}}, {}},
      {"LogLevel 7\n", {{"log_level", "7"}}, {}},
      {"LogLevel 12\n", {{"log_level", "9"}}, {}},
      {"LogLevel -3\n", {{"log_level", "0"}}, {}},
      {"LogLevel high\n", {{"log_level", "0"}}, {}},
      // OnStartCheck: only "True" (any case) turns it on; nothing turns it off.
      {"OnStartCheck True\n", {{"flags", "1"}}, {}},
      {"OnStartCheck TRUE\n", {{"flags", "1"}}, {}},
      {"OnStartCheck yes\n", {{"flags", "0"}}, {}},
      {"OnStartCheck True\nOnStartCheck False\n", {{"flags", "1"}}, {}},
      // Schedules and loop_wait: the smallest interval within 600..3,600.
      {"Schedule Interval=5M\n", {{"schedules", "[0,86399,300,-1,0,0]"}, {"loop_wait", "600"}}, {}},
      {"Schedule Interval=30M\n", {{"loop_wait", "1800"}}, {}},
      {"Schedule Interval=2H\n", {{"loop_wait", "3600"}}, {}},
      {"Schedule Interval=2H\nSchedule Interval=20M\nSchedule Interval=1D\n", {{"loop_wait", "1200"}}, {}},
      {"Schedule StartTime=4am, EndTime=6am\n", {{"schedules", "[14400,86399,3600,-1,0,0]"}}, {}},
      {"Schedule \"StartTime=4am, EndTime=6am\"\n", {{"schedules", "[14400,86399,3600,-1,0,0]"}}, {}},
      {"Schedule StartTime\n", {{"schedules", "[0,86399,3600,-1,0,0]"}},
       {{8, "Missing arg for Sched option: StartTime"}}},
      // Statements that are not settings.
      {"Bogus value\nProto tqfs\n", {{"protocol", "1"}}, {}},
      {"Protocol\n", {{"protocol", "1"}}, {{8, "Invalid Config Option: Protocol"}}},
      {"\"two words\"\n", {}, {{8, "Invalid Config Option: \"two words\""}}},
      {"  Server indented\n", {{"server", "indented"}}, {}},
  };
  for (const Case& c : cases) {
    std::vector<CapturedMessage> messages;
    ASSERT_EQ(Read(kBase + c.text, &messages), 0) << c.text;
    ASSERT_NE(g_upd_config, nullptr);
    std::map<std::string, std::string> got = Fields(g_upd_config);
    for (const auto& [key, value] : c.expected) EXPECT_EQ(got[key], value) << key << " for:\n" << c.text;
    EXPECT_EQ(messages, c.messages) << c.text;
  }
}

// The checks after the last line, in their order, at level 9; a failed read
// leaves the record in place (install type and loop_wait not derived).
TEST_F(ConfigTest, ChecksTable) {
  struct Case {
    std::string text;
    int result;
    std::vector<CapturedMessage> messages;
  } cases[] = {
      {"Protocol http\nScript s\n", -1, {{9, "Server is required for specified protocol"}}},
      {"Protocol https\nScript s\n", -1, {{9, "Server is required for specified protocol"}}},
      {"Protocol tqfs\nScript s\n", -1, {{9, "Server is required for specified protocol"}}},
      {"Protocol LOCALSHARE\nScript s\n", 0, {}},
      {"Protocol ftp\nServer h\nScript s\n", -1, {{9, "No Protocol Specified"}}},
      {"Server h\nScript s\n", -1, {{9, "No Protocol Specified"}}},
      {"Protocol http\nServer h\n", -1, {{9, "Script has not been specified"}}},
      {"Protocol http\nServer h\nScript \"\"\n", -1, {{9, "Script has not been specified"}}},
      {"Protocol http\nServer h\nScript s\nUser bob\n", -1,
       {{9, "Password must be specified when username is specified"}}},
      {"Protocol http\nServer h\nScript s\nPassword XYab\n", 0, {}},
      // Order: the server check comes before the script check, the protocol
      // check before the script check.
      {"Protocol http\n", -1, {{9, "Server is required for specified protocol"}}},
      {"User bob\n", -1, {{9, "No Protocol Specified"}}},
      {"Protocol LocalShare\nUser bob\n", -1, {{9, "Script has not been specified"}}},
  };
  for (const Case& c : cases) {
    std::vector<CapturedMessage> messages;
    EXPECT_EQ(Read(c.text, &messages), c.result) << c.text;
    EXPECT_EQ(messages, c.messages) << c.text;
    ASSERT_NE(g_upd_config, nullptr) << c.text;
    if (c.result != 0) {
      EXPECT_EQ(g_upd_config->install_type, 0) << c.text;
      EXPECT_EQ(g_upd_config->loop_wait, 0) << c.text;
      // The default window is added before the checks.
      EXPECT_EQ(Windows(g_upd_config), "[14400,21600,86400,-1,0,0]") << c.text;
    }
  }
}

// Each window is logged at level 0 after a successful read, in list order:
// only a LogLevel of 9 shows them, since the configuration's LogLevel filters
// the messages from the end of a successful read on. A failed read logs none.
TEST_F(ConfigTest, SchedLines) {
  const std::string schedules =
      "Schedule StartTime=10pm,EndTime=2am,DayOfMonth=15\n"
      "Schedule StartTime=4am,EndTime=5am,Interval=30M,DayOfWeek=Friday\n";
  env_.Texts();
  env_.WriteConfig(std::string(kBase) + "LogLevel 9\n" + schedules);
  ASSERT_EQ(UpdReadConfig(), 0);
  EXPECT_EQ(env_.Texts(), (std::vector<std::string>{
                              "Sched STime: 79200, ETime: 86399, Interval: 3600, DoW: -1, DoM: 15, Bits: 2",
                              "Sched STime: 0, ETime: 7200, Interval: 3600, DoW: -1, DoM: 15, Bits: 1",
                              "Sched STime: 14400, ETime: 18000, Interval: 1800, DoW: 3, DoM: 0, Bits: 0",
                          }));
  env_.WriteConfig(std::string(kBase) + "LogLevel 8\n" + schedules);
  UpdMessageSetLogLevel(-1);
  ASSERT_EQ(UpdReadConfig(), 0);
  EXPECT_EQ(env_.Texts(), std::vector<std::string>{});

  env_.WriteConfig("LogLevel 9\n" + schedules);
  UpdMessageSetLogLevel(-1);
  ASSERT_EQ(UpdReadConfig(), -1);
  EXPECT_EQ(env_.Texts(), std::vector<std::string>{"No Protocol Specified"});
}

// A successful read makes its LogLevel the message filter; freeing the
// record opens the filter again; a failed read leaves it as it was.
TEST_F(ConfigTest, LogLevelFilter) {
  env_.WriteConfig(std::string(kBase) + "LogLevel 2\n");
  UpdMessageSetLogLevel(-1);
  ASSERT_EQ(UpdReadConfig(), 0);
  env_.Texts();
  UpdMessage(6, "level 6");
  UpdMessage(7, "level 7");
  EXPECT_EQ(env_.Texts(), std::vector<std::string>{"level 7"});
  UpdFreeConfig();
  UpdMessage(0, "level 0");
  EXPECT_EQ(env_.Texts(), std::vector<std::string>{"level 0"});

  env_.WriteConfig("LogLevel 2\n");
  ASSERT_EQ(UpdReadConfig(), -1);
  UpdMessage(0, "still open");
  EXPECT_EQ(env_.Texts(), (std::vector<std::string>{"No Protocol Specified", "still open"}));
}

// Env: exactly three tokens; every one is set through the runtime's settings
// (expanded), the first ten are kept as written.
TEST_F(ConfigTest, EnvStatements) {
  std::vector<CapturedMessage> messages;
  std::string text = std::string(kBase) + "Env TQX\nEnv\nEnv TQ_CFG_A hello\nEnv TQ_CFG_B ${TQ_CFG_A}/x\n";
  for (int i = 3; i <= 11; ++i) text += "Env TQ_CFG_N" + std::to_string(i) + " v" + std::to_string(i) + "\n";
  ASSERT_EQ(Read(text, &messages), 0);
  EXPECT_EQ(messages, (std::vector<CapturedMessage>{{8, "Invalid Env Stmt: TQX"}, {8, "Invalid Config Option: Env"}}));
  EXPECT_EQ(g_upd_config->env_count, 10);
  EXPECT_EQ(Fields(g_upd_config)["env"],
            "[TQ_CFG_A=hello][TQ_CFG_B=${TQ_CFG_A}/x][TQ_CFG_N3=v3][TQ_CFG_N4=v4][TQ_CFG_N5=v5][TQ_CFG_N6=v6]"
            "[TQ_CFG_N7=v7][TQ_CFG_N8=v8][TQ_CFG_N9=v9][TQ_CFG_N10=v10]");
  EXPECT_STREQ(RVGetEnv("TQ_CFG_A"), "hello");
  EXPECT_STREQ(RVGetEnv("TQ_CFG_B"), "hello/x");
  EXPECT_STREQ(RVGetEnv("TQ_CFG_N11"), "v11");
  for (const char* n : {"TQ_CFG_A", "TQ_CFG_B", "TQ_CFG_N3", "TQ_CFG_N4", "TQ_CFG_N5", "TQ_CFG_N6", "TQ_CFG_N7",
                        "TQ_CFG_N8", "TQ_CFG_N9", "TQ_CFG_N10", "TQ_CFG_N11"})
    env_.sys().UnsetEnv(n);
}

TEST_F(ConfigTest, MaxLoopCount) {
  ASSERT_EQ(Read(std::string(kBase) + "MaxLoopCount 3\n"), 0);
  EXPECT_EQ(g_upd_max_loop_count, 3);
  ASSERT_EQ(Read(kBase), 0);
  EXPECT_EQ(g_upd_max_loop_count, 0);
}

TEST_F(ConfigTest, UnreadableFile) {
  std::vector<CapturedMessage> messages;
  EXPECT_EQ(Read(kBase), 0);
  ASSERT_EQ(std::remove(env_.ConfigPath().c_str()), 0);
  std::vector<CapturedMessage> m = env_.Levels([] { EXPECT_EQ(UpdReadConfig(), -1); });
  EXPECT_EQ(m, (std::vector<CapturedMessage>{{9, "Unable to read config file: " + env_.ConfigPath()}}));
  EXPECT_EQ(g_upd_config, nullptr);

  // A directory in its place is refused like a missing file.
  env_.sys().WriteFile("home-tq/TQUpdate/Config/tqupd-cnf.txt/x", "");
  m = env_.Levels([] { EXPECT_EQ(UpdReadConfig(), -1); });
  EXPECT_EQ(m, (std::vector<CapturedMessage>{{9, "Unable to read config file: " + env_.ConfigPath()}}));
  EXPECT_EQ(g_upd_config, nullptr);
}

// Overlong lines: each 1,023-character piece is a statement; a 2,000-character
// Schedule value keeps what its first piece holds.
TEST_F(ConfigTest, OverlongLines) {
  std::string server(3000, 's');
  std::vector<CapturedMessage> messages;
  ASSERT_EQ(Read("Protocol http\nScript s\nServer " + server + "\n", &messages), 0);
  EXPECT_EQ(std::string(g_upd_config->server), server.substr(0, 1016));
  EXPECT_EQ(messages, (std::vector<CapturedMessage>{{8, Clipped("Invalid Config Option: " + server.substr(1016, 1023))},
                                                    {8, "Invalid Config Option: " + server.substr(2039)}}));

  std::string value = "StartTime=4am,EndTime=6am,";
  while (value.size() < 2000) value += "DayOfWeek=Fri,";
  ASSERT_EQ(Read(std::string(kBase) + "Schedule " + value + "\n", &messages), 0);
  EXPECT_EQ(Windows(g_upd_config), "[14400,21600,3600,3,0,0]");
  // The value's 29th token is a key without its value; the second piece of
  // the line is a statement of one token.
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], (CapturedMessage{8, "Missing arg for Sched option: DayOfWeek"}));
  EXPECT_EQ(messages[1].level, 8);
  EXPECT_EQ(messages[1].text.rfind("Invalid Config Option: ", 0), 0u);
}

// Continuation groups of 8,000 characters are read whole; longer ones lose
// their tail with a message; settings after them still count.
TEST_F(ConfigTest, LongContinuationGroups) {
  std::string group = "Server first\n";
  for (int i = 0; i < 8; ++i) group += "  Package " + std::string(980, static_cast<char>('a' + i)) + "\n";
  std::vector<CapturedMessage> messages;
  ASSERT_EQ(Read("Protocol http\nScript s\n" + group, &messages), 0);
  EXPECT_EQ(g_upd_config->package_count, 8);
  EXPECT_EQ(messages, std::vector<CapturedMessage>{});

  group = "Server first\n";
  for (int i = 0; i < 12; ++i) group += "  Package " + std::string(980, static_cast<char>('a' + i)) + "\n";
  ASSERT_EQ(Read("Protocol http\nScript s\n" + group + "LogLevel 5\n", &messages), 0);
  EXPECT_EQ(g_upd_config->package_count, 8);
  EXPECT_EQ(g_upd_config->log_level, 5);
  EXPECT_EQ(messages, (std::vector<CapturedMessage>{
                          {8, "Statement Group Too Long - Package " + std::string(980, 'i') + " ignored"}}));
}

// No message shows the Password line's value, whichever way the line goes
// wrong: an overlong line whose later pieces become statements of their
// own, the line dropped from a group that is too long, a line with only the
// key. The value never reaches the log or the message file.
TEST_F(ConfigTest, PasswordNeverShown) {
  std::string stored = "AB";
  for (int i = 0; stored.size() < 2500; ++i) stored += "5EC7E7" + std::to_string(i % 10);
  std::string group = "Server first\n";
  for (int i = 0; i < 8; ++i) group += "  Package " + std::string(980, static_cast<char>('a' + i)) + "\n";
  struct Case {
    std::string text;                    // the configuration file
    std::vector<CapturedMessage> wanted; // its messages
  } cases[] = {
      {std::string(kBase) + "User u\nPassword " + stored + "\n",
       {{8, "Invalid Config Option: ********"}, {8, "Invalid Config Option: ********"}}},
      {std::string(kBase) + "User u\nPassword 'A B " + stored.substr(0, 1500) + "' x y z\n",
       {{8, "Invalid Config Option: ********"}}},
      {"Protocol http\nScript s\nUser u\nPassword ABCD\n" + group + "  Password " + stored.substr(0, 900) + "\n",
       {{8, "Statement Group Too Long - Password ******** ignored"}}},
      {std::string(kBase) + "User u\nPassword ABCD\nPASSWORD\n", {{8, "Invalid Config Option: PASSWORD ********"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 120));
    std::vector<CapturedMessage> messages;
    Read(c.text, &messages);
    EXPECT_EQ(messages, c.wanted);
    std::string log = env_.sys().ReadFile("test-log.txt");
    std::string message_file = env_.sys().ReadFile("common/TQ/tqupd-msg.txt");
    for (const std::string& part : {stored.substr(100, 16), stored.substr(1200, 16), stored.substr(2300, 16)}) {
      EXPECT_EQ(log.find(part), std::string::npos) << part;
      EXPECT_EQ(message_file.find(part), std::string::npos) << part;
    }
  }
}

// Binary bytes, NULs and stray quotes never crash the reader; the read ends
// with a result and a record.
TEST_F(ConfigTest, BinaryFiles) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 40; ++round) {
    std::string text;
    size_t n = 1 + rng() % 6000;
    for (size_t i = 0; i < n; ++i) {
      unsigned r = rng() % 16;
      text += r == 0 ? '\n' : r == 1 ? ' ' : r == 2 ? '"' : r == 3 ? '#' : static_cast<char>(rng() % 256);
    }
    if (round % 2) text = std::string(kBase) + text;
    env_.WriteConfig(text);
    int result = UpdReadConfig();
    EXPECT_TRUE(result == 0 || result == -1);
    ASSERT_NE(g_upd_config, nullptr);
  }
}

// Thousands of Schedule lines: every window is kept and logged.
TEST_F(ConfigTest, ThousandsOfSchedules) {
  std::string text = std::string(kBase) + "LogLevel 9\n";
  for (int i = 0; i < 3000; ++i) text += "Schedule StartTime=10pm,EndTime=2am,Interval=" + std::to_string(i + 700) + "S\n";
  env_.WriteConfig(text);
  env_.Texts();
  ASSERT_EQ(UpdReadConfig(), 0);
  int count = 0;
  for (const UpdSchedule* w = g_upd_config->schedules; w; w = w->next) ++count;
  EXPECT_EQ(count, 6000);
  EXPECT_EQ(g_upd_config->loop_wait, 700);
  EXPECT_EQ(env_.Texts().size(), 6000u);
}

}  // namespace

namespace {

// A pin of 32 bytes 0..31, and of 32 bytes 0xff.
const char kPinA[] = "sha256/AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=";
const char kPinB[] = "sha256///////////////////////////////////////////8=";

// The transport keys: values taken into the record and the fetch settings,
// and values refused with a configuration error (the read fails).
TEST_F(ConfigTest, TransportKeys) {
  const std::string ca = env_.sys().path("ca.pem");
  const std::string empty_ca = env_.sys().path("empty.pem");
  const std::string dir_ca = env_.sys().path("a-directory");
  std::FILE* f = std::fopen(ca.c_str(), "w");
  std::fputs("-----BEGIN CERTIFICATE-----\n", f);
  std::fclose(f);
  std::fclose(std::fopen(empty_ca.c_str(), "w"));
  ::mkdir(dir_ca.c_str(), 0755);
  struct Case {
    std::string text;                      // after the base lines
    int result;                            // of the read
    int verify;                            // with result 0
    size_t pins;                           // with result 0
    long long max_size;                    // with result 0
    std::vector<CapturedMessage> messages; // without Sched lines
  } cases[] = {
      {"", 0, UPD_HTTPS_VERIFY_NONE, 0, 0, {}},
      {"HttpsVerify system\n", 0, UPD_HTTPS_VERIFY_SYSTEM, 0, 0, {}},
      {"HttpsVerify NONE\n", 0, UPD_HTTPS_VERIFY_NONE, 0, 0, {}},
      {"HttpsVerify File\nHttpsCAFile \"" + ca + "\"\n", 0, UPD_HTTPS_VERIFY_FILE, 0, 0, {}},
      {std::string("HttpsPin ") + kPinA + "\nHttpsPin " + kPinB + "\n", 0, UPD_HTTPS_VERIFY_NONE, 2, 0, {}},
      {std::string("HttpsPin SHA256/") + (kPinA + 7) + "\n", 0, UPD_HTTPS_VERIFY_NONE, 1, 0, {}},
      {"MaxDownloadSize 1048576\n", 0, UPD_HTTPS_VERIFY_NONE, 0, 1048576, {}},
      {"MaxDownloadSize 0\n", 0, UPD_HTTPS_VERIFY_NONE, 0, 0, {}},
      {"MaxDownloadSize 1099511627776\n", 0, UPD_HTTPS_VERIFY_NONE, 0, 1099511627776LL, {}},
      {"HttpsVerify Strict\n", -1, 0, 0, 0, {{9, "Invalid HttpsVerify: Strict - None, System or File"}}},
      {"HttpsVerify File\n", -1, 0, 0, 0, {{9, "HttpsCAFile is required for HttpsVerify File"}}},
      {"HttpsVerify File\nHttpsCAFile " + env_.sys().path("missing.pem") + "\n", -1, 0, 0, 0,
       {{9, "HttpsCAFile is not a readable file: " + env_.sys().path("missing.pem")}}},
      {"HttpsVerify File\nHttpsCAFile " + dir_ca + "\n", -1, 0, 0, 0,
       {{9, "HttpsCAFile is not a readable file: " + dir_ca}}},
      {"HttpsVerify File\nHttpsCAFile " + empty_ca + "\n", -1, 0, 0, 0, {{9, "HttpsCAFile is empty: " + empty_ca}}},
      {"HttpsPin sha256/not*base64*at*all*not*base64*at*all*not*base64=\n", -1, 0, 0, 0,
       {{9, "Invalid HttpsPin: sha256/not*base64*at*all*not*base64*at*all*not*base64= - sha256/ and the Base64 of a "
            "32-byte digest"}}},
      {"HttpsPin sha256/AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHg==\n", -1, 0, 0, 0,  // 31 bytes
       {{9, "Invalid HttpsPin: sha256/AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHg== - sha256/ and the Base64 of a "
            "32-byte digest"}}},
      {"HttpsPin sha1/AAECAwQFBgcICQoLDA0ODxAREhM=\n", -1, 0, 0, 0,
       {{9, "Invalid HttpsPin: sha1/AAECAwQFBgcICQoLDA0ODxAREhM= - sha256/ and the Base64 of a 32-byte digest"}}},
      {"HttpsPin sha256/AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh9=\n", -1, 0, 0, 0,  // stray bits
       {{9, "Invalid HttpsPin: sha256/AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh9= - sha256/ and the Base64 of a "
            "32-byte digest"}}},
      {"MaxDownloadSize -1\n", -1, 0, 0, 0, {{9, "Invalid MaxDownloadSize: -1 - bytes, 0 to 1099511627776"}}},
      {"MaxDownloadSize 1099511627777\n", -1, 0, 0, 0,
       {{9, "Invalid MaxDownloadSize: 1099511627777 - bytes, 0 to 1099511627776"}}},
      {"MaxDownloadSize 99999999999999999999999\n", -1, 0, 0, 0,
       {{9, "Invalid MaxDownloadSize: 99999999999999999999999 - bytes, 0 to 1099511627776"}}},
      {"MaxDownloadSize 10MB\n", -1, 0, 0, 0, {{9, "Invalid MaxDownloadSize: 10MB - bytes, 0 to 1099511627776"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<CapturedMessage> messages;
    EXPECT_EQ(Read(kBase + c.text, &messages), c.result);
    EXPECT_EQ(messages, c.messages);
    if (c.result != 0) continue;
    EXPECT_EQ(g_upd_fetch.https_verify, c.verify);
    EXPECT_EQ(g_upd_fetch.https_pins.size(), c.pins);
    EXPECT_EQ(g_upd_fetch.max_download_size, c.max_size);
    EXPECT_EQ(g_upd_fetch.server, "host");
  }
  // Eleven pins keep ten.
  std::string many;
  for (int i = 0; i < 11; ++i) many += std::string("HttpsPin ") + kPinA + "\n";
  std::vector<CapturedMessage> messages;
  EXPECT_EQ(Read(kBase + many, &messages), 0);
  EXPECT_EQ(g_upd_fetch.https_pins.size(), 10u);
  EXPECT_EQ(messages, (std::vector<CapturedMessage>{{8, std::string("Too Many HttpsPin - ") + kPinA + " ignored"}}));
}

}  // namespace
