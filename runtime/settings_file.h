// The line format of the runtime's settings files (the profile, TQ.INF and
// the config_fn file).
#pragma once

#include <cstddef>

// Receives one entry; `value` is null for a name alone on its line.
typedef void (*RVSettingsEntryFn)(const char* name, const char* value);

// Longest logical line kept; the rest of a longer line is dropped.
constexpr size_t kRVSettingsLineMax = 1023;

// Parses settings text: a line ending in "\" continues on the next (the "\"
// and the line end are removed); a line starting with a letter or "_" gives
// an entry whose name runs over letters, digits and "_" and whose value is
// the rest of the line after one or more blanks or tabs. Other lines are
// ignored. Text after a NUL byte on a line is ignored.
void RVParseSettings(const char* text, size_t length, RVSettingsEntryFn entry);

// Reads a settings file and parses it; a missing file is silently skipped.
// Returns 0 when the file was read, -1 when it could not be opened.
int RVReadSettingsFile(const char* path, RVSettingsEntryFn entry);
