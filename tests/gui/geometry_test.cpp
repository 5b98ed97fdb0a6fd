// Geometry with the headless metrics and no font files: every widget has
// the system fixed font (8 pixels a character, lines of 16, descent 4);
// edges 2, borders 1, scroll bars 17, check marks 13, 96 dots per inch.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "gui/geometry.h"
#include "gui/layout_reader.h"
#include "gui/window_system.h"
#include "tests/gui/gui_test_util.h"

namespace {

GUILayoutPtr Compute(const std::string& text, int width = 0, int height = 0) {
  GUILayoutPtr l(GUILoadLayoutText(text.data(), text.size(), "g.xml"));
  EXPECT_NE(l, nullptr) << GUILayoutReason();
  if (l) GUIComputeLayout(l.get(), width, height, GUIScreen());
  return l;
}

GUIWidget* W(const GUILayout* l, const char* name) {
  GUIWidget* w = GUIFindWidget(l, name);
  EXPECT_NE(w, nullptr) << name;
  static GUIWidget none{};
  return w ? w : &none;
}

// The widget's x and y inside the root.
std::pair<int, int> Abs(const GUIWidget* w) {
  int x = 0, y = 0;
  for (const GUIWidget* p = w; p; p = p->parent) x += p->x, y += p->y;
  return {x, y};
}

// "min WxH pref WxH at X,Y WxH" of a widget.
std::string Geo(const GUIWidget* w) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "min %dx%d pref %dx%d at %d,%d %dx%d", w->min_width, w->min_height, w->pref_width,
                w->pref_height, w->x, w->y, w->width, w->height);
  return buf;
}

struct GeoCase {
  const char* what;
  std::string text;
  int width, height; // 0: the preferred size
  std::vector<std::pair<const char*, std::string>> expect; // name -> Geo()
};

std::string V(const std::string& body, const std::string& attrs = "") {
  return "<Layout><Panel Type='VRowCol' Name='P' " + attrs + ">" + body + "</Panel></Layout>";
}

std::string H(const std::string& body, const std::string& attrs = "") {
  return "<Layout><Panel Type='HRowCol' Name='P' " + attrs + ">" + body + "</Panel></Layout>";
}

