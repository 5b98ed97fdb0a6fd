// Log files and the message file: line format, rotation by size and age
// with keep counts, the daily rotation test, failures and their exact
// messages, faults during rotation, the level filter and test mode of
// UpdMessage, and real processes writing one log through its rotations.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/error.h"
#include "platform/fault.h"
#include "platform/file.h"
#include "platform/named_mutex.h"
#include "platform/system.h"
#include "runtime/alloc.h"
#include "runtime/env.h"
#include "runtime/log.h"
#include "runtime/message.h"
#include "runtime/mutex.h"
#include "runtime/report.h"
#include "tests/support/child.h"
#include "tests/support/temp_system.h"

namespace {

constexpr int64_t kDay = 86400;
// 01:00 UTC on a day in 2023: the first write of a day in the tests.
constexpr int64_t kT0 = 19700 * kDay + 3600;

std::atomic<int64_t> g_now{kT0};
int64_t FakeClock() { return g_now.load(); }

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

std::string Read(const std::string& path) {
  std::string out;
  PlatReadFile(path.c_str(), &out);
  return out;
}

void Write(const std::string& path, const std::string& text) {
  FILE* f = std::fopen(path.c_str(), "w");
  ASSERT_NE(f, nullptr) << path;
  std::fputs(text.c_str(), f);
  std::fclose(f);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    if (nl == std::string::npos) {
      out.push_back(text.substr(start) + "<no newline>");
      break;
    }
    out.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return out;
}

// The line prefix RVLogWrite writes at time t in this process.
std::string Prefix(int64_t t) {
  struct tm lt;
  time_t tt = static_cast<time_t>(t);
  localtime_r(&tt, &lt);
  const char* program = RVProgramName();
  char buf[512];
  std::snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d:%02d - %d - %s - ", lt.tm_year + 1900, lt.tm_mon + 1,
                lt.tm_mday, lt.tm_hour, lt.tm_min, lt.tm_sec, static_cast<int>(::getpid()),
                program ? program : "???");
  return buf;
}

// The message texts of a log file's lines (prefix removed).
std::vector<std::string> Texts(const std::string& path) {
  std::vector<std::string> out;
  static const std::regex line(R"(^\d{4}/\d\d/\d\d \d\d:\d\d:\d\d - \d+ - [^ ]+ - (.*)$)");
  for (const std::string& l : Lines(Read(path))) {
    std::smatch m;
    if (std::regex_match(l, m, line)) out.push_back(m[1]);
    else out.push_back("<torn> " + l);
  }
  return out;
}

int64_t CreationTime(const std::string& path) {
  int64_t t = -1;
  PlatGetCreationTime(path.c_str(), &t);
  return t;
}

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sys_ = std::make_unique<TempSystem>();
    PlatFaultClear();
    g_now = kT0;
    RVLogSetClock(FakeClock);
    UpdMessageSetLogLevel(-1);
    UpdMessageSetTestMode(0);
  }

  void TearDown() override {
    PlatFaultClear();
    for (RVLog* log : logs_) {
      RVLogSetCurrent(log);
      RVLogClose();
    }
    RVLogClose();
    RVLogSetClock(nullptr);
    UpdMessageSetLogLevel(-1);
    UpdMessageSetTestMode(0);
    sys_.reset();
  }

  // A descriptor with its own unnamed mutex, freed at the end of the test.
  RVLog* NewLog(const std::string& name, int32_t max_size, uint32_t max_age, uint32_t keep_count,
                uint32_t flags = 0, uint32_t check_interval = kDay) {
    RVLog* log = RVAllocRecord<RVLog>();
    log->flags = RV_LOG_IN_USE | flags;
    log->max_size = max_size;
    log->max_age = max_age;
    log->check_interval = check_interval;
    log->keep_count = keep_count;
    std::snprintf(log->file_name, sizeof log->file_name, "%s", path(name).c_str());
    log->mutex = RVMutexAlloc();
    EXPECT_EQ(RVMutexCreate(log->mutex, nullptr), 0);
    logs_.push_back(log);
    return log;
  }

  std::string path(const std::string& rel) const { return sys_->path(rel); }

  std::unique_ptr<TempSystem> sys_;
  std::vector<RVLog*> logs_;
};

}  // namespace

TEST_F(LogTest, LineFormatCarriesLocalTimePidProgramAndText) {
  RVLog* log = NewLog("log.txt", 0, 0, 1);
  struct Case {
    int64_t t;
    const char* text;
  } cases[] = {{kT0, "first"}, {kT0 + 59, "second 100%"}, {kT0 + 13 * 3600 + 7, ""}};
  std::string expected;
  for (const Case& c : cases) {
    g_now = c.t;
    RVLogWrite(log, "%s", c.text);
    expected += Prefix(c.t) + c.text + "\n";
  }
  EXPECT_EQ(Read(path("log.txt")), expected);
  EXPECT_NE(expected.find(" - ??? - first\n"), std::string::npos) << "no program name set";
  EXPECT_EQ(log->last_write, kT0 + 13 * 3600 + 7);
  EXPECT_EQ(log->stream, nullptr) << "keep open is off";
}

