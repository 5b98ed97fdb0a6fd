// The installer: real .msi packages installed into the machine's state.
// Opening a package reads its Property table; installing resolves the
// Directory tree, extracts the File entries from the package's cabinets,
// applies the Registry table to the registry layer, stops the services that
// ServiceControl names and records the product in the installed-products
// database under TQ_SYSTEM_ROOT/installer/. Configuring a product absent
// removes what was installed.
//
// Every function returns a Windows Installer result code: 0 success,
// 87 invalid parameter, 234 buffer too small (more data), 1603 install
// failure, 1605 unknown product, 1618 another installation is running,
// 1619 package cannot be opened, 1639 bad property string, 3010 success with
// a reboot required. The layer never reboots the host.
//
// Paths and directory values may use '\\' as separator; they are turned into
// '/' on this host. Directory properties (the registry's InstallDir written as
// [INSTALLDIR], for one) read as host paths with '/' and no trailing '/'.
// One installation or removal runs at a time on the machine; an operation
// interrupted at any point (the process killed) is undone or finished by the
// next call into the installer, so the database, the registry and the files
// show the old state or the new one.
//
// Two libraries implement these functions. tq_installer carries them out in
// the calling process (over libmsi and libgcab; tqmsi and the installer host
// link it). tq_installer_client, which the engine and the service link,
// hands each call to an installer host process, tqmsihost, found beside the
// calling program (platform/posix/installer_client/remote.h): the caller
// then maps none of the package libraries, and a crash in them ends only
// the host. A host that fails (cannot be started, dies, exceeds its bound
// of an hour for an installation or removal and two minutes for any other
// call, or answers wrongly) makes the call return 1619 when it opened a
// package and 1603 otherwise, with the reason in the installer's log
// (TQ_SYSTEM_ROOT/installer/logs/installer.log); what it left half done is
// settled by the next call, as after a killed process.
#pragma once

#include <cstdint>

typedef uint32_t MSIHANDLE;

// User interface levels (accepted; this layer never shows a window).
enum : uint32_t {
  INSTALLUILEVEL_NOCHANGE = 0,
  INSTALLUILEVEL_DEFAULT = 1,
  INSTALLUILEVEL_NONE = 2,
};

// Install levels and states of MsiConfigureProductA.
enum : int32_t {
  INSTALLLEVEL_DEFAULT = 0,
  INSTALLLEVEL_MINIMUM = 1,
  INSTALLLEVEL_MAXIMUM = 0xFFFF,
  INSTALLSTATE_ABSENT = 2,
  INSTALLSTATE_LOCAL = 3,
  INSTALLSTATE_DEFAULT = 5,
};

// Result codes.
enum : uint32_t {
  MSI_OK = 0,
  MSI_ERROR_INVALID_PARAMETER = 87,
  MSI_ERROR_MORE_DATA = 234,
  MSI_ERROR_INSTALL_FAILURE = 1603,
  MSI_ERROR_UNKNOWN_PRODUCT = 1605,
  MSI_ERROR_UNKNOWN_PROPERTY = 1608,
  MSI_ERROR_INVALID_HANDLE = 6,
  MSI_ERROR_NO_MORE_ITEMS = 259,
  MSI_ERROR_INSTALL_ALREADY_RUNNING = 1618,
  MSI_ERROR_INSTALL_PACKAGE_OPEN_FAILED = 1619,
  MSI_ERROR_INVALID_COMMAND_LINE = 1639,
  MSI_ERROR_SUCCESS_REBOOT_REQUIRED = 3010,
};

// Sets the user interface level; returns the previous one. Without effect
// here: no window is ever shown.
uint32_t MsiSetInternalUI(uint32_t level, void* window);

// Opens a package: 0 with a handle in *handle, 1619 when the file is missing
// or is no package.
uint32_t MsiOpenPackageA(const char* path, MSIHANDLE* handle);

// Reads a property of an open package or product into buf. On entry *size is
// the size of buf in characters, the terminating NUL included; on return it
// is the value's length without the NUL. 0 on success; 234 when buf is too
// small (buf then holds the value cut to fit); a property the package lacks
// reads as an empty text with result 0; 6 for a bad handle.
uint32_t MsiGetProductPropertyA(MSIHANDLE handle, const char* property, char* buf, uint32_t* size);

// Closes a package or product handle: 0, or 6 for a bad handle.
uint32_t MsiCloseHandle(MSIHANDLE handle);

// Installs a package with a property string ("NAME=VALUE NAME=\"A B\" ...";
// values in double quotes, '""' in them for '"', see
// platform/installer/property_string.h).
// A product already installed under the package's ProductCode is installed
// over; an older installed version of the same UpgradeCode is taken over
// (replaced in the same step), a newer one makes the installation fail
// (remove it first). 0 or 3010 on success (3010 when REBOOT=FORCE was given), 1618 when
// another installation runs on the machine, 1619 when the package cannot
// be opened, 1639 for a malformed property string, 1603 otherwise.
uint32_t MsiInstallProductA(const char* package_path, const char* command_line);

// Changes the state of an installed product. INSTALLSTATE_ABSENT removes its
// files and registry values (and the directories it made, once empty) and
// forgets it; it is the only state supported here (87 for others). 1605 when
// the product code is not installed, 1618 while another installation runs.
uint32_t MsiConfigureProductA(const char* product_code, int32_t install_level, int32_t install_state);

// Opens an installed product: 0 with a handle, 1605 when the product code is
// not installed.
uint32_t MsiOpenProductA(const char* product_code, MSIHANDLE* handle);

// Copies the product code of the index-th installed product (0 = the first,
// ordered by code) into buf, which holds at least 39 characters: 0, or 259
// past the last one.
uint32_t MsiEnumProductsA(uint32_t index, char* buf);
