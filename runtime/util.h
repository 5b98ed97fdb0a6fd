// Platform utilities shared by the runtime and the programs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/file.h"
#include "platform/security.h"
#include "platform/system.h"

// Fills `desc` with the authenticated-users descriptor (full access for the
// local system, the administrators and every authenticated user). 0, or -1
// after reporting.
int RVAuthUserSecDesc(PlatSecurityDescriptor* desc);

// The Windows version this machine stands for when its registry does not
// say otherwise: Windows 10 (22H2) x64, a workstation.
constexpr uint32_t kRVOsDefaultMajor = 10;
constexpr uint32_t kRVOsDefaultMinor = 0;
constexpr uint32_t kRVOsDefaultBuild = 19045;

// Reads the version facts the administrator keeps for the machine in the
// registry, HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion:
// CurrentMajorVersionNumber and CurrentMinorVersionNumber (REG_DWORD),
// CurrentBuildNumber (REG_SZ, decimal) and InstallationType (REG_SZ:
// "Client" a workstation; "Server", "Server Core", "Nano Server" a server,
// product type 3). Each value that is missing keeps its default (the
// constants above, a workstation, platform 2); one of another type or with
// other text keeps it too and is reported as a warning. Never the kernel's
// release. Not cached.
void RVReadOsFacts(PlatOsFacts* facts);

// The version facts of RVReadOsFacts, read once per process.
const PlatOsFacts* RVOsVersion();

// The operating-system name for the given facts ("WINDOWS-10", ...); pure.
const char* RVOsNameFor(const PlatOsFacts* facts);

// The operating-system name of this host, computed once; warns once when
// it is unknown.
const char* RVOsName();

// The milliseconds of a wait of `seconds` at `second_ms` milliseconds a
// second, multiplied in 64 bits: 0 for no seconds or fewer, and at most
// PLAT_INFINITE - 1, the longest wait with a limit (PLAT_INFINITE itself
// means none); pure.
uint32_t RVWaitMs(int64_t seconds, uint32_t second_ms);

// Milliseconds per second of the programs' waits: 1000, or the test-only
// TQ_TEST_SECOND_MS of the process environment (1 to 1000).
uint32_t RVSecondMs();

// Creates every missing directory leading to the last component of `path`
// (which itself is never created). 0, or -1 after reporting.
int RVMakeDirs(const char* path);

// Splits `text` in place into at most size - 1 tokens at `separators`
// (null: ";", tab, CR, LF), honouring quotes; tokens[count] = null.
// Returns the number of tokens.
int RVTokenize(char* text, char** tokens, int size, const char* separators);

// 1 when `text` starts with a URL prefix ("http://", "file://", ...), else 0.
int RVIsUrl(const char* text);

// Joins `dir` and a relative `name`, normalises, and queries the status.
// 0 when the path exists, else -1.
int RVStatPath(const char* dir, const char* name, PlatFileInfo* info);

// The user name of the process (at most 128 characters), asked once; or null.
const char* RVUserName();
