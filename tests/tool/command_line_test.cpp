// The configuration tool's command line: the parser in-process over a table
// of argument lists, and the real tqupdcnf without a display, where every
// message goes to the console.
#include <gtest/gtest.h>

#include <string>
#include <unistd.h>
#include <vector>

#include "tests/support/child.h"
#include "tests/support/temp_system.h"
#include "tests/tool/tool_test_util.h"
#include "tool/startup.h"

namespace {

const std::string kTool = TQ_BINARY_DIR "/tool/tqupdcnf";

struct Parsed {
  ToolStartup s;
  std::string errors; // what the parser printed on standard error
  std::string usage;  // and on standard output
};

Parsed Parse(std::vector<std::string> args) {
  args.insert(args.begin(), "anything/at/all.exe");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  Parsed p;
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  ToolParseCommandLine(static_cast<int>(args.size()), argv.data(), &p.s);
  p.usage = testing::internal::GetCapturedStdout();
  p.errors = testing::internal::GetCapturedStderr();
  return p;
}

const char kUsage[] =
    "tqupdcnf - @(#) TQ - Version 6.7.5-01\n"
    "Usage: tqupdcnf <option> [<optarg>] ...\n"
    "\tOptions:\n"
    "\t\t-w <waitnsecs>\n"
    "\t\t-x <xmldir>\n"
    "\t\t-D - Debug\n"
    "\t\t-H - Help\n"
    "\t\t-V - Verbose Debug\n"
    "\t\t--stop\n"
    "\t\t--remove\n"
    "\t\t-- - other options\n";

std::string Illegal(char c) { return std::string("tqupdcnf: illegal option -- -- '") + c + "'\n"; }
std::string Missing(char c) { return std::string("tqupdcnf: option requires an argument -- '") + c + "'\n"; }

}  // namespace

TEST(ToolCommandLine, OptionTable) {
  struct Case {
    std::vector<std::string> args;
    int wait;
    int start, stop, remove, nogui, help;
    int errors;
    std::string messages;
  };
  const std::vector<Case> cases = {
      {{}, 0, 0, 0, 0, 0, 0, 0, ""},
      {{"-w", "120", "--svcstart", "--nogui"}, 120, 1, 0, 0, 1, 0, 0, ""},
      {{"-w120"}, 120, 0, 0, 0, 0, 0, 0, ""},
      {{"-DV"}, 0, 0, 0, 0, 0, 0, 0, ""},
      {{"-D", "-V", "-Dw7"}, 7, 0, 0, 0, 0, 0, 0, ""},
      {{"--SVCSTOP", "--SvcRemove", "--NOGUI"}, 0, 0, 1, 1, 1, 0, 0, ""},
      {{"--svcstop", "--svcstart"}, 0, 1, 1, 0, 0, 0, 0, ""},
      {{"--foo", "--stop", "--remove"}, 0, 0, 0, 0, 0, 0, 0, ""},
      {{"-q"}, 0, 0, 0, 0, 0, 0, 1, Illegal('q')},
      {{"-:"}, 0, 0, 0, 0, 0, 0, 1, Illegal(':')},
      {{"-qz", "--nogui"}, 0, 0, 0, 0, 1, 0, 2, Illegal('q') + Illegal('z')},
      {{"-w"}, 0, 0, 0, 0, 0, 0, 1, Missing('w')},
      {{"--nogui", "-x"}, 0, 0, 0, 0, 1, 0, 1, Missing('x')},
      // The next argument is the value, even when it looks like an option.
      {{"-w", "--svcstart"}, 0, 0, 0, 0, 0, 0, 0, ""},
      // Parsing stops at a word, at "-" alone, and after "--".
      {{"config", "-w", "5"}, 0, 0, 0, 0, 0, 0, 0, ""},
      {{"-", "-q"}, 0, 0, 0, 0, 0, 0, 0, ""},
      {{"--", "-q", "--svcstart"}, 0, 0, 0, 0, 0, 0, 0, ""},
      {{"--nogui", "--", "--svcstart"}, 0, 0, 0, 0, 1, 0, 0, ""},
      // -w is read as atoi reads it; out-of-range values are clamped.
      {{"-w", "-5"}, -5, 0, 0, 0, 0, 0, 0, ""},
      {{"-w", "abc"}, 0, 0, 0, 0, 0, 0, 0, ""},
      {{"-w", "12abc"}, 12, 0, 0, 0, 0, 0, 0, ""},
      {{"-w", "99999999999999999999"}, 2147483647, 0, 0, 0, 0, 0, 0, ""},
      {{"-w", "-99999999999999999999"}, -2147483647 - 1, 0, 0, 0, 0, 0, 0, ""},
      // -H shows the usage and stops; what follows is not read.
      {{"-q", "-H", "-z"}, 0, 0, 0, 0, 0, 1, 1, Illegal('q')},
      {{"--help", "--svcstart"}, 0, 0, 0, 0, 0, 1, 0, ""},
  };
  for (const Case& c : cases) {
    std::string label;
    for (const std::string& a : c.args) label += "[" + a + "]";
    Parsed p = Parse(c.args);
    EXPECT_EQ(p.s.wait_seconds, c.wait) << label;
    EXPECT_EQ(p.s.svc_start, c.start) << label;
    EXPECT_EQ(p.s.svc_stop, c.stop) << label;
    EXPECT_EQ(p.s.svc_remove, c.remove) << label;
    EXPECT_EQ(p.s.nogui, c.nogui) << label;
    EXPECT_EQ(p.s.help, c.help) << label;
    EXPECT_EQ(p.s.errors, c.errors) << label;
    EXPECT_EQ(p.errors, c.messages) << label;
    EXPECT_EQ(p.usage, c.help ? kUsage : "") << label;
  }
}

