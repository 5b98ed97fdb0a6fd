// Starting other programs.
#pragma once

#include <cstdint>

// Starts the program of a command line as a detached process: its own
// session, standard streams on /dev/null, no inherited descriptors, the
// caller's environment and working directory. The line is split at blanks
// and tabs ("..." keeps blanks in one argument); when the first word
// unquoted names no program, longer runs of words joined by blanks are
// tried, as a path with blanks may be written unquoted. 0 with the process
// id in *pid (may be null); -1 with the last error (2 when no program is
// found, 5 when it cannot be run).
int PlatCreateProcessDetached(const char* command_line, uint32_t* pid);
