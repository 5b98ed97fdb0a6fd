// The records of the service database and the pure operations on them:
// service names, the text form of the configuration and status files, the
// splitting of a binary path into a program and its arguments, and the
// packing of a configuration into the caller's buffer of QueryServiceConfigA.
//
// Portable: nothing here talks to the operating system.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/service_manager.h"

// Longest service or display name, as on Windows.
constexpr size_t kPlatServiceNameMax = 256;

// A service's configuration, as kept in services/<key>/config.
struct PlatServiceConfig {
  std::string name;                      // the name as created (display case)
  std::string display_name;              // display name
  std::string description;               // description, "" when none
  std::string binary_path;               // command line of the service's program
  std::vector<std::string> dependencies; // names of the services it depends on
  std::string account;                   // "LocalSystem"
  std::string id;                        // identity of this incarnation (a new one per create)
  uint32_t service_type;                 // SERVICE_WIN32_OWN_PROCESS
  uint32_t start_type;                   // SERVICE_AUTO_START, SERVICE_DEMAND_START, SERVICE_DISABLED
  uint32_t error_control;                // SERVICE_ERROR_*
};

// A service's status, as kept in services/<key>/status.
struct PlatServiceState {
  SERVICE_STATUS status;          // as last reported (or set by the manager)
  uint32_t pid;                   // process behind the status, 0 when none
  uint64_t pid_start;             // that process's start time (clock ticks since boot), 0 when unknown
  std::string token;              // token of the current start, "" before the first
  int connected;                  // 1 once the dispatcher of the current start has connected
  int delete_pending;             // 1 when marked for delete
  std::vector<std::string> args;  // arguments of the current start, for the service main
};

// The key of a service name: the directory name under services/, the name
// folded to lower case. Fails (-1, last error 123) for an empty or too long
// name, a name with "/", "\", a control character, or a leading ".".
int PlatServiceKey(const char* name, std::string* key);

// The text form of a configuration.
std::string PlatServiceConfigText(const PlatServiceConfig& config);

// Reads the text form of a configuration; -1 (last error 13) when it is not
// one whole record.
int PlatServiceConfigParse(const std::string& text, PlatServiceConfig* config);

// The text form of a status record.
std::string PlatServiceStateText(const PlatServiceState& state);

// Reads the text form of a status record; -1 (last error 13) when it is not
// one whole record.
int PlatServiceStateParse(const std::string& text, PlatServiceState* state);

// A fresh status record: stopped, never started (exit code 1077).
PlatServiceState PlatServiceStateInitial();

// Splits a binary path into its program and arguments with the command-line
// rules of the system the service manager stands in for: blanks separate,
// double quotes group, 2n backslashes before a quote give n backslashes and
// a quoting quote, 2n+1 give n and a literal quote, other backslashes are
// plain. In the program (the first word) every "\" then becomes "/". -1
// (last error 87) when there is no program.
int PlatServiceSplitCommand(const std::string& command, std::vector<std::string>* argv);

// Bytes QueryServiceConfigA needs for `config`: the record and its strings.
uint32_t PlatServiceConfigSize(const PlatServiceConfig& config);

// Fills `out` (at least PlatServiceConfigSize bytes) with the record followed
// by its strings, the record's pointers pointing at them.
void PlatServiceConfigPack(const PlatServiceConfig& config, QUERY_SERVICE_CONFIGA* out);
