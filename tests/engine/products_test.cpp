// Version numbers and the installed-product lookup in the registry: the
// conversion table, both parent keys, case of subkeys, missing values, the
// 100-byte limits of names and data; the purge of downloaded packages.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "engine/config.h"
#include "engine/products.h"
#include "engine/work_dir.h"
#include "engine/work_entry.h"
#include "engine/work_file.h"
#include "platform/directory.h"
#include "platform/file.h"
#include "platform/installer.h"
#include "platform/registry.h"
#include "runtime/alloc.h"
#include "tests/engine/engine_test_util.h"
#include "tests/support/child.h"
#include "tests/support/msi_fixture.h"

namespace {

TEST(VersionNumber, ConvertsTextsAndLogsEachConversion) {
  EngineSystem sys;
  struct Case {
    const char* text;
    uint32_t number;
  } cases[] = {
      {"6.7.5-01", 6070501},  {"6.7.5.01", 6070501},  {"6.7.501", 6070501}, {"10.2", 10020000},
      {"1.2.3.4.5", 1020304}, {"123.4", 1230400},     {"", 0},              {"7", 7000000},
      {"6,7,5,1", 6070501},   {"12.34.56.78", 12345678}, {"123456789", 1234567},
      {"6..7", 6070000},      {"6.7.5b", 6075},       {"99.99.99-99", 99999999},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(UpdVersionNumber(c.text), c.number) << c.text;
    std::vector<std::string> texts = sys.Texts();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back(), "Converted VersionStr: " + std::string(c.text) + " to " + std::to_string(c.number));
  }
}

TEST(VersionNumber, RendersFourParts) {
  char text[32];
  UpdVersionText(6070501, text, sizeof text);
  EXPECT_STREQ(text, "6.7.5-01");
  UpdVersionText(10020000, text, sizeof text);
  EXPECT_STREQ(text, "10.2.0-00");
  UpdVersionText(0, text, sizeof text);
  EXPECT_STREQ(text, "0.0.0-00");
}

class ProductInfoTest : public testing::Test {
 protected:
  void Import(const std::string& body) {
    int bad = 0;
    ASSERT_EQ(PlatRegImport("Windows Registry Editor Version 5.00\r\n\r\n" + body, &bad), 0u) << bad;
  }
  // A fresh entry for `name`, with stale facts that the lookup must replace.
  static UpdEntry* Entry(const char* name) {
    auto* e = static_cast<UpdEntry*>(RVAlloc(1, sizeof(UpdEntry)));
    e->name = RVStrDup(name);
    return e;
  }
  static std::string Text(const char* s) { return s ? s : "-"; }
  EngineSystem sys_;
};

TEST_F(ProductInfoTest, ReadsBothParentKeysWhateverTheSubkeyCase) {
  Import(
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TQ Software\\TQUPDATE-WIN64]\r\n"
      "\"Version\"=\"6.7.5.01\"\r\n\"InstallDir\"=\"C:\\\\TQ\"\r\n\"ProductCode\"=\"{A}\"\r\n"
      "\"UpgradeCode\"=\"{U}\"\r\n\"Other\"=\"x\"\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\TQ Software\\client-win32]\r\n"
      "\"version\"=\"10.2\"\r\n");
  UpdEntry* e = Entry("tqupdate-win64");
  UpdProductInfo(e);
  EXPECT_TRUE(e->flags & UPD_ENTRY_INSTALLED);
  EXPECT_EQ(e->installed_version, 6070501u);
  EXPECT_EQ(Text(e->install_dir), "C:\\TQ");
  EXPECT_EQ(Text(e->product_code), "{A}");
  EXPECT_EQ(Text(e->upgrade_code), "{U}");
  UpdFreeWorkList(e);

  e = Entry("client-win32");
  UpdProductInfo(e);
  EXPECT_TRUE(e->flags & UPD_ENTRY_INSTALLED);
  EXPECT_EQ(e->installed_version, 10020000u);
  UpdFreeWorkList(e);

  // The 32-bit product is not looked for under the 64-bit key.
  e = Entry("client-win64");
  UpdProductInfo(e);
  EXPECT_FALSE(e->flags & UPD_ENTRY_INSTALLED);
  UpdFreeWorkList(e);
}

TEST_F(ProductInfoTest, NamesWithoutSuffixAreNeverLookedUp) {
  Import("[HKEY_LOCAL_MACHINE\\SOFTWARE\\TQ Software\\othertool]\r\n\"Version\"=\"1.0\"\r\n");
  for (const char* name : {"othertool", "-win6", "x-WIN64", "tool-win64 "}) {
    UpdEntry* e = Entry(name);
    e->flags = UPD_ENTRY_INSTALLED;  // left as it was
    e->installed_version = 5;
    UpdProductInfo(e);
    EXPECT_EQ(e->flags, UPD_ENTRY_INSTALLED) << name;
    EXPECT_EQ(e->installed_version, 5u) << name;
    UpdFreeWorkList(e);
  }
}

