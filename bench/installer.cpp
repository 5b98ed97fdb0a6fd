// The installer against the package tool's plain extraction of the same
// package, in one run: a package of 1,000 small files and a package of one
// 100 MiB file, each installed and removed (journal, staging beside the
// targets, registry, database) per iteration, and extracted by msiextract.
// The ratio of the two times is what to watch.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "platform/installer.h"

namespace fs = std::filesystem;

namespace {

std::string g_dir;          // temporary directory with the relocated system and the packages
std::string g_small_pkg;    // package of 1,000 small files
std::string g_big_pkg;      // package of one 100 MiB file
constexpr int kSmallFiles = 1000;
constexpr size_t kSmallSize = 512;
constexpr size_t kBigSize = 100u << 20;

const char kSmallCode[] = "{6F1C2A10-0000-4000-8000-0000000B0001}";
const char kBigCode[] = "{6F1C2A10-0000-4000-8000-0000000B0002}";

// Writes `size` bytes of varied (hardly compressible) data.
void WriteData(const std::string& path, size_t size, uint32_t seed) {
  std::ofstream out(path, std::ios::binary);
  std::string buf(1 << 16, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t done = 0; done < size;) {
    size_t n = std::min(buf.size(), size - done);
    for (size_t i = 0; i < n; i++) {
      x = x * 1664525u + 1013904223u;
      buf[i] = static_cast<char>(x >> 24);
    }
    out.write(buf.data(), static_cast<std::streamsize>(n));
    done += n;
  }
}

// Builds a package of the given files (names relative to `src`) with wixl.
std::string BuildPackage(const std::string& name, const std::string& code, const std::string& src,
                         const std::vector<std::string>& files) {
  std::string wxs = g_dir + "/" + name + ".wxs";
  std::ofstream w(wxs);
  w << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
       "<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">\n"
       "<Product Id=\""
    << code << "\" Name=\"" << name
    << "\" Language=\"1033\" Version=\"1.0.0\" Manufacturer=\"TQ Software\""
       " UpgradeCode=\"{6F1C2A10-BBBB-4000-8000-0000000B0000}\">\n"
       "<Package InstallerVersion=\"200\" Compressed=\"yes\" InstallScope=\"perMachine\" />\n"
       "<Media Id=\"1\" Cabinet=\"b.cab\" EmbedCab=\"yes\" />\n"
       "<Directory Id=\"TARGETDIR\" Name=\"SourceDir\"><Directory Id=\"INSTALLDIR\" Name=\"b\">\n"
       "<Component Id=\"Files\" Guid=\"*\">\n";
  for (size_t i = 0; i < files.size(); i++) {
    w << "<File Id=\"F" << i << "\" Name=\"" << files[i] << "\" Source=\"" << src << "/" << files[i] << "\" />\n";
  }
  w << "</Component>\n"
       "<Component Id=\"Reg\" Guid=\"*\"><RegistryValue Root=\"HKLM\" Key=\"SOFTWARE\\TQ Software\\"
    << name
    << "\" Name=\"Version\" Type=\"string\" Value=\"[ProductVersion]\" KeyPath=\"yes\" /></Component>\n"
       "</Directory></Directory>\n"
       "<Feature Id=\"Main\" Level=\"1\"><ComponentRef Id=\"Files\" /><ComponentRef Id=\"Reg\" /></Feature>\n"
       "</Product></Wix>\n";
  w.close();
  std::string out = name + ".msi";
  std::string cmd = "cd '" + g_dir + "' && wixl -o '" + out + "' '" + wxs + "' >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0 ? g_dir + "/" + out : std::string();
}

// Bytes of files a package holds (for the throughput shown).
int64_t PackageBytes(const std::string& pkg) {
  return pkg == g_big_pkg ? static_cast<int64_t>(kBigSize) : static_cast<int64_t>(kSmallFiles * kSmallSize);
}

// Total size of the files below `dir`.
int64_t TreeBytes(const std::string& dir) {
  int64_t n = 0;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec); it != fs::recursive_directory_iterator(); ++it) {
    if (it->is_regular_file()) n += static_cast<int64_t>(it->file_size());
  }
  return n;
}

