// The configuration tool's program.
//
// Start-up runs in a fixed order: discovery; program name and client kind;
// the crypto library; the command line; the wait; the client preferences;
// the window system; the default layout directory; the main window (built,
// prepared and shown by the main window's code, which is still to come: a
// run without --nogui ends after the service operations); the service
// operations; shutdown.
//
// --nogui never opens a display: it runs on the headless window system, so
// the tool works from a process without one (the service starts it so after
// installing its own update). In such a run a failure of the preferences or
// the window system is reported on standard error and the service
// operations still run; the exit code is then 1.
#include "tool/tool_main.h"

#include <cstdio>

#include "gui/client_prefs.h"
#include "gui/gui_init.h"
#include "gui/message_box.h"
#include "gui/window_system.h"
#include "platform/system.h"
#include "runtime/env.h"
#include "runtime/print.h"
#include "runtime/report.h"
#include "runtime/util.h"
#include "service/crypto_startup.h"
#include "tool/service_modes.h"
#include "tool/startup.h"

namespace {

void Wait(int seconds) {
  uint32_t ms = RVWaitMs(seconds, RVSecondMs());
  if (ms > 0) PlatSleepMs(ms);
}

void DefaultLayoutDir(ToolStartup* s) {
  if (s->layout_dir[0]) return;
  const char* home = RVGetEnv("RV_HOME");
  std::snprintf(s->layout_dir, sizeof s->layout_dir, "%s/TQUpdate/xml", home ? home : ".");
}

// Releases what start-up set up, in reverse order.
void Shutdown() {
  GUIShutdown();
  GUIFreeClientPrefs();
}

}  // namespace

int ToolMain(int argc, char** argv, const PlatWindowOps* windowed) {
  // 1-2: discovery, program name, client kind; boxes until --nogui is seen.
  RVSetProgramKind(RV_PROGRAM_TOOL);
  RVInit(kToolProgramName);
  RVSetClientKind(kToolClientKind);
  GUISetWindowOps(windowed);
  GUIInstallMessageBoxes();

  // 3: the crypto library (failures are reported; start-up goes on).
  UpdCryptoStartup();

  // 4: the command line. --nogui selects the headless window system as soon
  // as it is read, so nothing after it opens a display.
  ToolStartup* s = &g_tool_startup;
  ToolParseCommandLine(argc, argv, s);
  if (s->nogui) GUISetWindowOps(PlatWindowHeadless());
  if (s->help) return 0;
  if (s->errors) return 1;

  // 5: the wait.
  if (s->wait_seconds > 0) Wait(s->wait_seconds);

  int failed = 0;
  // 6: the client preferences.
  if (GUILoadClientPrefs() < 0) {
    RVReportError("Error Loading Client Preferences");
    if (!s->nogui) return 1;
    failed = 1;
  }

  // 7: the window system.
  if (GUIInit() < 0) {
    if (!s->nogui) {
      Shutdown();
      return 1;
    }
    failed = 1;
  }

  // 8: the layout directory.
  DefaultLayoutDir(s);

  // 9-10: the main window is built and prepared here once it exists.

  // 11: the service operations.
  ToolRunServiceOperations(s);

  // 12: the main window is shown here once it exists.

  // 13: shutdown.
  Shutdown();
  return failed;
}
