// The installer's functions over installer host processes: the client's
// handle table, one host per call or per open handle, and the checks of
// every answer. POSIX implementation.
#include "platform/posix/installer_client/remote.h"

#include <cstring>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/installer_wire/property_copy.h"
#include "platform/installer_wire/wire.h"
#include "platform/posix/installer_client/host_process.h"
#include "platform/posix/installer_common/installer_log.h"

namespace {

// Longest product code: a GUID in braces.
constexpr size_t kCodeSize = 38;

// A host that holds one open handle.
struct Session {
  std::mutex lock;         // one request at a time
  MsiHostProcess host;     // the host; pid -1 once it failed or was ended
  MSIHANDLE remote = 0;    // the handle in the host
  std::string what;        // what was opened, for the log
};

// Open handles of this process and the next number to give.
struct ClientTable {
  std::mutex lock;                                          // guards the table
  std::map<MSIHANDLE, std::shared_ptr<Session>> open;       // handle -> its host
  MSIHANDLE next = 1;                                       // next candidate number
};

ClientTable& Table() {
  static ClientTable* table = new ClientTable;  // lives to the end of the process
  return *table;
}

// The session of `handle`, or null.
std::shared_ptr<Session> Find(MSIHANDLE handle) {
  ClientTable& t = Table();
  std::lock_guard<std::mutex> g(t.lock);
  auto it = t.open.find(handle);
  return it == t.open.end() ? nullptr : it->second;
}

// A new handle for `s`.
MSIHANDLE Add(std::shared_ptr<Session> s) {
  ClientTable& t = Table();
  std::lock_guard<std::mutex> g(t.lock);
  while (t.next == 0 || t.open.count(t.next)) t.next++;
  MSIHANDLE h = t.next++;
  t.open[h] = std::move(s);
  return h;
}

bool OneOf(uint32_t v, std::initializer_list<uint32_t> set) {
  for (uint32_t x : set) {
    if (x == v) return true;
  }
  return false;
}

// True when `ans` is an answer that a request of its kind can have: a
// result its function returns, a handle exactly with a successful open, a
// text only with a property or a listed product code.
bool Plausible(const MsiWireAnswer& ans) {
  const bool ok = ans.result == MSI_OK;
  switch (ans.kind) {
    case MSI_WIRE_OPEN_PACKAGE:
      return OneOf(ans.result, {MSI_OK, MSI_ERROR_INVALID_PARAMETER, MSI_ERROR_INSTALL_PACKAGE_OPEN_FAILED}) &&
             (ans.number != 0) == ok && ans.text.empty();
    case MSI_WIRE_OPEN_PRODUCT:
      return OneOf(ans.result, {MSI_OK, MSI_ERROR_INVALID_PARAMETER, MSI_ERROR_INSTALL_FAILURE,
                                MSI_ERROR_UNKNOWN_PRODUCT}) &&
             (ans.number != 0) == ok && ans.text.empty();
    case MSI_WIRE_GET_PROPERTY:
      return OneOf(ans.result, {MSI_OK, MSI_ERROR_INVALID_HANDLE, MSI_ERROR_INVALID_PARAMETER,
                                MSI_ERROR_INSTALL_FAILURE}) &&
             ans.number == 0 && (ok || ans.text.empty());
    case MSI_WIRE_CLOSE_HANDLE:
      return OneOf(ans.result, {MSI_OK, MSI_ERROR_INVALID_HANDLE}) && ans.number == 0 && ans.text.empty();
    case MSI_WIRE_INSTALL:
      return OneOf(ans.result, {MSI_OK, MSI_ERROR_SUCCESS_REBOOT_REQUIRED, MSI_ERROR_INVALID_PARAMETER,
                                MSI_ERROR_INSTALL_FAILURE, MSI_ERROR_INSTALL_ALREADY_RUNNING,
                                MSI_ERROR_INSTALL_PACKAGE_OPEN_FAILED, MSI_ERROR_INVALID_COMMAND_LINE}) &&
             ans.number == 0 && ans.text.empty();
    case MSI_WIRE_CONFIGURE:
      return OneOf(ans.result, {MSI_OK, MSI_ERROR_INVALID_PARAMETER, MSI_ERROR_INSTALL_FAILURE,
                                MSI_ERROR_UNKNOWN_PRODUCT, MSI_ERROR_INSTALL_ALREADY_RUNNING}) &&
             ans.number == 0 && ans.text.empty();
    case MSI_WIRE_ENUM_PRODUCTS:
      return OneOf(ans.result, {MSI_OK, MSI_ERROR_INVALID_PARAMETER, MSI_ERROR_INSTALL_FAILURE,
                                MSI_ERROR_NO_MORE_ITEMS}) &&
             ans.number == 0 && (ok ? !ans.text.empty() && ans.text.size() <= kCodeSize : ans.text.empty());
    default: return false;
  }
}

// Logs that `what` failed for `why`; returns `rc`.
uint32_t Failed(const std::string& what, const std::string& why, uint32_t rc) {
  MsiLog(what + " failed: " + why);
  return rc;
}

// One exchange with a running host, the answer checked: 0, or -1 with the
// reason in *why once the host is ended.
int Exchange(MsiHostProcess* host, const MsiWireRequest& req, MsiWireAnswer* ans, std::string* why) {
  if (MsiHostCall(host, req, MsiHostLimitMs(req.kind), ans, why) != 0) return -1;
  if (!Plausible(*ans)) {
    MsiHostKill(host);
    *why = "installer host answered " + std::to_string(ans->result) + ", which its request cannot have";
    return -1;
  }
  return 0;
}

// Carries out `req` in a host of its own, which is ended afterwards unless
// `keep` is given and the answer opened a handle (the host is then moved to
// *keep). The result, or `failed` after logging why the host failed.
uint32_t CallOnce(const MsiWireRequest& req, const std::string& what, uint32_t failed, MsiWireAnswer* ans,
                  MsiHostProcess* keep = nullptr) {
  MsiHostProcess host;
  std::string why;
  if (MsiHostStart(&host, &why) != 0 || Exchange(&host, req, ans, &why) != 0) return Failed(what, why, failed);
  if (keep && ans->result == MSI_OK) {
    *keep = host;
    return MSI_OK;
  }
  if (MsiHostFinish(&host, MsiHostLimitMs(0), &why) != 0) return Failed(what, why, failed);
  return ans->result;
}

// Opens a package or product in a host kept for the handle.
uint32_t Open(uint8_t kind, const char* name, const std::string& what, uint32_t failed, MSIHANDLE* handle) {
  MsiWireRequest req;
  req.kind = kind;
  req.text1 = name;
  MsiWireAnswer ans;
  auto s = std::make_shared<Session>();
  uint32_t rc = CallOnce(req, what, failed, &ans, &s->host);
  if (rc != MSI_OK) return rc;
  s->remote = ans.number;
  s->what = what;
  *handle = Add(std::move(s));
  return MSI_OK;
}

}  // namespace

