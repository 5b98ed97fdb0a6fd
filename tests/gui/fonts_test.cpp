// Fonts: the font files' order and places, their keywords and bad input,
// making fonts and the fall-backs, measuring text and chars(n), and the
// installed default font file.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "gui/client_prefs.h"
#include "gui/fonts.h"
#include "gui/window_system.h"
#include "platform/window.h"
#include "tests/gui/gui_test_util.h"
#include "tests/support/child.h"

namespace {

using Lines = std::vector<std::string>;

// A relocated system whose preferences and font files are written by the
// test before Load().
class FontSystem : public GuiSystem {
 public:
  FontSystem() {
    WriteLines(GlobalPrefs(), {});
    WriteLines(UserPrefs(), {});
  }
  // The installation's default font file (in etc_dir).
  std::string EtcFont() const { return home() + "/etc/tqsfont.def"; }
  // Loads the preferences and the font files; the font files' result.
  int Load() {
    EXPECT_EQ(GUILoadClientPrefs(), 0);
    return GUILoadFontFiles();
  }
};

std::string FaceOf(const char* cls, const char* set = "default") {
  const GUIFontClass* d = GUIFindFontClass(cls, set);
  return d ? d->face : "<none>";
}

std::string Describe(const GUIFont* f) {
  if (!f) return "<null>";
  if (f == GUISystemFixedFont()) return "<system fixed>";
  return f->cls + "/" + f->set;
}

// The headless instance, but "Broken" faces cannot be made.
PlatFont* CreateUnlessBroken(const PlatFontSpec* asked) {
  if (asked->face && std::string(asked->face) == "Broken") return nullptr;
  return PlatWindowHeadless()->font_create(asked);
}

PlatWindowOps BrokenFaceOps() {
  PlatWindowOps ops = *PlatWindowHeadless();
  ops.name = "broken-face";
  ops.font_create = CreateUnlessBroken;
  return ops;
}

}  // namespace

// Child (an ordinary user): loads preferences with RV_APPDATA below args[0]
// and the font files; writes the reports to args[1]. Exit 0.
TQ_CHILD_ROLE(fonts_load_as_user) {
  ::setenv("TQ_FOLDER_APPDATA", args[0].c_str(), 1);
  ReportCapture capture;
  GUISetWindowOps(PlatWindowHeadless());
  char reason[16];
  PlatWindowHeadless()->open_display(reason, sizeof reason);
  GUILoadClientPrefs();
  GUILoadFontFiles();
  std::ofstream out(args[1]);
  for (const std::string& e : capture.errors) out << e << '\n';
  return 0;
}

TEST(Fonts, FirstDefinitionOfAClassInASetWins) {
  FontSystem sys;
  WriteLines(sys.AppData() + "/tqsfont.def", {
                                                 "FontClass, text, Facename=First Face, PointSize=9",
                                                 "FontClass, text, Facename=Second Face, PointSize=11, bold",
                                                 "FontName, wide",
                                                 "FontClass, TEXT, Facename=Wide Face",
                                             });
  WriteLines(sys.EtcFont(), {"FontClass,text,Facename=Default File Face", "FontClass,label,Facename=Label Face"});
  ReportCapture capture;
  EXPECT_EQ(sys.Load(), 0);
  EXPECT_EQ(FaceOf("text"), "First Face");
  EXPECT_EQ(GUIFindFontClass("Text", "Default")->points, 9);
  EXPECT_EQ(GUIFindFontClass("text", "default")->weight, GUI_WEIGHT_NORMAL);
  EXPECT_EQ(FaceOf("text", "wide"), "Wide Face"); // another set is another definition
  EXPECT_EQ(FaceOf("label"), "Label Face");       // the later file still adds classes
  EXPECT_TRUE(capture.errors.empty());
}

TEST(Fonts, PointSizeIncrementAddsTheClientsFontSizeInc) {
  FontSystem sys;
  WriteLines(sys.UserPrefs(), {"FontSizeInc 1"});
  WriteLines(sys.EtcFont(), {
                                "FontClass, before, Facename=DejaVu Sans, PointSize=9",
                                "PointSizeInc, 2",
                                "FontClass, text, Facename=DejaVu Sans, PointSize=9",
                                "FontClass, plain, Facename=DejaVu Sans",
                            });
  EXPECT_EQ(sys.Load(), 0);
  EXPECT_EQ(GUIFindFontClass("before", "default")->points, 10); // FontSizeInc alone before any PointSizeInc
  EXPECT_EQ(GUIFindFontClass("text", "default")->points, 12);
  EXPECT_EQ(GUIFindFontClass("plain", "default")->points, 7.5 + 3);
  // 12 points at 96 dots per inch: 16 pixels (the headless line height is
  // h + (h + 4) / 5).
  GUIFont* f = GUIGetFont("text", "default", 0);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->metrics.line_height, 16 + 4);
}

