// Loading and laying out layouts: the shipped layouts and a generated one
// of 2,000 widgets, beside expat parsing the same bytes with empty
// handlers (the reader's own cost is the ratio of the two), and the
// geometry passes alone. Headless measures, no font files.
#include <benchmark/benchmark.h>
#include <expat.h>

#include <fstream>
#include <sstream>
#include <string>

#include "gui/geometry.h"
#include "gui/layout_reader.h"
#include "gui/window_system.h"
#include "platform/window.h"

namespace {

std::string ReadShipped(const char* rel) {
  std::ifstream in(std::string(TQ_SOURCE_DIR) + "/dist/xml/" + rel);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// 2,000 widgets: 100 forms of 19 labelled fields and buttons in a column.
std::string Generated() {
  std::string t = "<Layout><Panel Type='VRowCol'>\n";
  for (int p = 0; p < 100; ++p) {
    t += "<Panel Type='HRowCol'>\n";
    for (int f = 0; f < 9; ++f)
      t += "<DField Type='Text' Label='Field " + std::to_string(f) + ":' Format='x(" + std::to_string(5 + f) + ")'/>\n";
    t += "<DField Type='PushB' Text='Go'/></Panel>\n";
  }
  return t + "</Panel></Layout>\n";
}

const std::string& Text(int which) {
  static const std::string texts[3] = {ReadShipped("tqupdcnf.xml"), ReadShipped("common/logon.xml"), Generated()};
  return texts[which];
}

void Setup() {
  static bool done = false;
  if (done) return;
  done = true;
  GUISetWindowOps(PlatWindowHeadless());
  char reason[16];
  PlatWindowHeadless()->open_display(reason, sizeof reason);
  GUIRefreshScreen();
}

void ExpatOnly(benchmark::State& state) {
  const std::string& t = Text(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    XML_Parser p = XML_ParserCreate(nullptr);
    XML_SetElementHandler(p, [](void*, const XML_Char*, const XML_Char**) {}, [](void*, const XML_Char*) {});
    XML_SetCharacterDataHandler(p, [](void*, const XML_Char*, int) {});
    benchmark::DoNotOptimize(XML_Parse(p, t.data(), static_cast<int>(t.size()), 1));
    XML_ParserFree(p);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * t.size()));
}

void Load(benchmark::State& state) {
  Setup();
  const std::string& t = Text(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    GUILayoutPtr l(GUILoadLayoutText(t.data(), t.size(), "b.xml"));
    benchmark::DoNotOptimize(l.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * t.size()));
}

void LoadAndLayOut(benchmark::State& state) {
  Setup();
  const std::string& t = Text(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    GUILayoutPtr l(GUILoadLayoutText(t.data(), t.size(), "b.xml"));
    GUIComputeLayout(l.get(), 0, 0, GUIScreen());
    benchmark::DoNotOptimize(l->root->width);
  }
}

void GeometryOnly(benchmark::State& state) {
  Setup();
  const std::string& t = Text(static_cast<int>(state.range(0)));
  GUILayoutPtr l(GUILoadLayoutText(t.data(), t.size(), "b.xml"));
  GUIAssignFonts(l.get());
  for (auto _ : state) {
    GUICalCSize(l->root, GUIScreen());
    GUIRelayout(l.get(), l->root->pref_width + 50, l->root->pref_height + 50, GUIScreen());
    benchmark::DoNotOptimize(l->root->width);
  }
}

// 0: the main window, 1: the logon dialog, 2: 2,000 generated widgets.
BENCHMARK(ExpatOnly)->DenseRange(0, 2);
BENCHMARK(Load)->DenseRange(0, 2);
BENCHMARK(LoadAndLayOut)->DenseRange(0, 2);
BENCHMARK(GeometryOnly)->DenseRange(0, 2);

}  // namespace

BENCHMARK_MAIN();