void InstallRemove(benchmark::State& state, const std::string& pkg, const char* code) {
  if (pkg.empty()) {
    state.SkipWithError("wixl could not build the package");
    return;
  }
  std::string target = g_dir + "/target";
  std::string cmd = "ALLUSERS=1 TARGETDIR=\"" + target + "\" INSTALLDIR=\"" + target + "\"";
  for (auto _ : state) {
    if (MsiInstallProductA(pkg.c_str(), cmd.c_str()) != MSI_OK) {
      state.SkipWithError("installation failed");
      return;
    }
    if (state.iterations() == 0 && TreeBytes(target) != PackageBytes(pkg)) {
      state.SkipWithError("the installed files do not add up");
      return;
    }
    if (MsiConfigureProductA(code, INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT) != MSI_OK) {
      state.SkipWithError("removal failed");
      return;
    }
  }
  state.SetBytesProcessed(state.iterations() * PackageBytes(pkg));
}

void Extract(benchmark::State& state, const std::string& pkg) {
  if (pkg.empty()) {
    state.SkipWithError("wixl could not build the package");
    return;
  }
  std::string out = g_dir + "/extracted";
  std::string cmd = "msiextract -C '" + out + "' '" + pkg + "' >/dev/null 2>&1";
  for (auto _ : state) {
    fs::create_directories(out);
    if (std::system(cmd.c_str()) != 0) {
      state.SkipWithError("msiextract failed");
      return;
    }
    if (state.iterations() == 0 && TreeBytes(out) != PackageBytes(pkg)) {
      state.SkipWithError("the extracted files do not add up");
      return;
    }
    fs::remove_all(out);
  }
  state.SetBytesProcessed(state.iterations() * PackageBytes(pkg));
}

void BM_InstallRemove_1000Files(benchmark::State& state) { InstallRemove(state, g_small_pkg, kSmallCode); }
void BM_Msiextract_1000Files(benchmark::State& state) { Extract(state, g_small_pkg); }
void BM_InstallRemove_100MiB(benchmark::State& state) { InstallRemove(state, g_big_pkg, kBigCode); }
void BM_Msiextract_100MiB(benchmark::State& state) { Extract(state, g_big_pkg); }

BENCHMARK(BM_InstallRemove_1000Files)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Msiextract_1000Files)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_InstallRemove_100MiB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Msiextract_100MiB)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  const char* tmp = std::getenv("TMPDIR");
  std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/tq-bench-msi-XXXXXX";
  if (!::mkdtemp(tmpl.data())) return 1;
  g_dir = tmpl;
  for (const char* d : {"system", "programs", "common", "appdata", "documents", "small", "big"}) {
    fs::create_directories(g_dir + "/" + d);
  }
  ::setenv("TQ_SYSTEM_ROOT", (g_dir + "/system").c_str(), 1);
  ::setenv("TQ_FOLDER_PROGRAM_FILES", (g_dir + "/programs").c_str(), 1);
  ::setenv("TQ_FOLDER_COMMON_APPDATA", (g_dir + "/common").c_str(), 1);
  ::setenv("TQ_FOLDER_APPDATA", (g_dir + "/appdata").c_str(), 1);
  ::setenv("TQ_FOLDER_DOCUMENTS", (g_dir + "/documents").c_str(), 1);

  std::vector<std::string> small;
  for (int i = 0; i < kSmallFiles; i++) {
    small.push_back("f" + std::to_string(i) + ".txt");
    WriteData(g_dir + "/small/" + small.back(), kSmallSize, static_cast<uint32_t>(i));
  }
  WriteData(g_dir + "/big/big.bin", kBigSize, 7);
  g_small_pkg = BuildPackage("tqbenchsmall-win64", kSmallCode, "small", small);
  g_big_pkg = BuildPackage("tqbenchbig-win64", kBigCode, "big", {"big.bin"});

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  fs::remove_all(g_dir);
  return 0;
}
