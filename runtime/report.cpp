// The runtime's report hooks, defaulting to the update service's behaviour.
#include "runtime/report.h"

#include <cstdarg>
#include <cstdio>

#include "runtime/message.h"

namespace {

void DefaultInfo(const char* text) { UpdMessage(0, "%s", text); }
void DefaultWarning(const char* text) { UpdMessage(5, "%s", text); }
void DefaultError(const char* text) { UpdMessage(7, "%s", text); }

RVReportHooks g_hooks = {DefaultInfo, DefaultWarning, DefaultError};

void Report(void (*hook)(const char*), const char* format, va_list ap) {
  char text[4096];
  std::vsnprintf(text, sizeof text, format ? format : "", ap);
  hook(text);
}

}  // namespace

void RVReportInfo(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  Report(g_hooks.info, format, ap);
  va_end(ap);
}

void RVReportWarning(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  Report(g_hooks.warning, format, ap);
  va_end(ap);
}

void RVReportError(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  Report(g_hooks.error, format, ap);
  va_end(ap);
}

void RVSetReportHooks(const RVReportHooks* hooks) {
  g_hooks.info = hooks && hooks->info ? hooks->info : DefaultInfo;
  g_hooks.warning = hooks && hooks->warning ? hooks->warning : DefaultWarning;
  g_hooks.error = hooks && hooks->error ? hooks->error : DefaultError;
}
