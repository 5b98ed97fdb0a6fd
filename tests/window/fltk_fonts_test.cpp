// Fonts of the FLTK instance on the private X server: faces, weights, the
// computed metrics and text widths.
#include <gtest/gtest.h>

#include <string>

#include "tests/window/window_test_util.h"

namespace {

using FltkFonts = FltkDisplayTest;

constexpr char kSentence[] = "Checking for updates of TQ Client 4.2 (build 1187)...";

TEST_F(FltkFonts, MonospaceFaceIsFixedPitchAndTextIsThatManyAverageWidths) {
  FltkFontHolder mono({"DejaVu Sans Mono", 13, 400, 0, 0});
  ASSERT_NE(mono.font, nullptr);
  PlatFontMetrics m = FltkMetrics(mono.font);
  EXPECT_EQ(m.fixed_pitch, 1);
  EXPECT_EQ(m.max_width, m.avg_width);
  ASSERT_GT(m.avg_width, 0);
  const std::string pattern = "Wil1.M @_i";
  for (size_t n : {size_t{1}, size_t{2}, size_t{10}, size_t{57}, size_t{400}}) {
    std::string text;
    while (text.size() < n) text += pattern[text.size() % pattern.size()];
    EXPECT_EQ(FltkWidth(mono.font, text), static_cast<int>(n) * m.avg_width) << n << " characters";
  }
}

TEST_F(FltkFonts, ProportionalFaceHasWiderMaximumThanAverage) {
  FltkFontHolder sans({"DejaVu Sans", 13, 400, 0, 0});
  ASSERT_NE(sans.font, nullptr);
  PlatFontMetrics m = FltkMetrics(sans.font);
  EXPECT_EQ(m.fixed_pitch, 0);
  EXPECT_GT(m.max_width, m.avg_width);
  EXPECT_GT(FltkWidth(sans.font, "MMMMMMMMMM"), FltkWidth(sans.font, "iiiiiiiiii"));
}

TEST_F(FltkFonts, BoldIsWiderThanRegular) {
  for (const char* face : {"DejaVu Sans", "DejaVu Serif", ""}) {
    FltkFontHolder regular({face, 13, 400, 0, 0});
    FltkFontHolder bold({face, 13, 700, 0, 0});
    ASSERT_NE(regular.font, nullptr) << face;
    ASSERT_NE(bold.font, nullptr) << face;
    EXPECT_GT(FltkWidth(bold.font, kSentence), FltkWidth(regular.font, kSentence)) << "face '" << face << "'";
    EXPECT_GE(FltkMetrics(bold.font).avg_width, FltkMetrics(regular.font).avg_width) << face;
  }
}

// 10 points at 96 dpi: floor(10 * 96 / 72 + 0.5) = 13 pixels.
TEST_F(FltkFonts, ThirteenPixelFontHasTenPointMetrics) {
  FltkFontHolder sans({"DejaVu Sans", 13, 400, 0, 0});
  ASSERT_NE(sans.font, nullptr);
  PlatFontMetrics m = FltkMetrics(sans.font);
  EXPECT_GE(m.avg_width, 6);
  EXPECT_LE(m.avg_width, 9);
  EXPECT_GE(m.max_width, 10);
  EXPECT_LE(m.max_width, 16);
  EXPECT_GE(m.line_height, 14);
  EXPECT_LE(m.line_height, 19);
  EXPECT_GE(m.descent, 2);
  EXPECT_LE(m.descent, 5);
  EXPECT_GT(FltkWidth(sans.font, kSentence), 0);
}

TEST_F(FltkFonts, MetricsGrowWithPixelHeight) {
  PlatFontMetrics before = {};
  for (int px : {7, 9, 13, 20, 26, 40}) {
    FltkFontHolder sans({"DejaVu Sans", px, 400, 0, 0});
    ASSERT_NE(sans.font, nullptr) << px;
    PlatFontMetrics m = FltkMetrics(sans.font);
    EXPECT_GE(m.line_height, px) << px << " px";
    EXPECT_GT(m.line_height, before.line_height) << px << " px";
    EXPECT_GE(m.avg_width, before.avg_width) << px << " px";
    EXPECT_LT(m.descent, m.line_height) << px << " px";
    before = m;
  }
}

TEST_F(FltkFonts, MultiByteCharacterIsOneAdvance) {
  FltkFontHolder mono({"DejaVu Sans Mono", 13, 400, 0, 0});
  ASSERT_NE(mono.font, nullptr);
  int avg = FltkMetrics(mono.font).avg_width;
  EXPECT_EQ(FltkWidth(mono.font, "\xC3\xA9"), avg);            // e acute
  EXPECT_EQ(FltkWidth(mono.font, "a\xC3\xA9z\xC3\xBC"), 4 * avg);  // a, e acute, z, u umlaut
  EXPECT_GE(FltkWidth(mono.font, "\xC3"), 0);                   // a torn sequence still measures
}

// Faces named like fixed-pitch ones are fixed pitch whatever fontconfig
// substitutes for them (the headless instance's rule); other unknown faces
// give a usable proportional substitute.
TEST_F(FltkFonts, SubstitutedFacesKeepTheirPitch) {
  struct Case {
    const char* face;
    int fixed;
  } cases[] = {{"Courier", 1}, {"Courier New", 1}, {"No Such Mono Face", 1}, {"No Such Face", 0}, {"", 0}};
  for (const Case& c : cases) {
    for (int weight : {400, 700}) {
      FltkFontHolder f({c.face, 13, weight, 0, 0});
      ASSERT_NE(f.font, nullptr) << c.face;
      PlatFontMetrics m = FltkMetrics(f.font);
      EXPECT_EQ(m.fixed_pitch, c.fixed) << "face '" << c.face << "' weight " << weight;
      EXPECT_GT(m.avg_width, 0) << c.face;
      EXPECT_GT(m.line_height, 0) << c.face;
    }
  }
}

// Names FLTK would read as something else (an X core font name, a list of
// faces) and requests at the edges of the sizes.
TEST_F(FltkFonts, OddRequestsStillGiveFonts) {
  struct Case {
    const char* face;
    int pixel_height;
    int weight;
    int italic;
  } cases[] = {
      {"-misc-fixed-medium-r-normal--13-*-*-*-*-*-*-*", 13, 400, 0},
      {"DejaVu Sans, DejaVu Serif", 13, 400, 0},
      {"DejaVu Sans", 0, 400, 0},
      {"DejaVu Sans", -5, 400, 0},
      {"DejaVu Sans", 1, 400, 0},
      {"DejaVu Sans", 100000, 400, 0},
      {"DejaVu Sans", 13, 0, 1},
      {"DejaVu Sans", 13, 300, 1},
      {"DejaVu Sans", 13, 900, 1},
      {nullptr, 13, 400, 0},
  };
  for (const Case& c : cases) {
    FltkFontHolder f({c.face, c.pixel_height, c.weight, c.italic, 1});
    ASSERT_NE(f.font, nullptr) << (c.face ? c.face : "(null)") << " " << c.pixel_height;
    PlatFontMetrics m = FltkMetrics(f.font);
    EXPECT_GT(m.line_height, 0) << c.pixel_height;
    EXPECT_LE(m.line_height, 1300) << c.pixel_height;
    EXPECT_GT(FltkWidth(f.font, "Update"), 0) << c.pixel_height;
  }
}

// Dim asks for the light face where the typeface has one; a face without
// one measures as its normal weight.
TEST_F(FltkFonts, DimWithoutLightFaceMeasuresAsNormal) {
  FltkFontHolder normal({"DejaVu Serif", 13, 400, 0, 0});
  FltkFontHolder dim({"DejaVu Serif", 13, 300, 0, 0});
  ASSERT_NE(dim.font, nullptr);
  PlatFontMetrics a = FltkMetrics(normal.font), b = FltkMetrics(dim.font);
  EXPECT_EQ(a.avg_width, b.avg_width);
  EXPECT_EQ(a.max_width, b.max_width);
  EXPECT_EQ(a.line_height, b.line_height);
  EXPECT_EQ(FltkWidth(normal.font, kSentence), FltkWidth(dim.font, kSentence));
}

TEST_F(FltkFonts, SystemFixedFontIsFixedPitchAndOwnedByTheInstance) {
  const PlatWindowOps* ops = PlatWindowFltk();
  PlatFont* fixed = ops->font_system_fixed();
  ASSERT_NE(fixed, nullptr);
  EXPECT_EQ(ops->font_system_fixed(), fixed);
  ops->font_free(fixed);  // not the caller's: nothing happens
  PlatFontMetrics m = FltkMetrics(fixed);
  EXPECT_EQ(m.fixed_pitch, 1);
  EXPECT_EQ(m.avg_width, m.max_width);
  EXPECT_GE(m.line_height, 13);
  EXPECT_LE(m.line_height, 20);
  EXPECT_EQ(FltkWidth(fixed, "0123456789"), 10 * m.avg_width);
}

TEST_F(FltkFonts, NullAndEmptyArguments) {
  const PlatWindowOps* ops = PlatWindowFltk();
  PlatFontMetrics m;
  EXPECT_EQ(ops->font_create(nullptr), nullptr);
  EXPECT_EQ(ops->font_metrics(nullptr, &m), -1);
  EXPECT_EQ(ops->text_width(nullptr, "abc", 3), 0);
  ops->font_free(nullptr);
  FltkFontHolder sans({"DejaVu Sans", 13, 400, 0, 0});
  ASSERT_NE(sans.font, nullptr);
  EXPECT_EQ(ops->font_metrics(sans.font, nullptr), -1);
  EXPECT_EQ(ops->text_width(sans.font, nullptr, 3), 0);
  EXPECT_EQ(ops->text_width(sans.font, "abc", 0), 0);
  EXPECT_EQ(ops->text_width(sans.font, "abcdef", 3), FltkWidth(sans.font, "abc"));
}

}  // namespace