TEST(Fonts, FontClassLines) {
  const struct {
    const char* line;
    std::string face;
    double points;
    int weight, underline, italic;
  } cases[] = {
      {"FontClass,c,Facename=DejaVu Sans,PointSize=9,bold,italic,ul", "DejaVu Sans", 9, 700, 1, 1},
      {"fontclass , c , FACENAME = Spaced Face , pointsize = 10 , DIM", "Spaced Face", 10, 300, 0, 0},
      {"FontClass\tc\tFacename=Tabbed\tUnderline", "Tabbed", 7.5, 400, 1, 0},
      {"FontClass,c,bold,normal", "Courier", 7.5, 400, 0, 0},     // the later attribute wins
      {"FontClass,c,unknown,,,Facename=", "Courier", 7.5, 400, 0, 0}, // an empty face keeps the default
      {"FontClass,c,FacenameX=No", "Courier", 7.5, 400, 0, 0},    // not the attribute Facename
      {"FontClass,c,PointSize=abc", "Courier", 7.5, 400, 0, 0},
      {"FontClass,c,PointSize=1e9", "Courier", 7.5, 400, 0, 0},   // not a decimal number filling the field
      {"FontClass,c,PointSize=-5", "Courier", -5, 400, 0, 0},
      {"FontClass,c,PointSize=1000000000", "Courier", kGUIFontPointsMax, 400, 0, 0},
      {"FontClass,c,PointSize=8.25", "Courier", 8.25, 400, 0, 0},
      {"FontClass,c\n Facename=Continued\n\tbold", "Continued", 7.5, 700, 0, 0},
  };
  for (const auto& c : cases) {
    FontSystem sys;
    sys.WriteFile("home-tq/etc/tqsfont.def", std::string(c.line) + "\n");
    ReportCapture capture;
    EXPECT_EQ(sys.Load(), 0) << c.line;
    const GUIFontClass* d = GUIFindFontClass("c", "default");
    ASSERT_NE(d, nullptr) << c.line;
    EXPECT_EQ(d->face, c.face) << c.line;
    EXPECT_EQ(d->points, c.points) << c.line;
    EXPECT_EQ(d->weight, c.weight) << c.line;
    EXPECT_EQ(d->underline, c.underline) << c.line;
    EXPECT_EQ(d->italic, c.italic) << c.line;
    EXPECT_TRUE(capture.errors.empty()) << c.line;
  }
}

TEST(Fonts, PixelHeightsAreRoundedAndBounded) {
  const struct {
    double points;
    int res;
    int pixels;
  } cases[] = {
      {12, 96, 16}, {7.5, 96, 10}, {9, 96, 12}, {9, 120, 15}, {8.25, 96, 11}, {0.1, 96, 1},
      {0, 96, 1},   {-5, 96, 1},   {kGUIFontPointsMax, 96, kGUIFontPixelsMax}, {12, 0, 16}, {12, -7, 16},
  };
  for (const auto& c : cases)
    EXPECT_EQ(GUIFontPixelHeight(c.points, c.res), c.pixels) << c.points << " at " << c.res;
  // A negative and a huge point size still give usable fonts.
  FontSystem sys;
  WriteLines(sys.EtcFont(), {"FontClass,neg,Facename=DejaVu Sans,PointSize=-5",
                             "FontClass,huge,Facename=DejaVu Sans,PointSize=99999999999999999999999"});
  EXPECT_EQ(sys.Load(), 0);
  GUIFont* neg = GUIGetFont("neg", "default", 0);
  GUIFont* huge = GUIGetFont("huge", "default", 0);
  ASSERT_NE(neg, nullptr);
  ASSERT_NE(huge, nullptr);
  EXPECT_EQ(neg->metrics.line_height, 1 + 1);
  EXPECT_EQ(huge->metrics.line_height, kGUIFontPixelsMax + (kGUIFontPixelsMax + 4) / 5);
}

