// Mutex objects: per-thread recursive ownership, named mutexes shared by real
// processes, abandonment by a killed holder, existence, file modes.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/error.h"
#include "platform/folders.h"
#include "platform/named_mutex.h"
#include "platform/security.h"
#include "platform/system.h"
#include "tests/support/child.h"
#include "tests/support/temp_system.h"
#include "tests/support/users.h"

namespace {

constexpr uint32_t kInfinite = 0xFFFFFFFFu;

bool FileExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

void Touch(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (f) std::fclose(f);
}

// Waits up to `ms` for a file to appear.
bool WaitForFile(const std::string& path, int ms = 20000) {
  for (int i = 0; i < ms / 5; ++i) {
    if (FileExists(path)) return true;
    PlatSleepMs(5);
  }
  return FileExists(path);
}

int CountOpenFds() {
  int n = 0;
  DIR* d = ::opendir("/proc/self/fd");
  while (d && ::readdir(d)) ++n;
  if (d) ::closedir(d);
  return n;
}

std::vector<std::string> ObjectFiles() {
  std::vector<std::string> names;
  std::error_code ec;
  for (auto& e : std::filesystem::directory_iterator(PlatSystemPath("objects"), ec))
    if (e.path().filename().string().rfind("mutex-", 0) == 0) names.push_back(e.path().filename().string());
  return names;
}

PlatSecurityDescriptor AuthUsersDescriptor() {
  PlatSecurityDescriptor desc;
  PlatInitSecurityDescriptor(&desc);
  PlatAcl acl;
  PlatInitAcl(&acl, 300, 2);
  for (PlatSidKind kind : {PLAT_SID_LOCAL_SYSTEM, PLAT_SID_ADMINISTRATORS, PLAT_SID_AUTHENTICATED_USERS}) {
    PlatSid sid;
    PlatAllocateSid(kind, &sid);
    PlatAddAccessAllowed(&acl, &sid);
    PlatFreeSid(&sid);
  }
  PlatSetSecurityDescriptorAcl(&desc, &acl);
  return desc;
}

}  // namespace

// Child: takes the mutex args[0], creates args[1], then releases when
// args[2] appears ("-" = hold until killed).
TQ_CHILD_ROLE(nm_hold) {
  PlatMutex* m = PlatMutexCreate(args[0].c_str(), nullptr);
  if (!m) return 10;
  if (PlatMutexWait(m, kInfinite) != WAIT_OBJECT_0) return 11;
  Touch(args[1]);
  if (args[2] == "-") {
    for (;;) PlatSleepMs(1000);
  }
  if (!WaitForFile(args[2], 60000)) return 12;
  if (PlatMutexRelease(m) != 0) return 13;
  PlatMutexClose(m);
  return 0;
}

// Child: opens the mutex args[0] without taking it, creates args[1], closes
// when args[2] appears.
TQ_CHILD_ROLE(nm_open) {
  PlatMutex* m = PlatMutexCreate(args[0].c_str(), nullptr);
  if (!m) return 10;
  Touch(args[1]);
  if (!WaitForFile(args[2], 60000)) return 12;
  PlatMutexClose(m);
  return 0;
}

