// Log files: one time-stamped line per message, rotated by age and size,
// shared between processes through a named mutex.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "runtime/print.h"

struct RVMutex;

enum : uint32_t {
  RV_LOG_IN_USE = 0x1,        // the descriptor is set up
  RV_LOG_DISABLED = 0x2,      // the file could not be reopened: writes are ignored
  RV_LOG_KEEP_OPEN = 0x4,     // the stream stays open between writes
  RV_LOG_ROTATION_DUE = 0x8,  // a write left the file longer than max_size
};

// One log-file descriptor. Allocated zeroed; RVLogClose frees it.
struct RVLog {
  uint32_t flags;          // RV_LOG_* bits
  int32_t max_size;        // rotate at this size in bytes; 0 = no size limit
  uint32_t max_age;        // rotate at this age in seconds; 0 = no age limit
  uint32_t check_interval; // the rotation test runs on the first write of each interval
  char file_name[261];     // path of the log file
  int64_t last_write;      // time of the last line written, seconds since 1970 UTC
  uint32_t keep_count;     // rotated generations kept, named "%s.%d" from 1
  RVMutex* mutex;          // serialises writers; null = the runtime's global mutex
  FILE* stream;            // the open log stream, or null
  uint32_t mode;           // permission mode applied after each open; 0 = none
  int64_t rotation_failed; // when a rotation last failed to write a generation (0 = never since
                           // the last success); not tried again before the next check interval
};

// Appends one line "%04d/%02d/%02d %02d:%02d:%02d - %d - %s - %s\n" with the
// formatted message (cut at 16,399 bytes), rotating first when due. Absent
// or disabled: nothing. So that no line is lost silently or
// held twice: a failed copy to generation 1 leaves the file's content in
// place (it is not emptied); a copy whose file cannot be reopened or emptied
// is removed again; a line whose write fails is cut back out of the file and
// reported ("RVLogWrite() - Error: %d writing %s"). A generation that cannot
// be moved up stops the rotation there (no older generation is dropped for
// it, the file keeps its content); a rotation that failed so is tried again,
// and reported again, only in the next check interval (check_interval 0:
// on every write).
void RVLogWrite(RVLog* log, const char* format, ...) RV_PRINTF(2, 3);

// Sets up the update service's log descriptor for `file_name` (directory
// created, own mutex "Global\<path>-mtx" with the authenticated-users
// descriptor, 1 MiB, 365 days, daily test, one generation) and makes it the
// program's log. -1 (and no descriptor) when the directory or mutex fails.
int RVLogOpenService(const char* file_name);

// The program's log descriptor, or null.
RVLog* RVLogCurrent();

// Makes `log` the program's log descriptor (null: none).
void RVLogSetCurrent(RVLog* log);

// Closes and frees the program's log descriptor and its own mutex.
void RVLogClose();

// Writes `text` unchanged (a '%' in it is not interpreted) as one line of the
// program's log, when there is one; safe against a concurrent RVLogClose.
void RVLogWriteCurrent(const char* text);

// Formats into `out` (size > 0 bytes), always terminated; text longer than
// size - 1 bytes is cut there, before an incomplete UTF-8 sequence if the cut
// would split one. Returns the length written.
size_t RVFormatClipped(char* out, size_t size, const char* format, va_list ap);

// Clock used by the log for rotation and time stamps (null: the system
// clock); for tests.
typedef int64_t (*RVLogClock)(void);
void RVLogSetClock(RVLogClock clock);
