// The service control manager: a file-backed service database under
// TQ_SYSTEM_ROOT/services/, the start of a service as a detached process,
// controls delivered to the service's handler, and the status it reports.
//
// Functions that return a handle give null on failure, functions that return
// int give 1 on success and 0 on failure, in both cases with the Windows
// error code in the thread's last error (1060 no such service, 1073 exists,
// 1056 already running, 1062 not active, 1063 not started by the service
// manager, 1072 marked for delete, 5 access denied, ...), as on Windows.
#pragma once

#include <cstdint>

struct PlatScHandle;
typedef PlatScHandle* SC_HANDLE;

// Service types, start types, error control.
enum : uint32_t {
  SERVICE_WIN32_OWN_PROCESS = 0x10,
  SERVICE_AUTO_START = 2,
  SERVICE_DEMAND_START = 3,
  SERVICE_DISABLED = 4,
  SERVICE_ERROR_IGNORE = 0,
  SERVICE_ERROR_NORMAL = 1,
  SERVICE_NO_CHANGE = 0xFFFFFFFFu,
};

// Current states.
enum : uint32_t {
  SERVICE_STOPPED = 1,
  SERVICE_START_PENDING = 2,
  SERVICE_STOP_PENDING = 3,
  SERVICE_RUNNING = 4,
  SERVICE_CONTINUE_PENDING = 5,
  SERVICE_PAUSE_PENDING = 6,
  SERVICE_PAUSED = 7,
};

// Controls and the controls a service accepts.
enum : uint32_t {
  SERVICE_CONTROL_STOP = 1,
  SERVICE_CONTROL_PAUSE = 2,
  SERVICE_CONTROL_CONTINUE = 3,
  SERVICE_CONTROL_INTERROGATE = 4,
  SERVICE_ACCEPT_STOP = 1,
  SERVICE_ACCEPT_PAUSE_CONTINUE = 2,
};

// Access rights of the manager and of a service.
enum : uint32_t {
  SC_MANAGER_CONNECT = 0x0001,
  SC_MANAGER_CREATE_SERVICE = 0x0002,
  SC_MANAGER_ENUMERATE_SERVICE = 0x0004,
  SC_MANAGER_ALL_ACCESS = 0xF003F,
  SERVICE_QUERY_CONFIG = 0x0001,
  SERVICE_CHANGE_CONFIG = 0x0002,
  SERVICE_QUERY_STATUS = 0x0004,
  SERVICE_START = 0x0010,
  SERVICE_STOP = 0x0020,
  SERVICE_PAUSE_CONTINUE = 0x0040,
  SERVICE_INTERROGATE = 0x0080,
  SERVICE_ALL_ACCESS = 0xF01FF,
  SC_DELETE = 0x00010000,
  SC_GENERIC_READ = 0x80000000u,
};

// Result of a handler that does not implement a control.
enum : uint32_t { ERROR_CALL_NOT_IMPLEMENTED = 120 };

// The status a service reports and a query returns.
struct SERVICE_STATUS {
  uint32_t dwServiceType;             // SERVICE_WIN32_OWN_PROCESS
  uint32_t dwCurrentState;            // SERVICE_STOPPED ... SERVICE_PAUSED
  uint32_t dwControlsAccepted;        // SERVICE_ACCEPT_* bits
  uint32_t dwWin32ExitCode;           // exit code once stopped
  uint32_t dwServiceSpecificExitCode; // service-specific exit code
  uint32_t dwCheckPoint;              // progress of a pending state
  uint32_t dwWaitHint;                // milliseconds until the next report
};

// The status with the process behind it.
struct SERVICE_STATUS_PROCESS {
  uint32_t dwServiceType;             // as in SERVICE_STATUS
  uint32_t dwCurrentState;            // as in SERVICE_STATUS
  uint32_t dwControlsAccepted;        // as in SERVICE_STATUS
  uint32_t dwWin32ExitCode;           // as in SERVICE_STATUS
  uint32_t dwServiceSpecificExitCode; // as in SERVICE_STATUS
  uint32_t dwCheckPoint;              // as in SERVICE_STATUS
  uint32_t dwWaitHint;                // as in SERVICE_STATUS
  uint32_t dwProcessId;               // process id while not stopped, else 0
  uint32_t dwServiceFlags;            // 0
};

// A service's configuration. The texts point into the caller's buffer that
// follows the record, as with QueryServiceConfigA.
struct QUERY_SERVICE_CONFIGA {
  uint32_t dwServiceType;   // SERVICE_WIN32_OWN_PROCESS
  uint32_t dwStartType;     // SERVICE_AUTO_START, SERVICE_DEMAND_START, SERVICE_DISABLED
  uint32_t dwErrorControl;  // SERVICE_ERROR_*
  char* lpBinaryPathName;   // the command line of the service's program
  char* lpLoadOrderGroup;   // "" (unused)
  uint32_t dwTagId;         // 0
  char* lpDependencies;     // names, each ended by "\0", the list by another "\0"
  char* lpServiceStartName; // account ("LocalSystem")
  char* lpDisplayName;      // display name
};

