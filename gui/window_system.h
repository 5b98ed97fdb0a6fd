// The toolkit's window system: which instance of the window-system surface
// the process uses, and the screen measures read from it.
#pragma once

#include "platform/window.h"

// Selects the instance (before GUIInit; null selects the headless one).
void GUISetWindowOps(const PlatWindowOps* ops);

// The selected instance (the headless one until another is selected).
const PlatWindowOps* GUIWindowOps();

// Reads the screen measures again (at start-up and on a display change).
// 0, or -1 when the instance has no open display (the measures then keep
// the headless defaults).
int GUIRefreshScreen();

// The screen measures last read (the headless defaults before any read).
const PlatScreenMeasures* GUIScreen();
