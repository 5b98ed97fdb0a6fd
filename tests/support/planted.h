// Objects a local attacker plants at a fixed name the system writes: a
// symbolic or hard link to a victim file, a FIFO, a directory, a file of
// the attacker's own; and snapshots that show a file did not change.
#pragma once

#include <sys/stat.h>

#include <string>

#include "tests/support/users.h"

// What is planted.
enum class TqPlant { kSymlink, kHardLink, kFifo, kDirectory, kAttackerFile };

// Every kind, for tables.
constexpr TqPlant kTqPlants[] = {TqPlant::kSymlink, TqPlant::kHardLink, TqPlant::kFifo, TqPlant::kDirectory,
                                 TqPlant::kAttackerFile};

// The content of a planted file of the attacker.
constexpr char kTqAttackerText[] = "the attacker's own file\n";

// A name for test messages.
const char* TqPlantName(TqPlant p);

// Plants `p` at `path` (its directory created) as `attacker`; links point at
// `victim`. False (with a test failure) when it could not be planted.
bool TqPlantAt(TqPlant p, const std::string& path, const std::string& victim, const TqUser& attacker);

// What a file looked like: its status and, for a regular file, its text
// (a FIFO is never opened).
struct TqSnapshot {
  bool exists = false;
  std::string text;
  struct stat st {};
};

TqSnapshot TqTake(const std::string& path);

// True when nothing of the file changed: text, inode, size, modification
// time, mode and owner.
bool TqSame(const TqSnapshot& a, const TqSnapshot& b);
