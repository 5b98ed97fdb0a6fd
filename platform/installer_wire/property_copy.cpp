// A property's value into the caller's buffer.
#include "platform/installer_wire/property_copy.h"

#include <cstring>

#include "platform/installer.h"

uint32_t MsiCopyPropertyOut(const std::string& value, char* buf, uint32_t* size) {
  if (!size) return MSI_OK;
  uint32_t room = *size;
  *size = static_cast<uint32_t>(value.size());
  if (!buf) return MSI_OK;
  if (room > value.size()) {
    std::memcpy(buf, value.c_str(), value.size() + 1);
    return MSI_OK;
  }
  if (room > 0) {
    std::memcpy(buf, value.data(), room - 1);
    buf[room - 1] = '\0';
  }
  return MSI_ERROR_MORE_DATA;
}
