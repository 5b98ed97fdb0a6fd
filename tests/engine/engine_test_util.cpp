// Helpers of the engine tests.
#include "tests/engine/engine_test_util.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <ostream>

#include "engine/config.h"
#include "runtime/alloc.h"
#include "runtime/log.h"
#include "runtime/message.h"
#include "runtime/mutex.h"
#include "tests/support/log_texts.h"

std::ostream& operator<<(std::ostream& out, const CapturedMessage& m) {
  return out << "(" << m.level << ") " << m.text;
}

EngineSystem::EngineSystem(const char* tz) : sys_(std::make_unique<TempSystem>()) {
  const char* old = std::getenv("TZ");
  had_tz_ = old != nullptr;
  if (old) old_tz_ = old;
  ::setenv("TZ", tz, 1);
  ::tzset();
  log_path_ = sys_->path("test-log.txt");
  RVLog* log = RVAllocRecord<RVLog>();
  log->flags = RV_LOG_IN_USE;
  log->keep_count = 1;
  std::snprintf(log->file_name, sizeof log->file_name, "%s", log_path_.c_str());
  log->mutex = RVMutexAlloc();
  RVMutexCreate(log->mutex, nullptr);
  RVLogSetCurrent(log);
  UpdMessageSetLogLevel(-1);
  UpdMessageSetTestMode(0);
}

EngineSystem::~EngineSystem() {
  UpdFreeConfig();
  RVLogClose();
  UpdMessageSetLogLevel(-1);
  if (had_tz_) ::setenv("TZ", old_tz_.c_str(), 1);
  else ::unsetenv("TZ");
  ::tzset();
  sys_.reset();
}

std::string EngineSystem::ConfigPath() const { return sys_->home() + "/TQUpdate/Config/tqupd-cnf.txt"; }

void EngineSystem::WriteConfig(const std::string& text) const {
  sys_->WriteFile("home-tq/TQUpdate/Config/tqupd-cnf.txt", text);
}

std::vector<std::string> EngineSystem::Texts() {
  return TqLogTexts(sys_->ReadFile("test-log.txt"), &consumed_, false);
}

std::vector<CapturedMessage> EngineSystem::Levels(const std::function<void()>& action) {
  // A message of level v reaches the log from LogLevel 9 - v on.
  std::vector<std::vector<std::string>> runs(10);
  Texts();
  for (int log_level = 0; log_level <= 9; ++log_level) {
    UpdMessageSetLogLevel(log_level);
    action();
    runs[static_cast<size_t>(log_level)] = Texts();
  }
  UpdMessageSetLogLevel(-1);
  const std::vector<std::string>& all = runs[9];
  std::vector<int> level(all.size(), -1);
  for (int log_level = 9; log_level >= 0; --log_level) {
    const std::vector<std::string>& run = runs[static_cast<size_t>(log_level)];
    size_t j = 0;
    for (size_t i = 0; i < all.size() && j < run.size(); ++i) {
      if (all[i] == run[j]) {
        level[i] = 9 - log_level;
        ++j;
      }
    }
    EXPECT_EQ(j, run.size()) << "messages at LogLevel " << log_level << " are not a part of those at 9";
  }
  std::vector<CapturedMessage> out;
  for (size_t i = 0; i < all.size(); ++i) out.push_back({level[i], all[i]});
  return out;
}

std::vector<CapturedMessage> WithoutSchedLines(const std::vector<CapturedMessage>& messages) {
  std::vector<CapturedMessage> out;
  for (const CapturedMessage& m : messages)
    if (m.text.rfind("Sched STime:", 0) != 0) out.push_back(m);
  return out;
}
