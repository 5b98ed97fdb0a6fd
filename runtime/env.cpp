// Placeholder until discovery lands.
#include "runtime/env.h"
#include <cstdlib>
#include <cstring>
#include <cstdio>
void RVSetProgramKind(RVProgramKind) {}
void RVInit(const char*) {}
const char* RVGetEnv(const char* n) { return getenv(n); }
const char* RVGetInstallSetting(const char*) { return nullptr; }
const char* RVGetSystemSetting(const char*) { return nullptr; }
void RVSetEnv(const char*, const char*) {}
void RVSetProfileValue(const char*, const char*) {}
size_t RVExpand(const char* t, char* o, size_t s) { snprintf(o, s, "%s", t); return strlen(o); }
void RVNormalizePath(char*) {}
int conv_line(char* o, const char* i, int*) { strcpy(o, i); return (int)strlen(i); }
const char* RVProgramName() { return nullptr; }
const char* RVScratchName() { return nullptr; }
const char* RVInstallDir32() { return nullptr; }
int RVDateEuropean() { return 0; }
RVMutex* RVGlobalMutex() { return nullptr; }
RVMutex* RVLocalMutex() { return nullptr; }
void RVResetForTest() {}
