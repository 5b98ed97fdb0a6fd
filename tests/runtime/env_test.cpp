// Installation discovery, settings files, expansion and escapes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "runtime/env.h"
#include "runtime/report.h"
#include "runtime/settings_file.h"
#include "runtime/util.h"
#include "tests/support/child.h"
#include "tests/support/temp_system.h"

namespace {

std::vector<std::string> g_warnings;

void CaptureWarning(const char* text) { g_warnings.push_back(text); }
void Ignore(const char*) {}

// Captures runtime warnings for the life of the object.
struct WarningCapture {
  WarningCapture() {
    g_warnings.clear();
    RVReportHooks hooks = {Ignore, CaptureWarning, Ignore};
    RVSetReportHooks(&hooks);
  }
  ~WarningCapture() { RVSetReportHooks(nullptr); }
};

std::string Env(const char* name) {
  const char* v = RVGetEnv(name);
  return v ? v : "<none>";
}

std::string Os(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "<none>";
}

// A registry hive with the given sections.
std::string Hive(const std::string& body) { return "Windows Registry Editor Version 5.00\r\n\r\n" + body; }

}  // namespace

TEST(Discovery, RelocatedInstallationGivesEveryDirectory) {
  TempSystem sys;
  RVInit("/some/where/tqupdd");
  std::string home = sys.home();
  EXPECT_EQ(Env("RV_HOME"), home);
  EXPECT_EQ(Env("HOME_TQ"), home);
  EXPECT_EQ(Env("bin_dir"), home + "/bin");
  EXPECT_EQ(Env("lib_dir"), home + "/lib");
  EXPECT_EQ(Env("tmp_dir"), home + "/tmp");
  EXPECT_EQ(Env("RV_TEMP"), home + "/tmp");
  EXPECT_EQ(Env("RV_IMAGES"), home + "/images");
  EXPECT_EQ(Env("RV_COMMONAPPDATA"), sys.path("common/TQ"));
  EXPECT_EQ(Env("RV_CLIMAGES"), sys.path("common/TQ/images"));
  EXPECT_EQ(Env("RV_APPDATA"), sys.path("appdata/TQ"));
  EXPECT_EQ(Env("RV_DOCUMENTS"), sys.path("documents"));
  EXPECT_STREQ(RVProgramName(), "tqupdd");
  char scratch[300];
  std::snprintf(scratch, sizeof scratch, "%s/s_%08lx", sys.path("appdata/TQ").c_str(),
                static_cast<unsigned long>(getpid()));
  EXPECT_STREQ(RVScratchName(), scratch);
  // The service creates the common data and temporary directories, not the
  // per-user ones, and keeps the directories out of the environment.
  struct stat st;
  EXPECT_EQ(stat(sys.path("common/TQ").c_str(), &st), 0);
  EXPECT_EQ(stat((home + "/tmp").c_str(), &st), 0);
  EXPECT_NE(stat(sys.path("appdata/TQ").c_str(), &st), 0);
  EXPECT_EQ(Os("RV_HOME"), "<none>");
  EXPECT_NE(RVGlobalMutex(), nullptr);
  EXPECT_NE(RVLocalMutex(), nullptr);
}

TEST(Discovery, ProgramNameDropsDriveAndDirectories) {
  TempSystem sys;
  const struct {
    const char* path;
    const char* name;
  } cases[] = {{"C:\\TQ\\TQUpdate\\etc\\tqupdd.exe", "tqupdd.exe"},
               {"tqupdcnf", "tqupdcnf"},
               {"/opt/TQ/TQUpdate/bin/tqupdcnf", "tqupdcnf"},
               {"c:tool", "c:tool"}};
  for (const auto& c : cases) {
    RVInit(c.path);
    EXPECT_STREQ(RVProgramName(), c.name) << c.path;
  }
}

