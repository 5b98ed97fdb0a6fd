// Fonts of the toolkit: the font definition files ("tqsfont.def"), font
// instances made on first use through the window-system instance, and text
// measurement for layout.
//
// Files, read in this order (a class defined once per font set: the files
// read first win):
//  1. the user's FontFileList (user value; names relative to RV_APPDATA
//     unless they begin with "/", "\", "$" - expanded - or a drive letter
//     and ":/" or ":\"), else "tqsfont.def" in RV_APPDATA when it exists;
//  2. the global FontFileList (relative to RV_COMMONAPPDATA), else
//     "tqsfont.def" in RV_COMMONAPPDATA, else in etc_dir, else in lib_dir.
// A FontFileList gives at most kGUIFontFilesMax names (commas between them,
// blanks around them ignored, empty names skipped); the rest is ignored.
//
// File syntax (runtime/text_lines.h with "#" at a line's start): each
// logical line is split at commas, tabs and line ends into at most
// kGUIFontFieldsMax fields (blanks around a field ignored, empty fields
// skipped, fields beyond the limit ignored). The first field is the keyword,
// any case:
//   PointSizeInc, n      the increment for the following classes of the
//                        file: n plus FontSizeInc (each file starts with
//                        FontSizeInc alone)
//   FontName, set        the font set for the following classes of the
//                        file (each file starts with "default")
//   FontClass, class, attributes...
//                        defines the class in the current set: Facename=
//                        face, PointSize=points, bold, dim, normal, ul or
//                        underline, italic (any case; blanks around "="
//                        allowed; a later attribute wins over an earlier
//                        one); without attributes "Bad Font Class: %s"
//   MinColWidth, PrefColWidth, MinRowHeight, PrefRowHeight, length
//                        form cell defaults (gui/length.h; columns
//                        horizontal, rows vertical); setting a minimum or
//                        preferred size also sets the other when unset
// Class and set names compare without regard to the case of ASCII letters.
// Numbers are decimal (gui/length.h GUIParseDecimal) and must fill their
// field; a PointSize or PointSizeInc that is not a number is ignored, and
// numbers count at most kGUIFontPointsMax in magnitude.
#pragma once

#include <cstddef>
#include <string>

#include "platform/window.h"

// Most names a FontFileList gives.
constexpr int kGUIFontFilesMax = 20;
// Most fields of a font file line.
constexpr int kGUIFontFieldsMax = 20;
// Largest magnitude of a point size or increment as read.
constexpr double kGUIFontPointsMax = 10000;
// Tallest font asked of the window system, in pixels; a point size giving
// less than 1 pixel asks for 1.
constexpr int kGUIFontPixelsMax = 1000;
// Most characters chars(n) measures (a larger n counts as this).
constexpr int kGUICharsMax = 10000;
// Point size of a class without PointSize (before the increment).
constexpr double kGUIFontDefaultPoints = 7.5;
// Face of a class without Facename.
constexpr char kGUIFontDefaultFace[] = "Courier";

// Font weights.
enum GUIFontWeight {
  GUI_WEIGHT_DIM = 300,
  GUI_WEIGHT_NORMAL = 400,
  GUI_WEIGHT_BOLD = 700,
};

// One class definition of a font file.
struct GUIFontClass {
  std::string cls;  // class name as first written
  std::string set;  // font set ("default" unless a FontName line chose one)
  std::string face; // face name
  double points;    // point size, increment included
  int weight;       // GUIFontWeight
  int underline;    // 1 underlined
  int italic;       // 1 italic
};

// One font instance.
struct GUIFont {
  std::string cls;          // class name (empty for the system fixed font)
  std::string set;          // font set (empty for the system fixed font)
  PlatFont* font;           // the window system's font; null when made without a display
  int owned;                // 1: freed with the instance's font_free
  const PlatWindowOps* ops; // the window-system instance that made it (null: the selected one)
  PlatFontMetrics metrics;  // its measures
};

// Form cell defaults of the font files, in pixels; -1 when unset.
struct GUIFormCells {
  int min_col_width;   // MinColWidth
  int pref_col_width;  // PrefColWidth
  int min_row_height;  // MinRowHeight
  int pref_row_height; // PrefRowHeight
};

// Reads the font files (during GUIInit, after the client preferences and
// with the display open), forgetting earlier definitions and instances
// first; then fixes the panel title font ("pnltitle", mandatory) and the
// radio-group title font ("rbtitle", else "rbgroup", mandatory) of set
// "default". Reports "Error opening Current User font file: %s, errno: %d",
// "Error opening All Users font file: %s, errno: %d", "Error opening
// default font file: %s, errno: %d" and the errors of the lines. 0, or -1
// when any of those was reported.
int GUILoadFontFiles();

// Reads the font definitions of `text` as one more font file (tests and
// the fuzzer; GUILoadFontFiles uses the same reader).
void GUIReadFontText(const char* text, size_t length);

// The definition of (class, set), or null.
const GUIFontClass* GUIFindFontClass(const char* cls, const char* set);

// The font of (class, set), made on first use from its definition. With
// `mandatory` 1 it never fails: (default, set), (class, default), (default,
// default) and the system fixed font are tried in turn; otherwise null when
// (class, set) cannot be had. Class "MBMenu" always gives the system fixed
// font. A font the window system cannot make is reported once as "Error
// Creating Font: %s, %s" (class, set). Without a display ("Cannot
// CreateDC() in _GUIGetDefHDC()", reported once per load) a font is made
// without a window-system font, measuring every character as the dialog
// base unit wide. Valid until GUIFreeFonts or the next GUILoadFontFiles.
GUIFont* GUIGetFont(const char* cls, const char* set, int mandatory);

// The system fixed font (never null).
GUIFont* GUISystemFixedFont();

// The panel and radio-group title fonts fixed by GUILoadFontFiles (the
// system fixed font before).
GUIFont* GUIPanelTitleFont();
GUIFont* GUIRadioTitleFont();

// The form cell defaults of the font files read.
const GUIFormCells* GUIFormCellDefaults();

// The pixel height of `points` at `res_y` pixels per inch (96 when not
// positive): floor(points * res_y / 72 + 0.5), at least 1 and at most
// kGUIFontPixelsMax. Pure.
int GUIFontPixelHeight(double points, int res_y);

// The width in pixels of `length` bytes of UTF-8 `text` in `font`: for a
// fixed-pitch font the number of characters (bytes other than UTF-8
// continuation bytes) times the average width, else the window system's
// measure. 0 for a null font or text.
int GUITextWidth(const GUIFont* font, const char* text, size_t length);

// The layout unit chars(n): n average characters of `font` (n at most
// kGUICharsMax, 0 for n below 1). Fixed pitch: n times the average width.
// Proportional: for a numeric, date or time field (`numeric` 1) the width
// of n zeros; otherwise n times the average width plus a share of n times
// the difference between the maximum and the average width: 50 % for n
// below 2, 40 % below 4, 30 % below 8, 20 % below 16, 10 % below 32, none
// from 32 on (rounded down).
int GUICharsWidth(const GUIFont* font, int n, int numeric);

// Releases every font instance and forgets the definitions and the form
// cell defaults (at toolkit shutdown). Fonts still held when the program
// ends are not released by anything else.
void GUIFreeFonts();
