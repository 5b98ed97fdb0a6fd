// The command line of the update service program.
#include "service/command_line.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <strings.h>

#include "fetch/signing_key.h"
#include "runtime/message.h"
#include "runtime/print.h"
#include "service/identity.h"

UpdOptions g_upd_options = {1, 0, 0, 0, 0};

namespace {

void IllegalOption(const char* program, const char* what, char c) {
  std::fprintf(stderr, "%s: %s -- '%c'\n", program, what, c);
}

}  // namespace

int UpdParseCommandLine(int argc, char** argv, const char* program, UpdOptions* o) {
  *o = UpdOptions{1, 0, 0, 0, 0};
  int i = 1;
  while (i < argc && !o->help) {
    const char* arg = argv[i];
    if (arg[0] != '-' || arg[1] == '\0') break;
    if (std::strcmp(arg, "--") == 0) {
      ++i;
      break;
    }
    ++i;
    for (const char* p = arg + 1; *p && !o->help; ++p) {
      char c = *p;
      if (c == 'v') {
        const char* value = p[1] ? p + 1 : (i < argc ? argv[i++] : nullptr);
        if (!value) {
          IllegalOption(program, "option requires an argument", c);
          ++o->errors;
        } else {
          o->verbosity = std::atoi(value);
        }
        break;
      }
      if (c == 'T') {
        o->test_mode = 1;
        o->foreground = 1;
        o->verbosity = 9;
        continue;
      }
      if (c == '-') {
        const char* value = p + 1;
        if (strcasecmp(value, "help") == 0) {
          o->help = 1;
        } else if (strcasecmp(value, "fg") == 0) {
          o->foreground = 1;
        } else {
          std::fprintf(stderr, "Illegal Option: %s\n", value);
          ++o->errors;
        }
        break;
      }
      IllegalOption(program, "illegal option -- ", c);
      ++o->errors;
    }
  }
  // Move the remaining arguments down: the first becomes the command.
  int out = 1;
  for (int k = i; k < argc; ++k) argv[out++] = argv[k];
  for (int k = out; k < argc; ++k) argv[k] = nullptr;
  return out;
}

void UpdPrintUsage(const char* program) {
  RVPrintInfo("%s - %s", program, kUpdVersionLine);
  RVPrintInfo("Usage: %s <option> [<optarg>] ...", program);
  RVPrintInfo("\tOptions:");
  for (const char* line :
       {"-v - Verbose Level - 0 - 9", "--help - Help", "--fg - run in foreground", "-T - Test Connection"})
    RVPrintInfo("\t\t%s", line);
  RVPrintInfo("\tCommands:");
  for (const char* line : {"install [auto] [start] - register the service (auto: started at boot; start: start it)",
                           "remove - stop and unregister the service", "start - start the service",
                           "stop [remove] - stop the service (remove: then unregister it)",
                           "(none) - run as the service, under the service manager"})
    RVPrintInfo("\t\t%s", line);
  if (UpdSigningKeyIsDevelopment()) RVPrintInfo("%s", kUpdDevelopmentKeyWarning);
}

void UpdPrintRunHint(const char* program, const char* command) {
  const char* commands = "commands: install [auto] [start], remove, start, stop [remove]; --fg runs the worker here; "
                         "--help for more";
  if (command)
    std::fprintf(stderr, "%s: unknown command '%s' - running as the service, which needs the service manager; %s\n",
                 program, command, commands);
  else
    std::fprintf(stderr, "%s: no command - running as the service, which needs the service manager; %s\n", program,
                 commands);
  std::fflush(stderr);
}

void UpdLogDevelopmentKeyWarning() {
  if (UpdSigningKeyIsDevelopment()) UpdMessage(9, "%s", kUpdDevelopmentKeyWarning);
}
