// Fuzzes the reading of an HttpsPin value: the input is the text. An
// accepted pin reads back as the same text, apart from the prefix's case.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <strings.h>

#include "fetch/fetch_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  if (text.find('\0') != std::string::npos) return 0;
  std::array<unsigned char, kUpdPinSize> pin;
  if (UpdParsePin(text.c_str(), &pin) != 0) return 0;
  std::string again = UpdPinText(pin);
  if (strcasecmp(again.substr(0, 7).c_str(), text.substr(0, 7).c_str()) != 0 || again.substr(7) != text.substr(7))
    std::abort();
  return 0;
}
