// The service wrapper.
#include "service/service_wrapper.h"

#include <atomic>
#include <cstdio>

#include "engine/stop_hook.h"
#include "platform/error.h"
#include "platform/event.h"
#include "platform/service_manager.h"
#include "platform/thread.h"
#include "runtime/print.h"
#include "service/identity.h"
#include "service/worker.h"

namespace {

// The wrapper's state, one per process.
struct UpdServiceState {
  SERVICE_STATUS_HANDLE status_handle; // from RegisterServiceCtrlHandlerExA
  SERVICE_STATUS status;               // updated in place, passed to every report
  PlatEvent* stop_event;               // manual reset; null outside the service
  PlatThread* worker;                  // the worker thread
  uint32_t saved_error;                // last error saved by UpdServiceError
};

UpdServiceState g_svc = {};

// The service's event source for the runtime's printed texts; open from the
// service main function until the process ends (a worker left behind may
// still print).
std::atomic<HANDLE_EVENT_SOURCE> g_print_source{nullptr};

// The print hook of the service: standard error leads nowhere under the
// service manager, so the runtime's texts (RVPrintError as errors,
// RVPrintInfo as information) go to the event log as well.
void PrintToEventLog(int error, const char* text) {
  HANDLE_EVENT_SOURCE source = g_print_source.load();
  if (!source || !text || !*text) return;
  const char* strings[1] = {text};
  ReportEventA(source, error ? EVENTLOG_ERROR_TYPE : EVENTLOG_INFORMATION_TYPE, 0, 0, nullptr, 1, 0, strings,
               nullptr);
}

// Reports the status record; a failure is an error that stops the service.
void Report(uint32_t state, uint32_t accepted, uint32_t check_point, uint32_t wait_hint, uint32_t exit_code) {
  g_svc.status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  g_svc.status.dwCurrentState = state;
  g_svc.status.dwControlsAccepted = accepted;
  g_svc.status.dwWin32ExitCode = exit_code;
  g_svc.status.dwServiceSpecificExitCode = 0;
  g_svc.status.dwCheckPoint = check_point;
  g_svc.status.dwWaitHint = wait_hint;
  if (!SetServiceStatus(g_svc.status_handle, &g_svc.status)) UpdServiceError("SetServiceStatus");
}

constexpr uint32_t kAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE;

}  // namespace

PlatEvent* UpdStopEvent() { return g_svc.stop_event; }

bool UpdStopRequested() { return g_svc.stop_event && PlatEventWait(g_svc.stop_event, 0) == WAIT_OBJECT_0; }

uint32_t UpdServiceSavedError() { return g_svc.saved_error; }

void UpdServiceMain(uint32_t, char**) {
  if (!g_print_source.load()) {
    g_print_source.store(RegisterEventSourceA(nullptr, kUpdServiceName));
    if (g_print_source.load()) RVSetPrintHook(PrintToEventLog);
  }
  g_svc.status_handle = RegisterServiceCtrlHandlerExA(kUpdServiceName, UpdServiceHandler, nullptr);
  if (g_svc.status_handle) {
    Report(SERVICE_START_PENDING, 0, 1, 3000, 0);
    g_svc.stop_event = PlatEventCreate(nullptr, true, false, nullptr);
    // The engine, and every fetch it makes, learn of a stop request here.
    if (g_svc.stop_event) UpdSetStopHook(UpdStopRequested);
    if (g_svc.stop_event) {
      Report(SERVICE_START_PENDING, 0, 2, 3000, 0);
      g_svc.worker = PlatThreadStart(UpdServiceThread, nullptr, kUpdWorkerStack);
      if (g_svc.worker) {
        Report(SERVICE_RUNNING, kAccepted, 0, 0, 0);
        PlatEventWait(g_svc.stop_event, PLAT_INFINITE);
        PlatThreadWait(g_svc.worker, kUpdWorkerStopWait);
        PlatThreadClose(g_svc.worker);
        g_svc.worker = nullptr;
      }
    }
  }
  // The stop event stays open: a worker left behind after the wait may still
  // test it until the process ends.
  if (g_svc.status_handle) Report(SERVICE_STOPPED, kAccepted, 0, 0, g_svc.saved_error);
}

uint32_t UpdServiceHandler(uint32_t control, uint32_t, void*, void*) {
  if (control == SERVICE_CONTROL_STOP) {
    Report(SERVICE_STOP_PENDING, kAccepted, 1, 3000, 0);
    if (g_svc.stop_event) PlatEventSet(g_svc.stop_event);
    return ERROR_SUCCESS;
  }
  Report(SERVICE_RUNNING, kAccepted, 0, 0, 0);
  if (control == SERVICE_CONTROL_INTERROGATE) return ERROR_SUCCESS;
  return ERROR_CALL_NOT_IMPLEMENTED;
}

uint32_t UpdServiceThread(void*) {
  UpdWorker();
  if (g_svc.stop_event) PlatEventSet(g_svc.stop_event);
  return 0;
}

void UpdServiceError(const char* what) {
  g_svc.saved_error = PlatGetLastError();
  HANDLE_EVENT_SOURCE source = RegisterEventSourceA(nullptr, kUpdServiceName);
  if (source) {
    char first[64];
    std::snprintf(first, sizeof first, "TQService Error: %d", static_cast<int>(g_svc.saved_error));
    const char* strings[2] = {first, what};
    ReportEventA(source, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 2, 0, strings, nullptr);
    DeregisterEventSource(source);
  }
  if (g_svc.stop_event) PlatEventSet(g_svc.stop_event);
}

void UpdServiceRun() {
  static char name[] = "TQUpdateD64";
  SERVICE_TABLE_ENTRYA table[2] = {{name, UpdServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherA(table)) UpdServiceError("StartServiceCtrlDispatcher Failed");
}
