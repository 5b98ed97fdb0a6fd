// POSIX implementation of platform/error.h: errno to Windows error codes.
#include "platform/error.h"

#include <cerrno>

namespace {
thread_local uint32_t t_last_error = ERROR_SUCCESS;
}

uint32_t PlatGetLastError() { return t_last_error; }

void PlatSetLastError(uint32_t code) { t_last_error = code; }

uint32_t PlatErrorFromErrno(int err) {
  switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS: return ERROR_ACCESS_DENIED;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case EISDIR:
    case ELOOP: return ERROR_ACCESS_DENIED;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EBUSY: return ERROR_BUSY;
    case EAGAIN: return ERROR_LOCK_VIOLATION;
    case EPIPE: return ERROR_BROKEN_PIPE;
    case ETIMEDOUT: return ERROR_WAIT_TIMEOUT;
    case ENOTSUP: return ERROR_NOT_SUPPORTED;
    case EIO: return ERROR_GEN_FAILURE;
    default: return ERROR_GEN_FAILURE;
  }
}

uint32_t PlatSetLastErrorFromErrno(int err) {
  t_last_error = PlatErrorFromErrno(err);
  return t_last_error;
}