TEST(Fonts, ClassWithoutAttributesIsABadFontClass) {
  FontSystem sys;
  WriteLines(sys.EtcFont(), {"FontClass, lonely", "FontClass", "FontClass, fine, bold"});
  ReportCapture capture;
  EXPECT_EQ(sys.Load(), -1);
  EXPECT_EQ(capture.errors, (Lines{"Bad Font Class: lonely", "Bad Font Class: "}));
  EXPECT_EQ(GUIFindFontClass("lonely", "default"), nullptr);
  EXPECT_NE(GUIFindFontClass("fine", "default"), nullptr);
}

TEST(Fonts, FieldsBeyondTwentyAreIgnored) {
  // Fields 1-2 keyword and class, then 17 attributes that change nothing.
  std::string line = "FontClass,c";
  for (int i = 3; i <= 19; ++i) line += ",pad" + std::to_string(i);
  const struct {
    std::string line;
    int weight;
  } cases[] = {
      {line + ",bold", GUI_WEIGHT_BOLD},                          // field 20
      {line + ",pad20,bold", GUI_WEIGHT_NORMAL},                  // field 21
      {line + ",pad20,pad21,pad22,pad23,bold", GUI_WEIGHT_NORMAL}, // field 25
      {line + ",,,, ,bold", GUI_WEIGHT_BOLD},                     // empty fields do not count
  };
  for (const auto& c : cases) {
    FontSystem sys;
    WriteLines(sys.EtcFont(), {c.line});
    EXPECT_EQ(sys.Load(), 0);
    ASSERT_NE(GUIFindFontClass("c", "default"), nullptr) << c.line;
    EXPECT_EQ(GUIFindFontClass("c", "default")->weight, c.weight) << c.line;
  }
}

TEST(Fonts, FilesAreFoundInOrderAndPlace) {
  FontSystem sys;
  sys.SetEnv("TQ_TEST_FONTS", sys.path("fonts").c_str());
  WriteLines(sys.UserPrefs(), {"FontFileList rel.def, " + sys.path("abs.def") +
                               " , ${TQ_TEST_FONTS}/var.def,missing.def,C:/drive.def"});
  WriteLines(sys.GlobalPrefs(), {"FontFileList site.def, nosite.def"});
  WriteLines(sys.AppData() + "/rel.def", {"FontClass,a,Facename=Relative", "FontClass,shared,Facename=User"});
  WriteLines(sys.path("abs.def"), {"FontClass,b,Facename=Absolute"});
  WriteLines(sys.path("fonts/var.def"), {"FontClass,c,Facename=Variable"});
  WriteLines(sys.AppData() + "/tqsfont.def", {"FontClass,d,Facename=User Default"}); // not read: the list wins
  WriteLines(sys.CommonData() + "/site.def", {"FontClass,shared,Facename=Site", "FontClass,e,Facename=Site"});
  WriteLines(sys.CommonData() + "/tqsfont.def", {"FontClass,f,Facename=Common Default"}); // not read either
  ReportCapture capture;
  EXPECT_EQ(sys.Load(), -1);
  EXPECT_EQ(FaceOf("a"), "Relative");
  EXPECT_EQ(FaceOf("b"), "Absolute");
  EXPECT_EQ(FaceOf("c"), "Variable");
  EXPECT_EQ(FaceOf("d"), "<none>");
  EXPECT_EQ(FaceOf("shared"), "User");
  EXPECT_EQ(FaceOf("e"), "Site");
  EXPECT_EQ(FaceOf("f"), "<none>");
  EXPECT_EQ(capture.errors,
            (Lines{"Error opening Current User font file: " + sys.AppData() + "/missing.def, errno: 2",
                   "Error opening Current User font file: C:/drive.def, errno: 2",
                   "Error opening All Users font file: " + sys.CommonData() + "/nosite.def, errno: 2"}));
}

