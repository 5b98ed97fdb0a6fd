// The tool's message boxes.
#include "gui/message_box.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "gui/test_trace.h"
#include "gui/window_system.h"
#include "runtime/print.h"
#include "runtime/report.h"

namespace {

// Writes a text that no box could show to the console.
void ToConsole(const char* text, PlatBoxIcon icon) {
  FILE* out = icon == PLAT_BOX_ICON_INFO ? stdout : stderr;
  std::fputs(text, out);
  size_t len = std::strlen(text);
  if (len == 0 || text[len - 1] != '\n') std::fputc('\n', out);
  std::fflush(out);
}

// Shows the box on the selected window system, opening its display on first
// use, and traces it. 0 when shown, -1 when no box could be.
int Show(const char* caption, const char* text, PlatBoxIcon icon) {
  const PlatWindowOps* ops = GUIWindowOps();
  char reason[256];
  if (ops->open_display(reason, sizeof reason) != 0) return -1;
  if (ops->message_box(caption, text, icon, nullptr) != 0) return -1;
  GUITestTrace(std::string("box ") + caption + ": " + text);
  return 0;
}

}  // namespace

int GUIShowBox(const char* caption, const char* text, PlatBoxIcon icon, int bell) {
  if (!text || !*text) return 0;
  std::string shown(text, strnlen(text, kGUIBoxTextMax));
  if (bell) GUIWindowOps()->bell();
  if (Show(caption, shown.c_str(), icon) != 0) {
    ToConsole(shown.c_str(), icon);
    return -1;
  }
  return 0;
}

void GUIReportErrorBox(const char* text) { GUIShowBox("TQ Error", text, PLAT_BOX_ICON_ERROR, 1); }

void GUIReportInfoBox(const char* text) { GUIShowBox("TQ Info", text, PLAT_BOX_ICON_INFO, 1); }

void GUIReportWarningBox(const char* text) { GUIShowBox("TQ Info", text, PLAT_BOX_ICON_WARNING, 1); }

int GUIPrintBox(const char* caption, const char* text) {
  if (caption && std::strcmp(caption, "Error") == 0) GUIWindowOps()->bell();
  return Show(caption, text ? text : "", PLAT_BOX_ICON_WARNING);
}

void GUIInstallMessageBoxes() {
  static const RVReportHooks hooks = {GUIReportInfoBox, GUIReportWarningBox, GUIReportErrorBox};
  RVSetReportHooks(&hooks);
  RVSetMessageBoxHook(GUIPrintBox);
}
