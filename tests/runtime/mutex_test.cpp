// RVMutex: recursion per thread, 500 ms slices with the wait hook, the
// five-minute abort, try-lock, unlock by a non-owner, named instances shared
// by real processes, abandonment, creation with the authenticated-users
// descriptor, and the exact message texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/folders.h"
#include "platform/named_mutex.h"
#include "platform/system.h"
#include "runtime/mutex.h"
#include "tests/support/child.h"
#include "tests/support/temp_system.h"
#include "tests/support/users.h"

namespace {

bool FileExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

void Touch(const std::string& path) {
  if (FILE* f = std::fopen(path.c_str(), "w")) std::fclose(f);
}

bool WaitForFile(const std::string& path, int ms = 20000) {
  for (int i = 0; i < ms / 5 && !FileExists(path); ++i) PlatSleepMs(5);
  return FileExists(path);
}

// The ownership files of the named mutexes under the objects directory.
std::vector<std::string> OwnershipFiles() {
  std::vector<std::string> out;
  std::error_code ec;
  for (auto& e : std::filesystem::directory_iterator(PlatSystemPath("objects"), ec)) {
    std::string n = e.path().filename().string();
    if (n.rfind("mutex-", 0) == 0) out.push_back(e.path().string());
  }
  return out;
}

RVMutex* NewMutex(const char* name, uint32_t flags = 0) {
  RVMutex* m = RVMutexAlloc();
  m->flags |= flags;
  if (RVMutexCreate(m, name) != 0) {
    RVMutexFree(m);
    return nullptr;
  }
  return m;
}

std::atomic<int> g_hook_calls{0};
void CountingHook() { g_hook_calls++; }

// Restores the process-wide settings a test changed.
struct MutexSettingsGuard {
  ~MutexSettingsGuard() {
    RVSetMutexWaitHook(nullptr);
    RVMutexSetLimits(500, 600);
  }
};

}  // namespace

// Child: locks the named mutex args[0] (recursively), creates args[1], and
// unlocks when args[2] appears ("-" = hold until killed).
TQ_CHILD_ROLE(rvm_hold) {
  RVMutex* m = NewMutex(args[0].c_str(), RV_MUTEX_AUTHUSER);
  if (!m || RVMutexLock(m) != 0 || RVMutexLock(m) != 0) return 10;
  Touch(args[1]);
  if (args[2] == "-") {
    for (;;) PlatSleepMs(1000);
  }
  if (!WaitForFile(args[2], 60000)) return 12;
  RVMutexUnlock(m);
  RVMutexUnlock(m);
  RVMutexFree(m);
  return 0;
}

// Child: with slices of args[2] ms and args[3] time-outs allowed, locks the
// named mutex args[0] that another process holds; its standard error goes to
// args[1], each wait-hook call appends a line to args[1] + ".hook".
static std::string g_hook_file;
static void FileHook() {
  if (FILE* f = std::fopen(g_hook_file.c_str(), "a")) {
    std::fputs("hook\n", f);
    std::fclose(f);
  }
}
TQ_CHILD_ROLE(rvm_abort) {
  if (!std::freopen(args[1].c_str(), "w", stderr)) return 30;
  g_hook_file = args[1] + ".hook";
  RVMutexSetLimits(static_cast<uint32_t>(std::stoul(args[2])), static_cast<uint32_t>(std::stoul(args[3])));
  RVSetMutexWaitHook(FileHook);
  RVMutex* m = NewMutex(args[0].c_str());
  if (!m) return 31;
  RVMutexLock(m);
  return 32;  // not reached: the lock ends the process
}

// Child: args[3] threads take the named mutex args[0] twice each round,
// check nobody else is inside (O_EXCL marker args[1] + ".in"), increment the
// counter in args[1], and unlock twice; args[2] rounds per thread.
TQ_CHILD_ROLE(rvm_count) {
  const std::string counter = args[1];
  const int rounds = std::stoi(args[2]);
  const int threads = std::stoi(args[3]);
  RVMutex* m = NewMutex(args[0].c_str());
  if (!m) return 10;
  std::atomic<int> failures{0};
  auto work = [&] {
    for (int i = 0; i < rounds; ++i) {
      if (RVMutexLock(m) != 0 || RVMutexTryLock(m) != 0) {
        failures++;
        return;
      }
      if (m->count != 2 || m->owner != PlatThreadId()) failures++;
      int in = ::open((counter + ".in").c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
      if (in < 0) failures++;
      else ::close(in);
      long value = 0;
      if (FILE* f = std::fopen(counter.c_str(), "r")) {
        if (std::fscanf(f, "%ld", &value) != 1) value = 0;
        std::fclose(f);
      }
      if (FILE* f = std::fopen(counter.c_str(), "w")) {
        std::fprintf(f, "%ld\n", value + 1);
        std::fclose(f);
      }
      ::unlink((counter + ".in").c_str());
      RVMutexUnlock(m);
      RVMutexUnlock(m);
    }
  };
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) pool.emplace_back(work);
  for (auto& t : pool) t.join();
  RVMutexFree(m);
  return failures.load() == 0 ? 0 : 20;
}

