// Threads with an explicit stack size, and a join with a time limit.
#pragma once

#include <cstddef>
#include <cstdint>

struct PlatThread;

typedef uint32_t (*PlatThreadProc)(void* arg);

// Starts `proc(arg)` on a new thread with a stack of `stack_size` bytes
// (0 = the default; sanitizer builds get a larger stack). Null with the
// last error on failure.
PlatThread* PlatThreadStart(PlatThreadProc proc, void* arg, size_t stack_size);

// Waits up to `timeout_ms` (0xFFFFFFFF = no limit) for the thread to end:
// WAIT_OBJECT_0 or WAIT_TIMEOUT.
uint32_t PlatThreadWait(PlatThread* thread, uint32_t timeout_ms);

// Releases the handle; a thread still running is left to finish on its own.
void PlatThreadClose(PlatThread* thread);
