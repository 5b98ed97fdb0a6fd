// Installation discovery, the runtime's settings and ${...} expansion.
//
// Settings come, in order of precedence, from the profile list (fed by the
// per-user profile file and by the runtime itself), the process environment,
// and the installation list (TQ.INF, the config_fn file, the registry).
#pragma once

#include <cstddef>

struct RVMutex;

// Which program runs: decides how discovery publishes its directories.
enum RVProgramKind {
  RV_PROGRAM_SERVICE, // directories kept in the profile list only
  RV_PROGRAM_TOOL,    // directories set in the environment, PATH extended
};

// Selects the program kind; call before RVInit (default: the service).
void RVSetProgramKind(RVProgramKind kind);

// Loads the profile and runs discovery once per process; sets the program
// name from `program_path` (null keeps the current one).
void RVInit(const char* program_path);

// A setting: profile list; else the environment (cached into the profile
// list); else the installation list; else the name's legacy variable. Null
// when none has it. The text stays valid until the setting is stored again.
const char* RVGetEnv(const char* name);

// A setting from the installation list only.
const char* RVGetInstallSetting(const char* name);

// A setting from the profile list and environment, then the installation
// list; "XLSYSTEM" finally gives system_dir.
const char* RVGetSystemSetting(const char* name);

// Sets a runtime environment value: `text` expanded into 4,096 bytes goes to
// the process environment and the profile list; null or empty removes the
// operating-system variable. "RV_UMASK" also sets the file-creation mask.
void RVSetEnv(const char* name, const char* text);

// Stores a value in the profile list only (replacing an entry of that name).
void RVSetProfileValue(const char* name, const char* value);

// Copies `text` to `out` (at most size - 1 characters) with every ${NAME}
// replaced by RVGetEnv(NAME) or nothing. Returns the output length.
size_t RVExpand(const char* text, char* out, size_t size);

// Turns every "\" into "/" and reduces "//" after the first three characters
// to "/" (the first one after a URL prefix stays). In place.
void RVNormalizePath(char* path);

// Copies `in` to `out` converting "\" escapes and "^" controls; adds one to
// *errors per warning. Returns the number of input characters consumed.
// `out` needs strlen(in) + 1 bytes.
int conv_line(char* out, const char* in, int* errors);

// The program's name (base name as started), or null before RVInit named it.
const char* RVProgramName();

// The process scratch name "<RV_APPDATA>/s_%08lx".
const char* RVScratchName();

// The 32-bit installation directory from the registry, or null.
const char* RVInstallDir32();

// 1 when dates put the day before the month ("EUROPEAN"), else 0.
int RVDateEuropean();

// The runtime's global mutex ("Global\<RV_HOME>/_TQ_Glbl_Mtx_"), or null.
RVMutex* RVGlobalMutex();

// The runtime's local (unnamed) mutex, or null.
RVMutex* RVLocalMutex();

// Forgets discovery, the settings lists and the runtime mutexes, so that a
// test can run discovery again in one process.
void RVResetForTest();
