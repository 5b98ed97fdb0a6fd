// The update script reader: a table of scripts against installed products
// in the registry and configured Package names, with the entries kept (and
// their reboot bits) and the messages; the Verify conditions; the address
// and OS version matches; the digest check of the script; bad input.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "connection/adapters.h"
#include "engine/config.h"
#include "engine/update_script.h"
#include "engine/work_entry.h"
#include "platform/registry.h"
#include "runtime/alloc.h"
#include "runtime/util.h"
#include "tests/fetch/fetch_test_util.h"
#include "tests/support/log_texts.h"
#include "tests/support/temp_system.h"

namespace {

// Installed products of every case: ProductCode only where a case needs it.
const char kRegistry[] =
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TQ Software\\old-win64]\r\n\"Version\"=\"6.7.4\"\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TQ Software\\cur-win64]\r\n\"Version\"=\"6.7.5-01\"\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TQ Software\\two-win64]\r\n\"Version\"=\"2.0\"\r\n";

class ScriptTest : public testing::Test {
 protected:
  void SetUp() override {
    int bad = 0;
    ASSERT_EQ(PlatRegImport(kRegistry, &bad), 0u) << bad;
    fs_.Texts();
  }
  void Packages(const std::vector<std::string>& names) {
    for (const std::string& n : names) g_upd_config->packages[g_upd_config->package_count++] = RVStrDup(n.c_str());
  }
  // Reads `script`; the kept entries as "name/flags" joined by blanks.
  int Read(const std::string& script, std::string* entries) {
    fs_.WriteWork("updscript.txt", script);
    int r = UpdReadScript();
    entries->clear();
    for (const UpdEntry* e = g_upd_config->work_list; e; e = e->next) {
      if (!entries->empty()) *entries += " ";
      *entries += std::string(e->name ? e->name : "?") + "/" + std::to_string(e->flags);
    }
    return r;
  }
  FetchSystem fs_;
};

// One complete entry of a script with the given extra statements.
std::string Entry(const std::string& name, const std::string& extra = "") {
  return "Update\n  Name " + name + "\n  InstallFile /pub/" + name + ".msi\n  SignatureFile /pub/" + name +
         ".sig\n" + extra;
}

