// Fuzzes the readers of the installed-products records and the installer's
// journal: no input may crash them, and what they accept, written back,
// reads the same.
#include <cstdint>
#include <string>

#include "platform/installer/record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  MsiProductRecord rec;
  if (MsiParseRecord(text, &rec) == 0) {
    std::string written = MsiFormatRecord(rec);
    MsiProductRecord again;
    if (MsiParseRecord(written, &again) != 0 || MsiFormatRecord(again) != written) __builtin_trap();
  }
  MsiJournal j;
  if (MsiParseJournal(text, &j) == 0) {
    std::string written = MsiFormatJournal(j);
    MsiJournal again;
    if (MsiParseJournal(written, &again) != 0 || MsiFormatJournal(again) != written) __builtin_trap();
  }
  return 0;
}
