// The update service against a local attacker: a real unprivileged user
// who planted objects at the fixed names the service, the worker, the
// installer layer and the registry write (symbolic and hard links to a
// victim file, FIFOs, directories, files of the attacker's own), who is
// outside the users' group of the named objects, and who would like the
// root service to write for him. The real tqupdd runs a check, a Prompt
// save, an install request and a log rotation each time.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/work_file.h"
#include "platform/error.h"
#include "platform/event.h"
#include "platform/file.h"
#include "platform/named_mutex.h"
#include "platform/security.h"
#include "platform/system.h"
#include "runtime/env.h"
#include "runtime/mutex.h"
#include "tests/support/child.h"
#include "tests/support/planted.h"
#include "tests/support/users.h"
#include "tests/update/update_test_util.h"

using updt::Product;
using updt::Transport;
using updt::UpdateSystem;

namespace {

constexpr char kVictimText[] = "root's secret: never to be written by the service\n";
constexpr char kLog[] = "home-tq/TQUpdate/Log/tqupd-log.txt";

// The log's text when the log is a regular file (a planted FIFO would block
// a reader), else "".
std::string SafeLog(UpdateSystem& u) {
  struct stat st;
  if (::lstat(u.sys().path(kLog).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return "";
  return u.Log();
}

// Removes whatever is at `path` (a planted object), without following it.
void Unplant(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

// Every file below `root` owned by `uid`, but `except`.
std::vector<std::string> OwnedBy(const std::string& root, uid_t uid, const std::string& except) {
  std::vector<std::string> found;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    struct stat st;
    if (::lstat(it->path().c_str(), &st) == 0 && st.st_uid == uid && it->path().string() != except)
      found.push_back(it->path().string());
  }
  return found;
}

// True when a line of `log` reports a failure (an error, a failure or a
// refusal) about `path` (named whole or by its last part).
bool LogsFailureOf(const std::string& log, const std::string& path) {
  std::string base = path.substr(path.rfind('/') + 1);
  size_t start = 0;
  while (start < log.size()) {
    size_t end = log.find('\n', start);
    if (end == std::string::npos) end = log.size();
    std::string line = log.substr(start, end - start);
    bool names = line.find(path) != std::string::npos || line.find(" " + base) != std::string::npos ||
                 line.find("/" + base) != std::string::npos;
    bool failure = line.find("Error") != std::string::npos || line.find("Fail") != std::string::npos ||
                   line.find("Refusing") != std::string::npos;
    if (names && failure) return true;
    start = end + 1;
  }
  return false;
}

// One published repository with the demonstration package, for Prompt runs.
void Publish(UpdateSystem& u) {
  ASSERT_TRUE(u.Serve(Transport::kHttp));
  ASSERT_TRUE(u.Publish(Product("tqdemo-win64", "1.2.300", "demo.txt"), "pkgs/tqdemo-win64.msi"));
  u.WriteScript(
      "Update\n    Name tqdemo-win64\n    Desc 'Demo program'\n    InstallFile {src}pkgs/tqdemo-win64.msi\n"
      "    SignatureFile {src}pkgs/tqdemo-win64.sig\n");
}

// A log bigger than the rotation size, so the first line of a run rotates.
void SeedBigLog(UpdateSystem& u) {
  u.sys().WriteFile(kLog, std::string(1100000, 'x') + "\n");
}

}  // namespace

// For every fixed name the service writes during a check, a Prompt save,
// an install request and a log rotation, each kind of planted object in
// turn: the victim (a root-only file elsewhere) stays byte-identical, the
// attacker's own file is never written by root, the service says so where
// it has a log and goes on to the end of its run.
TEST(LocalAttacker, PlantedNamesNeverTurnTheServiceAgainstTheMachine) {
  if (!updt::CanRun()) GTEST_SKIP() << "wixl/msibuild or the development key is missing";
  if (!TqIsAdmin()) GTEST_SKIP() << "needs the administrator to act as the service";
  TqUser attacker = TqOutsider();
  struct Name {
    const char* what;
    const char* relative;  // below the relocated system's root
    bool logged;           // the service names the path in its log when it refuses it
  } names[] = {
      {"log", kLog, false},
      {"log generation", "home-tq/TQUpdate/Log/tqupd-log.txt.1", false},
      {"message file", "common/TQ/tqupd-msg.txt", false},
      {"work file", "common/TQ/tqupd-work.txt", true},
      {"update script", "home-tq/TQUpdate/Work/updscript.txt", true},
      {"digest file", "home-tq/TQUpdate/Work/md.txt", true},
      {"signature file", "home-tq/TQUpdate/Work/sig.txt", true},
      {"package", "home-tq/TQUpdate/Work/tqdemo-win64.msi", true},
      {"registry hive", "system/registry/HKLM.reg", false},
  };
  for (const Name& n : names) {
    UpdateSystem u;
    Publish(u);
    std::string victim = u.sys().path("victim.txt");
    u.sys().WriteFile("victim.txt", kVictimText);
    ASSERT_EQ(::chmod(victim.c_str(), 0600), 0);
    std::filesystem::create_directories(u.sys().path("common/TQ"));
    std::filesystem::create_directories(u.sys().path("system/registry"));
    std::string target = u.sys().path(n.relative);
    for (TqPlant plant : kTqPlants) {
      std::string what = std::string(n.what) + " planted as a " + TqPlantName(plant);
      Unplant(target);
      Unplant(u.WorkFilePath());
      if (std::string(n.relative) != kLog) SeedBigLog(u);
      ASSERT_TRUE(TqPlantAt(plant, target, victim, attacker));
      TqSnapshot victim_before = TqTake(victim);
      TqSnapshot planted_before = TqTake(target);

      // A check under Prompt: fetch, verify, save the work file.
      u.Configure("Prompt");
      std::string out;
      EXPECT_EQ(TqRunCommand("timeout 120 " + updt::kTqupdd + " --fg </dev/null", &out), 0) << what << "\n" << out;
      // An install request to a running worker.
      u.Configure("Prompt", "MaxLoopCount 1000000\n");
      u.StartForeground();
      // The worker answers once it has made its events (exit 1 until then).
      int asked = 1;
      for (int i = 0; i < 400 && asked == 1; ++i) {
        out.clear();
        asked = TqRunCommand("timeout 120 " + updt::kTqupdreq + " install -w 60", &out);
        if (asked == 1) ::usleep(25 * 1000);
      }
      // Answered: installed, or refused by the planted name (exit 5).
      EXPECT_TRUE(asked == 0 || asked == 5) << what << "\n" << out;
      u.StopForeground();

      EXPECT_TRUE(TqSame(victim_before, TqTake(victim))) << what << ": the victim changed";
      if (plant == TqPlant::kAttackerFile) {
        TqSnapshot now = TqTake(target);
        // Written through, it would have changed; replaced as a whole name
        // (the registry hive, the log generation), the file is gone from
        // the name and the attacker's data is left alone.
        if (now.exists && now.st.st_ino == planted_before.st.st_ino) {
          EXPECT_TRUE(TqSame(planted_before, now)) << what << ": root wrote the attacker's file";
        }
      }
      EXPECT_EQ(OwnedBy(u.sys().root(), attacker.uid, target), std::vector<std::string>{}) << what;
      std::string log = SafeLog(u);
      if (n.logged && plant != TqPlant::kHardLink) {
        EXPECT_TRUE(LogsFailureOf(log, target)) << what << ": the refusal is not logged\n" << log;
      }
      if (std::string(n.relative) != kLog) {
        EXPECT_NE(log.find("TQUpdateD64 - Stopped"), std::string::npos) << what << ": the run did not end\n" << log;
      }
      Unplant(target);
    }
  }
}

// What a user outside the users' group can and cannot do: ask for an
// installation (the worker installs), but never hold or wait for the work,
// log or global mutex, nor wait for or reset an event; a member can wait
// for the answer.
TQ_CHILD_ROLE(outsider_takes_objects) {
  // args: work mutex name, log mutex name, global mutex name, complete event
  int held = 0;
  for (size_t i = 0; i < 3 && i < args.size(); ++i) {
    PlatMutex* m = PlatMutexCreate(args[i].c_str(), nullptr);
    if (m) {
      uint32_t r = PlatMutexWait(m, 0);
      if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED) ++held;
      PlatMutexClose(m);
    }
    if (PlatMutexExists(args[i].c_str())) ++held;
  }
  if (args.size() > 3) {
    PlatEvent* e = PlatEventOpen(args[3].c_str(), true);
    if (e && PlatEventWait(e, 0) != WAIT_FAILED) ++held;
    if (e && PlatEventReset(e) == 0) ++held;
    PlatEventClose(e);
  }
  return held;
}

TQ_CHILD_ROLE(member_takes_work_mutex) {
  // What the tool asks to tell whether a worker runs, then what a reader of
  // the work file does.
  if (PlatMutexExists(args.at(0).c_str()) != 1) return 9;
  PlatMutex* m = PlatMutexCreate(args.at(0).c_str(), nullptr);
  if (!m) return 10;
  uint32_t r = PlatMutexWait(m, 30000);
  int rc = r == WAIT_OBJECT_0 || r == WAIT_ABANDONED ? 0 : 11;
  if (rc == 0) PlatMutexRelease(m);
  PlatMutexClose(m);
  return rc;
}

TEST(LocalAttacker, OutsidersMayOnlyAskMembersMayWait) {
  if (!updt::CanRun()) GTEST_SKIP() << "wixl/msibuild or the development key is missing";
  if (!TqIsAdmin()) GTEST_SKIP() << "needs the administrator to act as the service";
  TqUser outsider = TqOutsider();
  TqUser member = TqMember();
  UpdateSystem u;
  Publish(u);
  u.Configure("Prompt");
  std::string out;
  ASSERT_EQ(u.Run("--fg", &out), 0) << out << u.Log();
  ASSERT_TRUE(UpdateSystem::Exists(u.WorkFilePath())) << u.Log();
  u.ClearLog();
  u.Configure("Prompt", "MaxLoopCount 1000000\n");
  TqOpenTreeForUsers(u.sys().root());
  u.StartForeground();
  ASSERT_TRUE(u.WaitForLog("Waiting up to: ")) << u.Log();

  std::string home = u.sys().home();
  std::string log_mutex = "Global\\" + home + "/TQUpdate/Log/tqupd-log.txt-mtx";
  std::string global_mutex = "Global\\" + home + "/_TQ_Glbl_Mtx_";
  RVInit(nullptr);
  std::string work_mutex = UpdWorkMutexName();
  std::string complete = UpdGlobalObjectName("tqupd-complete-event");
  ASSERT_EQ(PlatMutexExists(log_mutex.c_str()) + PlatMutexExists(work_mutex.c_str()), 2)
      << "the objects the outsider goes for exist";
  EXPECT_EQ(TqRunChildAs(outsider, "outsider_takes_objects", {work_mutex, log_mutex, global_mutex, complete}), 0)
      << "the outsider held, saw or waited for an object";

  // The outsider's request is sent and the worker installs; the outsider
  // is told it cannot wait for the answer.
  out.clear();
  int rc = TqRunCommand(TqAsUser(outsider) + updt::kTqupdreq + " install -w 60", &out);
  EXPECT_EQ(rc, 4) << out;
  EXPECT_NE(out.find("The install request was sent"), std::string::npos) << out;
  EXPECT_TRUE(u.WaitForLog("Installed: tqdemo-win64 - Version: 1.2.3-00 - OK")) << u.Log();
  EXPECT_EQ(u.RegValue("tqdemo-win64", "Version"), "1.2.300");

  // A member waits for the answer, and may hold the work mutex as the
  // programs that read the work file do.
  out.clear();
  EXPECT_EQ(TqRunCommand(TqAsUser(member) + updt::kTqupdreq + " check -w 60", &out), 0) << out << u.Log();
  EXPECT_NE(out.find("The update worker answered the check request"), std::string::npos) << out;
  EXPECT_EQ(TqRunChildAs(member, "member_takes_work_mutex", {work_mutex}), 0);
  u.StopForeground();
}

// The modes of everything a fresh start and a full update (a Prompt check,
// an install request) create: directories 0755, files 0644, the objects'
// files of the users' group 0660 (the request events' FIFOs also writable
// by others, to signal them), nothing else writable by group or others,
// whatever the service's creation mask (RV_UMASK 0 here).
TEST(LocalAttacker, CreatedModesFollowTheTable) {
  if (!updt::CanRun()) GTEST_SKIP() << "wixl/msibuild or the development key is missing";
  long group = TqUsersGroup();
  UpdateSystem u;
  Publish(u);
  u.sys().SetEnv("RV_UMASK", "0");
  u.Configure("Prompt", "Env RV_UMASK=0\n");
  std::string out;
  ASSERT_EQ(u.Run("--fg", &out), 0) << out << u.Log();
  u.ClearLog();
  u.Configure("Prompt", "MaxLoopCount 1000000\n");
  u.StartForeground();
  ASSERT_TRUE(u.WaitForLog("Waiting up to: ")) << u.Log();
  ASSERT_EQ(TqRunCommand(updt::kTqupdreq + " install -w 60", &out), 0) << out << u.Log();
  ASSERT_TRUE(u.WaitForLog("Installed: tqdemo-win64 - Version: 1.2.3-00 - OK")) << u.Log();

  struct Expected {
    const char* relative;
    uint32_t mode;
  } table[] = {
      {"common/TQ", 0755},
      {"common/TQ/tqupd-msg.txt", 0644},
      {"home-tq/TQUpdate/Log", 0755},
      {kLog, 0644},
      {"home-tq/TQUpdate/Work/tqdemo-win64.msi", 0644},
      {"system/objects", 0755},
      {"system/registry/HKLM.reg", 0644},
      {"home-tq/demo.txt", 0644},
  };
  for (const Expected& e : table) {
    struct stat st;
    ASSERT_EQ(::lstat(u.sys().path(e.relative).c_str(), &st), 0) << e.relative;
    EXPECT_EQ(st.st_mode & 07777, e.mode) << e.relative;
  }
  // Everything the programs made: never writable by others; writable by the
  // group only in the objects directory and only for the users' group.
  std::error_code ec;
  std::string objects = u.sys().path("system/objects");
  int fifos_for_all = 0;
  for (auto it = std::filesystem::recursive_directory_iterator(u.sys().root(), ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::string p = it->path().string();
    if (p.find("/repo/") != std::string::npos || p.find("/build/") != std::string::npos) continue;
    struct stat st;
    if (::lstat(p.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) continue;
    bool in_objects = p.compare(0, objects.size() + 1, objects + "/") == 0;
    if (S_ISFIFO(st.st_mode) && (st.st_mode & S_IWOTH)) {
      EXPECT_TRUE(in_objects && (p.find("install-event") != std::string::npos ||
                                 p.find("check-event") != std::string::npos))
          << p;
      EXPECT_EQ(st.st_mode & S_IROTH, 0u) << p << ": others may signal, never read";
      ++fifos_for_all;
      continue;
    }
    EXPECT_EQ(st.st_mode & S_IWOTH, 0u) << p;
    if (st.st_mode & S_IWGRP) {
      EXPECT_TRUE(in_objects) << p;
      EXPECT_EQ(static_cast<long>(st.st_gid), group) << p;
    }
    if (in_objects) {
      EXPECT_EQ(st.st_mode & S_IROTH, 0u) << p << ": objects are nothing to others";
    }
  }
  EXPECT_EQ(fifos_for_all, group >= 0 ? 2 : 0);
  u.StopForeground();
}

// The work file's one-day rule, with a valid line and its package in the
// work directory: the creation time survives every rewrite of the file (so
// pending work does grow old), a file younger than a day is read back as
// pending work, and one older than a day is dropped at the worker's start,
// after which the start-up check runs and writes a young one.
TEST(LocalAttacker, WorkFileGrowsOldAcrossRewrites) {
  if (!updt::CanRun()) GTEST_SKIP() << "wixl/msibuild or the development key is missing";
  UpdateSystem u;
  Publish(u);
  u.Configure("Prompt");
  std::string out;
  ASSERT_EQ(u.Run("--fg", &out), 0) << out << u.Log();
  std::string work = u.WorkFilePath();
  ASSERT_TRUE(UpdateSystem::Exists(work)) << u.Log();
  const int64_t kHour = 3600;
  int64_t young = PlatTimeNow() - 20 * kHour;
  ASSERT_EQ(PlatSetCreationTime(work.c_str(), young), 0);

  // Younger than a day: read back (pending work, no start-up check) and
  // rewritten, with the creation time kept.
  u.ClearLog();
  ASSERT_EQ(u.Run("--fg", &out), 0) << out << u.Log();
  EXPECT_EQ(u.CountText("Checking for Current WorkFile List"), 1) << u.Log();
  EXPECT_EQ(u.CountText("OnStart - Checking for updates"), 0) << u.Log();
  EXPECT_GE(u.CountText("Creating File: " + work), 1) << u.Log();
  ASSERT_TRUE(UpdateSystem::Exists(work));
  int64_t t = 0;
  ASSERT_EQ(PlatGetCreationTime(work.c_str(), &t), 0);
  EXPECT_EQ(t, young) << "the rewrite renewed the creation time";

  // Older than a day: dropped at start; the start-up check writes a new one.
  ASSERT_EQ(PlatSetCreationTime(work.c_str(), PlatTimeNow() - 25 * kHour), 0);
  u.ClearLog();
  ASSERT_EQ(u.Run("--fg", &out), 0) << out << u.Log();
  EXPECT_EQ(u.CountText("OnStart - Checking for updates"), 1) << u.Log();
  ASSERT_TRUE(UpdateSystem::Exists(work)) << u.Log();
  ASSERT_EQ(PlatGetCreationTime(work.c_str(), &t), 0);
  EXPECT_GE(t, PlatTimeNow() - 60) << "the new work file starts young";
}

// The machine-wide data folder and the system root handed to another user
// (as a careless earlier installation might have): the service names each
// with its owner in a refusal, leaves them alone and ends its run.
TEST(LocalAttacker, FoldersOfAnotherUserAreRefusedByName) {
  if (!updt::CanRun()) GTEST_SKIP() << "wixl/msibuild or the development key is missing";
  if (!TqIsAdmin()) GTEST_SKIP() << "needs the administrator to act as the service";
  TqUser attacker = TqOutsider();
  UpdateSystem u;
  Publish(u);
  u.Configure("Prompt");
  std::filesystem::create_directories(u.sys().path("common/TQ"));
  for (const char* dir : {"common/TQ", "system"}) {
    ASSERT_EQ(::chown(u.sys().path(dir).c_str(), attacker.uid, attacker.gid), 0) << dir;
    ASSERT_EQ(::chmod(u.sys().path(dir).c_str(), 0777), 0) << dir;
  }
  std::string out;
  EXPECT_EQ(TqRunCommand("timeout 120 " + updt::kTqupdd + " --fg </dev/null", &out), 0) << out;
  for (const char* dir : {"common/TQ", "system"}) {
    EXPECT_EQ(u.CountText("Refusing Directory: " + u.sys().path(dir) + " - owned by " + attacker.name + ", not by root"),
              1)
        << dir << "\n" << u.Log();
    struct stat st;
    ASSERT_EQ(::lstat(u.sys().path(dir).c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, attacker.uid) << dir << ": another user's folder is left alone";
    EXPECT_EQ(st.st_mode & 07777, 0777u) << dir;
  }
  EXPECT_EQ(u.CountText("TQUpdateD64 - Stopped"), 1) << u.Log();
}
