// Mutex objects: unnamed ones inside a process, named ones ("Global\...")
// shared by unrelated processes.
//
// Ownership is per thread and recursive, as with Windows mutex objects: every
// successful wait must be matched by one release on the same thread. A mutex
// whose holding process died is "abandoned": the next wait acquires it and
// says so. A named mutex exists while any process holds a handle to it.
#pragma once

#include <cstdint>

#include "platform/security.h"

struct PlatMutex;

// Creates (or opens, when the name exists) a mutex, not owned. `name` null
// gives an unnamed mutex. The files behind a named mutex get the modes of
// `desc` (owner-only when null). After success the last error is 183 when the
// name existed already, else 0. Null with the last error on failure.
PlatMutex* PlatMutexCreate(const char* name, const PlatSecurityDescriptor* desc);

// Waits up to `timeout_ms` (0 = test only, 0xFFFFFFFF = PLAT_INFINITE of
// platform/event.h = no limit) for ownership. Returns WAIT_OBJECT_0,
// WAIT_ABANDONED (acquired; the previous holder - a process, or a thread of
// this process - ended holding it), WAIT_TIMEOUT, or WAIT_FAILED with the
// last error.
uint32_t PlatMutexWait(PlatMutex* mutex, uint32_t timeout_ms);

// Releases one level of ownership; -1 with 288 when the caller is not owner.
int PlatMutexRelease(PlatMutex* mutex);

// Closes a handle; the mutex disappears with its last handle in the system.
void PlatMutexClose(PlatMutex* mutex);

// 1 when a named mutex of that name exists (some process holds a handle),
// else 0.
int PlatMutexExists(const char* name);