TEST_F(ProductInfoTest, MissingKeysAndValuesLeaveTheProductNotInstalled) {
  Import("[HKEY_LOCAL_MACHINE\\SOFTWARE\\TQ Software\\noversion-win64]\r\n"
         "\"InstallDir\"=\"D:\\\\x\"\r\n\"ProductCode\"=\"{P}\"\r\n");
  UpdEntry* e = Entry("noversion-win64");
  e->flags = UPD_ENTRY_INSTALLED;
  UpdProductInfo(e);
  EXPECT_FALSE(e->flags & UPD_ENTRY_INSTALLED);
  EXPECT_EQ(e->installed_version, 0u);
  EXPECT_EQ(Text(e->product_code), "{P}");
  UpdFreeWorkList(e);

  e = Entry("absent-win64");
  e->flags = UPD_ENTRY_INSTALLED;
  e->installed_version = 7;
  UpdProductInfo(e);
  EXPECT_FALSE(e->flags & UPD_ENTRY_INSTALLED);
  EXPECT_EQ(e->installed_version, 7u);  // unchanged
  UpdFreeWorkList(e);
}

TEST_F(ProductInfoTest, EmptyDataClearsAndLongValuesEndTheEnumeration) {
  std::string long_data(100, 'd');  // 100 characters + terminator do not fit in 100 bytes
  Import("[HKEY_LOCAL_MACHINE\\SOFTWARE\\TQ Software\\long-win64]\r\n"
         "\"InstallDir\"=\"\"\r\n\"ProductCode\"=\"" +
         std::string(99, 'p') + "\"\r\n\"UpgradeCode\"=\"" + long_data + "\"\r\n\"Version\"=\"2.0\"\r\n");
  UpdEntry* e = Entry("long-win64");
  e->install_dir = RVStrDup("stale");
  UpdProductInfo(e);
  EXPECT_EQ(Text(e->install_dir), "-");
  EXPECT_EQ(Text(e->product_code), std::string(99, 'p'));
  EXPECT_EQ(Text(e->upgrade_code), "-");
  EXPECT_FALSE(e->flags & UPD_ENTRY_INSTALLED);  // Version came after the long value
  UpdFreeWorkList(e);
}

}  // namespace

