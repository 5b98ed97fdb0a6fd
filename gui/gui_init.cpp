// Setting up and releasing the toolkit's window system.
#include "gui/gui_init.h"

#include "gui/client_prefs.h"
#include "gui/fonts.h"
#include "gui/window_system.h"
#include "runtime/report.h"

namespace {

bool g_initialised = false;

}  // namespace

int GUIInit() {
  const PlatWindowOps* ops = GUIWindowOps();
  char reason[256] = "";
  if (ops->open_display(reason, sizeof reason) < 0) {
    RVReportError("Window System Error: %s", reason);
    return -1;
  }
  g_initialised = true;
  GUIRefreshScreen();
  ops->set_theme(GUIPrefUseThemes());
  GUILoadFontFiles();
  return 0;
}

void GUIShutdown() {
  if (!g_initialised) return;
  GUIFreeFonts();
  GUIWindowOps()->close_display();
  g_initialised = false;
}
