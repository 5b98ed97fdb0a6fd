// Test packages built with wixl and changed with msibuild.
#include "tests/support/msi_fixture.h"

#include "platform/installer.h"

#include <filesystem>
#include <fstream>

#include "tests/support/child.h"

namespace {

// The file sources every test product has.
const char* const kSourceFiles[] = {"readme.txt", "main.txt", "helper.txt", "table.txt", "extra.txt"};

}  // namespace

std::string MsiFixtureQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

bool MsiFixtureToolsPresent() {
  return TqRunCommand("command -v wixl && command -v msibuild && command -v msiinfo") == 0;
}

std::string MsiFixtureContent(const std::string& file, const MsiTestProduct& p) {
  return file + " of " + p.name + " " + p.version + "\n";
}

std::string MsiFixtureBuild(const std::string& dir, const std::string& wxs, const MsiTestProduct& p,
                            const std::string& out, const std::map<std::string, std::string>& vars, std::string* log) {
  std::string src = dir + "/src-" + out;
  std::filesystem::create_directories(src);
  for (const char* f : kSourceFiles) {
    std::ofstream(src + "/" + f, std::ios::binary) << MsiFixtureContent(f, p);
  }
  std::map<std::string, std::string> all = {{"Name", p.name},
                                            {"Version", p.version},
                                            {"ProductCode", p.product_code},
                                            {"UpgradeCode", p.upgrade_code},
                                            {"Extra", p.extra.empty() ? "extra.txt" : p.extra},
                                            {"Src", "src-" + out}};  // wixl wants it relative
  for (const auto& [k, v] : vars) all[k] = v;
  std::string path = dir + "/" + out + ".msi";
  std::string cmd = "cd " + MsiFixtureQuote(dir) + " && wixl -o " + MsiFixtureQuote(out + ".msi");
  for (const auto& [k, v] : all) cmd += " -D " + MsiFixtureQuote(k + "=" + v);
  cmd += " " + MsiFixtureQuote(wxs) + " 2>&1";
  std::string output;
  if (TqRunCommand(cmd, &output) != 0 || !std::filesystem::exists(path)) {
    if (log) *log = output;
    return std::string();
  }
  return path;
}

int MsiFixtureSql(const std::string& package, const std::string& sql) {
  size_t start = 0;
  while (start < sql.size()) {
    size_t end = sql.find('\n', start);
    if (end == std::string::npos) end = sql.size();
    std::string one = sql.substr(start, end - start);
    start = end + 1;
    if (one.empty()) continue;
    int rc = TqRunCommand("msibuild " + MsiFixtureQuote(package) + " -q " + MsiFixtureQuote(one));
    if (rc != 0) return rc;
  }
  return 0;
}

int MsiFixtureExtractStream(const std::string& package, const std::string& stream, const std::string& out) {
  return TqRunCommand("(msiinfo extract " + MsiFixtureQuote(package) + " " + MsiFixtureQuote(stream) + " > " +
                      MsiFixtureQuote(out) + ")");
}

int MsiFixtureAddStream(const std::string& package, const std::string& stream, const std::string& in) {
  return TqRunCommand("msibuild " + MsiFixtureQuote(package) + " -a " + MsiFixtureQuote(stream) + " " +
                      MsiFixtureQuote(in) + " 2>&1");
}

bool MsiFixtureInstalled(const MsiTestProduct& p) {
  MSIHANDLE h = 0;
  if (MsiOpenProductA(p.product_code.c_str(), &h) != MSI_OK) return false;
  MsiCloseHandle(h);
  return true;
}