TEST(Geometry, SizesAndPlacesByKind) {
  GuiSystem sys;
  const std::vector<GeoCase> cases = {
      {"text x(60) over 3 lines: 20 characters wide",
       V("<DField Type='Text' Name='T' Format='x(60)' NumRows='3'/>"), 0, 0,
       {{"T", "min 168x54 pref 168x54 at 0,0 168x54"}}},
      {"text of 40 over 3 lines needs the scroll bar",
       V("<DField Type='Text' Name='T' Format='x(40)' NumRows='3' NumCols='10'/>"), 0, 0,
       {{"T", "min 105x54 pref 105x54 at 0,0 105x54"}}},
      {"labels, buttons, check boxes, option menus",
       V("<DField Type='Label' Name='L' Text='abc'/><DField Type='PushB' Name='B'/>"
         "<DField Type='CheckBox' Name='C' Text='On'/><DField Type='OptMenu' Name='O'><Item Text='abcd'/></DField>"),
       0, 0,
       {{"L", "min 24x16 pref 24x16 at 33,0 24x16"},
        {"B", "min 16x24 pref 16x24 at 0,19 16x24"},
        {"C", "min 40x16 pref 40x16 at 0,46 40x16"},
        {"O", "min 57x24 pref 57x24 at 0,65 57x24"}}},
      {"grab width takes the surplus once the others reached theirs",
       H("<DField Type='PushB' Name='A' Text='aa'/><DField Type='PushB' Name='G' Text='gg' GrabWidth='100'/>"), 159, 0,
       {{"A", "min 24x24 pref 24x24 at 0,0 24x24"}, {"G", "min 24x24 pref 24x24 at 27,0 132x24"}}},
      {"equal widths", H("<DField Type='PushB' Name='A' Text='a'/><DField Type='PushB' Name='B' Text='bbbb'/>",
                         "EqualWidth='True'"),
       0, 0,
       {{"P", "min 83x24 pref 83x24 at 0,0 83x24"},
        {"A", "min 16x24 pref 16x24 at 0,0 40x24"},
        {"B", "min 40x24 pref 40x24 at 43,0 40x24"}}},
      {"adjust spacing widens the gaps",
       H("<DField Type='PushB' Name='A' Text='a'/><DField Type='PushB' Name='B' Text='b'/>", "AdjustSpacing='100'"),
       135, 0, {{"A", "min 16x24 pref 16x24 at 0,0 16x24"}, {"B", "min 16x24 pref 16x24 at 119,0 16x24"}}},
      {"adjust left moves the children right",
       H("<DField Type='PushB' Name='A' Text='a'/>", "AdjustLeft='50'"), 116, 0,
       {{"A", "min 16x24 pref 16x24 at 50,0 16x24"}}},
      {"percent across a column and child percent",
       V("<DField Type='PushB' Name='A' Text='a' PercentX='100'/><DField Type='PushB' Name='B' Text='b'/>",
         "ChildPercentX='50'"),
       116, 0, {{"A", "min 16x24 pref 16x24 at 100,0 16x24"}, {"B", "min 16x24 pref 16x24 at 50,27 16x24"}}},
      {"single insets",
       "<Layout><Panel Type='Single' Name='S' AdjustLeft='25' AdjustTop='50' BorderSize='4'>"
       "<DField Type='PushB' Name='A' Text='a'/></Panel></Layout>",
       124, 132,
       {{"S", "min 24x32 pref 24x32 at 0,0 124x132"}, {"A", "min 16x24 pref 16x24 at 29,54 16x24"}}},
      {"framed and titled panel",
       "<Layout><Panel Type='VRowCol' Name='P' Title='Tt' Frame='Etched'><DField Type='PushB' Name='A' Text='a'/>"
       "</Panel></Layout>",
       0, 0, {{"P", "min 26x45 pref 38x45 at 0,0 38x45"}, {"A", "min 16x24 pref 16x24 at 5,16 16x24"}}},
      {"list view rows and MaxRows",
       "<Layout><Panel Type='ListView' Name='LV' MaxRows='5'><DField Type='LVCol' Name='C' Text='Name'/></Panel>"
       "</Layout>",
       0, 0, {{"LV", "min 16x77 pref 65x113 at 0,0 65x113"}, {"C", "min 44x16 pref 44x16 at 0,0 44x16"}}},
      {"grid by percentages, a zero percent adds nothing",
       "<Layout><Panel Type='Grid' Name='G'><DField Type='PushB' Name='A' Text='a' PercentWidth='50' PercentX='100'/>"
       "<DField Type='PushB' Name='Z' Text='zz' PercentWidth='0' PercentHeight='0'/></Panel></Layout>",
       0, 0, {{"G", "min 32x24 pref 32x24 at 0,0 32x24"}, {"A", "min 16x24 pref 16x24 at 16,0 16x24"}}},
      {"explicit sizes, columns and border",
       V("<DField Type='Text' Name='T' MinPixelWidth='50' PrefWidth='1I' PrefRows='2' BorderSize='1'/>"), 0, 0,
       {{"T", "min 52x24 pref 98x40 at 0,0 98x40"}}},
  };
  for (const GeoCase& c : cases) {
    SCOPED_TRACE(c.what);
    GUILayoutPtr l = Compute(c.text, c.width, c.height);
    if (!l) continue;
    for (const auto& [name, geo] : c.expect) EXPECT_EQ(Geo(W(l.get(), name)), geo) << name;
  }
}