TEST_F(ScriptTest, EntriesKeptByNameFilterAndConditions) {
  const std::string major = std::to_string(RVOsVersion()->major);
  const std::string above = std::to_string(RVOsVersion()->major + 1);
  const std::string below = std::to_string(RVOsVersion()->major - 1);
  struct Case {
    const char* what;
    std::vector<std::string> packages;
    std::string script;
    const char* kept;
  } cases[] = {
      {"duplicate test is case-sensitive; the first of equal names wins", {},
       Entry("dup-win64", "  Desc first\n") + Entry("DUP-WIN64") + Entry("dup-win64", "  Desc second\n"),
       "dup-win64/0 DUP-WIN64/0"},
      {"package filter drops other names silently", {"TQUPDATE-win64"},
       Entry("tqupdate-win64") + Entry("othertool-win64"), "tqupdate-win64/0"},
      {"Any among the packages keeps everything", {"tqupdate-win64", "ANY"},
       Entry("tqupdate-win64") + Entry("othertool-win64"), "tqupdate-win64/0 othertool-win64/0"},
      {"Installed and VersionLT together", {},
       Entry("old-win64", "  Verify Installed=True,VersionLT=6.7.5-01\n") +
           Entry("cur-win64", "  Verify Installed=True,VersionLT=6.7.5-01\n") +
           Entry("none-win64", "  Verify Installed=True,VersionLT=6.7.5-01\n"),
       "old-win64/1"},
      {"VersionLT alone holds for a product not installed", {},
       Entry("none-win64", "  VerifyAll VersionLT=0.0.0-01\n"), "none-win64/0"},
      {"VerifyAny keeps on the first test that holds", {},
       Entry("two-win64", "  VerifyAny VersionEQ=1.0,VersionEQ=2.0\n") +
           Entry("old-win64", "  VerifyOne VersionEQ=1.0,Version=2.0\n"),
       "two-win64/1"},
      {"negation asks for a product that is not installed", {},
       Entry("none-win64", "  Verify !Installed=True\n") + Entry("two-win64", "  Verify !Installed=True\n"),
       "none-win64/0"},
      {"Installed=False never holds", {},
       Entry("two-win64", "  Verify Installed=False\n") + Entry("none-win64", "  Verify Installed=False\n"), ""},
      {"comparisons are unsigned against the installed number", {},
       Entry("two-win64", "  Verify VersionGEQ=2.0,VersionLEQ=2.0,VersionGT=1.99\n") +
           Entry("old-win64", "  Verify VersionGT=6.7.4\n"),
       "two-win64/1"},
      {"unknown Verify keys are no tests; VerifyAny without a test drops", {},
       Entry("two-win64", "  Verify Colour=blue\n") + Entry("old-win64", "  VerifyAny Colour=blue\n"),
       "two-win64/1"},
      {"OSVersion lists the running major version", {},
       Entry("a-win64", "  OSVersion 999," + major + "\n") + Entry("b-win64", "  OSVersion 999,x\n"), "a-win64/0"},
      {"MinOSVersion and MaxOSVersion keep their published directions", {},
       Entry("min-eq-win64", "  MinOSVersion " + major + "\n") +
           Entry("min-below-win64", "  MinOSVersion " + below + "\n") +
           Entry("min-above-win64", "  MinOSVersion " + above + "\n") +
           Entry("max-eq-win64", "  MaxOSVersion " + major + "\n") +
           Entry("max-above-win64", "  MaxOSVersion " + above + "\n") +
           Entry("max-below-win64", "  MaxOSVersion " + below + "\n"),
       "min-eq-win64/0 min-above-win64/0 max-eq-win64/0 max-below-win64/0"},
      {"MACAddress in upper case never matches", {},
       Entry("mac-win64", "  MACAddress 00:1A:2B:3C:4D:5E,FF:FF:FF:FF:FF:FF\n"), ""},
      {"Ignore True drops, any other value keeps", {},
       Entry("a-win64", "  Ignore TRUE\n") + Entry("b-win64", "  Ignore yes\n"), "b-win64/0"},
      {"ForceReboot before the first entry marks every entry", {},
       "ForceReboot True\n" + Entry("a-win64") + Entry("b-win64"), "a-win64/4 b-win64/4"},
      {"ForceReboot inside the second of three marks the second and the third", {},
       Entry("a-win64") + Entry("b-win64", "  ForceReboot true\n") + Entry("c-win64"),
       "a-win64/0 b-win64/4 c-win64/4"},
      {"ForceReboot other than True marks nothing", {},
       "ForceReboot yes\n" + Entry("a-win64", "  ForceReboot no\n"), "a-win64/0"},
      {"statements outside entries and after a drop are ignored", {},
       "Desc 'before any entry'\nName stray-win64\nVerify Installed=False\n" +
           Entry("a-win64", "  Ignore True\n  Colour red\n  Verify Installed=True\n") + Entry("b-win64"),
       "b-win64/0"},
      {"an empty script is an empty list", {}, "# nothing on offer\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (char*& p : g_upd_config->packages) {
      RVFree(p);
      p = nullptr;
    }
    g_upd_config->package_count = 0;
    Packages(c.packages);
    std::string kept;
    EXPECT_EQ(Read(c.script, &kept), 0);
    EXPECT_EQ(kept, c.kept);
  }
}

