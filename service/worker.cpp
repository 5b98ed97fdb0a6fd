// The update worker: announces its start, waits for the stop event of the
// service (outside the service it returns at once), and announces its end.
#include "service/worker.h"

#include "platform/event.h"
#include "runtime/message.h"
#include "runtime/util.h"
#include "service/command_line.h"
#include "service/identity.h"
#include "service/service_wrapper.h"

int UpdWorker() {
  const char* user = RVUserName();
  UpdMessage(9, "%s - Version: %s - Started - User: %s", kUpdServiceName, kUpdVersion, user ? user : "");
  if (PlatEvent* stop = UpdStopEvent()) PlatEventWait(stop, PLAT_INFINITE);
  UpdMessage(9, "%s - Stopped", kUpdServiceName);
  return g_upd_options.test_mode ? -1 : 0;
}
