// The service-management commands: install, remove, start, stop.
#include "service/service_commands.h"

#include <cstdio>
#include <string>
#include <strings.h>

#include "platform/error.h"
#include "platform/security.h"
#include "platform/service_manager.h"
#include "runtime/command_path.h"
#include "service/identity.h"

namespace {

int LastError() { return static_cast<int>(PlatGetLastError()); }

// Opens the manager and the service with full access; prints the failure.
SC_HANDLE OpenForCommand(SC_HANDLE* manager, int verbosity) {
  *manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE service = OpenServiceA(*manager, kUpdServiceName, SERVICE_ALL_ACCESS);
  if (!service) {
    if (verbosity >= 1) std::fprintf(stderr, "OpenService() failed: %d\n", LastError());
    if (*manager) CloseServiceHandle(*manager);
    *manager = nullptr;
  }
  return service;
}

void Delete(SC_HANDLE service, int verbosity) {
  if (DeleteService(service)) {
    if (verbosity > 0) std::fprintf(stderr, "Service %s Removed OK\n", kUpdServiceName);
  } else if (verbosity > 0) {
    std::fprintf(stderr, "RemoveService() failed: %d\n", LastError());
  }
}

void Install(int argc, char** argv, const char* program_path, int verbosity) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  uint32_t start_type = SERVICE_DEMAND_START;
  bool start = false;
  for (int i = 2; i < argc && argv[i]; ++i) {
    if (strcasecmp(argv[i], "auto") == 0) start_type = SERVICE_AUTO_START;
    else if (strcasecmp(argv[i], "start") == 0) start = true;
  }
  // The users' group decides who may hold the service's named objects;
  // without it only the administrator may (the service works either way).
  if (PlatEnsureUsersGroup() != 0 && verbosity > 0)
    std::fprintf(stderr, "Cannot create the group %s: %d\n", kPlatUsersGroup, LastError());
  // The binary path is a command line: a path with a blank is quoted.
  std::string binary_path = RVCommandProgram(program_path);
  SC_HANDLE service = CreateServiceA(manager, kUpdServiceName, kUpdServiceName, SERVICE_ALL_ACCESS,
                                     SERVICE_WIN32_OWN_PROCESS, start_type, SERVICE_ERROR_NORMAL,
                                     binary_path.c_str(), nullptr, nullptr, kUpdServiceDependencies, nullptr, nullptr);
  if (!service) {
    if (verbosity > 0) std::fprintf(stderr, "CreateService() failed: %d\n", LastError());
    if (manager) CloseServiceHandle(manager);
    return;
  }
  const char* description = kUpdServiceDescription;
  ChangeServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, &description);
  bool start_failed = false;
  if (start) {
    if (!StartServiceA(service, 0, nullptr)) {
      start_failed = true;
      if (verbosity > 0) std::fprintf(stderr, "StartService() failed: %d\n", LastError());
    }
  }
  if (verbosity > 0 && !start_failed) std::fprintf(stderr, "Service %s Installed OK\n", kUpdServiceName);
  CloseServiceHandle(service);
  if (manager) CloseServiceHandle(manager);
}

void Remove(int verbosity) {
  SC_HANDLE manager = nullptr;
  SC_HANDLE service = OpenForCommand(&manager, verbosity);
  if (!service) return;
  SERVICE_STATUS status;
  ControlService(service, SERVICE_CONTROL_STOP, &status);
  Delete(service, verbosity);
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
}

void Start(int verbosity) {
  SC_HANDLE manager = nullptr;
  SC_HANDLE service = OpenForCommand(&manager, verbosity);
  if (!service) return;
  if (StartServiceA(service, 0, nullptr)) {
    if (verbosity > 0) std::fprintf(stderr, "Service %s Started OK\n", kUpdServiceName);
  } else if (verbosity > 0) {
    std::fprintf(stderr, "StartService() failed: %d\n", LastError());
  }
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
}

void Stop(int argc, char** argv, int verbosity) {
  SC_HANDLE manager = nullptr;
  SC_HANDLE service = OpenForCommand(&manager, verbosity);
  if (!service) return;
  SERVICE_STATUS status;
  if (ControlService(service, SERVICE_CONTROL_STOP, &status)) {
    if (verbosity > 0) std::fprintf(stderr, "Service %s Stopped OK\n", kUpdServiceName);
  } else if (verbosity > 0) {
    std::fprintf(stderr, "StopService() failed: %d\n", LastError());
  }
  if (argc > 2 && argv[2] && strcasecmp(argv[2], "remove") == 0) Delete(service, verbosity);
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
}

}  // namespace

int UpdServiceCommand(int argc, char** argv, const char* program_path, int verbosity) {
  if (argc < 2 || !argv[1]) return 0;
  const char* command = argv[1];
  if (strcasecmp(command, "install") == 0) Install(argc, argv, program_path, verbosity);
  else if (strcasecmp(command, "remove") == 0) Remove(verbosity);
  else if (strcasecmp(command, "start") == 0) Start(verbosity);
  else if (strcasecmp(command, "stop") == 0) Stop(argc, argv, verbosity);
  else return 0;
  std::fflush(stderr);
  return 1;
}
