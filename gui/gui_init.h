// Setting up and releasing the toolkit's window system.
#pragma once

#include <cstddef>

// Sets up the window system of the selected instance: opens the display,
// reads the screen measures, selects the themed or plain look from the
// client preferences (UseWindowsThemes), and reads the font files. 0, or -1
// after reporting "Window System Error: %s" with the instance's reason.
int GUIInit();

// Releases the fonts and closes the display (when GUIInit opened it).
void GUIShutdown();
