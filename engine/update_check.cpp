// The update check, as far as it exists so far: it announces itself and
// records the time of the check; fetching and installing come with the
// transports and the installer.
#include "engine/update_check.h"

#include "engine/config.h"
#include "platform/system.h"
#include "runtime/message.h"
#include "service/command_line.h"

int UpdCheck() {
  UpdMessage(3, "Checking for Software Updates");
  if (g_upd_config) g_upd_config->last_check = PlatTimeNow();
  return g_upd_options.test_mode ? -1 : 0;
}