// Child: args[3] threads each take the mutex args[0] twice (recursion),
// check that nobody else is inside (an O_EXCL marker file args[1] + ".in"),
// increment the counter in file args[1] slowly, and release twice; args[2]
// rounds per thread.
TQ_CHILD_ROLE(nm_count) {
  const std::string name = args[0];
  const std::string counter = args[1];
  const int rounds = std::stoi(args[2]);
  const int threads = std::stoi(args[3]);
  std::atomic<int> failures{0};
  auto work = [&] {
    PlatMutex* m = PlatMutexCreate(name.c_str(), nullptr);
    if (!m) {
      failures++;
      return;
    }
    for (int i = 0; i < rounds; ++i) {
      if (PlatMutexWait(m, kInfinite) != WAIT_OBJECT_0 || PlatMutexWait(m, 0) != WAIT_OBJECT_0) {
        failures++;
        break;
      }
      int in = ::open((counter + ".in").c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
      if (in < 0) failures++;
      else ::close(in);
      long value = 0;
      if (FILE* f = std::fopen(counter.c_str(), "r")) {
        if (std::fscanf(f, "%ld", &value) != 1) value = 0;
        std::fclose(f);
      }
      std::this_thread::yield();
      if (FILE* f = std::fopen(counter.c_str(), "w")) {
        std::fprintf(f, "%ld\n", value + 1);
        std::fclose(f);
      }
      ::unlink((counter + ".in").c_str());
      if (PlatMutexRelease(m) != 0 || PlatMutexRelease(m) != 0) failures++;
    }
    PlatMutexClose(m);
  };
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) pool.emplace_back(work);
  for (auto& t : pool) t.join();
  return failures.load() == 0 ? 0 : 20;
}

TEST(PlatformNamedMutex, NullHandlesFailWithInvalidHandle) {
  PlatSetLastError(0);
  EXPECT_EQ(PlatMutexWait(nullptr, 0), WAIT_FAILED);
  EXPECT_EQ(PlatGetLastError(), ERROR_INVALID_HANDLE);
  PlatSetLastError(0);
  EXPECT_EQ(PlatMutexRelease(nullptr), -1);
  EXPECT_EQ(PlatGetLastError(), ERROR_INVALID_HANDLE);
  PlatMutexClose(nullptr);
}

// Ownership is per thread and recursive, for unnamed and named mutexes alike.
TEST(PlatformNamedMutex, OwnershipIsPerThreadAndRecursive) {
  TempSystem sys;
  for (const char* name : {static_cast<const char*>(nullptr), "Global\\recursion-test"}) {
    SCOPED_TRACE(name ? name : "(unnamed)");
    PlatMutex* m = PlatMutexCreate(name, nullptr);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(PlatGetLastError(), ERROR_SUCCESS);
    ASSERT_EQ(PlatMutexWait(m, 0), WAIT_OBJECT_0);
    ASSERT_EQ(PlatMutexWait(m, kInfinite), WAIT_OBJECT_0);
    uint32_t other = 0;
    int other_release = 0;
    uint32_t other_error = 0;
    std::thread([&] {
      other = PlatMutexWait(m, 30);
      other_release = PlatMutexRelease(m);
      other_error = PlatGetLastError();
    }).join();
    EXPECT_EQ(other, WAIT_TIMEOUT);
    EXPECT_EQ(other_release, -1);
    EXPECT_EQ(other_error, ERROR_NOT_OWNER);
    ASSERT_EQ(PlatMutexRelease(m), 0);
    std::thread([&] { other = PlatMutexWait(m, 0); }).join();
    EXPECT_EQ(other, WAIT_TIMEOUT) << "still held once";
    ASSERT_EQ(PlatMutexRelease(m), 0);
    EXPECT_EQ(PlatMutexRelease(m), -1);
    EXPECT_EQ(PlatGetLastError(), ERROR_NOT_OWNER);
    std::thread([&] {
      other = PlatMutexWait(m, 0);
      if (other == WAIT_OBJECT_0) PlatMutexRelease(m);
    }).join();
    EXPECT_EQ(other, WAIT_OBJECT_0);
    PlatMutexClose(m);
  }
}

