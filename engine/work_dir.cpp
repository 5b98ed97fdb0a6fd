// The work directory's path, kept for the check, the installation and the purge.
#include "engine/work_dir.h"

#include <cstdio>

namespace {
char g_work_dir[261];
}

const char* UpdWorkDir() { return g_work_dir; }

void UpdSetWorkDir(const char* path) { std::snprintf(g_work_dir, sizeof g_work_dir, "%s", path ? path : ""); }
