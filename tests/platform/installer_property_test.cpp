// The installer's property string parser and the installation planner, on
// their own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/installer/plan.h"
#include "platform/installer/property_string.h"
#include "platform/registry.h"

namespace {

std::string Show(const std::vector<MsiProperty>& props) {
  std::string s;
  for (const MsiProperty& p : props) s += "[" + p.name + "=" + p.value + "]";
  return s;
}

}  // namespace

TEST(InstallerPropertyString, ParsesAndRejects) {
  struct {
    std::string text;
    int rc;
    std::string want;
  } cases[] = {
      {"", 0, ""},
      {"   \t ", 0, ""},
      {"ALLUSERS=1", 0, "[ALLUSERS=1]"},
      {"ALLUSERS=1 TARGETDIR=\"C:\\x\" INSTALLDIR=\"C:\\x\" REBOOT=ReallySuppress", 0,
       "[ALLUSERS=1][TARGETDIR=C:\\x][INSTALLDIR=C:\\x][REBOOT=ReallySuppress]"},
      {"A=\"two words\"\tB=", 0, "[A=two words][B=]"},
      {"A=\"say \"\"hi\"\"\"", 0, "[A=say \"hi\"]"},
      {"A=\"\"", 0, "[A=]"},
      {"A=1 A=2", 0, "[A=2]"},
      {"_x.y=z", 0, "[_x.y=z]"},
      {"A=\"unclosed", -1, ""},
      {"A=\"x\"y", -1, ""},
      {"A=x\"y", -1, ""},
      {"=x", -1, ""},
      {"1A=2", -1, ""},
      {"A", -1, ""},
      {"A =1", -1, ""},
      {"A=1 junk", -1, ""},
      {std::string("A=\"x\0y\"", 7), 0, std::string("[A=x\0y]", 7)},
      {"A=" + std::string(kMsiMaxPropertyString - 2, 'x'), 0, "[A=" + std::string(kMsiMaxPropertyString - 2, 'x') + "]"},
      {"A=" + std::string(kMsiMaxPropertyString - 1, 'x'), -1, ""},
  };
  for (const auto& c : cases) {
    std::vector<MsiProperty> props;
    EXPECT_EQ(MsiParsePropertyString(c.text, &props), c.rc) << c.text.substr(0, 80);
    EXPECT_EQ(Show(props), c.want) << c.text.substr(0, 80);
    if (c.rc == 0 && c.text.size() < 1000) {
      std::vector<MsiProperty> again;
      EXPECT_EQ(MsiParsePropertyString(MsiFormatPropertyString(props), &again), 0);
      EXPECT_EQ(Show(again), c.want);
    }
  }
}

TEST(InstallerPlan, HostPathsAndNames) {
  struct {
    const char* in;
    int rc;
    const char* out;
  } paths[] = {{"\\opt\\tq\\", 0, "/opt/tq"}, {"/a//b/", 0, "/a/b"}, {"/", 0, "/"},
               {"C:\\x", -1, ""},          {"rel/x", -1, ""},      {"/a/../b", -1, ""},
               {"\\a\\.\\b", -1, ""},      {"", -1, ""}};
  for (const auto& p : paths) {
    std::string out;
    EXPECT_EQ(MsiHostPath(p.in, &out), p.rc) << p.in;
    if (p.rc == 0) {
      EXPECT_EQ(out, p.out) << p.in;
    }
  }
  for (const char* bad : {"", ".", "..", "a/b", "a\\b", "a\nb"}) EXPECT_FALSE(MsiPlainName(bad)) << bad;
  for (const char* good : {"a", "deep dir", "...", "a.b"}) EXPECT_TRUE(MsiPlainName(good)) << good;
  EXPECT_LT(MsiCompareVersions("1.2.3", "1.10.0"), 0);
  EXPECT_EQ(MsiCompareVersions("2.0", "2.0.0"), 0);
  EXPECT_GT(MsiCompareVersions("3", "2.99.99"), 0);
}

