// Log files: RVLogWrite with rotation by age and size, the update service's
// log descriptor, and RVLogClose.
#include "runtime/log.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>
#include <shared_mutex>

#include "platform/error.h"
#include "platform/file.h"
#include "platform/system.h"
#include "runtime/alloc.h"
#include "runtime/env.h"
#include "runtime/mutex.h"
#include "runtime/print.h"
#include "runtime/util.h"

namespace {

constexpr size_t kFormatSize = 16400;    // the formatted message of one line
constexpr size_t kPrefixSize = 320;      // "%04d/.../%02d - pid - program - " with a 260-byte name
constexpr size_t kNameSize = 261;        // a log file name and its terminator
constexpr size_t kGenNameSize = kNameSize + 16; // "%s.%d"

std::atomic<RVLogClock> g_clock{nullptr}; // injected clock, null = the system's

// The program's log descriptor; writers through RVLogWriteCurrent hold the
// lock shared, RVLogSetCurrent and RVLogClose exclusively.
std::shared_mutex g_current_lock;
RVLog* g_current = nullptr;

// The file-creation mask is process-wide: the first writer to enter sets it
// to 0, the last to leave restores it, so concurrent writes (of one log or of
// several) never leave it at 0.
std::mutex g_umask_lock;
int g_umask_depth = 0;
uint32_t g_umask_saved = 0;

class UmaskZero {
 public:
  UmaskZero() {
    std::lock_guard<std::mutex> g(g_umask_lock);
    if (g_umask_depth++ == 0) g_umask_saved = PlatSetUmask(0);
  }
  ~UmaskZero() {
    std::lock_guard<std::mutex> g(g_umask_lock);
    if (--g_umask_depth == 0) PlatSetUmask(g_umask_saved);
  }
  UmaskZero(const UmaskZero&) = delete;
  UmaskZero& operator=(const UmaskZero&) = delete;
};

int64_t Now() {
  RVLogClock clock = g_clock.load();
  return clock ? clock() : PlatTimeNow();
}

void GenerationName(char* out, const RVLog* log, int64_t n) {
  std::snprintf(out, kGenNameSize, "%s.%lld", log->file_name, static_cast<long long>(n));
}

// Opens the log for appending and applies its mode; on failure reports,
// disables the descriptor and returns null.
FILE* OpenLog(RVLog* log) {
  FILE* f = PlatFileOpen(log->file_name, "a");
  if (!f) {
    RVPrintError("RVLogWrite() - Error reopening: %s", log->file_name);
    log->flags |= RV_LOG_DISABLED;
    return nullptr;
  }
  if (log->mode != 0) PlatChmod(log->file_name, log->mode);
  return f;
}

// Rotates the log (step 5.2 of RVLogWrite): older generations move up, the
// file is copied to generation 1, reopened and emptied in place with a new
// creation time. When a generation cannot be moved up the rotation stops
// there, and when the copy fails the file keeps its content (nothing is
// discarded that was not saved); either failure is recorded in
// rotation_failed. When reopening or emptying fails the fresh copy is
// removed again, so no line is held twice. -1 when the log could not be
// reopened (the descriptor is then disabled).
int Rotate(RVLog* log, int64_t now, const PlatFileInfo& info) {
  if (log->stream) {
    std::fclose(log->stream);
    log->stream = nullptr;
  }
  char from[kGenNameSize];
  char to[kGenNameSize];
  bool moved = true;
  for (int64_t n = static_cast<int64_t>(log->keep_count) - 1; n >= 1 && moved; --n) {
    GenerationName(to, log, n + 1);
    GenerationName(from, log, n);
    PlatDeleteFile(to);
    if (PlatMoveFile(from, to) != 0 && PlatGetLastError() != ERROR_FILE_NOT_FOUND) {
      RVPrintError("RVLogWrite() - Error: %d renaming %s to %s", static_cast<int>(PlatGetLastError()), from, to);
      moved = false;
    }
  }
  char first[kGenNameSize];
  GenerationName(first, log, 1);
  bool copied = false;
  if (moved) {
    // The copy replaces generation 1 only once it is complete: a failed
    // copy leaves the old one in place.
    copied = PlatCopyFile(log->file_name, first, 0) == 0;
    if (!copied) {
      int err = errno;
      RVPrintError("RVLogWrite() - Error: %d renaming %s to %s", err, log->file_name, first);
    }
  }
  log->rotation_failed = copied ? 0 : now;
  log->stream = OpenLog(log);
  if (!log->stream) {
    if (copied) PlatDeleteFile(first);
    return -1;
  }
  if (copied) {
    PlatSetCreationTime(log->file_name, now);
    if (PlatFileTruncate(log->stream, 0) != 0) {
      PlatSetCreationTime(log->file_name, info.creation_time);
      PlatDeleteFile(first);
    }
  }
  return 0;
}

}  // namespace

