// The update check: fetch and read the update script, download and verify
// the packages of the work list, then install them or record them in the
// work file, and clean up the check's temporary files.
#include "engine/update_check.h"

#include "engine/config.h"
#include "engine/install.h"
#include "engine/products.h"
#include "engine/script_trust.h"
#include "engine/update_script.h"
#include "engine/work_entry.h"
#include "engine/work_file.h"
#include <initializer_list>

#include "fetch/digest_check.h"
#include "fetch/fetch_file.h"
#include "fetch/signature_check.h"
#include "engine/download_files.h"
#include "platform/file.h"
#include "platform/system.h"
#include "runtime/log_text.h"
#include "runtime/message.h"
#include "service/command_line.h"

namespace {

// Downloads, verifies and then installs or records the work list. 0 or -1.
int ActOnWorkList() {
  if (!g_upd_config->work_list) return 0;
  if (UpdDownloadFiles() != 0) return -1;
  if (UpdRefuseDowngrades() != 0) return -1;
  if (g_upd_options.test_mode) return -1;  // a test check installs and records nothing
  if (g_upd_config->install_type == UPD_INSTALL_AUTOMATIC) {
    if (UpdInstall() == 0) UpdPurgePackages();
  } else {
    UpdSaveWorkFile();
  }
  return 0;
}

}  // namespace

int UpdCheck() {
  PlatKeepAwake(1);
  UpdMessage(3, "Checking for Software Updates");
  int result = -1;
  if (g_upd_config) {
    const char* script = g_upd_config->script ? g_upd_config->script : "";
    RVShown shown;
    RVShowText(&shown, script);
    // The fetches of this check go by the configuration as it is now.
    UpdConfigToFetch(g_upd_config);
    int fetched = UpdFetchFileCapped(script, kUpdScriptFile, kUpdScriptMaxBytes);
    g_upd_config->last_check = PlatTimeNow();
    if (fetched != 0) {
      UpdMessage(8, "Failed to fetch update script: %s", shown.text);
    } else {
      UpdMessage(3, "Successfully fetched script: %s", shown.text);
      if (UpdScriptTrustCheck() == 0 && UpdReadScript() == 0) {
        UpdLogWorkList();
        result = ActOnWorkList();
      }
    }
    UpdFreeWorkList(g_upd_config->work_list);
    g_upd_config->work_list = nullptr;
  }
  UpdScriptTrustEnd();
  for (const char* name : {kUpdDigestFile, kUpdScriptFile, kUpdSignatureFile, kUpdMetadataFile}) PlatDeleteFile(name);
  PlatKeepAwake(0);
  return result;
}
