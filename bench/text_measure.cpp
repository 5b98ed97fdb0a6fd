// Text measurement as the geometry does it: 10,000 widths of label, button
// and field texts per iteration, through the FLTK instance (on a private
// Xvfb started here; skipped when none can be) beside the headless one.
// Also: the same with the font switched on every text, as when the geometry
// walks widgets of different fonts, and the price of making a font with its
// metrics.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "platform/window.h"
#include "tests/support/xvfb.h"

namespace {

constexpr int kMeasures = 10000;

// Texts of the lengths the tool's layouts have.
const char* const kTexts[] = {
    "OK",
    "Cancel",
    "Server:",
    "Install type:",
    "Update Server Settings",
    "Check for updates every",
    "HKLM\\SOFTWARE\\TQ Software\\TQUpdate",
    "The update check found nothing to install.",
    "0000000000",
    "DefLabel:",
    "Automatic",
    "Use a proxy server for HTTP and HTTPS connections",
};
constexpr int kTextCount = sizeof kTexts / sizeof kTexts[0];

size_t g_lengths[kTextCount];

// The FLTK instance's display, opened once; the reason when it cannot be.
bool FltkReady(std::string* reason) {
  static int ready = -1;
  static std::string why;
  if (ready < 0) {
    ready = 0;
    if (TqXvfbStart(&why) == 0) {
      char text[256] = "";
      if (PlatWindowFltk()->open_display(text, sizeof text) == 0)
        ready = 1;
      else
        why = text;
    }
  }
  *reason = why;
  return ready == 1;
}

// Measures the texts round-robin in `fonts` (one or two).
long MeasureAll(const PlatWindowOps* ops, PlatFont* const* fonts, int font_count) {
  long sum = 0;
  for (int i = 0; i < kMeasures; ++i) {
    int t = i % kTextCount;
    sum += ops->text_width(fonts[i % font_count], kTexts[t], g_lengths[t]);
  }
  return sum;
}

void RunWidths(benchmark::State& state, const PlatWindowOps* ops, int font_count) {
  if (ops != PlatWindowHeadless()) {
    std::string reason;
    if (!FltkReady(&reason)) {
      state.SkipWithError(("no X server: " + reason).c_str());
      return;
    }
  } else {
    ops->open_display(nullptr, 0);
  }
  PlatFontSpec sans = {"DejaVu Sans", 13, 400, 0, 0};
  PlatFontSpec bold = {"DejaVu Sans", 13, 700, 0, 0};
  PlatFont* fonts[2] = {ops->font_create(&sans), ops->font_create(&bold)};
  if (!fonts[0] || !fonts[1]) {
    state.SkipWithError("no font");
  } else {
    for (auto _ : state) benchmark::DoNotOptimize(MeasureAll(ops, fonts, font_count));
    state.SetItemsProcessed(state.iterations() * kMeasures);
  }
  ops->font_free(fonts[0]);
  ops->font_free(fonts[1]);
}

void BM_TextWidthHeadless(benchmark::State& state) { RunWidths(state, PlatWindowHeadless(), 1); }
BENCHMARK(BM_TextWidthHeadless)->Unit(benchmark::kMicrosecond);

void BM_TextWidthFltk(benchmark::State& state) { RunWidths(state, PlatWindowFltk(), 1); }
BENCHMARK(BM_TextWidthFltk)->Unit(benchmark::kMicrosecond);

void BM_TextWidthFltkSwitchingFonts(benchmark::State& state) { RunWidths(state, PlatWindowFltk(), 2); }
BENCHMARK(BM_TextWidthFltkSwitchingFonts)->Unit(benchmark::kMicrosecond);

// Making a font of a face seen before (its FLTK font number and Xft face
// cached) and measuring it; a size not used before opens a new Xft font.
void BM_FontCreateFltk(benchmark::State& state) {
  std::string reason;
  if (!FltkReady(&reason)) {
    state.SkipWithError(("no X server: " + reason).c_str());
    return;
  }
  const PlatWindowOps* ops = PlatWindowFltk();
  int size = static_cast<int>(state.range(0));
  for (auto _ : state) {
    PlatFontSpec spec = {"DejaVu Sans", size, 400, 0, 0};
    PlatFont* f = ops->font_create(&spec);
    benchmark::DoNotOptimize(f);
    ops->font_free(f);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FontCreateFltk)->Arg(13)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  for (int i = 0; i < kTextCount; ++i) g_lengths[i] = std::strlen(kTexts[i]);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
