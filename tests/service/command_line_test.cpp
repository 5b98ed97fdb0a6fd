// The service program's command line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fetch/signing_key.h"
#include "service/command_line.h"

namespace {

struct Parsed {
  UpdOptions options;
  std::vector<std::string> rest;  // argv[1..] after parsing
  std::string err;                // what went to standard error
};

Parsed Parse(std::vector<std::string> args) {
  std::vector<char*> argv;
  std::string prog = "tqupdd";
  argv.push_back(prog.data());
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  Parsed p{};
  testing::internal::CaptureStderr();
  int argc = UpdParseCommandLine(static_cast<int>(args.size()) + 1, argv.data(), "tqupdd", &p.options);
  p.err = testing::internal::GetCapturedStderr();
  for (int i = 1; i < argc; ++i) p.rest.push_back(argv[static_cast<size_t>(i)]);
  return p;
}

}  // namespace

TEST(CommandLine, Cases) {
  using V = std::vector<std::string>;
  const struct {
    V args;
    int verbosity, foreground, test_mode, help, errors;
    V rest;
    std::string err;
  } cases[] = {
      {{}, 1, 0, 0, 0, 0, {}, ""},
      {{"--FG"}, 1, 1, 0, 0, 0, {}, ""},
      {{"--fg", "install", "auto"}, 1, 1, 0, 0, 0, {"install", "auto"}, ""},
      {{"--verbose"}, 1, 0, 0, 0, 1, {}, "Illegal Option: verbose\n"},
      {{"--fgx"}, 1, 0, 0, 0, 1, {}, "Illegal Option: fgx\n"},
      {{"-v5", "start"}, 5, 0, 0, 0, 0, {"start"}, ""},
      {{"-v", "5", "start"}, 5, 0, 0, 0, 0, {"start"}, ""},
      {{"-v", "0", "install"}, 0, 0, 0, 0, 0, {"install"}, ""},
      {{"-T"}, 9, 1, 1, 0, 0, {}, ""},
      {{"-T", "-v", "2"}, 2, 1, 1, 0, 0, {}, ""},
      {{"-Tv3"}, 3, 1, 1, 0, 0, {}, ""},
      {{"-", "-T"}, 1, 0, 0, 0, 0, {"-", "-T"}, ""},
      {{"--", "-T", "x"}, 1, 0, 0, 0, 0, {"-T", "x"}, ""},
      {{"install", "-T"}, 1, 0, 0, 0, 0, {"install", "-T"}, ""},
      {{"-x", "stop"}, 1, 0, 0, 0, 1, {"stop"}, "tqupdd: illegal option --  -- 'x'\n"},
      {{"-:"}, 1, 0, 0, 0, 1, {}, "tqupdd: illegal option --  -- ':'\n"},
      {{"-v"}, 1, 0, 0, 0, 1, {}, "tqupdd: option requires an argument -- 'v'\n"},
      {{"-x", "-y"}, 1, 0, 0, 0, 2, {}, "tqupdd: illegal option --  -- 'x'\ntqupdd: illegal option --  -- 'y'\n"},
      {{"--HELP", "-x"}, 1, 0, 0, 1, 0, {"-x"}, ""},
      {{"-vabc"}, 0, 0, 0, 0, 0, {}, ""},
  };
  for (const auto& c : cases) {
    Parsed p = Parse(c.args);
    std::string label = testing::PrintToString(c.args);
    EXPECT_EQ(p.options.verbosity, c.verbosity) << label;
    EXPECT_EQ(p.options.foreground, c.foreground) << label;
    EXPECT_EQ(p.options.test_mode, c.test_mode) << label;
    EXPECT_EQ(p.options.help, c.help) << label;
    EXPECT_EQ(p.options.errors, c.errors) << label;
    EXPECT_EQ(p.rest, c.rest) << label;
    EXPECT_EQ(p.err, c.err) << label;
  }
}

TEST(CommandLine, UsageText) {
  testing::internal::CaptureStdout();
  UpdPrintUsage("tqupdd");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "tqupdd - @(#) TQ - Version 6.7.5-01\n"
            "Usage: tqupdd <option> [<optarg>] ...\n"
            "\tOptions:\n"
            "\t\t-v - Verbose Level - 0 - 9\n"
            "\t\t--help - Help\n"
            "\t\t--fg - run in foreground\n"
            "\t\t-T - Test Connection\n"
            "\tCommands:\n"
            "\t\tinstall [auto] [start] - register the service (auto: started at boot; start: start it)\n"
            "\t\tremove - stop and unregister the service\n"
            "\t\tstart - start the service\n"
            "\t\tstop [remove] - stop the service (remove: then unregister it)\n"
            "\t\t(none) - run as the service, under the service manager\n" +
                std::string(UpdSigningKeyIsDevelopment()
                                ? "Warning: the compiled-in signing key is the development key; packages signed by "
                                  "anyone holding it are accepted\n"
                                : ""));
}
