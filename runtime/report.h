// The report hooks through which runtime code reports its messages. Each
// program supplies them; by default they hand the text to UpdMessage with
// level 0 (info), 5 (warning) and 7 (error), as the update service does.
#pragma once

#include "runtime/print.h"

// Reports runtime information (formatted into 4,096 bytes; the default
// hooks' log messages keep their own, shorter limit).
void RVReportInfo(const char* format, ...) RV_PRINTF(1, 2);

// Reports a runtime warning (formatted as RVReportInfo).
void RVReportWarning(const char* format, ...) RV_PRINTF(1, 2);

// Reports a runtime error (formatted as RVReportInfo).
void RVReportError(const char* format, ...) RV_PRINTF(1, 2);

// One program's report hooks; each receives the formatted text. A null slot
// keeps the default for that kind.
struct RVReportHooks {
  void (*info)(const char* text);    // RVReportInfo
  void (*warning)(const char* text); // RVReportWarning
  void (*error)(const char* text);   // RVReportError
};

// Installs a program's hooks (null restores the defaults).
void RVSetReportHooks(const RVReportHooks* hooks);
