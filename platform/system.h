// Process, environment, user and host facts.
#pragma once

#include <cstddef>
#include <cstdint>

// Id of the calling process.
uint32_t PlatProcessId();

// Id of the calling thread; never 0, unique among live threads of the host.
uint64_t PlatThreadId();

// Value of an operating-system environment variable, or null.
const char* PlatEnvGet(const char* name);

// Sets an operating-system environment variable (replacing it).
int PlatEnvSet(const char* name, const char* value);

// Removes an operating-system environment variable.
int PlatEnvUnset(const char* name);

// Sets the process's file-creation mask; returns the previous one. The mask
// never removes the owner's access and always removes write access for group
// and others: 0 stands for "the defaults" (0755 directories, 0644 files).
uint32_t PlatSetUmask(uint32_t mask);

// Copies the name of the user the process runs as into `out`; -1 if unknown.
int PlatUserName(char* out, size_t size);

// The user id the process acts as.
uint32_t PlatEffectiveUserId();

// Copies the name of the user with id `uid` into `out` (its number when the
// user has no name).
void PlatUserNameOf(uint32_t uid, char* out, size_t size);

// Copies the host's name into `out`; -1 if unknown.
int PlatComputerName(char* out, size_t size);

// Version facts of the operating system, in the shape of the Windows ones
// (the runtime reads them from the machine's registry).
struct PlatOsFacts {
  uint32_t platform;     // 1 = 9x family, 2 = NT family (always 2 here)
  uint32_t major;        // major version
  uint32_t minor;        // minor version
  uint32_t product_type; // 1 = workstation, other = server
  uint32_t build;        // build number
};

// True when the process runs with administrator rights (root).
bool PlatIsAdministrator();

// Suppresses system error boxes for the process (no effect on this host).
void PlatSetErrorMode();

// Current time, seconds since 1970 UTC.
int64_t PlatTimeNow();

// Current time, milliseconds on a monotonic clock.
int64_t PlatMonotonicMs();

// Sleeps for `ms` milliseconds.
void PlatSleepMs(uint32_t ms);

// Ends the process at once with `code`.
[[noreturn]] void PlatExitProcess(int code);

// Copies the absolute path of the running program into `out`; -1 if unknown.
int PlatExecutablePath(char* out, size_t size);

// Initialises the component runtime for the calling thread: 0 (S_OK), 1
// (S_FALSE: initialised already) or a failure result. Each success is
// matched by PlatComUninitialize. Nothing to initialise on this host.
int32_t PlatComInitialize();

// Ends one PlatComInitialize of the calling thread.
void PlatComUninitialize();

// While `on`, asks that the machine does not go to sleep (no effect on this
// host, which has no such request).
void PlatKeepAwake(int on);

// Sounds the default beep (no effect where the host has none).
void PlatBeep();
