// RVPrintInfo / RVPrintError: the runtime's own output.
#include "runtime/print.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <strings.h>


namespace {

char g_client_kind[64] = "None";
RVMessageBoxHook g_message_box = nullptr;
std::atomic<RVPrintHook> g_print_hook{nullptr};

// Hands the printed text to the print hook, without its final line feed.
void ToHook(bool error, char* text, size_t len) {
  RVPrintHook hook = g_print_hook.load();
  if (!hook) return;
  if (len > 0 && text[len - 1] == '\n') text[len - 1] = '\0';
  hook(error ? 1 : 0, text);
}

bool IsGuiClient() {
  return strcasecmp(g_client_kind, "WIN32-GUI") == 0 || strcasecmp(g_client_kind, "WIN64-GUI") == 0;
}

void Print(bool error, const char* format, va_list ap) {
  if (!format || !*format) return;
  char text[1024];
  std::vsnprintf(text, sizeof text, format, ap);
  size_t len = std::strlen(text);
  if (IsGuiClient() && g_message_box) {
    if (len > 0 && text[len - 1] == '\n') text[--len] = '\0';
    if (g_message_box(error ? "Error" : "Info", text) == 0) {
      ToHook(error, text, len);
      return;
    }
  }
  FILE* out = error ? (stderr ? stderr : stdout) : stdout;
  std::fputs(text, out);
  if (len == 0 || text[len - 1] != '\n') std::fputc('\n', out);
  std::fflush(out);
  ToHook(error, text, len);
}

}  // namespace

void RVPrintInfo(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  Print(false, format, ap);
  va_end(ap);
}

void RVPrintError(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  Print(true, format, ap);
  va_end(ap);
}

const char* RVClientKind() { return g_client_kind; }

void RVSetClientKind(const char* kind) {
  std::snprintf(g_client_kind, sizeof g_client_kind, "%s", kind && *kind ? kind : "None");
}

void RVSetMessageBoxHook(RVMessageBoxHook hook) { g_message_box = hook; }

void RVSetPrintHook(RVPrintHook hook) { g_print_hook.store(hook); }
