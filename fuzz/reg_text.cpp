// Fuzzes the registry's text form: any script read leniently, written out
// and read again gives the same tree (the same text once more), and the
// strict reader accepts what the writer made.
#include <cstdint>
#include <string>

#include "platform/registry_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text = PlatRegDecodeScript(std::string(reinterpret_cast<const char*>(data), size));
  PlatRegNode first;
  PlatRegParseResult r1{};
  PlatRegParse(text, false, &first, &r1);
  std::string written = PlatRegFormat(first, "HKEY_LOCAL_MACHINE");

  PlatRegNode second;
  PlatRegParseResult r2{};
  PlatRegParse(written, true, &second, &r2);
  if (r2.bad_line != 0 || r2.lines_skipped != 0) __builtin_trap();
  if (PlatRegFormat(second, "HKEY_LOCAL_MACHINE") != written) __builtin_trap();
  return 0;
}
