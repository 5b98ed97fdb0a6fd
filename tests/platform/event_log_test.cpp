// The event log: one line per event in TQ_SYSTEM_ROOT/events/<source>.log
// (beside syslog, which a test cannot read back).
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/service_manager.h"
#include "tests/support/temp_system.h"

namespace {

// True for "YYYY/MM/DD hh:mm:ss " (digits where the pattern has "9").
bool IsStamp(const std::string& s) {
  const std::string pattern = "9999/99/99 99:99:99 ";
  if (s.size() != pattern.size()) return false;
  for (size_t i = 0; i < s.size(); ++i)
    if (pattern[i] == '9' ? (s[i] < '0' || s[i] > '9') : s[i] != pattern[i]) return false;
  return true;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(EventLog, EachEventIsOneLineWithTimeTypeAndStrings) {
  TempSystem sys;
  HANDLE_EVENT_SOURCE source = RegisterEventSourceA(nullptr, "TQUpdateD64");
  ASSERT_NE(source, nullptr);
  struct Case {
    uint16_t type;
    std::vector<const char*> strings;
    std::string text;  // the line after the time
  } cases[] = {
      {EVENTLOG_ERROR_TYPE,
       {"TQService Error: 1063", "StartServiceCtrlDispatcher Failed"},
       "Error TQService Error: 1063 - StartServiceCtrlDispatcher Failed"},
      {EVENTLOG_WARNING_TYPE, {"two\nlines", nullptr, "c"}, "Warning two lines -  - c"},
      {EVENTLOG_INFORMATION_TYPE, {}, "Information "},
  };
  for (const Case& c : cases)
    EXPECT_TRUE(ReportEventA(source, c.type, 0, 0, nullptr, static_cast<uint16_t>(c.strings.size()), 0,
                             const_cast<const char**>(c.strings.data()), nullptr));
  std::vector<std::string> lines = Lines(sys.ReadFile("system/events/TQUpdateD64.log"));
  ASSERT_EQ(lines.size(), std::size(cases));
  for (size_t i = 0; i < lines.size(); ++i) {
    ASSERT_GE(lines[i].size(), 20u);
    EXPECT_TRUE(IsStamp(lines[i].substr(0, 20))) << lines[i];
    EXPECT_EQ(lines[i].substr(20), cases[i].text);
  }

  const char* one[] = {"x"};
  EXPECT_FALSE(ReportEventA(source, 3, 0, 0, nullptr, 1, 0, one, nullptr));
  EXPECT_EQ(PlatGetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(DeregisterEventSource(source));
  EXPECT_FALSE(DeregisterEventSource(source));
  EXPECT_EQ(PlatGetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegisterEventSourceA("otherhost", "TQUpdateD64"), nullptr);
  EXPECT_EQ(PlatGetLastError(), ERROR_INVALID_PARAMETER);
}

// A source name never leads the file out of the events directory.
TEST(EventLog, SourceNamesMakePlainFileNames) {
  TempSystem sys;
  HANDLE_EVENT_SOURCE source = RegisterEventSourceA(nullptr, "../a/b c");
  ASSERT_NE(source, nullptr);
  const char* one[] = {"x"};
  ASSERT_TRUE(ReportEventA(source, EVENTLOG_INFORMATION_TYPE, 0, 0, nullptr, 1, 0, one, nullptr));
  DeregisterEventSource(source);
  EXPECT_EQ(Lines(sys.ReadFile("system/events/_._a_b_c.log")).size(), 1u);
}

}  // namespace