// The Directory table's forms, overrides, cycles and unsafe names; the
// Registry table's value forms and formatted text.
TEST(InstallerPlan, DirectoriesRegistryAndFormattedText) {
  MsiPackage pkg;
  pkg.properties = {{"ProductVersion", "1.2.3"}, {"ProductCode", "{C}"}, {"ALLUSERS", "1"}, {"SHOULDNOTMOVE", "/etc"}};
  pkg.directories = {{"TARGETDIR", "", "SourceDir"},
                     {"ProgramFiles64Folder", "TARGETDIR", "."},
                     {"INSTALLDIR", "ProgramFiles64Folder", "PRODUC~1|Product Dir:src"},
                     {"Same", "INSTALLDIR", "."},
                     {"Sub", "Same", "sub"},
                     {"SHOULDNOTMOVE", "INSTALLDIR", "kept"},
                     {"Other", "TARGETDIR", "other:SRC|source"}};
  pkg.components = {{"C1", "Sub"}, {"C2", "Other"}};
  pkg.files = {{"F1", "C1", "FILE~1.TXT|file one.txt", 3, 1}, {"F2", "C2", "f2", 0, 2}};
  pkg.media = {{1, 2, "#a.cab"}};
  pkg.registry = {
      {"R1", -1, "SOFTWARE\\TQ\\[ProductCode]\\", "Version", false, "[ProductVersion]", false, "C1"},
      {"R2", 2, "SOFTWARE\\TQ", "Dir", false, "[INSTALLDIR]|[#F1]|[$C2]|[\\[]|[Missing]|[\\]]", false, "C1"},
      {"R3", 2, "SOFTWARE\\TQ", "N", false, "#-1", false, "C1"},
      {"R4", 2, "SOFTWARE\\TQ", "E", false, "#%%PATH%", false, "C1"},
      {"R5", 2, "SOFTWARE\\TQ", "B", false, "#x0aFF1", false, "C1"},
      {"R6", 2, "SOFTWARE\\TQ", "H", false, "##5", false, "C1"},
      {"R7", 2, "SOFTWARE\\TQ", "", true, "default", false, "C1"},
      {"R8", 2, "SOFTWARE\\TQ", "*", false, "", true, "C1"},
      {"R9", 2, "software\\tq\\{c}", "version", false, "again", false, "C1"},  // replaces R1
  };
  MsiHostFolders folders{"/pf", "/ca", "/ad", "/doc"};
  MsiPlan plan;
  std::string why;
  ASSERT_EQ(MsiMakePlan(pkg, {{"TARGETDIR", "\\t"}}, folders, &plan, &why), 0) << why;
  EXPECT_EQ(plan.directories["INSTALLDIR"], "/pf/Product Dir");
  EXPECT_EQ(plan.directories["Sub"], "/pf/Product Dir/sub");
  EXPECT_EQ(plan.directories["SHOULDNOTMOVE"], "/pf/Product Dir/kept");
  EXPECT_EQ(plan.directories["Other"], "/t/other");
  ASSERT_EQ(plan.files.size(), 2u);
  EXPECT_EQ(plan.files[0].target, "/pf/Product Dir/sub/file one.txt");
  EXPECT_EQ(plan.files[0].anchor, "/pf");
  EXPECT_EQ(plan.files[1].target, "/t/other/f2");
  EXPECT_EQ(plan.files[1].anchor, "/t");
  struct {
    const char* key;
    const char* name;
    uint32_t type;
    std::string data;
  } want[] = {{"software\\tq\\{c}", "version", PLAT_REG_SZ, "again"},
              {"SOFTWARE\\TQ", "Dir", PLAT_REG_SZ, "/pf/Product Dir|/pf/Product Dir/sub/file one.txt|/t/other|[||]"},
              {"SOFTWARE\\TQ", "N", PLAT_REG_DWORD, std::string("\xff\xff\xff\xff", 4)},
              {"SOFTWARE\\TQ", "E", PLAT_REG_EXPAND_SZ, "%PATH%"},
              {"SOFTWARE\\TQ", "B", PLAT_REG_BINARY, std::string("\x00\xaf\xf1", 3)},
              {"SOFTWARE\\TQ", "H", PLAT_REG_SZ, "#5"},
              {"SOFTWARE\\TQ", "", PLAT_REG_SZ, "default"}};
  ASSERT_EQ(plan.values.size(), std::size(want));
  for (size_t i = 0; i < plan.values.size(); i++) {
    EXPECT_EQ(plan.values[i].key, want[i].key) << i;
    EXPECT_EQ(plan.values[i].name, want[i].name) << i;
    EXPECT_EQ(plan.values[i].type, want[i].type) << i;
    EXPECT_EQ(plan.values[i].data, want[i].data) << i;
  }

  // With INSTALLDIR given, the directories below it follow; without
  // ALLUSERS a per-user registry row has no hive here.
  ASSERT_EQ(MsiMakePlan(pkg, {{"INSTALLDIR", "/x/y"}}, folders, &plan, &why), 0) << why;
  EXPECT_EQ(plan.files[0].target, "/x/y/sub/file one.txt");
  EXPECT_EQ(plan.files[0].anchor, "/x/y");
  EXPECT_NE(MsiMakePlan(pkg, {{"ALLUSERS", ""}}, folders, &plan, &why), 0);
  EXPECT_NE(MsiMakePlan(pkg, {{"INSTALLDIR", "relative"}}, folders, &plan, &why), 0);

  // Faults of the tables, one at a time.
  struct {
    const char* what;
    void (*spoil)(MsiPackage*);
  } faults[] = {
      {"cycle", [](MsiPackage* p) { p->directories[2].parent = "Sub"; }},
      {"missing parent", [](MsiPackage* p) { p->directories[4].parent = "Nowhere"; }},
      {"dot-dot directory", [](MsiPackage* p) { p->directories[4].default_dir = ".."; }},
      {"slash directory", [](MsiPackage* p) { p->directories[4].default_dir = "a/b"; }},
      {"dot-dot file", [](MsiPackage* p) { p->files[0].file_name = "x|.."; }},
      {"absolute file", [](MsiPackage* p) { p->files[0].file_name = "/etc/passwd"; }},
      {"backslash file", [](MsiPackage* p) { p->files[0].file_name = "..\\x"; }},
      {"same target twice", [](MsiPackage* p) { p->files[1] = p->files[0]; p->files[1].key = "F3"; }},
      {"no medium", [](MsiPackage* p) { p->files[1].sequence = 3; }},
      {"no component", [](MsiPackage* p) { p->files[1].component = "C9"; }},
      {"HKCU", [](MsiPackage* p) { p->registry[1].root = 1; }},
      {"bad dword", [](MsiPackage* p) { p->registry[2].value = "#12x"; }},
      {"bad binary", [](MsiPackage* p) { p->registry[4].value = "#xzz"; }},
      {"multi-string", [](MsiPackage* p) { p->registry[0].value = "a[~]b"; }},
      {"empty key", [](MsiPackage* p) { p->registry[0].key = "\\\\"; }},
      {"slash key", [](MsiPackage* p) { p->registry[0].key = "SOFTWARE\\a/b"; }},
  };
  for (const auto& f : faults) {
    MsiPackage bad = pkg;
    f.spoil(&bad);
    EXPECT_NE(MsiMakePlan(bad, {}, folders, &plan, &why), 0) << f.what;
  }
}
