// tqmsi: the administrator's command over the installer.
//
//   tqmsi install PACKAGE [NAME=VALUE ...]
//   tqmsi remove PRODUCTCODE
//   tqmsi list
//   tqmsi info PACKAGE
//
// The exit status is the installer's result (0, 3010, 1603, ...) as far as an
// exit status can hold it: the result modulo 256 (3010 -> 194, 1603 -> 67,
// 1605 -> 69, 1618 -> 82, 1619 -> 83, 1639 -> 103). A failure prints one line
// on stderr naming the full result.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/installer.h"
#include "platform/installer/property_string.h"

namespace {

constexpr const char kUsage[] =
    "Usage:\n"
    "  tqmsi install PACKAGE [NAME=VALUE ...]   install a package (ALLUSERS=1 TARGETDIR=... INSTALLDIR=...)\n"
    "  tqmsi remove PRODUCTCODE                 remove an installed product\n"
    "  tqmsi list                               installed products: code, version, name\n"
    "  tqmsi info PACKAGE                       the package's main properties\n"
    "  tqmsi --help                             this text\n"
    "\n"
    "The exit status is the installer's result modulo 256 (0 success, 3010 reboot\n"
    "required = 194, 1603 failure = 67, 1605 unknown product = 69, 1618 another\n"
    "installation running = 82, 1619 package not opened = 83, 1639 bad property = 103).\n";

// Properties that `info` shows, in order.
const char* const kInfoProperties[] = {"ProductName", "ProductVersion", "ProductCode", "UpgradeCode", "Manufacturer"};

// Words for a result.
const char* ResultName(uint32_t rc) {
  switch (rc) {
    case MSI_OK: return "success";
    case MSI_ERROR_INVALID_HANDLE: return "invalid handle";
    case MSI_ERROR_INVALID_PARAMETER: return "invalid parameter";
    case MSI_ERROR_INSTALL_FAILURE: return "installation failure";
    case MSI_ERROR_UNKNOWN_PRODUCT: return "unknown product";
    case MSI_ERROR_INSTALL_ALREADY_RUNNING: return "another installation is already running";
    case MSI_ERROR_INSTALL_PACKAGE_OPEN_FAILED: return "the package cannot be opened";
    case MSI_ERROR_INVALID_COMMAND_LINE: return "invalid property string";
    case MSI_ERROR_SUCCESS_REBOOT_REQUIRED: return "success, a reboot is required";
    default: return "error";
  }
}

// Ends with `rc`, printing the failure line for a failure.
int Finish(const char* what, uint32_t rc) {
  if (rc == MSI_ERROR_SUCCESS_REBOOT_REQUIRED) {
    std::printf("tqmsi: %s: a reboot is required (3010)\n", what);
  } else if (rc != MSI_OK) {
    std::fprintf(stderr, "tqmsi: %s failed: %u (%s)\n", what, static_cast<unsigned>(rc), ResultName(rc));
  }
  return static_cast<int>(rc & 0xFF);
}

// A property of an open handle ("" when unreadable).
std::string Property(MSIHANDLE h, const char* name) {
  std::vector<char> buf(256);
  uint32_t size = static_cast<uint32_t>(buf.size());
  uint32_t rc = MsiGetProductPropertyA(h, name, buf.data(), &size);
  if (rc == MSI_ERROR_MORE_DATA) {
    buf.resize(size + 1);
    size = static_cast<uint32_t>(buf.size());
    rc = MsiGetProductPropertyA(h, name, buf.data(), &size);
  }
  return rc == MSI_OK ? std::string(buf.data(), size) : std::string();
}

int Install(int argc, char** argv) {
  std::vector<MsiProperty> props;
  for (int i = 3; i < argc; i++) {
    const char* eq = std::strchr(argv[i], '=');
    if (!eq || eq == argv[i]) {
      std::fprintf(stderr, "tqmsi: install: not a NAME=VALUE property: %s\n", argv[i]);
      return Finish("install", MSI_ERROR_INVALID_COMMAND_LINE);
    }
    props.push_back({std::string(argv[i], static_cast<size_t>(eq - argv[i])), eq + 1});
  }
  std::string line = MsiFormatPropertyString(props);
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  return Finish("install", MsiInstallProductA(argv[2], line.c_str()));
}

int List() {
  char code[64];
  for (uint32_t i = 0;; i++) {
    uint32_t rc = MsiEnumProductsA(i, code);
    if (rc == MSI_ERROR_NO_MORE_ITEMS) return 0;
    if (rc != MSI_OK) return Finish("list", rc);
    MSIHANDLE h = 0;
    if (MsiOpenProductA(code, &h) != MSI_OK) continue;  // removed meanwhile
    std::printf("%s %s %s\n", code, Property(h, "ProductVersion").c_str(), Property(h, "ProductName").c_str());
    MsiCloseHandle(h);
  }
}

int Info(const char* package) {
  MSIHANDLE h = 0;
  uint32_t rc = MsiOpenPackageA(package, &h);
  if (rc != MSI_OK) return Finish("info", rc);
  for (const char* name : kInfoProperties) std::printf("%s: %s\n", name, Property(h, name).c_str());
  MsiCloseHandle(h);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string cmd = argc > 1 ? argv[1] : "";
  if (cmd == "--help" || cmd == "-h" || cmd == "/?") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (cmd == "install" && argc >= 3) return Install(argc, argv);
  if (cmd == "remove" && argc == 3) {
    return Finish("remove", MsiConfigureProductA(argv[2], INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT));
  }
  if (cmd == "list" && argc == 2) return List();
  if (cmd == "info" && argc == 3) return Info(argv[2]);
  std::fputs(kUsage, stderr);
  return MSI_ERROR_INVALID_PARAMETER;
}
