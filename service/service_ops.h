// The configuration tool's service operations: each returns the one text
// the tool shows in its message field.
#pragma once

#include <string>

// Starts the service: "%s Service - Started" or the failure text.
std::string UpdSvcStart();

// Stops the service: "%s Service - Stopped" or the failure text.
std::string UpdSvcStop();

// Installs the service with the program "<RV_HOME>/TQUpdate/etc/tqupdd";
// `auto_start` "True" (without regard to case) gives automatic start.
std::string UpdSvcInstall(const char* auto_start);

// Removes the service: "%s Service - Removed" or the failure text.
std::string UpdSvcRemove();

// Changes the start type to the one `auto_start` asks for, only when it
// differs: "%s Service - Options Updated" or the failure text.
std::string UpdSvcChangeStartType(const char* auto_start);

// What the status query found.
struct UpdSvcStatus {
  int installed;           // 1 installed, 0 not installed, -1 unknown
  int running;             // 1 running (the service, or a worker holding the work mutex)
  std::string auto_start;  // "True" or "False"; "True" offered when not installed; "" unknown
  std::string install_text; // "%s - Installed", "%s - Not Installed", "tqupdd = Install Status Unknown"
  std::string run_text;     // "%s - Running" or "%s - Not Running"
  std::string error_text;   // "QueryServiceStatusEx() Error: %d" when the state query failed, else ""
};

// Queries whether the service is installed and running; when the service
// cannot be opened, a worker holding the work mutex counts as running.
UpdSvcStatus UpdSvcQueryStatus();

// The binary path the tool installs: "<RV_HOME>/TQUpdate/etc/tqupdd".
std::string UpdSvcBinaryPath();

