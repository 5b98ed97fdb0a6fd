// Work-list entries.
#include "engine/work_entry.h"

#include <initializer_list>

#include "engine/config.h"
#include "runtime/alloc.h"
#include "runtime/log_text.h"
#include "runtime/message.h"

void UpdFreeWorkList(UpdEntry* list) {
  while (list) {
    UpdEntry* next = list->next;
    for (char* text : {list->name, list->desc, list->install_file, list->local_file, list->signature_file,
                       list->install_dir, list->product_code, list->upgrade_code})
      RVFree(text);
    RVFree(list);
    list = next;
  }
}

void UpdLogWorkList() {
  UpdMessage(0, "WorkList Start");
  for (const UpdEntry* e = g_upd_config ? g_upd_config->work_list : nullptr; e; e = e->next) {
    if (e->flags & UPD_ENTRY_SKIP) continue;
    RVShown name, file, sig;
    UpdMessage(0, "\t%s - File: %s, Sig: %s, Bits: %d, InstVersion: %u", RVShowText(&name, e->name),
               RVShowText(&file, e->install_file), RVShowText(&sig, e->signature_file), static_cast<int>(e->flags),
               e->installed_version);
  }
  UpdMessage(0, "WorkList End");
}
