// Fuzzes the work file reader: the input is tqupd-work.txt. No input may
// crash it; afterwards the work list's entries have names (no two equal)
// and the dummy install and signature files, pending work goes with a
// remaining entry, and a damaged file is gone. The work directory holds no
// packages, so every rewrite stops at the first package and leaves no file.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "engine/config.h"
#include "engine/work_dir.h"
#include "engine/work_entry.h"
#include "engine/work_file.h"
#include "fuzz/support/relocated_system.h"
#include "runtime/alloc.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string work = fuzz_support::Relocate() + "/work";
  if (::mkdir(work.c_str(), 0700) != 0 || ::chdir(work.c_str()) != 0) __builtin_trap();
  UpdSetWorkDir(work.c_str());
  g_upd_config = RVAllocRecord<UpdConfig>();
  g_upd_config->packages[0] = RVStrDup("Any");
  g_upd_config->package_count = 1;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* path = UpdWorkFilePath();
  std::FILE* f = std::fopen(path, "wb");
  if (!f) __builtin_trap();
  if (size && std::fwrite(data, 1, size, f) != size) __builtin_trap();
  std::fclose(f);
  int r = UpdReadWorkFile();
  struct stat st;
  bool file_left = ::stat(path, &st) == 0;
  if (r != 0 && file_left) __builtin_trap();
  if (file_left) __builtin_trap();  // no package can be opened: no rewrite
  int left = 0;
  for (const UpdEntry* e = g_upd_config->work_list; e; e = e->next) {
    if (!e->name || std::strcmp(e->install_file, "dummy.msi") != 0 || std::strcmp(e->signature_file, "dummy.sig") != 0)
      __builtin_trap();
    if (!(e->flags & UPD_ENTRY_SKIP)) ++left;
    for (const UpdEntry* o = e->next; o; o = o->next)
      if (std::strcmp(o->name, e->name) == 0) __builtin_trap();
  }
  if (r == 0 && g_upd_work_pending != (left > 0 ? 1 : 0)) __builtin_trap();
  UpdFreeWorkList(g_upd_config->work_list);
  g_upd_config->work_list = nullptr;
  return 0;
}
