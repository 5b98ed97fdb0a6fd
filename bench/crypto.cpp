// Crypto library throughput: digest_file with SHA-1 and SHA-256 on a 256 MiB
// file beside the sha1sum and sha256sum commands on the same file, and RSA
// signature verifications per second. The file lives in a temporary
// directory that is removed at the end; the ratios are printed after the
// benchmark table.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "crypto/crypto_lib.h"

namespace {

constexpr int64_t kFileSize = 256ll << 20;

std::string g_dir;   // the temporary directory
std::string g_file;  // the 256 MiB file
RVCryptoLib g_lib;   // a record filled by the linked-in RVCryptoInit
std::map<std::string, double> g_best_mib_s;  // best throughput of each measurement

// Writes kFileSize bytes of pseudo-random data.
bool MakeFile() {
  char tmpl[] = "/tmp/tqbench-crypto-XXXXXX";
  if (!::mkdtemp(tmpl)) return false;
  g_dir = tmpl;
  g_file = g_dir + "/data.bin";
  std::ofstream out(g_file, std::ios::binary);
  std::vector<uint64_t> block(1 << 17);  // 1 MiB
  uint64_t x = 0x9E3779B97F4A7C15ull;
  for (int64_t done = 0; done < kFileSize; done += 1 << 20) {
    for (uint64_t& v : block) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      v = x;
    }
    out.write(reinterpret_cast<const char*>(block.data()), 1 << 20);
  }
  return static_cast<bool>(out);
}

// Runs a command and returns its standard output.
std::string Run(const std::string& command) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  ::pclose(p);
  return out;
}

std::string Hex(const unsigned char* data, int len) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (int i = 0; i < len; i++) {
    s.push_back(digits[data[i] >> 4]);
    s.push_back(digits[data[i] & 15]);
  }
  return s;
}

void Record(const std::string& name, double seconds) {
  double mib_s = static_cast<double>(kFileSize) / (1 << 20) / seconds;
  double& best = g_best_mib_s[name];
  best = std::max(best, mib_s);
}

void BM_DigestFile(benchmark::State& state, int type, const char* name) {
  unsigned char md[RV_DIGEST_MAX_LEN];
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    int n = g_lib.digest_file(g_file.c_str(), md, type);
    auto t1 = std::chrono::steady_clock::now();
    if (n <= 0) state.SkipWithError("digest_file failed");
    Record(name, std::chrono::duration<double>(t1 - t0).count());
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
}

void BM_Coreutils(benchmark::State& state, const char* command) {
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    std::string out = Run(std::string(command) + " '" + g_file + "'");
    auto t1 = std::chrono::steady_clock::now();
    if (out.empty()) state.SkipWithError("command failed");
    Record(command, std::chrono::duration<double>(t1 - t0).count());
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
}

// RSA-3072 (the size of the update signing key) verifications of a SHA-1
// PKCS #1 v1.5 signature.
void BM_RsaVerify(benchmark::State& state) {
  std::string key_file = g_dir + "/rsa.pem";
  std::string pub_file = g_dir + "/rsa-pub.pem";
  Run("openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:3072 -out '" + key_file + "' 2>/dev/null");
  Run("openssl pkey -in '" + key_file + "' -pubout -out '" + pub_file + "' 2>/dev/null");
  void* priv = g_lib.private_key_read_file(key_file.c_str(), nullptr, RV_CRYPTO_RSA);
  void* pub = g_lib.public_key_read_file(pub_file.c_str(), RV_CRYPTO_RSA);
  if (!priv || !pub) {
    state.SkipWithError("no RSA key");
    return;
  }
  const unsigned char data[] = "digest of an install package";
  unsigned char sig[512];
  int n = g_lib.sign(priv, data, static_cast<int>(sizeof data), sig, RV_CRYPTO_RSA, nullptr);
  for (auto _ : state) {
    int ok = g_lib.verify(pub, data, static_cast<int>(sizeof data), sig, n, RV_CRYPTO_RSA, nullptr);
    if (ok != 0) state.SkipWithError("verify failed");
  }
  state.SetItemsProcessed(state.iterations());
  g_lib.key_free(priv, RV_CRYPTO_RSA);
  g_lib.key_free(pub, RV_CRYPTO_RSA);
}

}  // namespace

int main(int argc, char** argv) {
  g_lib.caller_version = RV_CRYPTO_VERSION;
  if (RVCryptoInit(&g_lib) != 0 || !MakeFile()) {
    std::fprintf(stderr, "set-up failed\n");
    return 1;
  }
  // The two implementations agree on the file before they are timed.
  unsigned char md[RV_DIGEST_MAX_LEN];
  int n = g_lib.digest_file(g_file.c_str(), md, RV_DIGEST_SHA256);
  std::string theirs = Run("sha256sum '" + g_file + "'");
  if (n != 32 || theirs.compare(0, 64, Hex(md, n)) != 0) std::fprintf(stderr, "digests differ\n");

  benchmark::RegisterBenchmark("digest_file/SHA-1", BM_DigestFile, RV_DIGEST_SHA1, "digest_file SHA-1")
      ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(4);
  benchmark::RegisterBenchmark("sha1sum", BM_Coreutils, "sha1sum")
      ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(4);
  benchmark::RegisterBenchmark("digest_file/SHA-256", BM_DigestFile, RV_DIGEST_SHA256, "digest_file SHA-256")
      ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(4);
  benchmark::RegisterBenchmark("sha256sum", BM_Coreutils, "sha256sum")
      ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(4);
  benchmark::RegisterBenchmark("verify/RSA-3072", BM_RsaVerify)->Unit(benchmark::kMicrosecond);

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  auto ratio = [](const char* ours, const char* theirs) {
    double a = g_best_mib_s[ours], b = g_best_mib_s[theirs];
    if (a > 0 && b > 0)
      std::printf("%-20s %8.1f MiB/s   %-10s %8.1f MiB/s   ratio %.2f\n", ours, a, theirs, b, a / b);
  };
  std::printf("\nBest of each on the same 256 MiB file:\n");
  ratio("digest_file SHA-1", "sha1sum");
  ratio("digest_file SHA-256", "sha256sum");

  std::error_code ec;
  std::filesystem::remove_all(g_dir, ec);
  return 0;
}
