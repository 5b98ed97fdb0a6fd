// GUI tests: a private X server per test program (Xvfb), and the X tools
// that find, look at and drive its windows: xdotool (real input through
// XTEST), xwininfo, xprop, xclip and ImageMagick's import, identify and
// compare. Needs no GoogleTest (the benchmarks use it too) except for the
// artefact macro at the end.
#pragma once

#include <string>
#include <sys/types.h>

// The private X server of this process.
struct TqXServer {
  pid_t pid;          // Xvfb's process, 0 when none runs
  int number;         // the N of ":N"
  char display[32];   // ":N", what DISPLAY is set to
};

// Starts the private X server, once per process (later calls return the
// first result): Xvfb -displayfd FD -screen 0 1280x1024x24 -dpi 96
// -nolisten tcp -noreset (no reset: properties set on the root, such as
// _NET_WORKAREA, stay when the last client leaves). Sets DISPLAY for this
// process and the children it starts after (a child process uses that
// server: it starts none of its own); the server is ended by its pid when
// this process exits (and by the kernel when it dies). 0, or -1 with the
// reason, Xvfb's own output included, in *reason (null: not wanted).
int TqXvfbStart(std::string* reason = nullptr);

// The server started (pid 0 before a start and after a stop).
const TqXServer* TqXvfbServer();

// Ends the server now (nothing when none runs); DISPLAY keeps its value.
void TqXvfbStop();

// Runs a command line through /bin/sh under `timeout` (seconds); its
// standard output and error go to *out when not null. The exit code, 124
// when the time ran out, -1 when it could not be run.
int TqXRun(const std::string& command, std::string* out = nullptr, int timeout_s = 30);

// One argument quoted for /bin/sh.
std::string TqXQuote(const std::string& s);

// An extended regular expression that matches exactly `text`.
std::string TqXExactPattern(const std::string& text);

// Waits up to timeout_ms for a viewable window whose name (WM_NAME or
// _NET_WM_NAME) matches the extended regular expression `pattern`, case
// ignored (xdotool search --sync --onlyvisible --name). Its id, or 0.
unsigned long TqXFindWindow(const std::string& pattern, int timeout_ms = 10000);

// TqXFindWindow for a window titled exactly `title`.
unsigned long TqXFindWindowTitled(const std::string& title, int timeout_ms = 10000);

// A window's place and size (xwininfo): absolute upper-left corner of its
// inside, width and height without the border.
struct TqXGeometry {
  int x;
  int y;
  int width;
  int height;
  int border;
};

// Reads a window's geometry. 0, or -1.
int TqXWindowGeometry(unsigned long window, TqXGeometry* out);

// The value of a property as xprop prints it ("\"Info\"" for WM_NAME, "0,
// 30, 1280, 960" for a list), or "" when it is not set. window 0: the root.
std::string TqXProperty(unsigned long window, const std::string& property);

// A window's WM_NAME as text (quotes and escapes of xprop undone). 0, or -1
// when it has none.
int TqXWindowName(unsigned long window, std::string* name);

// Sets the root's _NET_WORKAREA to one rectangle. 0, or -1.
int TqXSetWorkArea(int x, int y, int width, int height);

// Removes the root's _NET_WORKAREA. 0, or -1.
int TqXClearWorkArea();

// Gives the window the input focus and waits until it has it. 0, or -1.
int TqXFocus(unsigned long window);

// Focuses the window, then presses keys through XTEST (xdotool key:
// "Return", "Escape", "ctrl+c", several separated by blanks). 0, or -1.
int TqXKey(unsigned long window, const std::string& keys);

// Focuses the window, then types the text through XTEST. 0, or -1.
int TqXType(unsigned long window, const std::string& text);

// The clipboard's text (xclip -o). 0, or -1 when it has none.
int TqXClipboardGet(std::string* text);

// Puts text on the clipboard (xclip, which serves it from the background
// until another client takes the clipboard or the server ends). 0, or -1.
int TqXClipboardSet(const std::string& text);

// Saves a picture of the window as PNG at `path` (import -window), taken
// when two captures in a row are equal, so that the window has finished
// drawing (at most timeout_ms). 0, or -1.
int TqXScreenshot(unsigned long window, const std::string& path, int timeout_ms = 5000);

// Width and height of an image file (identify). 0, or -1.
int TqXImageSize(const std::string& path, int* width, int* height);

// The number of pixels in which two images of one size differ (compare
// -metric AE); -1 when they cannot be compared (sizes differ, unreadable).
long TqXImageDifference(const std::string& a, const std::string& b);

// Waits up to timeout_ms for a child process; its exit code (128 + signal
// when killed) in *code. 0, or -1 when it is still running.
int TqXWaitChild(pid_t pid, int timeout_ms, int* code);

// Ends a child by its pid if it still runs (SIGKILL) and reaps it.
void TqXKillChild(pid_t pid);

// The folder for a test's artefacts, created:
// <binary_dir>/test-artifacts/gui/<test_name>/ ('/' in the name becomes
// '_'). "" when it cannot be created.
std::string TqXArtifactDir(const std::string& binary_dir, const std::string& test_name);

// The artefact folder of the running GoogleTest test (needs TQ_BINARY_DIR,
// which the test programs define, and <gtest/gtest.h>).
#define TQ_X_TEST_ARTIFACT_DIR()                                                              \
  TqXArtifactDir(TQ_BINARY_DIR,                                                               \
                 std::string(::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name()) + \
                     "." + ::testing::UnitTest::GetInstance()->current_test_info()->name())
