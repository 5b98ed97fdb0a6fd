// Helpers of the engine tests: a relocated system with a log that captures
// UpdMessage texts, and the levels those messages carry.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/temp_system.h"

// One message as UpdMessage logged it.
struct CapturedMessage {
  int level;        // 0-9
  std::string text; // the message text
  bool operator==(const CapturedMessage& o) const { return level == o.level && text == o.text; }
};

std::ostream& operator<<(std::ostream& out, const CapturedMessage& m);

// A relocated system whose program log is a file of the test, the message
// filter open to every level, and the time zone fixed to `tz`.
class EngineSystem {
 public:
  explicit EngineSystem(const char* tz = "UTC0");
  ~EngineSystem();
  EngineSystem(const EngineSystem&) = delete;
  EngineSystem& operator=(const EngineSystem&) = delete;

  TempSystem& sys() const { return *sys_; }
  // The configuration file's path in the relocated system.
  std::string ConfigPath() const;
  // Writes the configuration file.
  void WriteConfig(const std::string& text) const;
  // Message texts logged since the last call.
  std::vector<std::string> Texts();
  // Runs `action` once per log level 0-9 and returns the messages of the run
  // that logged every level, each with the level it was logged at.
  std::vector<CapturedMessage> Levels(const std::function<void()>& action);

 private:
  std::unique_ptr<TempSystem> sys_;
  std::string log_path_;
  size_t consumed_ = 0;
  std::string old_tz_;
  bool had_tz_ = false;
};

// A message text as UpdMessage keeps it: at most 1,023 characters.
inline std::string Clipped(const std::string& text) { return text.substr(0, 1023); }

// Messages without the "Sched STime: ..." lines.
std::vector<CapturedMessage> WithoutSchedLines(const std::vector<CapturedMessage>& messages);
