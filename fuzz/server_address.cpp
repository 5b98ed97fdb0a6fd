// Fuzzes the splitting of the configured Server into host and port: any
// text gives -1 or a non-empty host of at most 255 characters that is part
// of the text, and a port of 1-65535.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fetch/server_address.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  UpdServerAddress a;
  if (UpdParseServer(text.c_str(), 80, &a) != 0) return 0;
  size_t n = std::strlen(a.host);
  if (n == 0 || n > 255) std::abort();
  if (a.port < 1 || a.port > 65535) std::abort();
  if (text.find(a.host) == std::string::npos) std::abort();
  return 0;
}