TEST(RuntimeMutex, MissingMutexOrHandleIsReported) {
  TempSystem sys;
  RVMutex* no_handle = RVMutexAlloc();  // never created: no object behind it
  struct Case {
    const char* what;
    std::function<int()> call;
    int result;
    const char* message;
  } cases[] = {
      {"lock null", [] { return RVMutexLock(nullptr); }, -1, "RVMutexLock() - Null Mutex\n"},
      {"try null", [] { return RVMutexTryLock(nullptr); }, -1, "RVMutexLock() - Null Mutex\n"},
      {"unlock null", [] { RVMutexUnlock(nullptr); return 0; }, 0, "RVMutexUnlock() - Null Mutex\n"},
      {"create null", [] { return RVMutexCreate(nullptr, nullptr); }, -1, "Error Creating Mutex\n"},
      {"lock no handle", [&] { return RVMutexLock(no_handle); }, -1,
       "RVMutexLock() - WaitForSingleObject() failed: 6\n"},
      {"try no handle", [&] { return RVMutexTryLock(no_handle); }, -1,
       "RVMutexLock() - WaitForSingleObject() failed: 6\n"},
      {"unlock no handle", [&] { RVMutexUnlock(no_handle); return 0; }, 0,
       "RVMutexUnlock() - ReleaseMutex() failed: 6\n"},
      {"free null", [] { RVMutexFree(nullptr); return 0; }, 0, ""},
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStderr();
    int r = c.call();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(r, c.result) << c.what;
    EXPECT_EQ(err, c.message) << c.what;
  }
  EXPECT_EQ(no_handle->count, 0);
  EXPECT_EQ(no_handle->owner, 0u);
  RVMutexFree(no_handle);
}

// Locking twice and unlocking twice frees the mutex for another thread only
// after the second unlock; the record's count and owner follow.
TEST(RuntimeMutex, RecursionFreesOnlyAfterTheLastUnlock) {
  TempSystem sys;
  for (const char* name : {static_cast<const char*>(nullptr), "Global\\rv-recursion"}) {
    SCOPED_TRACE(name ? name : "(unnamed)");
    RVMutex* m = NewMutex(name);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->flags & RV_MUTEX_HANDLE, RV_MUTEX_HANDLE);
    auto other_try = [&] {
      int r = -2;
      std::thread([&] {
        r = RVMutexTryLock(m);
        if (r == 0) RVMutexUnlock(m);
      }).join();
      return r;
    };
    ASSERT_EQ(RVMutexLock(m), 0);
    ASSERT_EQ(RVMutexLock(m), 0);
    EXPECT_EQ(m->count, 2);
    EXPECT_EQ(m->owner, PlatThreadId());
    EXPECT_EQ(other_try(), 1);
    RVMutexUnlock(m);
    EXPECT_EQ(m->count, 1);
    EXPECT_EQ(m->owner, PlatThreadId());
    EXPECT_EQ(other_try(), 1);
    RVMutexUnlock(m);
    EXPECT_EQ(m->count, 0);
    EXPECT_EQ(m->owner, 0u);
    EXPECT_EQ(other_try(), 0);
    EXPECT_EQ(RVMutexTryLock(m), 0);
    EXPECT_EQ(m->count, 1);
    RVMutexUnlock(m);
    RVMutexFree(m);
  }
}

