// The runtime's allocation rule.
#include "runtime/alloc.h"

#include <cstdlib>
#include <cstring>

#include "platform/system.h"
#include "runtime/report.h"

void* RVAlloc(size_t nelem, size_t size) {
  void* p = std::calloc(nelem ? nelem : 1, size ? size : 1);
  if (!p) {
    RVReportError("RVAlloc()/calloc() error, nelem: %d size: %d", static_cast<int>(nelem), static_cast<int>(size));
    PlatExitProcess(1);
  }
  return p;
}

void RVFree(void* p) { std::free(p); }

char* RVStrDup(const char* text) {
  if (!text || !*text) return nullptr;
  size_t len = std::strlen(text);
  size_t n = (len + 2) & ~static_cast<size_t>(1);
  char* copy = static_cast<char*>(RVAlloc(1, n));
  std::memcpy(copy, text, len);
  return copy;
}
