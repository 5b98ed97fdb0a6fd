// RVMutex: the runtime's recursive mutex over a platform mutex object.
#include "runtime/mutex.h"

#include <atomic>

#include "platform/error.h"
#include "platform/named_mutex.h"
#include "platform/security.h"
#include "platform/system.h"
#include "runtime/alloc.h"
#include "runtime/print.h"
#include "runtime/util.h"

namespace {

std::atomic<RVMutexWaitHook> g_wait_hook{nullptr}; // runs between wait slices
std::atomic<uint32_t> g_slice_ms{500};             // one wait slice
std::atomic<uint32_t> g_max_timeouts{600};         // time-outs allowed before the process ends

// The record's owner is written only by the holding thread but read by any
// thread that unlocks; the accesses are atomic so that reading is defined.
uint64_t LoadOwner(const RVMutex* m) { return __atomic_load_n(&m->owner, __ATOMIC_RELAXED); }
void StoreOwner(RVMutex* m, uint64_t owner) { __atomic_store_n(&m->owner, owner, __ATOMIC_RELAXED); }

// Records one acquisition by the calling thread (it holds the object now).
void Acquired(RVMutex* m) {
  uint64_t me = PlatThreadId();
  if (LoadOwner(m) == me) {
    m->count++;
  } else {
    StoreOwner(m, me);
    m->count = 1;
  }
}

// Waits once for `timeout_ms`: 0 acquired, 1 timed out, -1 failed (reported).
int WaitOnce(RVMutex* m, uint32_t timeout_ms) {
  uint32_t r = PlatMutexWait(m->handle, timeout_ms);
  if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED) {
    Acquired(m);
    return 0;
  }
  if (r == WAIT_TIMEOUT) return 1;
  RVPrintError("RVMutexLock() - WaitForSingleObject() failed: %d", static_cast<int>(PlatGetLastError()));
  return -1;
}

}  // namespace

RVMutex* RVMutexAlloc() { return RVAllocRecord<RVMutex>(); }

int RVMutexCreate(RVMutex* mutex, const char* name) {
  if (!mutex) {
    RVPrintError("Error Creating Mutex");
    return -1;
  }
  PlatSecurityDescriptor desc;
  const PlatSecurityDescriptor* attrs = nullptr;
  if (mutex->flags & RV_MUTEX_AUTHUSER) {
    if (RVAuthUserSecDesc(&desc) != 0) {
      RVPrintError("Error Creating Mutex");
      return -1;
    }
    attrs = &desc;
  }
  PlatMutex* handle = PlatMutexCreate(name, attrs);
  if (!handle) {
    RVPrintError("Error Creating Mutex");
    return -1;
  }
  mutex->handle = handle;
  mutex->flags |= RV_MUTEX_HANDLE;
  return 0;
}

int RVMutexLock(RVMutex* mutex) {
  if (!mutex) {
    RVPrintError("RVMutexLock() - Null Mutex");
    return -1;
  }
  const uint32_t slice = g_slice_ms.load();
  const uint32_t max_timeouts = g_max_timeouts.load();
  for (uint32_t timeouts = 0;;) {
    int r = WaitOnce(mutex, slice);
    if (r <= 0) return r;
    if (++timeouts > max_timeouts) {
      RVPrintError("RVMutexLock() - Failed to aquire lock, aborting after 5 minutes");
      PlatExitProcess(1);
    }
    if (RVMutexWaitHook hook = g_wait_hook.load()) hook();
  }
}

int RVMutexTryLock(RVMutex* mutex) {
  if (!mutex) {
    RVPrintError("RVMutexLock() - Null Mutex");
    return -1;
  }
  return WaitOnce(mutex, 0);
}

void RVMutexUnlock(RVMutex* mutex) {
  if (!mutex) {
    RVPrintError("RVMutexUnlock() - Null Mutex");
    return;
  }
  if (LoadOwner(mutex) == PlatThreadId()) {
    if (--mutex->count <= 0) {
      mutex->count = 0;
      StoreOwner(mutex, 0);
    }
  }
  if (PlatMutexRelease(mutex->handle) != 0)
    RVPrintError("RVMutexUnlock() - ReleaseMutex() failed: %d", static_cast<int>(PlatGetLastError()));
}

void RVMutexFree(RVMutex* mutex) {
  if (!mutex) return;
  if (mutex->flags & RV_MUTEX_HANDLE) {
    PlatMutexClose(mutex->handle);
    mutex->handle = nullptr;
    mutex->flags &= ~RV_MUTEX_HANDLE;
  }
  RVFree(mutex);
}

void RVSetMutexWaitHook(RVMutexWaitHook hook) { g_wait_hook.store(hook); }

void RVMutexSetLimits(uint32_t slice_ms, uint32_t max_timeouts) {
  g_slice_ms.store(slice_ms);
  g_max_timeouts.store(max_timeouts);
}
