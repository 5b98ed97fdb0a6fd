// Wiping secrets before their memory is released.
#include "crypto/wipe.h"

#include <cstring>

#include "runtime/alloc.h"

void RVCryptoWipe(void* p, size_t len) {
  if (!p) return;
  volatile unsigned char* v = static_cast<volatile unsigned char*>(p);
  for (size_t i = 0; i < len; i++) v[i] = 0;
}

void RVCryptoWipeFreeText(char* text) {
  if (!text) return;
  RVCryptoWipe(text, std::strlen(text) + 1);
  RVFree(text);
}
