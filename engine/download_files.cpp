// The download and check of the work list's install files.
#include "engine/download_files.h"

#include <cstdio>

#include "engine/config.h"
#include "engine/script_trust.h"
#include "engine/work_entry.h"
#include "fetch/fetch_file.h"
#include "fetch/fetch_settings.h"
#include "fetch/signature_check.h"
#include "platform/file.h"
#include "runtime/alloc.h"
#include "runtime/log_text.h"
#include "runtime/message.h"

namespace {

// True when `path` names a file (not a directory) that can be opened for
// reading.
bool Readable(const char* path) {
  PlatFileInfo info;
  if (PlatFileStat(path, &info) != 0 || info.is_dir) return false;
  FILE* f = PlatFileOpen(path, "rb");
  if (!f) return false;
  std::fclose(f);
  return true;
}

// Replaces the entry's local_file with a copy of `name`.
void SetLocalFile(UpdEntry* entry, const char* name) {
  RVFree(entry->local_file);
  entry->local_file = RVStrDup(name);
}

}  // namespace

int UpdDownloadFiles() {
  UpdMessage(3, "Downloading/Verifying Install Files - Start");
  for (UpdEntry* e = g_upd_config ? g_upd_config->work_list : nullptr; e; e = e->next) {
    char local[kUpdNameSize];
    RVShown file, sig, shown;
    RVShowText(&file, e->install_file);
    RVShowText(&sig, e->signature_file);
    if (UpdLocalFileName(e->install_file, local) != 0) {
      UpdMessage(9, "Install file name has no file name part to store it under: %s", file.text);
      return -1;
    }
    RVShowText(&shown, local);
    SetLocalFile(e, local);
    // With accepted metadata the package must be listed for this product;
    // its listed length caps the download and its digest is checked before
    // the signature.
    const UpdMetaPackage* listed = nullptr;
    if (UpdScriptTrustEntry(e, local, &listed) != 0) return -1;
    int64_t cap = g_upd_fetch.max_download_size;
    if (listed && (cap <= 0 || listed->length < cap)) cap = listed->length;

    if (Readable(local) && (!listed || UpdScriptTrustFileMatches(local, listed))) {
      if (UpdFetchFileCapped(e->signature_file, kUpdSignatureFile, kUpdSignatureFileMaxBytes) != 0) return -1;
      if (UpdVerifySignature(local) == 0) {
        UpdMessage(3, "File: %s exists and signature OK", shown.text);
        UpdMessage(7, "Verified: %s - OK", shown.text);
        continue;
      }
    }

    UpdMessage(3, "Downloading Files: %s and %s", file.text, sig.text);
    if (UpdFetchFileCapped(e->install_file, local, cap) != 0) return -1;
    if (listed && !UpdScriptTrustFileMatches(local, listed)) {
      UpdMessage(9, "Package does not match the script metadata: %s", shown.text);
      PlatDeleteFile(local);
      return -1;
    }
    if (UpdFetchFileCapped(e->signature_file, kUpdSignatureFile, kUpdSignatureFileMaxBytes) != 0) return -1;
    UpdMessage(3, "Downloading OK");
    UpdMessage(0, "Verifying Signature");
    if (UpdVerifySignature(local) != 0) {
      UpdMessage(9, "Signature Verify Failed on: %s", shown.text);
      // A file that failed its check must not stay where a pending entry of
      // the work file would install it from.
      PlatDeleteFile(local);
      return -1;
    }
    UpdMessage(3, "Signature Verify OK on: %s", shown.text);
    UpdMessage(7, "Downloaded and Verified: %s - OK", shown.text);
  }
  UpdMessage(3, "Downloading/Verifying Install Files - End");
  return 0;
}