uint32_t MsiRemoteSetInternalUI(uint32_t level, void* window) {
  (void)window;
  static std::mutex lock;
  static uint32_t current = INSTALLUILEVEL_DEFAULT;
  std::lock_guard<std::mutex> g(lock);
  uint32_t previous = current;
  if (level != INSTALLUILEVEL_NOCHANGE) current = level;
  return previous;
}

uint32_t MsiRemoteOpenPackage(const char* path, MSIHANDLE* handle) {
  if (!path || !handle) return MSI_ERROR_INVALID_PARAMETER;
  if (std::strlen(path) > kMsiWireMaxRequestText) return MSI_ERROR_INSTALL_PACKAGE_OPEN_FAILED;
  return Open(MSI_WIRE_OPEN_PACKAGE, path, std::string("opening package ") + path,
              MSI_ERROR_INSTALL_PACKAGE_OPEN_FAILED, handle);
}

uint32_t MsiRemoteOpenProduct(const char* product_code, MSIHANDLE* handle) {
  if (!product_code || !handle) return MSI_ERROR_INVALID_PARAMETER;
  if (std::strlen(product_code) > kCodeSize) return MSI_ERROR_UNKNOWN_PRODUCT;  // no product code
  return Open(MSI_WIRE_OPEN_PRODUCT, product_code, std::string("opening product ") + product_code,
              MSI_ERROR_INSTALL_FAILURE, handle);
}

