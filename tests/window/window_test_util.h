// Shared by the window-system tests: the FLTK instance on this program's
// private X server.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/window.h"
#include "tests/support/xvfb.h"

// Tests that need the FLTK display of this process open on the private
// server (started, and the display opened, by the first of them).
class FltkDisplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string reason;
    ASSERT_EQ(TqXvfbStart(&reason), 0) << reason;
    char why[256] = "";
    ASSERT_EQ(PlatWindowFltk()->open_display(why, sizeof why), 0) << why;
  }
};

// A font made by the FLTK instance, freed at the end of the scope.
struct FltkFontHolder {
  PlatFont* font;
  explicit FltkFontHolder(const PlatFontSpec& spec) : font(PlatWindowFltk()->font_create(&spec)) {}
  ~FltkFontHolder() { PlatWindowFltk()->font_free(font); }
  FltkFontHolder(const FltkFontHolder&) = delete;
  FltkFontHolder& operator=(const FltkFontHolder&) = delete;
};

// The measures of a font (all zero for a null one).
inline PlatFontMetrics FltkMetrics(PlatFont* font) {
  PlatFontMetrics m = {};
  PlatWindowFltk()->font_metrics(font, &m);
  return m;
}

// The width of a text in a font.
inline int FltkWidth(PlatFont* font, const std::string& text) {
  return PlatWindowFltk()->text_width(font, text.data(), text.size());
}

// Removes the root's _NET_WORKAREA when the scope ends, so that later tests
// see the whole screen again.
struct WorkAreaReset {
  ~WorkAreaReset() { TqXClearWorkArea(); }
};
