// How the engine learns that the program is stopping: the program that runs
// the engine (the service) gives it a hook; without one it never stops early.
#pragma once

#include "fetch/fetch_settings.h"

// Sets the hook asked for a stop request (null: none), for the engine and
// for the fetches it makes.
void UpdSetStopHook(UpdFetchStopHook hook);

// True when the hook says a stop was requested.
bool UpdEngineStopRequested();
