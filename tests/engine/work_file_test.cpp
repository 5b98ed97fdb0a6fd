// The work file: a table of file texts read back against real packages in
// the work directory and an installed product; the line format written;
// the work mutex held by another process; failures of the file system.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "engine/config.h"
#include "engine/work_dir.h"
#include "engine/work_entry.h"
#include "engine/work_file.h"
#include "platform/fault.h"
#include "platform/file.h"
#include "platform/named_mutex.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "runtime/alloc.h"
#include "tests/fetch/fetch_test_util.h"
#include "tests/support/log_texts.h"
#include "tests/support/child.h"
#include "tests/support/msi_fixture.h"

namespace {

const MsiTestProduct kA{"a-win64", "1.0.0", "{0B1F5A3C-7D2E-4C8A-9E61-A10000000001}",
                        "{0B1F5A3C-7D2E-4C8A-9E61-A10000000002}", "extra.txt"};
const MsiTestProduct kB{"b-win64", "2.0.0", "{0B1F5A3C-7D2E-4C8A-9E61-B10000000001}",
                        "{0B1F5A3C-7D2E-4C8A-9E61-B10000000002}", "extra.txt"};

// The line the service writes for b.msi, not installed.
const std::string kLineB =
    "Name=\"b-win64\",Desc=\"B\",CurVersion=\"NotInstalled\",NewVersion=\"2.0.0-00\",InstallFile=\"b.msi\"\n";

// The packages are built once; each test copies them into its work directory.
class WorkFileTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!MsiFixtureToolsPresent()) return;
    std::string pattern = (std::filesystem::temp_directory_path() / "tq-workfile-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) return;
    packages_ = pattern;
    if (MsiFixtureBuild(packages_, MSI_FIXTURE_SOURCE("app"), kA, "a") == "" ||
        MsiFixtureBuild(packages_, MSI_FIXTURE_SOURCE("app"), kB, "b") == "")
      packages_.clear();
  }
  static void TearDownTestSuite() {
    if (!packages_.empty()) TqRunCommand("rm -rf " + MsiFixtureQuote(packages_));
  }
  void SetUp() override {
    if (packages_.empty()) GTEST_SKIP() << "wixl is not installed or the test packages cannot be built";
    for (const char* p : {"a.msi", "b.msi"}) {
      std::string data;
      ASSERT_EQ(PlatReadFile((packages_ + "/" + p).c_str(), &data), 0);
      fs_.WriteWork(p, data);
    }
    UpdSetWorkDir(fs_.sys().path("work").c_str());
    // a-win64 is installed at the version of its package.
    int bad = 0;
    ASSERT_EQ(PlatRegImport("Windows Registry Editor Version 5.00\r\n\r\n"
                            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TQ Software\\a-win64]\r\n\"Version\"=\"1.0.0\"\r\n",
                            &bad),
              0u);
    path_ = UpdWorkFilePath();
    fs_.Texts();
  }
  void WriteWorkFile(const std::string& text) {
    std::string dir = path_.substr(0, path_.rfind('/'));
    TqRunCommand("mkdir -p " + MsiFixtureQuote(dir));
    ASSERT_EQ(PlatWriteFileAtomic(path_.c_str(), text, 0644), 0);
  }
  // The work file's text, or "<none>".
  std::string WorkFileText() const {
    std::string text;
    return PlatReadFile(path_.c_str(), &text) == 0 ? text : "<none>";
  }
  // The work list as "name/flags" joined by blanks.
  static std::string List() {
    std::string out;
    for (const UpdEntry* e = g_upd_config->work_list; e; e = e->next)
      out += (out.empty() ? "" : " ") + std::string(e->name) + "/" + std::to_string(e->flags);
    return out;
  }
  bool Logged(const std::string& text) {
    std::vector<std::string> t = fs_.Texts();
    return TqTextIndex(t, text) >= 0;
  }

  static std::string packages_;
  FetchSystem fs_;
  std::string path_;
};

std::string WorkFileTest::packages_;

