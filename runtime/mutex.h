// RVMutex: the runtime's recursive mutex over a platform mutex object.
//
// It counts recursive acquisitions per thread, ends the process after about
// five minutes without the lock, and lets a windowed program keep its
// messages flowing while it waits.
#pragma once

#include <cstdint>

struct PlatMutex;

enum : uint32_t {
  RV_MUTEX_HANDLE = 0x1,   // a mutex object handle is held
  RV_MUTEX_AUTHUSER = 0x2, // create with the authenticated-users descriptor
};

// One runtime mutex. Allocated zeroed by its owner, freed by RVMutexFree.
struct RVMutex {
  uint32_t flags;    // RV_MUTEX_* bits
  int32_t count;     // times the owning thread holds it
  PlatMutex* handle; // the mutex object
  uint64_t owner;    // id of the owning thread, 0 when none
};

// Allocates a zeroed record by the runtime's allocation rule.
RVMutex* RVMutexAlloc();

// Creates the mutex object, named or unnamed (name null); an existing name
// opens the same object. 0, or -1 after "Error Creating Mutex".
int RVMutexCreate(RVMutex* mutex, const char* name);

// Acquires the mutex (recursively for its owner); waits in 500 ms slices,
// running the wait hook between them, and ends the process after 600
// consecutive time-outs. 0 when acquired, -1 on error.
int RVMutexLock(RVMutex* mutex);

// As RVMutexLock without waiting: 0 acquired, 1 busy, -1 error.
int RVMutexTryLock(RVMutex* mutex);

// Releases one acquisition; reports a release by a non-owner.
void RVMutexUnlock(RVMutex* mutex);

// Closes the handle (when held) and frees the record.
void RVMutexFree(RVMutex* mutex);

// Runs between wait slices, e.g. to dispatch a window's pending messages.
typedef void (*RVMutexWaitHook)(void);

// Installs the wait hook for the process (null: none).
void RVSetMutexWaitHook(RVMutexWaitHook hook);

// Changes the wait slice and the number of time-outs before the process is
// ended (defaults 500 ms and 600); for tests of the abort path.
void RVMutexSetLimits(uint32_t slice_ms, uint32_t max_timeouts);
