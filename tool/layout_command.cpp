// The tqlayout command.
#include "tool/layout_command.h"

#include <cstring>

#include "gui/client_prefs.h"
#include "gui/geometry.h"
#include "gui/gui_init.h"
#include "gui/layout_reader.h"
#include "gui/window_system.h"
#include "runtime/env.h"
#include "runtime/report.h"

namespace {

FILE* g_err = stderr;

void ToErr(const char* text) {
  std::fputs(text, g_err);
  std::fputc('\n', g_err);
}

int Usage(FILE* err) {
  std::fputs("usage: tqlayout check FILE...\n"
             "       tqlayout geometry FILE [--size WxH] [--headless]\n",
             err);
  return 2;
}

int Check(int argc, char** argv, FILE* out) {
  int failed = 0;
  for (int i = 2; i < argc; ++i) {
    GUILayoutPtr l(GUILoadLayout(argv[i]));
    if (!l) {
      std::fprintf(out, "%s: %s\n", argv[i], GUILayoutReason());
      failed = 1;
    }
  }
  return failed;
}

void Lines(const GUIWidget* w, int depth, int ox, int oy, std::string* text) {
  int x = ox + w->x, y = oy + w->y;
  char buf[512];
  std::snprintf(buf, sizeof buf, "%*s%s %s min %dx%d pref %dx%d rect %d,%d %dx%d\n", depth * 2, "",
                GUIKindName(w->kind), w->name.c_str(), w->min_width, w->min_height, w->pref_width, w->pref_height,
                x, y, w->width, w->height);
  *text += buf;
  if (depth < kGUILayoutDepthMax * 2)
    for (const GUIWidget* c = w->child; c; c = c->next) Lines(c, depth + 1, x, y, text);
}

int Geometry(int argc, char** argv, const PlatWindowOps* windowed, FILE* out, FILE* err) {
  const char* file = nullptr;
  int width = 0, height = 0;
  bool headless = false;
  for (int i = 2; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--headless")) {
      headless = true;
    } else if (!std::strcmp(argv[i], "--size") && i + 1 < argc) {
      if (std::sscanf(argv[++i], "%dx%d", &width, &height) != 2 || width < 1 || height < 1) return Usage(err);
    } else if (!file && argv[i][0] != '-') {
      file = argv[i];
    } else {
      return Usage(err);
    }
  }
  if (!file) return Usage(err);
  GUISetWindowOps(headless || !windowed ? PlatWindowHeadless() : windowed);
  char reason[256];
  if (GUIWindowOps()->open_display(reason, sizeof reason) != 0) {
    std::fprintf(err, "tqlayout: no display (%s): headless measures\n", reason);
    GUISetWindowOps(PlatWindowHeadless());
  }
  GUILoadClientPrefs();
  if (GUIInit() != 0) return 1;
  GUILayoutPtr l(GUILoadLayout(file));
  if (!l) {
    std::fprintf(out, "%s: %s\n", file, GUILayoutReason());
    GUIShutdown();
    return 1;
  }
  GUIComputeLayout(l.get(), width, height, GUIScreen());
  std::fprintf(out, "window %s measures %s\n", l->title.empty() ? l->name.c_str() : l->title.c_str(),
               GUIWindowOps()->name);
  std::fputs(LayoutGeometryText(l.get()).c_str(), out);
  l.reset();
  GUIShutdown();
  return 0;
}

}  // namespace

std::string LayoutGeometryText(const GUILayout* layout) {
  std::string text;
  if (layout && layout->root) Lines(layout->root, 0, 0, 0, &text);
  return text;
}

int LayoutCommandMain(int argc, char** argv, const PlatWindowOps* windowed, FILE* out, FILE* err) {
  g_err = err;
  RVReportHooks hooks = {ToErr, ToErr, ToErr};
  RVSetReportHooks(&hooks);
  if (argc < 3) return Usage(err);
  RVSetProgramKind(RV_PROGRAM_TOOL);
  RVInit(argv[0]);
  if (!std::strcmp(argv[1], "check")) return Check(argc, argv, out);
  if (!std::strcmp(argv[1], "geometry")) return Geometry(argc, argv, windowed, out, err);
  return Usage(err);
}
