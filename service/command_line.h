// The command line of the update service program.
#pragma once

#include <cstdint>

// Process-wide settings set by the command line.
struct UpdOptions {
  int32_t verbosity; // console messages of the service commands when > 0
  int foreground;    // run the worker in this process (--fg, -T)
  int test_mode;     // one test check, no installation (-T)
  int help;          // --help was given
  int errors;        // command-line errors counted
};

// The program's options; defaults until UpdParseCommandLine sets them.
extern UpdOptions g_upd_options;

// Parses the options of argv with the option string "v:-:T" into `options`
// (starting from the defaults), printing each error to standard error, and
// moves the arguments that remain down so that the first becomes argv[1].
// Parsing stops at --help. Returns the new argument count.
int UpdParseCommandLine(int argc, char** argv, const char* program, UpdOptions* options);

// Prints the usage text through RVPrintInfo (the options, then the
// commands), with the development key's
// warning when that key is compiled in.
void UpdPrintUsage(const char* program);

// Prints one line to standard error for a program run without a command
// (`command` null) or with an unknown one, outside the service manager:
// what was taken, the commands, and --fg and --help.
void UpdPrintRunHint(const char* program, const char* command);

// Logs the development key's warning at level 9 (shown at every LogLevel)
// when that key is compiled in; the worker calls it at every start.
void UpdLogDevelopmentKeyWarning();