TEST(Fonts, DefaultFilesWithoutLists) {
  const struct {
    const char* name;
    bool user, common, etc, lib;
    Lines faces; // of classes u, c, e, l
    bool error;  // "Error opening default font file"
  } cases[] = {
      {"user and common", true, true, true, true, {"U", "C", "<none>", "<none>"}, false},
      {"etc_dir when common is missing", false, false, true, true, {"<none>", "<none>", "E", "<none>"}, false},
      {"lib_dir last", false, false, false, true, {"<none>", "<none>", "<none>", "L"}, false},
      {"none: the last candidate is named", true, false, false, false, {"U", "<none>", "<none>", "<none>"}, true},
  };
  for (const auto& c : cases) {
    FontSystem sys;
    if (c.user) WriteLines(sys.AppData() + "/tqsfont.def", {"FontClass,u,Facename=U"});
    if (c.common) WriteLines(sys.CommonData() + "/tqsfont.def", {"FontClass,c,Facename=C"});
    if (c.etc) WriteLines(sys.EtcFont(), {"FontClass,e,Facename=E"});
    if (c.lib) WriteLines(sys.home() + "/lib/tqsfont.def", {"FontClass,l,Facename=L"});
    ReportCapture capture;
    EXPECT_EQ(sys.Load(), c.error ? -1 : 0) << c.name;
    EXPECT_EQ((Lines{FaceOf("u"), FaceOf("c"), FaceOf("e"), FaceOf("l")}), c.faces) << c.name;
    Lines expected;
    if (c.error) expected.push_back("Error opening default font file: " + sys.home() + "/lib/tqsfont.def, errno: 2");
    EXPECT_EQ(capture.errors, expected) << c.name;
  }
}

TEST(Fonts, AtMostTwentyListedFilesAreRead) {
  FontSystem sys;
  std::string list = "FontFileList ";
  for (int i = 1; i <= 30; ++i) {
    if (i > 1) list += ",";
    list += "f" + std::to_string(i) + ".def";
    // Files 21 to 30 do not exist: they are not even tried.
    if (i <= 20) WriteLines(sys.AppData() + "/f" + std::to_string(i) + ".def", {"FontClass,c" + std::to_string(i) + ",bold"});
  }
  WriteLines(sys.UserPrefs(), {list});
  WriteLines(sys.EtcFont(), {"FontClass,default,Facename=DejaVu Sans"});
  ReportCapture capture;
  EXPECT_EQ(sys.Load(), 0);
  for (int i = 1; i <= 20; ++i) EXPECT_NE(GUIFindFontClass(("c" + std::to_string(i)).c_str(), "default"), nullptr) << i;
  EXPECT_TRUE(capture.errors.empty());
}

TEST(Fonts, UnreadableFilesAreReportedForAnOrdinaryUser) {
  if (!TqIsAdmin()) GTEST_SKIP() << "needs the administrator to act as another user";
  FontSystem sys;
  TqUser user = TqOutsider();
  GiveDirTo(sys, sys.path("user-appdata/TQ"), user);
  std::string listed = sys.path("user-appdata/TQ/secret.def");
  WriteLines(listed, {"FontClass,secret,bold"});
  ASSERT_EQ(::chmod(listed.c_str(), 0600), 0);
  WriteLines(sys.path("user-appdata/TQ/cl-pref.txt"), {"FontFileList secret.def"});
  ASSERT_EQ(::chown(sys.path("user-appdata/TQ/cl-pref.txt").c_str(), user.uid, user.gid), 0);
  // The all-users default candidates exist but only the administrator may read them.
  WriteLines(sys.CommonData() + "/tqsfont.def", {"FontClass,x,bold"});
  WriteLines(sys.EtcFont(), {"FontClass,x,bold"});
  WriteLines(sys.home() + "/lib/tqsfont.def", {"FontClass,x,bold"});
  for (const std::string& f : {sys.CommonData() + "/tqsfont.def", sys.EtcFont(), sys.home() + "/lib/tqsfont.def"})
    ASSERT_EQ(::chmod(f.c_str(), 0600), 0);
  TqOpenTreeForUsers(sys.root());
  std::string reports = sys.path("user-appdata/reports.txt");
  EXPECT_EQ(TqRunChildAs(user, "fonts_load_as_user", {sys.path("user-appdata"), reports}), 0);
  EXPECT_EQ(ReadLines(reports),
            (Lines{"Error opening Current User font file: " + listed + ", errno: " + std::to_string(EACCES),
                   "Error opening default font file: " + sys.home() + "/lib/tqsfont.def, errno: " +
                       std::to_string(EACCES)}));
}

