// The installer over real packages built with wixl: opening packages,
// installing, reinstalling, upgrading, downgrading and removing products,
// with the files, the registry and the installed-products database checked
// after every step.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/installer.h"
#include "platform/system.h"
#include "platform/registry.h"
#include "tests/platform/installer_test_util.h"

namespace fs = std::filesystem;

namespace {

constexpr const char kKey[] = "SOFTWARE\\TQ Software\\tqtestapp-win64";

class Installer : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!MsiFixtureToolsPresent()) GTEST_SKIP() << "wixl and msibuild are needed";
    target = sys.path("targets/tq app");
    fs::create_directories(sys.path("targets"));
  }

  // Checks that product `p` is what is installed in `target`, files,
  // registry and database alike.
  void ExpectInstalled(const MsiTestProduct& p) {
    for (const auto& [rel, content] : ProductFiles(p)) {
      std::ifstream in(target + "/" + rel, std::ios::binary);
      std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      EXPECT_EQ(got, content) << rel;
    }
    EXPECT_EQ(RegText(kKey, "Version"), p.version);
    EXPECT_EQ(RegText(kKey, "InstallDir"), target);
    EXPECT_EQ(RegText(kKey, "ProductCode"), p.product_code);
    EXPECT_EQ(RegText(kKey, "UpgradeCode"), p.upgrade_code);
    EXPECT_EQ(RegText(kKey, "File-" + p.extra), target + "/" + p.extra);
    for (const MsiTestProduct* other : {&kAppOld, &kAppNew}) {
      if (other->extra != p.extra) {
        EXPECT_EQ(RegText(kKey, "File-" + other->extra), "<missing>");
      }
    }
    MSIHANDLE h = 0;
    ASSERT_EQ(MsiOpenProductA(p.product_code.c_str(), &h), MSI_OK);
    char buf[100];
    uint32_t size = sizeof buf;
    EXPECT_EQ(MsiGetProductPropertyA(h, "ProductVersion", buf, &size), MSI_OK);
    EXPECT_EQ(std::string(buf), p.version);
    EXPECT_EQ(MsiCloseHandle(h), MSI_OK);
    EXPECT_EQ(ReadMsiState(sys).products, p.product_code + " " + p.version + " " + p.name + "\n");
  }

  // Checks that nothing of the test product is left.
  void ExpectNothing() {
    EXPECT_FALSE(fs::exists(target));
    EXPECT_EQ(RegText(kKey, "Version"), "<missing>");
    PlatHKey k = nullptr;
    EXPECT_NE(PlatRegOpenKey(PLAT_HKEY_LOCAL_MACHINE, kKey, PLAT_KEY_READ, &k), 0u);
    for (const MsiTestProduct* p : {&kAppOld, &kAppNew}) {
      MSIHANDLE h = 0;
      EXPECT_EQ(MsiOpenProductA(p->product_code.c_str(), &h), MSI_ERROR_UNKNOWN_PRODUCT);
    }
  }

  TempSystem sys;
  std::string target;
};

}  // namespace

// A package's Property table through a handle, with the buffer rules of
// the property function.
TEST_F(Installer, OpenPackageReadsProperties) {
  std::string pkg = SharedPackage(MSI_FIXTURE_SOURCE("app"), kAppOld, "app-old");
  ASSERT_FALSE(pkg.empty());
  MSIHANDLE h = 0;
  ASSERT_EQ(MsiOpenPackageA(pkg.c_str(), &h), MSI_OK);
  struct {
    const char* name;
    std::string want;
  } props[] = {{"ProductVersion", kAppOld.version}, {"ProductCode", kAppOld.product_code},
               {"UpgradeCode", kAppOld.upgrade_code}, {"ProductName", kAppOld.name},
               {"Manufacturer", "TQ Software"}, {"NoSuchProperty", ""}};
  for (const auto& p : props) {
    char buf[100] = "x";
    uint32_t size = sizeof buf;
    EXPECT_EQ(MsiGetProductPropertyA(h, p.name, buf, &size), MSI_OK) << p.name;
    EXPECT_EQ(std::string(buf), p.want) << p.name;
    EXPECT_EQ(size, p.want.size()) << p.name;
  }
  char small[4];
  uint32_t size = sizeof small;
  EXPECT_EQ(MsiGetProductPropertyA(h, "ProductCode", small, &size), MSI_ERROR_MORE_DATA);
  EXPECT_EQ(std::string(small), kAppOld.product_code.substr(0, 3));
  EXPECT_EQ(size, kAppOld.product_code.size());
  EXPECT_EQ(MsiCloseHandle(h), MSI_OK);
  EXPECT_EQ(MsiCloseHandle(h), MSI_ERROR_INVALID_HANDLE);
  size = sizeof small;
  EXPECT_EQ(MsiGetProductPropertyA(h, "ProductCode", small, &size), MSI_ERROR_INVALID_HANDLE);

  // The engine names packages with '\'.
  std::string win = pkg;
  win[win.find_last_of('/')] = '\\';
  ASSERT_EQ(MsiOpenPackageA(win.c_str(), &h), MSI_OK);
  EXPECT_EQ(MsiCloseHandle(h), MSI_OK);
  EXPECT_EQ(MsiOpenPackageA(sys.path("missing.msi").c_str(), &h), MSI_ERROR_INSTALL_PACKAGE_OPEN_FAILED);
  EXPECT_EQ(MsiOpenPackageA(sys.root().c_str(), &h), MSI_ERROR_INSTALL_PACKAGE_OPEN_FAILED);
  EXPECT_EQ(MsiOpenProductA(kAppOld.product_code.c_str(), &h), MSI_ERROR_UNKNOWN_PRODUCT);
  EXPECT_EQ(MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr), static_cast<uint32_t>(INSTALLUILEVEL_DEFAULT));
  EXPECT_EQ(MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr), static_cast<uint32_t>(INSTALLUILEVEL_NONE));
}

