// Shared pieces of the installer's tests.
#include "tests/platform/installer_test_util.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

#include "platform/installer.h"
#include "platform/registry.h"

namespace fs = std::filesystem;

const MsiTestProduct kAppOld = {"tqtestapp-win64", "1.0.0", "{6F1C2A10-0000-4000-8000-000000000001}",
                                "{6F1C2A10-AAAA-4000-8000-00000000000A}", "legacy.txt"};
const MsiTestProduct kAppNew = {"tqtestapp-win64", "2.1.0", "{6F1C2A10-0000-4000-8000-000000000002}",
                                "{6F1C2A10-AAAA-4000-8000-00000000000A}", "extra.txt"};
const MsiTestProduct kOther = {"tqother-win64", "3.0.0", "{6F1C2A10-0000-4000-8000-000000000003}",
                               "{6F1C2A10-BBBB-4000-8000-00000000000B}", "extra.txt"};

std::string EngineCommandLine(const std::string& dir, bool force_reboot) {
  std::string w = dir;
  for (char& c : w) {
    if (c == '/') c = '\\';
  }
  return "ALLUSERS=1 TARGETDIR=\"" + w + "\" INSTALLDIR=\"" + w + "\"" +
         (force_reboot ? " REBOOT=FORCE" : " REBOOT=ReallySuppress");
}

MsiState ReadMsiState(const TempSystem& sys, const std::string& skip) {
  MsiState s{};
  char first[64];
  MsiEnumProductsA(0, first);  // settles an operation left over by a killed process
  fs::path root(sys.root());
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    std::string rel = fs::relative(it->path(), root).string();
    if (rel == "system" || rel == skip) {
      it.disable_recursion_pending();
      continue;
    }
    if (it->is_directory() && !it->is_symlink()) {
      s.files[rel] = "<dir>";
    } else {
      std::ifstream in(it->path(), std::ios::binary);
      std::ostringstream b;
      b << in.rdbuf();
      s.files[rel] = b.str();
    }
  }
  PlatHKey k = nullptr;
  if (PlatRegOpenKey(PLAT_HKEY_LOCAL_MACHINE, "SOFTWARE", PLAT_KEY_READ, &k) == 0) {
    PlatRegExport(k, &s.registry);
    PlatRegCloseKey(k);
  }
  char code[64];
  for (uint32_t i = 0; MsiEnumProductsA(i, code) == MSI_OK; i++) {
    MSIHANDLE h = 0;
    if (MsiOpenProductA(code, &h) != MSI_OK) continue;
    char v[256], n[256];
    uint32_t vs = sizeof v, ns = sizeof n;
    MsiGetProductPropertyA(h, "ProductVersion", v, &vs);
    MsiGetProductPropertyA(h, "ProductName", n, &ns);
    MsiCloseHandle(h);
    s.products += std::string(code) + " " + v + " " + n + "\n";
  }
  s.journal = fs::exists(sys.path("system/installer/journal"));
  return s;
}

std::string DescribeMsiState(const MsiState& s) {
  std::string o = "files:\n";
  for (const auto& [k, v] : s.files) o += "  " + k + " = " + (v.size() > 60 ? v.substr(0, 60) + "..." : v) + "\n";
  o += "registry:\n" + s.registry + "products:\n" + s.products + (s.journal ? "journal left\n" : "");
  return o;
}

bool operator==(const MsiState& a, const MsiState& b) {
  return a.files == b.files && a.registry == b.registry && a.products == b.products && a.journal == b.journal;
}

std::string RegText(const std::string& key, const std::string& name) {
  PlatHKey k = nullptr;
  if (PlatRegOpenKey(PLAT_HKEY_LOCAL_MACHINE, key.c_str(), PLAT_KEY_READ, &k) != 0) return "<missing>";
  char buf[4096];
  uint32_t size = sizeof buf, type = 0;
  uint32_t r = PlatRegQueryValue(k, name.c_str(), &type, buf, &size);
  PlatRegCloseKey(k);
  if (r != 0) return "<missing>";
  return std::string(buf, size > 0 && buf[size - 1] == '\0' ? size - 1 : size);
}

std::map<std::string, std::string> ProductFiles(const MsiTestProduct& p) {
  return {{"readme.txt", MsiFixtureContent("readme.txt", p)},
          {p.extra, MsiFixtureContent("extra.txt", p)},
          {"bin/main.txt", MsiFixtureContent("main.txt", p)},
          {"bin/helper.txt", MsiFixtureContent("helper.txt", p)},
          {"data/deep dir/table.txt", MsiFixtureContent("table.txt", p)}};
}

std::string SharedPackageDir() {
  static std::once_flag once;
  static std::string dir;
  std::call_once(once, [] {
    const char* base = std::getenv("TMPDIR");
    std::string t = std::string(base && *base ? base : "/tmp") + "/tq-msi-pkgs-XXXXXX";
    std::vector<char> buf(t.begin(), t.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data())) dir = buf.data();
    std::atexit([] {
      std::error_code ec;
      if (!dir.empty()) fs::remove_all(dir, ec);
    });
  });
  return dir;
}

std::string SharedPackage(const std::string& source, const MsiTestProduct& p, const std::string& out,
                          const std::map<std::string, std::string>& vars) {
  static std::mutex lock;
  std::lock_guard<std::mutex> g(lock);
  std::string path = SharedPackageDir() + "/" + out + ".msi";
  if (fs::exists(path)) return path;
  std::string log;
  std::string built = MsiFixtureBuild(SharedPackageDir(), source, p, out, vars, &log);
  EXPECT_FALSE(built.empty()) << log;
  return built;
}

std::string TqmsiPath() { return TQ_BINARY_DIR "/platform/tqmsi"; }
