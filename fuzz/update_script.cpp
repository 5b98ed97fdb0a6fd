// Fuzzes the update script reader: the input is updscript.txt. No input may
// crash it or leave a work list that breaks its promises: every entry kept
// has a name, an install file and a signature file, no two names are equal,
// and only the installed and force-reboot bits are set. A failed read leaves
// no list. The transport is unset, so a MessageDigest statement fetches
// nothing from the host.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "engine/config.h"
#include "engine/update_script.h"
#include "engine/work_entry.h"
#include "fuzz/support/relocated_system.h"
#include "runtime/alloc.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string work = fuzz_support::Relocate() + "/work";
  if (::mkdir(work.c_str(), 0700) != 0 || ::chdir(work.c_str()) != 0) __builtin_trap();
  g_upd_config = RVAllocRecord<UpdConfig>();
  g_upd_config->protocol = UPD_PROTO_NONE;
  g_upd_config->script = RVStrDup("updscript.txt");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::FILE* f = std::fopen("updscript.txt", "wb");
  if (!f) __builtin_trap();
  if (size && std::fwrite(data, 1, size, f) != size) __builtin_trap();
  std::fclose(f);
  int r = UpdReadScript();
  if (r != 0 && g_upd_config->work_list) __builtin_trap();
  for (const UpdEntry* e = g_upd_config->work_list; e; e = e->next) {
    if (!e->name || !e->install_file || !e->signature_file) __builtin_trap();
    if (e->flags & ~static_cast<uint32_t>(UPD_ENTRY_INSTALLED | UPD_ENTRY_FORCE_REBOOT)) __builtin_trap();
    for (const UpdEntry* o = e->next; o; o = o->next)
      if (std::strcmp(o->name, e->name) == 0) __builtin_trap();
  }
  UpdFreeWorkList(g_upd_config->work_list);
  g_upd_config->work_list = nullptr;
  return 0;
}
