// The records of the service database: names, text forms, command splitting
// and configuration packing.
//
// Portable: nothing here talks to the operating system.
//
// Both files are lines of "key value" ("value" escaped: "\\" for a
// backslash, "\n" and "\r" for line ends), opened by a header line naming the
// record and its version and closed by "end", so that a file cut short is
// told apart from a whole one:
//
//   tq-service-config 1          tq-service-status 1
//   name TQUpdateD64             type 16
//   display_name TQUpdateD64     state 4
//   description ...              controls 3
//   binary_path /opt/...         exit 0
//   dependency tcpip             specific 0
//   account LocalSystem          checkpoint 0
//   id 5f0c...                   wait_hint 0
//   type 16                      pid 1234
//   start_type 3                 pid_start 98765
//   error_control 1              token 9a1b...
//   end                          connected 1
//                                delete 0
//                                arg ...
//                                end
#include "platform/service_record.h"

#include <cstring>

#include "platform/error.h"

namespace {

constexpr const char kConfigHeader[] = "tq-service-config 1";  // first line of a configuration file
constexpr const char kStateHeader[] = "tq-service-status 1";   // first line of a status file
constexpr const char kEnd[] = "end";                            // last line of both
constexpr uint32_t kErrorServiceNeverStarted = 1077;            // exit code of a service never started

// The escaped form of a value (see the file comment).
std::string Escape(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out += c;
  }
  return out;
}

// Undoes Escape; false for an unknown or unfinished escape.
bool Unescape(const std::string& s, std::string* out) {
  out->clear();
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\') {
      *out += s[i];
      continue;
    }
    if (++i == s.size()) return false;
    if (s[i] == '\\') *out += '\\';
    else if (s[i] == 'n') *out += '\n';
    else if (s[i] == 'r') *out += '\r';
    else return false;
  }
  return true;
}

// Reads a whole decimal number that fits `max`.
bool ParseNumber(const std::string& s, uint64_t max, uint64_t* out) {
  if (s.empty() || s.size() > 20) return false;
  uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    uint64_t d = static_cast<uint64_t>(c - '0');
    if (v > (max - d) / 10) return false;
    v = v * 10 + d;
  }
  *out = v;
  return true;
}

// Reads a whole decimal number of 32 bits.
bool ParseU32(const std::string& s, uint32_t* out) {
  uint64_t v = 0;
  if (!ParseNumber(s, 0xFFFFFFFFu, &v)) return false;
  *out = static_cast<uint32_t>(v);
  return true;
}

// One "key value" line of a record.
struct Line {
  std::string key;   // the key
  std::string value; // the value, unescaped
};

// Splits a record's text into its lines between the header and "end"; false
// when the header, the end or a line is not as written by this file.
bool SplitRecord(const std::string& text, const char* header, std::vector<Line>* lines) {
  lines->clear();
  size_t pos = 0;
  bool first = true;
  bool ended = false;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    if (nl == std::string::npos) return false;  // a record always ends with a line end
    std::string line = text.substr(pos, nl - pos);
    pos = nl + 1;
    if (ended) return false;  // nothing may follow "end"
    if (first) {
      if (line != header) return false;
      first = false;
      continue;
    }
    if (line == kEnd) {
      ended = true;
      continue;
    }
    size_t sp = line.find(' ');
    if (sp == std::string::npos || sp == 0) return false;
    Line l;
    l.key = line.substr(0, sp);
    if (!Unescape(line.substr(sp + 1), &l.value)) return false;
    lines->push_back(std::move(l));
  }
  return ended;
}

// Fails with 13: the text is not a whole record.
int Invalid() {
  PlatSetLastError(ERROR_INVALID_DATA);
  return -1;
}

// Appends one "key value" line.
void Put(std::string* out, const char* key, const std::string& value) {
  *out += key;
  *out += ' ';
  *out += Escape(value);
  *out += '\n';
}

// Appends one "key number" line.
void PutNumber(std::string* out, const char* key, uint64_t value) { Put(out, key, std::to_string(value)); }

// True when `s` holds only lower-case hex digits.
bool IsHex(const std::string& s) {
  for (char c : s)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

}  // namespace

int PlatServiceKey(const char* name, std::string* key) {
  size_t n = name ? std::strlen(name) : 0;
  if (n == 0 || n > kPlatServiceNameMax || name[0] == '.') {
    PlatSetLastError(ERROR_INVALID_NAME);
    return -1;
  }
  key->clear();
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (c < 0x20 || c == 0x7F || c == '/' || c == '\\') {
      PlatSetLastError(ERROR_INVALID_NAME);
      return -1;
    }
    *key += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : static_cast<char>(c);
  }
  return 0;
}

