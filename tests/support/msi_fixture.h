// Test packages: built at test time with wixl from the sources in
// tests/data/msi/, and changed with msibuild where a test needs a package
// that wixl will not make (unsafe names, cycles, missing cabinets).
#pragma once

#include <map>
#include <string>

// The variables of one build of a test product.
struct MsiTestProduct {
  std::string name;         // ProductName, also the name of its registry key
  std::string version;      // ProductVersion
  std::string product_code; // ProductCode ({GUID})
  std::string upgrade_code; // UpgradeCode ({GUID})
  std::string extra;        // name of the one file that may differ between versions
};

// A .wxs source of tests/data/msi/ ("app", "service") by full path; needs
// TQ_SOURCE_DIR, which the test programs define.
#define MSI_FIXTURE_SOURCE(name) (std::string(TQ_SOURCE_DIR "/tests/data/msi/") + (name) + ".wxs")

// True when wixl, msibuild and msiinfo can be run.
bool MsiFixtureToolsPresent();

// Builds `wxs` for product `p` into dir/out.msi, with the file sources
// written to a folder of dir first (each file's content is
// MsiFixtureContent) and `vars` as further wixl variables. Returns the
// package's path, or "" with wixl's output in *log.
std::string MsiFixtureBuild(const std::string& dir, const std::string& wxs, const MsiTestProduct& p,
                            const std::string& out, const std::map<std::string, std::string>& vars = {},
                            std::string* log = nullptr);

// The content that file `file` ("readme.txt", ...) of product `p` gets.
std::string MsiFixtureContent(const std::string& file, const MsiTestProduct& p);

// Runs SQL statements (one per line) on a package with msibuild; 0 on success.
int MsiFixtureSql(const std::string& package, const std::string& sql);

// Writes the cabinet stream `stream` of `package` to the file `out`; 0 on success.
int MsiFixtureExtractStream(const std::string& package, const std::string& stream, const std::string& out);

// Replaces (or adds) the stream `stream` of `package` with the file `in`; 0 on success.
int MsiFixtureAddStream(const std::string& package, const std::string& stream, const std::string& in);

// One argument quoted for /bin/sh.
std::string MsiFixtureQuote(const std::string& s);

// True when the installer knows the product code of `p` as installed.
bool MsiFixtureInstalled(const MsiTestProduct& p);
