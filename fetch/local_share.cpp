// The LocalShare transport: delete the destination, copy the source over.
#include "fetch/local_share.h"

#include "fetch/fetch_settings.h"
#include "platform/error.h"
#include "platform/file.h"
#include "runtime/message.h"

namespace {

// The copy's stop test (PlatCopyControl).
int Cancelled(void*) { return UpdFetchStopRequested() ? 1 : 0; }

}  // namespace

int UpdLocalShareCopy(const char* source, const char* destination, int64_t max_bytes) {
  if (PlatDeleteFile(destination) != 0) {
    uint32_t err = PlatGetLastError();
    if (err != ERROR_FILE_NOT_FOUND && err != ERROR_PATH_NOT_FOUND) {
      UpdMessage(9, "Error: %d deleting file: %s", static_cast<int>(err), destination);
      return -1;
    }
  }
  // The platform copy writes a temporary beside the destination, forces it
  // to disk and renames it into place, so a failed copy leaves no part of
  // the file behind.
  const PlatCopyControl control = {max_bytes, Cancelled, nullptr};
  if (PlatCopyFileThrough(source, destination, 1, &control) != 0) {
    uint32_t err = PlatGetLastError();
    UpdMessage(9, "Error: %d Copying file: %s to %s", static_cast<int>(err), source, destination);
    if (err == ERROR_FILE_TOO_LARGE)
      UpdMessage(9, "LocalShare Error - Size Cap Reached: more than %lld Bytes File: %s",
                 static_cast<long long>(max_bytes), source);
    else if (err == ERROR_OPERATION_ABORTED)
      UpdMessage(9, "LocalShare Error - Stopped: the service is stopping File: %s", source);
    PlatDeleteFile(destination);
    return -1;
  }
  return 0;
}
