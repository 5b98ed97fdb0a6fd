// The LocalShare transport: delete the destination, copy the source over.
#include "fetch/local_share.h"

#include "platform/error.h"
#include "platform/file.h"
#include "runtime/message.h"

int UpdLocalShareCopy(const char* source, const char* destination) {
  if (PlatDeleteFile(destination) != 0) {
    uint32_t err = PlatGetLastError();
    if (err != ERROR_FILE_NOT_FOUND && err != ERROR_PATH_NOT_FOUND) {
      UpdMessage(9, "Error: %d deleting file: %s", static_cast<int>(err), destination);
      return -1;
    }
  }
  // The platform copy writes a temporary beside the destination and renames
  // it into place, so a failed copy leaves no part of the file behind.
  if (PlatCopyFile(source, destination, 1) != 0) {
    uint32_t err = PlatGetLastError();
    UpdMessage(9, "Error: %d Copying file: %s to %s", static_cast<int>(err), source, destination);
    PlatDeleteFile(destination);
    return -1;
  }
  return 0;
}
