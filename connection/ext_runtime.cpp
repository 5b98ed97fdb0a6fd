// The connection runtime's start and end. Connections themselves come with
// the wire protocol.
#include "connection/ext_runtime.h"

#include "connection/ext.h"

#include "crypto/crypto_runtime.h"
#include "runtime/env.h"
#include "runtime/mutex.h"
#include "runtime/print.h"

namespace {

// The runtime's connection mutex; null until RVExtInit.
RVMutex* g_ext_mutex = nullptr;

// Result of the first RVExtInit; 1 = not run yet.
int g_ext_status = 1;

}  // namespace

int RVExtInit() {
  if (g_ext_status != 1) return g_ext_status;
  RVInit(nullptr);
  g_ext_status = -1;
  RVMutex* m = RVMutexAlloc();
  if (RVMutexCreate(m, nullptr) != 0) {
    RVMutexFree(m);
    RVPrintError("Error Allocating RVExt Global Mutex");
    return -1;
  }
  g_ext_mutex = m;
  if (RVCryptoLoadLib() != 0) {
    RVPrintError("Unable to load TQ crypto library\n");
    return -1;
  }
  g_ext_status = 0;
  return 0;
}

void RVExtShutdown() {
  RVExtFreeAll();
  if (g_ext_mutex) RVMutexFree(g_ext_mutex);
  g_ext_mutex = nullptr;
  g_ext_status = 1;
}
