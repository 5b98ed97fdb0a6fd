// Shared pieces of the installer's tests: the test products, the property
// string the update engine passes, and a snapshot of everything an
// installation may change (files, registry, installed products).
#pragma once

#include <map>
#include <string>

#include "tests/support/msi_fixture.h"
#include "tests/support/temp_system.h"

// Version 1 and 2 of one product (same UpgradeCode), and another product.
extern const MsiTestProduct kAppOld;
extern const MsiTestProduct kAppNew;
extern const MsiTestProduct kOther;

// The property string of the update engine for target `dir` (a host path):
// ALLUSERS=1 TARGETDIR="..." INSTALLDIR="..." (slashes turned into
// backslashes) and the reboot policy.
std::string EngineCommandLine(const std::string& dir, bool force_reboot = false);

// Everything an installation may change.
struct MsiState {
  std::map<std::string, std::string> files; // path below the system's root -> content ("<dir>" for directories)
  std::string registry;                     // export of HKLM\SOFTWARE ("" when missing)
  std::string products;                     // "code version name" lines of the installed products
  bool journal;                             // an operation is left over
};

// Reads the state of `sys` (the installer's own directory and `skip` left out).
MsiState ReadMsiState(const TempSystem& sys, const std::string& skip = "pkgs");

// Text of a differing state, for failure messages.
std::string DescribeMsiState(const MsiState& s);

bool operator==(const MsiState& a, const MsiState& b);

// A registry text value ("<missing>" when absent).
std::string RegText(const std::string& key, const std::string& name);

// The files a test product installs below its INSTALLDIR, with contents.
std::map<std::string, std::string> ProductFiles(const MsiTestProduct& p);

// A directory for packages shared by the tests of one suite (made on first
// use, removed at exit).
std::string SharedPackageDir();

// Builds (once per process) the package `out` of product `p` from `source`.
std::string SharedPackage(const std::string& source, const MsiTestProduct& p, const std::string& out,
                          const std::map<std::string, std::string>& vars = {});

// Path of the tqmsi program.
std::string TqmsiPath();