std::string PlatServiceConfigText(const PlatServiceConfig& config) {
  std::string out = std::string(kConfigHeader) + "\n";
  Put(&out, "name", config.name);
  Put(&out, "display_name", config.display_name);
  Put(&out, "description", config.description);
  Put(&out, "binary_path", config.binary_path);
  for (const std::string& d : config.dependencies) Put(&out, "dependency", d);
  Put(&out, "account", config.account);
  Put(&out, "id", config.id);
  PutNumber(&out, "type", config.service_type);
  PutNumber(&out, "start_type", config.start_type);
  PutNumber(&out, "error_control", config.error_control);
  out += kEnd;
  out += '\n';
  return out;
}

int PlatServiceConfigParse(const std::string& text, PlatServiceConfig* config) {
  std::vector<Line> lines;
  if (!SplitRecord(text, kConfigHeader, &lines)) return Invalid();
  PlatServiceConfig c{};
  unsigned seen = 0;  // one bit per required key
  for (const Line& l : lines) {
    if (l.key == "name") c.name = l.value, seen |= 1;
    else if (l.key == "display_name") c.display_name = l.value, seen |= 2;
    else if (l.key == "description") c.description = l.value;
    else if (l.key == "binary_path") c.binary_path = l.value, seen |= 4;
    else if (l.key == "dependency") c.dependencies.push_back(l.value);
    else if (l.key == "account") c.account = l.value, seen |= 8;
    else if (l.key == "id") c.id = l.value, seen |= 16;
    else if (l.key == "type") seen |= ParseU32(l.value, &c.service_type) ? 32 : 0;
    else if (l.key == "start_type") seen |= ParseU32(l.value, &c.start_type) ? 64 : 0;
    else if (l.key == "error_control") seen |= ParseU32(l.value, &c.error_control) ? 128 : 0;
    else return Invalid();
  }
  std::string key;
  if (seen != 255 || PlatServiceKey(c.name.c_str(), &key) != 0 || c.service_type != SERVICE_WIN32_OWN_PROCESS ||
      c.start_type < SERVICE_AUTO_START || c.start_type > SERVICE_DISABLED || c.error_control > 3)
    return Invalid();
  *config = std::move(c);
  return 0;
}

std::string PlatServiceStateText(const PlatServiceState& state) {
  std::string out = std::string(kStateHeader) + "\n";
  PutNumber(&out, "type", state.status.dwServiceType);
  PutNumber(&out, "state", state.status.dwCurrentState);
  PutNumber(&out, "controls", state.status.dwControlsAccepted);
  PutNumber(&out, "exit", state.status.dwWin32ExitCode);
  PutNumber(&out, "specific", state.status.dwServiceSpecificExitCode);
  PutNumber(&out, "checkpoint", state.status.dwCheckPoint);
  PutNumber(&out, "wait_hint", state.status.dwWaitHint);
  PutNumber(&out, "pid", state.pid);
  PutNumber(&out, "pid_start", state.pid_start);
  Put(&out, "token", state.token);
  PutNumber(&out, "connected", state.connected ? 1 : 0);
  PutNumber(&out, "delete", state.delete_pending ? 1 : 0);
  for (const std::string& a : state.args) Put(&out, "arg", a);
  out += kEnd;
  out += '\n';
  return out;
}

