// The configuration tool's writer: tqupd-cnf.txt from the form values.
#include "engine/config_writer.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <vector>

#include "crypto/scramble.h"
#include "engine/config.h"
#include "engine/config_form.h"
#include "engine/statement_file.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/system.h"
#include "runtime/util.h"
#include "service/schedule.h"

namespace {

constexpr uint32_t kFileMode = 0600; // it holds the scrambled password

// Appends formatted text to `out`.
void Add(std::string* out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Add(std::string* out, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  va_list copy;
  va_copy(copy, ap);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n > 0) {
    std::vector<char> buf(static_cast<size_t>(n) + 1);
    std::vsnprintf(buf.data(), buf.size(), format, ap);
    out->append(buf.data(), static_cast<size_t>(n));
  }
  va_end(ap);
}

// Seconds of a start-up wait choice; an unknown text counts as 5 minutes.
int StartupWaitSeconds(const std::string& text) {
  static const struct {
    const char* text;
    int seconds;
  } kChoices[] = {{"None", 0},      {"30 Sec", 30},   {"1 Min", 60},     {"2 Min", 120},  {"5 Min", 300},
                  {"15 Min", 900}, {"30 Min", 1800}, {"1 Hour", 3600}, {"2 Hour", 7200}};
  for (const auto& c : kChoices)
    if (UpdStmtKeyIs(text.c_str(), c.text)) return c.seconds;
  return 300;
}

// A time-of-day text as the file holds it: "hh:mm" on the 12-hour clock
// followed by "am" or "pm"; "??:????" when it is no time of day.
std::string FileTime(const std::string& text) {
  int32_t t = UpdTimeOfDay(text.c_str());
  if (t < 0) return "??:????";
  int hours = t / 3600;
  int minutes = t / 60 % 60;
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d%s", hours % 12 == 0 ? 12 : hours % 12, minutes, hours < 12 ? "am" : "pm");
  return buf;
}

// The interval text's first word directly followed by its second ("1 Hour"
// gives "1Hour").
std::string IntervalWord(const std::string& text) {
  std::string out;
  size_t pos = 0;
  for (int word = 0; word < 2; ++word) {
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
    while (pos < text.size() && text[pos] != ' ' && text[pos] != '\t') out += text[pos++];
  }
  return out;
}

void SetMessage(char* message, size_t size, const std::string& text) {
  if (message && size > 0) std::snprintf(message, size, "%s", text.c_str());
}

}  // namespace

std::string UpdConfigText(const UpdFormValues* form, int64_t now, const char* user) {
  std::string out;
  time_t t = static_cast<time_t>(now);
  struct tm local = {};
  localtime_r(&t, &local);
  Add(&out, "#\n# tqupd-cnf.txt - Created By tqupdcnf\n");
  Add(&out, "# Date: %02d/%02d/%d\n", local.tm_mon + 1, local.tm_mday, local.tm_year + 1900);
  Add(&out, "# Time: %02d:%02d:%02d\n", local.tm_hour, local.tm_min, local.tm_sec);
  Add(&out, "# User: %s\n", user ? user : "");
  Add(&out, "#\n# Server Info First\n#\n");
  Add(&out, "Protocol\t%s\n", form->protocol.c_str());
  Add(&out, "Server\t%s\n", form->server.c_str());
  Add(&out, "Script\t\"%s\"\n", form->script.c_str());
  std::string name = form->user.substr(0, kUpdFormUserMax);
  if (!name.empty()) {
    Add(&out, "User\t%s\n", name.c_str());
    std::vector<char> scrambled(2 * form->password.size() + 3, '\0');
    RVScrambleAt(form->password.c_str(), scrambled.data(), static_cast<uint32_t>(now));
    Add(&out, "Password\t%s\n", scrambled.data());
  }
  Add(&out, "InstallType\t%s\n", form->install_type.c_str());
  Add(&out, "StartUpWait\t%d\n", StartupWaitSeconds(form->startup_wait));
  // An empty choice would put a NUL byte in the file: the default level then.
  Add(&out, "LogLevel\t%c\n", form->log_level.empty() ? '3' : form->log_level[0]);
  Add(&out, "OnStartCheck\t%s\n", UpdStmtKeyIs(form->on_start_check.c_str(), "True") ? "True" : "False");
  // The transport settings the form keeps, each only when set.
  if (!form->https_verify.empty()) Add(&out, "HttpsVerify\t%s\n", form->https_verify.c_str());
  if (!form->https_ca_file.empty()) Add(&out, "HttpsCAFile\t\"%s\"\n", form->https_ca_file.c_str());
  for (const std::string& pin : form->https_pins) Add(&out, "HttpsPin\t%s\n", pin.c_str());
  if (!form->max_download_size.empty()) Add(&out, "MaxDownloadSize\t%s\n", form->max_download_size.c_str());
  if (!form->script_signature.empty()) Add(&out, "ScriptSignature\t%s\n", form->script_signature.c_str());
  Add(&out, "#\n# Schedules\n#\n");
  for (const UpdFormRow& row : form->rows) {
    if (row.start_time.empty()) continue;
    Add(&out, "Schedule\tStartTime=%s", FileTime(row.start_time).c_str());
    if (!row.end_time.empty()) Add(&out, ",EndTime=%s", FileTime(row.end_time).c_str());
    if (!row.interval.empty()) Add(&out, ",Interval=%s", IntervalWord(row.interval).c_str());
    if (!row.day_of_week.empty() && !UpdStmtKeyIs(row.day_of_week.c_str(), "None"))
      Add(&out, ",DayOfWeek=%s", row.day_of_week.c_str());
    if (!row.day_of_month.empty() && !UpdStmtKeyIs(row.day_of_month.c_str(), "None"))
      Add(&out, ",DayOfMonth=%s", row.day_of_month.c_str());
    Add(&out, "\n");
  }
  return out;
}

int UpdWriteConfigTo(const UpdFormValues* form, const char* path, int64_t now, const char* user, char* message,
                     size_t size) {
  SetMessage(message, size, "");
  std::string text = UpdConfigText(form, now, user);

  // The backup is a whole copy of the current file, so the file itself stays
  // in place until the new one replaces it in one step.
  PlatFileInfo info;
  if (PlatFileStat(path, &info) == 0) {
    std::string backup = std::string(path) + "-bu";
    if (PlatCopyFile(path, backup.c_str(), 0) != 0 || PlatChmod(backup.c_str(), kFileMode) != 0) {
      char buf[64];
      std::snprintf(buf, sizeof buf, "Error Creating Backup File: %d", static_cast<int>(PlatGetLastError()));
      SetMessage(message, size, buf);
      return -1;
    }
  }
  RVMakeDirs(path);
  errno = 0;
  if (PlatWriteFileAtomic(path, text, kFileMode) != 0) {
    int err = errno;
    char buf[kUpdFormMessageMax];
    std::snprintf(buf, sizeof buf, "Error: %d creating file: %s", err, path);
    SetMessage(message, size, buf);
    return -1;
  }
  return 0;
}

int UpdWriteConfig(const UpdFormValues* form, char* message, size_t size) {
  std::string path = UpdConfigPath();
  return UpdWriteConfigTo(form, path.c_str(), PlatTimeNow(), RVUserName(), message, size);
}