// Install, reinstall over damage, upgrade, refused downgrade, removal of the
// newer product followed by the older one, removal: files, registry and
// database agree after every step.
TEST_F(Installer, ProductLifecycle) {
  std::string old_pkg = SharedPackage(MSI_FIXTURE_SOURCE("app"), kAppOld, "app-old");
  std::string new_pkg = SharedPackage(MSI_FIXTURE_SOURCE("app"), kAppNew, "app-new");
  ASSERT_FALSE(old_pkg.empty());
  ASSERT_FALSE(new_pkg.empty());
  const std::string cmd = EngineCommandLine(target);

  ASSERT_EQ(MsiInstallProductA(old_pkg.c_str(), cmd.c_str()), MSI_OK);
  ExpectInstalled(kAppOld);
  EXPECT_EQ(ReadMsiState(sys).journal, false);

  // Reinstall: a damaged file and a changed value are made whole again.
  std::ofstream(target + "/bin/main.txt") << "damaged";
  PlatHKey k = nullptr;
  ASSERT_EQ(PlatRegCreateKey(PLAT_HKEY_LOCAL_MACHINE, kKey, &k), 0u);
  ASSERT_EQ(PlatRegSetValue(k, "Version", PLAT_REG_SZ, "9.9.9", 6), 0u);
  ASSERT_EQ(PlatRegSetValue(k, "Foreign", PLAT_REG_SZ, "kept", 5), 0u);
  PlatRegCloseKey(k);
  ASSERT_EQ(MsiInstallProductA(old_pkg.c_str(), cmd.c_str()), MSI_OK);
  ExpectInstalled(kAppOld);
  EXPECT_EQ(RegText(kKey, "Foreign"), "kept");

  // Upgrade: the newer version takes over the older one; the file that only
  // the older one had goes.
  ASSERT_EQ(MsiInstallProductA(new_pkg.c_str(), cmd.c_str()), MSI_OK);
  ExpectInstalled(kAppNew);
  EXPECT_FALSE(fs::exists(target + "/legacy.txt"));
  MsiState upgraded = ReadMsiState(sys);

  // The older package over the newer product is refused and changes nothing.
  EXPECT_EQ(MsiInstallProductA(old_pkg.c_str(), cmd.c_str()), MSI_ERROR_INSTALL_FAILURE);
  EXPECT_EQ(ReadMsiState(sys), upgraded) << DescribeMsiState(ReadMsiState(sys));

  // Downgrade as the update engine does it: remove the newer, install the older.
  ASSERT_EQ(MsiConfigureProductA(kAppNew.product_code.c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT), MSI_OK);
  EXPECT_FALSE(fs::exists(target + "/readme.txt"));
  EXPECT_EQ(RegText(kKey, "Version"), "<missing>");
  EXPECT_EQ(RegText(kKey, "Foreign"), "kept");
  ASSERT_EQ(MsiInstallProductA(old_pkg.c_str(), cmd.c_str()), MSI_OK);
  ExpectInstalled(kAppOld);
  EXPECT_FALSE(fs::exists(target + "/extra.txt"));

  // Removal: everything goes, also the directories it made and (once the
  // foreign value is gone too) the product's key.
  ASSERT_EQ(PlatRegOpenKey(PLAT_HKEY_LOCAL_MACHINE, kKey, PLAT_KEY_ALL_ACCESS, &k), 0u);
  ASSERT_EQ(PlatRegDeleteValue(k, "Foreign"), 0u);
  PlatRegCloseKey(k);
  EXPECT_EQ(MsiConfigureProductA(kAppOld.product_code.c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT), MSI_OK);
  ExpectNothing();
  EXPECT_EQ(ReadMsiState(sys).products, "");
  EXPECT_TRUE(fs::exists(sys.path("targets")));  // not made by the installation
  EXPECT_EQ(MsiConfigureProductA(kAppOld.product_code.c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT),
            MSI_ERROR_UNKNOWN_PRODUCT);
  EXPECT_EQ(MsiConfigureProductA("{not a code}", INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT), MSI_ERROR_UNKNOWN_PRODUCT);
  EXPECT_EQ(MsiConfigureProductA("../../x", INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT), MSI_ERROR_UNKNOWN_PRODUCT);
}

