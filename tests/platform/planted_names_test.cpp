// Files opened by fixed names against objects another user planted there:
// symbolic and hard links to a victim, FIFOs, directories and files the
// other user owns. No operation may write the victim or the planted file,
// or block; creation times follow the file, not a planted attribute; the
// creation mask never opens a file to others.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "platform/error.h"
#include "platform/file.h"
#include "platform/folders.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "tests/support/child.h"
#include "tests/support/planted.h"
#include "tests/support/temp_system.h"
#include "tests/support/users.h"

namespace {

constexpr char kVictimText[] = "victim: must never change\n";

// Plants `p` at `name` in `sys`; links point at the victim file.
bool PlantAt(TempSystem& sys, TqPlant p, const std::string& name) {
  return TqPlantAt(p, sys.path(name), sys.path("victim"), TqOutsider());
}

}  // namespace

// Every write by a fixed name refuses what was planted there with 5 and
// writes neither the victim nor the planted file; the whole-file
// replacements (atomic write, copy) replace the name itself instead, which
// leaves both untouched too.
TEST(PlantedNames, WritesNeverReachTheVictimOrAnotherUsersFile) {
  if (!TqIsAdmin()) GTEST_SKIP() << "needs the administrator to plant another user's file";
  struct Op {
    const char* name;
    bool replaces_name;                          // succeeds by replacing the planted name
    std::function<int(const std::string&)> run;  // 0 on success
  } ops[] = {
      {"PlatFileOpen w", false,
       [](const std::string& p) {
         FILE* f = PlatFileOpen(p.c_str(), "w");
         if (!f) return -1;
         std::fputs("root's text\n", f);
         std::fclose(f);
         return 0;
       }},
      {"PlatFileOpen a", false,
       [](const std::string& p) {
         FILE* f = PlatFileOpen(p.c_str(), "a");
         if (!f) return -1;
         std::fputs("root's text\n", f);
         std::fclose(f);
         return 0;
       }},
      {"PlatFileCreateAlways", false,
       [](const std::string& p) {
         PlatFileHandle* h = PlatFileCreateAlways(p.c_str(), 1);
         if (!h) return -1;
         uint32_t n = 0;
         PlatFileHandleWrite(h, "root", 4, &n);
         return PlatFileHandleClose(h);
       }},
      {"PlatWriteFileAtomic", true,
       [](const std::string& p) { return PlatWriteFileAtomic(p.c_str(), "root's text\n", 0644); }},
      {"PlatCopyFile", true,
       [](const std::string& p) {
         return PlatCopyFile((p.substr(0, p.rfind('/')) + "/source").c_str(), p.c_str(), 0);
       }},
  };
  for (TqPlant plant : kTqPlants) {
    for (const Op& op : ops) {
      TempSystem sys;
      sys.WriteFile("victim", kVictimText);
      ::chmod(sys.path("victim").c_str(), 0600);
      sys.WriteFile("source", "copied text\n");
      ASSERT_TRUE(PlantAt(sys, plant, "fixed.txt"));
      TqSnapshot victim = TqTake(sys.path("victim"));
      TqSnapshot planted = TqTake(sys.path("fixed.txt"));
      int r = op.run(sys.path("fixed.txt"));
      std::string what = std::string(op.name) + " over a " + TqPlantName(plant);
      EXPECT_TRUE(TqSame(victim, TqTake(sys.path("victim")))) << what;
      bool replaced_ok = op.replaces_name && plant != TqPlant::kDirectory;
      if (replaced_ok) {
        EXPECT_EQ(r, 0) << what;
        struct stat st;
        ASSERT_EQ(::lstat(sys.path("fixed.txt").c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode)) << what;
        EXPECT_EQ(st.st_uid, ::geteuid()) << what;
        if (plant == TqPlant::kAttackerFile) {
          // The other user's file is gone from the name, never rewritten.
          EXPECT_NE(st.st_ino, planted.st.st_ino) << what;
        }
      } else {
        EXPECT_EQ(r, -1) << what;
        EXPECT_EQ(PlatGetLastError(), ERROR_ACCESS_DENIED) << what;
        EXPECT_TRUE(TqSame(planted, TqTake(sys.path("fixed.txt")))) << what;
      }
      // No temporary is left beside the name.
      std::string out;
      EXPECT_EQ(TqRunCommand("ls -A '" + sys.root() + "'", &out), 0);
      EXPECT_EQ(out, "appdata\ncommon\ndocuments\nfixed.txt\nhome-tq\nprograms\nsource\nsystem\nvictim\n") << what;
    }
  }
}

