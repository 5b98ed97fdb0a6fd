// The installer's functions of platform/installer.h in the programs that
// link the client library: each carried out by an installer host process
// (see remote.h). POSIX implementation.
#include "platform/installer.h"
#include "platform/posix/installer_client/remote.h"

uint32_t MsiSetInternalUI(uint32_t level, void* window) { return MsiRemoteSetInternalUI(level, window); }

uint32_t MsiOpenPackageA(const char* path, MSIHANDLE* handle) { return MsiRemoteOpenPackage(path, handle); }

uint32_t MsiGetProductPropertyA(MSIHANDLE handle, const char* property, char* buf, uint32_t* size) {
  return MsiRemoteGetProductProperty(handle, property, buf, size);
}

uint32_t MsiCloseHandle(MSIHANDLE handle) { return MsiRemoteCloseHandle(handle); }

uint32_t MsiInstallProductA(const char* package_path, const char* command_line) {
  return MsiRemoteInstallProduct(package_path, command_line);
}

uint32_t MsiConfigureProductA(const char* product_code, int32_t install_level, int32_t install_state) {
  return MsiRemoteConfigureProduct(product_code, install_level, install_state);
}

uint32_t MsiOpenProductA(const char* product_code, MSIHANDLE* handle) {
  return MsiRemoteOpenProduct(product_code, handle);
}

uint32_t MsiEnumProductsA(uint32_t index, char* buf) { return MsiRemoteEnumProducts(index, buf); }