TEST_F(WorkFileTest, FileTextsReadBack) {
  const std::string lineA =
      "Name=\"a-win64\",Desc=\"A\",CurVersion=\"1.0.0-00\",NewVersion=\"1.0.0-00\",InstallFile=\"a.msi\"\n";
  struct Case {
    const char* what;
    std::string text;
    int result;
    int pending;
    const char* list;       // the work list afterwards
    std::string rewritten;  // the file afterwards
    const char* message;    // a message that must be logged, or null
  } cases[] = {
      {"the installed entry is skipped and left out of the rewrite", lineA + kLineB, 0, 1, "a-win64/3 b-win64/0",
       kLineB, "Save - Versions Match - Ignoring: a-win64"},
      {"nothing left to install: no file", lineA, 0, 0, "", "<none>", nullptr},
      {"ForceReboot behind the closing quote of InstallFile",
       "Name=\"b-win64\",Desc=\"B\",CurVersion=\"x\",NewVersion=\"y\",InstallFile=\"b.msi\"ForceReboot=TRUE\r\n", 0, 1,
       "b-win64/4", kLineB.substr(0, kLineB.size() - 1) + "ForceReboot=True\n", nullptr},
      {"only four pairs: the whole file is invalid",
       lineA + "Name=\"b-win64\",Desc=\"B\",NewVersion=\"y\",InstallFile=\"b.msi\"\n", -1, 0, "", "<none>",
       "Invalid Entry In File: "},
      {"a key without a value", kLineB.substr(0, kLineB.size() - 1) + ",ForceReboot\n", -1, 0, "", "<none>",
       "Invalid Entry In File: "},
      {"a line without a name",
       "Desc=\"B\",CurVersion=\"x\",NewVersion=\"y\",InstallFile=\"b.msi\",Other=\"z\"\n", -1, 0, "", "<none>",
       "Missing Name in Update Script"},
      {"duplicate names keep the first line", kLineB + "Name=\"b-win64\",Desc=\"Second\",CurVersion=\"x\","
       "NewVersion=\"y\",InstallFile=\"missing.msi\"\n", 0, 1, "b-win64/0", kLineB, nullptr},
      {"unknown names are ignored, the versions are not read back",
       "Colour=\"red\",Name=\"b-win64\",CurVersion=\"9\",NewVersion=\"9\",InstallFile=\"b.msi\",Desc=\"B\"\n", 0, 1,
       "b-win64/0", kLineB, nullptr},
      {"an empty file: no file and no work", "", 0, 0, "", "<none>", nullptr},
      {"only the last part of InstallFile names the package",
       "Name=\"b-win64\",Desc=\"B\",CurVersion=\"x\",NewVersion=\"y\",InstallFile=\"../..\\elsewhere/b.msi\"\n", 0, 1,
       "b-win64/0", kLineB, nullptr},
      {"an InstallFile without a last part names no package",
       "Name=\"b-win64\",Desc=\"B\",CurVersion=\"x\",NewVersion=\"y\",InstallFile=\"b.msi/..\"\n", 0, 1,
       "b-win64/0", "<none>", "MsiOpenPackage() Error: Install Package Open Failed"},
      {"an empty line among good ones spoils the file", kLineB + "\n", -1, 0, "", "<none>",
       "Invalid Entry In File: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UpdFreeWorkList(g_upd_config->work_list);
    g_upd_config->work_list = nullptr;
    WriteWorkFile(c.text);
    g_upd_work_pending = 7;
    EXPECT_EQ(UpdReadWorkFile(), c.result);
    EXPECT_EQ(g_upd_work_pending, c.pending);
    EXPECT_EQ(List(), c.list);
    EXPECT_EQ(WorkFileText(), c.rewritten);
    std::vector<std::string> texts = fs_.Texts();
    if (c.message) {
      std::string m = c.message;
      if (m.back() == ' ') m += path_;
      EXPECT_GE(TqTextIndex(texts, m), 0) << m;
    }
  }
}

TEST_F(WorkFileTest, NamesNoLongerConfiguredAreDropped) {
  g_upd_config->packages[g_upd_config->package_count++] = RVStrDup("B-WIN64");
  WriteWorkFile("Name=\"c-win64\",Desc=\"C\",CurVersion=\"x\",NewVersion=\"y\",InstallFile=\"c.msi\"\n" + kLineB);
  EXPECT_EQ(UpdReadWorkFile(), 0);
  EXPECT_EQ(List(), "b-win64/0");
  EXPECT_EQ(WorkFileText(), kLineB);
}

TEST_F(WorkFileTest, MissingPackageLeavesNoFileUntilTheNextRead) {
  WriteWorkFile(kLineB + "Name=\"c-win64\",Desc=\"C\",CurVersion=\"x\",NewVersion=\"y\",InstallFile=\"c.msi\"\n");
  EXPECT_EQ(UpdReadWorkFile(), 0);
  EXPECT_EQ(g_upd_work_pending, 1);
  EXPECT_EQ(WorkFileText(), "<none>");
  EXPECT_TRUE(Logged("MsiOpenPackage() Error: Install Package Open Failed"));
  EXPECT_EQ(UpdReadWorkFile(), 0);
  EXPECT_EQ(g_upd_work_pending, 0);
  // No file at all: the list is left as it is.
  EXPECT_NE(g_upd_config->work_list, nullptr);
}

TEST_F(WorkFileTest, SavedLinesCarryTheFieldsOtherProgramsRead) {
  // Entries as an update check leaves them: a has no description, c's
  // description has a double quote and is far too long for one line.
  UpdEntry* b = NewEntry("/pub/b.msi", "/pub/b.sig");
  RVFree(b->name);
  b->name = RVStrDup("b-win64");
  b->desc = RVStrDup("B");
  b->local_file = RVStrDup("b.msi");
  b->flags = UPD_ENTRY_FORCE_REBOOT;
  UpdEntry* c = NewEntry("/pub/c.msi", "/pub/c.sig");
  RVFree(c->name);
  c->name = RVStrDup("c-win64");
  c->desc = RVStrDup(("say \"hi\" " + std::string(2000, 'x')).c_str());
  c->local_file = RVStrDup("b.msi");
  UpdEntry* a = NewEntry("/pub/a.msi", "/pub/a.sig");
  RVFree(a->name);
  a->name = RVStrDup("a-win64");
  a->local_file = RVStrDup("a.msi");
  a->next = b;
  b->next = c;
  g_upd_config->work_list = a;
  ASSERT_EQ(UpdSaveWorkFile(), 0);
  std::string text = WorkFileText();
  std::string first = text.substr(0, text.find('\n') + 1);
  EXPECT_EQ(first, kLineB.substr(0, kLineB.size() - 1) + "ForceReboot=True\n");
  std::string second = text.substr(first.size());
  EXPECT_EQ(second.rfind("Name=\"c-win64\",Desc=\"say 'hi' xxx", 0), 0u) << second;
  EXPECT_EQ(second.size(), 1023u);  // cut to what the reader takes as one line
  EXPECT_EQ(a->flags & UPD_ENTRY_SKIP, UPD_ENTRY_SKIP);
  // What was written reads back whole.
  ASSERT_EQ(UpdReadWorkFile(), 0);
  EXPECT_EQ(List(), "b-win64/4 c-win64/0");
  EXPECT_EQ(WorkFileText(), text);
}

TEST_F(WorkFileTest, SaveWaitsForTheWorkMutexOfAnotherProcess) {
  WriteWorkFile(kLineB);
  std::string held = fs_.sys().path("held");
  std::string released = fs_.sys().path("released");
  pid_t child = TqSpawnChild("hold_work_mutex", {held, released});
  PlatFileInfo info;
  for (int i = 0; i < 1000 && PlatFileStat(held.c_str(), &info) != 0; ++i) PlatSleepMs(10);
  ASSERT_EQ(PlatFileStat(held.c_str(), &info), 0);
  EXPECT_EQ(UpdReadWorkFile(), 0);
  // The rewrite could only begin once the other process had let go.
  EXPECT_EQ(PlatFileStat(released.c_str(), &info), 0);
  EXPECT_EQ(WorkFileText(), kLineB);
  EXPECT_EQ(TqWaitChild(child), 0);
}

// Holds the work mutex, marks the file args[0], waits a little, marks args[1]
// and lets go.
TQ_CHILD_ROLE(hold_work_mutex) {
  PlatMutex* m = PlatMutexCreate(UpdWorkMutexName().c_str(), nullptr);
  if (!m || PlatMutexWait(m, 0xFFFFFFFFu) != 0 || args.size() < 2) return 1;
  std::FILE* f = std::fopen(args[0].c_str(), "w");
  if (f) std::fclose(f);
  PlatSleepMs(300);
  f = std::fopen(args[1].c_str(), "w");
  if (f) std::fclose(f);
  PlatMutexRelease(m);
  PlatMutexClose(m);
  return 0;
}

TEST_F(WorkFileTest, FileSystemFailuresNeverLeaveAPartialFile) {
  std::string dir = path_.substr(0, path_.rfind('/'));
  for (PlatSyscall kind : {PLAT_SYS_OPEN, PLAT_SYS_WRITE, PLAT_SYS_FSYNC, PLAT_SYS_RENAME}) {
    SCOPED_TRACE(static_cast<int>(kind));
    WriteWorkFile(kLineB);
    ASSERT_EQ(UpdReadWorkFile(), 0);
    // Every such call fails (the log's own writes too): the rewrite cannot
    // be made, and the old file is already gone.
    PlatFaultInject(kind, 1, 28, true);
    EXPECT_EQ(UpdSaveWorkFile(), -1);
    PlatFaultClear();
    EXPECT_EQ(WorkFileText(), "<none>");
    std::string names;
    TqRunCommand("ls -A " + MsiFixtureQuote(dir) + " | grep -v '^tqupd-msg.txt$'", &names);
    EXPECT_EQ(names, "") << "left behind: " << names;
  }
}

}  // namespace