// Reads by a fixed name refuse a symbolic link and a FIFO (which would block
// the reader) with 5; a planted name never makes a reader see the victim.
TEST(PlantedNames, ReadsRefuseLinksAndFifos) {
  if (!TqIsAdmin()) GTEST_SKIP() << "needs the administrator to plant as another user";
  for (TqPlant plant : {TqPlant::kSymlink, TqPlant::kFifo}) {
    TempSystem sys;
    sys.WriteFile("victim", kVictimText);
    ASSERT_TRUE(PlantAt(sys, plant, "fixed.txt"));
    std::string text;
    EXPECT_EQ(PlatReadFile(sys.path("fixed.txt").c_str(), &text), -1) << TqPlantName(plant);
    EXPECT_EQ(PlatGetLastError(), ERROR_ACCESS_DENIED) << TqPlantName(plant);
    EXPECT_EQ(PlatFileOpen(sys.path("fixed.txt").c_str(), "r"), nullptr) << TqPlantName(plant);
    EXPECT_EQ(PlatGetLastError(), ERROR_ACCESS_DENIED) << TqPlantName(plant);
  }
}

// A temporary name planted in advance (the old fixed "<path>.tqnew") is
// never followed: the atomic write uses a fresh name of its own.
TEST(PlantedNames, OldTemporaryNameIsNeverUsed) {
  TempSystem sys;
  sys.WriteFile("victim", kVictimText);
  std::string target = sys.path("hive.reg");
  ASSERT_EQ(::symlink(sys.path("victim").c_str(), (target + ".tqnew").c_str()), 0);
  ASSERT_EQ(::symlink(sys.path("victim").c_str(), (target + ".tqcopy").c_str()), 0);
  ASSERT_EQ(PlatWriteFileAtomic(target.c_str(), "new\n", 0644), 0);
  sys.WriteFile("src", "copy\n");
  ASSERT_EQ(PlatCopyFile(sys.path("src").c_str(), target.c_str(), 0), 0);
  EXPECT_EQ(sys.ReadFile("victim"), kVictimText);
  EXPECT_EQ(sys.ReadFile("hive.reg"), "copy\n");
}

