// Windows error codes and the per-thread last error of the platform layer.
//
// Every platform operation that fails stores a Windows error code in the
// calling thread's last error, so that the portable code above it logs and
// decides exactly as it would on Windows.
#pragma once

#include <cstdint>

enum : uint32_t {
  ERROR_SUCCESS = 0,
  ERROR_INVALID_FUNCTION = 1,
  ERROR_FILE_NOT_FOUND = 2,
  ERROR_PATH_NOT_FOUND = 3,
  ERROR_TOO_MANY_OPEN_FILES = 4,
  ERROR_ACCESS_DENIED = 5,
  ERROR_INVALID_HANDLE = 6,
  ERROR_NOT_ENOUGH_MEMORY = 8,
  ERROR_INVALID_DATA = 13,
  ERROR_OUTOFMEMORY = 14,
  ERROR_WRITE_PROTECT = 19,
  ERROR_NOT_READY = 21,
  ERROR_WRITE_FAULT = 29,
  ERROR_READ_FAULT = 30,
  ERROR_GEN_FAILURE = 31,
  ERROR_SHARING_VIOLATION = 32,
  ERROR_LOCK_VIOLATION = 33,
  ERROR_HANDLE_EOF = 38,
  ERROR_HANDLE_DISK_FULL = 39,
  ERROR_NOT_SUPPORTED = 50,
  ERROR_FILE_EXISTS = 80,
  ERROR_INVALID_PARAMETER = 87,
  ERROR_BROKEN_PIPE = 109,
  ERROR_DISK_FULL = 112,
  ERROR_INSUFFICIENT_BUFFER = 122,
  ERROR_INVALID_NAME = 123,
  ERROR_DIR_NOT_EMPTY = 145,
  ERROR_BUSY = 170,
  ERROR_ALREADY_EXISTS = 183,
  ERROR_FILENAME_EXCED_RANGE = 206,
  ERROR_MORE_DATA = 234,
  ERROR_WAIT_TIMEOUT = 258,
  ERROR_NO_MORE_ITEMS = 259,
  ERROR_DIRECTORY = 267,
  ERROR_NOT_OWNER = 288,
  ERROR_OPERATION_ABORTED = 995,
  ERROR_BADDB = 1009,
  ERROR_BADKEY = 1010,
  ERROR_CANTOPEN = 1011,
  ERROR_CANTREAD = 1012,
  ERROR_CANTWRITE = 1013,
  ERROR_KEY_DELETED = 1018,
  ERROR_SERVICE_REQUEST_TIMEOUT = 1053,
  ERROR_INVALID_SERVICE_CONTROL = 1052,
  ERROR_SERVICE_NO_THREAD = 1054,
  ERROR_SERVICE_DATABASE_LOCKED = 1055,
  ERROR_SERVICE_ALREADY_RUNNING = 1056,
  ERROR_SERVICE_DISABLED = 1058,
  ERROR_SERVICE_DOES_NOT_EXIST = 1060,
  ERROR_SERVICE_CANNOT_ACCEPT_CTRL = 1061,
  ERROR_SERVICE_NOT_ACTIVE = 1062,
  ERROR_FAILED_SERVICE_CONTROLLER_CONNECT = 1063,
  ERROR_SERVICE_MARKED_FOR_DELETE = 1072,
  ERROR_SERVICE_EXISTS = 1073,
  ERROR_INVALID_SERVICE_ACCOUNT = 1057,
  ERROR_PROCESS_ABORTED = 1067,
  ERROR_NOT_FOUND = 1168,
};

// Wait results shared by the named-object waits.
enum : uint32_t {
  WAIT_OBJECT_0 = 0,
  WAIT_ABANDONED = 0x80,
  WAIT_TIMEOUT = 258,
  WAIT_FAILED = 0xFFFFFFFFu,
};

// Returns the calling thread's last error (ERROR_SUCCESS when none was set).
uint32_t PlatGetLastError();

// Sets the calling thread's last error.
void PlatSetLastError(uint32_t code);

// Maps a C library errno value to the nearest Windows error code.
uint32_t PlatErrorFromErrno(int err);

// Stores the Windows code of errno in the last error and returns that code.
uint32_t PlatSetLastErrorFromErrno(int err);