TEST_F(LogTest, LineCarriesTheProgramNameOnceSet) {
  RVInit("/opt/TQ/TQUpdate/bin/tqupdd");
  ASSERT_NE(RVProgramName(), nullptr);
  RVLog* log = NewLog("log.txt", 0, 0, 1);
  RVLogWrite(log, "named %d", 7);
  EXPECT_EQ(Read(path("log.txt")), Prefix(kT0) + "named 7\n");
  EXPECT_NE(Read(path("log.txt")).find(std::string(" - ") + RVProgramName() + " - named 7"), std::string::npos);
}

// The write that makes the file exceed max_size does not rotate; the next
// one does. keep_count 1 leaves one old generation, keep_count 3 moves the
// older ones up; a missing generation is no error.
TEST_F(LogTest, SizeRotationWithKeepCounts) {
  struct Case {
    uint32_t keep;
    std::map<int, std::string> before; // generation -> content
    std::map<int, std::string> after;  // generation -> content ("" = absent)
  } cases[] = {
      {1, {}, {{2, ""}}},
      {1, {{1, "old1\n"}}, {{2, ""}}},
      {3, {}, {{2, ""}, {3, ""}}},
      {3, {{1, "old1\n"}}, {{2, "old1\n"}, {3, ""}}},
      {3, {{1, "old1\n"}, {2, "old2\n"}}, {{2, "old1\n"}, {3, "old2\n"}}},
      {3, {{1, "old1\n"}, {3, "old3\n"}}, {{2, "old1\n"}, {3, ""}}},
      {3, {{1, "old1\n"}, {2, "old2\n"}, {3, "old3\n"}}, {{2, "old1\n"}, {3, "old2\n"}, {4, ""}}},
  };
  int n = 0;
  for (const Case& c : cases) {
    std::string name = "size-" + std::to_string(n++) + ".txt";
    SCOPED_TRACE(name);
    for (auto& [gen, text] : c.before) Write(path(name) + "." + std::to_string(gen), text);
    RVLog* log = NewLog(name, 200, 0, c.keep);
    testing::internal::CaptureStderr();
    std::string content;
    int i = 0;
    while (content.size() <= 200) {
      g_now = kT0 + i;
      RVLogWrite(log, "line %d", i);
      content += Prefix(kT0 + i) + "line " + std::to_string(i) + "\n";
      ++i;
      ASSERT_EQ(Read(path(name)), content) << "no rotation before the limit is passed";
      EXPECT_EQ((log->flags & RV_LOG_ROTATION_DUE) != 0, content.size() > 200);
    }
    g_now = kT0 + 100;
    RVLogWrite(log, "after");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(Read(path(name)), Prefix(kT0 + 100) + "after\n");
    EXPECT_EQ(Read(path(name) + ".1"), content);
    EXPECT_EQ(CreationTime(path(name)), kT0 + 100);
    EXPECT_EQ(log->flags & RV_LOG_ROTATION_DUE, 0u);
    for (auto& [gen, text] : c.after) {
      std::string g = path(name) + "." + std::to_string(gen);
      if (text.empty()) EXPECT_FALSE(Exists(g)) << g;
      else EXPECT_EQ(Read(g), text) << g;
    }
  }
}

// On the first write of a day a file older than max_age is rotated however
// small it is; an age of exactly max_age counts; 0 means no age limit.
TEST_F(LogTest, AgeRotationOnTheFirstWriteOfADay) {
  constexpr uint32_t kYear = 31536000;
  struct Case {
    uint32_t max_age;
    int64_t age;
    bool rotates;
  } cases[] = {
      {kYear, kYear + 1, true}, {kYear, kYear, true}, {kYear, kYear - 1, false}, {0, 10 * kYear, false},
      {3600, 3600, true},
  };
  int n = 0;
  for (const Case& c : cases) {
    std::string name = "age-" + std::to_string(n++) + ".txt";
    SCOPED_TRACE(name);
    Write(path(name), "small\n");
    ASSERT_EQ(PlatSetCreationTime(path(name).c_str(), kT0 - c.age), 0);
    RVLog* log = NewLog(name, 0x100000, c.max_age, 1);
    log->last_write = kT0 - kDay;  // the previous day
    g_now = kT0;
    RVLogWrite(log, "today");
    if (c.rotates) {
      EXPECT_EQ(Read(path(name) + ".1"), "small\n");
      EXPECT_EQ(Read(path(name)), Prefix(kT0) + "today\n");
      EXPECT_EQ(CreationTime(path(name)), kT0);
    } else {
      EXPECT_FALSE(Exists(path(name) + ".1"));
      EXPECT_EQ(Read(path(name)), "small\n" + Prefix(kT0) + "today\n");
      EXPECT_EQ(CreationTime(path(name)), kT0 - c.age);
    }
  }
}

