// The tqlayout command: checks layout files and prints their geometry, for
// administrators and layout authors.
//   tqlayout check FILE...
//       prints "FILE: reason" for every file that does not load; exit 1
//       when any did not, else 0
//   tqlayout geometry FILE [--size WxH] [--headless]
//       prints the widget tree, one widget a line, indented by depth:
//       kind, name, minimum, preferred and assigned rectangle (x and y
//       inside the window), measured with the display's fonts and metrics,
//       or the headless ones with --headless or without a display; the
//       window is laid out at WxH, else at its preferred size; exit 1 when
//       the file does not load
// Usage errors print the usage and exit 2.
#pragma once

#include <cstdio>
#include <string>

#include "gui/layout.h"
#include "platform/window.h"

// Runs tqlayout with its arguments (argv[0] the program); `windowed` is the
// window-system instance for geometry without --headless. The exit code.
int LayoutCommandMain(int argc, char** argv, const PlatWindowOps* windowed, FILE* out, FILE* err);

// The geometry lines of a laid-out layout (what "geometry" prints).
std::string LayoutGeometryText(const GUILayout* layout);
