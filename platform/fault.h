// Fault injection at the platform boundary.
//
// The POSIX layer routes its file system calls through one table. A test can
// make the Nth call of one kind fail with a chosen errno, to check that the
// code above never loses or half-writes data when the system fails it.
#pragma once

enum PlatSyscall {
  PLAT_SYS_OPEN,
  PLAT_SYS_WRITE,
  PLAT_SYS_RENAME,
  PLAT_SYS_FSYNC,
  PLAT_SYS_UNLINK,
  PLAT_SYS_MKDIR,
  PLAT_SYS_FTRUNCATE,
  PLAT_SYS_COUNT
};

// Makes the nth call (1 = the next one) of kind `which` fail with `err`;
// with `sticky` every call from the nth on fails until PlatFaultClear.
void PlatFaultInject(PlatSyscall which, int nth, int err, bool sticky);

// Removes every injected fault and resets the call counters.
void PlatFaultClear();

// Number of calls of kind `which` since the last PlatFaultClear.
int PlatFaultCalls(PlatSyscall which);