// The rotation test runs only when rotation is due or on the first write of
// a new check interval (UTC day): two writes within one day never test age
// or size, even when the file became old and large in between.
TEST_F(LogTest, RotationIsTestedOncePerIntervalUnlessDue) {
  struct Case {
    int64_t first, second;
    bool tests;
  } cases[] = {
      {kT0, kT0 + 100, false},
      {kT0 - 3600, kT0 + 22 * 3600, false},       // 00:00:00 and 23:00 of one UTC day
      {kT0 - 3601, kT0 - 3599, true},             // 23:59:59 and 00:00:01
      {kT0, kT0 + kDay, true},
      {kT0, kT0 + 5 * kDay, true},
  };
  int n = 0;
  for (const Case& c : cases) {
    std::string name = "interval-" + std::to_string(n++) + ".txt";
    SCOPED_TRACE(name);
    RVLog* log = NewLog(name, 1000, 3600, 1);
    g_now = c.first;
    RVLogWrite(log, "first");
    // Make the file both old and large behind the writer's back.
    std::string big(4000, 'x');
    FILE* f = std::fopen(path(name).c_str(), "a");
    std::fputs((big + "\n").c_str(), f);
    std::fclose(f);
    PlatSetCreationTime(path(name).c_str(), c.first - 10 * kDay);
    EXPECT_EQ(log->flags & RV_LOG_ROTATION_DUE, 0u);
    g_now = c.second;
    RVLogWrite(log, "second");
    EXPECT_EQ(Exists(path(name) + ".1"), c.tests);
  }
}

// A file deleted behind the writer's back: nothing rotates, the append makes
// a new file, nothing is reported.
TEST_F(LogTest, DeletedLogFileIsCreatedAgain) {
  for (uint32_t flags : {0u, static_cast<uint32_t>(RV_LOG_KEEP_OPEN)}) {
    std::string name = flags ? "deleted-open.txt" : "deleted.txt";
    RVLog* log = NewLog(name, 100, 3600, 1, flags);
    RVLogWrite(log, "one");
    ASSERT_EQ(::unlink(path(name).c_str()), 0);
    log->flags |= RV_LOG_ROTATION_DUE;  // forces the status query
    g_now = kT0 + 10;
    testing::internal::CaptureStderr();
    RVLogWrite(log, "two");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(Read(path(name)), Prefix(kT0 + 10) + "two\n");
    EXPECT_FALSE(Exists(path(name) + ".1"));
    EXPECT_EQ(CreationTime(path(name)), kT0 + 10) << "a new file's age starts with its first line";
  }
}

// A log that cannot be (re)opened is reported once and disabled; its mutex
// is released; later writes are ignored; the program goes on.
TEST_F(LogTest, UnopenableLogIsReportedAndDisabled) {
  ASSERT_EQ(::mkdir(path("is-a-dir").c_str(), 0755), 0);
  RVLog* log = NewLog("is-a-dir", 0, 0, 1);
  testing::internal::CaptureStderr();
  RVLogWrite(log, "lost");
  RVLogWrite(log, "ignored");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "RVLogWrite() - Error reopening: " + path("is-a-dir") + "\n");
  EXPECT_NE(log->flags & RV_LOG_DISABLED, 0u);
  int r = -2;
  std::thread([&] {
    r = RVMutexTryLock(log->mutex);
    if (r == 0) RVMutexUnlock(log->mutex);
  }).join();
  EXPECT_EQ(r, 0) << "the mutex was released";
  EXPECT_EQ(log->mutex->count, 0);
}

