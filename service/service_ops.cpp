// The configuration tool's service operations and status query.
#include "service/service_ops.h"

#include <cstdio>
#include <cstring>
#include <strings.h>
#include <vector>

#include "engine/work_file.h"
#include "platform/error.h"
#include "platform/named_mutex.h"
#include "platform/service_manager.h"
#include "runtime/command_path.h"
#include "runtime/env.h"
#include "service/identity.h"

namespace {

// Buffer size of the configuration query.
constexpr uint32_t kConfigBuffer = 1024;

std::string Format(const char* format, int code) {
  char text[256];
  std::snprintf(text, sizeof text, format, code);
  return text;
}

std::string Named(const char* format) {
  char text[256];
  std::snprintf(text, sizeof text, format, kUpdServiceName);
  return text;
}

int LastError() { return static_cast<int>(PlatGetLastError()); }

uint32_t WantedStartType(const char* auto_start) {
  return auto_start && strcasecmp(auto_start, "True") == 0 ? SERVICE_AUTO_START : SERVICE_DEMAND_START;
}

// Opens the manager and the service; on failure sets `text` and returns null.
SC_HANDLE Open(uint32_t manager_access, uint32_t service_access, SC_HANDLE* manager, std::string* text) {
  *manager = OpenSCManagerA(nullptr, nullptr, manager_access);
  if (!*manager) {
    *text = Format("OpenSCManager() Error: %d", LastError());
    return nullptr;
  }
  SC_HANDLE service = OpenServiceA(*manager, kUpdServiceName, service_access);
  if (!service) {
    *text = Format("OpenService() - Error: %d", LastError());
    CloseServiceHandle(*manager);
    *manager = nullptr;
  }
  return service;
}

void Close(SC_HANDLE service, SC_HANDLE manager) {
  if (service) CloseServiceHandle(service);
  if (manager) CloseServiceHandle(manager);
}

}  // namespace

std::string UpdSvcBinaryPath() {
  const char* home = RVGetEnv("RV_HOME");
  return std::string(home ? home : ".") + "/TQUpdate/etc/tqupdd";
}

std::string UpdSvcStart() {
  SC_HANDLE manager = nullptr;
  std::string text;
  SC_HANDLE service = Open(SC_GENERIC_READ, SERVICE_START, &manager, &text);
  if (!service) return text;
  text = StartServiceA(service, 0, nullptr) ? Named("%s Service - Started")
                                            : Format("StartService() - Error: %d", LastError());
  Close(service, manager);
  return text;
}

std::string UpdSvcStop() {
  SC_HANDLE manager = nullptr;
  std::string text;
  SC_HANDLE service = Open(SC_GENERIC_READ, SERVICE_STOP, &manager, &text);
  if (!service) return text;
  SERVICE_STATUS status;
  text = ControlService(service, SERVICE_CONTROL_STOP, &status) ? Named("%s Service - Stopped")
                                                                 : Format("ControlService(stop) - Error: %d", LastError());
  Close(service, manager);
  return text;
}

std::string UpdSvcInstall(const char* auto_start) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!manager) return Format("OpenSCManager() Error: %d", LastError());
  // The binary path is a command line: a path with a blank is quoted.
  std::string path = RVCommandProgram(UpdSvcBinaryPath().c_str());
  SC_HANDLE service = CreateServiceA(manager, kUpdServiceName, kUpdServiceName, SERVICE_ALL_ACCESS,
                                     SERVICE_WIN32_OWN_PROCESS, WantedStartType(auto_start), SERVICE_ERROR_NORMAL,
                                     path.c_str(), nullptr, nullptr, kUpdServiceDependencies, nullptr, nullptr);
  if (!service) {
    std::string text = Format("CreateService() failed: %d", LastError());
    Close(nullptr, manager);
    return text;
  }
  const char* description = kUpdServiceDescription;
  ChangeServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, &description);
  Close(service, manager);
  return Named("%s Service - Installed");
}

std::string UpdSvcRemove() {
  SC_HANDLE manager = nullptr;
  std::string text;
  SC_HANDLE service = Open(SC_GENERIC_READ, SC_DELETE, &manager, &text);
  if (!service) return text;
  text = DeleteService(service) ? Named("%s Service - Removed") : Format("DeleteService() - Error: %d", LastError());
  Close(service, manager);
  return text;
}

std::string UpdSvcChangeStartType(const char* auto_start) {
  SC_HANDLE manager = nullptr;
  std::string text;
  SC_HANDLE service = Open(SC_GENERIC_READ, SERVICE_QUERY_CONFIG | SERVICE_CHANGE_CONFIG, &manager, &text);
  if (!service) return text;
  std::vector<unsigned char> buffer(kConfigBuffer);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
  uint32_t needed = 0;
  uint32_t wanted = WantedStartType(auto_start);
  if (!QueryServiceConfigA(service, config, kConfigBuffer, &needed)) {
    text = Format("QueryServiceConfig() - Error: %d", LastError());
  } else if (config->dwStartType != wanted &&
             !ChangeServiceConfigA(service, SERVICE_NO_CHANGE, wanted, SERVICE_NO_CHANGE, nullptr, nullptr, nullptr,
                                   nullptr, nullptr, nullptr, nullptr)) {
    text = Format("ChangeServiceConfig() - Error: %d", LastError());
  } else {
    text = Named("%s Service - Options Updated");
  }
  Close(service, manager);
  return text;
}

UpdSvcStatus UpdSvcQueryStatus() {
  UpdSvcStatus st{-1, 0, "", "tqupdd = Install Status Unknown", Named("%s - Not Running"), ""};
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_GENERIC_READ);
  SC_HANDLE service =
      manager ? OpenServiceA(manager, kUpdServiceName, SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS) : nullptr;
  if (service) {
    st.installed = 1;
    st.install_text = Named("%s - Installed");
    std::vector<unsigned char> buffer(kConfigBuffer);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
    uint32_t needed = 0;
    if (QueryServiceConfigA(service, config, kConfigBuffer, &needed))
      st.auto_start = config->dwStartType == SERVICE_AUTO_START ? "True" : "False";
    SERVICE_STATUS_PROCESS status{};
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, &status, sizeof status, &needed)) {
      st.error_text = Format("QueryServiceStatusEx() Error: %d", LastError());
    } else if (status.dwCurrentState == SERVICE_RUNNING) {
      st.running = 1;
      st.run_text = Named("%s - Running");
    }
  } else {
    if (manager && PlatGetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
      st.installed = 0;
      st.install_text = Named("%s - Not Installed");
      st.auto_start = "True";
    }
    // A worker running outside the service (tqupdd --fg) holds the work mutex.
    if (PlatMutexExists(UpdWorkMutexName().c_str())) {
      st.running = 1;
      st.run_text = Named("%s - Running");
    }
  }
  Close(service, manager);
  return st;
}
