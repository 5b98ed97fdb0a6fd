// The FLTK message box: a modal window of the toolkit's own (not FLTK's
// fl_alert), so that it can later be given an owner like the toolkit's other
// windows.
//
// Its title is the caption (WM_NAME and _NET_WM_NAME). The icon is drawn
// from primitives (a red disc with "!" for errors, a blue disc with "i" for
// information, a yellow triangle with "!" for warnings); the text is drawn
// as it is, '@' and '&' included, in FLTK's default label font, one line per
// line of the text, wrapped where a line is wider than two thirds of the
// work area; the OK button is the default: Return and Escape close the box,
// as does the window's close button. The box is sized to its text (but not
// beyond the work area), centred on the work area of screen 0 or on the
// owner (an Fl_Window) when given, and kept inside the work area.
#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Widget.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <algorithm>

#include "platform/fltk/fltk_local.h"

namespace {

// Pixel measures of the box.
constexpr int kMargin = 14;        // round the contents
constexpr int kIconSize = 40;      // the icon's square
constexpr int kGap = 14;           // between icon and text, text and button
constexpr int kButtonMinWidth = 84;
constexpr int kButtonMinHeight = 28;
constexpr int kButtonPadding = 12; // beside and above/below the caption

// Where the parts of a box go.
struct BoxLayout {
  int width;  // the window
  int height;
  int text_x;
  int text_y;
  int text_width;
  int text_height;
  int button_x;
  int button_y;
  int button_width;
  int button_height;
};

// The icon of a box.
class BoxIcon : public Fl_Widget {
 public:
  BoxIcon(int x, int y, int w, int h, PlatBoxIcon kind) : Fl_Widget(x, y, w, h), kind_(kind) {}

 protected:
  void draw() override {
    const int X = x(), Y = y(), W = w(), H = h();
    const char* mark = "!";
    Fl_Color ink = FL_WHITE;
    if (kind_ == PLAT_BOX_ICON_WARNING) {
      fl_color(fl_rgb_color(0xF2, 0xC0, 0x1E));
      fl_polygon(X + W / 2, Y + 1, X + W - 1, Y + H - 2, X, Y + H - 2);
      fl_color(fl_rgb_color(0x80, 0x60, 0x00));
      fl_loop(X + W / 2, Y + 1, X + W - 1, Y + H - 2, X, Y + H - 2);
      ink = FL_BLACK;
    } else {
      fl_color(kind_ == PLAT_BOX_ICON_INFO ? fl_rgb_color(0x2A, 0x62, 0xC9) : fl_rgb_color(0xC8, 0x22, 0x22));
      fl_pie(X, Y, W, H, 0, 360);
      if (kind_ == PLAT_BOX_ICON_INFO) mark = "i";
    }
    fl_color(ink);
    fl_font(FL_HELVETICA_BOLD, H * 3 / 5);
    int top = kind_ == PLAT_BOX_ICON_WARNING ? Y + H / 6 : Y;
    fl_draw(mark, X, top, W, Y + H - top, FL_ALIGN_CENTER, nullptr, 0);
  }

 private:
  PlatBoxIcon kind_;
};

// The text of a box, drawn without FLTK's '@' symbols.
class BoxText : public Fl_Widget {
 public:
  BoxText(int x, int y, int w, int h, const char* text) : Fl_Widget(x, y, w, h), text_(text) {}

 protected:
  void draw() override {
    fl_font(FL_HELVETICA, FL_NORMAL_SIZE);
    fl_color(FL_FOREGROUND_COLOR);
    fl_draw(text_, x(), y(), w(), h(), FL_ALIGN_TOP_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_WRAP | FL_ALIGN_CLIP,
            nullptr, 0);
  }

 private:
  const char* text_;  // the caller's, alive while the box is shown
};

// The box's window; it closes on OK, Return, Escape and the close button.
class BoxWindow : public Fl_Double_Window {
 public:
  BoxWindow(int x, int y, const BoxLayout& l, const char* caption, const char* text, PlatBoxIcon icon)
      : Fl_Double_Window(x, y, l.width, l.height) {
    copy_label(caption);
    new BoxIcon(kMargin, kMargin, kIconSize, kIconSize, icon);
    new BoxText(l.text_x, l.text_y, l.text_width, l.text_height, text);
    Fl_Return_Button* ok = new Fl_Return_Button(l.button_x, l.button_y, l.button_width, l.button_height, "OK");
    ok->callback(Close, this);
    end();
    callback(Close, this);
    set_modal();
  }

 private:
  static void Close(Fl_Widget*, void* window) { static_cast<BoxWindow*>(window)->hide(); }
};

// Sizes a box for `text` within `area` (the work area).
BoxLayout LayOutBox(const char* text, int area_width, int area_height) {
  BoxLayout l = {};
  fl_font(FL_HELVETICA, FL_NORMAL_SIZE);
  int widest = std::max(80, area_width * 2 / 3 - 2 * kMargin - kIconSize - kGap);
  int tw = 0, th = 0;
  fl_measure(text, tw, th, 0);
  if (tw > widest) {
    tw = widest;
    th = 0;
    fl_measure(text, tw, th, 0);
  }
  l.button_width = std::max(kButtonMinWidth, static_cast<int>(fl_width("OK")) + 2 * kButtonPadding + 20);
  l.button_height = std::max(kButtonMinHeight, fl_height() + kButtonPadding);
  int tallest = std::max(80, area_height - 2 * kMargin - kGap - l.button_height);
  th = std::min(th, tallest);
  int body = std::max(kIconSize, th);
  l.width = std::max(2 * kMargin + kIconSize + kGap + tw, 2 * kMargin + l.button_width);
  l.height = 2 * kMargin + body + kGap + l.button_height;
  l.text_x = kMargin + kIconSize + kGap;
  l.text_y = kMargin + (th < kIconSize ? (kIconSize - th) / 2 : 0);
  l.text_width = std::max(tw, 1);
  l.text_height = std::max(th, 1);
  l.button_x = (l.width - l.button_width) / 2;
  l.button_y = l.height - kMargin - l.button_height;
  return l;
}

}  // namespace

// Shows the box and runs FLTK's loop until it is closed. -1 when no display
// can be opened, else 0.
int FltkMessageBox(const char* caption, const char* text, PlatBoxIcon icon, void* owner) {
  if (FltkOpenDisplay(nullptr, 0) < 0) return -1;
  const char* shown_text = text ? text : "";
  XSync(fl_display, False);
  Fl::check();  // a work area changed a moment ago
  int ax = 0, ay = 0, aw = 0, ah = 0;
  Fl::screen_work_area(ax, ay, aw, ah, 0);
  BoxLayout l = LayOutBox(shown_text, aw, ah);
  int cx = ax, cy = ay, cw = aw, ch = ah;
  if (Fl_Window* o = static_cast<Fl_Window*>(owner)) {
    cx = o->x();
    cy = o->y();
    cw = o->w();
    ch = o->h();
  }
  int x = std::max(ax, std::min(cx + (cw - l.width) / 2, ax + aw - l.width));
  int y = std::max(ay, std::min(cy + (ch - l.height) / 2, ay + ah - l.height));
  BoxWindow* box = new BoxWindow(x, y, l, caption ? caption : "", shown_text, icon);
  box->show();
  while (box->shown()) Fl::wait();
  delete box;
  XFlush(fl_display);
  return 0;
}
