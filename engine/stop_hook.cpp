// The engine's stop hook: the same hook serves the fetch layer.
#include "engine/stop_hook.h"

void UpdSetStopHook(UpdFetchStopHook hook) { g_upd_fetch.stop_requested = hook; }

bool UpdEngineStopRequested() { return UpdFetchStopRequested(); }
