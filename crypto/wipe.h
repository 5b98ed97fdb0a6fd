// Wiping secrets before their memory is released.
#pragma once

#include <cstddef>

// Overwrites `len` bytes at `p` with zeros in a way the compiler may not
// drop (null or 0 bytes: nothing).
void RVCryptoWipe(void* p, size_t len);

// Wipes and frees a zero-terminated text from the C heap (null is ignored).
void RVCryptoWipeFreeText(char* text);
