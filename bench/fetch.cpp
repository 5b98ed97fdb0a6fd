// HttpGet and HttpsGet fetching one 256 MiB file over loopback, beside curl
// fetching the same file from the same peer in the same run, once without
// any sync and once followed by a sync of the file: python3 -m http.server
// for HTTP, openssl s_server -WWW for HTTPS. The LocalShare copy of the same
// file beside cp followed by a sync of the copy.
//
//   bench_fetch [--benchmark_filter=...]
//
// The received files go to a temporary directory, or to TQ_BENCH_OUT_DIR
// when set (our clients have their file on disk when they report success;
// curl does not, curl+sync does). At the end the ratios of the times are
// printed.
#include <benchmark/benchmark.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <unistd.h>
#include <vector>

#include "fetch/fetch_settings.h"
#include "fetch/http_get.h"
#include "fetch/local_share.h"

namespace {

constexpr size_t kFileSize = 256u << 20; // the fetched file

std::string g_dir;      // temporary directory: served files, relocated system
std::string g_out_dir;  // where fetched files go
int g_http_port = 0;    // python3 -m http.server
int g_https_port = 0;   // openssl s_server -WWW
std::vector<pid_t> g_peers;
std::map<std::string, double> g_seconds;  // mean seconds per fetch, by benchmark

int FreePort() {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  ::close(s);
  return port;
}

bool Listening(int port) {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(s);
  return ok;
}

// Starts a peer in `dir` and waits for it to listen on `port`.
bool StartPeer(const std::vector<std::string>& argv, const std::string& dir, int port) {
  pid_t pid = ::fork();
  if (pid == 0) {
    int null_fd = ::open("/dev/null", O_RDWR);
    ::dup2(null_fd, 0);
    ::dup2(null_fd, 1);
    ::dup2(null_fd, 2);
    if (::chdir(dir.c_str()) != 0) ::_exit(126);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  g_peers.push_back(pid);
  for (int i = 0; i < 400; ++i) {
    if (Listening(port)) return true;
    ::usleep(50 * 1000);
  }
  return false;
}

void SetServer(int port) {
  g_upd_fetch.server = "127.0.0.1:" + std::to_string(port);
}

// Runs one fetch per iteration, timing it, and keeps the mean.
template <typename Fetch>
void Run(benchmark::State& state, const char* name, Fetch fetch) {
  std::string out = g_out_dir + "/" + name + ".bin";
  double total = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    bool ok = fetch(out);
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    state.SetIterationTime(s);
    total += s;
    std::error_code ec;
    if (!ok || std::filesystem::file_size(out, ec) != kFileSize) state.SkipWithError("fetch failed");
    std::filesystem::remove(out, ec);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
  if (state.iterations() > 0) g_seconds[name] = total / static_cast<double>(state.iterations());
}

bool Curl(const std::string& url, const std::string& out, bool tls, bool sync = false) {
  std::string cmd = "curl -s --http1.0 " + std::string(tls ? "-k " : "") + "-o '" + out + "' '" + url + "'";
  if (sync) cmd += " && sync '" + out + "'";
  return std::system(cmd.c_str()) == 0;
}

void BM_HttpGet(benchmark::State& state) {
  SetServer(g_http_port);
  Run(state, "HttpGet", [](const std::string& out) { return HttpGet("/big.bin", out.c_str()) == 0; });
}

void BM_CurlHttp(benchmark::State& state) {
  std::string url = "http://127.0.0.1:" + std::to_string(g_http_port) + "/big.bin";
  Run(state, "CurlHttp", [&](const std::string& out) { return Curl(url, out, false); });
}

void BM_HttpsGet(benchmark::State& state) {
  SetServer(g_https_port);
  Run(state, "HttpsGet", [](const std::string& out) { return HttpsGet("/big.bin", out.c_str()) == 0; });
}

void BM_CurlHttps(benchmark::State& state) {
  std::string url = "https://127.0.0.1:" + std::to_string(g_https_port) + "/big.bin";
  Run(state, "CurlHttps", [&](const std::string& out) { return Curl(url, out, true); });
}

void BM_CurlHttpSync(benchmark::State& state) {
  std::string url = "http://127.0.0.1:" + std::to_string(g_http_port) + "/big.bin";
  Run(state, "CurlHttpSync", [&](const std::string& out) { return Curl(url, out, false, true); });
}

void BM_CurlHttpsSync(benchmark::State& state) {
  std::string url = "https://127.0.0.1:" + std::to_string(g_https_port) + "/big.bin";
  Run(state, "CurlHttpsSync", [&](const std::string& out) { return Curl(url, out, true, true); });
}

void BM_LocalShare(benchmark::State& state) {
  std::string src = g_dir + "/www/big.bin";
  Run(state, "LocalShare", [&](const std::string& out) { return UpdLocalShareCopy(src.c_str(), out.c_str()) == 0; });
}

void BM_CpSync(benchmark::State& state) {
  std::string src = g_dir + "/www/big.bin";
  Run(state, "CpSync", [&](const std::string& out) {
    return std::system(("cp '" + src + "' '" + out + "' && sync '" + out + "'").c_str()) == 0;
  });
}

BENCHMARK(BM_HttpGet)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CurlHttp)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HttpsGet)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CurlHttps)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CurlHttpSync)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CurlHttpsSync)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LocalShare)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CpSync)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