// The creation time follows the file: kept across an atomic replacement and
// across a delete and re-creation under the same name within the tunnel
// time, as on the system this layer stands in for; a file made under a new
// name gets its own. A garbage or missing kept value falls back to the file
// system's own time.
TEST(PlantedNames, CreationTimeFollowsTheNameAndIgnoresGarbage) {
  TempSystem sys;
  const int64_t kOld = PlatTimeNow() - 3 * 86400;
  std::string p = sys.path("work.txt");
  ASSERT_EQ(PlatWriteFileAtomic(p.c_str(), "one\n", 0644), 0);
  ASSERT_EQ(PlatSetCreationTime(p.c_str(), kOld), 0);
  int64_t t = 0;

  ASSERT_EQ(PlatWriteFileAtomic(p.c_str(), "two\n", 0644), 0);
  ASSERT_EQ(PlatGetCreationTime(p.c_str(), &t), 0);
  EXPECT_EQ(t, kOld) << "atomic replacement";

  ASSERT_EQ(PlatDeleteFile(p.c_str()), 0);
  ASSERT_EQ(PlatWriteFileAtomic(p.c_str(), "three\n", 0644), 0);
  ASSERT_EQ(PlatGetCreationTime(p.c_str(), &t), 0);
  EXPECT_EQ(t, kOld) << "deleted and written again";

  ASSERT_EQ(PlatDeleteFile(p.c_str()), 0);
  FILE* f = PlatFileOpen(p.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  ASSERT_EQ(PlatGetCreationTime(p.c_str(), &t), 0);
  EXPECT_EQ(t, kOld) << "deleted and opened for writing again";

  std::string other = sys.path("other.txt");
  ASSERT_EQ(PlatWriteFileAtomic(other.c_str(), "x\n", 0644), 0);
  ASSERT_EQ(PlatGetCreationTime(other.c_str(), &t), 0);
  EXPECT_GE(t, PlatTimeNow() - 60) << "a new name";

  // A kept value that is not a number is ignored.
  const char* attr = TqIsAdmin() ? "trusted.tq.creation_time" : "user.tq.creation_time";
  for (const char* garbage : {"", "-5", "12x", "99999999999999999999999", "0"}) {
    ASSERT_EQ(::setxattr(other.c_str(), attr, garbage, std::strlen(garbage), 0), 0) << garbage;
    ASSERT_EQ(PlatGetCreationTime(other.c_str(), &t), 0) << garbage;
    EXPECT_GE(t, PlatTimeNow() - 60) << garbage;
    EXPECT_LE(t, PlatTimeNow() + 1) << garbage;
  }
  // The old place of the kept time, a file beside the work file that anyone
  // could have written, means nothing.
  sys.WriteFile(".other.txt.tqctime", "1000");
  ::removexattr(other.c_str(), attr);
  ASSERT_EQ(PlatGetCreationTime(other.c_str(), &t), 0);
  EXPECT_GE(t, PlatTimeNow() - 60);
}

// A user's attribute on another user's file is no creation time for the
// administrator: only the administrator's own attribute counts.
TEST(PlantedNames, AnotherUsersAttributeIsNotACreationTime) {
  if (!TqIsAdmin()) GTEST_SKIP() << "needs the administrator";
  TempSystem sys;
  std::string p = sys.path("log.txt");
  sys.WriteFile("log.txt", "x");
  ASSERT_EQ(::setxattr(p.c_str(), "user.tq.creation_time", "1000", 4, 0), 0);
  int64_t t = 0;
  ASSERT_EQ(PlatGetCreationTime(p.c_str(), &t), 0);
  EXPECT_NE(t, 1000);
}

// The creation mask narrows what is created but never takes the owner's
// access and never gives group or others write access: a mask of 0 means
// the defaults (0755, 0644), a mask of 0777 leaves the owner's access.
TEST(PlantedNames, CreationMaskNeverOpensFilesToOthers) {
  struct Case {
    uint32_t mask;
    uint32_t dir_mode;
    uint32_t file_mode;
  } cases[] = {{0, 0755, 0644}, {0777, 0700, 0600}, {002, 0755, 0644}, {027, 0750, 0640}};
  for (const Case& c : cases) {
    TempSystem sys;
    uint32_t old = PlatSetUmask(c.mask);
    int made = PlatMakeDir(sys.path("d").c_str(), 0777);
    FILE* f = PlatFileOpen(sys.path("f").c_str(), "w");
    PlatSetUmask(old);
    ASSERT_EQ(made, 0);
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    struct stat st;
    ASSERT_EQ(::stat(sys.path("d").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.dir_mode) << std::oct << c.mask;
    ASSERT_EQ(::stat(sys.path("f").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.file_mode) << std::oct << c.mask;
  }
}

// The paths the service keeps as its own: one left writable by others is
// narrowed; a link or another user's path is refused with its owner named.
TEST(PlantedNames, OwnPathsAreNarrowedOrRefused) {
  TempSystem sys;
  sys.WriteFile("open/file.txt", "x");
  ::chmod(sys.path("open").c_str(), 0777);
  ::chmod(sys.path("open/file.txt").c_str(), 0666);
  uint32_t old_mode = 0, owner = 0;
  ASSERT_EQ(PlatSecureOwnPath(sys.path("open").c_str(), 1, &old_mode, &owner), 0);
  EXPECT_EQ(old_mode, 0777u);
  ASSERT_EQ(PlatSecureOwnPath(sys.path("open/file.txt").c_str(), 0, &old_mode, &owner), 0);
  EXPECT_EQ(old_mode, 0666u);
  struct stat st;
  ASSERT_EQ(::stat(sys.path("open").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
  ASSERT_EQ(::stat(sys.path("open/file.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  ASSERT_EQ(PlatSecureOwnPath(sys.path("missing").c_str(), 1, &old_mode, &owner), 0);
  // The user's own link stands for its target.
  ASSERT_EQ(::symlink(sys.path("open").c_str(), sys.path("link").c_str()), 0);
  EXPECT_EQ(PlatSecureOwnPath(sys.path("link").c_str(), 1, &old_mode, &owner), 0);
  EXPECT_EQ(PlatSecureOwnPath(sys.path("open/file.txt").c_str(), 1, &old_mode, &owner), -1) << "not a directory";
  if (!TqIsAdmin()) return;
  TqUser other = TqOutsider();
  // Another user's link is refused.
  ASSERT_EQ(::lchown(sys.path("link").c_str(), other.uid, other.gid), 0);
  EXPECT_EQ(PlatSecureOwnPath(sys.path("link").c_str(), 1, &old_mode, &owner), -1);
  EXPECT_EQ(owner, other.uid);
  ASSERT_EQ(::chown(sys.path("open").c_str(), other.uid, other.gid), 0);
  ::chmod(sys.path("open").c_str(), 0777);
  EXPECT_EQ(PlatSecureOwnPath(sys.path("open").c_str(), 1, &old_mode, &owner), -1);
  EXPECT_EQ(owner, other.uid);
  ASSERT_EQ(::stat(sys.path("open").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0777u) << "another user's directory is left alone";
}

// The registry hive replaced by a link to a victim between two writers: the
// next write refuses the link (5) instead of reading the victim as the hive
// or writing through it.
TEST(PlantedNames, HiveReplacedByALinkBetweenTwoWrites) {
  TempSystem sys;
  ASSERT_EQ(PlatRegImport("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\TQ Software\\a]\r\n"
                          "\"Version\"=\"1\"\r\n",
                          nullptr),
            ERROR_SUCCESS);
  std::string hive = PlatSystemPath("registry/HKLM.reg");
  sys.WriteFile("victim", kVictimText);
  ASSERT_EQ(std::remove(hive.c_str()), 0);
  ASSERT_EQ(::symlink(sys.path("victim").c_str(), hive.c_str()), 0);
  TqSnapshot victim = TqTake(sys.path("victim"));
  EXPECT_EQ(PlatRegImport("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\TQ Software\\b]\r\n"
                          "\"Version\"=\"2\"\r\n",
                          nullptr),
            ERROR_ACCESS_DENIED);
  EXPECT_TRUE(TqSame(victim, TqTake(sys.path("victim"))));
}