// Where HOME_TQ comes from: environment, registry, Program Files.
TEST(Discovery, HomeFromRegistryOrProgramFiles) {
  struct Case {
    const char* what;
    bool env_home;          // HOME_TQ set in the environment
    std::string hive;       // registry content
    std::string expect;     // expected HOME_TQ, relative to the temp root
    std::string expect32;   // expected 32-bit directory, relative; "" = none
  };
  const std::vector<Case> cases = {
      {"no registry entry", false, "", "programs/TQ", ""},
      {"environment wins over registry", true,
       Hive("[HKEY_LOCAL_MACHINE\\SOFTWARE\\TQ Software\\client-win64]\r\n\"InstallDir\"=\"@/reg64\"\r\n"),
       "home-tq", ""},
      {"missing directory skipped, next subkey used", false,
       Hive("[HKEY_LOCAL_MACHINE\\SOFTWARE\\TQ Software\\old-win64]\r\n\"InstallDir\"=\"@/gone\"\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TQ Software\\client-win64]\r\n\"Version\"=\"1\"\r\n"
            "\"INSTALLDIR\"=\"@/reg64/\"\r\n"),
       "reg64", ""},
      {"-win32 subkey under the 64-bit key ignored", false,
       Hive("[HKEY_LOCAL_MACHINE\\SOFTWARE\\TQ Software\\client-win32]\r\n\"InstallDir\"=\"@/reg64\"\r\n"),
       "programs/TQ", ""},
      {"32-bit directory from the Wow6432Node key", false,
       Hive("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\TQ Software\\client-win32]\r\n"
            "\"InstallDir\"=\"@/reg32\"\r\n"),
       "programs/TQ", "reg32"},
  };
  for (const Case& c : cases) {
    TempSystem sys;
    sys.WriteFile("reg64/keep", "");
    sys.WriteFile("reg32/keep", "");
    if (!c.env_home) sys.UnsetEnv("HOME_TQ");
    std::string hive = c.hive;
    for (size_t at; (at = hive.find('@')) != std::string::npos;) hive.replace(at, 1, sys.root());
    if (!hive.empty()) sys.WriteFile("system/registry/HKLM.reg", hive);
    RVInit(nullptr);
    EXPECT_EQ(Env("HOME_TQ"), sys.path(c.expect)) << c.what;
    EXPECT_EQ(RVInstallDir32() ? std::string(RVInstallDir32()) : "", c.expect32.empty() ? "" : sys.path(c.expect32))
        << c.what;
  }
}

TEST(Discovery, MissingBaseDirectoryGivesDotAndNoDefaults) {
  TempSystem sys;
  sys.SetEnv("HOME_TQ", sys.path("not-there").c_str());
  RVInit(nullptr);
  EXPECT_EQ(Env("RV_HOME"), ".");
  EXPECT_EQ(Env("RV_IMAGES"), ".");
  EXPECT_EQ(Env("bin_dir"), "<none>");
  EXPECT_EQ(Env("RV_TEMP"), ".");
}

TEST(Discovery, InstallationFileEntries) {
  TempSystem sys;
  sys.SetEnv("PRESET", "from-environment");
  sys.SetEnv("XLLEGACY", "legacy-value");
  std::string user = RVUserName() ? RVUserName() : "nobody";
  sys.WriteFile("home-tq/TQ.INF",
                "# comment line\n"
                "Env PRESET from-inf\n"
                "Env NEWVAR ${HOME_TQ}/new\n"
                "LocalEnv LOCALVAR local-${HOME_TQ}\n"
                "UserEnv " + user + " MINE mine-value\n"
                "UserEnv someone-else THEIRS theirs-value\n"
                "quoted \"a\\tb\"\n"
                "legacy_dir plain-value\n"
                "continued first \\\n"
                "second\n");
  RVInit(nullptr);
  // Env does not override the environment; a new name reaches both.
  EXPECT_EQ(Env("PRESET"), "from-environment");
  EXPECT_EQ(Os("NEWVAR"), sys.home() + "/new");
  EXPECT_EQ(Env("NEWVAR"), sys.home() + "/new");
  // LocalEnv stays out of the environment.
  EXPECT_EQ(Env("LOCALVAR"), "local-" + sys.home());
  EXPECT_EQ(Os("LOCALVAR"), "<none>");
  EXPECT_EQ(Env("MINE"), "mine-value");
  EXPECT_EQ(Os("MINE"), "mine-value");
  EXPECT_EQ(Env("THEIRS"), "<none>");
  // Other names go to the installation list; quotes and escapes convert.
  EXPECT_STREQ(RVGetInstallSetting("quoted"), "a\tb");
  EXPECT_STREQ(RVGetInstallSetting("legacy_dir"), "legacy-value");
  EXPECT_STREQ(RVGetInstallSetting("continued"), "first second");
  EXPECT_EQ(RVGetInstallSetting("PRESET"), nullptr);
  unsetenv("NEWVAR");
  unsetenv("MINE");
}

TEST(Discovery, ProfileAndConfigFile) {
  TempSystem sys;
  sys.WriteFile("PROFILE.TQ", "base_dir " + sys.path("base") + "/\nbin_dir /custom/bin\ndatetype EUROPEAN\n");
  sys.WriteFile("base/keep", "");
  sys.WriteFile("base/TQ.CNF", "Env FROMCNF yes\nsomething else\n");
  RVInit(nullptr);
  EXPECT_EQ(Env("RV_HOME"), sys.path("base"));
  EXPECT_EQ(Env("bin_dir"), "/custom/bin");
  EXPECT_EQ(Env("etc_dir"), sys.path("base") + "/etc");
  EXPECT_EQ(Env("config_fn"), sys.path("base") + "/TQ.CNF");
  EXPECT_EQ(Env("FROMCNF"), "yes");
  EXPECT_STREQ(RVGetInstallSetting("something"), "else");
  EXPECT_EQ(RVDateEuropean(), 1);
  unsetenv("FROMCNF");
}

