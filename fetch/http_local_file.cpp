// The local file that receives a response body.
#include "fetch/http_local_file.h"

#include "platform/error.h"
#include "platform/file.h"
#include "runtime/message.h"

int UpdLocalFileCreate(UpdLocalFile* file, const char* path) {
  file->path = path;
  file->handle = PlatFileCreateAlways(path, 1);
  if (!file->handle) {
    UpdMessage(9, "Error: %d Creating File: %s", static_cast<int>(PlatGetLastError()), path);
    PlatDeleteFile(path);
    return -1;
  }
  return 0;
}

int UpdLocalFileWrite(UpdLocalFile* file, const char* data, uint32_t len) {
  uint32_t written = 0;
  if (PlatFileHandleWrite(file->handle, data, len, &written) != 0) {
    UpdMessage(9, "WriteFile() Error: %d File: %s", static_cast<int>(PlatGetLastError()), file->path);
    return -1;
  }
  if (written != len) {
    UpdMessage(9, "WriteFile() Only Write %d bytes instead of: %d File: %s", static_cast<int>(written),
               static_cast<int>(len), file->path);
    return -1;
  }
  return 0;
}

int UpdLocalFileFinish(UpdLocalFile* file) {
  PlatFileHandle* handle = file->handle;
  file->handle = nullptr;
  if (PlatFileHandleClose(handle) != 0) {
    UpdMessage(9, "CloseHandle() Error: %d File: %s", static_cast<int>(PlatGetLastError()), file->path);
    PlatDeleteFile(file->path);
    return -1;
  }
  return 0;
}

void UpdLocalFileDiscard(UpdLocalFile* file) {
  if (file->handle) {
    PlatFileHandle* handle = file->handle;
    file->handle = nullptr;
    PlatFileHandleClose(handle);
  }
  PlatDeleteFile(file->path);
}
