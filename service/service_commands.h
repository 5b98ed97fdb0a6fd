// The service-management commands of the update service program.
#pragma once

// Carries out argv[1] when it is "install", "remove", "start" or "stop"
// (without regard to case), printing its messages to standard error when
// the verbosity is above 0. Returns 1 when a command ran, 0 when argv[1] is
// none of them (or absent).
int UpdServiceCommand(int argc, char** argv, const char* program_path, int verbosity);
