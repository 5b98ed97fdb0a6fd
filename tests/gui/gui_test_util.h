// Shared by the toolkit's tests: captured reports, a relocated system with
// the headless window system, and files of an ordinary user.
#pragma once

#include <string>
#include <vector>

#include "tests/support/temp_system.h"
#include "tests/support/users.h"

// Collects the runtime's error, warning and information reports for the
// life of the object (one at a time).
class ReportCapture {
 public:
  ReportCapture();
  ~ReportCapture();
  ReportCapture(const ReportCapture&) = delete;
  ReportCapture& operator=(const ReportCapture&) = delete;

  std::vector<std::string> errors;  // RVReportError texts, in order
  std::vector<std::string> others;  // RVReportInfo and RVReportWarning texts
};

// A relocated system with the headless window system at 1280 x 1024, 96
// dots per inch, its display open and the screen measures read; the client
// preferences and fonts are forgotten on entry and exit.
class GuiSystem : public TempSystem {
 public:
  GuiSystem();
  ~GuiSystem();

  // The global and the user preferences file.
  std::string GlobalPrefs() const { return path("common/TQ/cl-pref.txt"); }
  std::string UserPrefs() const { return path("appdata/TQ/cl-pref.txt"); }
  // RV_APPDATA and RV_COMMONAPPDATA of the relocated system.
  std::string AppData() const { return path("appdata/TQ"); }
  std::string CommonData() const { return path("common/TQ"); }
};

// Makes `dir` (and its parents below the root) a directory that belongs to
// `user`; the tree above it becomes reachable by every user.
void GiveDirTo(const TempSystem& sys, const std::string& dir, const TqUser& user);

// Writes the lines to `path` (one per element, each with LF).
void WriteLines(const std::string& path, const std::vector<std::string>& lines);

// The lines of `path` (without LF); empty when missing.
std::vector<std::string> ReadLines(const std::string& path);
