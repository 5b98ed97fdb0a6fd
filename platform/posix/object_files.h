// Files behind named objects under TQ_SYSTEM_ROOT/objects: the directory,
// the files' group and modes under a security descriptor, and the lock that
// serialises opening and deleting them. Internal to platform/posix.
#pragma once

#include <string>

#include "platform/security.h"

// Opens an object file by its fixed name with `flags` (O_RDONLY, O_WRONLY
// or O_RDWR, optionally O_CREAT and O_NONBLOCK): never through a symbolic
// link, only a regular file (a FIFO when `fifo`). A file it creates gets
// the group and mode of `desc` (owner-only when null). -1 with errno set.
int ObjectFileOpen(const std::string& path, int flags, const PlatSecurityDescriptor* desc, bool fifo);

// Creates the FIFO of an event with the group and mode of `desc`.
int ObjectFifoCreate(const std::string& path, const PlatSecurityDescriptor* desc);

// Takes the lock (flock `op`) that serialises opening, deleting and testing
// the objects of `dir`; the descriptor to close, or -1 with errno set (EACCES
// for a process that may not use the objects).
int ObjectsLock(const std::string& dir, int op);

// Group id of the users' group, or -1 when it does not exist.
long UsersGroupId();
