// The service database on disk, shared by the manager's side
// (service_manager.cpp) and the service process's side
// (service_dispatcher.cpp). Internal to platform/posix.
//
// TQ_SYSTEM_ROOT/services/
//   .lock              flock: creating and removing service directories
//   <key>/config       the configuration (platform/service_record.h)
//   <key>/status       the status record
//   <key>/lock         flock: start, control, delete and configuration changes
//   <key>/status.lock  flock: every read-modify-write of the status record
// <key> is the service name folded to lower case. A service appears by the
// rename of a complete directory and disappears by a rename out of the way,
// so a reader never sees half a service. Lock order: <key>/lock, then .lock;
// status.lock is innermost: nothing else is locked while it is held.
//
// The control channel of a started service is an abstract Unix stream socket
// named after the start's token; one request (control code) and one answer
// (the handler's result) per connection.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/service_record.h"

constexpr int64_t kScStartTimeoutMs = 30000;    // a started program must connect within this
constexpr int64_t kScControlTimeoutMs = 30000;  // a handler must answer within this
constexpr int64_t kScLockTimeoutMs = 35000;     // longest wait for a database lock
constexpr uint32_t kScFrameSize = 12;           // bytes of a control request and of an answer

// A held flock; released when destroyed.
class ScLock {
 public:
  ScLock() = default;
  ~ScLock();
  ScLock(const ScLock&) = delete;
  ScLock& operator=(const ScLock&) = delete;
  // Releases the lock now.
  void Release();
  int fd = -1;  // the locked file, -1 when none is held
};

// The services directory.
std::string ScServicesDir();

// The directory of the service with `key`.
std::string ScServiceDir(const std::string& key);

// Creates TQ_SYSTEM_ROOT and its services directory when missing.
int ScEnsureDatabase();

// True when the service with `key` exists.
bool ScServiceExists(const std::string& key);

// Takes the database lock (creating and removing services).
int ScLockDatabase(ScLock* lock);

// Takes the service's operation lock; -1 with 1060 when the service does not
// exist (or went away while waiting), 1055 when the wait timed out.
int ScLockService(const std::string& key, ScLock* lock);

// Reads the configuration; -1 with 1060 when the service does not exist, 13
// when the file is not a whole record.
int ScReadConfig(const std::string& key, PlatServiceConfig* config);

// Replaces the configuration atomically (the caller holds the service lock).
int ScWriteConfig(const std::string& key, const PlatServiceConfig& config);

// Writes the configuration file into `dir` (a new service's directory).
int ScWriteConfigFile(const std::string& dir, const PlatServiceConfig& config);

// Reads the status record; a missing or unreadable record reads as a
// stopped one (exit code 0). -1 with 1060 only when the service is gone.
int ScReadState(const std::string& key, PlatServiceState* state);

// Changes the status record under its lock: `change` edits the current record
// (unreadable ones start from a stopped record) and returns false to leave it
// unwritten. -1 with 1060 when the service is gone, or the last error left by
// `change` (when it returned false and set one), or the write's error.
int ScUpdateState(const std::string& key, const std::function<bool(PlatServiceState*)>& change);

// Writes a record at once, without the lock (a new service's directory).
int ScWriteStateFile(const std::string& dir, const PlatServiceState& state);

// Start time of process `pid` (clock ticks since boot), 0 when it is gone.
uint64_t ScProcessStartTime(uint32_t pid);

// True when `pid` runs and (when pid_start is not 0) is the process that
// started at pid_start; a zombie counts as gone.
bool ScProcessAlive(uint32_t pid, uint64_t pid_start);

// The status as a query shows it: a record whose process is gone while not
// stopped reads as stopped with exit code 1067 (unless it reported one); once
// stopped the process id is 0. Returns true when the service is stopped.
bool ScEffectiveState(const PlatServiceState& state, SERVICE_STATUS_PROCESS* out);

// Removes the service when it is marked for delete and stopped; 0 when it was
// removed or is gone, 1 when it stays, -1 on failure.
int ScRemoveIfDeleted(const std::string& key);

// A new random token (32 hex digits).
std::string ScNewToken();

// Fills a Unix socket address for the control channel of `token`; returns
// the address length.
uint32_t ScChannelAddress(const std::string& token, void* sockaddr_un_out);

// Big-endian frame of a request or answer: "TQSC" or "TQSA", then two values.
void ScFramePut(unsigned char* frame, const char magic[4], uint32_t a, uint32_t b);

// Reads a frame with the given magic; false when it is not one.
bool ScFrameGet(const unsigned char* frame, const char magic[4], uint32_t* a, uint32_t* b);

// Starts the program argv[0] (a full path) with `argv` and the environment
// `env` ("NAME=value" entries) as a detached process: its own session,
// working directory "/", standard streams on /dev/null, no other inherited
// descriptors, default signal handling. It is started by an intermediate
// process that ends at once, so it never becomes a zombie of the caller.
// -1 with the last error (2 program missing, 5 not executable, ...).
int ScSpawnDetached(const std::vector<std::string>& argv, const std::vector<std::string>& env, uint32_t* pid);

// As ScSpawnDetached, with `cwd` as the program's working directory.
int ScSpawnDetachedIn(const std::vector<std::string>& argv, const std::vector<std::string>& env, const char* cwd,
                      uint32_t* pid);
