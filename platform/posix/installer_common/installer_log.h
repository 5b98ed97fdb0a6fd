// The installer's log, shared by the installer itself and by its client
// library (which logs why a host process failed). POSIX implementation.
#pragma once

#include <string>

// Appends a line to TQ_SYSTEM_ROOT/installer/logs/installer.log (kept below
// about 1 MiB, one older generation beside it); failures to log are ignored.
void MsiLog(const std::string& text);
