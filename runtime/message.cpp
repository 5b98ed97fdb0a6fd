// UpdMessage: the message function of both programs.
#include "runtime/message.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "platform/file.h"
#include "runtime/env.h"
#include "runtime/log.h"

namespace {

constexpr size_t kMessageSize = 1024; // the formatted message
constexpr size_t kPathSize = 1024;    // the message file's path

std::atomic<int> g_log_level{-1}; // configured LogLevel, -1 = no configuration loaded
std::atomic<int> g_test_mode{0};  // option -T

std::mutex g_last_mutex;  // guards the two texts below
std::string g_last_error; // last message of level 8 or 9 since the request began
std::string g_last;       // last message of any level

// Keeps `text` as the last message, and as the last failure at level 8 or 9.
void KeepLast(int level, const char* text) {
  std::lock_guard<std::mutex> lock(g_last_mutex);
  g_last = text;
  if (level >= 8) g_last_error = text;
}

// Rewrites the message file with `text` and a newline; silently nothing when
// it cannot be opened.
void WriteMessageFile(const char* text) {
  const char* dir = RVGetEnv("RV_COMMONAPPDATA");
  if (!dir || !*dir) return;
  char path[kPathSize];
  int n = std::snprintf(path, sizeof path, "%s/tqupd-msg.txt", dir);
  if (n < 0 || static_cast<size_t>(n) >= sizeof path) return;
  FILE* f = PlatFileOpen(path, "w");
  if (!f) return;
  std::fputs(text, f);
  std::fputc('\n', f);
  std::fclose(f);
}

}  // namespace

void UpdMessage(int level, const char* format, ...) {
  char text[kMessageSize];
  va_list ap;
  va_start(ap, format);
  RVFormatClipped(text, sizeof text, format, ap);
  va_end(ap);
  WriteMessageFile(text);
  if (*text) KeepLast(level, text);
  int threshold = 9 - level;
  if (g_test_mode.load() && level >= 3) threshold = 0;
  int log_level = g_log_level.load();
  if (format && *format && (log_level < 0 || log_level >= threshold)) RVLogWriteCurrent(text);
}

void UpdMessageSetLogLevel(int log_level) {
  if (log_level < 0) log_level = -1;
  if (log_level > 9) log_level = 9;
  g_log_level.store(log_level);
}

void UpdMessageSetTestMode(int on) { g_test_mode.store(on ? 1 : 0); }

void UpdMessageBeginRequest() {
  std::lock_guard<std::mutex> lock(g_last_mutex);
  g_last_error.clear();
}

std::string UpdMessageLastError() {
  std::lock_guard<std::mutex> lock(g_last_mutex);
  return g_last_error;
}

std::string UpdMessageLast() {
  std::lock_guard<std::mutex> lock(g_last_mutex);
  return g_last;
}