TEST(Fonts, MandatoryRequestsFallBackToTheSystemFixedFont) {
  const struct {
    const char* name;
    Lines file;
    const char* cls;
    const char* set;
    int mandatory;
    std::string got;
  } cases[] = {
      {"the class itself", {"FontName,s", "FontClass,k,bold", "FontClass,default,bold"}, "k", "s", 1, "k/s"},
      {"default of the set", {"FontName,s", "FontClass,default,bold", "FontName,default", "FontClass,k,bold"},
       "k", "s", 1, "default/s"},
      {"the class in set default", {"FontClass,k,bold", "FontClass,default,bold"}, "k", "s", 1, "k/default"},
      {"default of default", {"FontClass,default,bold", "FontName,t", "FontClass,k,bold"}, "k", "s", 1,
       "default/default"},
      {"nothing defined", {"FontName,t", "FontClass,k,bold"}, "k", "s", 1, "<system fixed>"},
      {"not mandatory", {"FontClass,default,bold"}, "k", "s", 0, "<null>"},
      {"MBMenu is always the system fixed font", {"FontClass,MBMenu,Facename=DejaVu Sans"}, "mbmenu", "default", 0,
       "<system fixed>"},
      {"names in any case", {"FontName,Wide", "FontClass,Heading,bold"}, "HEADING", "wide", 0, "Heading/Wide"},
  };
  for (const auto& c : cases) {
    FontSystem sys;
    WriteLines(sys.EtcFont(), c.file);
    ReportCapture capture;
    sys.Load();
    EXPECT_EQ(Describe(GUIGetFont(c.cls, c.set, c.mandatory)), c.got) << c.name;
    // Asking again gives the same instance.
    EXPECT_EQ(GUIGetFont(c.cls, c.set, c.mandatory), GUIGetFont(c.cls, c.set, c.mandatory)) << c.name;
  }
}

TEST(Fonts, FontTheWindowSystemCannotMakeIsReportedOnceAndFallsBack) {
  FontSystem sys;
  static const PlatWindowOps broken = BrokenFaceOps();
  GUISetWindowOps(&broken);
  GUIRefreshScreen();
  WriteLines(sys.EtcFont(), {"FontClass,k,Facename=Broken", "FontClass,default,Facename=DejaVu Sans"});
  ReportCapture capture;
  EXPECT_EQ(sys.Load(), 0);
  EXPECT_EQ(GUIGetFont("k", "default", 0), nullptr);
  EXPECT_EQ(Describe(GUIGetFont("k", "default", 1)), "default/default");
  EXPECT_EQ(capture.errors, Lines{"Error Creating Font: k, default"});
}

TEST(Fonts, WithoutADisplayFontsMeasureAtTheDialogBaseUnit) {
  FontSystem sys;
  WriteLines(sys.EtcFont(), {"FontClass,default,Facename=DejaVu Sans,PointSize=12"});
  ReportCapture capture;
  EXPECT_EQ(sys.Load(), 0);
  EXPECT_TRUE(capture.errors.empty());
  GUIFreeFonts();
  PlatWindowHeadless()->close_display();
  EXPECT_EQ(GUILoadFontFiles(), 0);
  EXPECT_EQ(capture.errors, Lines{"Cannot CreateDC() in _GUIGetDefHDC()"}); // once, for both title fonts
  GUIFont* f = GUIGetFont("default", "default", 1);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->font, nullptr);
  const PlatScreenMeasures* s = GUIScreen();
  EXPECT_EQ(f->metrics.fixed_pitch, 1);
  EXPECT_EQ(f->metrics.avg_width, s->base_unit_x);
  EXPECT_EQ(GUITextWidth(f, "Hello", 5), 5 * s->base_unit_x);
  EXPECT_EQ(GUICharsWidth(f, 7, 0), 7 * s->base_unit_x);
}

TEST(Fonts, TitleFontsAreFixedAfterLoading) {
  const struct {
    const char* name;
    Lines file;
    std::string panel, radio;
  } cases[] = {
      {"own classes", {"FontClass,pnltitle,bold", "FontClass,rbtitle,bold", "FontClass,rbgroup,bold"},
       "pnltitle/default", "rbtitle/default"},
      {"rbgroup for the radio title", {"FontClass,default,bold", "FontClass,rbgroup,italic"}, "default/default",
       "rbgroup/default"},
      {"default for both", {"FontClass,default,bold"}, "default/default", "default/default"},
      {"nothing", {"FontName,other", "FontClass,default,bold"}, "<system fixed>", "<system fixed>"},
  };
  for (const auto& c : cases) {
    FontSystem sys;
    WriteLines(sys.EtcFont(), c.file);
    sys.Load();
    EXPECT_EQ(Describe(GUIPanelTitleFont()), c.panel) << c.name;
    EXPECT_EQ(Describe(GUIRadioTitleFont()), c.radio) << c.name;
  }
}

