// The configuration tool's form values: the texts its fields show for a
// configuration, the values of a fresh configuration, and the check made
// before every save. The tool binds these to its window; nothing here
// touches a window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct UpdConfig;

constexpr int kUpdFormRows = 5;          // schedule rows of the form
constexpr size_t kUpdFormUserMax = 59;   // characters the user name field holds
constexpr size_t kUpdFormMessageMax = 1024; // bytes of a form or writer message

// The fields of the form, numbered with their user codes in the window.
enum UpdFormField {
  UPD_FIELD_NONE = 0,
  UPD_FIELD_PROTOCOL = 3000,         // DFPROTOCOL
  UPD_FIELD_SERVER = 3001,           // DFSERVER
  UPD_FIELD_USER = 3002,             // DFUSERNAME
  UPD_FIELD_PASSWORD = 3003,         // DFPASSWORD
  UPD_FIELD_CONFIRM_PASSWORD = 3004, // DFCONFIRMPASSWORD
  UPD_FIELD_SCRIPT = 3005,           // DFSCRIPTFILENAME
  UPD_FIELD_START_TIME0 = 3020,      // DFSTARTTIME0 (DFSTARTTIMEn is 3020 + n)
};

// One schedule row of the form; an empty start time leaves the row unused.
struct UpdFormRow {
  std::string start_time;   // DFSTARTTIMEn: "%02d:%02d:%02d" (24-hour) or a typed time of day
  std::string end_time;     // DFENDTIMEn: as start_time, or empty
  std::string interval;     // DFINTERVALn: "15 Min", "30 Min", "1 Hour" ... "24 Hour", or empty
  std::string day_of_week;  // DFDAYOFWEEKn: "Tuesday" ... "Monday", "None", or empty
  std::string day_of_month; // DFDAYOFMONTHn: "01" ... "31", "None", or empty
};

// The values of the form's configuration fields, as texts of their choice
// lists. Passwords are plain text here.
struct UpdFormValues {
  std::string protocol;         // DFPROTOCOL: "http", "tqfs", "LocalShare", "https", or empty
  std::string server;           // DFSERVER
  std::string user;             // DFUSERNAME (the field holds at most 59 characters)
  std::string password;         // DFPASSWORD, plain
  std::string confirm_password; // DFCONFIRMPASSWORD, plain
  std::string script;           // DFSCRIPTFILENAME
  std::string install_type;     // DFINSTALLTYPE: "Prompt", "Automatic", "OnRequest"
  std::string startup_wait;     // DFSTARTUPWAIT: "None", "30 Sec", "1 Min", "2 Min", "5 Min",
                                // "15 Min", "30 Min", "1 Hour", "2 Hour"
  std::string log_level;        // DFLOGLEVEL: "0 Very Low" ... "9 VeryVerbose"
  std::string on_start_check;   // DFCHECKONSTART: "True" or "False"
  UpdFormRow rows[kUpdFormRows]; // DFSTARTTIMEn ... DFDAYOFMONTHn, n = 0-4
  // The transport settings, kept as read (empty: not in the file).
  std::string https_verify;            // HttpsVerify: "None", "System", "File"
  std::string https_ca_file;           // HttpsCAFile
  std::vector<std::string> https_pins; // HttpsPin values, "sha256/BASE64"
  std::string max_download_size;       // MaxDownloadSize in bytes
  std::string script_signature;        // ScriptSignature: "Verify", "Require" ("Off" is not in the file)
};

// The choice texts of ScriptSignature, by UPD_SCRIPT_SIGNATURE_* code.
extern const char* const kUpdScriptSignatureTexts[3];

// The outcome of a failed form check.
struct UpdFormFailure {
  UpdFormField field;               // the field that shows the message and takes the focus
  char message[kUpdFormMessageMax]; // the message text
};

// Fills `form` with the texts that show `config`: choice texts by the
// display rules, the password unscrambled into both password fields, one
// schedule row per window (one for both halves of a window split at
// midnight), windows beyond the fifth row left out.
void UpdFormFill(const UpdConfig* config, UpdFormValues* form);

// Fills `form` with a fresh configuration: OnStartCheck on, log level 3,
// start-up wait 120 seconds ("2 Min"), install type "Automatic", and one
// schedule row starting "12:00am" every "1 Hour" with no end time.
void UpdFormFresh(UpdFormValues* form);

// Reads the configuration file and fills `form` from it; when the read fails
// the form gets the fresh values instead. The record read is released either
// way. 0 when the file was read, -1 when the fresh values were used.
int UpdFormLoad(UpdFormValues* form);

// Checks the form before a save, first failure winning: protocol, server,
// script, then (with a user name) the name's first character, the password
// and its confirmation (a mismatch is shown at the confirmation), then at
// least one schedule start time (shown at the first). 0, or -1 with the
// failure in `failure`.
int UpdFormCheck(const UpdFormValues* form, UpdFormFailure* failure);
