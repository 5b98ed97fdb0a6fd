// The accepted script serial in the machine registry.
#include "engine/script_serial.h"

#include <cstring>
#include <vector>

#include "fetch/script_metadata.h"
#include "platform/error.h"
#include "platform/registry.h"

namespace {

// Room for the stored text: 20 digits, a blank, 64 hex digits, terminator.
constexpr uint32_t kStoredRoom = 128;

}  // namespace

int UpdReadStoredSerial(UpdStoredSerial* out) {
  *out = UpdStoredSerial();
  PlatHKey key = nullptr;
  if (PlatRegOpenKey(PLAT_HKEY_LOCAL_MACHINE, kUpdSerialKey, PLAT_KEY_READ, &key) != ERROR_SUCCESS) return 0;
  char data[kStoredRoom] = {};
  uint32_t size = sizeof data - 1;
  uint32_t type = 0;
  uint32_t rc = PlatRegQueryValue(key, kUpdSerialValue, &type, data, &size);
  PlatRegCloseKey(key);
  if (rc == ERROR_FILE_NOT_FOUND) return 0;
  if (rc != ERROR_SUCCESS || type != PLAT_REG_SZ) return -1;
  data[sizeof data - 1] = '\0';
  std::string text = data;
  size_t blank = text.find(' ');
  if (blank == std::string::npos) return -1;
  std::string hex = text.substr(blank + 1);
  if (UpdParseSerial(text.substr(0, blank), &out->serial) != 0 || hex.size() != 64 ||
      hex.find_first_not_of("0123456789abcdef") != std::string::npos)
    return -1;
  out->present = 1;
  out->digest_hex = hex;
  return 0;
}

int UpdStoreSerial(uint64_t serial, const std::string& digest_hex) {
  PlatHKey key = nullptr;
  if (PlatRegCreateKey(PLAT_HKEY_LOCAL_MACHINE, kUpdSerialKey, &key) != ERROR_SUCCESS) return -1;
  std::string text = std::to_string(serial) + " " + digest_hex;
  uint32_t rc = PlatRegSetValue(key, kUpdSerialValue, PLAT_REG_SZ, text.c_str(), static_cast<uint32_t>(text.size() + 1));
  PlatRegCloseKey(key);
  return rc == ERROR_SUCCESS ? 0 : -1;
}
