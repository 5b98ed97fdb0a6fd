// Lengths: units, rounding, directions, ignored and oversized values.
#include <gtest/gtest.h>

#include "gui/length.h"
#include "gui/window_system.h"
#include "tests/gui/gui_test_util.h"

namespace {

// Different measures in the two directions, so that a unit converted with
// the wrong one shows.
PlatScreenMeasures Screen() {
  PlatScreenMeasures s = {};
  s.base_unit_x = 8;
  s.base_unit_y = 16;
  s.res_x = 96;
  s.res_y = 120;
  return s;
}

}  // namespace

TEST(Length, UnitsRoundingAndDirections) {
  const PlatScreenMeasures s = Screen();
  const struct {
    const char* text;
    int horizontal, vertical;
  } cases[] = {
      {"10", 10, 10},
      {"10.4", 10, 10},
      {"10.5", 11, 11},     // floor(value + 0.5)
      {".5", 1, 1},
      {"+7", 7, 7},
      {"0", 0, 0},
      {"0i", 0, 0},
      {"0.0001", 0, 0},
      {"-0", 0, 0},
      {"4d", 8, 8},         // 4 * 8 / 4 and 4 * 16 / 8
      {"3D", 6, 6},
      {"5d", 10, 10},
      {"1d", 2, 2},
      {"7d", 14, 14},
      {"1i", 96, 120},
      {"0.5I", 48, 60},
      {"25.4m", 96, 120},
      {"10mm", 38, 47},     // 37.8 and 47.2
      {"72pt", 96, 120},
      {"72PO", 96, 120},
      {"72pT", 96, 120},
      {"9pt", 12, 15},
      {"72p", 72, 72},      // P without O or T: pixels
      {"72px", 72, 72},
      {"12 i", 1152, 1440}, // blanks before the unit
      {"  3", 3, 3},
      {"1e3", 1, 1},        // no exponents: "e" is an unknown unit
      {"5x", 5, 5},
      {"99999999999999999999i", kGUILengthMax, kGUILengthMax},
      {"-3", -1, -1},       // negative: ignored
      {"-1i", -1, -1},
      {"abc", -1, -1},
      {"", -1, -1},
      {".", -1, -1},
      {"-", -1, -1},
      {"i", -1, -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GUILengthPixels(&s, c.text, 0), c.horizontal) << c.text;
    EXPECT_EQ(GUILengthPixels(&s, c.text, 1), c.vertical) << c.text;
  }
  EXPECT_EQ(GUILengthPixels(&s, nullptr, 0), -1);
  EXPECT_EQ(GUILengthPixels(nullptr, "5", 0), -1);
}

TEST(Length, DialogUnitsRoundAfterScaling) {
  PlatScreenMeasures s = Screen();
  s.base_unit_x = 7; // a quarter is 1.75 pixels
  s.base_unit_y = 13;
  EXPECT_EQ(GUILengthPixels(&s, "1d", 0), 2);  // 1.75
  EXPECT_EQ(GUILengthPixels(&s, "2d", 0), 4);  // 3.5
  EXPECT_EQ(GUILengthPixels(&s, "1d", 1), 2);  // 1.625
  EXPECT_EQ(GUILengthPixels(&s, "3d", 1), 5);  // 4.875
}

TEST(Length, DecimalNumbers) {
  const struct {
    const char* text;
    int ok;
    double value;
    size_t used;
  } cases[] = {
      {"12", 1, 12, 2},       {" \t-1.25x", 1, -1.25, 7}, {"3.", 1, 3, 2},         {".25", 1, 0.25, 3},
      {"+", 0, 0, 0},         {"", 0, 0, 0},              {"1,5", 1, 1, 1},        {"1e9", 1, 1, 1},
      {"0000000000000000000000001", 1, 1, 25},
  };
  for (const auto& c : cases) {
    double v = -99;
    const char* end = nullptr;
    EXPECT_EQ(GUIParseDecimal(c.text, &v, &end), c.ok) << c.text;
    if (!c.ok) {
      EXPECT_EQ(v, -99) << c.text;
      continue;
    }
    EXPECT_DOUBLE_EQ(v, c.value) << c.text;
    EXPECT_EQ(static_cast<size_t>(end - c.text), c.used) << c.text;
  }
  double v = 0;
  EXPECT_EQ(GUIParseDecimal(std::string(500, '9').c_str(), &v, nullptr), 1);
  EXPECT_EQ(v, 1e12);
}

TEST(Length, ConvenienceUsesTheScreenRead) {
  GuiSystem sys;
  PlatHeadlessSetScreen(1280, 1024, 144);
  ASSERT_EQ(GUIRefreshScreen(), 0);
  EXPECT_EQ(GUILength("1i", 0), 144);
  EXPECT_EQ(GUILength("1i", 1), 144);
  EXPECT_EQ(GUILength("4d", 0), GUIScreen()->base_unit_x);
  PlatHeadlessSetScreen(1280, 1024, 96);
  GUIRefreshScreen();
}