TEST(Fonts, FormCellDefaultsFirstSettingWins) {
  FontSystem sys;
  // At 96 dots per inch, dialog base units 8 x 16 (headless).
  WriteLines(sys.AppData() + "/tqsfont.def", {"MinColWidth, 10d", "PrefRowHeight, 0.5i", "MinRowHeight, -3"});
  WriteLines(sys.EtcFont(), {"PrefColWidth, 30", "MinColWidth, 99", "MinRowHeight, 12pt", "PrefRowHeight, 7"});
  EXPECT_EQ(sys.Load(), 0);
  const GUIFormCells* cells = GUIFormCellDefaults();
  EXPECT_EQ(cells->min_col_width, 20);   // 10 * 8 / 4, the first file's
  EXPECT_EQ(cells->pref_col_width, 30);  // its own keyword wins over the partner's value
  EXPECT_EQ(cells->pref_row_height, 48); // half an inch
  EXPECT_EQ(cells->min_row_height, 16);  // -3 ignored; 12 points is 16 pixels
  GUIFreeFonts();
  EXPECT_EQ(GUIFormCellDefaults()->min_col_width, -1);
  EXPECT_EQ(GUIFormCellDefaults()->pref_row_height, -1);
}

TEST(Fonts, BadFontFilesNeverCrash) {
  std::string binary;
  for (int i = 0; i < 8192; ++i) binary += static_cast<char>((i * 37 + 11) & 0xFF);
  std::string many;
  for (int i = 0; i < 10000; ++i) many += "FontClass,k" + std::to_string(i) + ",bold\n";
  const struct {
    const char* name;
    std::string text;
  } cases[] = {
      {"binary", binary},
      {"NUL bytes", std::string("FontClass,k\0,bold\nFontClass\0\n\0\0\0\n", 33)},
      {"a 100,000-byte line", "FontClass,k,Facename=" + std::string(100000, 'F') + "\n"},
      {"100,000 commas", "FontClass,k" + std::string(100000, ',') + "\n"},
      {"10,000 classes", many},
      {"huge numbers", "PointSizeInc," + std::string(400, '9') + "\nFontClass,k,PointSize=" + std::string(400, '9') +
                           "\nMinColWidth," + std::string(400, '9') + "i\n"},
      {"keywords without fields", "PointSizeInc\nFontName\nMinColWidth\nPrefRowHeight\n"},
  };
  for (const auto& c : cases) {
    FontSystem sys;
    sys.WriteFile("home-tq/etc/tqsfont.def", c.text + "\nFontClass,after,Facename=DejaVu Sans\n");
    ReportCapture capture;
    sys.Load();
    EXPECT_EQ(FaceOf("after"), "DejaVu Sans") << c.name;
    GUIFont* f = GUIGetFont("k", "default", 1);
    ASSERT_NE(f, nullptr) << c.name;
    EXPECT_GE(f->metrics.line_height, 1) << c.name;
    EXPECT_LE(GUIFormCellDefaults()->min_col_width, kGUIFontPixelsMax * 1000) << c.name;
  }
}

TEST(Fonts, TextWidth) {
  FontSystem sys;
  WriteLines(sys.EtcFont(), {"FontClass,prop,Facename=DejaVu Sans,PointSize=12",
                             "FontClass,mono,Facename=DejaVu Sans Mono,PointSize=12"});
  EXPECT_EQ(sys.Load(), 0);
  GUIFont* prop = GUIGetFont("prop", "default", 0);
  GUIFont* mono = GUIGetFont("mono", "default", 0);
  ASSERT_NE(prop, nullptr);
  ASSERT_NE(mono, nullptr);
  ASSERT_EQ(mono->metrics.fixed_pitch, 1);
  ASSERT_EQ(prop->metrics.fixed_pitch, 0);
  // Headless at 16 pixels: "i" advances 4, "W" 14.
  EXPECT_EQ(GUITextWidth(prop, "iW", 2), 4 + 14);
  EXPECT_EQ(GUITextWidth(prop, "iWxyz", 2), 4 + 14); // only `length` bytes
  // Fixed pitch: characters times the average width; UTF-8 "\xc3\xa9" is one.
  EXPECT_EQ(GUITextWidth(mono, "ab\xc3\xa9", 4), 3 * mono->metrics.avg_width);
  EXPECT_EQ(GUITextWidth(mono, "", 0), 0);
  EXPECT_EQ(GUITextWidth(nullptr, "x", 1), 0);
}

