// The headless window system: no display, deterministic measures.
//
// Fonts. For a font of pixel height h (at least 1):
//  - A face whose name contains "Mono" or "Courier" (any case) is fixed
//    pitch: every character advances (3h + 2) / 5 pixels.
//  - Any other face is proportional. Advances by character:
//      narrow  " !'(),./:;I[]`fijlrt|"  (h + 2) / 4
//      wide    "MWmw@%"                 (9h + 5) / 10
//      other capitals and "#&"          (7h + 5) / 10
//      everything else                  (h + 1) / 2
//  - Bold (weight 600 or more) adds max(1, h / 10) to every advance; italic,
//    underline and dim change nothing. Every advance is at least 1.
//  - UTF-8 continuation bytes (0x80-0xBF) advance 0; other bytes of 0x80
//    and above advance as "everything else".
//  - Average width = (sum of the advances of A-Z and a-z / 26 + 1) / 2, as
//    for the FLTK instance; maximum width = widest advance of 0x20-0x7E;
//    fixed pitch = all advances of 0x20-0x7E equal.
//  - Line height = h + (h + 4) / 5; descent = (h + 3) / 4.
//  - The system font is the proportional face at 13 pixels (dialog base
//    units 8 x 16); the system fixed font is "Courier" at 13 pixels.
//
// Screen: 1280 x 1024 at 96 dots per inch unless a test sets others; the
// work area and the one monitor are the whole screen; edges 2, borders 1,
// scroll bars and arrows 17, menu check marks 13 pixels, each scaled by
// dpi / 96.
#include "platform/window.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

struct PlatFont {
  int height;
  int bold;
  int fixed;
  int owned_by_instance; // the system fixed font
};

namespace {

std::mutex g_mutex;
int g_screen_width = 1280;
int g_screen_height = 1024;
int g_dpi = 96;
bool g_open = false;
PlatFont g_system_fixed = {13, 0, 1, 1};
PlatHeadlessBoxRecord g_last_box = {};
int g_bells = 0;

bool FaceIsFixed(const char* face) {
  if (!face) return false;
  std::string lower;
  for (const char* p = face; *p; ++p) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
  return lower.find("mono") != std::string::npos || lower.find("courier") != std::string::npos;
}

int Advance(const PlatFont* f, unsigned char c) {
  if (c >= 0x80 && c <= 0xBF) return 0;
  int h = f->height;
  int w;
  if (f->fixed) {
    w = (3 * h + 2) / 5;
  } else if (c < 0x80 && std::strchr(" !'(),./:;I[]`fijlrt|", c) && c != 0) {
    w = (h + 2) / 4;
  } else if (c < 0x80 && std::strchr("MWmw@%", c) && c != 0) {
    w = (9 * h + 5) / 10;
  } else if ((c >= 'A' && c <= 'Z') || c == '#' || c == '&') {
    w = (7 * h + 5) / 10;
  } else {
    w = (h + 1) / 2;
  }
  if (f->bold) w += std::max(1, h / 10);
  return std::max(1, w);
}

int Scaled(int pixels_at_96) { return (pixels_at_96 * g_dpi + 48) / 96; }

int HeadlessOpenDisplay(char*, size_t) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_open = true;
  return 0;
}

void HeadlessCloseDisplay() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_open = false;
}

int HeadlessFontMetrics(PlatFont* font, PlatFontMetrics* out);

int HeadlessScreenMeasures(PlatScreenMeasures* out) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_open || !out) return -1;
  *out = PlatScreenMeasures{};
  out->screen_width = g_screen_width;
  out->screen_height = g_screen_height;
  out->edge_width = out->edge_height = Scaled(2);
  out->border_width = out->border_height = Scaled(1);
  out->vscroll_width = out->hscroll_height = out->vscroll_arrow = Scaled(17);
  out->menu_check_height = Scaled(13);
  PlatFont system = {13, 0, 0, 1};
  PlatFontMetrics m;
  HeadlessFontMetrics(&system, &m);
  out->base_unit_x = m.avg_width;
  out->base_unit_y = m.line_height;
  out->res_x = out->res_y = g_dpi;
  out->work_area = PlatRect{0, 0, g_screen_width, g_screen_height, g_screen_width, g_screen_height};
  out->monitor_count = 1;
  out->monitors[0] = out->work_area;
  out->touch_ready = 0;
  return 0;
}

PlatFont* HeadlessFontCreate(const PlatFontSpec* spec) {
  if (!spec) return nullptr;
  PlatFont* f = new (std::nothrow) PlatFont;
  if (!f) return nullptr;
  f->height = std::max(1, spec->pixel_height);
  f->bold = spec->weight >= 600 ? 1 : 0;
  f->fixed = FaceIsFixed(spec->face) ? 1 : 0;
  f->owned_by_instance = 0;
  return f;
}

PlatFont* HeadlessSystemFixed() { return &g_system_fixed; }

void HeadlessFontFree(PlatFont* font) {
  if (font && !font->owned_by_instance) delete font;
}

int HeadlessFontMetrics(PlatFont* font, PlatFontMetrics* out) {
  if (!font || !out) return -1;
  int letters = 0;
  for (int c = 'A'; c <= 'Z'; ++c) letters += Advance(font, static_cast<unsigned char>(c));
  for (int c = 'a'; c <= 'z'; ++c) letters += Advance(font, static_cast<unsigned char>(c));
  int widest = 0;
  int first = Advance(font, ' ');
  int fixed = 1;
  for (int c = 0x20; c <= 0x7E; ++c) {
    int a = Advance(font, static_cast<unsigned char>(c));
    widest = std::max(widest, a);
    if (a != first) fixed = 0;
  }
  int h = font->height;
  out->fixed_pitch = fixed;
  out->avg_width = (letters / 26 + 1) / 2;
  out->max_width = widest;
  out->line_height = h + (h + 4) / 5;
  out->descent = (h + 3) / 4;
  return 0;
}

int HeadlessTextWidth(PlatFont* font, const char* text, size_t length) {
  if (!font || !text) return 0;
  long width = 0;
  for (size_t i = 0; i < length; ++i) width += Advance(font, static_cast<unsigned char>(text[i]));
  return width > 0x7fffffff ? 0x7fffffff : static_cast<int>(width);
}

void HeadlessSetTheme(int) {}

int HeadlessMessageBox(const char* caption, const char* text, PlatBoxIcon icon, void*) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_last_box.count++;
  std::snprintf(g_last_box.caption, sizeof g_last_box.caption, "%s", caption ? caption : "");
  std::snprintf(g_last_box.text, sizeof g_last_box.text, "%s", text ? text : "");
  g_last_box.icon = icon;
  return -1;
}

void HeadlessBell() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_bells++;
}

const PlatWindowOps kHeadlessOps = {
    "headless",         HeadlessOpenDisplay, HeadlessCloseDisplay, HeadlessScreenMeasures,
    HeadlessFontCreate, HeadlessSystemFixed, HeadlessFontFree,     HeadlessFontMetrics,
    HeadlessTextWidth,  HeadlessSetTheme,    HeadlessMessageBox,   HeadlessBell,
};

}  // namespace

const PlatWindowOps* PlatWindowHeadless() { return &kHeadlessOps; }

void PlatHeadlessSetScreen(int width, int height, int dpi) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_screen_width = width > 0 ? width : 1280;
  g_screen_height = height > 0 ? height : 1024;
  g_dpi = dpi > 0 ? dpi : 96;
}

const PlatHeadlessBoxRecord* PlatHeadlessLastBox() { return &g_last_box; }

int PlatHeadlessBellCount() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_bells;
}