// Unlocking by a thread that does not hold it reports the failed release and
// leaves count and owner as they were.
TEST(RuntimeMutex, UnlockByNonOwnerIsReportedAndChangesNothing) {
  TempSystem sys;
  RVMutex* m = NewMutex("Global\\rv-non-owner");
  ASSERT_NE(m, nullptr);
  testing::internal::CaptureStderr();
  RVMutexUnlock(m);  // nobody holds it
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "RVMutexUnlock() - ReleaseMutex() failed: 288\n");
  EXPECT_EQ(m->count, 0);
  ASSERT_EQ(RVMutexLock(m), 0);
  ASSERT_EQ(RVMutexLock(m), 0);
  std::string err;
  std::thread([&] {
    testing::internal::CaptureStderr();
    RVMutexUnlock(m);
    err = testing::internal::GetCapturedStderr();
  }).join();
  EXPECT_EQ(err, "RVMutexUnlock() - ReleaseMutex() failed: 288\n");
  EXPECT_EQ(m->count, 2);
  EXPECT_EQ(m->owner, PlatThreadId());
  RVMutexUnlock(m);
  RVMutexUnlock(m);
  EXPECT_EQ(m->count, 0);
  RVMutexFree(m);
}

TEST(RuntimeMutex, TryLockOnABusyMutexReturnsAtOnce) {
  TempSystem sys;
  RVMutex* m = NewMutex(nullptr);
  ASSERT_EQ(RVMutexLock(m), 0);
  int r = -2;
  int64_t took = 0;
  std::thread([&] {
    int64_t t0 = PlatMonotonicMs();
    r = RVMutexTryLock(m);
    took = PlatMonotonicMs() - t0;
  }).join();
  EXPECT_EQ(r, 1);
  EXPECT_LT(took, 50);
  EXPECT_EQ(m->count, 1) << "the busy try changes nothing";
  RVMutexUnlock(m);
  RVMutexFree(m);
}

// The wait runs in 500 ms slices with the hook between them: a holder that
// keeps the mutex 200 ms costs no hook call, one that keeps it 750 ms one.
TEST(RuntimeMutex, WaitSlicesOf500MsRunTheHookBetweenThem) {
  TempSystem sys;
  MutexSettingsGuard guard;
  RVSetMutexWaitHook(CountingHook);
  struct Case {
    uint32_t hold_ms;
    int hooks;
  } cases[] = {{200, 0}, {750, 1}, {1250, 2}};
  for (const Case& c : cases) {
    RVMutex* m = NewMutex(nullptr);
    std::atomic<bool> held{false};
    std::thread holder([&] {
      RVMutexLock(m);
      held = true;
      PlatSleepMs(c.hold_ms);
      RVMutexUnlock(m);
    });
    while (!held) PlatSleepMs(1);
    g_hook_calls = 0;
    EXPECT_EQ(RVMutexLock(m), 0) << c.hold_ms;
    EXPECT_EQ(g_hook_calls.load(), c.hooks) << c.hold_ms;
    RVMutexUnlock(m);
    holder.join();
    RVMutexFree(m);
  }
}

// After the allowed number of consecutive time-outs the next one ends the
// process with the exact message; the hook ran after each earlier one.
// (Shortened limits; the defaults are 500 ms and 600.)
TEST(RuntimeMutex, TimeOutAfterTheLimitEndsTheProcess) {
  TempSystem sys;
  RVMutex* m = NewMutex("Global\\rv-abort");
  ASSERT_EQ(RVMutexLock(m), 0);
  struct Case {
    const char* slice;
    const char* limit;
    int hooks;
  } cases[] = {{"20", "5", 5}, {"10", "0", 0}};
  for (const Case& c : cases) {
    std::string err = sys.path(std::string("abort-") + c.limit + ".err");
    int64_t t0 = PlatMonotonicMs();
    pid_t child = TqSpawnChild("rvm_abort", {"Global\\rv-abort", err, c.slice, c.limit});
    EXPECT_EQ(TqWaitChild(child), 1) << c.limit;
    int64_t took = PlatMonotonicMs() - t0;
    EXPECT_GE(took, std::stol(c.slice) * (std::stol(c.limit) + 1)) << c.limit;
    EXPECT_EQ(sys.ReadFile(err.substr(sys.root().size() + 1)),
              "RVMutexLock() - Failed to aquire lock, aborting after 5 minutes\n");
    std::string hooks = sys.ReadFile(err.substr(sys.root().size() + 1) + ".hook");
    EXPECT_EQ(static_cast<int>(std::count(hooks.begin(), hooks.end(), '\n')), c.hooks) << c.limit;
  }
  RVMutexUnlock(m);
  RVMutexFree(m);
}

