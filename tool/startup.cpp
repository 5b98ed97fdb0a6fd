// The configuration tool's command line.
#include "tool/startup.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

#include "platform/file.h"
#include "runtime/print.h"
#include "service/identity.h"

ToolStartup g_tool_startup = {};

namespace {

void OptionError(const char* what, char c) {
  RVPrintError("%s: %s -- '%c'\n", kToolProgramName, what, c);
}

// A long option: the argument's text after "--", compared without regard
// to case; unknown ones are ignored.
void LongOption(const char* value, ToolStartup* out) {
  if (strcasecmp(value, "svcstart") == 0) {
    out->svc_start = 1;
  } else if (strcasecmp(value, "svcstop") == 0) {
    out->svc_stop = 1;
  } else if (strcasecmp(value, "svcremove") == 0) {
    out->svc_remove = 1;
  } else if (strcasecmp(value, "nogui") == 0) {
    out->nogui = 1;
  } else if (strcasecmp(value, "Help") == 0) {
    ToolPrintUsage();
    out->help = 1;
  }
}

// The decimal number at the start of `value`, as atoi reads it, clamped to
// the range of int instead of overflowing.
int Seconds(const char* value) {
  long long v = std::strtoll(value, nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

void LayoutDir(const char* value, ToolStartup* out) {
  char full[kToolPathSize];
  if (ToolFullPath(value, full, sizeof full) > 0) std::memcpy(out->layout_dir, full, sizeof full);
}

}  // namespace

int ToolParseCommandLine(int argc, char** argv, ToolStartup* out) {
  *out = ToolStartup{};
  if (argc > kToolMaxArgs) argc = kToolMaxArgs;
  int i = 1;
  while (i < argc && !out->help) {
    const char* arg = argv[i];
    if (!arg || arg[0] != '-' || arg[1] == '\0') break;
    ++i;
    if (std::strcmp(arg, "--") == 0) break;
    for (const char* p = arg + 1; *p && !out->help; ++p) {
      char c = *p;
      if (c == 'D' || c == 'V') continue;
      if (c == 'H') {
        ToolPrintUsage();
        out->help = 1;
        break;
      }
      if (c == 'w' || c == 'x' || c == '-') {
        const char* value = p + 1;
        if (!*value && c != '-') value = i < argc ? argv[i++] : nullptr;
        if (!value) {
          OptionError("option requires an argument", c);
          ++out->errors;
        } else if (c == 'w') {
          out->wait_seconds = Seconds(value);
        } else if (c == 'x') {
          LayoutDir(value, out);
        } else {
          LongOption(value, out);
        }
        break;
      }
      OptionError("illegal option --", c);
      ++out->errors;
    }
  }
  return out->errors;
}

void ToolPrintUsage() {
  RVPrintInfo("%s - %s", kToolProgramName, kUpdVersionLine);
  RVPrintInfo("Usage: %s <option> [<optarg>] ...", kToolProgramName);
  RVPrintInfo("\tOptions:");
  for (const char* line : {"-w <waitnsecs>", "-x <xmldir>", "-D - Debug", "-H - Help", "-V - Verbose Debug",
                           "--stop", "--remove", "-- - other options"})
    RVPrintInfo("\t\t%s", line);
}

size_t ToolFullPath(const char* path, char* out, size_t size) {
  if (size == 0) return 0;
  out[0] = '\0';
  if (!path || !*path) return 0;
  std::string joined;
  if (path[0] == '/') {
    joined = path;
  } else {
    char cwd[4096];
    if (PlatGetCurrentDir(cwd, sizeof cwd) < 0) return 0;
    joined = std::string(cwd) + "/" + path;
  }
  // Resolve by name: empty parts and "." vanish, ".." drops one part.
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= joined.size()) {
    size_t end = joined.find('/', start);
    if (end == std::string::npos) end = joined.size();
    std::string part = joined.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string result;
  for (const std::string& part : parts) result += "/" + part;
  if (result.empty()) result = "/";
  if (result.size() >= size) return 0;
  std::memcpy(out, result.c_str(), result.size() + 1);
  return result.size();
}
