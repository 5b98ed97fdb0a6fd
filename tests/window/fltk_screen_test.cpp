// Screen measures of the FLTK instance on the private X server
// (1280 x 1024 at 96 dots per inch).
#include <gtest/gtest.h>

#include "tests/window/window_test_util.h"

namespace {

using FltkScreen = FltkDisplayTest;

void ExpectRect(const PlatRect& r, int left, int top, int width, int height, const char* what) {
  EXPECT_EQ(r.left, left) << what;
  EXPECT_EQ(r.top, top) << what;
  EXPECT_EQ(r.width, width) << what;
  EXPECT_EQ(r.height, height) << what;
  EXPECT_EQ(r.right, left + width) << what;
  EXPECT_EQ(r.bottom, top + height) << what;
}

TEST_F(FltkScreen, MeasuresOfThePrivateServer) {
  PlatScreenMeasures m;
  ASSERT_EQ(PlatWindowFltk()->screen_measures(&m), 0);
  EXPECT_EQ(m.screen_width, 1280);
  EXPECT_EQ(m.screen_height, 1024);
  EXPECT_EQ(m.res_x, 96);
  EXPECT_EQ(m.res_y, 96);
  ExpectRect(m.work_area, 0, 0, 1280, 1024, "work area");
  ASSERT_EQ(m.monitor_count, 1);
  ExpectRect(m.monitors[0], 0, 0, 1280, 1024, "monitor");
  EXPECT_EQ(m.touch_ready, 0);
  // The plain scheme's frames: a 2-pixel sunken edge, a 1-pixel border.
  EXPECT_EQ(m.edge_width, 2);
  EXPECT_EQ(m.edge_height, 2);
  EXPECT_EQ(m.border_width, 1);
  EXPECT_EQ(m.border_height, 1);
  EXPECT_GE(m.vscroll_width, 10);
  EXPECT_EQ(m.hscroll_height, m.vscroll_width);
  EXPECT_EQ(m.vscroll_arrow, m.vscroll_width);
  EXPECT_GE(m.menu_check_height, 10);
  EXPECT_LE(m.menu_check_height, 20);
}

// The dialog base units are those of the toolkit's default label font: the
// system font, asked for by an empty face at the default label size.
TEST_F(FltkScreen, BaseUnitsAreThoseOfTheSystemFont) {
  PlatScreenMeasures m;
  ASSERT_EQ(PlatWindowFltk()->screen_measures(&m), 0);
  bool matched = false;
  for (int px = 10; px <= 16 && !matched; ++px) {
    FltkFontHolder system({"", px, 400, 0, 0});
    PlatFontMetrics f = FltkMetrics(system.font);
    matched = f.avg_width == m.base_unit_x && f.line_height == m.base_unit_y;
  }
  EXPECT_TRUE(matched) << m.base_unit_x << " x " << m.base_unit_y;
  EXPECT_GE(m.base_unit_x, 5);
  EXPECT_LE(m.base_unit_x, 10);
  EXPECT_GE(m.base_unit_y, 12);
  EXPECT_LE(m.base_unit_y, 22);
}

// A panel reserving the top 30 and bottom 34 rows: the work area follows the
// root's _NET_WORKAREA, also when it changes while the display is open, and
// the screen keeps its size.
TEST_F(FltkScreen, WorkAreaFollowsTheRootProperty) {
  WorkAreaReset reset;
  struct Case {
    int x, y, width, height;
  } cases[] = {{0, 30, 1280, 960}, {100, 0, 1180, 1024}, {0, 0, 640, 512}};
  for (const Case& c : cases) {
    ASSERT_EQ(TqXSetWorkArea(c.x, c.y, c.width, c.height), 0);
    PlatScreenMeasures m;
    ASSERT_EQ(PlatWindowFltk()->screen_measures(&m), 0);
    EXPECT_EQ(m.screen_width, 1280);
    EXPECT_EQ(m.screen_height, 1024);
    ExpectRect(m.work_area, c.x, c.y, c.width, c.height, "work area");
    ASSERT_EQ(m.monitor_count, 1);
    ExpectRect(m.monitors[0], c.x, c.y, c.width, c.height, "monitor");
  }
  ASSERT_EQ(TqXClearWorkArea(), 0);
  PlatScreenMeasures m;
  ASSERT_EQ(PlatWindowFltk()->screen_measures(&m), 0);
  ExpectRect(m.work_area, 0, 0, 1280, 1024, "work area after removal");
}

TEST_F(FltkScreen, NullOutput) { EXPECT_EQ(PlatWindowFltk()->screen_measures(nullptr), -1); }

}  // namespace
