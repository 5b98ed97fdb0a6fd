// The shipped layouts measured with the FLTK instance on the private X
// server and the shipped font definitions: tqlayout prints their geometry
// (kept as an artefact), every name the programs look for is there with
// its kind, and the main window's preferred size fits 1024 x 768.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/temp_system.h"
#include "tests/support/xvfb.h"

namespace {

struct Line {
  std::string kind, name;
  int min_w = 0, min_h = 0, pref_w = 0, pref_h = 0;
};

std::vector<Line> Parse(const std::string& out) {
  std::vector<Line> lines;
  std::istringstream in(out);
  std::string text;
  while (std::getline(in, text)) {
    Line l;
    char kind[64], name[256];
    if (std::sscanf(text.c_str(), " %63s %255s min %dx%d pref %dx%d", kind, name, &l.min_w, &l.min_h, &l.pref_w,
                    &l.pref_h) == 6) {
      l.kind = kind, l.name = name;
      lines.push_back(l);
    }
  }
  return lines;
}

// Runs tqlayout geometry on a shipped layout with the shipped fonts.
std::vector<Line> Geometry(const char* rel, const std::string& artefact) {
  TempSystem sys;
  std::ifstream font(std::string(TQ_SOURCE_DIR) + "/dist/etc/tqsfont.def");
  std::stringstream def;
  def << font.rdbuf();
  sys.WriteFile("home-tq/etc/tqsfont.def", def.str());
  std::string out;
  std::string cmd = TqXQuote(std::string(TQ_BINARY_DIR) + "/tool/tqlayout") + " geometry " +
                    TqXQuote(std::string(TQ_SOURCE_DIR) + "/dist/xml/" + rel) + " 2>/dev/null";
  EXPECT_EQ(TqXRun(cmd, &out), 0) << out;
  EXPECT_NE(out.find("measures fltk"), std::string::npos) << out;
  std::string dir = TQ_X_TEST_ARTIFACT_DIR();
  if (!dir.empty()) std::ofstream(dir + "/" + artefact) << out;
  return Parse(out);
}

void ExpectKinds(const std::vector<Line>& lines, const std::vector<std::pair<std::string, std::string>>& want) {
  for (const auto& [name, kinds] : want) {
    bool found = false;
    for (const Line& l : lines) {
      if (l.name != name) continue;
      found = true;
      EXPECT_NE((" " + kinds + " ").find(" " + l.kind + " "), std::string::npos) << name << " is " << l.kind;
    }
    EXPECT_TRUE(found) << name;
  }
}

class ShippedLayoutGeometry : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string reason;
    ASSERT_EQ(TqXvfbStart(&reason), 0) << reason;
  }
};

TEST_F(ShippedLayoutGeometry, MainWindowFitsAndHasItsNames) {
  std::vector<Line> lines = Geometry("tqupdcnf.xml", "tqupdcnf-geometry.txt");
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0].kind, "Root");
  // Room left for the frame, the menu bar and the status bar.
  EXPECT_LE(lines[0].pref_w, 1024 - 16);
  EXPECT_LE(lines[0].pref_h, 768 - 100);
  const std::string panel = "HRowCol VRowCol TabFolder Form Grid Single Ovly ScrollWin";
  std::vector<std::pair<std::string, std::string>> want = {
      {"PNLMAINTABF", "TabFolder"}, {"PNLCONNECTION", panel}, {"PNLSCHEDULE", panel}, {"PNLSERVICE", panel},
      {"PNLSVCOPTIONS", panel}, {"PNLSVCINSTALL", panel}, {"PNLSVCSTART", panel}, {"PNLSVCTEST", panel},
      {"DFPROTOCOL", "OptMenu"}, {"DFSERVER", "Text"}, {"DFUSERNAME", "Text"}, {"DFPASSWORD", "Text"},
      {"DFCONFIRMPASSWORD", "Text"}, {"DFSCRIPTFILENAME", "Text"}, {"DFINSTALLTYPE", "OptMenu"},
      {"DFSTARTUPWAIT", "OptMenu"}, {"DFLOGLEVEL", "OptMenu"}, {"DFCHECKONSTART", "CheckBox"},
      {"DFAUTOSTART", "CheckBox"}, {"DFUPDATEOPTIONS", "PushB"}, {"DFINSTALL", "PushB"}, {"DFREMOVE", "PushB"},
      {"DFINSTALLMSG", "Label Text"}, {"DFSTART", "PushB"}, {"DFSTOP", "PushB"}, {"DFRUNMSG", "Label Text"},
      {"DFVIEWLOG", "PushB"}, {"DFVIEWCONFIG", "PushB"}, {"DFTEST", "PushB"}, {"DFTESTMSG", "Label Text"},
      {"DFMESSAGE", "Label Text"}, {"DFSAVECONFIG", "PushB"}, {"DFOK", "PushB"}, {"DFCANCEL", "PushB"},
  };
  for (int n = 0; n < 5; ++n)
    for (const char* base : {"DFSTARTTIME", "DFENDTIME", "DFINTERVAL", "DFDAYOFWEEK", "DFDAYOFMONTH"})
      want.push_back({base + std::to_string(n), "OptMenu Text"});
  ExpectKinds(lines, want);
}

TEST_F(ShippedLayoutGeometry, LogonDialogHasItsNames) {
  std::vector<Line> lines = Geometry("common/logon.xml", "logon-geometry.txt");
  ExpectKinds(lines, {{"USERNAME", "Text"}, {"PASSWORD", "Text"}, {"OK", "PushB"}, {"CANCEL", "PushB"}});
}

}  // namespace
