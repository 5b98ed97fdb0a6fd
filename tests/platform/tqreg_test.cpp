// The tqreg command, run as a real process against a relocated system.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/error.h"
#include "platform/registry.h"
#include "tests/support/child.h"
#include "tests/support/temp_system.h"

namespace {

constexpr const char kNotFound[] = "ERROR: The system was unable to find the specified registry key or value.\n";
constexpr const char kDone[] = "The operation completed successfully.\n";

// One argument quoted for /bin/sh.
std::string Sh(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Runs tqreg with `args` (already quoted), stdin from `input`; returns the
// exit code with stdout and stderr in *out.
int Tqreg(const std::string& args, std::string* out, const std::string& input = "") {
  std::string program = TQ_BINARY_DIR "/platform/tqreg";
  EXPECT_TRUE(std::filesystem::exists(program)) << "build the tqreg target";
  out->clear();
  return TqRunCommand("printf %s " + Sh(input) + " | " + Sh(program) + " " + args, out);
}

std::string Text(const char* path, const char* name) {
  PlatHKey k = nullptr;
  if (PlatRegOpenKey(PLAT_HKEY_LOCAL_MACHINE, path, PLAT_KEY_READ, &k) != ERROR_SUCCESS) return "<no key>";
  char buf[256];
  uint32_t size = sizeof buf, type = 0;
  uint32_t r = PlatRegQueryValue(k, name, &type, buf, &size);
  PlatRegCloseKey(k);
  return r == ERROR_SUCCESS ? std::string(buf, size) : "<error " + std::to_string(r) + ">";
}

}  // namespace

// add, query and delete show and change what the registry functions see,
// in the familiar shape.
TEST(PlatformTqreg, AddQueryDelete) {
  TempSystem sys;
  std::string out;
  const std::string key = Sh("HKLM\\SOFTWARE\\TQ Software\\tqupdate-win64");
  struct {
    std::string args;
  } adds[] = {
      {"/v InstallDir /d " + Sh("C:\\TQ \"x\"") + " /f"},
      {"/ve /d default"},
      {"/v Count /t REG_DWORD /d 42"},
      {"/v Blob /t reg_binary /d 00ff10"},
      {"/v Path /t REG_EXPAND_SZ /d %HOME_TQ%/bin"},
      {"/v Zero /t REG_DWORD"},
  };
  for (const auto& a : adds) {
    EXPECT_EQ(Tqreg("add " + key + " " + a.args, &out), 0) << a.args << out;
    EXPECT_EQ(out, kDone);
  }
  ASSERT_EQ(Tqreg("add " + Sh("HKEY_LOCAL_MACHINE\\SOFTWARE\\TQ Software\\tqupdate-win64\\Sub"), &out), 0) << out;
  EXPECT_EQ(Text("SOFTWARE\\TQ Software\\tqupdate-win64", "InstallDir"), std::string("C:\\TQ \"x\"\0", 10));

  EXPECT_EQ(Tqreg("query " + key, &out), 0);
  EXPECT_EQ(out,
            "\n"
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\TQ Software\\tqupdate-win64\n"
            "    InstallDir    REG_SZ    C:\\TQ \"x\"\n"
            "    (Default)    REG_SZ    default\n"
            "    Count    REG_DWORD    0x2a\n"
            "    Blob    REG_BINARY    00FF10\n"
            "    Path    REG_EXPAND_SZ    %HOME_TQ%/bin\n"
            "    Zero    REG_DWORD    0x0\n"
            "\n"
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\TQ Software\\tqupdate-win64\\Sub\n");
  EXPECT_EQ(Tqreg("query " + Sh("hklm\\software\\tq software") + " /v count /s", &out), 0);
  EXPECT_EQ(out,
            "\n"
            "HKEY_LOCAL_MACHINE\\software\\tq software\\tqupdate-win64\n"
            "    count    REG_DWORD    0x2a\n"
            "\n"
            "End of search: 1 match(es) found.\n");

  // An existing value is overwritten only after a yes or with /f.
  EXPECT_EQ(Tqreg("add " + key + " /v Count /t REG_DWORD /d 7", &out, "no\n"), 1);
  EXPECT_EQ(Text("SOFTWARE\\TQ Software\\tqupdate-win64", "Count"), std::string("\x2a\0\0\0", 4));
  EXPECT_EQ(Tqreg("add " + key + " /v Count /t REG_DWORD /d 0x10", &out, "yes\n"), 0) << out;
  EXPECT_EQ(Text("SOFTWARE\\TQ Software\\tqupdate-win64", "Count"), std::string("\x10\0\0\0", 4));

  EXPECT_EQ(Tqreg("delete " + key + " /v Count /f", &out), 0);
  EXPECT_EQ(Text("SOFTWARE\\TQ Software\\tqupdate-win64", "Count"), "<error 2>");
  EXPECT_EQ(Tqreg("delete " + key + " /ve /f", &out), 0);
  EXPECT_EQ(Text("SOFTWARE\\TQ Software\\tqupdate-win64", ""), "<error 2>");
  EXPECT_EQ(Tqreg("delete " + key + " /va /f", &out), 0);
  EXPECT_EQ(Tqreg("query " + key, &out), 0);
  EXPECT_EQ(out,
            "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\TQ Software\\tqupdate-win64\n\n"
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\TQ Software\\tqupdate-win64\\Sub\n");
  EXPECT_EQ(Tqreg("delete " + key, &out, "n\n"), 1);
  EXPECT_EQ(Text("SOFTWARE\\TQ Software\\tqupdate-win64\\Sub", "x"), "<error 2>");
  EXPECT_EQ(Tqreg("delete " + key, &out, "y\n"), 0);
  EXPECT_EQ(Text("SOFTWARE\\TQ Software\\tqupdate-win64", "x"), "<no key>");
  EXPECT_EQ(Tqreg("query " + key, &out), 1);
  EXPECT_EQ(out, kNotFound);
}

// Wrong arguments give the usage or a one-line error and exit code 1.
TEST(PlatformTqreg, ErrorsAndUsage) {
  TempSystem sys;
  std::string out;
  ASSERT_EQ(Tqreg("add HKLM\\\\SOFTWARE\\\\E /v V /d 1", &out), 0);
  struct {
    std::string args;
    std::string first_line;  // the first line of the output
  } cases[] = {
      {"", "ERROR: Invalid syntax."},
      {"frobnicate HKLM\\\\SOFTWARE", "ERROR: Invalid syntax."},
      {"query", "ERROR: Invalid syntax."},
      {"query HKLM\\\\SOFTWARE /v", "ERROR: Invalid syntax."},
      {"query HKLM\\\\SOFTWARE /v a /ve", "ERROR: Invalid syntax."},
      {"add HKLM\\\\SOFTWARE\\\\E /s", "ERROR: Invalid syntax."},
      {"query HKCU\\\\Software", "ERROR: Invalid key name."},
      {"query HKLMX\\\\Software", "ERROR: Invalid key name."},
      {"query HKLM\\\\SOFTWARE\\\\Missing", kNotFound},
      {"query HKLM\\\\SOFTWARE\\\\E /v Missing", kNotFound},
      {"delete HKLM\\\\SOFTWARE\\\\E /v Missing /f", kNotFound},
      {"delete HKLM\\\\SOFTWARE\\\\Missing /f", kNotFound},
      {"delete HKLM /f", "ERROR: Access is denied."},
      {"add HKLM\\\\SOFTWARE\\\\E /v D /t REG_DWORD /d 4294967296 /f", "ERROR: Invalid data for REG_DWORD"},
      {"add HKLM\\\\SOFTWARE\\\\E /v D /t REG_DWORD /d -1 /f", "ERROR: Invalid data for REG_DWORD"},
      {"add HKLM\\\\SOFTWARE\\\\E /v B /t REG_BINARY /d abc /f", "ERROR: Invalid data for REG_BINARY"},
      {"add HKLM\\\\SOFTWARE\\\\E /v B /t REG_LINK /d abc /f", "ERROR: Invalid type \"REG_LINK\"."},
      {"add HKLM\\\\SOFTWARE\\\\" + std::string(256, 'k'), "ERROR: Invalid key or value name."},
      {"import " + sys.path("none.reg"), "ERROR: Unable to read the file"},
      {"export HKLM\\\\SOFTWARE\\\\Missing " + sys.path("x.reg"), kNotFound},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Tqreg(c.args, &out), 1) << c.args;
    EXPECT_EQ(out.rfind(c.first_line, 0), 0u) << c.args << "\n" << out;
  }
  EXPECT_EQ(Tqreg("", &out), 1);
  EXPECT_NE(out.find("tqreg export KEY FILE [/y]"), std::string::npos) << out;
  EXPECT_EQ(Tqreg("/?", &out), 0);
  EXPECT_EQ(out.rfind("Usage:", 0), 0u);
  EXPECT_EQ(Text("SOFTWARE\\E", "V"), std::string("1\0", 2));
  EXPECT_EQ(Text("SOFTWARE\\E", "D"), "<error 2>");
}

// export writes a script that import brings back; an existing file is kept
// unless the answer is yes or /y is given; a bad script changes nothing.
TEST(PlatformTqreg, ExportAndImport) {
  TempSystem sys;
  std::string out;
  PlatHKey k = nullptr;
  ASSERT_EQ(PlatRegCreateKey(PLAT_HKEY_LOCAL_MACHINE, "SOFTWARE\\Wow6432Node\\TQ Software\\tool-win32", &k),
            ERROR_SUCCESS);
  const std::string dir = "C:\\Program Files (x86)\\TQ\\ \"quoted\"";
  ASSERT_EQ(PlatRegSetValue(k, "InstallDir", PLAT_REG_SZ, dir.c_str(), static_cast<uint32_t>(dir.size() + 1)),
            ERROR_SUCCESS);
  PlatRegCloseKey(k);
  const std::string file = sys.path("dir with space/export.reg");
  std::filesystem::create_directories(sys.path("dir with space"));

  ASSERT_EQ(Tqreg("export " + Sh("HKLM\\SOFTWARE\\Wow6432Node") + " " + Sh(file), &out), 0) << out;
  std::string script = sys.ReadFile("dir with space/export.reg");
  EXPECT_EQ(script,
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node]\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\TQ Software]\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\TQ Software\\tool-win32]\n"
            "\"InstallDir\"=\"C:\\\\Program Files (x86)\\\\TQ\\\\ \\\"quoted\\\"\"\n\n");

  sys.WriteFile("dir with space/export.reg", "old");
  EXPECT_EQ(Tqreg("export HKLM\\\\SOFTWARE " + Sh(file), &out, "no\n"), 1);
  EXPECT_EQ(sys.ReadFile("dir with space/export.reg"), "old");
  EXPECT_EQ(Tqreg("export HKLM\\\\SOFTWARE\\\\Wow6432Node " + Sh(file), &out, "yes\n"), 0);
  EXPECT_EQ(sys.ReadFile("dir with space/export.reg"), script);
  EXPECT_EQ(Tqreg("export HKLM\\\\SOFTWARE\\\\Wow6432Node " + Sh(file) + " /y", &out), 0);

  ASSERT_EQ(Tqreg("delete HKLM\\\\SOFTWARE /f", &out), 0);
  EXPECT_EQ(Text("SOFTWARE\\Wow6432Node\\TQ Software\\tool-win32", "InstallDir"), "<no key>");
  ASSERT_EQ(Tqreg("import " + Sh(file), &out), 0) << out;
  EXPECT_EQ(out, kDone);
  EXPECT_EQ(Text("SOFTWARE\\Wow6432Node\\TQ Software\\tool-win32", "InstallDir"), dir + '\0');

  const std::string hive = sys.ReadFile("system/registry/HKLM.reg");
  sys.WriteFile("bad.reg", script + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\More]\n\"X\"=\"1\"\n\"Y\"=dword:xyz\n");
  EXPECT_EQ(Tqreg("import " + sys.path("bad.reg"), &out), 1);
  EXPECT_EQ(out, "ERROR: \"" + sys.path("bad.reg") + "\" line 12 is not a registry script line; nothing was imported.\n");
  EXPECT_EQ(sys.ReadFile("system/registry/HKLM.reg"), hive);
}