// Writing with the file-creation mask at 0: a new log gets 0644 (never
// writable by others) whatever the program's mask, a configured mode is
// applied; the mask comes back.
TEST_F(LogTest, CreationMaskIsZeroDuringAWriteAndModeIsApplied) {
  struct Case {
    const char* name;
    uint32_t mode;
    uint32_t expected;
  } cases[] = {{"mode-none.txt", 0, 0644}, {"mode-640.txt", 0640, 0640}, {"mode-600.txt", 0600, 0600}};
  uint32_t old = PlatSetUmask(027);
  for (const Case& c : cases) {
    RVLog* log = NewLog(c.name, 0, 0, 1);
    log->mode = c.mode;
    RVLogWrite(log, "x");
    struct stat st;
    ASSERT_EQ(::stat(path(c.name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, c.expected) << c.name;
    EXPECT_EQ(PlatSetUmask(027), 027u) << "mask restored after " << c.name;
  }
  PlatSetUmask(old);
}

// Keep open: the stream stays open and every line is flushed at once.
TEST_F(LogTest, KeepOpenFlushesEachLine) {
  RVLog* log = NewLog("open.txt", 300, 0, 1, RV_LOG_KEEP_OPEN);
  std::string content;
  for (int i = 0; i < 3; ++i) {
    RVLogWrite(log, "line %d", i);
    content += Prefix(kT0) + "line " + std::to_string(i) + "\n";
    EXPECT_NE(log->stream, nullptr);
    EXPECT_EQ(Read(path("open.txt")), content);
  }
  // Rotation with the stream open keeps the same file.
  while (!(log->flags & RV_LOG_ROTATION_DUE)) RVLogWrite(log, "fill");
  std::string full = Read(path("open.txt"));
  RVLogWrite(log, "rotated");
  EXPECT_EQ(Read(path("open.txt.1")), full);
  EXPECT_EQ(Read(path("open.txt")), Prefix(kT0) + "rotated\n");
  RVLogSetCurrent(log);
  logs_.pop_back();
  RVLogClose();
  EXPECT_EQ(RVLogCurrent(), nullptr);
}

// Over-long messages are cut cleanly at the 16,400-byte buffer; the line
// still ends with its newline.
TEST_F(LogTest, LongMessagesAreCutAtTheBuffer) {
  RVLog* log = NewLog("long.txt", 0, 0, 1);
  struct Case {
    std::string text;
    std::string logged;
  } cases[] = {
      {std::string(16399, 'a'), std::string(16399, 'a')},
      {std::string(16400, 'b'), std::string(16399, 'b')},
      {std::string(40000, 'c'), std::string(16399, 'c')},
      {std::string(16397, 'd') + "\xc3\xa9", std::string(16397, 'd') + "\xc3\xa9"},
      {std::string(16398, 'f') + "\xc3\xa9", std::string(16398, 'f')},  // a 2-byte letter would be split
      {std::string(16398, 'e') + "\xe2\x82\xac", std::string(16398, 'e')},  // a 3-byte sign would be split
  };
  std::string expected;
  for (const Case& c : cases) {
    RVLogWrite(log, "%s", c.text.c_str());
    expected += Prefix(kT0) + c.logged + "\n";
  }
  EXPECT_EQ(Read(path("long.txt")), expected);
}

// Faults injected into the rotating write. Whatever fails, no line is ever
// torn; a line is missing only when its loss was reported; with the copy
// failed the content stays in the file (nothing is discarded unsaved), and
// a copy whose file could not be emptied or reopened is removed again (no
// line held twice).
TEST_F(LogTest, FaultsDuringRotationLoseNothingSilently) {
  constexpr int kKeep = 10;
  struct Case {
    const char* what;
    PlatSyscall kind;
    int nth;
    int err;
    const char* message;   // expected report, "%s" = log file name
    bool line_lost;        // the rotating write's line is lost (reported)
    bool disabled;         // the descriptor is disabled afterwards
  } cases[] = {
      {"copy cannot read the log", PLAT_SYS_OPEN, 1, ENOSPC, "RVLogWrite() - Error: 28 renaming %s to %s.1\n", false,
       false},
      {"copy cannot create generation 1", PLAT_SYS_OPEN, 2, ENOSPC,
       "RVLogWrite() - Error: 28 renaming %s to %s.1\n", false, false},
      {"copy write fails", PLAT_SYS_WRITE, 1, ENOSPC, "RVLogWrite() - Error: 28 renaming %s to %s.1\n", false, false},
      {"copy rename fails", PLAT_SYS_RENAME, kKeep, EIO, "RVLogWrite() - Error: 5 renaming %s to %s.1\n", false,
       false},
      {"reopen fails", PLAT_SYS_OPEN, 3, EACCES, "RVLogWrite() - Error reopening: %s\n", true, true},
      {"truncate fails", PLAT_SYS_FTRUNCATE, 1, EIO, "", false, false},
      {"line write fails", PLAT_SYS_WRITE, 2, ENOSPC, "RVLogWrite() - Error: 28 writing %s\n", true, false},
      {"unlink fails", PLAT_SYS_UNLINK, 1, EIO, "", false, false},
  };
  int n = 0;
  for (const Case& c : cases) {
    std::string name = "fault-" + std::to_string(n++) + ".txt";
    SCOPED_TRACE(c.what);
    std::string file = path(name);
    RVLog* log = NewLog(name, 300, 0, kKeep);
    int i = 0;
    while (!(log->flags & RV_LOG_ROTATION_DUE)) RVLogWrite(log, "line %d", i++);
    const int rotating = i;
    PlatFaultClear();
    PlatFaultInject(c.kind, c.nth, c.err, false);
    testing::internal::CaptureStderr();
    RVLogWrite(log, "line %d", i++);
    std::string err = testing::internal::GetCapturedStderr();
    PlatFaultClear();
    char expected[2048];
    std::snprintf(expected, sizeof expected, c.message, file.c_str(), file.c_str());
    EXPECT_EQ(err, expected);
    EXPECT_EQ((log->flags & RV_LOG_DISABLED) != 0, c.disabled);
    testing::internal::CaptureStderr();
    for (int k = 0; k < 30; ++k) RVLogWrite(log, "line %d", i++);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    // Every line, across the file and its generations (oldest first).
    std::vector<std::string> all;
    for (int g = kKeep; g >= 1; --g) {
      std::string gen = file + "." + std::to_string(g);
      if (Exists(gen))
        for (auto& t : Texts(gen)) all.push_back(t);
    }
    for (auto& t : Texts(file)) all.push_back(t);
    std::vector<std::string> want;
    for (int k = 0; k < i; ++k) {
      if (k == rotating && c.line_lost) continue;
      if (k > rotating && c.disabled) continue;
      want.push_back("line " + std::to_string(k));
    }
    EXPECT_EQ(all, want);
    EXPECT_FALSE(Exists(file + ".1.tqcopy")) << "no half-made copy is left";
  }
}

// A generation that cannot be written (every rename fails): the rotation is
// reported once and not tried again by the writes of the same check
// interval; the first write of the next interval tries (and reports) once
// more; once the fault is gone the next interval rotates. No line is lost
// meanwhile, and an older generation is never dropped for a move that
// failed.
TEST_F(LogTest, FailingRotationIsTriedOncePerInterval) {
  struct Case {
    uint32_t keep;
    const char* report;  // the one report of a try, "%s" = log file name, N = an error code
  } cases[] = {
      {1, "RVLogWrite() - Error: N renaming %s to %s.1\n"},     // the copy's rename
      {3, "RVLogWrite() - Error: N renaming %s.2 to %s.3\n"},  // moving generation 2 up
  };
  // Error codes differ by the call that failed; the report's shape does not.
  auto shape = [](const std::string& report) {
    return std::regex_replace(report, std::regex("Error: \\d+ "), "Error: N ");
  };
  int n = 0;
  for (const Case& c : cases) {
    std::string name = "stuck-" + std::to_string(n++) + ".txt";
    SCOPED_TRACE(name);
    std::string file = path(name);
    Write(file + ".1", "old1\n");
    Write(file + ".2", "old2\n");
    RVLog* log = NewLog(name, 300, 0, c.keep);
    g_now = kT0;
    int i = 0;
    while (!(log->flags & RV_LOG_ROTATION_DUE)) RVLogWrite(log, "line %d", i++);
    PlatFaultClear();
    PlatFaultInject(PLAT_SYS_RENAME, 1, EIO, true);
    // One try in this interval, however many lines follow.
    testing::internal::CaptureStderr();
    for (int k = 0; k < 20; ++k) {
      g_now = kT0 + k;
      RVLogWrite(log, "line %d", i++);
    }
    std::string first = testing::internal::GetCapturedStderr();
    int tries = PlatFaultCalls(PLAT_SYS_RENAME);
    // The next interval: exactly one more try.
    testing::internal::CaptureStderr();
    for (int k = 0; k < 20; ++k) {
      g_now = kT0 + kDay + k;
      RVLogWrite(log, "line %d", i++);
    }
    std::string second = testing::internal::GetCapturedStderr();
    int tries_after = PlatFaultCalls(PLAT_SYS_RENAME);
    PlatFaultClear();
    char want[2048];
    std::snprintf(want, sizeof want, c.report, file.c_str(), file.c_str());
    EXPECT_EQ(shape(first), want);
    EXPECT_EQ(shape(second), want);
    EXPECT_EQ(tries_after, 2 * tries) << "one try per interval";
    EXPECT_EQ(Read(file + ".1"), "old1\n") << "generation 1 is never dropped for a failed rotation";
    // Fault gone: the next interval rotates, silently, and every line is kept.
    testing::internal::CaptureStderr();
    g_now = kT0 + 2 * kDay;
    RVLogWrite(log, "line %d", i++);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(Texts(file), std::vector<std::string>{"line " + std::to_string(i - 1)});
    std::vector<std::string> want_lines;
    for (int k = 0; k < i - 1; ++k) want_lines.push_back("line " + std::to_string(k));
    EXPECT_EQ(Texts(file + ".1"), want_lines);
    EXPECT_EQ(log->rotation_failed, 0);
  }
}

// A line whose write fails part-way is cut back out of the file.
TEST_F(LogTest, PartlyWrittenLineIsRemoved) {
  RVLog* log = NewLog("partial.txt", 0, 0, 1);
  RVLogWrite(log, "before");
  std::string big(12000, 'p');
  PlatFaultInject(PLAT_SYS_WRITE, 2, ENOSPC, false);  // the second write call of the line
  testing::internal::CaptureStderr();
  RVLogWrite(log, "%s", big.c_str());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "RVLogWrite() - Error: 28 writing " + path("partial.txt") + "\n");
  PlatFaultClear();
  RVLogWrite(log, "after");
  EXPECT_EQ(Texts(path("partial.txt")), (std::vector<std::string>{"before", "after"}));
}

// Without a mutex of its own the log takes the runtime's global mutex.
TEST_F(LogTest, LogWithoutMutexUsesTheGlobalMutex) {
  RVInit(nullptr);
  ASSERT_NE(RVGlobalMutex(), nullptr);
  RVLog* log = NewLog("global.txt", 0, 0, 1);
  RVMutexFree(log->mutex);
  log->mutex = nullptr;
  // Held by another thread: the write waits for it.
  std::atomic<bool> held{false};
  std::thread holder([&] {
    RVMutexLock(RVGlobalMutex());
    held = true;
    PlatSleepMs(150);
    RVMutexUnlock(RVGlobalMutex());
  });
  while (!held) PlatSleepMs(1);
  int64_t t0 = PlatMonotonicMs();
  testing::internal::CaptureStderr();
  RVLogWrite(log, "under the global mutex");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_GE(PlatMonotonicMs() - t0, 100);
  holder.join();
  EXPECT_EQ(Texts(path("global.txt")), std::vector<std::string>{"under the global mutex"});
  EXPECT_EQ(RVGlobalMutex()->count, 0);
}

// With neither its own nor a global mutex, the write goes on after the
// Null Mutex reports of RVMutexLock and RVMutexUnlock.
TEST_F(LogTest, LogWithoutAnyMutexReportsAndWrites) {
  ASSERT_EQ(RVGlobalMutex(), nullptr);
  RVLog* log = NewLog("nomutex.txt", 0, 0, 1);
  RVMutexFree(log->mutex);
  log->mutex = nullptr;
  testing::internal::CaptureStderr();
  RVLogWrite(log, "still written");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "RVMutexLock() - Null Mutex\nRVMutexUnlock() - Null Mutex\n");
  EXPECT_EQ(Texts(path("nomutex.txt")), std::vector<std::string>{"still written"});
}

