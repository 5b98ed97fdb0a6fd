// The update configuration: the record read from tqupd-cnf.txt.
#pragma once

#include <cstdint>

#include "fetch/fetch_settings.h"

struct UpdSchedule;
struct UpdEntry;

// Transport codes: UPD_PROTO_* of fetch/fetch_settings.h.

// Install types.
enum : uint16_t { UPD_INSTALL_NONE = 0, UPD_INSTALL_PROMPT = 1, UPD_INSTALL_AUTOMATIC = 2, UPD_INSTALL_ONREQUEST = 3 };

enum : uint32_t { UPD_CONFIG_ONSTARTCHECK = 0x1 };  // flags bit: OnStartCheck is on

// How the update check treats the signed script metadata (ScriptSignature).
enum UpdScriptSignature : int32_t {
  UPD_SCRIPT_SIGNATURE_OFF = 0,     // not fetched, not checked
  UPD_SCRIPT_SIGNATURE_VERIFY = 1,  // checked when the source has it; without it the check goes on with a warning
  UPD_SCRIPT_SIGNATURE_REQUIRE = 2, // a check without valid metadata is refused
};

// Most Package names and Env statements kept.
constexpr int kUpdMaxPackages = 10;
constexpr int kUpdMaxEnv = 10;

// The update configuration record, one per program.
struct UpdConfig {
  uint32_t flags;                  // UPD_CONFIG_ONSTARTCHECK
  uint16_t protocol;               // UPD_PROTO_*
  uint16_t install_type;           // UPD_INSTALL_*; 0 becomes Prompt after a successful read
  uint16_t package_count;          // Package names stored, 0-10
  char* server;                    // Server, or null
  char* script;                    // Script: the update script's path on the server, or null
  char* user;                      // User, or null
  char* password;                  // Password in its stored (scrambled) form, or null
  char* packages[kUpdMaxPackages]; // Package names in file order
  UpdSchedule* schedules;          // schedule windows in file order
  UpdEntry* work_list;             // the current work list (not part of the file)
  int64_t last_check;              // time the last check fetched the script (not part of the file)
  int32_t loop_wait;               // the worker's wake-up period in seconds, 600-3,600
  int32_t log_level;               // LogLevel, 0-9
  int32_t startup_wait;            // StartUpWait in seconds; 0 or less = no wait
  int32_t env_count;               // Env statements stored, 0-10
  char* env_names[kUpdMaxEnv];     // Env variable names
  char* env_values[kUpdMaxEnv];    // Env values as written
  int32_t https_verify;            // HttpsVerify: UPD_HTTPS_VERIFY_*; default None
  char* https_ca_file;             // HttpsCAFile, or null
  int32_t https_pin_count;         // HttpsPin values stored, 0-10
  char* https_pins[kUpdMaxPins];   // HttpsPin values as written ("sha256/BASE64")
  int64_t max_download_size;       // MaxDownloadSize in bytes; 0 = no cap beyond the disk
  int32_t script_signature;        // ScriptSignature: UPD_SCRIPT_SIGNATURE_*; default Off
  int32_t setting_errors;          // HttpsVerify, HttpsCAFile, HttpsPin, MaxDownloadSize or ScriptSignature values refused
};

// The program's configuration record, or null before a read.
extern UpdConfig* g_upd_config;

// MaxLoopCount: passes of the worker loop; 0 or less = no limit.
extern int32_t g_upd_max_loop_count;

// The configuration file's path: "<RV_HOME>/TQUpdate/Config/tqupd-cnf.txt".
const char* UpdConfigPath();

// Reads and checks the configuration file into a new g_upd_config (freeing
// an old one), logging its messages. 0, or -1 (the record stays in place
// when the file could be opened).
int UpdReadConfig();

// Largest MaxDownloadSize accepted: 1 TiB.
constexpr int64_t kUpdMaxDownloadSizeMax = int64_t{1} << 40;

// Fills the fetch layer's settings (g_upd_fetch) from `config` (null: empty
// settings); the stop hook stays as it is.
void UpdConfigToFetch(const UpdConfig* config);

// Frees g_upd_config with its schedules, texts, packages and Env entries.
void UpdFreeConfig();
