// The work file, as far as the worker needs it so far: a file with at least
// one line means pending work; an empty file is removed. Entries are not yet
// read into the work list.
#include "engine/work_file.h"

#include <cstdio>
#include <string>

#include "platform/file.h"
#include "runtime/env.h"

int g_upd_work_pending = 0;

const char* UpdWorkFilePath() {
  static std::string path;
  const char* dir = RVGetEnv("RV_COMMONAPPDATA");
  path = std::string(dir ? dir : ".") + "/tqupd-work.txt";
  return path.c_str();
}

int UpdReadWorkFile() {
  g_upd_work_pending = 0;
  std::string text;
  if (PlatReadFile(UpdWorkFilePath(), &text) != 0) return 0;
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
    PlatDeleteFile(UpdWorkFilePath());
    return 0;
  }
  g_upd_work_pending = 1;
  return 0;
}

int UpdSaveWorkFile() { return 0; }
