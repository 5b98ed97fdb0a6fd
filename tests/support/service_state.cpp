// The state of an installed service, for tests that run the service.
#include "tests/support/service_state.h"

#include "platform/service_manager.h"
#include "platform/system.h"

uint32_t TqServiceState(const char* name) {
  SC_HANDLE m = OpenSCManagerA(nullptr, nullptr, SC_GENERIC_READ);
  SC_HANDLE s = m ? OpenServiceA(m, name, SERVICE_QUERY_STATUS) : nullptr;
  SERVICE_STATUS_PROCESS st{};
  uint32_t needed = 0;
  uint32_t state =
      s && QueryServiceStatusEx(s, SC_STATUS_PROCESS_INFO, &st, sizeof st, &needed) ? st.dwCurrentState : 0;
  if (s) CloseServiceHandle(s);
  if (m) CloseServiceHandle(m);
  return state;
}

bool TqWaitServiceState(const char* name, uint32_t state) {
  for (int i = 0; i < 1200; ++i) {
    if (TqServiceState(name) == state) return true;
    PlatSleepMs(25);
  }
  return false;
}
