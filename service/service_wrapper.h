// The service wrapper: service main function, control handler, worker
// thread and the stop event.
#pragma once

#include <cstdint>

struct PlatEvent;

// The stop event, or null when the program does not run under the service
// manager (foreground and test mode): then it is never signalled.
PlatEvent* UpdStopEvent();

// True when the stop event exists and is signalled (tested without waiting).
bool UpdStopRequested();

// The service main function the service manager calls on its own thread.
// From here on the runtime's printed texts also go to the event log under
// the service's source.
void UpdServiceMain(uint32_t argc, char** argv);

// The control handler: stop, interrogate; every other control is refused.
uint32_t UpdServiceHandler(uint32_t control, uint32_t event_type, void* event_data, void* context);

// The worker thread's procedure: runs the worker, then signals the stop event.
uint32_t UpdServiceThread(void* arg);

// Records the last error as the service's exit code, writes an event-log
// error "TQService Error: %d" / `what`, and signals the stop event.
void UpdServiceError(const char* what);

// The last error saved by UpdServiceError, 0 if none.
uint32_t UpdServiceSavedError();

// Connects to the service manager as the service; reports
// "StartServiceCtrlDispatcher Failed" when that is impossible.
void UpdServiceRun();
