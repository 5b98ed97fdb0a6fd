// The selected window-system instance and its screen measures.
#include "gui/window_system.h"

#include <mutex>

namespace {

std::mutex g_mutex;
const PlatWindowOps* g_ops = nullptr;
PlatScreenMeasures g_screen = {};
bool g_screen_read = false;

// The headless instance's measures, leaving its display as it was.
void FillDefaults(PlatScreenMeasures* out) {
  const PlatWindowOps* headless = PlatWindowHeadless();
  if (headless->screen_measures(out) == 0) return;
  char reason[8];
  headless->open_display(reason, sizeof reason);
  headless->screen_measures(out);
  headless->close_display();
}

}  // namespace

void GUISetWindowOps(const PlatWindowOps* ops) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_ops = ops ? ops : PlatWindowHeadless();
  g_screen_read = false;
}

const PlatWindowOps* GUIWindowOps() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_ops ? g_ops : PlatWindowHeadless();
}

int GUIRefreshScreen() {
  const PlatWindowOps* ops = GUIWindowOps();
  PlatScreenMeasures m;
  if (ops->screen_measures(&m) < 0) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_screen_read) FillDefaults(&g_screen);
    g_screen_read = true;
    return -1;
  }
  std::lock_guard<std::mutex> lock(g_mutex);
  g_screen = m;
  g_screen_read = true;
  return 0;
}

const PlatScreenMeasures* GUIScreen() {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_screen_read) return &g_screen;
  }
  GUIRefreshScreen();
  return &g_screen;
}