uint32_t MsiRemoteGetProductProperty(MSIHANDLE handle, const char* property, char* buf, uint32_t* size) {
  std::shared_ptr<Session> s = Find(handle);
  if (!s) return MSI_ERROR_INVALID_HANDLE;
  if (!property || (buf && !size)) return MSI_ERROR_INVALID_PARAMETER;
  std::string value;  // a name longer than any request reads as a property the package lacks
  if (std::strlen(property) <= kMsiWireMaxRequestText) {
    std::lock_guard<std::mutex> g(s->lock);
    std::string what = "reading property " + std::string(property) + " of " + s->what;
    if (s->host.pid <= 0) return Failed(what, "its installer host has failed before", MSI_ERROR_INSTALL_FAILURE);
    MsiWireRequest req;
    req.kind = MSI_WIRE_GET_PROPERTY;
    req.a = s->remote;
    req.text1 = property;
    MsiWireAnswer ans;
    std::string why;
    if (Exchange(&s->host, req, &ans, &why) != 0) return Failed(what, why, MSI_ERROR_INSTALL_FAILURE);
    if (ans.result != MSI_OK) {
      // The host does not know the handle it gave: it is no longer sound.
      MsiHostKill(&s->host);
      return Failed(what, "installer host answered " + std::to_string(ans.result), MSI_ERROR_INSTALL_FAILURE);
    }
    value = std::move(ans.text);
  }
  return MsiCopyPropertyOut(value, buf, size);
}

uint32_t MsiRemoteCloseHandle(MSIHANDLE handle) {
  std::shared_ptr<Session> s;
  {
    ClientTable& t = Table();
    std::lock_guard<std::mutex> g(t.lock);
    auto it = t.open.find(handle);
    if (it == t.open.end()) return MSI_ERROR_INVALID_HANDLE;
    s = std::move(it->second);
    t.open.erase(it);
  }
  // The handle is closed here whatever its host does; a host that fails
  // now is logged and ended.
  std::lock_guard<std::mutex> g(s->lock);
  if (s->host.pid <= 0) return MSI_OK;
  MsiWireRequest req;
  req.kind = MSI_WIRE_CLOSE_HANDLE;
  req.a = s->remote;
  MsiWireAnswer ans;
  std::string why;
  std::string what = "closing " + s->what;
  if (Exchange(&s->host, req, &ans, &why) != 0) {
    Failed(what, why, MSI_OK);
  } else if (MsiHostFinish(&s->host, MsiHostLimitMs(0), &why) != 0) {
    Failed(what, why, MSI_OK);
  }
  return MSI_OK;
}

uint32_t MsiRemoteInstallProduct(const char* package_path, const char* command_line) {
  if (!package_path) return MSI_ERROR_INVALID_PARAMETER;
  // Longer than any property string the installer accepts.
  if (command_line && std::strlen(command_line) > kMsiWireMaxRequestText) return MSI_ERROR_INVALID_COMMAND_LINE;
  if (std::strlen(package_path) > kMsiWireMaxRequestText) return MSI_ERROR_INSTALL_PACKAGE_OPEN_FAILED;
  MsiWireRequest req;
  req.kind = MSI_WIRE_INSTALL;
  req.text1 = package_path;
  req.text2 = command_line ? command_line : "";
  MsiWireAnswer ans;
  return CallOnce(req, std::string("installation of ") + package_path, MSI_ERROR_INSTALL_FAILURE, &ans);
}

uint32_t MsiRemoteConfigureProduct(const char* product_code, int32_t install_level, int32_t install_state) {
  if (!product_code) return MSI_ERROR_INVALID_PARAMETER;
  if (std::strlen(product_code) > kCodeSize) return MSI_ERROR_UNKNOWN_PRODUCT;  // no product code
  MsiWireRequest req;
  req.kind = MSI_WIRE_CONFIGURE;
  req.a = static_cast<uint32_t>(install_level);
  req.b = static_cast<uint32_t>(install_state);
  req.text1 = product_code;
  MsiWireAnswer ans;
  return CallOnce(req, std::string("configuring product ") + product_code, MSI_ERROR_INSTALL_FAILURE, &ans);
}

uint32_t MsiRemoteEnumProducts(uint32_t index, char* buf) {
  if (!buf) return MSI_ERROR_INVALID_PARAMETER;
  MsiWireRequest req;
  req.kind = MSI_WIRE_ENUM_PRODUCTS;
  req.a = index;
  MsiWireAnswer ans;
  uint32_t rc = CallOnce(req, "listing products", MSI_ERROR_INSTALL_FAILURE, &ans);
  if (rc == MSI_OK) std::memcpy(buf, ans.text.c_str(), ans.text.size() + 1);
  return rc;
}
