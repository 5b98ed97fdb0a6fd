// Fuzzes the client preferences load: the input is split into the global
// and the user "cl-pref.txt" (its first byte tells where). No input may
// crash the load or make it fail; every value looked up afterwards keeps
// the format's promises (no blank, tab or line end around it, no longer
// than a logical line), the user value wins where the key allows it, and
// the load never rewrites a global file that exists.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/support/relocated_system.h"
#include "gui/client_prefs.h"
#include "runtime/env.h"
#include "runtime/report.h"
#include "runtime/text_lines.h"

namespace {

void Quiet(const char*) {}

std::string g_global; // the global file's path
std::string g_user;   // the user file's path

const char* const kKeys[] = {"UseWindowsThemes", "FontFileList", "FontSizeInc", "SysAddr", "SysMemory", "Help",
                             "ListAddStyle", "GetAnswerType", "AutoConnectServer", "HotTrackMode", "LastInstallEnd"};

void Write(const std::string& path, const uint8_t* data, size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) __builtin_trap();
  if (size && std::fwrite(data, 1, size, f) != size) __builtin_trap();
  std::fclose(f);
}

std::string Read(const std::string& path) {
  std::string out;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  std::fclose(f);
  return out;
}

bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

void CheckValue(const char* v) {
  if (!v) return;
  size_t len = std::strlen(v);
  if (len == 0 || len > kRVTextLineMax) __builtin_trap();
  if (IsSeparator(v[0]) || IsSeparator(v[len - 1])) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string root = fuzz_support::Relocate();
  std::string user = root + "/user";
  ::setenv("TQ_FOLDER_APPDATA", user.c_str(), 1);
  RVReportHooks hooks = {Quiet, Quiet, Quiet};
  RVSetReportHooks(&hooks);
  g_global = GUIClientPrefsGlobalPath();
  g_user = GUIClientPrefsUserPath();
  // A first load makes both directories (and writes the first-run files).
  if (GUILoadClientPrefs() != 0) __builtin_trap();
  GUIFreeClientPrefs();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t split = size ? 1 + (static_cast<size_t>(data[0]) * (size - 1)) / 255 : 0;
  Write(g_global, data + (size ? 1 : 0), split - (size ? 1 : 0));
  Write(g_user, data + split, size - split);
  std::string global_before = Read(g_global);
  if (GUILoadClientPrefs() != 0) __builtin_trap();
  if (Read(g_global) != global_before) __builtin_trap();
  for (const char* key : kKeys) {
    const char* v = GUIPrefValue(key);
    const char* g = GUIPrefGlobalValue(key);
    const char* u = GUIPrefUserValue(key);
    CheckValue(v);
    CheckValue(g);
    CheckValue(u);
    bool global_only = std::strcmp(key, "SysAddr") == 0 || std::strcmp(key, "SysMemory") == 0;
    if (u && !global_only && v != u) __builtin_trap();
    if ((!u || global_only) && g && v != g) __builtin_trap();
    if (GUIPrefBool(key) != GUIPrefIsTrue(v)) __builtin_trap();
  }
  GUIFreeClientPrefs();
  return 0;
}
