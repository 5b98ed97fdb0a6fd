// The client preferences: first runs of an administrator and of an
// ordinary user, lookups and their precedence, the boolean rule, files
// that cannot be had, bad input, and copies that load together.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "gui/client_prefs.h"
#include "platform/fault.h"
#include "platform/file.h"
#include "runtime/env.h"
#include "tests/gui/gui_test_util.h"
#include "tests/support/child.h"

namespace {

// What an administrator's first run writes, byte for byte.
const char kFirstRunGlobal[] =
    "#\n# TQ Client Preferences - Global\n#\n"
    "Help                \tOff\n"
    "ListAddStyle        \tRelative\n"
    "BtnReturnActivate   \tFalse\n"
    "GetAnswerType       \tDefault\n"
    "ShowConnInfo        \tFalse\n"
    "UseWindowsThemes    \tTrue\n";

std::string Value(const char* v) { return v ? v : "<null>"; }

std::string ReadAll(const std::string& path) {
  std::string out;
  if (PlatReadFile(path.c_str(), &out) != 0) return "<missing>";
  return out;
}

// Names in `dir` other than `keep`.
std::vector<std::string> Others(const std::string& dir, const std::string& keep) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec))
    if (e.path().filename() != keep) out.push_back(e.path().filename().string());
  return out;
}

// Writes the captured error texts to `path`, one a line.
void SaveErrors(const ReportCapture& capture, const std::string& path) {
  std::ofstream out(path);
  for (const std::string& e : capture.errors) out << e << '\n';
}

}  // namespace

// Child (an ordinary user): loads the preferences with RV_APPDATA below
// args[0]; writes the reports to args[1]. Exit 0 loaded, 1 load failed,
// 2 the defaults were not taken as global values.
TQ_CHILD_ROLE(prefs_load_as_user) {
  ::setenv("TQ_FOLDER_APPDATA", args[0].c_str(), 1);
  ReportCapture capture;
  int r = GUILoadClientPrefs();
  SaveErrors(capture, args[1]);
  if (r != 0) return 1;
  if (Value(GUIPrefGlobalValue("Help")) != "Off" || Value(GUIPrefGlobalValue("UseWindowsThemes")) != "True") return 2;
  return 0;
}

// Child (the administrator): loads the preferences; exit 0 when the six
// global values are the defaults, 1 when the load failed, 2 otherwise.
TQ_CHILD_ROLE(prefs_load_admin) {
  ReportCapture capture;
  if (GUILoadClientPrefs() != 0) return 1;
  const char* expected[][2] = {{"Help", "Off"},         {"ListAddStyle", "Relative"}, {"BtnReturnActivate", "False"},
                               {"GetAnswerType", "Default"}, {"ShowConnInfo", "False"}, {"UseWindowsThemes", "True"}};
  for (const auto& e : expected)
    if (Value(GUIPrefGlobalValue(e[0])) != e[1]) return 2;
  return 0;
}

// Child: reads args[0] until args[1] appears; exit 0 when every read saw
// the whole first-run text or no file, 3 when one saw anything else.
TQ_CHILD_ROLE(prefs_watch_global) {
  for (int rounds = 0; rounds < 200000; ++rounds) {
    std::string text;
    if (PlatReadFile(args[0].c_str(), &text) == 0 && text != kFirstRunGlobal) return 3;
    if (::access(args[1].c_str(), F_OK) == 0) return 0;
  }
  return 0;
}

TEST(ClientPrefs, AdministratorsFirstRunWritesTheHeaderAndSixDefaults) {
  if (!TqIsAdmin()) GTEST_SKIP() << "needs the administrator";
  GuiSystem sys;
  ReportCapture capture;
  ASSERT_EQ(GUILoadClientPrefs(), 0);
  EXPECT_EQ(ReadAll(sys.GlobalPrefs()), kFirstRunGlobal);
  EXPECT_EQ(ReadAll(sys.UserPrefs()), "#\n# TQ Client Preferences - root\n#\n");
  EXPECT_EQ(Value(GUIPrefGlobalValue("ListAddStyle")), "Relative");
  EXPECT_EQ(Value(GUIPrefUserValue("ListAddStyle")), "<null>");
  EXPECT_TRUE(capture.errors.empty());
  // Only the two files: no temporary is left beside either.
  EXPECT_TRUE(Others(sys.CommonData(), "cl-pref.txt").empty());
  EXPECT_TRUE(Others(sys.AppData(), "cl-pref.txt").empty());
}

