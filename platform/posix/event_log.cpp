// POSIX implementation of the event log of platform/service_manager.h.
//
// An event goes to syslog (the source as ident, facility daemon, priority
// from the event type) and, as one line, to TQ_SYSTEM_ROOT/events/<source>.log:
//   "<YYYY/MM/DD hh:mm:ss local time> <type> <strings joined with " - ">"
// so that administrators and tests read events without a syslog daemon.
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <syslog.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

#include "platform/error.h"
#include "platform/folders.h"
#include "platform/posix/syscalls.h"
#include "platform/service_manager.h"

// An open event source.
struct PlatEventSource {
  std::string source; // the source's name, the ident of its syslog messages
  std::string file;   // its file under events/
};

namespace {

// Event types besides the three of the header.
constexpr uint16_t kEventSuccess = 0;
constexpr uint16_t kEventAuditSuccess = 8;
constexpr uint16_t kEventAuditFailure = 16;

// Sources open in this process; syslog's ident is process-wide, so the
// messages are written under this lock too.
std::mutex g_lock;
std::unordered_set<PlatEventSource*> g_sources;

// The file name of a source: letters, digits, ".", "-" and "_" kept, every
// other byte (and a leading ".") turned into "_".
std::string FileName(const char* source) {
  std::string name;
  for (const char* p = source; *p; ++p) {
    char c = *p;
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                 c == '_' || (c == '.' && !name.empty());
    name += plain ? c : '_';
  }
  return name + ".log";
}

// The name and syslog priority of an event type; false for an unknown type.
bool TypeOf(uint16_t type, const char** name, int* priority) {
  switch (type) {
    case EVENTLOG_ERROR_TYPE: *name = "Error", *priority = LOG_ERR; return true;
    case EVENTLOG_WARNING_TYPE: *name = "Warning", *priority = LOG_WARNING; return true;
    case EVENTLOG_INFORMATION_TYPE: *name = "Information", *priority = LOG_INFO; return true;
    case kEventSuccess: *name = "Success", *priority = LOG_INFO; return true;
    case kEventAuditSuccess: *name = "AuditSuccess", *priority = LOG_NOTICE; return true;
    case kEventAuditFailure: *name = "AuditFailure", *priority = LOG_WARNING; return true;
    default: return false;
  }
}

// Appends `line` to `path` in one write, creating the events directory.
int AppendLine(const std::string& path, const std::string& line) {
  std::string root = PlatSystemRoot();
  plat_sys_mkdir(root.c_str(), 0755);
  plat_sys_mkdir((root + "/events").c_str(), 0755);
  // Never through a link, never blocking on a FIFO planted at the name.
  int fd = plat_sys_open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK, 0644);
  if (fd < 0) {
    PlatSetLastErrorFromErrno(errno == ELOOP || errno == ENXIO ? EACCES : errno);
    return -1;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    PlatSetLastError(ERROR_ACCESS_DENIED);
    return -1;
  }
  size_t done = 0;
  int err = 0;
  while (done < line.size()) {
    ssize_t n = plat_sys_write(fd, line.data() + done, line.size() - done);
    if (n < 0) {
      err = errno;
      break;
    }
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  if (err) {
    PlatSetLastErrorFromErrno(err);
    return -1;
  }
  return 0;
}

}  // namespace

HANDLE_EVENT_SOURCE RegisterEventSourceA(const char* machine, const char* source) {
  if ((machine && *machine) || !source || !*source) {
    PlatSetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto* s = new PlatEventSource{source, FileName(source)};
  std::lock_guard<std::mutex> g(g_lock);
  g_sources.insert(s);
  return s;
}

int ReportEventA(HANDLE_EVENT_SOURCE source, uint16_t type, uint16_t category, uint32_t event_id, const void* user_sid,
                 uint16_t num_strings, uint32_t data_size, const char** strings, const void* data) {
  (void)category;
  (void)event_id;
  (void)user_sid;
  (void)data_size;
  (void)data;
  const char* type_name;
  int priority;
  if (!TypeOf(type, &type_name, &priority) || (num_strings > 0 && !strings)) {
    PlatSetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string text;
  for (uint16_t i = 0; i < num_strings; ++i) {
    if (i > 0) text += " - ";
    if (strings[i]) text += strings[i];
  }
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  std::string path;
  {
    std::lock_guard<std::mutex> g(g_lock);
    if (!g_sources.count(source)) {
      PlatSetLastError(ERROR_INVALID_HANDLE);
      return 0;
    }
    ::openlog(source->source.c_str(), LOG_PID, LOG_DAEMON);
    ::syslog(priority, "%s", text.c_str());
    ::closelog();
    path = PlatSystemPath("events") + "/" + source->file;
  }
  char when[32];
  time_t now = ::time(nullptr);
  struct tm tm;
  ::localtime_r(&now, &tm);
  std::strftime(when, sizeof when, "%Y/%m/%d %H:%M:%S", &tm);
  if (AppendLine(path, std::string(when) + " " + type_name + " " + text + "\n") != 0) return 0;
  PlatSetLastError(ERROR_SUCCESS);
  return 1;
}

int DeregisterEventSource(HANDLE_EVENT_SOURCE source) {
  std::lock_guard<std::mutex> g(g_lock);
  if (!source || !g_sources.erase(source)) {
    PlatSetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  delete source;
  return 1;
}