// Handles of one name in one process are one mutex; a waiting thread gets
// it as soon as the owner releases.
TEST(PlatformNamedMutex, HandlesOfOneNameShareOwnership) {
  TempSystem sys;
  PlatMutex* a = PlatMutexCreate("Global\\shared", nullptr);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(PlatGetLastError(), ERROR_SUCCESS);
  PlatMutex* b = PlatMutexCreate("Global\\shared", nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(PlatGetLastError(), ERROR_ALREADY_EXISTS);
  ASSERT_EQ(PlatMutexWait(a, 0), WAIT_OBJECT_0);
  EXPECT_EQ(PlatMutexWait(b, 0), WAIT_OBJECT_0) << "same owner through the other handle";
  EXPECT_EQ(PlatMutexRelease(b), 0);
  std::atomic<uint32_t> got{0xDEAD};
  int64_t released_at = 0;
  int64_t got_at = 0;
  std::thread waiter([&] {
    got = PlatMutexWait(b, 5000);
    got_at = PlatMonotonicMs();
    PlatMutexRelease(b);
  });
  PlatSleepMs(50);
  EXPECT_EQ(got.load(), 0xDEADu);
  released_at = PlatMonotonicMs();
  EXPECT_EQ(PlatMutexRelease(a), 0);
  waiter.join();
  EXPECT_EQ(got.load(), WAIT_OBJECT_0);
  EXPECT_LT(got_at - released_at, 500);
  PlatMutexClose(a);
  PlatMutexClose(b);
}

// Many threads with their own handles of one name exclude each other.
TEST(PlatformNamedMutex, ThreadsExcludeEachOther) {
  TempSystem sys;
  long counter = 0;
  std::vector<std::thread> pool;
  for (int t = 0; t < 4; ++t) {
    pool.emplace_back([&] {
      PlatMutex* m = PlatMutexCreate("Global\\threads", nullptr);
      for (int i = 0; i < 2000; ++i) {
        ASSERT_EQ(PlatMutexWait(m, kInfinite), WAIT_OBJECT_0);
        long v = counter;
        if (i % 64 == 0) std::this_thread::yield();
        counter = v + 1;
        ASSERT_EQ(PlatMutexRelease(m), 0);
      }
      PlatMutexClose(m);
    });
  }
  for (auto& t : pool) t.join();
  EXPECT_EQ(counter, 8000);
}

// A thread that ends while owning leaves the mutex abandoned to the next
// waiter of the process.
TEST(PlatformNamedMutex, ThreadEndingWhileOwningAbandonsIt) {
  TempSystem sys;
  for (const char* name : {static_cast<const char*>(nullptr), "Global\\thread-abandon"}) {
    SCOPED_TRACE(name ? name : "(unnamed)");
    PlatMutex* m = PlatMutexCreate(name, nullptr);
    ASSERT_NE(m, nullptr);
    std::thread([&] { EXPECT_EQ(PlatMutexWait(m, 0), WAIT_OBJECT_0); }).join();
    EXPECT_EQ(PlatMutexWait(m, 2000), WAIT_ABANDONED);
    EXPECT_EQ(PlatMutexRelease(m), 0);
    EXPECT_EQ(PlatMutexWait(m, 0), WAIT_OBJECT_0);
    EXPECT_EQ(PlatMutexRelease(m), 0);
    PlatMutexClose(m);
  }
}

TEST(PlatformNamedMutex, WaitHonoursItsTimeout) {
  TempSystem sys;
  pid_t child = TqSpawnChild("nm_hold", {"Global\\timeout", sys.path("ready"), sys.path("go")});
  ASSERT_TRUE(WaitForFile(sys.path("ready")));
  PlatMutex* m = PlatMutexCreate("Global\\timeout", nullptr);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(PlatGetLastError(), ERROR_ALREADY_EXISTS);
  struct Case {
    uint32_t timeout_ms;
    int64_t min_ms, max_ms;
  } cases[] = {{0, 0, 50}, {1, 0, 60}, {120, 115, 600}, {300, 295, 900}};
  for (const Case& c : cases) {
    int64_t t0 = PlatMonotonicMs();
    EXPECT_EQ(PlatMutexWait(m, c.timeout_ms), WAIT_TIMEOUT) << c.timeout_ms;
    int64_t took = PlatMonotonicMs() - t0;
    EXPECT_GE(took, c.min_ms) << c.timeout_ms;
    EXPECT_LE(took, c.max_ms) << c.timeout_ms;
  }
  Touch(sys.path("go"));
  EXPECT_EQ(PlatMutexWait(m, 20000), WAIT_OBJECT_0);
  EXPECT_EQ(PlatMutexRelease(m), 0);
  EXPECT_EQ(TqWaitChild(child), 0);
  PlatMutexClose(m);
}

// Real processes (each with two threads) contending for one mutex, taking it
// recursively: nobody is ever inside together and no increment is lost.
TEST(PlatformNamedMutex, ProcessesExcludeEachOther) {
  TempSystem sys;
  const std::string counter = sys.path("counter");
  std::vector<pid_t> children;
  for (int i = 0; i < 4; ++i)
    children.push_back(TqSpawnChild("nm_count", {"Global\\processes", counter, "150", "2"}));
  for (pid_t c : children) EXPECT_EQ(TqWaitChild(c), 0);
  EXPECT_EQ(sys.ReadFile("counter"), "1200\n");
  EXPECT_FALSE(FileExists(counter + ".in"));
  EXPECT_EQ(PlatMutexExists("Global\\processes"), 0);
  EXPECT_TRUE(ObjectFiles().empty()) << "the last close removes the object files";
}

// A holder killed with SIGKILL leaves the mutex abandoned: the waiter gets
// it with WAIT_ABANDONED, and after its release it is an ordinary mutex.
TEST(PlatformNamedMutex, KilledHolderAbandonsTheMutex) {
  TempSystem sys;
  PlatMutex* m = PlatMutexCreate("Global\\abandon", nullptr);
  ASSERT_NE(m, nullptr);
  pid_t child = TqSpawnChild("nm_hold", {"Global\\abandon", sys.path("ready"), "-"});
  ASSERT_TRUE(WaitForFile(sys.path("ready")));
  EXPECT_EQ(PlatMutexWait(m, 50), WAIT_TIMEOUT);
  std::atomic<uint32_t> got{0xDEAD};
  std::thread waiter([&] { got = PlatMutexWait(m, 20000); });
  PlatSleepMs(100);
  EXPECT_EQ(got.load(), 0xDEADu) << "still held by the child";
  ::kill(child, SIGKILL);
  EXPECT_EQ(TqWaitChild(child), 128 + SIGKILL);
  waiter.join();
  EXPECT_EQ(got.load(), WAIT_ABANDONED);
  std::thread([&] { EXPECT_EQ(PlatMutexRelease(m), -1) << "owned by the waiter thread"; }).join();
  // The waiter thread has ended while owning; this thread takes it over.
  EXPECT_EQ(PlatMutexWait(m, 1000), WAIT_ABANDONED);
  EXPECT_EQ(PlatMutexRelease(m), 0);
  EXPECT_EQ(PlatMutexWait(m, 0), WAIT_OBJECT_0) << "no longer abandoned";
  EXPECT_EQ(PlatMutexRelease(m), 0);
  PlatMutexClose(m);
}

// A mutex whose last handle went with a killed holder is gone: creating the
// name again gives a new, unowned mutex, as on Windows.
TEST(PlatformNamedMutex, NameIsNewAgainAfterItsLastHolderDied) {
  TempSystem sys;
  pid_t child = TqSpawnChild("nm_hold", {"Global\\reborn", sys.path("ready"), "-"});
  ASSERT_TRUE(WaitForFile(sys.path("ready")));
  EXPECT_EQ(PlatMutexExists("Global\\reborn"), 1);
  ::kill(child, SIGKILL);
  TqWaitChild(child);
  EXPECT_EQ(PlatMutexExists("Global\\reborn"), 0);
  PlatMutex* m = PlatMutexCreate("Global\\reborn", nullptr);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(PlatGetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(PlatMutexWait(m, 0), WAIT_OBJECT_0);
  EXPECT_EQ(PlatMutexRelease(m), 0);
  PlatMutexClose(m);
}

// A name exists while any process holds a handle, owned or not.
TEST(PlatformNamedMutex, ExistsWhileAnyProcessHoldsAHandle) {
  TempSystem sys;
  const char* name = "Global\\exists";
  EXPECT_EQ(PlatMutexExists(name), 0) << "no objects directory yet";
  EXPECT_EQ(PlatGetLastError(), ERROR_FILE_NOT_FOUND);
  pid_t child = TqSpawnChild("nm_open", {name, sys.path("ready"), sys.path("go")});
  ASSERT_TRUE(WaitForFile(sys.path("ready")));
  EXPECT_EQ(PlatMutexExists(name), 1);
  EXPECT_EQ(PlatMutexExists("Global\\other"), 0);
  PlatMutex* m = PlatMutexCreate(name, nullptr);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(PlatGetLastError(), ERROR_ALREADY_EXISTS) << "created by the child";
  EXPECT_EQ(PlatMutexWait(m, 0), WAIT_OBJECT_0) << "open, not owned";
  EXPECT_EQ(PlatMutexRelease(m), 0);
  PlatMutexClose(m);
  EXPECT_EQ(PlatMutexExists(name), 1) << "the child still has it";
  Touch(sys.path("go"));
  EXPECT_EQ(TqWaitChild(child), 0);
  EXPECT_EQ(PlatMutexExists(name), 0);
  EXPECT_TRUE(ObjectFiles().empty());
  // In-process handles count too.
  m = PlatMutexCreate(name, nullptr);
  EXPECT_EQ(PlatMutexExists(name), 1);
  PlatMutexClose(m);
  EXPECT_EQ(PlatMutexExists(name), 0);
}

// Names map to distinct files, whatever their characters and length.
TEST(PlatformNamedMutex, NamesAreDistinctAndLongNamesWork) {
  TempSystem sys;
  std::string long_a = "Global\\" + std::string(300, 'x') + "/a";
  std::string long_b = "Global\\" + std::string(300, 'x') + "/b";
  const std::vector<std::string> names = {
      "Global\\a", "Global\\A", "Local\\a", "Global\\/var/log/x-mtx", "Global\\%2F", "Global\\/", "Global\\..",
      ".hidden", long_a, long_b, "Global\\caf\xc3\xa9"};
  std::vector<PlatMutex*> held;
  for (const std::string& n : names) {
    PlatMutex* m = PlatMutexCreate(n.c_str(), nullptr);
    ASSERT_NE(m, nullptr) << n;
    EXPECT_EQ(PlatGetLastError(), ERROR_SUCCESS) << n << " must not collide with an earlier name";
    EXPECT_EQ(PlatMutexWait(m, 0), WAIT_OBJECT_0) << n;
    held.push_back(m);
  }
  EXPECT_EQ(ObjectFiles().size(), names.size() * 2);
  for (const std::string& f : ObjectFiles()) {
    EXPECT_LT(f.size(), 255u) << f;
  }
  for (PlatMutex* m : held) {
    EXPECT_EQ(PlatMutexRelease(m), 0);
    PlatMutexClose(m);
  }
  EXPECT_TRUE(ObjectFiles().empty());
}

// The objects directory is created on demand, 0755: only its owner creates
// objects there. With the authenticated-users descriptor the files belong
// to the users' group (read and write for it, nothing for others); without
// it they are the owner's alone; the creation mask changes neither.
TEST(PlatformNamedMutex, FileModesFollowTheDescriptor) {
  long group = TqUsersGroup();
  struct Case {
    bool auth_users;
    uint32_t file_mode;
    long gid;
  } cases[] = {{false, 0600, static_cast<long>(::getegid())}, {true, group >= 0 ? 0660u : 0600u, group}};
  for (const Case& c : cases) {
    TempSystem sys;
    uint32_t old_mask = PlatSetUmask(077);
    PlatSecurityDescriptor desc = AuthUsersDescriptor();
    PlatMutex* m = PlatMutexCreate("Global\\modes", c.auth_users ? &desc : nullptr);
    PlatSetUmask(old_mask);
    ASSERT_NE(m, nullptr);
    struct stat st;
    ASSERT_EQ(::lstat(PlatSystemPath("objects").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u) << c.auth_users;
    for (const std::string& f : ObjectFiles()) {
      ASSERT_EQ(::lstat((PlatSystemPath("objects") + "/" + f).c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 07777, c.file_mode) << f;
      if (c.gid >= 0 && f.rfind("mutex-", 0) == 0) {
        EXPECT_EQ(static_cast<long>(st.st_gid), c.gid) << f;
      }
    }
    PlatMutexClose(m);
  }
}

// An objects directory left open to everyone by an earlier version is
// narrowed to 0755 at the next use; one that another user owns is refused.
TEST(PlatformNamedMutex, ObjectsDirectoryIsNarrowedOrRefused) {
  TempSystem sys;
  std::string dir = PlatSystemPath("objects");
  ASSERT_EQ(::mkdir(dir.c_str(), 0777), 0);
  ASSERT_EQ(::chmod(dir.c_str(), 01777), 0);
  PlatMutex* m = PlatMutexCreate("Global\\narrow", nullptr);
  ASSERT_NE(m, nullptr);
  PlatMutexClose(m);
  struct stat st;
  ASSERT_EQ(::lstat(dir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
  if (!TqIsAdmin()) GTEST_SKIP() << "needs the administrator to give the directory away";
  TqUser other = TqOutsider();
  ASSERT_EQ(::chown(dir.c_str(), other.uid, other.gid), 0);
  EXPECT_EQ(PlatMutexCreate("Global\\refused", nullptr), nullptr);
  EXPECT_EQ(PlatGetLastError(), ERROR_ACCESS_DENIED);
  // A symbolic link in the directory's place is refused too.
  ASSERT_EQ(::rename(dir.c_str(), (dir + "-other").c_str()), 0);
  ASSERT_EQ(::symlink((dir + "-other").c_str(), dir.c_str()), 0);
  EXPECT_EQ(PlatMutexCreate("Global\\refused", nullptr), nullptr);
}

TEST(PlatformNamedMutex, CreateFailsWhenTheObjectsDirectoryCannotBeMade) {
  TempSystem sys;
  sys.WriteFile("plain-file", "x");
  sys.SetEnv("TQ_SYSTEM_ROOT", sys.path("plain-file").c_str());
  PlatSetLastError(0);
  EXPECT_EQ(PlatMutexCreate("Global\\nowhere", nullptr), nullptr);
  EXPECT_EQ(PlatGetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(PlatMutexExists("Global\\nowhere"), 0);
  // Unnamed mutexes need no file.
  PlatMutex* m = PlatMutexCreate(nullptr, nullptr);
  ASSERT_NE(m, nullptr);
  PlatMutexClose(m);
}

// Creating, using and closing many mutexes leaves no descriptor open.
TEST(PlatformNamedMutex, CloseReleasesEveryDescriptor) {
  TempSystem sys;
  int before = CountOpenFds();
  for (int i = 0; i < 200; ++i) {
    std::string name = "Global\\fd-" + std::to_string(i % 7);
    PlatMutex* a = PlatMutexCreate(name.c_str(), nullptr);
    PlatMutex* b = PlatMutexCreate(name.c_str(), nullptr);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(PlatMutexWait(a, 0), WAIT_OBJECT_0);
    EXPECT_EQ(PlatMutexRelease(a), 0);
    PlatMutexClose(a);
    PlatMutexClose(b);
    EXPECT_EQ(PlatMutexExists(name.c_str()), 0);
  }
  EXPECT_EQ(CountOpenFds(), before);
  EXPECT_TRUE(ObjectFiles().empty());
}
