// The configuration reader: tqupd-cnf.txt into the configuration record.
#include "engine/config.h"

#include <climits>
#include <cstdlib>
#include <string>

#include "engine/statement_file.h"
#include "engine/work_entry.h"
#include "platform/file.h"
#include "runtime/alloc.h"
#include "runtime/log_text.h"
#include "runtime/env.h"
#include "runtime/message.h"
#include "service/schedule.h"

UpdConfig* g_upd_config = nullptr;
int32_t g_upd_max_loop_count = 0;

namespace {

constexpr int kConfigTokens = 3;          // key, value and the Env value
constexpr int32_t kDefaultLogLevel = 3;
constexpr int32_t kLoopWaitMin = 600;
constexpr int32_t kLoopWaitMax = 3600;
const char kDefaultSchedule[] = "StartTime=4am,EndTime=6am,Interval=1D";

// An integer as atoi reads it, saturated to the 32-bit range instead of
// undefined when out of range.
int32_t ToInt(const char* text) {
  long long v = std::strtoll(text, nullptr, 10);
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

// Replaces the text held at *slot with a private copy of `value` (none for
// an empty one).
void SetText(char** slot, const char* value) {
  RVFree(*slot);
  *slot = RVStrDup(value);
}

uint16_t ProtocolCode(const char* value) {
  if (UpdStmtKeyIs(value, "http")) return UPD_PROTO_HTTP;
  if (UpdStmtKeyIs(value, "https")) return UPD_PROTO_HTTPS;
  if (UpdStmtKeyIs(value, "tqfs")) return UPD_PROTO_TQFS;
  if (UpdStmtKeyIs(value, "LocalShare")) return UPD_PROTO_LOCALSHARE;
  return UPD_PROTO_NONE;
}

uint16_t InstallTypeCode(const char* value) {
  if (UpdStmtKeyIs(value, "Prompt")) return UPD_INSTALL_PROMPT;
  if (UpdStmtKeyIs(value, "Automatic")) return UPD_INSTALL_AUTOMATIC;
  if (UpdStmtKeyIs(value, "OnRequest")) return UPD_INSTALL_ONREQUEST;
  return UPD_INSTALL_NONE;
}

// The HttpsVerify code of a value, or -1 for anything but None, System or File.
int32_t VerifyCode(const char* value) {
  if (UpdStmtKeyIs(value, "None")) return UPD_HTTPS_VERIFY_NONE;
  if (UpdStmtKeyIs(value, "System")) return UPD_HTTPS_VERIFY_SYSTEM;
  if (UpdStmtKeyIs(value, "File")) return UPD_HTTPS_VERIFY_FILE;
  return -1;
}

// The ScriptSignature code of a value, or -1 for anything but Off, Verify or
// Require.
int32_t ScriptSignatureCode(const char* value) {
  if (UpdStmtKeyIs(value, "Off")) return UPD_SCRIPT_SIGNATURE_OFF;
  if (UpdStmtKeyIs(value, "Verify")) return UPD_SCRIPT_SIGNATURE_VERIFY;
  if (UpdStmtKeyIs(value, "Require")) return UPD_SCRIPT_SIGNATURE_REQUIRE;
  return -1;
}

// Reads a MaxDownloadSize value: decimal digits only, 0 to 1 TiB. 0, or -1.
int ParseSize(const char* value, int64_t* out) {
  if (!*value) return -1;
  int64_t v = 0;
  for (const char* p = value; *p; ++p) {
    if (*p < '0' || *p > '9') return -1;
    v = v * 10 + (*p - '0');
    if (v > kUpdMaxDownloadSizeMax) return -1;
  }
  *out = v;
  return 0;
}

// Applies one of the transport keys (HttpsVerify, HttpsCAFile, HttpsPin,
// MaxDownloadSize, ScriptSignature); a refused value is logged at level 9 and fails the read
// after the last line. False when `key` is none of them.
bool ApplyTransportKey(UpdConfig* config, const char* key, const char* value) {
  RVShown shown;
  if (UpdStmtKeyIs(key, "HttpsVerify")) {
    int32_t code = VerifyCode(value);
    if (code < 0) {
      UpdMessage(9, "Invalid HttpsVerify: %s - None, System or File", RVShowText(&shown, value));
      config->setting_errors++;
    } else {
      config->https_verify = code;
    }
  } else if (UpdStmtKeyIs(key, "HttpsCAFile")) {
    SetText(&config->https_ca_file, value);
  } else if (UpdStmtKeyIs(key, "HttpsPin")) {
    std::array<unsigned char, kUpdPinSize> pin;
    if (UpdParsePin(value, &pin) != 0) {
      UpdMessage(9, "Invalid HttpsPin: %s - sha256/ and the Base64 of a 32-byte digest", RVShowText(&shown, value));
      config->setting_errors++;
    } else if (config->https_pin_count >= kUpdMaxPins) {
      UpdMessage(8, "Too Many HttpsPin - %s ignored", RVShowText(&shown, value));
    } else {
      config->https_pins[config->https_pin_count++] = RVStrDup(value);
    }
  } else if (UpdStmtKeyIs(key, "ScriptSignature")) {
    int32_t code = ScriptSignatureCode(value);
    if (code < 0) {
      UpdMessage(9, "Invalid ScriptSignature: %s - Off, Verify or Require", RVShowText(&shown, value));
      config->setting_errors++;
    } else {
      config->script_signature = code;
    }
  } else if (UpdStmtKeyIs(key, "MaxDownloadSize")) {
    int64_t size = 0;
    if (ParseSize(value, &size) != 0) {
      UpdMessage(9, "Invalid MaxDownloadSize: %s - bytes, 0 to %lld", RVShowText(&shown, value),
                 static_cast<long long>(kUpdMaxDownloadSizeMax));
      config->setting_errors++;
    } else {
      config->max_download_size = size;
    }
  } else {
    return false;
  }
  return true;
}

// Applies one statement to the record.
void Apply(UpdConfig* config, const UpdStmt* stmt) {
  // A later piece of an overlong Password line is no statement of its own.
  if (stmt->count < 2 || stmt->secret == 2) {
    char shown[kUpdStmtShownSize];
    UpdMessage(8, "Invalid Config Option: %s", UpdStmtShown(stmt, shown));
    return;
  }
  const char* key = stmt->tokens[0];
  const char* value = stmt->tokens[1];
  if (UpdStmtKeyIs(key, "Protocol")) {
    config->protocol = ProtocolCode(value);
  } else if (UpdStmtKeyIs(key, "InstallType")) {
    config->install_type = InstallTypeCode(value);
  } else if (UpdStmtKeyIs(key, "Server")) {
    SetText(&config->server, value);
  } else if (UpdStmtKeyIs(key, "Script")) {
    SetText(&config->script, value);
  } else if (UpdStmtKeyIs(key, "User")) {
    SetText(&config->user, value);
  } else if (UpdStmtKeyIs(key, "Password")) {
    SetText(&config->password, value);
  } else if (UpdStmtKeyIs(key, "Package")) {
    if (!*value) {
      // An empty name would match no product and hold a place of the ten.
      char shown[kUpdStmtShownSize];
      UpdMessage(8, "Invalid Config Option: %s", UpdStmtShown(stmt, shown));
    } else if (config->package_count >= kUpdMaxPackages) {
      UpdMessage(8, "Too Many Packages - %s ignored", value);
    } else {
      config->packages[config->package_count++] = RVStrDup(value);
    }
  } else if (UpdStmtKeyIs(key, "Schedule")) {
    UpdParseSchedule(config, value);
  } else if (UpdStmtKeyIs(key, "StartUpWait")) {
    config->startup_wait = ToInt(value);
  } else if (UpdStmtKeyIs(key, "LogLevel")) {
    int32_t level = ToInt(value);
    config->log_level = level < 0 ? 0 : (level > 9 ? 9 : level);
  } else if (UpdStmtKeyIs(key, "OnStartCheck")) {
    if (UpdStmtKeyIs(value, "True")) config->flags |= UPD_CONFIG_ONSTARTCHECK;
  } else if (UpdStmtKeyIs(key, "Env")) {
    if (stmt->count != 3 || !*value) {
      UpdMessage(8, "Invalid Env Stmt: %s", value);
      return;
    }
    RVSetEnv(value, stmt->tokens[2]);
    if (config->env_count < kUpdMaxEnv) {
      config->env_names[config->env_count] = RVStrDup(value);
      config->env_values[config->env_count] = RVStrDup(stmt->tokens[2]);
      config->env_count++;
    }
  } else if (UpdStmtKeyIs(key, "MaxLoopCount")) {
    g_upd_max_loop_count = ToInt(value);
  } else {
    ApplyTransportKey(config, key, value);
  }
}

// Frees a record with its schedules, work list, texts, packages and Env
// entries.
void FreeRecord(UpdConfig* config) {
  if (!config) return;
  UpdFreeSchedules(config);
  UpdFreeWorkList(config->work_list);
  RVFree(config->server);
  RVFree(config->script);
  RVFree(config->user);
  RVFree(config->password);
  RVFree(config->https_ca_file);
  for (char* pin : config->https_pins) RVFree(pin);
  for (char* name : config->packages) RVFree(name);
  for (int i = 0; i < kUpdMaxEnv; ++i) {
    RVFree(config->env_names[i]);
    RVFree(config->env_values[i]);
  }
  RVFree(config);
}

// The reader's checks after the last line: 0, or -1 after the message.
int Check(const UpdConfig* config) {
  uint16_t p = config->protocol;
  if ((p == UPD_PROTO_HTTP || p == UPD_PROTO_TQFS || p == UPD_PROTO_HTTPS) && !config->server) {
    UpdMessage(9, "Server is required for specified protocol");
    return -1;
  }
  if (p == UPD_PROTO_NONE) {
    UpdMessage(9, "No Protocol Specified");
    return -1;
  }
  if (!config->script) {
    UpdMessage(9, "Script has not been specified");
    return -1;
  }
  if (config->user && !config->password) {
    UpdMessage(9, "Password must be specified when username is specified");
    return -1;
  }
  // The transport keys: a refused value was logged where it was read.
  if (config->setting_errors > 0) return -1;
  if (config->https_verify == UPD_HTTPS_VERIFY_FILE) {
    RVShown shown;
    PlatFileInfo info;
    if (!config->https_ca_file) {
      UpdMessage(9, "HttpsCAFile is required for HttpsVerify File");
      return -1;
    }
    if (PlatFileStat(config->https_ca_file, &info) != 0 || !info.is_regular) {
      UpdMessage(9, "HttpsCAFile is not a readable file: %s", RVShowText(&shown, config->https_ca_file));
      return -1;
    }
    if (info.size == 0) {
      UpdMessage(9, "HttpsCAFile is empty: %s", RVShowText(&shown, config->https_ca_file));
      return -1;
    }
  }
  return 0;
}

}  // namespace

const char* UpdConfigPath() {
  thread_local std::string path;
  const char* home = RVGetEnv("RV_HOME");
  path = std::string(home ? home : ".") + "/TQUpdate/Config/tqupd-cnf.txt";
  return path.c_str();
}

int UpdReadConfig() {
  FreeRecord(g_upd_config);
  g_upd_config = nullptr;
  g_upd_max_loop_count = 0;
  // Until this read passes, the fetches have no settings of an earlier one.
  UpdConfigToFetch(nullptr);
  std::string path = UpdConfigPath();
  UpdStmtReader reader;
  if (UpdStmtOpen(&reader, path.c_str(), kConfigTokens) != 0) {
    UpdMessage(9, "Unable to read config file: %s", path.c_str());
    return -1;
  }
  // The password's line never shows in a message, in whole or in part.
  reader.secret_key = "Password";
  UpdConfig* config = RVAllocRecord<UpdConfig>();
  config->log_level = kDefaultLogLevel;
  g_upd_config = config;

  UpdStmt stmt;
  while (UpdStmtNext(&reader, &stmt)) Apply(config, &stmt);
  int read_error = reader.read_error;
  UpdStmtClose(&reader);
  if (read_error) {
    // A file that cannot be read to its end does not pass.
    UpdMessage(9, "Unable to read config file: %s", path.c_str());
    return -1;
  }

  if (!config->schedules) UpdParseSchedule(config, kDefaultSchedule);
  if (Check(config) != 0) return -1;
  if (config->install_type == UPD_INSTALL_NONE) config->install_type = UPD_INSTALL_PROMPT;

  int32_t wait = kLoopWaitMax;
  for (const UpdSchedule* w = config->schedules; w; w = w->next)
    if (w->interval < wait) wait = w->interval;
  config->loop_wait = wait < kLoopWaitMin ? kLoopWaitMin : wait;

  // The configuration is loaded: its LogLevel filters the messages from now on.
  UpdMessageSetLogLevel(config->log_level);

  for (const UpdSchedule* w = config->schedules; w; w = w->next)
    UpdMessage(0, "Sched STime: %d, ETime: %d, Interval: %ld, DoW: %d, DoM: %d, Bits: %x", w->start, w->end,
               static_cast<long>(w->interval), w->day_of_week, w->day_of_month, w->flags);
  UpdConfigToFetch(config);
  return 0;
}

void UpdConfigToFetch(const UpdConfig* config) {
  UpdFetchSettingsClear();
  if (!config) return;
  UpdFetchSettings* f = &g_upd_fetch;
  f->protocol = config->protocol;
  f->server = config->server ? config->server : "";
  f->user = config->user ? config->user : "";
  f->has_password = config->password != nullptr;
  f->password = config->password ? config->password : "";
  f->script = config->script ? config->script : "";
  f->https_verify = config->https_verify;
  f->https_ca_file = config->https_ca_file ? config->https_ca_file : "";
  for (int i = 0; i < config->https_pin_count; ++i) {
    std::array<unsigned char, kUpdPinSize> pin;
    if (config->https_pins[i] && UpdParsePin(config->https_pins[i], &pin) == 0) f->https_pins.push_back(pin);
  }
  f->max_download_size = config->max_download_size;
}

void UpdFreeConfig() {
  UpdConfig* config = g_upd_config;
  if (!config) return;
  g_upd_config = nullptr;
  FreeRecord(config);
  UpdConfigToFetch(nullptr);
  // No configuration is loaded: every level reaches the log again.
  UpdMessageSetLogLevel(-1);
}