// Real processes (two threads each) share a named RVMutex: exclusion holds,
// recursion works, no increment is lost.
TEST(RuntimeMutex, NamedMutexExcludesProcesses) {
  TempSystem sys;
  std::vector<pid_t> children;
  for (int i = 0; i < 3; ++i)
    children.push_back(TqSpawnChild("rvm_count", {"Global\\rv-count", sys.path("counter"), "100", "2"}));
  for (pid_t c : children) EXPECT_EQ(TqWaitChild(c), 0);
  EXPECT_EQ(sys.ReadFile("counter"), "600\n");
}

// A lock held by a process that was killed is acquired normally by the next
// waiter (recursively held twice by the dead process: no trace of it).
TEST(RuntimeMutex, MutexOfAKilledProcessIsAcquiredNormally) {
  TempSystem sys;
  RVMutex* m = NewMutex("Global\\rv-abandon");
  ASSERT_NE(m, nullptr);
  pid_t child = TqSpawnChild("rvm_hold", {"Global\\rv-abandon", sys.path("ready"), "-"});
  ASSERT_TRUE(WaitForFile(sys.path("ready")));
  EXPECT_EQ(RVMutexTryLock(m), 1);
  std::thread killer([&] {
    PlatSleepMs(100);
    ::kill(child, SIGKILL);
  });
  testing::internal::CaptureStderr();
  EXPECT_EQ(RVMutexLock(m), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  killer.join();
  EXPECT_EQ(TqWaitChild(child), 128 + SIGKILL);
  EXPECT_EQ(m->count, 1);
  EXPECT_EQ(m->owner, PlatThreadId());
  RVMutexUnlock(m);
  EXPECT_EQ(m->count, 0);
  RVMutexFree(m);
}

// Flag 0x2 creates the object with the authenticated-users descriptor: its
// files are open to the users' group and to nobody else; without it they
// are owner-only.
TEST(RuntimeMutex, AuthUserFlagOpensTheObjectToTheUsersGroup) {
  long group = TqUsersGroup();
  struct Case {
    uint32_t flags;
    uint32_t mode;
  } cases[] = {{0, 0600}, {RV_MUTEX_AUTHUSER, group >= 0 ? 0660u : 0600u}};
  for (const Case& c : cases) {
    TempSystem sys;
    RVMutex* m = NewMutex("Global\\rv-modes", c.flags);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->flags, c.flags | RV_MUTEX_HANDLE);
    std::vector<std::string> files = OwnershipFiles();
    EXPECT_FALSE(files.empty());
    for (const std::string& f : files) {
      struct stat st;
      ASSERT_EQ(::stat(f.c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 0777, c.mode) << f;
      if (c.flags && group >= 0) {
        EXPECT_EQ(static_cast<long>(st.st_gid), group) << f;
      }
    }
    RVMutexFree(m);
  }
}

// An object that cannot be created gives "Error Creating Mutex" and no handle.
TEST(RuntimeMutex, CreateFailureIsReported) {
  TempSystem sys;
  sys.WriteFile("not-a-dir", "x");
  sys.SetEnv("TQ_SYSTEM_ROOT", sys.path("not-a-dir").c_str());
  for (uint32_t flags : {0u, static_cast<uint32_t>(RV_MUTEX_AUTHUSER)}) {
    RVMutex* m = RVMutexAlloc();
    m->flags = flags;
    testing::internal::CaptureStderr();
    EXPECT_EQ(RVMutexCreate(m, "Global\\cannot"), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error Creating Mutex\n");
    EXPECT_EQ(m->flags & RV_MUTEX_HANDLE, 0u);
    EXPECT_EQ(m->handle, nullptr);
    RVMutexFree(m);
  }
}

// Two records created with one name are one mutex, across threads.
TEST(RuntimeMutex, RecordsOfOneNameShareTheObject) {
  TempSystem sys;
  RVMutex* a = NewMutex("Global\\rv-same");
  RVMutex* b = NewMutex("Global\\rv-same");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  ASSERT_EQ(RVMutexLock(a), 0);
  int r = -2;
  std::thread([&] { r = RVMutexTryLock(b); }).join();
  EXPECT_EQ(r, 1);
  RVMutexUnlock(a);
  std::thread([&] {
    r = RVMutexTryLock(b);
    RVMutexUnlock(b);
  }).join();
  EXPECT_EQ(r, 0);
  RVMutexFree(a);
  EXPECT_EQ(PlatMutexExists("Global\\rv-same"), 1);
  RVMutexFree(b);
  EXPECT_EQ(PlatMutexExists("Global\\rv-same"), 0);
}
