// Platform utilities: tokenizer, directory creation, version names, URL
// test, path status, security descriptor.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/event.h"
#include "platform/named_mutex.h"
#include "platform/error.h"
#include "platform/registry.h"
#include "runtime/alloc.h"
#include "runtime/env.h"
#include "runtime/report.h"
#include "runtime/util.h"
#include "tests/support/child.h"
#include "tests/support/temp_system.h"

namespace {

std::vector<std::string> Tokens(const char* text, int size, const char* seps = nullptr) {
  std::string buf = text;
  std::vector<char*> tokens(static_cast<size_t>(size) + 1, reinterpret_cast<char*>(1));
  int n = RVTokenize(buf.data(), tokens.data(), size, seps);
  std::vector<std::string> out;
  for (int i = 0; i < n; ++i) out.push_back(tokens[static_cast<size_t>(i)]);
  EXPECT_EQ(tokens[static_cast<size_t>(n)], nullptr) << text;
  return out;
}

bool IsDir(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

TEST(Tokenize, Cases) {
  using V = std::vector<std::string>;
  const struct {
    const char* text;
    int size;
    const char* seps;
    V tokens;
  } cases[] = {
      {"a;'b;c';;d", 10, nullptr, V{"a", "b;c", "d"}},
      {"a;b;c", 3, nullptr, V{"a", "b"}},
      {";;\t\r\na\n", 5, nullptr, V{"a"}},
      {"key=\"x;y\";z", 5, nullptr, V{"key=\"x;y\"", "z"}},
      {"\"open ended", 5, nullptr, V{"open ended"}},
      {"one two  three", 5, " ", V{"one", "two", "three"}},
      {"", 5, nullptr, V{}},
      {"a;b", 1, nullptr, V{}},
  };
  for (const auto& c : cases) EXPECT_EQ(Tokens(c.text, c.size, c.seps), c.tokens) << c.text;
}

TEST(MakeDirs, CreatesOuterThenInnerButNeverTheFile) {
  TempSystem sys;
  std::string file = sys.path("one/two/file.txt");
  ASSERT_EQ(RVMakeDirs(file.c_str()), 0);
  EXPECT_TRUE(IsDir(sys.path("one")));
  EXPECT_TRUE(IsDir(sys.path("one/two")));
  struct stat st;
  EXPECT_NE(stat(file.c_str(), &st), 0);
  // Backslashes and references are handled.
  sys.SetEnv("TQ_SUB", "three");
  std::string win = sys.root() + "\\${TQ_SUB}\\four\\x.txt";
  ASSERT_EQ(RVMakeDirs(win.c_str()), 0);
  EXPECT_TRUE(IsDir(sys.path("three/four")));
}

TEST(MakeDirs, FileInTheMiddleFailsWithoutCreatingAnything) {
  TempSystem sys;
  sys.WriteFile("blocker", "x");
  EXPECT_EQ(RVMakeDirs(sys.path("blocker/inner/deeper/f.txt").c_str()), -1);
  EXPECT_FALSE(IsDir(sys.path("blocker/inner")));
}

TEST(MakeDirs, BangPathsOnlyUnderKnownDirectoriesAndLongPathsRefused) {
  TempSystem sys;
  RVInit(nullptr);
  // A "!" outside the known directories is left alone (and reported done).
  EXPECT_EQ(RVMakeDirs(sys.path("x!y/z/f.txt").c_str()), 0);
  EXPECT_FALSE(IsDir(sys.path("x!y")));
  std::string under_home = sys.home() + "/a!b/f.txt";
  EXPECT_EQ(RVMakeDirs(under_home.c_str()), 0);
  EXPECT_TRUE(IsDir(sys.home() + "/a!b"));
  // A path longer than the buffer is refused rather than cut and created.
  std::string longpath = sys.path(std::string(300, 'd') + "/f.txt");
  testing::internal::CaptureStderr();
  EXPECT_EQ(RVMakeDirs(longpath.c_str()), -1);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Cannot Create Directory: "), std::string::npos);
  EXPECT_FALSE(IsDir(sys.path(std::string(255, 'd'))));
}

TEST(OsName, Table) {
  const struct {
    uint32_t platform, major, minor, product, build;
    const char* name;
  } cases[] = {
      {1, 4, 0, 1, 0, "WINDOWS-95"},       {1, 4, 10, 1, 0, "WINDOWS-98"},
      {1, 4, 90, 1, 0, "WINDOWS-ME"},      {2, 5, 0, 1, 0, "WINDOWS-2000"},
      {2, 5, 1, 1, 0, "WINDOWS-XP"},       {2, 5, 2, 3, 0, "WINDOWS-2003"},
      {2, 5, 7, 1, 0, "WINDOWS-UNKNOWN"},  {2, 6, 0, 1, 0, "WINDOWS-VISTA"},
      {2, 6, 0, 3, 0, "WINDOWS-SERVER-2008"}, {2, 6, 1, 1, 0, "WINDOWS-7"},
      {2, 6, 1, 2, 0, "WINDOWS-SERVER-2008"}, {2, 6, 2, 1, 0, "WINDOWS-8"},
      {2, 6, 3, 3, 0, "WINDOWS-SERVER-2012"}, {2, 6, 4, 1, 0, "WINDOWS-WORKSTATION-?"},
      {2, 6, 9, 3, 0, "WINDOWS-SERVER-?"}, {2, 10, 0, 1, 19045, "WINDOWS-10"},
      {2, 10, 0, 1, 22621, "WINDOWS-11"},  {2, 10, 0, 1, 22000, "WINDOWS-11"},
      {2, 10, 0, 3, 22621, "WINDOWS-SERVER-2016"}, {2, 4, 0, 1, 0, "WINDOWS-NT"},
  };
  for (const auto& c : cases) {
    PlatOsFacts f{c.platform, c.major, c.minor, c.product, c.build};
    EXPECT_STREQ(RVOsNameFor(&f), c.name) << c.platform << "." << c.major << "." << c.minor;
  }
  // The host's own name is computed once and stays the same.
  EXPECT_EQ(RVOsName(), RVOsName());
  EXPECT_EQ(RVOsVersion()->platform, 2u);
}

// The warnings of the version facts' reading.
std::string g_os_warnings;

// The version facts come from the machine's registry, each value falling
// back to Windows 10 build 19045 on a workstation on its own; the kernel
// never shows through. Names follow the facts.
TEST(OsVersion, FactsFromTheRegistry) {
  const char* key = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\n";
  const struct {
    const char* values; // lines under the key; null: no key at all
    uint32_t major, minor, product, build;
    const char* name;
    bool warned; // a value present but unusable is reported
  } cases[] = {
      {nullptr, 10, 0, 1, 19045, "WINDOWS-10", false},
      {"", 10, 0, 1, 19045, "WINDOWS-10", false},
      {"\"CurrentMajorVersionNumber\"=dword:00000006\n", 6, 0, 1, 19045, "WINDOWS-VISTA", false},
      {"\"CurrentMajorVersionNumber\"=dword:00000006\n\"CurrentMinorVersionNumber\"=dword:00000001\n"
       "\"CurrentBuildNumber\"=\"7601\"\n\"InstallationType\"=\"Client\"\n",
       6, 1, 1, 7601, "WINDOWS-7", false},
      {"\"CurrentMajorVersionNumber\"=dword:00000006\n\"CurrentMinorVersionNumber\"=dword:00000001\n"
       "\"InstallationType\"=\"Server\"\n",
       6, 1, 3, 19045, "WINDOWS-SERVER-2008", false},
      {"\"CurrentMajorVersionNumber\"=dword:00000006\n\"CurrentMinorVersionNumber\"=dword:00000003\n"
       "\"InstallationType\"=\"server core\"\n",
       6, 3, 3, 19045, "WINDOWS-SERVER-2012", false},
      {"\"CurrentMajorVersionNumber\"=dword:00000006\n\"CurrentMinorVersionNumber\"=dword:00000002\n", 6, 2, 1,
       19045, "WINDOWS-8", false},
      {"\"CurrentMajorVersionNumber\"=dword:00000005\n\"CurrentMinorVersionNumber\"=dword:00000001\n"
       "\"CurrentBuildNumber\"=\"2600\"\n",
       5, 1, 1, 2600, "WINDOWS-XP", false},
      {"\"CurrentMajorVersionNumber\"=dword:00000005\n", 5, 0, 1, 19045, "WINDOWS-2000", false},
      {"\"CurrentMajorVersionNumber\"=dword:00000005\n\"CurrentMinorVersionNumber\"=dword:00000002\n", 5, 2, 1,
       19045, "WINDOWS-2003", false},
      {"\"CurrentBuildNumber\"=\"22621\"\n", 10, 0, 1, 22621, "WINDOWS-11", false},
      {"\"CurrentBuildNumber\"=\"22621\"\n\"InstallationType\"=\"Nano Server\"\n", 10, 0, 3, 22621,
       "WINDOWS-SERVER-2016", false},
      // Wrong types and garbage keep the default of that value only.
      {"\"CurrentMajorVersionNumber\"=\"6\"\n\"CurrentMinorVersionNumber\"=dword:00000001\n", 10, 1, 1, 19045,
       "WINDOWS-10", true},
      {"\"CurrentMajorVersionNumber\"=hex:06,00\n", 10, 0, 1, 19045, "WINDOWS-10", true},
      {"\"CurrentBuildNumber\"=dword:00005861\n", 10, 0, 1, 19045, "WINDOWS-10", true},
      {"\"CurrentBuildNumber\"=\"22621abc\"\n", 10, 0, 1, 19045, "WINDOWS-10", true},
      {"\"CurrentBuildNumber\"=\"-1\"\n", 10, 0, 1, 19045, "WINDOWS-10", true},
      {"\"CurrentBuildNumber\"=\"99999999999\"\n", 10, 0, 1, 19045, "WINDOWS-10", true},
      {"\"CurrentBuildNumber\"=\"\"\n", 10, 0, 1, 19045, "WINDOWS-10", true},
      {"\"InstallationType\"=\"Workstation\"\n\"CurrentBuildNumber\"=\"22000\"\n", 10, 0, 1, 22000, "WINDOWS-11",
       true},
      {"\"InstallationType\"=dword:00000003\n", 10, 0, 1, 19045, "WINDOWS-10", true},
  };
  for (const auto& c : cases) {
    TempSystem sys;
    const std::string label = c.values ? c.values : "(no key)";
    if (c.values) {
      int bad = 0;
      ASSERT_EQ(PlatRegImport(std::string("Windows Registry Editor Version 5.00\n\n") + key + c.values, &bad),
                static_cast<uint32_t>(ERROR_SUCCESS))
          << label << " line " << bad;
    }
    PlatOsFacts f{};
    g_os_warnings.clear();
    RVReportHooks hooks = {nullptr, [](const char* text) { g_os_warnings += text; }, nullptr};
    RVSetReportHooks(&hooks);
    RVReadOsFacts(&f);
    RVSetReportHooks(nullptr);
    const std::string& said = g_os_warnings;
    EXPECT_EQ(f.platform, 2u) << label;
    EXPECT_EQ(f.major, c.major) << label;
    EXPECT_EQ(f.minor, c.minor) << label;
    EXPECT_EQ(f.product_type, c.product) << label;
    EXPECT_EQ(f.build, c.build) << label;
    EXPECT_STREQ(RVOsNameFor(&f), c.name) << label;
    EXPECT_EQ(said.find("Version fact ") != std::string::npos, c.warned) << label << said;
    EXPECT_EQ(said.find("Unknown Windows OS"), std::string::npos) << label;
  }
}

TEST(IsUrl, Prefixes) {
  const struct {
    const char* text;
    int url;
  } cases[] = {{"http://x", 1}, {"HTTPS://x", 1}, {"file:///srv", 1}, {"ftp://h", 1}, {"gopher://h", 1},
               {"telnet://h", 1}, {"news://h", 1}, {"wais://h", 1}, {"http://", 0}, {"/srv/pkg", 0},
               {"mailto://x", 0}, {"", 0}};
  for (const auto& c : cases) EXPECT_EQ(RVIsUrl(c.text), c.url) << c.text;
  EXPECT_EQ(RVIsUrl(nullptr), 0);
}

TEST(StatPath, JoinsRelativeNamesOnly) {
  TempSystem sys;
  sys.WriteFile("dir/file.txt", "x");
  PlatFileInfo info;
  EXPECT_EQ(RVStatPath(sys.path("dir").c_str(), "file.txt", &info), 0);
  EXPECT_EQ(info.size, 1);
  EXPECT_EQ(RVStatPath(sys.path("dir").c_str(), "missing.txt", &info), -1);
  EXPECT_EQ(RVStatPath("/nowhere", sys.path("dir\\file.txt").c_str(), &info), 0);
  EXPECT_EQ(RVStatPath(nullptr, sys.path("dir").c_str(), &info), 0);
  EXPECT_EQ(info.is_dir, 1);
}

TEST(StrDup, CopiesOrGivesNone) {
  EXPECT_EQ(RVStrDup(nullptr), nullptr);
  EXPECT_EQ(RVStrDup(""), nullptr);
  char* c = RVStrDup("abc");
  EXPECT_STREQ(c, "abc");
  RVFree(c);
}

// The descriptor grants the users' group access to shared named objects,
// and nobody else.
TEST(AuthUserSecDesc, OpensObjectsToTheUsersGroup) {
  PlatSecurityDescriptor desc;
  ASSERT_EQ(RVAuthUserSecDesc(&desc), 0);
  EXPECT_EQ(desc.acl.count, 3u);
  EXPECT_EQ(desc.acl.sids[0], PLAT_SID_LOCAL_SYSTEM);
  EXPECT_EQ(desc.acl.sids[1], PLAT_SID_ADMINISTRATORS);
  EXPECT_EQ(desc.acl.sids[2], PLAT_SID_AUTHENTICATED_USERS);
  EXPECT_EQ(PlatSecurityFileMode(&desc), 0660u);
  EXPECT_EQ(desc.users_group, 1);
  EXPECT_EQ(desc.signal_by_all, 0);
  EXPECT_EQ(PlatSecurityFileMode(nullptr), 0600u);
}

// Prints RVUserName() ("<none>" when unknown) for a test that runs this
// program as another user.
TQ_CHILD_ROLE(print_user_name) {
  const char* name = RVUserName();
  std::printf("%s", name ? name : "<none>");
  return 0;
}

// RVUserName names the effective user, as the system's user database has it,
// and keeps that name; a process run as "nobody" gets "nobody".
TEST(UserName, IsTheEffectiveUser) {
  struct passwd* pw = ::getpwuid(::geteuid());
  ASSERT_NE(pw, nullptr);
  const char* name = RVUserName();
  ASSERT_NE(name, nullptr);
  EXPECT_STREQ(name, pw->pw_name);
  EXPECT_EQ(name, RVUserName()) << "asked once per process";

  if (::geteuid() != 0) GTEST_SKIP() << "running as another user needs the administrator";
  struct passwd* nobody = ::getpwnam("nobody");
  if (!nobody) GTEST_SKIP() << "no user nobody on this host";
  char self[4096];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(n, 0);
  self[n] = '\0';
  std::string out;
  int rc = TqRunCommand("setpriv --reuid=" + std::to_string(nobody->pw_uid) + " --regid=" +
                            std::to_string(nobody->pw_gid) + " --clear-groups -- '" + self +
                            "' --tq-child print_user_name 2>/dev/null",
                        &out);
  ASSERT_EQ(rc, 0) << out;
  EXPECT_EQ(out, "nobody");
}

// Seconds to milliseconds of a wait: 64-bit, never wrapping, capped just
// below the value that means "no limit".
TEST(WaitMs, MultipliesWithoutWrapping) {
  constexpr uint32_t kLongest = PLAT_INFINITE - 1;
  struct Case {
    int64_t seconds;
    uint32_t second_ms;
    uint32_t ms;
  } cases[] = {
      {0, 1000, 0},
      {-5, 1000, 0},
      {1, 1000, 1000},
      {600, 1000, 600000},
      {3600, 1000, 3600000},
      {4294967, 1000, 4294967000u},        // the largest that fits
      {4294968, 1000, kLongest},            // would wrap to 704 in 32 bits
      {5000000, 1000, kLongest},            // StartUpWait of 5,000,000 seconds
      {5000000, 10, 50000000},              // a test's short second
      {INT64_MAX, 1000, kLongest},
      {int64_t{1} << 40, 1, kLongest},
      {7, 0, 0},
      {4294967295, 1, kLongest},            // PLAT_INFINITE itself is never given
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.seconds) + " s at " + std::to_string(c.second_ms) + " ms");
    EXPECT_EQ(RVWaitMs(c.seconds, c.second_ms), c.ms);
  }
}
