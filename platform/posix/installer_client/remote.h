// The installer's functions carried out by installer host processes
// (tqmsihost): the same contracts as the functions of platform/installer.h,
// which the client library (api.cpp) forwards here, so that the process
// calling them never maps the package and cabinet libraries. POSIX
// implementation.
//
// Every installation, removal, product listing and failed open runs in a
// host started for that one call and ended when it returns. A package or
// product handle keeps the host that opened it until it is closed: the
// handle and its properties live there. Calls from several threads each
// get their own host, so the machine's installation lock answers them as
// it answers separate processes (1618 while another installation runs).
// A host ends with the thread that started it (and so with the process): a
// handle is to be used and closed before the thread that opened it ends.
//
// When a host fails (it cannot be started, it dies, hangs past its bound,
// cuts its answer off, answers with malformed data or a result its request
// cannot have, or writes more than its answer), the call returns 1619 when
// it opened a package and 1603 otherwise, after one line in the installer's
// log that names what failed; the host is killed with its group and
// reaped. An operation cut off that way is undone or finished by the next
// installer call, as that of a killed installer process.
#pragma once

#include <cstdint>

#include "platform/installer.h"

uint32_t MsiRemoteSetInternalUI(uint32_t level, void* window);
uint32_t MsiRemoteOpenPackage(const char* path, MSIHANDLE* handle);
uint32_t MsiRemoteGetProductProperty(MSIHANDLE handle, const char* property, char* buf, uint32_t* size);
uint32_t MsiRemoteCloseHandle(MSIHANDLE handle);
uint32_t MsiRemoteInstallProduct(const char* package_path, const char* command_line);
uint32_t MsiRemoteConfigureProduct(const char* product_code, int32_t install_level, int32_t install_state);
uint32_t MsiRemoteOpenProduct(const char* product_code, MSIHANDLE* handle);
uint32_t MsiRemoteEnumProducts(uint32_t index, char* buf);
