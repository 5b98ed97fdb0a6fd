// The tool's message boxes: the report hooks ("TQ Error", "TQ Info") and the
// runtime's print boxes ("Error", "Info"), shown through the selected
// window-system instance; a box that cannot be shown goes to the console.
#pragma once

#include "platform/window.h"

// Longest text of a tool box, in bytes.
constexpr size_t kGUIBoxTextMax = 4095;

// Shows a modal box with OK after sounding the bell (when `bell` is 1),
// opening the display on first use. When no box can be shown the text goes
// to standard error (error and warning icons) or standard output (info),
// and -1 is returned; else 0 once the box is closed. An empty text shows
// nothing and returns 0.
int GUIShowBox(const char* caption, const char* text, PlatBoxIcon icon, int bell);

// The tool's error report: "TQ Error" with the exclamation icon.
void GUIReportErrorBox(const char* text);

// The tool's information report: "TQ Info" with the information icon.
void GUIReportInfoBox(const char* text);

// The tool's warning report: "TQ Info" with the warning icon.
void GUIReportWarningBox(const char* text);

// The runtime's print box ("Info" or "Error", the warning icon, no owner;
// the bell first for "Error"). 0 shown, -1 not.
int GUIPrintBox(const char* caption, const char* text);

// Installs the report hooks and the print box hook for a windowed program.
void GUIInstallMessageBoxes();
