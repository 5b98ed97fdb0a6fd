// Placeholder until the runtime mutex lands.
#include "runtime/mutex.h"
RVMutex* RVMutexAlloc() { return nullptr; }
int RVMutexCreate(RVMutex*, const char*) { return -1; }
int RVMutexLock(RVMutex*) { return -1; }
int RVMutexTryLock(RVMutex*) { return -1; }
void RVMutexUnlock(RVMutex*) {}
void RVMutexFree(RVMutex*) {}
void RVSetMutexWaitHook(RVMutexWaitHook) {}
void RVMutexSetLimits(uint32_t, uint32_t) {}
