// The runtime's allocation rule: memory comes zero-filled, and exhaustion
// ends the process after reporting it.
#pragma once

#include <cstddef>

// Allocates nelem * size bytes, zero-filled. On exhaustion reports
// "RVAlloc()/calloc() error, nelem: %d size: %d" and ends the process.
void* RVAlloc(size_t nelem, size_t size);

// Frees memory from RVAlloc (null is allowed).
void RVFree(void* p);

// New copy of `text` (length + 1 rounded up to even, zero-filled), or null
// for an absent or empty text.
char* RVStrDup(const char* text);

// Allocates one zeroed record of type T by the allocation rule.
template <typename T>
T* RVAllocRecord() {
  return static_cast<T*>(RVAlloc(1, sizeof(T)));
}
