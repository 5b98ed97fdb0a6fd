// The tqmsi command, run as a real process against a relocated system.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/platform/installer_test_util.h"
#include "tests/support/child.h"

namespace {

// Runs tqmsi with `args` (already quoted); returns the exit status with the
// output in *out.
int Tqmsi(const std::string& args, std::string* out) {
  out->clear();
  return TqRunCommand(MsiFixtureQuote(TqmsiPath()) + " " + args, out);
}

}  // namespace

// install, list, info and remove, with their exit statuses and texts.
TEST(PlatformTqmsi, InstallListInfoRemove) {
  if (!MsiFixtureToolsPresent()) GTEST_SKIP() << "wixl and msibuild are needed";
  TempSystem sys;
  std::string out;
  std::string old_pkg = SharedPackage(MSI_FIXTURE_SOURCE("app"), kAppOld, "app-old");
  std::string new_pkg = SharedPackage(MSI_FIXTURE_SOURCE("app"), kAppNew, "app-new");
  ASSERT_FALSE(old_pkg.empty());
  ASSERT_FALSE(new_pkg.empty());

  EXPECT_EQ(Tqmsi("--help", &out), 0);
  EXPECT_NE(out.find("tqmsi install PACKAGE"), std::string::npos) << out;
  EXPECT_EQ(Tqmsi("", &out), 87);
  EXPECT_EQ(Tqmsi("frobnicate", &out), 87);

  EXPECT_EQ(Tqmsi("info " + MsiFixtureQuote(old_pkg), &out), 0);
  EXPECT_EQ(out, "ProductName: tqtestapp-win64\nProductVersion: 1.0.0\nProductCode: " + kAppOld.product_code +
                     "\nUpgradeCode: " + kAppOld.upgrade_code + "\nManufacturer: TQ Software\n");
  EXPECT_EQ(Tqmsi("info " + MsiFixtureQuote(sys.path("none.msi")), &out), 1619 & 0xFF);
  EXPECT_EQ(out, "tqmsi: info failed: 1619 (the package cannot be opened)\n");

  EXPECT_EQ(Tqmsi("list", &out), 0);
  EXPECT_EQ(out, "");
  std::string dir = sys.path("targets/app dir");
  EXPECT_EQ(Tqmsi("install " + MsiFixtureQuote(old_pkg) + " ALLUSERS=1 " + MsiFixtureQuote("INSTALLDIR=" + dir) +
                      " " + MsiFixtureQuote("TARGETDIR=" + dir),
                  &out),
            0)
      << out;
  EXPECT_TRUE(std::filesystem::exists(dir + "/bin/main.txt"));
  EXPECT_EQ(RegText("SOFTWARE\\TQ Software\\tqtestapp-win64", "InstallDir"), dir);
  EXPECT_EQ(Tqmsi("install " + MsiFixtureQuote(new_pkg) + " " + MsiFixtureQuote("INSTALLDIR=" + dir) +
                      " ALLUSERS=1 REBOOT=FORCE",
                  &out),
            3010 & 0xFF);
  EXPECT_EQ(out, "tqmsi: install: a reboot is required (3010)\n");
  EXPECT_EQ(Tqmsi("list", &out), 0);
  EXPECT_EQ(out, kAppNew.product_code + " 2.1.0 tqtestapp-win64\n");

  EXPECT_EQ(Tqmsi("install " + MsiFixtureQuote(old_pkg) + " " + MsiFixtureQuote("INSTALLDIR=" + dir), &out),
            1603 & 0xFF);
  EXPECT_EQ(out, "tqmsi: install failed: 1603 (installation failure)\n");
  EXPECT_EQ(Tqmsi("install " + MsiFixtureQuote(old_pkg) + " NOEQUALS", &out), 1639 & 0xFF);
  EXPECT_EQ(Tqmsi("install " + MsiFixtureQuote(sys.path("none.msi")), &out), 1619 & 0xFF);

  EXPECT_EQ(Tqmsi("remove " + MsiFixtureQuote(kAppOld.product_code), &out), 1605 & 0xFF);
  EXPECT_EQ(out, "tqmsi: remove failed: 1605 (unknown product)\n");
  EXPECT_EQ(Tqmsi("remove " + MsiFixtureQuote(kAppNew.product_code), &out), 0) << out;
  EXPECT_EQ(out, "");
  EXPECT_EQ(Tqmsi("list", &out), 0);
  EXPECT_EQ(out, "");
  EXPECT_FALSE(std::filesystem::exists(dir));
}
