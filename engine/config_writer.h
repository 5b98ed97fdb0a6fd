// The configuration tool's writer: tqupd-cnf.txt from the form values, with
// the previous file kept as "<file>-bu".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct UpdFormValues;

// The text of the configuration file for `form`: a header stamped with the
// local date and time of `now` (seconds since 1970 UTC) and `user` (null:
// empty), the server settings (the password scrambled with key letters made
// from `now`), the service settings, and one Schedule line per row with a
// start time, its times on the 12-hour clock ("04:30pm", "12:00am"; "??" for
// each part of a time that does not read as a time of day). Package, Env and
// MaxLoopCount lines are never written; HttpsVerify,
// HttpsCAFile, HttpsPin, MaxDownloadSize and ScriptSignature lines are written after
// OnStartCheck when the form holds them.
std::string UpdConfigText(const UpdFormValues* form, int64_t now, const char* user);

// Writes the configuration file at `path` from `form` (checked before),
// stamped as UpdConfigText does. An existing file is first copied to
// "<path>-bu"; when that fails: "Error Creating Backup File: %d" (the
// system's error code) and nothing is written. The new text goes to a
// temporary beside the file, is forced to disk and then renamed over the
// file, so the file is always either the old one or the new one, whole;
// when that fails: "Error: %d creating file: %s" (the C runtime's error
// number, the path) and the old file stays. The directory is created when
// missing. 0 with `message` empty, or -1 with the message in `message`
// (`size` bytes).
int UpdWriteConfigTo(const UpdFormValues* form, const char* path, int64_t now, const char* user, char* message,
                     size_t size);

// UpdWriteConfigTo for the configuration file (UpdConfigPath), the current
// time and the user running the program.
int UpdWriteConfig(const UpdFormValues* form, char* message, size_t size);
