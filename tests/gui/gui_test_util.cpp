// Shared by the toolkit's tests.
#include "tests/gui/gui_test_util.h"

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "gui/client_prefs.h"
#include "gui/fonts.h"
#include "gui/window_system.h"
#include "platform/window.h"
#include "runtime/report.h"

namespace {

ReportCapture* g_capture = nullptr;

void CaptureError(const char* text) {
  if (g_capture) g_capture->errors.push_back(text);
}

void CaptureOther(const char* text) {
  if (g_capture) g_capture->others.push_back(text);
}

}  // namespace

ReportCapture::ReportCapture() {
  g_capture = this;
  RVReportHooks hooks = {CaptureOther, CaptureOther, CaptureError};
  RVSetReportHooks(&hooks);
}

ReportCapture::~ReportCapture() {
  RVSetReportHooks(nullptr);
  g_capture = nullptr;
}

GuiSystem::GuiSystem() {
  GUIFreeClientPrefs();
  GUIFreeFonts();
  GUISetWindowOps(PlatWindowHeadless());
  PlatHeadlessSetScreen(1280, 1024, 96);
  char reason[64];
  PlatWindowHeadless()->open_display(reason, sizeof reason);
  GUIRefreshScreen();
}

GuiSystem::~GuiSystem() {
  GUIFreeFonts();
  GUIFreeClientPrefs();
  char reason[64];
  PlatWindowHeadless()->open_display(reason, sizeof reason);
  GUISetWindowOps(PlatWindowHeadless());
}

void GiveDirTo(const TempSystem& sys, const std::string& dir, const TqUser& user) {
  std::filesystem::create_directories(dir);
  TqOpenTreeForUsers(sys.root());
  std::string relative = dir.substr(sys.root().size() + 1);
  std::string p = sys.root();
  for (const auto& part : std::filesystem::path(relative)) {
    p += "/" + part.string();
    if (::chown(p.c_str(), user.uid, user.gid) != 0) return;
  }
}

void WriteLines(const std::string& path, const std::vector<std::string>& lines) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary);
  for (const std::string& l : lines) out << l << '\n';
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> out;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  return out;
}
