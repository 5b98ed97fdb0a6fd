// What the files of the FLTK window system share; nothing outside
// platform/fltk/ includes this.
#pragma once

#include <cstddef>

#include "platform/window.h"

// Opens the display when that was not tried yet (the open_display slot).
// 0, or -1 with the reason in `reason` (at most size - 1 bytes; null: not
// wanted).
int FltkOpenDisplay(char* reason, size_t size);

// 1 while the display is open, else 0.
int FltkDisplayIsOpen();

// Shows the modal message box (the message_box slot). -1 when no display
// can be opened, else 0 once the box is closed.
int FltkMessageBox(const char* caption, const char* text, PlatBoxIcon icon, void* owner);