size_t RVFormatClipped(char* out, size_t size, const char* format, va_list ap) {
  if (size == 0) return 0;
  int n = std::vsnprintf(out, size, format ? format : "", ap);
  if (n < 0) {
    out[0] = '\0';
    return 0;
  }
  size_t len = static_cast<size_t>(n);
  if (len < size) return len;
  len = size - 1;
  // Cut before a UTF-8 sequence that the limit would split.
  size_t back = 0;
  while (back < 3 && back < len && (static_cast<unsigned char>(out[len - 1 - back]) & 0xC0) == 0x80) ++back;
  if (back < len) {
    unsigned char lead = static_cast<unsigned char>(out[len - 1 - back]);
    size_t need = (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 0;
    if (need > back + 1) len -= back + 1;
  }
  out[len] = '\0';
  return len;
}

void RVLogWrite(RVLog* log, const char* format, ...) {
  if (!log || (log->flags & RV_LOG_DISABLED)) return;
  UmaskZero umask_zero;
  RVMutex* mutex = log->mutex ? log->mutex : RVGlobalMutex();
  RVMutexLock(mutex);
  int64_t now = Now();

  // The rotation test runs on the first write of each check interval, and
  // on any write once rotation is due, unless a rotation failed in this
  // interval already: that one is tried again in the next interval.
  int64_t interval = log->check_interval;
  bool new_interval = interval == 0 || log->last_write / interval < now / interval;
  bool failed_here = interval != 0 && log->rotation_failed != 0 && log->rotation_failed / interval == now / interval;
  bool test = new_interval || ((log->flags & RV_LOG_ROTATION_DUE) != 0 && !failed_here);
  bool reused = log->stream != nullptr;  // kept open since an earlier write
  if (test) {
    log->flags &= ~RV_LOG_ROTATION_DUE;
    PlatFileInfo info;
    if (PlatFileStat(log->file_name, &info) == 0) {
      if ((log->max_age != 0 && now - info.creation_time >= static_cast<int64_t>(log->max_age)) ||
          (log->max_size != 0 && info.size >= log->max_size)) {
        reused = false;
        if (Rotate(log, now, info) != 0) {
          RVMutexUnlock(mutex);
          return;
        }
      }
    } else if (log->stream) {
      // The file was deleted behind an open stream: append to a new one
      // rather than to the deleted file.
      std::fclose(log->stream);
      log->stream = nullptr;
      reused = false;
    }
  }
  if (!log->stream) {
    log->stream = OpenLog(log);
    if (!log->stream) {
      RVMutexUnlock(mutex);
      return;
    }
  }
  log->last_write = now;

  // Another process may have appended since a kept-open stream last wrote:
  // take the real end, to cut a line back to it if the write fails part-way.
  if (reused) std::fseek(log->stream, 0, SEEK_END);
  long before = std::ftell(log->stream);
  // A new (empty) log file starts its age with its first line.
  if (before == 0) PlatSetCreationTime(log->file_name, now);

  char line[kPrefixSize + kFormatSize + 1];
  struct tm lt;
  time_t t = static_cast<time_t>(now);
  if (!localtime_r(&t, &lt)) std::memset(&lt, 0, sizeof lt);
  const char* program = RVProgramName();
  if (!program || !*program) program = "???";
  int prefix = std::snprintf(line, kPrefixSize, "%04d/%02d/%02d %02d:%02d:%02d - %d - %.260s - ", lt.tm_year + 1900,
                             lt.tm_mon + 1, lt.tm_mday, lt.tm_hour, lt.tm_min, lt.tm_sec,
                             static_cast<int>(PlatProcessId()), program);
  if (prefix < 0 || static_cast<size_t>(prefix) >= kPrefixSize) prefix = 0;
  va_list ap;
  va_start(ap, format);
  size_t text_len = RVFormatClipped(line + prefix, kFormatSize, format, ap);
  va_end(ap);
  size_t total = static_cast<size_t>(prefix) + text_len;
  line[total++] = '\n';

  bool ok = std::fwrite(line, 1, total, log->stream) == total;
  ok = std::fflush(log->stream) == 0 && ok;
  if (!ok) {
    int err = errno;
    std::clearerr(log->stream);
    if (before >= 0) PlatFileTruncate(log->stream, before);
    RVPrintError("RVLogWrite() - Error: %d writing %s", err, log->file_name);
  }
  long after = std::ftell(log->stream);
  if (log->max_size != 0 && after > static_cast<long>(log->max_size)) log->flags |= RV_LOG_ROTATION_DUE;
  if (!(log->flags & RV_LOG_KEEP_OPEN)) {
    std::fclose(log->stream);
    log->stream = nullptr;
  }
  RVMutexUnlock(mutex);
}

int RVLogOpenService(const char* file_name) {
  if (!file_name || !*file_name || std::strlen(file_name) >= kNameSize) {
    RVPrintError("RVLogOpenService() - Bad log file name: %.300s", file_name ? file_name : "");
    return -1;
  }
  if (RVMakeDirs(file_name) != 0) return -1;
  RVMutex* mutex = RVMutexAlloc();
  mutex->flags |= RV_MUTEX_AUTHUSER;
  char name[kNameSize + 16];
  std::snprintf(name, sizeof name, "Global\\%s-mtx", file_name);
  if (RVMutexCreate(mutex, name) != 0) {
    RVMutexFree(mutex);
    return -1;
  }
  RVLog* log = RVAllocRecord<RVLog>();
  log->flags = RV_LOG_IN_USE;
  log->max_size = 0x100000;
  log->max_age = 31536000;
  log->check_interval = 86400;
  log->keep_count = 1;
  log->mode = 0;
  log->mutex = mutex;
  std::snprintf(log->file_name, sizeof log->file_name, "%s", file_name);
  RVLogClose();
  RVLogSetCurrent(log);
  return 0;
}

RVLog* RVLogCurrent() {
  std::shared_lock<std::shared_mutex> g(g_current_lock);
  return g_current;
}

void RVLogSetCurrent(RVLog* log) {
  std::unique_lock<std::shared_mutex> g(g_current_lock);
  g_current = log;
}

void RVLogClose() {
  std::unique_lock<std::shared_mutex> g(g_current_lock);
  RVLog* log = g_current;
  g_current = nullptr;
  if (!log) return;
  if (log->stream) {
    RVMutex* mutex = log->mutex ? log->mutex : RVGlobalMutex();
    RVMutexLock(mutex);
    std::fclose(log->stream);
    log->stream = nullptr;
    RVMutexUnlock(mutex);
  }
  if (log->mutex) {
    RVMutexFree(log->mutex);
    log->mutex = nullptr;
  }
  log->flags &= ~RV_LOG_IN_USE;
  RVFree(log);
}

void RVLogWriteCurrent(const char* text) {
  std::shared_lock<std::shared_mutex> g(g_current_lock);
  if (g_current) RVLogWrite(g_current, "%s", text ? text : "");
}

void RVLogSetClock(RVLogClock clock) { g_clock.store(clock); }
