// The installer's functions: package and product handles, installation and
// removal under the machine's installation lock. POSIX implementation.
//
// Handles are small integers shared by every thread of the process; each
// holds the properties it answers (a package's Property table, or the
// recorded properties of an installed product).
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "platform/installer.h"
#include "platform/installer_wire/property_copy.h"
#include "platform/posix/installer/installer_internal.h"

namespace {

// Open handles and the next number to give.
struct HandleTable {
  std::mutex lock;                                           // guards the table
  std::map<MSIHANDLE, std::map<std::string, std::string>> open; // handle -> properties
  MSIHANDLE next = 1;                                        // next candidate number
};

// The process's handle table.
HandleTable& Handles() {
  static HandleTable* table = new HandleTable;  // lives to the end of the process
  return *table;
}

// A new handle answering `props`.
MSIHANDLE NewHandle(std::map<std::string, std::string> props) {
  HandleTable& t = Handles();
  std::lock_guard<std::mutex> g(t.lock);
  while (t.next == 0 || t.open.count(t.next)) t.next++;
  MSIHANDLE h = t.next++;
  t.open[h] = std::move(props);
  return h;
}

// Runs `op` with the installation lock held and a left-over operation
// settled first: 1618 when another installation runs.
template <typename Fn>
uint32_t WithLock(Fn op) {
  int fd = -1;
  int r = MsiLockAcquire(&fd);
  if (r == 1) return MSI_ERROR_INSTALL_ALREADY_RUNNING;
  if (r != 0) return MSI_ERROR_INSTALL_FAILURE;
  MsiTestPoint("locked");
  uint32_t rc = MsiRecover() == 0 ? op() : MSI_ERROR_INSTALL_FAILURE;
  MsiLockRelease(fd);
  return rc;
}

// Settles a left-over operation when no installation is running.
void RecoverIfIdle() {
  int fd = -1;
  if (MsiLockAcquire(&fd) != 0) return;
  MsiRecover();
  MsiLockRelease(fd);
}

}  // namespace

uint32_t MsiSetInternalUI(uint32_t level, void* window) {
  (void)window;
  static std::mutex lock;
  static uint32_t current = INSTALLUILEVEL_DEFAULT;
  std::lock_guard<std::mutex> g(lock);
  uint32_t previous = current;
  if (level != INSTALLUILEVEL_NOCHANGE) current = level;
  return previous;
}

uint32_t MsiOpenPackageA(const char* path, MSIHANDLE* handle) {
  if (!path || !handle) return MSI_ERROR_INVALID_PARAMETER;
  MsiPackage pkg;
  if (MsiReadPackage(MsiPackagePath(path), false, &pkg) != 0) return MSI_ERROR_INSTALL_PACKAGE_OPEN_FAILED;
  *handle = NewHandle(std::move(pkg.properties));
  return MSI_OK;
}

uint32_t MsiGetProductPropertyA(MSIHANDLE handle, const char* property, char* buf, uint32_t* size) {
  std::string value;
  {
    HandleTable& t = Handles();
    std::lock_guard<std::mutex> g(t.lock);
    auto it = t.open.find(handle);
    if (it == t.open.end()) return MSI_ERROR_INVALID_HANDLE;
    if (!property || (buf && !size)) return MSI_ERROR_INVALID_PARAMETER;
    auto p = it->second.find(property);
    if (p != it->second.end()) value = p->second;
  }
  return MsiCopyPropertyOut(value, buf, size);
}

uint32_t MsiCloseHandle(MSIHANDLE handle) {
  HandleTable& t = Handles();
  std::lock_guard<std::mutex> g(t.lock);
  return t.open.erase(handle) ? MSI_OK : MSI_ERROR_INVALID_HANDLE;
}

uint32_t MsiInstallProductA(const char* package_path, const char* command_line) {
  if (!package_path) return MSI_ERROR_INVALID_PARAMETER;
  const std::string text = command_line ? command_line : "";
  std::vector<MsiProperty> props;
  if (MsiParsePropertyString(text, &props) != 0) return MSI_ERROR_INVALID_COMMAND_LINE;
  const std::string path = MsiPackagePath(package_path);
  MsiPackage probe;
  if (MsiReadPackage(path, false, &probe) != 0) return MSI_ERROR_INSTALL_PACKAGE_OPEN_FAILED;
  return WithLock([&]() { return MsiInstallLocked(path, props, text); });
}

uint32_t MsiConfigureProductA(const char* product_code, int32_t install_level, int32_t install_state) {
  (void)install_level;
  if (!product_code) return MSI_ERROR_INVALID_PARAMETER;
  const std::string code = MsiUpper(product_code);
  if (!MsiProductCodeValid(code)) return MSI_ERROR_UNKNOWN_PRODUCT;
  if (install_state != INSTALLSTATE_ABSENT) return MSI_ERROR_INVALID_PARAMETER;
  return WithLock([&]() { return MsiRemoveLocked(code); });
}

uint32_t MsiOpenProductA(const char* product_code, MSIHANDLE* handle) {
  if (!product_code || !handle) return MSI_ERROR_INVALID_PARAMETER;
  const std::string code = MsiUpper(product_code);
  if (!MsiProductCodeValid(code)) return MSI_ERROR_UNKNOWN_PRODUCT;
  RecoverIfIdle();
  MsiProductRecord rec;
  int r = MsiLoadRecord(code, &rec);
  if (r == 1) return MSI_ERROR_UNKNOWN_PRODUCT;
  if (r != 0) return MSI_ERROR_INSTALL_FAILURE;
  *handle = NewHandle(std::move(rec.properties));
  return MSI_OK;
}

uint32_t MsiEnumProductsA(uint32_t index, char* buf) {
  if (!buf) return MSI_ERROR_INVALID_PARAMETER;
  if (index == 0) RecoverIfIdle();
  std::vector<MsiProductRecord> all;
  if (MsiListRecords(&all) != 0) return MSI_ERROR_INSTALL_FAILURE;
  if (index >= all.size()) return MSI_ERROR_NO_MORE_ITEMS;
  std::strncpy(buf, all[index].product_code.c_str(), 38);
  buf[38] = '\0';
  return MSI_OK;
}
