// Placeholder until the utilities land.
#include "runtime/util.h"
int RVAuthUserSecDesc(PlatSecurityDescriptor* d) { PlatInitSecurityDescriptor(d); return 0; }
const PlatOsFacts* RVOsVersion() { static PlatOsFacts f{}; return &f; }
const char* RVOsNameFor(const PlatOsFacts*) { return "WINDOWS-NT"; }
const char* RVOsName() { return "WINDOWS-NT"; }
int RVMakeDirs(const char*) { return -1; }
int RVTokenize(char*, char** t, int, const char*) { t[0] = nullptr; return 0; }
int RVIsUrl(const char*) { return 0; }
int RVStatPath(const char*, const char*, PlatFileInfo*) { return -1; }
const char* RVUserName() { return nullptr; }
