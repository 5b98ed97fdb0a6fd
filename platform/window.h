// The window-system surface: everything the GUI toolkit asks of a window
// system, as one const table of functions. Two instances exist: the FLTK one
// (platform/fltk/, linked only by windowed programs) and the headless one,
// whose metrics are a documented function of the font (unit tests and
// --nogui runs, which never open a display). The toolkit calls the slots
// only on its window thread.
//
// This table covers the display, the screen measures, fonts with their
// metrics, text width, the modal message box and the bell; windows,
// controls and events are added to it as the toolkit grows.
#pragma once

#include <cstddef>

// A font instance made by one window-system instance; only that instance's
// slots may be given it.
struct PlatFont;

// What a font is asked for with.
struct PlatFontSpec {
  const char* face; // face name ("DejaVu Sans"); null or empty: the system font
  int pixel_height; // character (em) height in pixels, 1 or more
  int weight;       // 400 normal, 700 bold, 300 dim (light)
  int italic;       // 1 italic
  int underline;    // 1 underlined (drawn by the toolkit)
};

// A font's measures, in pixels.
struct PlatFontMetrics {
  int fixed_pitch; // 1 when every printable ASCII character has the same advance
  int avg_width;   // average character width
  int max_width;   // widest printable ASCII character
  int line_height; // ascent + descent (height plus external leading)
  int descent;     // below the base line
};

// A rectangle in screen pixels; right and bottom are exclusive.
struct PlatRect {
  int left;
  int top;
  int right;
  int bottom;
  int width;
  int height;
};

// Most monitors the screen measures describe.
constexpr int kPlatMaxMonitors = 16;

// The screen measures the geometry works with.
struct PlatScreenMeasures {
  int screen_width;       // whole screen
  int screen_height;
  int edge_width;         // 3-D edge of a control
  int edge_height;
  int border_width;       // plain border line
  int border_height;
  int vscroll_width;      // vertical scroll bar width
  int hscroll_height;     // horizontal scroll bar height
  int vscroll_arrow;      // height of a vertical scroll bar's arrow
  int menu_check_height;  // check mark of a menu item or check box
  int base_unit_x;        // dialog base units: average character width of
  int base_unit_y;        //   the system font, and its character height
  int res_x;              // pixels per inch, horizontally
  int res_y;              // and vertically
  PlatRect work_area;     // the screen less panels and task bars
  int monitor_count;      // 1 or more
  PlatRect monitors[kPlatMaxMonitors]; // each monitor's work area
  int touch_ready;        // 1 when touch input is ready
};

// Icons of a message box.
enum PlatBoxIcon {
  PLAT_BOX_ICON_ERROR = 0,   // exclamation
  PLAT_BOX_ICON_INFO = 1,    // information
  PLAT_BOX_ICON_WARNING = 2, // warning
};

// One window-system instance.
struct PlatWindowOps {
  // The instance's name: "fltk" or "headless".
  const char* name;

  // Opens the display (once; later calls return the first result). 0, or -1
  // with the reason in `reason` (at most size - 1 bytes). Never ends the
  // process.
  int (*open_display)(char* reason, size_t size);

  // Closes the display and releases what the instance holds; fonts made
  // before are invalid afterwards.
  void (*close_display)();

  // Reads the screen measures now (they change with the display). 0, or -1
  // when no display is open.
  int (*screen_measures)(PlatScreenMeasures* out);

  // Makes a font; null when the face cannot be had. The result is freed with
  // font_free.
  PlatFont* (*font_create)(const PlatFontSpec* spec);

  // The system fixed font (never null once the display is open); owned by
  // the instance, never freed by callers.
  PlatFont* (*font_system_fixed)();

  // Frees a font made by font_create (null: nothing).
  void (*font_free)(PlatFont* font);

  // The font's measures. 0, or -1 for a null font.
  int (*font_metrics)(PlatFont* font, PlatFontMetrics* out);

  // The width in pixels of `length` bytes of UTF-8 `text` in the font.
  int (*text_width)(PlatFont* font, const char* text, size_t length);

  // Selects the look of controls: 1 a themed scheme, 0 the plain one.
  void (*set_theme)(int themed);

  // Shows a modal box with `caption`, `text`, the icon and an OK button;
  // returns when it is closed. `owner` is the toolkit window that owns it
  // (null: none). -1 when no box can be shown (the caller then writes the
  // text to the console), else 0.
  int (*message_box)(const char* caption, const char* text, PlatBoxIcon icon, void* owner);

  // Sounds the default bell.
  void (*bell)();
};

// The headless instance (always available).
const PlatWindowOps* PlatWindowHeadless();

// The FLTK instance; defined by the FLTK library (tq_window_fltk), which
// only windowed programs link.
const PlatWindowOps* PlatWindowFltk();

// Sets the headless screen (tests): width and height in pixels and dots per
// inch; the work area becomes the whole screen. Defaults 1280 x 1024, 96.
void PlatHeadlessSetScreen(int width, int height, int dpi);

// What the headless message box was last given, and how many it was asked
// for (tests read these). The headless box shows nothing: it records the
// box and returns -1, so the caller writes the text to the console.
struct PlatHeadlessBoxRecord {
  int count;
  char caption[128];
  char text[4096];
  PlatBoxIcon icon;
};
const PlatHeadlessBoxRecord* PlatHeadlessLastBox();

// How many times the headless bell sounded.
int PlatHeadlessBellCount();
