// The tool's service operations.
#include "tool/service_modes.h"

#include "gui/test_trace.h"
#include "platform/system.h"
#include "service/service_ops.h"

namespace {

std::string g_message;

// What a refresh looks for after an operation.
enum class Wanted { kRunning, kStopped, kRemoved };

bool Seen(const UpdSvcStatus& s, Wanted wanted) {
  switch (wanted) {
    case Wanted::kRunning: return s.running == 1;
    case Wanted::kStopped: return s.running != 1;
    case Wanted::kRemoved: return s.installed == 0;
  }
  return false;
}

// Up to five status refreshes 500 ms apart, stopping at the wanted state.
void Refresh(Wanted wanted) {
  for (int i = 0; i < kToolStatusRefreshes; ++i) {
    UpdSvcStatus status = UpdSvcQueryStatus();
    if (Seen(status, wanted)) return;
    if (i + 1 < kToolStatusRefreshes) PlatSleepMs(kToolRefreshMs);
  }
}

}  // namespace

void ToolSetMessage(const std::string& text) {
  g_message = text;
  GUITestTrace(text);
}

const std::string& ToolMessage() { return g_message; }

void ToolRunServiceOperations(const ToolStartup* startup) {
  // In this order, whatever the order of the options.
  const struct {
    int ToolStartup::*flag;
    std::string (*operation)();
    Wanted wanted;
  } kOperations[] = {
      {&ToolStartup::svc_start, UpdSvcStart, Wanted::kRunning},
      {&ToolStartup::svc_stop, UpdSvcStop, Wanted::kStopped},
      {&ToolStartup::svc_remove, UpdSvcRemove, Wanted::kRemoved},
  };
  for (const auto& op : kOperations) {
    if (!(startup->*op.flag)) continue;
    ToolSetMessage(op.operation());
    Refresh(op.wanted);
  }
}
