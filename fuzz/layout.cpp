// Fuzzes the layout reader and the geometry: the input is one layout file.
// No input may crash them; a layout that loads is laid out at its
// preferred size and at a few others, and no widget may get a negative
// size or a preferred size below its minimum.
#include <cstdint>
#include <string>

#include "fuzz/support/relocated_system.h"
#include "gui/geometry.h"
#include "gui/layout_reader.h"
#include "gui/window_system.h"
#include "platform/window.h"
#include "runtime/report.h"

namespace {

void Quiet(const char*) {}

void Check(const GUILayout* l) {
  for (const auto& w : l->widgets) {
    if (w->width < 0 || w->height < 0 || w->min_width < 0 || w->min_height < 0) __builtin_trap();
    if (w->pref_width < w->min_width || w->pref_height < w->min_height) __builtin_trap();
  }
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
  GUILayoutPtr l(GUILoadLayoutText(reinterpret_cast<const char*>(data), size, "fuzz.xml"));
  if (!l) return 0;
  GUIComputeLayout(l.get(), 0, 0, GUIScreen());
  Check(l.get());
  for (int w : {1, 200, 1280})
    for (int h : {1, 700}) {
      GUIRelayout(l.get(), w, h, GUIScreen());
      Check(l.get());
    }
  int rights[kGUIStatusPartsMax + 1];
  int n = GUIStatusParts(l->parts.c_str(), 640, rights, kGUIStatusPartsMax + 1);
  for (int i = 0; i < n; ++i)
    if (rights[i] < 0 || rights[i] > 640 || (i && rights[i] < rights[i - 1])) __builtin_trap();
  return 0;
}