TEST(ClientPrefs, OrdinaryUsersFirstRunWritesOnlyTheUserHeader) {
  if (!TqIsAdmin()) GTEST_SKIP() << "needs the administrator to act as another user";
  GuiSystem sys;
  TqUser user = TqOutsider();
  GiveDirTo(sys, sys.path("user-appdata"), user);
  std::filesystem::create_directories(sys.CommonData());
  TqOpenTreeForUsers(sys.root());
  std::string reports = sys.path("user-appdata/reports.txt");
  EXPECT_EQ(TqRunChildAs(user, "prefs_load_as_user", {sys.path("user-appdata"), reports}), 0);
  EXPECT_EQ(ReadAll(sys.path("user-appdata/TQ/cl-pref.txt")), "#\n# TQ Client Preferences - " + user.name + "\n#\n");
  EXPECT_FALSE(std::filesystem::exists(sys.GlobalPrefs()));
  EXPECT_EQ(ReadLines(reports), std::vector<std::string>{});
}

TEST(ClientPrefs, UserFileThatCannotBeCreatedFailsTheLoadOnce) {
  GuiSystem sys;
  sys.WriteFile("appdata/TQ", "a file where RV_APPDATA should be");
  ReportCapture capture;
  EXPECT_EQ(GUILoadClientPrefs(), -1);
  ASSERT_EQ(capture.errors.size(), 1u);
  EXPECT_EQ(capture.errors[0],
            "Error Creating User Preferences File: " + sys.UserPrefs() + ", errno: " + std::to_string(ENOTDIR));
  // Later calls give the first result without reading or reporting again.
  EXPECT_EQ(GUILoadClientPrefs(), -1);
  EXPECT_EQ(capture.errors.size(), 1u);
}

TEST(ClientPrefs, UnreadableUserFileIsReportedNeverReplaced) {
  if (!TqIsAdmin()) GTEST_SKIP() << "needs the administrator to act as another user";
  GuiSystem sys;
  TqUser user = TqOutsider();
  GiveDirTo(sys, sys.path("user-appdata/TQ"), user);
  std::string file = sys.path("user-appdata/TQ/cl-pref.txt");
  WriteLines(file, {"Help On"});
  ASSERT_EQ(::chmod(file.c_str(), 0600), 0); // the administrator's own
  std::string reports = sys.path("user-appdata/reports.txt");
  EXPECT_EQ(TqRunChildAs(user, "prefs_load_as_user", {sys.path("user-appdata"), reports}), 1);
  EXPECT_EQ(ReadLines(reports),
            std::vector<std::string>{"Error Opening User Preferences File: " + file + ", errno: " + std::to_string(EACCES)});
  EXPECT_EQ(ReadAll(file), "Help On\n");
}

TEST(ClientPrefs, GlobalFileThatExistsIsNeverReplaced) {
  GuiSystem sys;
  // A directory in the file's place cannot be read: the defaults are taken
  // as global values and the directory stays.
  std::filesystem::create_directories(sys.GlobalPrefs());
  ReportCapture capture;
  ASSERT_EQ(GUILoadClientPrefs(), 0);
  EXPECT_TRUE(std::filesystem::is_directory(sys.GlobalPrefs()));
  EXPECT_EQ(Value(GUIPrefGlobalValue("GetAnswerType")), "Default");
  EXPECT_EQ(Value(GUIPrefGlobalValue("ShowConnInfo")), "False");
  EXPECT_TRUE(capture.errors.empty());
}

TEST(ClientPrefs, FailedFirstRunWriteLeavesNoFileAndTakesTheDefaults) {
  if (!TqIsAdmin()) GTEST_SKIP() << "needs the administrator";
  GuiSystem sys;
  std::filesystem::create_directories(sys.CommonData());
  std::filesystem::create_directories(sys.AppData());
  ReportCapture capture;
  // The first write of the load is the global file's.
  PlatFaultClear();
  PlatFaultInject(PLAT_SYS_WRITE, 1, ENOSPC, false);
  EXPECT_EQ(GUILoadClientPrefs(), 0);
  PlatFaultClear();
  EXPECT_FALSE(std::filesystem::exists(sys.GlobalPrefs()));
  EXPECT_TRUE(Others(sys.CommonData(), "cl-pref.txt").empty());
  EXPECT_EQ(Value(GUIPrefGlobalValue("Help")), "Off");
  EXPECT_EQ(Value(GUIPrefGlobalValue("UseWindowsThemes")), "True");
  // The next run writes it whole.
  GUIFreeClientPrefs();
  EXPECT_EQ(GUILoadClientPrefs(), 0);
  EXPECT_EQ(ReadAll(sys.GlobalPrefs()), kFirstRunGlobal);
}