TEST_F(LogTest, AbsentDescriptorIsIgnored) {
  testing::internal::CaptureStderr();
  RVLogWrite(nullptr, "nothing");
  RVLogClose();
  RVLogWriteCurrent("nothing");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// The service's log: its settings, its directory, its named mutex.
TEST_F(LogTest, ServiceLogSettings) {
  std::string file = path("home/TQUpdate/Log/tqupd-log.txt");
  ASSERT_EQ(RVLogOpenService(file.c_str()), 0);
  RVLog* log = RVLogCurrent();
  ASSERT_NE(log, nullptr);
  EXPECT_EQ(log->flags, static_cast<uint32_t>(RV_LOG_IN_USE));
  EXPECT_EQ(log->max_size, 0x100000);
  EXPECT_EQ(log->max_age, 31536000u);
  EXPECT_EQ(log->check_interval, 86400u);
  EXPECT_EQ(log->keep_count, 1u);
  EXPECT_EQ(log->mode, 0u);
  EXPECT_EQ(log->stream, nullptr);
  EXPECT_STREQ(log->file_name, file.c_str());
  ASSERT_NE(log->mutex, nullptr);
  EXPECT_EQ(log->mutex->flags, static_cast<uint32_t>(RV_MUTEX_HANDLE | RV_MUTEX_AUTHUSER));
  struct stat st;
  EXPECT_EQ(::stat(path("home/TQUpdate/Log").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_FALSE(Exists(file)) << "the file comes with the first line";
  std::string mutex_name = "Global\\" + file + "-mtx";
  EXPECT_EQ(PlatMutexExists(mutex_name.c_str()), 1);
  UpdMessage(9, "Service %s", "Started");
  EXPECT_EQ(Texts(file), std::vector<std::string>{"Service Started"});
  RVLogClose();
  EXPECT_EQ(RVLogCurrent(), nullptr);
  EXPECT_EQ(PlatMutexExists(mutex_name.c_str()), 0);
}

// No directory or no mutex: no descriptor, messages reach the message file
// only; the program goes on.
TEST_F(LogTest, ServiceLogFailuresLeaveNoDescriptor) {
  const char* common = RVGetEnv("RV_COMMONAPPDATA");
  ASSERT_NE(common, nullptr);
  std::string msg = std::string(common) + "/tqupd-msg.txt";
  Write(path("plain"), "x");
  struct Case {
    const char* what;
    std::string file;
    bool fault_mkdir;
    bool system_root_is_file;
    std::string message;
  } cases[] = {
      {"middle component is a file", path("plain/Log/tqupd-log.txt"), false, false, ""},
      {"mkdir fails", path("nodir/Log/tqupd-log.txt"), true, false,
       "Cannot Create Directory: " + path("nodir") + " - errno: 13, GetLastError: 5\n"},
      {"mutex cannot be created", path("ok/Log/tqupd-log.txt"), false, true, "Error Creating Mutex\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.fault_mkdir) PlatFaultInject(PLAT_SYS_MKDIR, 1, EACCES, true);
    if (c.system_root_is_file) sys_->SetEnv("TQ_SYSTEM_ROOT", path("plain").c_str());
    testing::internal::CaptureStderr();
    EXPECT_EQ(RVLogOpenService(c.file.c_str()), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
    PlatFaultClear();
    EXPECT_EQ(RVLogCurrent(), nullptr);
    UpdMessage(9, "goes on");
    EXPECT_EQ(Read(msg), "goes on\n");
    EXPECT_FALSE(Exists(c.file));
  }
}

// UpdMessage: the message file always holds the last message; the log gets
// it when LogLevel >= 9 - level (threshold 0 in test mode for levels >= 3;
// every level before a configuration is loaded).
TEST_F(LogTest, MessageLevelFilterAndTestMode) {
  const char* common = RVGetEnv("RV_COMMONAPPDATA");
  ASSERT_NE(common, nullptr);
  std::string msg = std::string(common) + "/tqupd-msg.txt";
  RVLog* log = NewLog("msg-log.txt", 0, 0, 1);
  RVLogSetCurrent(log);
  struct Case {
    int log_level;
    int test_mode;
    int level;
    bool logged;
  } cases[] = {
      {-1, 0, 0, true}, {-1, 0, 9, true}, {3, 0, 5, false}, {3, 0, 6, true}, {3, 0, 9, true}, {3, 0, 0, false},
      {3, 1, 5, true},  {3, 1, 3, true},  {3, 1, 2, false}, {9, 0, 0, true}, {0, 0, 9, true}, {0, 0, 8, false},
      {0, 1, 3, true},  {0, 1, 2, false}, {7, 0, 2, true},  {7, 0, 1, false},
  };
  std::vector<std::string> expected;
  int n = 0;
  for (const Case& c : cases) {
    UpdMessageSetLogLevel(c.log_level);
    UpdMessageSetTestMode(c.test_mode);
    std::string text = "message " + std::to_string(n++) + " level " + std::to_string(c.level);
    UpdMessage(c.level, "%s", text.c_str());
    EXPECT_EQ(Read(msg), text + "\n");
    if (c.logged) expected.push_back(text);
    EXPECT_EQ(Texts(path("msg-log.txt")), expected)
        << "LogLevel " << c.log_level << " test " << c.test_mode << " level " << c.level;
  }
}

// The message file is rewritten by every message; an empty format writes an
// empty line there and nothing to the log; text is never interpreted twice;
// long text is cut at 1,023 characters.
TEST_F(LogTest, MessageFileAndTextRules) {
  const char* common = RVGetEnv("RV_COMMONAPPDATA");
  ASSERT_NE(common, nullptr);
  std::string msg = std::string(common) + "/tqupd-msg.txt";
  RVLog* log = NewLog("rules.txt", 0, 0, 1);
  RVLogSetCurrent(log);
  struct Case {
    const char* format;
    std::string arg;
    std::string message_file;
    std::vector<std::string> log_adds;
  } cases[] = {
      {"%s", "100%d %s%% done", "100%d %s%% done\n", {"100%d %s%% done"}},
      {"", "", "\n", {}},
      {nullptr, "", "\n", {}},
      {"%s", std::string(2000, 'z'), std::string(1023, 'z') + "\n", {std::string(1023, 'z')}},
      {"%s", std::string(1021, 'y') + "\xc3\xa9", std::string(1021, 'y') + "\xc3\xa9\n",
       {std::string(1021, 'y') + "\xc3\xa9"}},
      {"%s", std::string(1022, 'w') + "\xc3\xa9", std::string(1022, 'w') + "\n", {std::string(1022, 'w')}},
      {"plain %d", "", "plain 5\n", {"plain 5"}},
  };
  std::vector<std::string> expected;
  for (const Case& c : cases) {
    if (c.format && std::string(c.format) == "plain %d") UpdMessage(9, c.format, 5);
    else UpdMessage(9, c.format, c.arg.c_str());
    EXPECT_EQ(Read(msg), c.message_file);
    for (auto& t : c.log_adds) expected.push_back(t);
    EXPECT_EQ(Texts(path("rules.txt")), expected);
  }
  // A message file that cannot be written is skipped silently.
  ::unlink(msg.c_str());
  ASSERT_EQ(::mkdir(msg.c_str(), 0755), 0);
  testing::internal::CaptureStderr();
  UpdMessage(9, "no message file");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  expected.push_back("no message file");
  EXPECT_EQ(Texts(path("rules.txt")), expected);
  ::rmdir(msg.c_str());
}

// The report hooks reach the log through UpdMessage with levels 0, 5, 7.
TEST_F(LogTest, ReportHooksUseLevels0To7) {
  RVLog* log = NewLog("reports.txt", 0, 0, 1);
  RVLogSetCurrent(log);
  UpdMessageSetLogLevel(3);  // 7 passes, 5 and 0 do not
  RVReportInfo("info %d", 1);
  RVReportWarning("warning %d", 2);
  RVReportError("error %d", 3);
  EXPECT_EQ(Texts(path("reports.txt")), std::vector<std::string>{"error 3"});
  UpdMessageSetLogLevel(9);
  RVReportInfo("info %d", 4);
  EXPECT_EQ(Texts(path("reports.txt")), (std::vector<std::string>{"error 3", "info 4"}));
}

// ---------------------------------------------------------------------------
// Real processes writing one log file at once, through many rotations.

namespace {

// The lines of one writer: "proc P line I" and I % 53 dots, so a torn or
// spliced line cannot pass for a whole one.
std::string WriterText(int proc, int line) {
  return "proc " + std::to_string(proc) + " line " + std::to_string(line) + " " + std::string(line % 53, '.');
}

}  // namespace

// Child: args = log path, process number, lines, keep open (0/1), mutex
// ("own" = the service's named mutex, "global" = the runtime's), max size,
// keep count, file for standard error.
TQ_CHILD_ROLE(log_writer) {
  if (!std::freopen(args[7].c_str(), "w", stderr)) return 30;
  const std::string file = args[0];
  const int proc = std::stoi(args[1]);
  const int lines = std::stoi(args[2]);
  RVLog* log = RVAllocRecord<RVLog>();
  log->flags = RV_LOG_IN_USE | (args[3] == "1" ? static_cast<uint32_t>(RV_LOG_KEEP_OPEN) : 0u);
  log->max_size = std::stoi(args[5]);
  log->max_age = 31536000;
  log->check_interval = 86400;
  log->keep_count = static_cast<uint32_t>(std::stoul(args[6]));
  std::snprintf(log->file_name, sizeof log->file_name, "%s", file.c_str());
  if (args[4] == "own") {
    log->mutex = RVMutexAlloc();
    log->mutex->flags |= RV_MUTEX_AUTHUSER;
    if (RVMutexCreate(log->mutex, ("Global\\" + file + "-mtx").c_str()) != 0) return 31;
  } else {
    RVInit("/opt/TQ/bin/logwriter");
    if (!RVGlobalMutex()) return 32;
  }
  RVLogSetCurrent(log);
  std::mt19937 rng(static_cast<unsigned>(proc) * 7919u);
  for (int i = 0; i < lines; ++i) {
    if (i % 2) UpdMessage(9, "%s", WriterText(proc, i).c_str());
    else RVLogWrite(log, "%s", WriterText(proc, i).c_str());
    if (rng() % 4 == 0) ::usleep(rng() % 400);
  }
  RVLogClose();
  return 0;
}

TEST(LogProcesses, WritersShareOneLogThroughRotations) {
  struct Case {
    const char* keep_open;
    const char* mutex;
  } cases[] = {{"0", "own"}, {"1", "own"}, {"0", "global"}};
  constexpr int kProcs = 4;
  constexpr int kLines = 250;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("keep open ") + c.keep_open + ", mutex " + c.mutex);
    TempSystem sys;
    std::string file = sys.path("Log/tqupd-log.txt");
    ::mkdir(sys.path("Log").c_str(), 0755);
    std::vector<pid_t> children;
    for (int p = 0; p < kProcs; ++p)
      children.push_back(TqSpawnChild("log_writer", {file, std::to_string(p), std::to_string(kLines), c.keep_open,
                                                     c.mutex, "2048", "400", sys.path("err" + std::to_string(p))}));
    for (pid_t pid : children) EXPECT_EQ(TqWaitChild(pid), 0);
    for (int p = 0; p < kProcs; ++p) EXPECT_EQ(sys.ReadFile("err" + std::to_string(p)), "") << p;

    // Oldest generation first, the current file last.
    std::vector<std::string> files;
    for (int g = 400; g >= 1; --g)
      if (Exists(file + "." + std::to_string(g))) files.push_back(file + "." + std::to_string(g));
    files.push_back(file);
    EXPECT_GT(files.size(), 20u) << "the log rotated many times";
    EXPECT_LT(files.size(), 400u) << "no generation was dropped";
    std::map<int, int> next;  // process -> next expected line
    std::set<std::pair<int, int>> seen;
    static const std::regex re(R"(^\d{4}/\d\d/\d\d \d\d:\d\d:\d\d - (\d+) - [^ ]+ - proc (\d) line (\d+) (\.*)$)");
    int total = 0;
    for (const std::string& f : files) {
      std::string text = Read(f);
      if (f != file) {
        EXPECT_LE(text.size(), 4u * 2048u) << f << " was rotated soon after passing the limit";
      }
      for (const std::string& l : Lines(text)) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(l, m, re)) << "torn line in " << f << ": " << l;
        int proc = std::stoi(m[2]), line = std::stoi(m[3]);
        EXPECT_EQ(m[4].length(), static_cast<size_t>(line % 53)) << l;
        EXPECT_TRUE(seen.insert({proc, line}).second) << "duplicated: " << l;
        EXPECT_EQ(line, next[proc]) << "out of order or lost before: " << l;
        next[proc] = line + 1;
        ++total;
      }
    }
    EXPECT_EQ(total, kProcs * kLines);
    for (int p = 0; p < kProcs; ++p) EXPECT_EQ(next[p], kLines) << p;
  }
}
