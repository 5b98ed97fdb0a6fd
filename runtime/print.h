// Runtime output: RVPrintInfo and RVPrintError carry the runtime's own
// internal messages to the console, or to a message box in a windowed client.
#pragma once

#define RV_PRINTF(f, a) __attribute__((format(printf, f, a)))

// Formats into 1,024 bytes and prints to standard output (or an "Info"
// message box for a GUI client). An absent or empty format prints nothing.
void RVPrintInfo(const char* format, ...) RV_PRINTF(1, 2);

// As RVPrintInfo, to standard error (or an "Error" message box after the
// bell).
void RVPrintError(const char* format, ...) RV_PRINTF(1, 2);

// The client kind set by the login layer; "None" until something sets it.
const char* RVClientKind();

// Sets the client kind ("WIN32-GUI", "WIN64-GUI" select message boxes).
void RVSetClientKind(const char* kind);

// Shows a system-modal warning message box, after the bell when `caption`
// is "Error"; installed by a windowed program. Returns 0 when the box was shown, -1 when none could be (the text then
// goes to the console as in a program without boxes).
typedef int (*RVMessageBoxHook)(const char* caption, const char* text);

// Installs the message box hook (null: message boxes fall back to the console).
void RVSetMessageBoxHook(RVMessageBoxHook hook);

// Receives every text RVPrintInfo (error 0) and RVPrintError (error 1)
// print, without a final line feed, after the console or message box has
// it; installed by a program whose console nobody reads (the service).
typedef void (*RVPrintHook)(int error, const char* text);

// Installs the print hook (null: none). Safe while other threads print.
void RVSetPrintHook(RVPrintHook hook);