TEST(ClientPrefs, CopiesLoadingTogetherWriteTheGlobalFileWholeOnce) {
  if (!TqIsAdmin()) GTEST_SKIP() << "needs the administrator";
  GuiSystem sys;
  std::filesystem::create_directories(sys.CommonData());
  for (int round = 0; round < 5; ++round) {
    std::filesystem::remove(sys.GlobalPrefs());
    std::string done = sys.path("done-" + std::to_string(round));
    pid_t watcher = TqSpawnChild("prefs_watch_global", {sys.GlobalPrefs(), done});
    std::vector<pid_t> copies;
    for (int i = 0; i < 6; ++i) copies.push_back(TqSpawnChild("prefs_load_admin"));
    for (pid_t pid : copies) EXPECT_EQ(TqWaitChild(pid), 0) << "round " << round;
    WriteLines(done, {});
    EXPECT_EQ(TqWaitChild(watcher), 0) << "round " << round;
    EXPECT_EQ(ReadAll(sys.GlobalPrefs()), kFirstRunGlobal) << "round " << round;
    EXPECT_TRUE(Others(sys.CommonData(), "cl-pref.txt").empty()) << "round " << round;
  }
}

TEST(ClientPrefs, LookupTakesUserThenGlobalThenDefault) {
  GuiSystem sys;
  WriteLines(sys.GlobalPrefs(), {
                                    "# the site's settings",
                                    "Help                \tOn",
                                    "ShowUser            \tTrue",
                                    "SysAddr 64",
                                    "MaxInstances 3",
                                    "maxinstances 4  # the last of a key wins",
                                    "FontSizeInc 1.5",
                                });
  WriteLines(sys.UserPrefs(), {
                                  "help off",
                                  "SYSADDR 128",
                                  "AutoConnectServer  my server  ",
                                  "FontFileList a.def,",
                                  "\tb.def",
                                  "ShowDate",
                                  "NoSuchKey value",
                              });
  ReportCapture capture;
  ASSERT_EQ(GUILoadClientPrefs(), 0);
  const struct {
    const char* key;
    std::string value;  // GUIPrefValue
    std::string global; // GUIPrefGlobalValue
  } cases[] = {
      {"Help", "off", "On"},                                  // user over global
      {"ShowUser", "True", "True"},                           // global alone
      {"ListAddStyle", "Relative", "<null>"},                 // built-in default
      {"UseWindowsThemes", "True", "<null>"},                 // built-in default
      {"SysAddr", "64", "64"},                                // the global file's only
      {"MaxInstances", "4", "4"},                             // the last line of a key
      {"maxINSTANCES", "4", "4"},                             // keys in any case
      {"AutoConnectServer", "my server", "<null>"},           // the rest of the line, trimmed
      {"FontFileList", "a.def,\n\tb.def", "<null>"},          // continued on the next line
      {"ShowDate", "<null>", "<null>"},                       // a key alone is no setting
      {"FontSizeInc", "1.5", "1.5"},
      {"NoSuchKey", "<null>", "<null>"},                      // unknown keys are not kept
      {"TabstopAll", "<null>", "<null>"},                     // known, never set, no default
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Value(GUIPrefValue(c.key)), c.value) << c.key;
    EXPECT_EQ(Value(GUIPrefGlobalValue(c.key)), c.global) << c.key;
  }
  EXPECT_EQ(Value(GUIPrefUserValue("SysAddr")), "128"); // kept, but never looked up
  EXPECT_TRUE(capture.errors.empty());
  // Loaded once: a changed file is not read again until the record is freed.
  WriteLines(sys.UserPrefs(), {"Help Yes"});
  EXPECT_EQ(GUILoadClientPrefs(), 0);
  EXPECT_EQ(Value(GUIPrefValue("Help")), "off");
  GUIFreeClientPrefs();
  EXPECT_EQ(Value(GUIPrefValue("Help")), "Off"); // the built-in default
  EXPECT_EQ(GUILoadClientPrefs(), 0);
  EXPECT_EQ(Value(GUIPrefValue("Help")), "Yes");
}

