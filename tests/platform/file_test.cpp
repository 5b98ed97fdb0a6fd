// Files: Windows error codes, creation time, atomic replacement, faults.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "platform/error.h"
#include "platform/fault.h"
#include "platform/file.h"
#include "platform/system.h"
#include "tests/support/temp_system.h"

TEST(PlatformFile, MissingFilesReportWindowsCodes) {
  TempSystem sys;
  PlatFileInfo info;
  struct Case {
    std::string path;
    uint32_t code;
  } cases[] = {
      {sys.path("nothing.txt"), ERROR_FILE_NOT_FOUND},
      {sys.path("no-dir/nothing.txt"), ERROR_PATH_NOT_FOUND},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PlatFileStat(c.path.c_str(), &info), -1) << c.path;
    EXPECT_EQ(PlatGetLastError(), c.code) << c.path;
  }
  sys.WriteFile("a.txt", "a");
  sys.WriteFile("b.txt", "b");
  EXPECT_EQ(PlatMoveFile(sys.path("a.txt").c_str(), sys.path("b.txt").c_str()), -1);
  EXPECT_EQ(PlatGetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(PlatMakeDir(sys.root().c_str(), 0755), -1);
  EXPECT_EQ(PlatGetLastError(), ERROR_ALREADY_EXISTS);
}

TEST(PlatformFile, CreationTimeIsKeptAndMovesWithTheFile) {
  TempSystem sys;
  sys.WriteFile("log.txt", "x");
  std::string p = sys.path("log.txt");
  ASSERT_EQ(PlatSetCreationTime(p.c_str(), 1000000), 0);
  int64_t t = 0;
  ASSERT_EQ(PlatGetCreationTime(p.c_str(), &t), 0);
  EXPECT_EQ(t, 1000000);
  PlatFileInfo info;
  ASSERT_EQ(PlatFileStat(p.c_str(), &info), 0);
  EXPECT_EQ(info.creation_time, 1000000);
  std::string q = sys.path("moved.txt");
  ASSERT_EQ(PlatMoveFile(p.c_str(), q.c_str()), 0);
  ASSERT_EQ(PlatGetCreationTime(q.c_str(), &t), 0);
  EXPECT_EQ(t, 1000000);
}

TEST(PlatformFile, TruncateKeepsTheSameFile) {
  TempSystem sys;
  std::string p = sys.path("t.txt");
  FILE* f = PlatFileOpen(p.c_str(), "a");
  ASSERT_NE(f, nullptr);
  std::fputs("hello\n", f);
  ASSERT_EQ(PlatFileTruncate(f, 0), 0);
  std::fputs("new\n", f);
  std::fclose(f);
  EXPECT_EQ(sys.ReadFile("t.txt"), "new\n");
}

// Every fault during an atomic write leaves the old content whole.
TEST(PlatformFile, AtomicWriteUnderFaultsKeepsOldContent) {
  TempSystem sys;
  std::string p = sys.path("state.txt");
  ASSERT_EQ(PlatWriteFileAtomic(p.c_str(), "old", 0644), 0);
  for (PlatSyscall kind : {PLAT_SYS_OPEN, PLAT_SYS_WRITE, PLAT_SYS_FSYNC, PLAT_SYS_RENAME}) {
    PlatFaultClear();
    PlatFaultInject(kind, 1, ENOSPC, false);
    EXPECT_EQ(PlatWriteFileAtomic(p.c_str(), std::string(100000, 'n'), 0644), -1) << kind;
    EXPECT_EQ(PlatGetLastError(), ERROR_DISK_FULL);
    EXPECT_EQ(sys.ReadFile("state.txt"), "old") << kind;
  }
  PlatFaultClear();
  ASSERT_EQ(PlatWriteFileAtomic(p.c_str(), "new", 0644), 0);
  EXPECT_EQ(sys.ReadFile("state.txt"), "new");
}

TEST(PlatformFile, CopyIsCompleteOrAbsent) {
  TempSystem sys;
  sys.WriteFile("src.bin", std::string(300000, 's'));
  std::string src = sys.path("src.bin"), dst = sys.path("dst.bin");
  PlatFaultClear();
  PlatFaultInject(PLAT_SYS_WRITE, 2, EIO, false);
  EXPECT_EQ(PlatCopyFile(src.c_str(), dst.c_str(), 0), -1);
  EXPECT_EQ(errno, EIO);
  PlatFileInfo info;
  EXPECT_EQ(PlatFileStat(dst.c_str(), &info), -1);
  PlatFaultClear();
  ASSERT_EQ(PlatCopyFile(src.c_str(), dst.c_str(), 1), 0);
  EXPECT_EQ(sys.ReadFile("dst.bin").size(), 300000u);
  EXPECT_EQ(PlatCopyFile(src.c_str(), dst.c_str(), 1), -1);
  EXPECT_EQ(PlatGetLastError(), ERROR_FILE_EXISTS);
}

TEST(PlatformFile, CreatedFilesAreNeverWritableByOthers) {
  // The update service runs without a creation mask: the files it creates
  // for downloads and copies must still not be writable by other users.
  TempSystem sys;
  uint32_t old_mask = PlatSetUmask(0);
  std::string fresh = sys.path("fresh.bin"), existing = sys.path("existing.bin"), copy = sys.path("copy.bin");
  sys.WriteFile("existing.bin", "old");
  PlatChmod(existing.c_str(), 0666);
  for (const std::string& path : {fresh, existing}) {
    PlatFileHandle* f = PlatFileCreateAlways(path.c_str(), 0);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(PlatFileHandleClose(f), 0);
  }
  sys.WriteFile("src.bin", "data");
  PlatChmod(sys.path("src.bin").c_str(), 0777);
  EXPECT_EQ(PlatCopyFile(sys.path("src.bin").c_str(), copy.c_str(), 0), 0);
  PlatSetUmask(old_mask);
  PlatFileInfo info;
  for (const auto& [path, mode] : {std::pair{fresh, 0644u}, std::pair{existing, 0644u}, std::pair{copy, 0755u}}) {
    ASSERT_EQ(PlatFileStat(path.c_str(), &info), 0);
    EXPECT_EQ(info.mode & 0777, mode) << path;
  }
}
