// Installation of the work list: version comparison with the installed
// product, the installer's property string, the reboot policy of the last
// entry, and the restart of the service when the installation stopped it.
#include "engine/install.h"

#include <cstdio>
#include <string>

#include "engine/config.h"
#include "engine/products.h"
#include "engine/work_entry.h"
#include "platform/error.h"
#include "platform/installer.h"
#include "platform/process.h"
#include "platform/system.h"
#include "runtime/command_path.h"
#include "runtime/env.h"
#include "runtime/log_text.h"
#include "runtime/message.h"
#include "engine/stop_hook.h"

namespace {

constexpr uint32_t kReadVersionSize = 100;  // buffer for ProductVersion
constexpr uint32_t kRebootInitiated = 1641;
constexpr uint32_t kRestartRequired = 3011;

// The configuration tool below the installation base, and its arguments
// that make it wait and then start the service.
constexpr const char kRestartProgram[] = "/TQUpdate/bin/tqupdcnf";
constexpr const char kRestartArguments[] = " --svcstart --nogui -w 120";

// The default target directory: RV_INSTALLDIR when it has a value, else
// the installation base RV_HOME.
std::string DefaultTarget() {
  const char* dir = RVGetEnv("RV_INSTALLDIR");
  if (dir && *dir) return dir;
  const char* home = RVGetEnv("RV_HOME");
  return home ? home : "";
}

// Whether the run will reach the installer for this entry, asked without
// logging: its package's version differs from the installed one (or cannot
// be read, or the package cannot be opened: the run stops there).
bool WillInstall(UpdEntry* e) {
  if (e->flags & UPD_ENTRY_SKIP) return false;
  UpdProductInfo(e);
  char version[kReadVersionSize];
  uint32_t rc = MSI_OK;
  if (UpdReadPackageProperty(UpdPackagePath(e).c_str(), "ProductVersion", version, sizeof version, &rc) != MSI_OK)
    return true;
  return rc != MSI_OK || UpdVersionNumberOf(version) != e->installed_version;
}

// The entry that gets REBOOT=FORCE when some entry demands a reboot: the
// last one that will be installed. (Forcing it on the list's last entry
// alone would lose the reboot whenever that entry is passed over as
// installed already.)
const UpdEntry* ForceRebootEntry(UpdEntry* list) {
  bool wanted = false;
  for (const UpdEntry* e = list; e; e = e->next)
    if (e->flags & UPD_ENTRY_FORCE_REBOOT) wanted = true;
  if (!wanted) return nullptr;
  const UpdEntry* last = nullptr;
  for (UpdEntry* e = list; e; e = e->next)
    if (WillInstall(e)) last = e;
  return last;
}

// The installer's property string for one package.
std::string PropertyString(const UpdEntry* e, const std::string& default_target, bool force_reboot) {
  std::string props = "ALLUSERS=1 ";
  std::string target = e->install_dir && *e->install_dir ? e->install_dir : default_target;
  if (!target.empty()) {
    for (char& c : target)
      if (c == '/') c = '\\';
    props += "TARGETDIR=\"" + target + "\" INSTALLDIR=\"" + target + "\"";
  }
  props += force_reboot ? " REBOOT=FORCE" : " REBOOT=ReallySuppress";
  return props;
}

// Starts the configuration tool that brings the stopped service back.
void StartRestartTool() {
  const char* home = RVGetEnv("RV_HOME");
  // The program is quoted when the base holds a blank.
  std::string program = std::string(home ? home : "") + kRestartProgram;
  std::string command = RVCommandProgram(program.c_str()) + kRestartArguments;
  if (PlatCreateProcessDetached(command.c_str(), nullptr) != 0)
    UpdMessage(9, "CreateProcess(%s) - Error: %d", command.c_str(), static_cast<int>(PlatGetLastError()));
}

// True (after its line) when the entry is bound by script metadata, its
// package is older than the installed product and no mark allows that.
bool DowngradeRefused(const UpdEntry* e, uint32_t package_version) {
  if (!(e->flags & UPD_ENTRY_TRUSTED) || (e->flags & UPD_ENTRY_DOWNGRADE)) return false;
  if (package_version >= e->installed_version) return false;
  char from[32], to[32];
  UpdVersionText(package_version, to, sizeof to);
  UpdVersionText(e->installed_version, from, sizeof from);
  RVShown shown;
  UpdMessage(9, "Downgrade refused: %s - package version %s below installed %s, not marked as an intended downgrade",
             RVShowText(&shown, e->name), to, from);
  return true;
}

enum EntryOutcome { ENTRY_NEXT, ENTRY_STOP_OK, ENTRY_STOP_FAILED };

// Installs one entry; *package_version carries the last version read over
// to the next entry when a package's version cannot be read.
EntryOutcome InstallEntry(UpdEntry* e, const std::string& default_target, bool force_reboot,
                          uint32_t* package_version) {
  UpdProductInfo(e);
  RVShown shown_name, shown_path;
  const char* name = RVShowText(&shown_name, e->name);
  std::string path = UpdPackagePath(e);
  RVShowText(&shown_path, path.c_str());
  UpdMessage(0, "Install %s - %s", name, shown_path.text);

  char version[kReadVersionSize];
  uint32_t rc = MSI_OK;
  uint32_t opened = UpdReadPackageProperty(path.c_str(), "ProductVersion", version, sizeof version, &rc);
  std::string what = std::string("MsiOpenPackage(") + shown_path.text + ")";
  UpdInstallResult(what.c_str(), opened);
  if (opened != MSI_OK) return ENTRY_STOP_FAILED;
  UpdInstallResult("MsiGetProductProperty(ProductVersion)", rc);

  if (rc == MSI_OK) {
    *package_version = UpdVersionNumber(version);
    e->new_version = *package_version;
    if (*package_version == e->installed_version) {
      UpdMessage(0, " - Ignoring: %s - Version: %u already installed", name, e->installed_version);
      return ENTRY_NEXT;
    }
    if (DowngradeRefused(e, *package_version)) return ENTRY_STOP_FAILED;
    if (*package_version < e->installed_version && e->product_code) {
      rc = MsiConfigureProductA(e->product_code, INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
      UpdInstallResult("MsiConfigureProduct(Remove)", rc);
      if (rc != MSI_OK) return ENTRY_STOP_FAILED;
    }
  }

  std::string props = PropertyString(e, default_target, force_reboot);
  UpdMessage(0, "MsiInstallProduct(%s,%s)", shown_path.text, props.c_str());
  rc = MsiInstallProductA(path.c_str(), props.c_str());
  UpdInstallResult("MsiInstallProduct(Install)", rc);
  if (!UpdInstallSucceeded(rc)) return ENTRY_STOP_FAILED;

  char text[32];
  UpdVersionText(*package_version, text, sizeof text);
  UpdMessage(7, "Installed: %s - Version: %s - OK", name, text);
  if (rc == kRebootInitiated) return ENTRY_STOP_OK;
  if (UpdEngineStopRequested()) {
    UpdMessage(0, "Got Stop Event During Install");
    StartRestartTool();
    return ENTRY_STOP_OK;
  }
  return ENTRY_NEXT;
}

}  // namespace

int UpdInstallSucceeded(uint32_t code) {
  return code == MSI_OK || code == kRebootInitiated || code == MSI_ERROR_SUCCESS_REBOOT_REQUIRED ||
         code == kRestartRequired;
}

void UpdInstallResult(const char* what, uint32_t code) {
  switch (code) {
    case 0: UpdMessage(0, "%s Success", what); break;
    case 87: UpdMessage(9, "%s Error: Invalid Parameter", what); break;
    case 1603: UpdMessage(9, "%s Error: InstallFailure", what); break;
    case 1610:
    case 1645: UpdMessage(9, "%s Error: Bad Configuration", what); break;
    case 1618: UpdMessage(9, "%s Error: Install Alread Running", what); break;
    case 1619: UpdMessage(9, "%s Error: Install Package Open Failed", what); break;
    case 1641: UpdMessage(0, "%s Success - Reboot Initiated", what); break;
    case 3010: UpdMessage(0, "%s Success - Reboot Required", what); break;
    case 3011: UpdMessage(0, "%s Success - Restart Required", what); break;
    default: UpdMessage(9, "%s UnknownError - RC: %d", what, static_cast<int>(code)); break;
  }
}

int UpdRefuseDowngrades() {
  int result = 0;
  for (UpdEntry* e = g_upd_config ? g_upd_config->work_list : nullptr; e; e = e->next) {
    if ((e->flags & UPD_ENTRY_SKIP) || !(e->flags & UPD_ENTRY_TRUSTED)) continue;
    UpdProductInfo(e);
    char version[kReadVersionSize];
    uint32_t rc = MSI_OK;
    if (UpdReadPackageProperty(UpdPackagePath(e).c_str(), "ProductVersion", version, sizeof version, &rc) != MSI_OK ||
        rc != MSI_OK)
      continue;  // the installation reports a package it cannot read
    if (DowngradeRefused(e, UpdVersionNumberOf(version))) result = -1;
  }
  return result;
}

int UpdInstall() {
  std::string default_target = DefaultTarget();
  UpdMessage(0, "Install Start");
  int result = 0;
  int32_t com = PlatComInitialize();
  if (com != 0 && com != 1) {
    UpdMessage(9, "Error Initializing COM - HResult: %x", static_cast<unsigned>(com));
    UpdMessage(0, "Install End ret: %d", -1);
    return -1;
  }
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  UpdEntry* list = g_upd_config ? g_upd_config->work_list : nullptr;
  const UpdEntry* force_entry = ForceRebootEntry(list);
  uint32_t package_version = 0;
  for (UpdEntry* e = list; e; e = e->next) {
    if (e->flags & UPD_ENTRY_SKIP) continue;
    EntryOutcome outcome = InstallEntry(e, default_target, e == force_entry, &package_version);
    if (outcome == ENTRY_STOP_FAILED) result = -1;
    if (outcome != ENTRY_NEXT) break;
  }
  PlatComUninitialize();
  UpdMessage(0, "Install End ret: %d", result);
  return result;
}
