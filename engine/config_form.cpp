// The configuration tool's form values: display rules, fresh values, check.
#include "engine/config_form.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "crypto/scramble.h"
#include "engine/config.h"
#include "service/schedule.h"

namespace {

const char* const kLogLevelTexts[10] = {"0 Very Low", "1 Low", "2",      "3 Recommended", "4",
                                        "5 Medium",   "6",     "7 High", "8 Verbose",     "9 VeryVerbose"};

}  // namespace

const char* const kUpdScriptSignatureTexts[3] = {"Off", "Verify", "Require"};

namespace {

const char* const kDayNames[7] = {"Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday", "Monday"};

std::string Text(const char* value) { return value ? value : ""; }

const char* ProtocolText(uint16_t protocol) {
  switch (protocol) {
    case UPD_PROTO_HTTP: return "http";
    case UPD_PROTO_TQFS: return "tqfs";
    case UPD_PROTO_LOCALSHARE: return "LocalShare";
    case UPD_PROTO_HTTPS: return "https";
    default: return "";
  }
}

const char* InstallTypeText(uint16_t install_type) {
  if (install_type == UPD_INSTALL_PROMPT) return "Prompt";
  if (install_type == UPD_INSTALL_ONREQUEST) return "OnRequest";
  return "Automatic";
}

const char* StartupWaitText(int32_t seconds) {
  if (seconds == 0) return "None";
  if (seconds < 0) return "5 Min";
  if (seconds <= 30) return "30 Sec";
  if (seconds <= 60) return "1 Min";
  if (seconds <= 120) return "2 Min";
  if (seconds <= 300) return "5 Min";
  if (seconds <= 900) return "15 Min";
  if (seconds <= 1800) return "30 Min";
  if (seconds <= 3600) return "1 Hour";
  return "2 Hour";
}

const char* LogLevelText(int32_t level) {
  return level >= 0 && level <= 9 ? kLogLevelTexts[level] : kLogLevelTexts[3];
}

const char* IntervalText(int32_t seconds) {
  if (seconds <= 0) return "1 Hour";
  if (seconds <= 900) return "15 Min";
  if (seconds <= 1800) return "30 Min";
  if (seconds <= 3600) return "1 Hour";
  if (seconds <= 7200) return "2 Hour";
  if (seconds <= 14400) return "4 Hour";
  if (seconds <= 28800) return "8 Hour";
  if (seconds <= 43200) return "12 Hour";
  return "24 Hour";
}

// A time of day on the 24-hour clock; an invalid (negative) time shows as
// "??:??:??", which the writer keeps invalid.
std::string TimeText(int32_t seconds) {
  if (seconds < 0) return "??:??:??";
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", seconds / 3600 % 100, seconds / 60 % 60, seconds % 60);
  return buf;
}

std::string DayOfMonthText(int32_t day) {
  if (day < 1 || day > 31) return "None";
  char buf[4];
  std::snprintf(buf, sizeof buf, "%02d", static_cast<int>(day));
  return buf;
}

// The plain text of a stored password; empty when none is stored or it
// cannot be unscrambled.
std::string PlainPassword(const char* stored) {
  if (!stored || !*stored) return "";
  std::vector<char> out(std::strlen(stored) / 2 + 1, '\0');
  if (RVUnscrambleCurrent(stored, out.data()) != 0) return "";
  return out.data();
}

int Fail(UpdFormFailure* failure, UpdFormField field, const std::string& message) {
  if (failure) {
    failure->field = field;
    std::snprintf(failure->message, sizeof failure->message, "%s", message.c_str());
  }
  return -1;
}

}  // namespace