// At most 30 arguments count, argument 0 included: an error in the 31st is
// never seen.
TEST(ToolCommandLine, ThirtyArgumentsAtMost) {
  std::vector<std::string> args(28, "-D");
  args.push_back("-q"); // argument 29
  EXPECT_EQ(Parse(args).s.errors, 1);
  args.back() = "-D";
  args.push_back("-q"); // argument 30
  Parsed p = Parse(args);
  EXPECT_EQ(p.s.errors, 0);
  EXPECT_EQ(p.errors, "");
}

TEST(ToolCommandLine, LayoutDirectoryMadeAbsolute) {
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  std::string here = cwd;
  std::string parent = here.substr(0, here.rfind('/'));
  if (parent.empty()) parent = "/";
  struct Case {
    std::vector<std::string> args;
    std::string dir;
  };
  const std::vector<Case> cases = {
      {{"-x", "layouts"}, here + "/layouts"},
      {{"-xlayouts/./v2/"}, here + "/layouts/v2"},
      {{"-x", "../xml"}, parent + "/xml"},
      {{"-x", "/opt//tq/../xml/."}, "/opt/xml"},
      {{"-x", "/"}, "/"},
      {{"-x", "/.."}, "/"},
      // An empty result leaves the default: nothing given, or a path that
      // does not fit the 1,024 characters.
      {{"-x", ""}, ""},
      {{"-x", "/" + std::string(2000, 'd')}, ""},
      {{"-x", std::string(1023, 'r')}, ""},
  };
  for (const Case& c : cases) {
    Parsed p = Parse(c.args);
    EXPECT_EQ(p.s.errors, 0);
    EXPECT_EQ(std::string(p.s.layout_dir), c.dir) << c.args.back().substr(0, 40);
  }
}

// The real program, with no display: usage and option errors go to the
// console, a windowed run cannot set up its window system, and --nogui runs
// without one.
TEST(ToolProgram, WithoutADisplay) {
  TempSystem sys;
  sys.UnsetEnv("DISPLAY");
  sys.SetEnv("TQ_TEST_SECOND_MS", "1");
  ToolInstallFontFile(sys);
  struct Case {
    std::string args;
    int code;
    std::string out;
    std::string err; // expected start of standard error
  };
  const std::vector<Case> cases = {
      {"-H", 0, kUsage, ""},
      {"--HELP --svcstart", 0, kUsage, ""},
      {"-q", 1, "", Illegal('q')},
      {"--nogui -w", 1, "", Missing('w')},
      {"--nogui", 0, "", ""},
      {"--nogui --foo -DV -w120", 0, "", ""},
      {"--nogui -w -3", 0, "", ""},
      {"--nogui -x " + std::string(2000, 'x'), 0, "", ""},
      {"--nogui config -q", 0, "", ""},
      {"", 1, "", "Window System Error: "},
      {"-w 1", 1, "", "Window System Error: "},
  };
  for (const Case& c : cases) {
    std::string out_file = sys.path("out.txt");
    std::string err_file = sys.path("err.txt");
    int code = TqRunCommand("(" + kTool + " " + c.args + " >" + out_file + " 2>" + err_file + " </dev/null)");
    std::string label = c.args.substr(0, 60);
    EXPECT_EQ(code, c.code) << label;
    EXPECT_EQ(sys.ReadFile("out.txt"), c.out) << label;
    std::string err = sys.ReadFile("err.txt");
    if (c.err.empty()) {
      EXPECT_EQ(err, "") << label;
    } else {
      EXPECT_EQ(err.rfind(c.err, 0), 0u) << label << ": " << err;
    }
  }
}