TEST(Geometry, SideLabelledFieldsShareOneX) {
  GuiSystem sys;
  GUILayoutPtr l = Compute(V("<DField Type='Text' Name='A' Label='A:' Format='x(5)'/>"
                             "<DField Type='Text' Name='B' Label='Longer label:' Format='x(8)'/>"
                             "<DField Type='Text' Name='C' Label='Mid:'/>"
                             "<DField Type='Text' Name='D' Label='Off' DataAlign='False'/>"));
  ASSERT_NE(l, nullptr);
  int x = Abs(W(l.get(), "B")).first;
  EXPECT_EQ(x, 13 * 8 + 5);
  EXPECT_EQ(Abs(W(l.get(), "A")).first, x);
  EXPECT_EQ(Abs(W(l.get(), "C")).first, x);
  EXPECT_EQ(Abs(W(l.get(), "D")).first, 3 * 8 + 5);
  // Labels end where their gap begins, right-aligned.
  GUIWidget* label_a = W(l.get(), "A")->parent->child;
  EXPECT_EQ(Abs(label_a).first + label_a->width, x - 5);
}

TEST(Geometry, FormGrid) {
  GuiSystem sys;
  struct Case {
    const char* what;
    std::string attrs;
    std::string body;
    std::vector<std::pair<const char*, std::string>> expect;
    std::vector<int> cols;
  };
  const std::vector<Case> cases = {
      {"side label before its data, a gap after",
       "",
       "<DField Type='Text' Name='T' Label='Ab:' Row='0' Col='4' Format='x(2)'/>"
       "<DField Type='PushB' Name='B' Text='b' Row='0' Col='8' NumCols='1'/>",
       // At its preferred size each unused column adds the gap (7 pixels).
       {{"T", "min 24x22 pref 24x22 at 29,1 24x22"}, {"B", "min 16x24 pref 16x24 at 74,0 16x24"}},
       {8, 8, 8, 5, 12, 12, 3, 4, 16}},
      {"fixed positions: one width for all columns",
       "FixedPos='True'",
       "<DField Type='PushB' Name='A' Text='a' Row='0' Col='0' NumCols='1'/>"
       "<DField Type='PushB' Name='B' Text='bbb' Row='1' Col='1'/>",
       {{"A", "min 16x24 pref 16x24 at 0,0 16x24"}, {"B", "min 32x24 pref 32x24 at 13,24 32x24"}},
       {13, 13, 13, 13}},
      {"grid lines add a pixel each",
       "ShowGrid='True'",
       "<DField Type='PushB' Name='A' Text='a' Row='1' Col='1' NumCols='1'/>",
       {{"F", "min 18x26 pref 18x26 at 0,0 18x26"}, {"A", "min 16x24 pref 16x24 at 1,1 16x24"}},
       {16}},
      {"top label over the row before",
       "",
       "<DField Type='Text' Name='T' Label='Top' LabelType='Top' Row='1' Col='0' Format='x(2)'/>",
       {{"T", "min 24x22 pref 24x22 at 0,19 24x22"}},
       {12, 12}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    GUILayoutPtr l = Compute("<Layout><Panel Type='Form' Name='F' " + c.attrs + ">" + c.body + "</Panel></Layout>");
    if (!l) continue;
    for (const auto& [name, geo] : c.expect) {
      GUIWidget* w = W(l.get(), name);
      if (w->parent->kind == GUI_HLBLDATA || w->parent->kind == GUI_VLBLDATA) {
        auto [x, y] = Abs(w);
        w->x = x, w->y = y;  // data parts are compared inside the form
      }
      EXPECT_EQ(Geo(w), geo) << name;
    }
    EXPECT_EQ(W(l.get(), "F")->form_cols, c.cols);
  }
}

TEST(Geometry, WindowPlacement) {
  GuiSystem sys;
  struct Case {
    const char* what;
    std::string layout_attrs;
    int pref_w, pref_h, min_w, min_h;
    int has_owner;
    PlatRect window;
  };
  const PlatRect wa = {0, 0, 1280, 1024, 1280, 1024};
  const PlatRect owner = {100, 100, 500, 400, 400, 300};
  const std::vector<Case> cases = {
      {"percent x 50 centres", "PercentX='50' PercentY='50'", 400, 300, 100, 100, 0, {440, 362, 840, 662, 400, 300}},
      {"larger than the work area", "", 2000, 1500, 100, 100, 0, {0, 0, 1280, 1024, 1280, 1024}},
      {"not below the minimum", "", 2000, 1500, 1500, 100, 0, {0, 0, 1500, 1024, 1500, 1024}},
      {"positions are kept inside", "XPos='1200' YPos='10'", 400, 300, 100, 100, 0, {880, 10, 1280, 310, 400, 300}},
      {"percentages of the owner", "PercentX='50' PercentY='0' PercentWidth='50'", 100, 100, 50, 50, 1,
       {200, 100, 400, 200, 200, 100}},
      {"absolute position with an owner", "PercentX='100' PosAbsolute='True'", 100, 100, 50, 50, 1,
       {1180, 0, 1280, 100, 100, 100}},
      {"share of the work area", "PercentWidth='50' PercentHeight='25'", 100, 100, 50, 50, 0,
       {0, 0, 640, 256, 640, 256}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string text = "<Layout " + c.layout_attrs + "><Panel Type='VRowCol'/></Layout>";
    GUILayoutPtr l(GUILoadLayoutText(text.data(), text.size(), "w.xml"));
    ASSERT_NE(l, nullptr) << GUILayoutReason();
    GUIPlaceIn in = {};
    in.root_pref_width = c.pref_w, in.root_pref_height = c.pref_h;
    in.root_min_width = c.min_w, in.root_min_height = c.min_h;
    in.work_area = wa;
    in.screen_width = 1280, in.screen_height = 1024;
    in.has_owner = c.has_owner;
    in.owner = owner;
    GUIPlaceOut out;
    GUIPlaceWindow(l.get(), &in, &out);
    EXPECT_EQ(out.window.left, c.window.left);
    EXPECT_EQ(out.window.top, c.window.top);
    EXPECT_EQ(out.window.width, c.window.width);
    EXPECT_EQ(out.window.height, c.window.height);
    EXPECT_EQ(out.min_track_width, c.min_w);
    EXPECT_GE(out.max_track_width, std::max(1280, out.window.width));
  }
}

TEST(Geometry, StatusBarParts) {
  struct Case {
    const char* parts;
    int width;
    std::vector<int> rights;
  };
  std::string many;
  for (int i = 0; i < 500; ++i) many += i ? ":1" : "1";
  std::vector<int> many_rights;
  for (int i = 1; i <= 99; ++i) many_rights.push_back(i * 10);
  many_rights.push_back(1000);
  const std::vector<Case> cases = {
      {"50:25:25", 400, {200, 300, 400}},
      {"60:60", 400, {240, 400}},
      {nullptr, 400, {400}},
      {"", 400, {400}},
      {"30", 400, {120, 400}},
      {"x:-5:50", 400, {0, 0, 200, 400}},
      {many.c_str(), 1000, many_rights},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.parts ? c.parts : "(none)");
    int rights[200];
    int n = GUIStatusParts(c.parts, c.width, rights, 200);
    EXPECT_EQ(std::vector<int>(rights, rights + n), c.rights);
  }
}

TEST(Geometry, BadKindsAreReportedAndSkipped) {
  GuiSystem sys;
  ReportCapture reports;
  GUIWidget w{};
  w.kind = 40;
  GUICalCSize(&w, GUIScreen());
  GUISetSize(&w, 10, 10, GUIScreen());
  GUISetPos(&w);
  EXPECT_EQ(reports.errors, (std::vector<std::string>{"Illegal type in GUICalCSize() - Type: 40",
                                                       "Illegal type in GUISetSize() - Type: 40",
                                                       "Illegal type in GUISetPos() - Type: 40"}));
  EXPECT_EQ(w.width, 0);
  auto l = GUINewLayout();
  EXPECT_EQ(GUIAllocWidget(l.get(), l->root, 32), nullptr);
  EXPECT_EQ(reports.errors.back(), "Illegal type: 32 in _gnalloc()");
  EXPECT_EQ(GUICheckFreeKind(&w), -1);
  EXPECT_EQ(reports.errors.back(), "Illegal type in _gnfree() - Type: 40");
}

}  // namespace