TEST(Fonts, CharsWidthShareTable) {
  // A proportional font with average 10 and maximum 30 (difference 20).
  GUIFont prop = {};
  prop.metrics = PlatFontMetrics{0, 10, 30, 20, 4};
  const struct {
    int n;
    int width;
  } cases[] = {
      {1, 10 + 20 * 50 / 100},      {2, 20 + 40 * 40 / 100},     {3, 30 + 60 * 40 / 100},
      {4, 40 + 80 * 30 / 100},      {7, 70 + 140 * 30 / 100},    {8, 80 + 160 * 20 / 100},
      {15, 150 + 300 * 20 / 100},   {16, 160 + 320 * 10 / 100},  {31, 310 + 620 * 10 / 100},
      {32, 320},                    {40, 400},                   {0, 0},
      {-3, 0},                      {kGUICharsMax + 5, kGUICharsMax * 10},
  };
  for (const auto& c : cases) EXPECT_EQ(GUICharsWidth(&prop, c.n, 0), c.width) << c.n;
  GUIFont fixed = {};
  fixed.metrics = PlatFontMetrics{1, 9, 9, 18, 4};
  EXPECT_EQ(GUICharsWidth(&fixed, 1, 0), 9);
  EXPECT_EQ(GUICharsWidth(&fixed, 5, 1), 45);
}

TEST(Fonts, CharsWidthOfARealFont) {
  FontSystem sys;
  WriteLines(sys.EtcFont(), {"FontClass,prop,Facename=DejaVu Sans,PointSize=12"});
  EXPECT_EQ(sys.Load(), 0);
  GUIFont* f = GUIGetFont("prop", "default", 0);
  ASSERT_NE(f, nullptr);
  const PlatFontMetrics& m = f->metrics;
  ASSERT_GT(m.max_width, m.avg_width);
  EXPECT_EQ(GUICharsWidth(f, 1, 0), m.avg_width + (m.max_width - m.avg_width) / 2);
  EXPECT_EQ(GUICharsWidth(f, 40, 0), 40 * m.avg_width);
  // A numeric field: the width of n zeros ("0" advances 8 at 16 pixels).
  EXPECT_EQ(GUICharsWidth(f, 6, 1), 6 * 8);
  EXPECT_EQ(GUICharsWidth(f, 6, 1), GUITextWidth(f, "000000", 6));
}

TEST(Fonts, InstalledDefaultFileDefinesEveryDefaultClass) {
  FontSystem sys;
  std::filesystem::create_directories(sys.home() + "/etc");
  std::filesystem::copy_file(std::string(TQ_SOURCE_DIR) + "/dist/etc/tqsfont.def", sys.EtcFont());
  ReportCapture capture;
  EXPECT_EQ(sys.Load(), 0);
  for (const char* cls : {"default", "tabf", "list", "listview", "text", "label", "pushb", "checkbox", "rbgroup",
                          "rbtitle", "optmenu", "listhdr", "listdet", "treeview", "pnltitle", "sidelabel", "toplabel",
                          "hsep", "vsep"}) {
    const GUIFontClass* d = GUIFindFontClass(cls, "default");
    ASSERT_NE(d, nullptr) << cls;
    EXPECT_TRUE(d->face == "DejaVu Sans" || d->face == "DejaVu Sans Mono") << cls << ": " << d->face;
    GUIFont* f = GUIGetFont(cls, "default", 0);
    ASSERT_NE(f, nullptr) << cls;
    EXPECT_NE(f->font, nullptr) << cls;
  }
  EXPECT_EQ(Describe(GUIPanelTitleFont()), "pnltitle/default");
  EXPECT_EQ(Describe(GUIRadioTitleFont()), "rbtitle/default");
  EXPECT_TRUE(capture.errors.empty());
}