TEST(Discovery, LegacyVariablesAndSystemSetting) {
  TempSystem sys;
  sys.SetEnv("XLCONFIG", sys.path("legacy.cnf").c_str());
  sys.SetEnv("XLALTPATH", "alt-value");
  sys.SetEnv("XLMIXED", "mixed-value");
  sys.WriteFile("legacy.cnf", "fromlegacy 1\n");
  RVInit(nullptr);
  EXPECT_EQ(Env("config_fn"), sys.path("legacy.cnf"));
  EXPECT_STREQ(RVGetInstallSetting("fromlegacy"), "1");
  EXPECT_EQ(Env("alt_path_lst"), "alt-value");
  EXPECT_EQ(Env("Mixed_dir"), "<none>");
  EXPECT_STREQ(RVGetSystemSetting("XLSYSTEM"), (sys.home() + "/system").c_str());
}

TEST(Discovery, ToolPublishesDirectoriesAndExtendsPath) {
  TempSystem sys;
  sys.SetEnv("PATH", ("/usr/bin:" + sys.home() + "/Bin/").c_str());
  RVSetProgramKind(RV_PROGRAM_TOOL);
  RVInit("tqupdcnf");
  RVSetProgramKind(RV_PROGRAM_SERVICE);
  EXPECT_EQ(Os("RV_HOME"), sys.home());
  EXPECT_EQ(Os("RV_APPDATA"), sys.path("appdata/TQ"));
  EXPECT_EQ(Os("PATH"), "/usr/bin:" + sys.home() + "/Bin/:" + sys.home() + "/Bin/win:" + sys.home() + "/lib");
  struct stat st;
  EXPECT_EQ(stat(sys.path("appdata/TQ").c_str(), &st), 0);
  for (const char* n : {"RV_COMMONAPPDATA", "RV_APPDATA", "RV_DOCUMENTS", "RV_TEMP", "RV_HOME", "RV_IMAGES",
                        "RV_CLIMAGES"})
    sys.UnsetEnv(n);
}

TQ_CHILD_ROLE(print_rv_home) {
  const char* v = std::getenv("RV_HOME");
  return v ? 1 : 0;
}

// The service keeps RV_HOME from a child process's environment.
TEST(Discovery, ServiceKeepsDirectoriesOutOfChildEnvironment) {
  TempSystem sys;
  sys.SetEnv("RV_HOME", "/stale");
  RVInit(nullptr);
  EXPECT_EQ(Env("RV_HOME"), sys.home());
  EXPECT_EQ(TqWaitChild(TqSpawnChild("print_rv_home")), 0);
}

TEST(Settings, SetEnvExpandsStoresAndRemoves) {
  TempSystem sys;
  RVInit(nullptr);
  RVSetEnv("TQ_TEST_VAR", "${HOME_TQ}/x");
  EXPECT_EQ(Os("TQ_TEST_VAR"), sys.home() + "/x");
  EXPECT_EQ(Env("TQ_TEST_VAR"), sys.home() + "/x");
  RVSetEnv("TQ_TEST_VAR", "");
  EXPECT_EQ(Os("TQ_TEST_VAR"), "<none>");
  EXPECT_EQ(Env("TQ_TEST_VAR"), "");
  // The umask setting is read in C notation.
  mode_t old = umask(0);
  RVSetEnv("RV_UMASK", "022");
  EXPECT_EQ(umask(old), 022);
  unsetenv("RV_UMASK");
}

TEST(Settings, ExpandCases) {
  TempSystem sys;
  sys.SetEnv("TQ_A", "alpha");
  RVInit(nullptr);
  const struct {
    const char* in;
    size_t size;
    const char* out;
  } cases[] = {
      {"x${TQ_A}y", 100, "xalphay"},
      {"${TQ_NOT_SET}end", 100, "end"},
      {"${TQ_A", 100, "${TQ_A"},
      {"${}", 100, "${}"},
      {"$TQ_A {x}", 100, "$TQ_A {x}"},
      {"${TQ_A}${TQ_A}", 8, "alphaal"},
      {"abcdef", 4, "abc"},
      {"", 10, ""},
  };
  for (const auto& c : cases) {
    std::vector<char> out(c.size);
    RVExpand(c.in, out.data(), out.size());
    EXPECT_STREQ(out.data(), c.out) << c.in;
  }
  // Over-long names are cut to 511 characters, never overrun.
  std::string longref = "${" + std::string(2000, 'N') + "}tail";
  char out[64];
  RVExpand(longref.c_str(), out, sizeof out);
  EXPECT_STREQ(out, "tail");
}