TEST(ClientPrefs, BooleanRuleAndThemes) {
  const struct {
    const char* value;
    int truth;
  } cases[] = {{"True", 1}, {"true", 1}, {"YES", 1}, {"yes", 1}, {"On", 1},     {"oN", 1},
               {"1", 0},    {"False", 0}, {"Off", 0}, {"Tru", 0}, {"Yess", 0}, {"", 0}, {nullptr, 0}};
  for (const auto& c : cases) EXPECT_EQ(GUIPrefIsTrue(c.value), c.truth) << Value(c.value);

  const struct {
    const char* line; // of the user file, or null for none
    int themes;
  } themes[] = {{nullptr, 1}, {"UseWindowsThemes Yes", 1}, {"UseWindowsThemes off", 0}, {"usewindowsthemes banana", 0}};
  for (const auto& t : themes) {
    GuiSystem sys;
    WriteLines(sys.GlobalPrefs(), {});
    WriteLines(sys.UserPrefs(), t.line ? std::vector<std::string>{t.line} : std::vector<std::string>{});
    ASSERT_EQ(GUILoadClientPrefs(), 0);
    EXPECT_EQ(GUIPrefUseThemes(), t.themes) << Value(t.line);
    EXPECT_EQ(GUIPrefBool("UseWindowsThemes"), t.themes) << Value(t.line);
  }
}

TEST(ClientPrefs, BadInputNeverCrashesAndGoodLinesStillCount) {
  std::string many_unknown;
  for (int i = 0; i < 10000; ++i) many_unknown += "Key" + std::to_string(i) + " value" + std::to_string(i) + "\n";
  std::string many_same;
  for (int i = 0; i < 10000; ++i) many_same += "MaxConnHist " + std::to_string(i) + "\n";
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary += static_cast<char>((i * 131 + 7) & 0xFF);
  const struct {
    const char* name;
    std::string text;  // the user file
    const char* key;
    std::string value; // GUIPrefValue(key) afterwards
  } cases[] = {
      {"10,000 unknown keys", many_unknown + "ShowTime On\n", "ShowTime", "On"},
      {"10,000 lines of one key", many_same, "MaxConnHist", "9999"},
      {"a 100,000-byte value is dropped", "FontFileList " + std::string(100000, 'x') + "\nShowTime On\n",
       "FontFileList", "<null>"},
      {"the line after it counts", "FontFileList " + std::string(100000, 'x') + "\nShowTime On\n", "ShowTime", "On"},
      {"NUL ends a value", std::string("Help O\0n\n", 9), "Help", "O"},
      {"NUL before the value leaves the key alone", std::string("Help\0 On\n", 9), "Help", "Off"},
      {"binary bytes", binary + "\nShowUser Yes\n", "ShowUser", "Yes"},
      {"binary bytes in a value", "SelInactiveBG \x01\xff\x80 \x7f\n", "SelInactiveBG", "\x01\xff\x80 \x7f"},
      {"no line end at all", "ShowUser Yes", "ShowUser", "Yes"},
  };
  for (const auto& c : cases) {
    GuiSystem sys;
    WriteLines(sys.GlobalPrefs(), {});
    sys.WriteFile("appdata/TQ/cl-pref.txt", c.text);
    ReportCapture capture;
    EXPECT_EQ(GUILoadClientPrefs(), 0) << c.name;
    EXPECT_EQ(Value(GUIPrefValue(c.key)), c.value) << c.name;
    EXPECT_TRUE(capture.errors.empty()) << c.name;
  }
}

TEST(ClientPrefs, PathsUseForwardSlashesOnly) {
  GuiSystem sys;
  EXPECT_EQ(std::string(GUIClientPrefsGlobalPath()), sys.GlobalPrefs());
  RVSetProfileValue("RV_APPDATA", (sys.root() + "\\\\appdata\\\\TQ\\").c_str());
  EXPECT_EQ(std::string(GUIClientPrefsUserPath()), sys.UserPrefs());
}