void UpdFormFill(const UpdConfig* config, UpdFormValues* form) {
  *form = UpdFormValues();
  if (!config) return;
  form->protocol = ProtocolText(config->protocol);
  form->install_type = InstallTypeText(config->install_type);
  form->server = Text(config->server);
  form->script = Text(config->script);
  form->user = Text(config->user);
  form->password = PlainPassword(config->password);
  form->confirm_password = form->password;
  form->startup_wait = StartupWaitText(config->startup_wait);
  form->log_level = LogLevelText(config->log_level);
  form->on_start_check = (config->flags & UPD_CONFIG_ONSTARTCHECK) ? "True" : "False";
  // The transport settings are shown as they were read, and saved again.
  if (config->https_verify == UPD_HTTPS_VERIFY_SYSTEM) form->https_verify = "System";
  else if (config->https_verify == UPD_HTTPS_VERIFY_FILE) form->https_verify = "File";
  form->https_ca_file = Text(config->https_ca_file);
  for (int i = 0; i < config->https_pin_count; ++i) form->https_pins.push_back(Text(config->https_pins[i]));
  if (config->max_download_size > 0) form->max_download_size = std::to_string(config->max_download_size);
  if (config->script_signature > UPD_SCRIPT_SIGNATURE_OFF && config->script_signature <= UPD_SCRIPT_SIGNATURE_REQUIRE)
    form->script_signature = kUpdScriptSignatureTexts[config->script_signature];

  int row = 0;
  for (const UpdSchedule* w = config->schedules; w && row < kUpdFormRows; w = w->next, ++row) {
    // The second half of a window split at midnight gives the end time.
    const UpdSchedule* last = w;
    if ((w->flags & UPD_SCHED_FIRST_HALF) && w->next) last = w->next;
    UpdFormRow& r = form->rows[row];
    r.start_time = TimeText(w->start);
    r.end_time = TimeText(last->end);
    r.interval = IntervalText(w->interval);
    r.day_of_week = w->day_of_week >= 0 && w->day_of_week <= 6 ? kDayNames[w->day_of_week] : "None";
    r.day_of_month = DayOfMonthText(w->day_of_month);
    w = last;
  }
}

void UpdFormFresh(UpdFormValues* form) {
  *form = UpdFormValues();
  form->install_type = InstallTypeText(UPD_INSTALL_NONE);
  form->startup_wait = StartupWaitText(120);
  form->log_level = LogLevelText(3);
  form->on_start_check = "True";
  form->rows[0].start_time = "12:00am";
  form->rows[0].interval = "1 Hour";
  form->rows[0].day_of_week = "None";
  form->rows[0].day_of_month = "None";
}

int UpdFormLoad(UpdFormValues* form) {
  int result = -1;
  if (UpdReadConfig() == 0 && g_upd_config) {
    UpdFormFill(g_upd_config, form);
    result = 0;
  } else {
    UpdFormFresh(form);
  }
  UpdFreeConfig();
  return result;
}

int UpdFormCheck(const UpdFormValues* form, UpdFormFailure* failure) {
  if (failure) {
    failure->field = UPD_FIELD_NONE;
    failure->message[0] = '\0';
  }
  if (form->protocol.empty()) return Fail(failure, UPD_FIELD_PROTOCOL, "Protocol is mandatory");
  if (form->server.empty()) return Fail(failure, UPD_FIELD_SERVER, "Server is mandatory");
  if (form->script.empty()) return Fail(failure, UPD_FIELD_SCRIPT, "Script filename is mandatory");
  std::string user = form->user.substr(0, kUpdFormUserMax);
  if (!user.empty()) {
    if (static_cast<signed char>(user[0]) <= 32) return Fail(failure, UPD_FIELD_USER, "Invalid Username: " + user);
    if (form->password.empty()) return Fail(failure, UPD_FIELD_PASSWORD, "Password is mandatory with username");
    if (form->password != form->confirm_password)
      return Fail(failure, UPD_FIELD_CONFIRM_PASSWORD, "Password Mismatch");
  }
  for (const UpdFormRow& r : form->rows)
    if (!r.start_time.empty()) return 0;
  return Fail(failure, UPD_FIELD_START_TIME0, "Must Specify at least one schedule");
}