TEST_F(ScriptTest, EntryFieldsAndFactsAreStored) {
  std::string kept;
  ASSERT_EQ(Read("Update\n  Name old-win64\n  Desc 'The old tool'\n  InstallFile /a/x.msi\n  InstallFile /b/y.msi\n"
                 "  SignatureFile /b/y.sig  extra-word\n",
                 &kept),
            0);
  const UpdEntry* e = g_upd_config->work_list;
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->desc, "The old tool");
  EXPECT_STREQ(e->install_file, "/b/y.msi");
  EXPECT_STREQ(e->signature_file, "/b/y.sig");
  EXPECT_EQ(e->installed_version, 6070400u);
  EXPECT_EQ(e->local_file, nullptr);
}

TEST_F(ScriptTest, FailuresLeaveNoListAndSayWhy) {
  struct Case {
    const char* what;
    std::string script;
    std::vector<std::string> messages;
  } cases[] = {
      {"an entry without a signature file fails the whole script",
       Entry("a-win64") + "Update\n  Name b-win64\n  InstallFile /b.msi\n",
       {"Missing SignatureFile in Update Script - Entry: b-win64"}},
      {"an entry without anything is called Unknown",
       Entry("a-win64") + "Update\n",
       {"Missing Name in Update Script", "Missing InstallFile in Update Script - Entry: Unknown",
        "Missing SignatureFile in Update Script - Entry: Unknown"}},
      {"a condition before the name", "Update\n  Verify Installed=True\n  Name a-win64\n",
       {"Missing Name in Update Script"}},
      {"an unknown key before the name", "Update\n  Colour red\n", {"Missing Name in Update Script"}},
      {"MessageDigest without a value", "MessageDigest\n" + Entry("a-win64"), {"Invalid MessageDigest"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string kept;
    g_upd_config->work_list = nullptr;
    EXPECT_EQ(Read(c.script, &kept), -1);
    EXPECT_EQ(g_upd_config->work_list, nullptr);
    std::vector<std::string> texts = fs_.Texts();
    for (const std::string& m : c.messages) EXPECT_GE(TqTextIndex(texts, m), 0) << m;
  }
  std::remove(fs_.Work("updscript.txt").c_str());
  EXPECT_EQ(UpdReadScript(), -1);
  EXPECT_EQ(fs_.Texts(), std::vector<std::string>{"Unable to read local upd script file: updscript.txt"});
}

TEST_F(ScriptTest, StatementsWithoutValuesAreSkippedWithTheirMessage) {
  std::string kept;
  EXPECT_EQ(Read(Entry("two-win64", "  Desc\n  Verify VersionEQ=2.0,VersionLT\n"), &kept), 0);
  EXPECT_EQ(kept, "two-win64/1");
  std::vector<std::string> texts = fs_.Texts();
  EXPECT_GE(TqTextIndex(texts, "Invalid Config Option: Desc"), 0);
  EXPECT_GE(TqTextIndex(texts, "Missing arg for Verify option: VersionLT"), 0);
  // A key without a value ends the evaluation: the test before it decides.
  EXPECT_EQ(Read(Entry("two-win64", "  Verify VersionEQ=1.0,VersionLT\n"), &kept), 0);
  EXPECT_EQ(kept, "");
}

TEST_F(ScriptTest, ScriptIsCheckedAgainstItsPublishedDigest) {
  const std::string body = Entry("a-win64");
  const std::string script = "MessageDigest Filename=" + fs_.Server("md.txt") + ",Type=sha256\n" + body;
  fs_.WriteWork("updscript.txt", script);
  fs_.WriteServer("md.txt", OpensslDigest(fs_.Work("updscript.txt"), "sha256") + "\n");
  std::string kept;
  EXPECT_EQ(Read(script, &kept), 0);
  EXPECT_EQ(kept, "a-win64/0");
  // The same digest no longer fits a script changed afterwards.
  EXPECT_EQ(Read(script + Entry("b-win64"), &kept), -1);
  EXPECT_EQ(g_upd_config->work_list, nullptr);
}

TEST(ScriptConditions, AddressAndVersionMatches) {
  const char* machine = "00:1a:2b:3c:4d:5e,02:00:00:00:00:01:aa:bb,0a:0b";
  struct Case {
    const char* wanted;
    int match;
  } cases[] = {
      {"00:1a:2b:3c:4d:5e", 1},
      {"ff:ff:ff:ff:ff:ff,02:00:00:00:00:01:aa:bb", 1},
      {"00:1A:2B:3C:4D:5E", 0},  // compared exactly
      {"0a:0b", 0},              // too short to count
      {"00:1a:2b:3c:4d", 0},     // a part of an address
      {"", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(UpdMacAddressMatches(c.wanted, machine), c.match) << c.wanted;
  EXPECT_EQ(UpdMacAddressMatches("00:1a:2b:3c:4d:5e", ""), 0);
  EXPECT_EQ(UpdOsVersionMatches("6,10", 10), 1);
  EXPECT_EQ(UpdOsVersionMatches("6,10", 6), 1);
  EXPECT_EQ(UpdOsVersionMatches("6,10", 5), 0);
  EXPECT_EQ(UpdOsVersionMatches("10abc", 10), 1);  // read as atoi reads it
}

TEST_F(ScriptTest, OwnAdapterAddressMatches) {
  char list[kRVMacListMax + 1];
  if (RVAdapterMacList(list) != 0) GTEST_SKIP() << "no adapter with a hardware address";
  std::string first = std::string(list).substr(0, std::string(list).find(','));
  std::string kept;
  EXPECT_EQ(Read(Entry("mac-win64", "  MACAddress ff:ff:ff:ff:ff:ff," + first + "\n"), &kept), 0);
  EXPECT_EQ(kept, first.size() >= 10 ? "mac-win64/0" : "");
}

TEST_F(ScriptTest, BadInputIsReadSafely) {
  // Thousands of entries, all kept in order.
  std::string many;
  for (int i = 0; i < 3000; ++i) many += Entry("p" + std::to_string(i) + "-win64");
  std::string kept;
  ASSERT_EQ(Read(many, &kept), 0);
  int n = 0;
  for (const UpdEntry* e = g_upd_config->work_list; e; e = e->next) ++n;
  EXPECT_EQ(n, 3000);
  EXPECT_EQ(std::string(g_upd_config->work_list->name), "p0-win64");
  // Binary bytes, a NUL inside a line and a line far over the piece length.
  std::string binary = Entry("bin-win64", std::string("  Desc \x01\xfe\xff") + '\0' + "hidden\n") +
                       "  Desc " + std::string(5000, 'd') + "\n";
  EXPECT_EQ(Read(binary, &kept), 0);
  EXPECT_EQ(kept, "bin-win64/0");
  ASSERT_NE(g_upd_config->work_list->desc, nullptr);
  EXPECT_LE(std::string(g_upd_config->work_list->desc).size(), 1023u);
}

}  // namespace

// The OSVersion condition compares the major version the machine's registry
// states (default 10), never the kernel's release.
TEST(ScriptOsVersion, FollowsTheRegistryFacts) {
  const struct {
    const char* major_line; // the major version value, or "" for none
    const char* wanted;     // the condition's text
    int match;
  } cases[] = {
      {"", "10", 1}, {"", "6", 0}, {"", "6,10", 1},
      {"\"CurrentMajorVersionNumber\"=dword:00000006\n", "6", 1},
      {"\"CurrentMajorVersionNumber\"=dword:00000006\n", "10", 0},
      {"\"CurrentMajorVersionNumber\"=\"6\"\n", "10", 1},  // wrong type: the default
  };
  for (const auto& c : cases) {
    TempSystem sys;
    int bad = 0;
    ASSERT_EQ(PlatRegImport(std::string("Windows Registry Editor Version 5.00\n\n"
                                        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\n") +
                                c.major_line,
                            &bad),
              0u);
    PlatOsFacts f{};
    testing::internal::CaptureStderr();
    RVReadOsFacts(&f);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(UpdOsVersionMatches(c.wanted, static_cast<int>(f.major)), c.match) << c.major_line << c.wanted;
  }
}
