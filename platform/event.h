// Event objects: unnamed ones inside a process, named ones ("Global\...")
// shared by unrelated processes.
//
// A manual-reset event stays signalled until it is reset; an auto-reset
// event releases one waiter and resets itself. A named event exists while
// any process holds a handle to it.
#pragma once

#include <cstdint>

#include "platform/security.h"

struct PlatEvent;

// Creates (or opens, when the name exists) an event. `name` null gives an
// unnamed event. After success the last error is 183 when the name existed
// already, else 0. Null with the last error on failure.
PlatEvent* PlatEventCreate(const char* name, bool manual_reset, bool initially_set, const PlatSecurityDescriptor* desc);

// Opens an existing named event; null with 2 (ERROR_FILE_NOT_FOUND) when no
// process holds it. A process that may not wait for the event (see
// platform/security.h) gets a handle that can only signal it, when the
// event's descriptor allows that: waiting and resetting it fail with 5.
PlatEvent* PlatEventOpen(const char* name, bool manual_reset);

// Signals the event.
int PlatEventSet(PlatEvent* event);

// Clears the event.
int PlatEventReset(PlatEvent* event);

// Waits up to `timeout_ms` (PLAT_INFINITE = no limit) for the event:
// WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED. An auto-reset event is
// cleared by the wait that takes it.
uint32_t PlatEventWait(PlatEvent* event, uint32_t timeout_ms);

// Waits for any of `count` events (null entries never fire): WAIT_OBJECT_0 +
// index of the first signalled one, WAIT_TIMEOUT or WAIT_FAILED.
uint32_t PlatEventWaitAny(PlatEvent* const* events, uint32_t count, uint32_t timeout_ms);

// Closes a handle.
void PlatEventClose(PlatEvent* event);

// Wait without a time limit.
constexpr uint32_t PLAT_INFINITE = 0xFFFFFFFFu;