TEST(Settings, NormalizePathCases) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"C:\\TQ\\TQUpdate\\Log", "C:/TQ/TQUpdate/Log"},
      {"/abc//d///e", "/abc/d/e"},
      {"/a//b", "/a//b"},
      {"\\\\server\\share\\\\x", "//server/share/x"},
      {"http://host//path", "http://host/path"},
      {"HTTPS://host/a//b", "HTTPS://host/a/b"},
      {"file:///srv//pkg", "file:///srv/pkg"},
      {"ab//", "ab//"},
      {"", ""},
  };
  for (const auto& c : cases) {
    std::string buf = c.in;
    RVNormalizePath(buf.data());
    EXPECT_STREQ(buf.c_str(), c.out) << c.in;
  }
}

TEST(Settings, ConvLineCases) {
  TempSystem sys;
  const struct {
    const char* in;
    const char* out;
    int errors;
    size_t warnings;
  } cases[] = {
      {"a\\tb\\nc", "a\tb\nc", 0, 0},
      {"\\E\\e\\A\\B\\F\\R\\V", "\x1b\x1b\x07\x08\x0c\r\x0b", 0, 0},
      {"\\f\\q\\\\", "fq\\", 0, 0},
      {"^A^z^@", "\x01\x1a\x00", 0, 0},
      {"^[", "^[", 1, 2},
      {"end\\", "end\\", 1, 1},
      {"end^", "end^", 1, 1},
      {"x^1y", "x^1y", 1, 2},
  };
  for (const auto& c : cases) {
    WarningCapture capture;
    char out[64];
    int errors = 0;
    int used = conv_line(out, c.in, &errors);
    EXPECT_EQ(used, static_cast<int>(std::strlen(c.in))) << c.in;
    EXPECT_STREQ(out, c.out) << c.in;
    EXPECT_EQ(errors, c.errors) << c.in;
    EXPECT_EQ(g_warnings.size(), c.warnings) << c.in;
  }
  WarningCapture capture;
  char out[16];
  int errors = 0;
  conv_line(out, "a^1", &errors);
  ASSERT_EQ(g_warnings.size(), 2u);
  EXPECT_EQ(g_warnings[0], "Warning: Invalid <ctrl> char ^1 in conv_line()");
  EXPECT_EQ(g_warnings[1], "Try escaping the '^' with a '\\'");
  conv_line(out, "z\\", &errors);
  EXPECT_EQ(g_warnings.back(), "Warning: Unescaped '\\' in conv_line()");
}

namespace {
std::vector<std::pair<std::string, std::string>> g_entries;
void Collect(const char* name, const char* value) { g_entries.push_back({name, value ? value : "<none>"}); }
}  // namespace

// Malformed settings files: no crash, no read past the text, sane entries.
TEST(Settings, SettingsFileBadInput) {
  static const char kBinary[] = "bin\0ary 1\nok 2\n\xff\xfe junk\n";
  const struct {
    std::string text;
    std::vector<std::pair<std::string, std::string>> entries;
  } cases[] = {
      {"alone\nname value with  blanks\r\n_x\t1\n9bad 1\n=bad\nname=bad\n",
       {{"alone", "<none>"}, {"name", "value with  blanks"}, {"_x", "1"}}},
      {"a \"unterminated\nb 'x\n", {{"a", "\"unterminated"}, {"b", "'x"}}},
      {"tail \\", {{"tail", ""}}},
      {"one \\\ntwo\\\nthree", {{"one", "twothree"}}},
      {std::string(kBinary, sizeof kBinary - 1), {{"bin", "<none>"}, {"ok", "2"}}},
      {"long " + std::string(5000, 'v') + "\nnext 1\n",
       {{"long", std::string(1023 - 5, 'v')}, {"next", "1"}}},
      {"", {}},
  };
  for (const auto& c : cases) {
    g_entries.clear();
    RVParseSettings(c.text.data(), c.text.size(), Collect);
    EXPECT_EQ(g_entries, c.entries) << c.text.substr(0, 40);
  }
  g_entries.clear();
  EXPECT_EQ(RVReadSettingsFile("/nonexistent/PROFILE.TQ", Collect), -1);
  EXPECT_TRUE(g_entries.empty());
}
