// POSIX implementation of platform/module.h over the dynamic linker.
#include "platform/module.h"

#include <cerrno>
#include <dlfcn.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/error.h"

// One loaded module: the dynamic linker's handle.
struct PlatModule {
  void* handle; // from dlopen
};

PlatModule* PlatModuleLoad(const char* path) {
  if (!path || !*path) {
    PlatSetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  struct stat st;
  if (::stat(path, &st) != 0) {
    int err = errno;
    PlatSetLastError(err == ENOENT || err == ENOTDIR ? ERROR_MOD_NOT_FOUND : PlatErrorFromErrno(err));
    return nullptr;
  }
  if (S_ISDIR(st.st_mode)) {
    PlatSetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  void* handle = ::dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    // The dynamic linker gives only a text; an existing file it refused is
    // not a loadable module for this process.
    (void)::dlerror();
    PlatSetLastError(::access(path, R_OK) == 0 ? ERROR_BAD_EXE_FORMAT : ERROR_ACCESS_DENIED);
    return nullptr;
  }
  PlatModule* module = new (std::nothrow) PlatModule{handle};
  if (!module) {
    ::dlclose(handle);
    PlatSetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return module;
}

void* PlatModuleSymbol(PlatModule* module, const char* name) {
  if (!module || !name) {
    PlatSetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  (void)::dlerror();
  void* sym = ::dlsym(module->handle, name);
  if (!sym) {
    (void)::dlerror();
    PlatSetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return sym;
}

void PlatModuleFree(PlatModule* module) {
  if (!module) return;
  ::dlclose(module->handle);
  delete module;
}
