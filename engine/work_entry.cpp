// Work-list entries.
#include "engine/work_entry.h"

#include <initializer_list>

#include "runtime/alloc.h"

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
