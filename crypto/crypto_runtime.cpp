// The process's crypto library record: the in-process and loaded-module
// bindings and the crypto library mutex.
#include "crypto/crypto_runtime.h"

#include <cstdio>
#include <cstring>

#include "platform/error.h"
#include "platform/module.h"
#include "runtime/alloc.h"
#include "runtime/env.h"
#include "runtime/mutex.h"
#include "runtime/report.h"

// The build names the module and OpenSSL's library for the host's loader.
const char* const RV_CRYPTO_MODULE_FILE = TQ_CRYPTO_MODULE_FILE_NAME;
const char* const RV_CRYPTO_OPENSSL_FILE = TQ_CRYPTO_OPENSSL_FILE_NAME;

namespace {

// Global state: set up on the main thread before other threads start; the
// record is not changed after its binding.
RVCryptoLib* g_lib = nullptr;             // the global record (never freed)
RVMutex* g_mutex = nullptr;               // the crypto library mutex
bool g_tried = false;                     // a binding has been tried
int g_status = -1;                        // 0 after a successful binding
PlatModule* g_openssl_module = nullptr;   // OpenSSL's library, kept for the module

// Creates the crypto library mutex and the zeroed record for this caller's
// version. 0, or -1 after "Error Allocating tqcrypto Mutex".
int CreateMutexAndRecord() {
  g_mutex = RVMutexAlloc();
  if (!g_mutex || RVMutexCreate(g_mutex, nullptr) != 0) {
    RVReportError("Error Allocating tqcrypto Mutex");
    if (g_mutex) RVMutexFree(g_mutex);
    g_mutex = nullptr;
    return -1;
  }
  g_lib = RVAllocRecord<RVCryptoLib>();
  g_lib->caller_version = RV_CRYPTO_VERSION;
  return 0;
}

// Joins lib_dir, "/" and a file name and normalises the result. 0, or -1
// when it does not fit `size`.
int ModulePath(const char* lib_dir, const char* name, char* out, size_t size) {
  int n = std::snprintf(out, size, "%s/%s", lib_dir, name);
  if (n < 0 || static_cast<size_t>(n) >= size) return -1;
  RVNormalizePath(out);
  return 0;
}

// Loads one module of lib_dir; null after "Cannot open DLL Library '%s' -
// Error: %d".
PlatModule* LoadFromLibDir(const char* lib_dir, const char* name, char* path, size_t size) {
  PlatModule* module = nullptr;
  uint32_t error = ERROR_FILENAME_EXCED_RANGE;
  if (ModulePath(lib_dir, name, path, size) == 0) {
    module = PlatModuleLoad(path);
    if (!module) error = PlatGetLastError();
  } else {
    std::snprintf(path, size, "%s", name);
  }
  if (!module) RVReportError("Cannot open DLL Library '%s' - Error: %d", path, static_cast<int>(error));
  return module;
}

// Forgets a failed module binding: frees the module and clears every slot
// that may point into it.
void DropModule() {
  PlatModule* module = g_lib->module;
  int16_t caller_version = g_lib->caller_version;
  std::memset(static_cast<void*>(g_lib), 0, sizeof *g_lib);
  g_lib->caller_version = caller_version;
  PlatModuleFree(module);
  PlatModuleFree(g_openssl_module);
  g_openssl_module = nullptr;
}

// The in-process binding, after the runtime settings when `settings`.
int BindInProcess(bool settings) {
  if (g_tried) return g_status;
  g_tried = true;
  if (settings) RVInit(nullptr);
  if (CreateMutexAndRecord() < 0) return -1;
  if (RVCryptoInit(g_lib) < 0) {
    RVReportError("RVCryptoInitLib() RVCryptoInit() failed");
    return -1;
  }
  g_status = 0;
  return 0;
}

}  // namespace

int RVCryptoInitLib() { return BindInProcess(true); }

int RVCryptoInitLibBare() { return BindInProcess(false); }

int RVCryptoLoadLib() {
  if (g_tried) return g_status;
  g_tried = true;
  RVInit(nullptr);
  if (CreateMutexAndRecord() < 0) return -1;

  const char* lib_dir = RVGetEnv("lib_dir");
  if (!lib_dir || !*lib_dir) {
    RVReportError("lib_dir not set - cannot load: %s", RV_CRYPTO_MODULE_FILE);
    return -1;
  }
  char path[1024];
  g_openssl_module = LoadFromLibDir(lib_dir, RV_CRYPTO_OPENSSL_FILE, path, sizeof path);
  if (!g_openssl_module) return -1;
  g_lib->module = LoadFromLibDir(lib_dir, RV_CRYPTO_MODULE_FILE, path, sizeof path);
  if (!g_lib->module) {
    DropModule();
    return -1;
  }
  RVCryptoInitFn init = reinterpret_cast<RVCryptoInitFn>(PlatModuleSymbol(g_lib->module, "RVCryptoInit"));
  if (!init) {
    RVReportError("RVCryptoLoadLib() error, no init routine in %s", path);
    DropModule();
    return -1;
  }
  if (init(g_lib) < 0) {
    RVReportError("RVCryptoLoadLib() RVCryptoInit() failed in %s", path);
    DropModule();
    return -1;
  }
  g_status = 0;
  return 0;
}

RVCryptoLib* RVCryptoGetLib() { return g_status == 0 ? g_lib : nullptr; }

int RVCryptoLock() {
  if (!g_mutex) return -1;
  return RVMutexLock(g_mutex) == 0 ? 0 : -1;
}

void RVCryptoUnlock() {
  if (g_mutex) RVMutexUnlock(g_mutex);
}
