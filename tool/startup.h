// The configuration tool's start-up: its settings, the command line and the
// usage text.
#pragma once

#include <cstddef>

// The program name in every message of the tool.
constexpr const char kToolProgramName[] = "tqupdcnf";

// The client kind of the tool: makes the runtime's output message boxes.
constexpr const char kToolClientKind[] = "WIN64-GUI";

// Most arguments taken, argument 0 included; the rest are dropped.
constexpr int kToolMaxArgs = 30;

// Size of the layout directory, terminator included.
constexpr size_t kToolPathSize = 1024;

// The start-up settings, written only while the process starts.
struct ToolStartup {
  int wait_seconds;               // -w: seconds to wait first (0 or less: none)
  char layout_dir[kToolPathSize]; // -x made absolute, else "" (the default)
  int svc_start;                  // --svcstart
  int svc_stop;                   // --svcstop
  int svc_remove;                 // --svcremove
  int nogui;                      // --nogui: no window, no display
  int help;                       // -H or --Help: the usage text was shown
  int errors;                     // command-line errors counted
};

// The settings of this process (defaults until ToolParseCommandLine).
extern ToolStartup g_tool_startup;

// Parses argv (argument 0 is ignored; at most kToolMaxArgs arguments are
// taken) with the option string "DHVw:x:-:" into `out`, starting from the
// defaults. Each error is printed with RVPrintError and counted; -H or
// --Help shows the usage text and stops parsing with `help` set. Returns
// the error count.
int ToolParseCommandLine(int argc, char** argv, ToolStartup* out);

// Shows the usage text through RVPrintInfo, one call a line.
void ToolPrintUsage();

// Makes `path` absolute against the current directory and resolves "." and
// ".." by name, into `out` (size bytes). Returns the length, or 0 when the
// result does not fit or the current directory cannot be read (`out` is
// then "").
size_t ToolFullPath(const char* path, char* out, size_t size);
