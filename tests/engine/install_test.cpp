// Installation of the work list with real packages: the result texts, the
// order of the installations and the skip of installed versions, the
// removal of a newer product before an older package, the reboot policy of
// the last entry, the target directory, and the stop at the first package
// that cannot be opened, removed over or installed.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine/config.h"
#include "engine/install.h"
#include "engine/work_dir.h"
#include "engine/work_entry.h"
#include "platform/installer.h"
#include "platform/registry.h"
#include "runtime/alloc.h"
#include "runtime/env.h"
#include "runtime/message.h"
#include "tests/fetch/fetch_test_util.h"
#include "tests/support/child.h"
#include "tests/support/log_texts.h"
#include "tests/support/msi_fixture.h"

namespace {

using Texts = std::vector<std::string>;

// Two versions of one product (one upgrade family) and two other products.
const MsiTestProduct kA1 = {"tqunit-a-win64", "1.0.0", "{3C9A7B20-0001-4A11-9A00-0000000000A1}",
                            "{3C9A7B20-00AA-4A11-9A00-0000000000AA}", ""};
const MsiTestProduct kA2 = {"tqunit-a-win64", "2.0.0", "{3C9A7B20-0002-4A11-9A00-0000000000A2}",
                            "{3C9A7B20-00AA-4A11-9A00-0000000000AA}", ""};
const MsiTestProduct kB = {"tqunit-b-win64", "1.0.0", "{3C9A7B20-0003-4A11-9A00-0000000000B1}",
                           "{3C9A7B20-00BB-4A11-9A00-0000000000BB}", ""};
const MsiTestProduct kC = {"tqunit-c-win64", "3.1.4", "{3C9A7B20-0004-4A11-9A00-0000000000C1}",
                           "{3C9A7B20-00CC-4A11-9A00-0000000000CC}", ""};

// One entry of a work list built in memory: the product and its package.
struct ListEntry {
  std::string name;  // product name
  std::string local; // package file in the work directory
  uint32_t flags;    // UPD_ENTRY_* bits to start with
};

// Host path with every '/' turned into '\', as the property string has it.
std::string Backslashed(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

// The property string of a package installed into `target` (a host path).
std::string Properties(const std::string& target, const char* reboot = "ReallySuppress") {
  std::string t = Backslashed(target);
  return "ALLUSERS=1 TARGETDIR=\"" + t + "\" INSTALLDIR=\"" + t + "\" REBOOT=" + reboot;
}

// The work directory of a test system.
std::string WorkDir(const FetchSystem& fs) { return fs.sys().path("work"); }

// Builds product `p` and places its package in the work directory as `local`.
void Package(const FetchSystem& fs, const MsiTestProduct& p, const std::string& local, const std::string& sql = "") {
  std::string log;
  std::string built = MsiFixtureBuild(fs.sys().path("build"), MSI_FIXTURE_SOURCE("app"), p, local, {}, &log);
  ASSERT_FALSE(built.empty()) << log;
  if (!sql.empty()) {
    ASSERT_EQ(MsiFixtureSql(built, sql), 0);
  }
  ASSERT_EQ(std::rename(built.c_str(), fs.Work(local).c_str()), 0);
}

// Replaces the configuration's work list with fresh entries.
void SetList(const std::vector<ListEntry>& entries) {
  UpdFreeWorkList(g_upd_config->work_list);
  g_upd_config->work_list = nullptr;
  UpdEntry** tail = &g_upd_config->work_list;
  for (const ListEntry& le : entries) {
    UpdEntry* e = RVAllocRecord<UpdEntry>();
    e->flags = le.flags;
    e->name = RVStrDup(le.name.c_str());
    e->install_file = RVStrDup(("/pub/" + le.local).c_str());
    e->signature_file = RVStrDup(("/pub/" + le.local + ".sig").c_str());
    e->local_file = RVStrDup(le.local.c_str());
    *tail = e;
    tail = &e->next;
  }
}


// Installs a package directly into `target`, as an earlier run would have.
void InstallDirect(const FetchSystem& fs, const std::string& local, const std::string& target) {
  ASSERT_EQ(MsiInstallProductA(fs.Work(local).c_str(), Properties(target).c_str()), MSI_OK);
}

void Remove(const MsiTestProduct& p) {
  MsiConfigureProductA(p.product_code.c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
}

// A text value of the product's registry key, "<missing>" when absent.
std::string RegValue(const std::string& product, const char* name) {
  PlatHKey key = nullptr;
  std::string path = "SOFTWARE\\TQ Software\\" + product;
  if (PlatRegOpenKey(PLAT_HKEY_LOCAL_MACHINE, path.c_str(), PLAT_KEY_READ, &key) != 0) return "<missing>";
  char data[512];
  uint32_t size = sizeof data;
  uint32_t type = 0;
  uint32_t rc = PlatRegQueryValue(key, name, &type, data, &size);
  PlatRegCloseKey(key);
  return rc == 0 ? std::string(data) : "<missing>";
}

// Waits up to a minute for a file to appear.
bool WaitForFile(const std::string& path) {
  for (int i = 0; i < 6000; ++i) {
    if (std::filesystem::exists(path)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// Installs a package with the installer's lock held at the start of the
// operation until the file args[2] (created there) is deleted: another
// installation on the machine is running meanwhile. args: package,
// property string, pause file.
TQ_CHILD_ROLE(install_paused_in_lock) {
  ::setenv("TQ_TEST_MSI_PAUSE_AT", "locked", 1);
  ::setenv("TQ_TEST_MSI_PAUSE_FILE", args.at(2).c_str(), 1);
  return static_cast<int>(MsiInstallProductA(args.at(0).c_str(), args.at(1).c_str()) & 0xFF);
}

// Another process holds the installer busy for the life of the object.
class BusyInstaller {
 public:
  // Starts the child installing `package` into `target`; waits until it
  // holds the lock.
  BusyInstaller(const FetchSystem& fs, const std::string& package, const std::string& target)
      : flag_(fs.sys().path("busy-flag")) {
    child_ = TqSpawnChild("install_paused_in_lock", {package, Properties(target), flag_});
    EXPECT_TRUE(WaitForFile(flag_)) << "the busy installation did not reach its lock";
  }
  ~BusyInstaller() {
    std::filesystem::remove(flag_);
    EXPECT_EQ(TqWaitChild(child_), 0);
  }
  BusyInstaller(const BusyInstaller&) = delete;
  BusyInstaller& operator=(const BusyInstaller&) = delete;

 private:
  std::string flag_;
  pid_t child_ = -1;
};

#define REQUIRE_PACKAGE_TOOLS()                                                      \
  do {                                                                               \
    if (!MsiFixtureToolsPresent()) GTEST_SKIP() << "wixl/msibuild not available";    \
  } while (0)

class InstallTest : public testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_PACKAGE_TOOLS();
    fs_.sys().UnsetEnv("RV_INSTALLDIR");
    UpdSetWorkDir(WorkDir(fs_).c_str());
  }
  void TearDown() override { UpdSetWorkDir(""); }

  // Runs UpdInstall; its messages in *texts.
  int Run(Texts* texts) {
    fs_.Texts();
    int r = UpdInstall();
    *texts = fs_.Texts();
    return r;
  }
  std::string Path(const std::string& local) const { return WorkDir(fs_) + "/" + local; }
  std::string Home() const { return fs_.sys().home(); }

  FetchSystem fs_;
};

TEST(InstallResult, TextsAndLevelsOfTheInstallerCodes) {
  EngineSystem sys;
  const struct {
    uint32_t code;
    int level;
    const char* text;
    int succeeded;
  } cases[] = {
      {0, 0, "Step Success", 1},
      {87, 9, "Step Error: Invalid Parameter", 0},
      {1603, 9, "Step Error: InstallFailure", 0},
      {1610, 9, "Step Error: Bad Configuration", 0},
      {1645, 9, "Step Error: Bad Configuration", 0},
      {1618, 9, "Step Error: Install Alread Running", 0},
      {1619, 9, "Step Error: Install Package Open Failed", 0},
      {1641, 0, "Step Success - Reboot Initiated", 1},
      {3010, 0, "Step Success - Reboot Required", 1},
      {3011, 0, "Step Success - Restart Required", 1},
      {42, 9, "Step UnknownError - RC: 42", 0},
      {1605, 9, "Step UnknownError - RC: 1605", 0},
  };
  for (const auto& c : cases) {
    auto levels = sys.Levels([&] { UpdInstallResult("Step", c.code); });
    EXPECT_EQ(levels, (std::vector<CapturedMessage>{{c.level, c.text}})) << c.code;
    EXPECT_EQ(UpdInstallSucceeded(c.code), c.succeeded) << c.code;
  }
}

TEST_F(InstallTest, EntriesInstalledInOrderThenIgnored) {
  Package(fs_, kA1, "a.msi");
  Package(fs_, kB, "b.msi");
  // Every pass starts from nothing installed and a fresh list.
  auto levels = fs_.engine().Levels([&] {
    Remove(kA1);
    Remove(kB);
    SetList({{kA1.name, "a.msi", 0}, {kB.name, "b.msi", 0}});
    EXPECT_EQ(UpdInstall(), 0);
  });
  std::vector<CapturedMessage> expected = {{0, "Install Start"}};
  for (const auto& [p, local] : {std::pair{kA1, "a.msi"}, std::pair{kB, "b.msi"}}) {
    std::vector<CapturedMessage> one = {
        {0, "Install " + p.name + " - " + Path(local)},
        {0, "MsiOpenPackage(" + Path(local) + ") Success"},
        {0, "MsiGetProductProperty(ProductVersion) Success"},
        {0, "Converted VersionStr: 1.0.0 to 1000000"},
        {0, "MsiInstallProduct(" + Path(local) + "," + Properties(Home()) + ")"},
        {0, "MsiInstallProduct(Install) Success"},
        {7, "Installed: " + p.name + " - Version: 1.0.0-00 - OK"},
    };
    expected.insert(expected.end(), one.begin(), one.end());
  }
  expected.push_back({0, "Install End ret: 0"});
  EXPECT_EQ(levels, expected);
  EXPECT_TRUE(MsiFixtureInstalled(kA1));
  EXPECT_TRUE(MsiFixtureInstalled(kB));
  EXPECT_EQ(RegValue(kB.name, "Version"), "1.0.0");

  // The next run finds both versions installed and installs nothing.
  SetList({{kA1.name, "a.msi", 0}, {kB.name, "b.msi", 0}});
  Texts texts;
  EXPECT_EQ(Run(&texts), 0);
  EXPECT_EQ(TqTextsStarting(texts, " - Ignoring"),
            (Texts{" - Ignoring: " + kA1.name + " - Version: 1000000 already installed",
                   " - Ignoring: " + kB.name + " - Version: 1000000 already installed"}));
  EXPECT_EQ(TqTextsStarting(texts, "MsiInstallProduct"), Texts{});
  EXPECT_EQ(texts.back(), "Install End ret: 0");
}

TEST_F(InstallTest, SkipBitPassesAnEntryOverUnopened) {
  // An entry the work file marked as installed is not even opened.
  SetList({{kA1.name, "never-there.msi", UPD_ENTRY_SKIP}});
  Texts texts;
  EXPECT_EQ(Run(&texts), 0);
  EXPECT_EQ(texts, (Texts{"Install Start", "Install End ret: 0"}));
}

TEST_F(InstallTest, OlderPackageReplacesANewerProduct) {
  Package(fs_, kA2, "a2.msi");
  Package(fs_, kA1, "a1.msi");
  const std::string target = fs_.sys().path("apps/a");
  InstallDirect(fs_, "a2.msi", target);
  ASSERT_EQ(RegValue(kA1.name, "Version"), "2.0.0");

  // The product code is known: the newer product is removed first, and the
  // older package goes where the registry says the product lives.
  SetList({{kA1.name, "a1.msi", 0}});
  Texts texts;
  EXPECT_EQ(Run(&texts), 0);
  int removed = TqTextIndex(texts, "MsiConfigureProduct(Remove) Success");
  int install = TqTextIndex(texts, "MsiInstallProduct(" + Path("a1.msi") + "," + Properties(target) + ")");
  int installed = TqTextIndex(texts, "MsiInstallProduct(Install) Success");
  EXPECT_GE(removed, 0);
  EXPECT_GT(install, removed);
  EXPECT_GT(installed, install);
  EXPECT_EQ(RegValue(kA1.name, "Version"), "1.0.0");
  EXPECT_TRUE(MsiFixtureInstalled(kA1));
  EXPECT_FALSE(MsiFixtureInstalled(kA2));
  EXPECT_EQ(fs_.sys().ReadFile("apps/a/readme.txt"), MsiFixtureContent("readme.txt", kA1));
}

TEST_F(InstallTest, OlderPackageWithoutProductCodeIsInstalledWithoutRemoval) {
  Package(fs_, kA1, "a1.msi");
  // A newer version in the registry that the installer never installed.
  int bad = 0;
  ASSERT_EQ(PlatRegImport("Windows Registry Editor Version 5.00\r\n\r\n"
                          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TQ Software\\" + kA1.name + "]\r\n"
                          "\"Version\"=\"9.0.0\"\r\n",
                          &bad),
            0u)
      << bad;
  SetList({{kA1.name, "a1.msi", 0}});
  Texts texts;
  EXPECT_EQ(Run(&texts), 0);
  EXPECT_EQ(TqTextsStarting(texts, "MsiConfigureProduct"), Texts{});
  EXPECT_GE(TqTextIndex(texts, "MsiInstallProduct(Install) Success"), 0);
  EXPECT_TRUE(MsiFixtureInstalled(kA1));
  EXPECT_EQ(RegValue(kA1.name, "Version"), "1.0.0");
}

TEST_F(InstallTest, LastEntryForcesTheRebootWhenAnyEntryAsksForIt) {
  Package(fs_, kA1, "a.msi");
  Package(fs_, kB, "b.msi");
  Package(fs_, kC, "c.msi");
  SetList({{kA1.name, "a.msi", 0}, {kB.name, "b.msi", UPD_ENTRY_FORCE_REBOOT}, {kC.name, "c.msi", 0}});
  Texts texts;
  EXPECT_EQ(Run(&texts), 0);
  EXPECT_EQ(TqTextsStarting(texts, "MsiInstallProduct(" + Path("")),
            (Texts{"MsiInstallProduct(" + Path("a.msi") + "," + Properties(Home()) + ")",
                   "MsiInstallProduct(" + Path("b.msi") + "," + Properties(Home()) + ")",
                   "MsiInstallProduct(" + Path("c.msi") + "," + Properties(Home(), "FORCE") + ")"}));
  EXPECT_EQ(TqTextsStarting(texts, "MsiInstallProduct(Install)"),
            (Texts{"MsiInstallProduct(Install) Success", "MsiInstallProduct(Install) Success",
                   "MsiInstallProduct(Install) Success - Reboot Required"}));
  EXPECT_GE(TqTextIndex(texts, "Installed: " + kC.name + " - Version: 3.1.4-00 - OK"), 0);
  EXPECT_EQ(texts.back(), "Install End ret: 0");
  EXPECT_TRUE(MsiFixtureInstalled(kA1));
  EXPECT_TRUE(MsiFixtureInstalled(kB));
  EXPECT_TRUE(MsiFixtureInstalled(kC));
}

TEST_F(InstallTest, InstalledVersionForcesNoReboot) {
  Package(fs_, kB, "b.msi");
  InstallDirect(fs_, "b.msi", Home());
  SetList({{kB.name, "b.msi", UPD_ENTRY_FORCE_REBOOT}});
  Texts texts;
  EXPECT_EQ(Run(&texts), 0);
  EXPECT_GE(TqTextIndex(texts, " - Ignoring: " + kB.name + " - Version: 1000000 already installed"), 0);
  EXPECT_EQ(TqTextsStarting(texts, "MsiInstallProduct"), Texts{});
  for (const std::string& t : texts) EXPECT_EQ(t.find("REBOOT=FORCE"), std::string::npos) << t;
}

TEST_F(InstallTest, RebootIsForcedOnTheLastPackageActuallyInstalled) {
  // The list's last entry (installed already, or marked to skip) is passed
  // over: the reboot asked for by the first goes with the last one installed.
  Package(fs_, kA1, "a.msi");
  Package(fs_, kB, "b.msi");
  Package(fs_, kC, "c.msi");
  InstallDirect(fs_, "b.msi", Home());
  for (uint32_t last_flags : {0u, static_cast<uint32_t>(UPD_ENTRY_SKIP)}) {
    SCOPED_TRACE(last_flags);
    Remove(kA1);
    Remove(kC);
    SetList({{kA1.name, "a.msi", UPD_ENTRY_FORCE_REBOOT}, {kC.name, "c.msi", 0}, {kB.name, "b.msi", last_flags}});
    Texts texts;
    EXPECT_EQ(Run(&texts), 0);
    EXPECT_EQ(TqTextsStarting(texts, "MsiInstallProduct(" + Path("")),
              (Texts{"MsiInstallProduct(" + Path("a.msi") + "," + Properties(Home()) + ")",
                     "MsiInstallProduct(" + Path("c.msi") + "," + Properties(Home(), "FORCE") + ")"}));
  }
}

TEST_F(InstallTest, TargetIsInstallDirSettingElseHome) {
  ASSERT_STREQ(RVGetEnv("RV_HOME"), Home().c_str());
  Package(fs_, kA1, "a.msi");
  const std::string own = fs_.sys().path("own/dir");
  const struct {
    const char* what;
    const char* setting; // RV_INSTALLDIR, null: not set
    std::string target;
  } cases[] = {
      {"no setting: the installation base", nullptr, Home()},
      {"the setting when it has a value", own.c_str(), own},
      {"an empty setting is no value", "", Home()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.setting) RVSetEnv("RV_INSTALLDIR", c.setting);
    SetList({{kA1.name, "a.msi", 0}});
    Texts texts;
    EXPECT_EQ(Run(&texts), 0);
    EXPECT_EQ(TqTextsStarting(texts, "MsiInstallProduct(" + Path("")),
              Texts{"MsiInstallProduct(" + Path("a.msi") + "," + Properties(c.target) + ")"});
    EXPECT_TRUE(std::filesystem::exists(c.target + "/readme.txt"));
    Remove(kA1);
  }
}

// Each way the run stops: the result, the failure's text, and which
// products are installed afterwards.
TEST(InstallFailures, RunStopsAtTheFirstFailure) {
  REQUIRE_PACKAGE_TOOLS();
  const std::string nostream = "UPDATE `Media` SET `Cabinet` = '#none.cab' WHERE `DiskId` = 1";
  const struct {
    const char* what;
    std::function<void(const FetchSystem&)> setup; // packages and what is installed before
    std::vector<ListEntry> list;
    bool busy;                        // another installation holds the installer meanwhile
    std::string failure;              // the failure's text; "<work>" stands for the work directory
    std::vector<MsiTestProduct> have; // installed afterwards
    std::vector<MsiTestProduct> lack; // not installed afterwards
  } cases[] = {
      {"a missing package",
       [](const FetchSystem& fs) { Package(fs, kB, "b.msi"); },
       {{kA1.name, "missing.msi", 0}, {kB.name, "b.msi", 0}},
       false,
       "MsiOpenPackage(<work>/missing.msi) Error: Install Package Open Failed",
       {},
       {kA1, kB}},
      {"a file that is no package",
       [](const FetchSystem& fs) {
         Package(fs, kA1, "a.msi");
         Package(fs, kC, "c.msi");
         fs.WriteWork("text.msi", "not a package\n");
       },
       {{kA1.name, "a.msi", 0}, {kB.name, "text.msi", 0}, {kC.name, "c.msi", 0}},
       false,
       "MsiOpenPackage(<work>/text.msi) Error: Install Package Open Failed",
       {kA1},
       {kB, kC}},
      {"a package whose cabinet is missing",
       [&](const FetchSystem& fs) {
         Package(fs, kA1, "a.msi");
         Package(fs, kB, "b.msi", nostream);
         Package(fs, kC, "c.msi");
       },
       {{kA1.name, "a.msi", 0}, {kB.name, "b.msi", 0}, {kC.name, "c.msi", 0}},
       false,
       "MsiInstallProduct(Install) Error: InstallFailure",
       {kA1},
       {kB, kC}},
      {"another installation running",
       [](const FetchSystem& fs) {
         Package(fs, kA1, "a.msi");
         Package(fs, kB, "b.msi");
         Package(fs, kC, "c.msi");
         InstallDirect(fs, "a.msi", fs.sys().home());
       },
       {{kA1.name, "a.msi", 0}, {kB.name, "b.msi", 0}},
       true,
       "MsiInstallProduct(Install) Error: Install Alread Running",
       {kA1, kC},
       {kB}},
      {"the newer product cannot be removed while another installation runs",
       [](const FetchSystem& fs) {
         Package(fs, kA2, "a2.msi");
         Package(fs, kA1, "a1.msi");
         Package(fs, kC, "c.msi");
         InstallDirect(fs, "a2.msi", fs.sys().home());
       },
       {{kA1.name, "a1.msi", 0}},
       true,
       "MsiConfigureProduct(Remove) Error: Install Alread Running",
       {kA2, kC},
       {kA1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FetchSystem fs;
    fs.sys().UnsetEnv("RV_INSTALLDIR");
    UpdSetWorkDir(WorkDir(fs).c_str());
    c.setup(fs);
    SetList(c.list);
    fs.Texts();
    int result;
    {
      std::unique_ptr<BusyInstaller> busy;
      if (c.busy) busy = std::make_unique<BusyInstaller>(fs, fs.Work("c.msi"), fs.sys().path("busy"));
      result = UpdInstall();
    }
    Texts texts = fs.Texts();
    EXPECT_EQ(result, -1);
    std::string failure = c.failure;
    if (failure.find("<work>") != std::string::npos) failure.replace(failure.find("<work>"), 6, WorkDir(fs));
    int at = TqTextIndex(texts, failure);
    EXPECT_GE(at, 0) << failure;
    // Nothing follows the failure but the end of the run.
    EXPECT_EQ(texts.back(), "Install End ret: -1");
    EXPECT_EQ(static_cast<int>(texts.size()), at + 2);
    for (const MsiTestProduct& p : c.have) EXPECT_TRUE(MsiFixtureInstalled(p)) << p.name << " " << p.version;
    for (const MsiTestProduct& p : c.lack) EXPECT_FALSE(MsiFixtureInstalled(p)) << p.name << " " << p.version;
    UpdSetWorkDir("");
  }
}

}  // namespace
