// The configuration tool's program: start-up in its fixed order, the
// service operations, shutdown.
#pragma once

#include "platform/window.h"

// Runs the tool with the arguments the process received. Returns the exit
// code: 0 after a normal run or the usage text, 1 after command-line errors,
// when the client preferences cannot be loaded or the window system cannot
// be set up. `windowed` is the window system of a run with windows (null:
// the headless one); --nogui always runs on the headless one.
int ToolMain(int argc, char** argv, const PlatWindowOps* windowed);