namespace {

// A product built from the test package source, by name.
MsiTestProduct Product(const char* name, const char* code) {
  return MsiTestProduct{name, "1.2.3", code, "{6B1F0E52-9C3A-4C55-8E0B-0D6C3F1A2B01}", "extra.txt"};
}

TEST(PurgePackages, DeletesPackagesOfUnknownProductsOnly) {
  if (!MsiFixtureToolsPresent()) GTEST_SKIP() << "wixl/msibuild not available";
  EngineSystem sys;
  std::string root = sys.sys().path("purge");
  std::string work = root + "/Work";
  ASSERT_EQ(TqRunCommand("mkdir -p '" + work + "/dir.msi' '" + root + "/target'"), 0);
  MsiTestProduct installed = Product("purge-installed-win64", "{2D6E3C41-1A5B-4F6D-9E21-7C8B9A0D1E01}");
  MsiTestProduct unknown = Product("purge-unknown-win64", "{2D6E3C41-1A5B-4F6D-9E21-7C8B9A0D1E02}");
  std::string log;
  std::string built = MsiFixtureBuild(root, MSI_FIXTURE_SOURCE("app"), installed, "installed", {}, &log);
  ASSERT_FALSE(built.empty()) << log;
  std::string kept = work + "/installed.msi";
  ASSERT_EQ(std::rename(built.c_str(), kept.c_str()), 0);
  built = MsiFixtureBuild(root, MSI_FIXTURE_SOURCE("app"), unknown, "unknown", {}, &log);
  ASSERT_FALSE(built.empty()) << log;
  ASSERT_EQ(std::rename(built.c_str(), (work + "/Unknown.MSI").c_str()), 0);
  ASSERT_EQ(MsiInstallProductA(kept.c_str(), ("ALLUSERS=1 TARGETDIR=\"" + root + "/target\" INSTALLDIR=\"" + root +
                                               "/target\" REBOOT=ReallySuppress").c_str()),
            0u);
  // Not packages: a file named ".msi" and another text with the suffix;
  // neither can be opened, so both stay. A directory with the suffix and a
  // file without it are not looked at.
  for (const char* name : {".msi", "notes.msi", "readme.txt"}) {
    FILE* f = std::fopen((work + "/" + name).c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("not a package\n", f);
    std::fclose(f);
  }
  UpdSetWorkDir(work.c_str());
  UpdPurgePackages();
  std::vector<PlatDirEntry> entries;
  ASSERT_EQ(PlatListDir(work.c_str(), &entries), 0);
  std::set<std::string> names;
  for (const PlatDirEntry& e : entries) names.insert(e.name);
  EXPECT_EQ(names, (std::set<std::string>{".msi", "dir.msi", "installed.msi", "notes.msi", "readme.txt"}));
  UpdSetWorkDir("");
}

}  // namespace

namespace {

// Packages of pending work survive the purge: those the work file names
// (whatever its path part, letters in any case) and those of the work
// list's skip-clear entries; an unreadable work file keeps every package.
// Every package here is of a product that is not installed, which the purge
// deletes unless it is pending.
TEST(PurgePackages, KeepsThePackagesOfPendingWork) {
  if (!MsiFixtureToolsPresent()) GTEST_SKIP() << "wixl/msibuild not available";
  EngineSystem sys;
  std::string root = sys.sys().path("purge");
  std::string work = root + "/Work";
  ASSERT_EQ(TqRunCommand("mkdir -p '" + work + "'"), 0);
  MsiTestProduct unknown = Product("purge-pending-win64", "{2D6E3C41-1A5B-4F6D-9E21-7C8B9A0D1E03}");
  std::string log;
  std::string built = MsiFixtureBuild(root, MSI_FIXTURE_SOURCE("app"), unknown, "pending", {}, &log);
  ASSERT_FALSE(built.empty()) << log;
  auto line = [](const char* name, const char* install_file) {
    return std::string("Name=\"") + name + "\",Desc=\"Unknown\",CurVersion=\"NotInstalled\",NewVersion=\"1.2.3-00\"," +
           "InstallFile=\"" + install_file + "\"\n";
  };
  struct Case {
    const char* what;
    std::string work_file;         // the work file's text; "<dir>" = a directory in its place; "" = none
    std::vector<std::pair<const char*, uint32_t>> list; // the work list: local file name and flags
    std::set<std::string> kept;    // of a.msi, b.msi, c.msi
  } cases[] = {
      {"nothing pending", "", {}, {}},
      {"named by the work file", line("p-win64", "/pub/pkgs/A.MSI") + line("q-win64", "c.msi"), {}, {"a.msi", "c.msi"}},
      {"a damaged line still keeps its package", "Name=\"p-win64\",InstallFile=\"b.msi\"\n", {}, {"b.msi"}},
      {"in the work list", "", {{"b.msi", 0}, {"c.msi", UPD_ENTRY_SKIP}}, {"b.msi"}},
      {"both", line("p-win64", "a.msi"), {{"b.msi", 0}}, {"a.msi", "b.msi"}},
      {"unreadable work file", "<dir>", {}, {"a.msi", "b.msi", "c.msi"}},
  };
  const std::string work_file = UpdWorkFilePath();
  UpdSetWorkDir(work.c_str());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* name : {"a.msi", "b.msi", "c.msi"})
      ASSERT_EQ(TqRunCommand("cp '" + built + "' '" + work + "/" + name + "'"), 0);
    TqRunCommand("rm -rf '" + work_file + "'");
    if (c.work_file == "<dir>") {
      ASSERT_EQ(TqRunCommand("mkdir -p '" + work_file + "'"), 0);
    } else if (!c.work_file.empty()) {
      FILE* f = std::fopen(work_file.c_str(), "w");
      ASSERT_NE(f, nullptr);
      std::fputs(c.work_file.c_str(), f);
      std::fclose(f);
    }
    UpdConfig config{};
    UpdEntry** tail = &config.work_list;
    for (auto& [local, flags] : c.list) {
      UpdEntry* e = RVAllocRecord<UpdEntry>();
      e->name = RVStrDup("p-win64");
      e->local_file = RVStrDup(local);
      e->flags = flags;
      *tail = e;
      tail = &e->next;
    }
    g_upd_config = &config;
    UpdPurgePackages();
    g_upd_config = nullptr;
    UpdFreeWorkList(config.work_list);
    std::vector<PlatDirEntry> entries;
    ASSERT_EQ(PlatListDir(work.c_str(), &entries), 0);
    std::set<std::string> names;
    for (const PlatDirEntry& e : entries) names.insert(e.name);
    EXPECT_EQ(names, c.kept);
    if (!c.work_file.empty() && c.work_file != "<dir>") {
      std::string text;
      PlatReadFile(work_file.c_str(), &text);
      EXPECT_EQ(text, c.work_file) << "the purge reads the work file and never changes it";
    }
  }
  TqRunCommand("rm -rf '" + work_file + "'");
  UpdSetWorkDir("");
}

}  // namespace