enum : uint32_t { SC_STATUS_PROCESS_INFO = 0, SERVICE_CONFIG_DESCRIPTION = 1 };

// Opens the manager with `access`; machine and database must be null.
SC_HANDLE OpenSCManagerA(const char* machine, const char* database, uint32_t access);

// Creates a service and returns a handle with `access`. `dependencies` is a
// double-"\0"-ended list or null; account and password must be null.
SC_HANDLE CreateServiceA(SC_HANDLE manager, const char* name, const char* display_name, uint32_t access,
                         uint32_t service_type, uint32_t start_type, uint32_t error_control, const char* binary_path,
                         const char* load_order_group, uint32_t* tag_id, const char* dependencies,
                         const char* account, const char* password);

// Opens an existing service (name compared without case) with `access`.
SC_HANDLE OpenServiceA(SC_HANDLE manager, const char* name, uint32_t access);

// Closes a manager or service handle.
int CloseServiceHandle(SC_HANDLE handle);

// Starts the service's program as a detached process and returns once its
// dispatcher has connected (or fails: 1056 running, 1053 no connection in
// time, 1067 the program ended before connecting, 2 program missing, ...).
// Arguments are passed to the service main.
int StartServiceA(SC_HANDLE service, uint32_t argc, const char** argv);

// Sends a control to the service's handler; `status` receives the status
// afterwards. 1062 when the service is not running; a handler's error result
// becomes the failure code.
int ControlService(SC_HANDLE service, uint32_t control, SERVICE_STATUS* status);

// Marks the service for deletion: it disappears at once when stopped, else
// when it stops. 1072 when marked already.
int DeleteService(SC_HANDLE service);

// Copies the configuration into `config` (a buffer of `size` bytes); 122
// with *needed set when it does not fit.
int QueryServiceConfigA(SC_HANDLE service, QUERY_SERVICE_CONFIGA* config, uint32_t size, uint32_t* needed);

// Changes the configuration; SERVICE_NO_CHANGE and null keep a field.
int ChangeServiceConfigA(SC_HANDLE service, uint32_t service_type, uint32_t start_type, uint32_t error_control,
                         const char* binary_path, const char* load_order_group, uint32_t* tag_id,
                         const char* dependencies, const char* account, const char* password,
                         const char* display_name);

// Sets optional configuration; SERVICE_CONFIG_DESCRIPTION takes a pointer to
// a `const char*` description.
int ChangeServiceConfig2A(SC_HANDLE service, uint32_t level, void* info);

// The service's description, or "" (for the administrator command).
int QueryServiceDescriptionA(SC_HANDLE service, char* out, uint32_t size);

// Queries the status with process id (level SC_STATUS_PROCESS_INFO). A
// service whose process has died reads as stopped.
int QueryServiceStatusEx(SC_HANDLE service, uint32_t level, void* buffer, uint32_t size, uint32_t* needed);

// Names of every service in the database, one after another, each ended by
// "\0", the list by another "\0"; 122 with *needed set when too small.
int EnumServiceNamesA(SC_HANDLE manager, char* out, uint32_t size, uint32_t* needed);

// --- The service process's side -------------------------------------------

typedef void (*LPSERVICE_MAIN_FUNCTIONA)(uint32_t argc, char** argv);
typedef uint32_t (*LPHANDLER_FUNCTION_EX)(uint32_t control, uint32_t event_type, void* event_data, void* context);

struct SERVICE_TABLE_ENTRYA {
  const char* lpServiceName;               // the service's name
  LPSERVICE_MAIN_FUNCTIONA lpServiceProc;  // its service main function
};

typedef struct PlatServiceStatusHandle* SERVICE_STATUS_HANDLE;

// Connects a process started by the manager to it, runs the service main on
// its own thread, and delivers controls to the handler on the calling
// thread until the service reports stopped. Fails with 1063 in a process
// that the manager did not start.
int StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA* table);

// Registers the handler of the named service; null on failure.
SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerExA(const char* name, LPHANDLER_FUNCTION_EX handler, void* context);

// Records the service's status in the database.
int SetServiceStatus(SERVICE_STATUS_HANDLE handle, const SERVICE_STATUS* status);

// --- The event log ---------------------------------------------------------

typedef struct PlatEventSource* HANDLE_EVENT_SOURCE;

enum : uint16_t { EVENTLOG_ERROR_TYPE = 1, EVENTLOG_WARNING_TYPE = 2, EVENTLOG_INFORMATION_TYPE = 4 };

// Opens an event source (machine must be null); the event log is syslog.
HANDLE_EVENT_SOURCE RegisterEventSourceA(const char* machine, const char* source);

// Writes one event made of its strings; 1 on success.
int ReportEventA(HANDLE_EVENT_SOURCE source, uint16_t type, uint16_t category, uint32_t event_id, const void* user_sid,
                 uint16_t num_strings, uint32_t data_size, const char** strings, const void* data);

// Closes an event source.
int DeregisterEventSource(HANDLE_EVENT_SOURCE source);
