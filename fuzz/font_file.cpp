// Fuzzes the font file reader, the length parser and the font look-up: the
// input is one font file (and, NUL-terminated, a length). No input may
// crash them; afterwards a mandatory font request always gives a font with
// usable measures, widths are never negative, point sizes stay within the
// reader's bounds, and the form cell defaults are unset or lengths.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/support/relocated_system.h"
#include "gui/fonts.h"
#include "gui/length.h"
#include "gui/window_system.h"
#include "platform/window.h"
#include "runtime/report.h"

namespace {

void Quiet(const char*) {}

const char* const kClasses[] = {"default", "text", "c", "k", "pnltitle", "rbtitle", "MBMenu", ""};
const char* const kSets[] = {"default", "s", "wide", ""};

void CheckCell(int v) {
  if (v < -1 || v > kGUILengthMax) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::Relocate();
  RVReportHooks hooks = {Quiet, Quiet, Quiet};
  RVSetReportHooks(&hooks);
  GUISetWindowOps(PlatWindowHeadless());
  char reason[16];
  PlatWindowHeadless()->open_display(reason, sizeof reason);
  GUIRefreshScreen();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  GUIReadFontText(text, size);
  std::string copy(text, size);
  for (int vertical = 0; vertical < 2; ++vertical) {
    int px = GUILengthPixels(GUIScreen(), copy.c_str(), vertical);
    if (px < -1 || px > kGUILengthMax) __builtin_trap();
  }
  for (const char* cls : kClasses) {
    for (const char* set : kSets) {
      if (const GUIFontClass* d = GUIFindFontClass(cls, set)) {
        if (!std::isfinite(d->points) || std::fabs(d->points) > 2 * kGUIFontPointsMax) __builtin_trap();
        if (d->weight != GUI_WEIGHT_DIM && d->weight != GUI_WEIGHT_NORMAL && d->weight != GUI_WEIGHT_BOLD)
          __builtin_trap();
      }
      GUIFont* f = GUIGetFont(cls, set, 1);
      if (!f || f->metrics.line_height < 1 || f->metrics.avg_width < 1) __builtin_trap();
      if (GUITextWidth(f, text, size) < 0) __builtin_trap();
      for (int n : {1, 3, 31, 32, 100000})
        if (GUICharsWidth(f, n, n & 1) < 0) __builtin_trap();
    }
  }
  const GUIFormCells* cells = GUIFormCellDefaults();
  CheckCell(cells->min_col_width);
  CheckCell(cells->pref_col_width);
  CheckCell(cells->min_row_height);
  CheckCell(cells->pref_row_height);
  // Released before the next input, and before the program's end, when the
  // registry's own destruction would drop them unreleased.
  GUIFreeFonts();
  return 0;
}
