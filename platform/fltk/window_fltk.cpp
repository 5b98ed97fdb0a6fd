// The FLTK window system: FLTK 1.3 on X11, fonts through Xft and fontconfig.
//
// Display. open_display opens $DISPLAY with XOpenDisplay itself and only
// then hands the connection to FLTK (fl_open_display(Display*)), so that a
// missing or unreachable display is a failure with a reason, never FLTK's
// fatal exit. The display opens once per process: later calls return the
// first result, and after close_display it stays closed (FLTK keeps state
// per connection that it cannot reset). X protocol errors are written to
// standard error and do not end the program, as Xlib's own handler would.
// The process locale is left alone (FLTK's own opening would set LC_CTYPE
// from the environment).
//
// Fonts. FLTK knows an Xft face by a family name behind a style letter (' '
// regular, 'B' bold, 'I' italic, 'P' bold italic) and sizes it in pixels.
// Each distinct request (face, bold, italic, dim) gets an FLTK font number
// of its own from FL_FREE_FONT on, kept for the life of the process; a null
// or empty face is FLTK's default label face (FL_HELVETICA, which is
// fontconfig's "sans").
//  - A family that fontconfig does not have is replaced by fontconfig's
//    substitute, as for every program of the system. A name containing
//    "Courier" or "Mono" (any case) whose substitute is not fixed pitch is
//    asked for as "monospace" instead, so such faces are fixed pitch here as
//    on the headless instance.
//  - Weight 600 or more is bold. Dim (weight 1 to 399) takes the typeface's
//    light face where fontconfig has one under a family name of its own
//    ("DejaVu Sans Light" beside "DejaVu Sans"), else the normal weight.
//  - Italic takes the italic or oblique face. Underline is only kept in the
//    font: the toolkit draws it.
//  - font_create gives null only when fontconfig has no font at all.
//  - Pixel heights above 1000 are made 1000.
// The metrics FLTK does not give are computed once per font from its
// advances (fl_width, whole pixels under Xft):
//  - average width = (extent of the 52 ASCII letters / 26 + 1) / 2, half
//    the width of a letter pair rounded, as on the headless instance;
//  - maximum width = widest advance of 0x20-0x7E;
//  - fixed pitch = every advance of 0x20-0x7E is equal;
//  - line height = ascent + descent (fl_height); descent = fl_descent.
// text_width is fl_width of the UTF-8 bytes (the sum of Xft's advances, no
// kerning); it leaves the measured font selected in FLTK's drawing state,
// which every FLTK widget sets again before it draws text. The system fixed
// font is FLTK's courier face (FL_COURIER, fontconfig's "mono") at 13 pixels.
//
// Screen measures. Pending X events are taken in first (XSync, Fl::check),
// so that a work area or screen change made a moment ago is seen; like any
// Fl::check this may run callbacks of shown windows.
//  - screen: FLTK's screen 0 (Fl::screen_xywh; Fl::w() and Fl::h() are the
//    work area in FLTK 1.3);
//  - work area: Fl::screen_work_area of screen 0, which honours the root's
//    _NET_WORKAREA when there is one screen; monitors: each screen's work
//    area (at most kPlatMaxMonitors);
//  - resolution: Fl::screen_dpi of screen 0, rounded (96 when FLTK has none);
//  - edges: Fl::box_dx/dy of FL_DOWN_BOX, the frame of an input field;
//    borders: those of FL_BORDER_BOX;
//  - scroll bar width and height and the arrow height: Fl::scrollbar_size()
//    (the arrow buttons of an FLTK scroll bar are square);
//  - check mark: FL_NORMAL_SIZE, the side of the square FLTK draws a check
//    button's box in at the default label size;
//  - dialog base units: average width and line height of the default label
//    font (FL_HELVETICA at FL_NORMAL_SIZE), by the rules above;
//  - touch: never ready.
//
// Themes: 1 selects FLTK's "gtk+" scheme, 0 the plain one ("none"); FLTK
// also puts the choice into FLTK_SCHEME of the environment, which programs
// started later inherit.
#include <FL/Fl.H>
#include <FL/Fl_Window.H>
#include <FL/fl_ask.H>
#include <FL/fl_draw.H>
#include <FL/x.H>
#include <X11/Xlib.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <strings.h>