int PlatServiceStateParse(const std::string& text, PlatServiceState* state) {
  std::vector<Line> lines;
  if (!SplitRecord(text, kStateHeader, &lines)) return Invalid();
  PlatServiceState s{};
  uint32_t connected = 0, del = 0;
  uint64_t pid_start = 0;
  unsigned seen = 0;  // one bit per required key
  for (const Line& l : lines) {
    bool ok = true;
    if (l.key == "type") ok = ParseU32(l.value, &s.status.dwServiceType), seen |= 1;
    else if (l.key == "state") ok = ParseU32(l.value, &s.status.dwCurrentState), seen |= 2;
    else if (l.key == "controls") ok = ParseU32(l.value, &s.status.dwControlsAccepted), seen |= 4;
    else if (l.key == "exit") ok = ParseU32(l.value, &s.status.dwWin32ExitCode), seen |= 8;
    else if (l.key == "specific") ok = ParseU32(l.value, &s.status.dwServiceSpecificExitCode), seen |= 16;
    else if (l.key == "checkpoint") ok = ParseU32(l.value, &s.status.dwCheckPoint), seen |= 32;
    else if (l.key == "wait_hint") ok = ParseU32(l.value, &s.status.dwWaitHint), seen |= 64;
    else if (l.key == "pid") ok = ParseU32(l.value, &s.pid), seen |= 128;
    else if (l.key == "pid_start") ok = ParseNumber(l.value, UINT64_MAX, &pid_start), seen |= 256;
    else if (l.key == "token") ok = IsHex(l.value), s.token = l.value, seen |= 512;
    else if (l.key == "connected") ok = ParseU32(l.value, &connected) && connected <= 1, seen |= 1024;
    else if (l.key == "delete") ok = ParseU32(l.value, &del) && del <= 1, seen |= 2048;
    else if (l.key == "arg") s.args.push_back(l.value);
    else ok = false;
    if (!ok) return Invalid();
  }
  if (seen != 4095 || s.status.dwCurrentState < SERVICE_STOPPED || s.status.dwCurrentState > SERVICE_PAUSED)
    return Invalid();
  s.pid_start = pid_start;
  s.connected = static_cast<int>(connected);
  s.delete_pending = static_cast<int>(del);
  *state = std::move(s);
  return 0;
}

PlatServiceState PlatServiceStateInitial() {
  PlatServiceState s{};
  s.status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  s.status.dwCurrentState = SERVICE_STOPPED;
  s.status.dwWin32ExitCode = kErrorServiceNeverStarted;
  return s;
}

int PlatServiceSplitCommand(const std::string& command, std::vector<std::string>* argv) {
  argv->clear();
  size_t i = 0, n = command.size();
  auto blank = [&](size_t k) { return command[k] == ' ' || command[k] == '\t'; };
  while (i < n && blank(i)) ++i;
  // The program: quotes group and are dropped, backslashes are plain.
  std::string program;
  bool quoted = false;
  bool any = false;
  for (; i < n && (quoted || !blank(i)); ++i) {
    any = true;
    if (command[i] == '"') quoted = !quoted;
    else program += command[i] == '\\' ? '/' : command[i];
  }
  if (!any || program.empty()) {
    PlatSetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  argv->push_back(program);
  // The arguments.
  for (;;) {
    while (i < n && blank(i)) ++i;
    if (i >= n) break;
    std::string arg;
    quoted = false;
    while (i < n && (quoted || !blank(i))) {
      size_t slashes = 0;
      while (i < n && command[i] == '\\') ++slashes, ++i;
      if (i < n && command[i] == '"') {
        arg.append(slashes / 2, '\\');
        if (slashes % 2 == 1) arg += '"';
        else quoted = !quoted;
        ++i;
      } else {
        arg.append(slashes, '\\');
        if (i < n && (quoted || !blank(i))) arg += command[i++];
      }
    }
    argv->push_back(arg);
  }
  return 0;
}

uint32_t PlatServiceConfigSize(const PlatServiceConfig& config) {
  size_t n = sizeof(QUERY_SERVICE_CONFIGA);
  n += config.binary_path.size() + 1;
  n += 1;  // load order group ""
  for (const std::string& d : config.dependencies) n += d.size() + 1;
  n += config.dependencies.empty() ? 2 : 1;  // the list's end
  n += config.account.size() + 1;
  n += config.display_name.size() + 1;
  return static_cast<uint32_t>(n);
}

void PlatServiceConfigPack(const PlatServiceConfig& config, QUERY_SERVICE_CONFIGA* out) {
  char* p = reinterpret_cast<char*>(out) + sizeof(QUERY_SERVICE_CONFIGA);
  auto put = [&p](const std::string& s) {
    char* at = p;
    std::memcpy(p, s.c_str(), s.size() + 1);
    p += s.size() + 1;
    return at;
  };
  out->dwServiceType = config.service_type;
  out->dwStartType = config.start_type;
  out->dwErrorControl = config.error_control;
  out->dwTagId = 0;
  out->lpBinaryPathName = put(config.binary_path);
  out->lpLoadOrderGroup = put("");
  out->lpDependencies = p;
  for (const std::string& d : config.dependencies) put(d);
  if (config.dependencies.empty()) *p++ = '\0';
  *p++ = '\0';
  out->lpServiceStartName = put(config.account);
  out->lpDisplayName = put(config.display_name);
}