// Two products side by side, one removed: the other keeps everything, and a
// product code is found in any case of its letters.
TEST_F(Installer, ProductsSideBySide) {
  std::string app = SharedPackage(MSI_FIXTURE_SOURCE("app"), kAppOld, "app-old");
  std::string other = SharedPackage(MSI_FIXTURE_SOURCE("app"), kOther, "other");
  ASSERT_EQ(MsiInstallProductA(app.c_str(), EngineCommandLine(target).c_str()), MSI_OK);
  ASSERT_EQ(MsiInstallProductA(other.c_str(), EngineCommandLine(sys.path("targets/other")).c_str()), MSI_OK);
  EXPECT_EQ(ReadMsiState(sys).products, kAppOld.product_code + " 1.0.0 tqtestapp-win64\n" + kOther.product_code +
                                            " 3.0.0 tqother-win64\n");
  std::string lower = kAppOld.product_code;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  ASSERT_EQ(MsiConfigureProductA(lower.c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT), MSI_OK);
  ExpectNothing();
  EXPECT_EQ(RegText("SOFTWARE\\TQ Software\\tqother-win64", "Version"), "3.0.0");
  EXPECT_TRUE(fs::exists(sys.path("targets/other/bin/main.txt")));
}

// REBOOT=FORCE never reboots: the result says a reboot is required. Without
// TARGETDIR the product goes below Program Files along its Directory table.
TEST_F(Installer, ForcedRebootAndDefaultDirectories) {
  std::string pkg = SharedPackage(MSI_FIXTURE_SOURCE("app"), kAppOld, "app-old");
  EXPECT_EQ(MsiInstallProductA(pkg.c_str(), EngineCommandLine(target, true).c_str()),
            MSI_ERROR_SUCCESS_REBOOT_REQUIRED);
  ExpectInstalled(kAppOld);
  ASSERT_EQ(MsiConfigureProductA(kAppOld.product_code.c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT), MSI_OK);

  // Installed without a creation mask, as the update service installs:
  // the files are still not writable by others.
  uint32_t old_mask = PlatSetUmask(0);
  ASSERT_EQ(MsiInstallProductA(pkg.c_str(), "ALLUSERS=1"), MSI_OK);
  PlatSetUmask(old_mask);
  std::string dir = sys.path("programs/TQ Software/tqtestapp-win64");
  EXPECT_TRUE(fs::exists(dir + "/data/deep dir/table.txt"));
  EXPECT_EQ(fs::status(dir + "/data/deep dir/table.txt").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
  EXPECT_EQ(fs::status(dir + "/data").permissions() & fs::perms::others_write, fs::perms::none);
  EXPECT_EQ(RegText(kKey, "InstallDir"), dir);
  ASSERT_EQ(MsiConfigureProductA(kAppOld.product_code.c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT), MSI_OK);
  EXPECT_FALSE(fs::exists(sys.path("programs/TQ Software")));
  EXPECT_TRUE(fs::exists(sys.path("programs")));
}

// A cabinet beside the package (wixl embeds every cabinet: the test moves
// it out and points the Media table at the file).
TEST_F(Installer, ExternalCabinet) {
  std::string dir = sys.path("pkgs");
  std::string pkg = MsiFixtureBuild(dir, MSI_FIXTURE_SOURCE("app"), kAppOld, "external");
  ASSERT_FALSE(pkg.empty());
  ASSERT_EQ(MsiFixtureExtractStream(pkg, "app.cab", dir + "/app.cab"), 0);
  ASSERT_EQ(MsiFixtureSql(pkg, "UPDATE `Media` SET `Cabinet` = 'app.cab' WHERE `DiskId` = 1"), 0);
  ASSERT_EQ(MsiInstallProductA(pkg.c_str(), EngineCommandLine(target).c_str()), MSI_OK);
  ExpectInstalled(kAppOld);
  ASSERT_EQ(MsiConfigureProductA(kAppOld.product_code.c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT), MSI_OK);
  fs::remove(dir + "/app.cab");
  EXPECT_EQ(MsiInstallProductA(pkg.c_str(), EngineCommandLine(target).c_str()), MSI_ERROR_INSTALL_FAILURE);
  ExpectNothing();
}