#include "platform/fltk/fltk_local.h"

struct PlatFont {
  Fl_Font face;             // FLTK font number
  int size;                 // pixel height
  int underline;            // 1: the toolkit underlines text in this font
  int owned_by_instance;    // the system fixed font
  PlatFontMetrics metrics;  // measured when the font was made
};

namespace {

// Where the display is.
enum FltkDisplayState { kNotTried, kOpen, kFailed, kClosed };

// One requested face and the FLTK font number it has.
struct FltkFace {
  char requested[128];  // the face asked for
  int bold;
  int italic;
  int dim;
  char fltk_name[132];  // style letter and family, as FLTK reads it (FLTK
                        // keeps a pointer to this text)
};

constexpr int kMaxFaces = 256;
constexpr int kMaxPixelHeight = 1000;
constexpr int kSystemFixedHeight = 13;
constexpr int kFallbackDpi = 96;
constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

std::mutex g_mutex;
FltkDisplayState g_state = kNotTried;
char g_reason[256] = "";
FltkFace g_faces[kMaxFaces];
int g_face_count = 0;
PlatFont g_system_fixed = {};

// Reports an X protocol error and lets the program go on.
int ReportXError(Display* display, XErrorEvent* e) {
  char text[160] = "";
  XGetErrorText(display, e->error_code, text, sizeof text);
  std::fprintf(stderr, "X error: %s (request %d.%d, resource 0x%lx)\n", text, e->request_code, e->minor_code,
               static_cast<unsigned long>(e->resourceid));
  return 0;
}

// A width or resolution in whole pixels: rounded, 0 for none or less,
// INT_MAX at most.
int Round(double v) {
  if (!(v > 0)) return 0;
  return v >= static_cast<double>(INT_MAX) ? INT_MAX : static_cast<int>(std::lround(v));
}

// Measures a font: its face must be known to FLTK and the display open.
void Measure(PlatFont* f) {
  fl_font(f->face, f->size);
  int first = 0;
  int widest = 0;
  int fixed = 1;
  for (int c = 0x20; c <= 0x7E; ++c) {
    char ch = static_cast<char>(c);
    int w = Round(fl_width(&ch, 1));
    if (c == 0x20) first = w;
    if (w != first) fixed = 0;
    widest = std::max(widest, w);
  }
  int letters = Round(fl_width(kLetters, 52));
  f->metrics.fixed_pitch = fixed;
  f->metrics.avg_width = (letters / 26 + 1) / 2;
  f->metrics.max_width = widest;
  f->metrics.line_height = fl_height();
  f->metrics.descent = fl_descent();
}

// fontconfig's best font for a family at a weight and slant; null when it
// has none. The caller destroys the result.
FcPattern* MatchFamily(const char* family, int weight, int slant) {
  FcPattern* want = FcPatternCreate();
  if (!want) return nullptr;
  FcPatternAddString(want, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
  FcPatternAddInteger(want, FC_WEIGHT, weight);
  FcPatternAddInteger(want, FC_SLANT, slant);
  FcConfigSubstitute(nullptr, want, FcMatchPattern);
  FcDefaultSubstitute(want);
  FcResult result = FcResultNoMatch;
  FcPattern* got = FcFontMatch(nullptr, want, &result);
  FcPatternDestroy(want);
  return got;
}

// The n-th family name of a match, or null.
const char* FamilyOf(FcPattern* p, int n) {
  FcChar8* s = nullptr;
  if (FcPatternGetString(p, FC_FAMILY, n, &s) != FcResultMatch) return nullptr;
  return reinterpret_cast<const char*>(s);
}

// The first integer of `object` in a match, or `missing`.
int IntOf(FcPattern* p, const char* object, int missing) {
  int v = missing;
  if (FcPatternGetInteger(p, object, 0, &v) != FcResultMatch) return missing;
  return v;
}

// 1 when the name says the face is fixed pitch (the headless instance's rule).
int NameSaysFixed(const char* face) {
  return strcasestr(face, "mono") != nullptr || strcasestr(face, "courier") != nullptr;
}

// The family under which the typeface of `family` has a light face of its
// own ("DejaVu Sans Light" for "DejaVu Sans"), copied to `out`. 0, or -1
// when fontconfig knows no light face of that typeface.
int LightFamily(const char* family, char* out, size_t size) {
  int found = -1;
  FcPattern* regular = MatchFamily(family, FC_WEIGHT_REGULAR, FC_SLANT_ROMAN);
  FcPattern* light = MatchFamily(family, FC_WEIGHT_LIGHT, FC_SLANT_ROMAN);
  const char* base = regular ? FamilyOf(regular, 0) : nullptr;
  if (base && light && IntOf(light, FC_WEIGHT, FC_WEIGHT_REGULAR) < FC_WEIGHT_REGULAR) {
    int same_typeface = 0;
    for (int i = 0; FamilyOf(light, i); ++i)
      if (strcasecmp(FamilyOf(light, i), base) == 0) same_typeface = 1;
    for (int i = 0; same_typeface && found < 0 && FamilyOf(light, i); ++i) {
      const char* name = FamilyOf(light, i);
      if (strcasecmp(name, base) == 0) continue;
      FcPattern* own = MatchFamily(name, FC_WEIGHT_REGULAR, FC_SLANT_ROMAN);
      if (own && IntOf(own, FC_WEIGHT, FC_WEIGHT_REGULAR) < FC_WEIGHT_REGULAR) {
        std::snprintf(out, size, "%s", name);
        found = 0;
      }
      if (own) FcPatternDestroy(own);
    }
  }
  if (regular) FcPatternDestroy(regular);
  if (light) FcPatternDestroy(light);
  return found;
}

// The family to hand FLTK for a request, copied to `out`. 0, or -1 when
// fontconfig has no font for it.
int ResolveFamily(const char* face, int bold, int italic, int dim, char* out, size_t size) {
  const char* asked = *face ? face : "sans";
  FcPattern* match = MatchFamily(asked, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR,
                                 italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  if (!match) return -1;
  const char* family = asked;
  if (NameSaysFixed(asked) && IntOf(match, FC_SPACING, FC_PROPORTIONAL) != FC_MONO) family = "monospace";
  std::snprintf(out, size, "%s", family);
  FcPatternDestroy(match);
  if (dim) LightFamily(family, out, size);
  return 0;
}

// The face as FLTK may be given it: no leading '-' (FLTK would take the
// name for an X core font name) and no commas (a list of names to FLTK).
void CleanFace(const char* face, char* out, size_t size) {
  size_t n = 0;
  const char* p = face ? face : "";
  while (*p == '-' || *p == ' ') ++p;
  for (; *p && n + 1 < size; ++p)
    if (*p != ',') out[n++] = *p;
  while (n > 0 && out[n - 1] == ' ') --n;
  out[n] = '\0';
}

// The FLTK font number for a request, the face made known to FLTK on first
// use; -1 (reported) when fontconfig has no font or the table is full.
Fl_Font FaceNumber(const char* face, int bold, int italic, int dim) {
  if (!*face && !dim) return FL_HELVETICA + (bold ? FL_BOLD : 0) + (italic ? FL_ITALIC : 0);
  for (int i = 0; i < g_face_count; ++i) {
    const FltkFace& f = g_faces[i];
    if (f.bold == bold && f.italic == italic && f.dim == dim && std::strcmp(f.requested, face) == 0)
      return FL_FREE_FONT + i;
  }
  if (g_face_count >= kMaxFaces) {
    std::fprintf(stderr, "Cannot make font %s: more than %d faces\n", face, kMaxFaces);
    return -1;
  }
  char family[128];
  if (ResolveFamily(face, bold, italic, dim, family, sizeof family) < 0) {
    std::fprintf(stderr, "Cannot make font %s: no font is installed\n", *face ? face : "(system)");
    return -1;
  }
  FltkFace& f = g_faces[g_face_count];
  std::snprintf(f.requested, sizeof f.requested, "%s", face);
  f.bold = bold;
  f.italic = italic;
  f.dim = dim;
  char style = bold ? (italic ? 'P' : 'B') : (italic ? 'I' : ' ');
  std::snprintf(f.fltk_name, sizeof f.fltk_name, "%c%s", style, family);
  Fl_Font number = FL_FREE_FONT + g_face_count;
  Fl::set_font(number, f.fltk_name);
  ++g_face_count;
  return number;
}

// The close_display slot: hides every window, closes the connection, and
// keeps the display closed for the rest of the process.
void FltkCloseDisplay() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_state != kOpen) return;
  // No window may outlive the connection: FLTK would destroy it on a
  // display that is gone.
  for (int i = 0; i < 10000 && Fl::first_window(); ++i) Fl::first_window()->hide();
  fl_close_display();
  fl_display = nullptr;
  g_system_fixed = PlatFont{};
  g_state = kClosed;
  std::snprintf(g_reason, sizeof g_reason, "Cannot open display: the display of this process was closed");
}

// The screen_measures slot (rules at the top). 0, or -1 without an open
// display or output.
int FltkScreenMeasures(PlatScreenMeasures* out) {
  if (!out || !FltkDisplayIsOpen()) return -1;
  XSync(fl_display, False);
  Fl::check();
  *out = PlatScreenMeasures{};
  int x = 0, y = 0, w = 0, h = 0;
  Fl::screen_xywh(x, y, w, h, 0);
  out->screen_width = w;
  out->screen_height = h;
  out->edge_width = Fl::box_dx(FL_DOWN_BOX);
  out->edge_height = Fl::box_dy(FL_DOWN_BOX);
  out->border_width = Fl::box_dx(FL_BORDER_BOX);
  out->border_height = Fl::box_dy(FL_BORDER_BOX);
  out->vscroll_width = out->hscroll_height = out->vscroll_arrow = Fl::scrollbar_size();
  out->menu_check_height = FL_NORMAL_SIZE;
  PlatFont system = {FL_HELVETICA, FL_NORMAL_SIZE, 0, 1, {}};
  Measure(&system);
  out->base_unit_x = system.metrics.avg_width;
  out->base_unit_y = system.metrics.line_height;
  float dpi_x = 0, dpi_y = 0;
  Fl::screen_dpi(dpi_x, dpi_y, 0);
  out->res_x = dpi_x > 0 ? Round(dpi_x) : kFallbackDpi;
  out->res_y = dpi_y > 0 ? Round(dpi_y) : kFallbackDpi;
  Fl::screen_work_area(x, y, w, h, 0);
  out->work_area = PlatRect{x, y, x + w, y + h, w, h};
  int count = std::clamp(Fl::screen_count(), 0, kPlatMaxMonitors);
  for (int i = 0; i < count; ++i) {
    Fl::screen_work_area(x, y, w, h, i);
    out->monitors[i] = PlatRect{x, y, x + w, y + h, w, h};
  }
  if (count < 1) {
    count = 1;
    out->monitors[0] = out->work_area;
  }
  out->monitor_count = count;
  out->touch_ready = 0;
  return 0;
}

// The font_create slot: a font of its own for the request, measured; null
// without a display or font.
PlatFont* FltkFontCreate(const PlatFontSpec* spec) {
  if (!spec || !FltkDisplayIsOpen()) return nullptr;
  char face[128];
  CleanFace(spec->face, face, sizeof face);
  int bold = spec->weight >= 600 ? 1 : 0;
  int dim = spec->weight >= 1 && spec->weight < 400 ? 1 : 0;
  Fl_Font number = FaceNumber(face, bold, spec->italic ? 1 : 0, dim);
  if (number < 0) return nullptr;
  PlatFont* f = new (std::nothrow) PlatFont;
  if (!f) return nullptr;
  *f = PlatFont{number, std::clamp(spec->pixel_height, 1, kMaxPixelHeight), spec->underline ? 1 : 0, 0, {}};
  Measure(f);
  return f;
}

// The font_system_fixed slot: the instance's own font; null while no
// display is open.
PlatFont* FltkSystemFixed() { return FltkDisplayIsOpen() ? &g_system_fixed : nullptr; }

// The font_free slot: frees a font of font_create (the system fixed font
// and null: nothing).
void FltkFontFree(PlatFont* font) {
  if (font && !font->owned_by_instance) delete font;
}

// The font_metrics slot: the measures taken when the font was made. 0, or
// -1 for a null font or output.
int FltkFontMetrics(PlatFont* font, PlatFontMetrics* out) {
  if (!font || !out) return -1;
  *out = font->metrics;
  return 0;
}

// The text_width slot: Xft's advance of the UTF-8 bytes; 0 for no font, no
// text or no display.
int FltkTextWidth(PlatFont* font, const char* text, size_t length) {
  if (!font || !text || length == 0 || !FltkDisplayIsOpen()) return 0;
  fl_font(font->face, font->size);
  int n = length > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(length);
  return Round(fl_width(text, n));
}

// The set_theme slot: the scheme of every FLTK widget, shown or not.
void FltkSetTheme(int themed) { Fl::scheme(themed ? "gtk+" : "none"); }

// The bell slot: the display's bell, opening the display when needed;
// nothing when it cannot be opened.
void FltkBell() {
  if (FltkOpenDisplay(nullptr, 0) < 0) return;
  fl_beep();
  XFlush(fl_display);
}

const PlatWindowOps kFltkOps = {
    "fltk",         FltkOpenDisplay, FltkCloseDisplay, FltkScreenMeasures,
    FltkFontCreate, FltkSystemFixed, FltkFontFree,     FltkFontMetrics,
    FltkTextWidth,  FltkSetTheme,    FltkMessageBox,   FltkBell,
};

}  // namespace

// Checks the display with XOpenDisplay before FLTK is given it (see the top).
int FltkOpenDisplay(char* reason, size_t size) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_state == kNotTried) {
    const char* name = std::getenv("DISPLAY");
    Display* display = name && *name ? XOpenDisplay(name) : nullptr;
    if (!name || !*name) {
      std::snprintf(g_reason, sizeof g_reason, "Cannot open display: DISPLAY is not set");
      g_state = kFailed;
    } else if (!display) {
      std::snprintf(g_reason, sizeof g_reason, "Cannot open display: %s", name);
      g_state = kFailed;
    } else {
      XSetErrorHandler(ReportXError);
      XSetLocaleModifiers("");
      fl_open_display(display);
      g_system_fixed = PlatFont{FL_COURIER, kSystemFixedHeight, 0, 1, {}};
      Measure(&g_system_fixed);
      g_state = kOpen;
    }
  }
  if (g_state == kOpen) return 0;
  if (reason && size > 0) std::snprintf(reason, size, "%s", g_reason);
  return -1;
}

// 1 while the display is open.
int FltkDisplayIsOpen() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_state == kOpen ? 1 : 0;
}

// The FLTK instance's table.
const PlatWindowOps* PlatWindowFltk() { return &kFltkOps; }