void Ratio(const char* ours, const char* curl) {
  if (g_seconds.count(ours) && g_seconds.count(curl) && g_seconds[curl] > 0)
    std::printf("%s / %s: %.2f (%.0f ms vs %.0f ms)\n", ours, curl, g_seconds[ours] / g_seconds[curl],
                g_seconds[ours] * 1000, g_seconds[curl] * 1000);
}

}  // namespace

int main(int argc, char** argv) {
  std::string tmpl = (std::filesystem::temp_directory_path() / "tqbench-fetch-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) return 1;
  g_dir = tmpl;
  const char* out_dir = std::getenv("TQ_BENCH_OUT_DIR");
  g_out_dir = out_dir && *out_dir ? out_dir : g_dir + "/out";
  for (const char* d : {"/system", "/home", "/common", "/www", "/out"}) std::filesystem::create_directories(g_dir + d);
  ::setenv("TQ_SYSTEM_ROOT", (g_dir + "/system").c_str(), 1);
  ::setenv("HOME_TQ", (g_dir + "/home").c_str(), 1);
  ::setenv("TQ_FOLDER_COMMON_APPDATA", (g_dir + "/common").c_str(), 1);

  {
    std::ofstream f(g_dir + "/www/big.bin", std::ios::binary);
    std::string chunk(1 << 20, '\0');
    uint32_t x = 12345;
    for (size_t i = 0; i < kFileSize; i += chunk.size()) {
      for (char& c : chunk) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
      f.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    }
  }
  std::string cmd = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=bench.invalid -keyout '" + g_dir +
                    "/key.pem' -out '" + g_dir + "/cert.pem' >/dev/null 2>&1";
  int rc = std::system(cmd.c_str());
  g_http_port = FreePort();
  g_https_port = FreePort();
  bool up = rc == 0 &&
            StartPeer({"python3", "-m", "http.server", std::to_string(g_http_port), "--bind", "127.0.0.1"},
                      g_dir + "/www", g_http_port) &&
            StartPeer({"openssl", "s_server", "-accept", "127.0.0.1:" + std::to_string(g_https_port), "-WWW",
                       "-quiet", "-cert", g_dir + "/cert.pem", "-key", g_dir + "/key.pem"},
                      g_dir + "/www", g_https_port);

  if (up) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Ratio("HttpGet", "CurlHttp");
    Ratio("HttpGet", "CurlHttpSync");
    Ratio("HttpsGet", "CurlHttps");
    Ratio("HttpsGet", "CurlHttpsSync");
    Ratio("LocalShare", "CpSync");
  } else {
    std::fprintf(stderr, "peers did not start\n");
  }
  for (pid_t p : g_peers) {
    ::kill(p, SIGTERM);
    ::waitpid(p, nullptr, 0);
  }
  std::error_code ec;
  std::filesystem::remove_all(g_dir, ec);
  return up ? 0 : 1;
}
