// RVLogWrite throughput against plain C stream appends of the same lines:
// opened and closed around every line (the service's keep-open-off setting)
// and kept open with a flush per line.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "runtime/log.h"
#include "runtime/mutex.h"

namespace {

std::string g_dir; // a temporary directory holding the relocated system and the logs

std::string PathOf(const char* name) { return g_dir + "/" + name; }

// The same line RVLogWrite writes, formatted the plain way.
void PlainLine(FILE* f, long n) {
  time_t t = ::time(nullptr);
  struct tm lt;
  localtime_r(&t, &lt);
  std::fprintf(f, "%04d/%02d/%02d %02d:%02d:%02d - %d - %s - %s %ld\n", lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday,
               lt.tm_hour, lt.tm_min, lt.tm_sec, static_cast<int>(::getpid()), "???",
               "Checking for Software Updates", n);
}

void BM_PlainOpenAppendClose(benchmark::State& state) {
  std::string path = PathOf("plain-open.txt");
  long n = 0;
  for (auto _ : state) {
    FILE* f = std::fopen(path.c_str(), "a");
    PlainLine(f, n++);
    std::fclose(f);
  }
  state.SetItemsProcessed(state.iterations());
  std::remove(path.c_str());
}
BENCHMARK(BM_PlainOpenAppendClose);

void BM_PlainKeptOpenFlush(benchmark::State& state) {
  std::string path = PathOf("plain-kept.txt");
  FILE* f = std::fopen(path.c_str(), "a");
  long n = 0;
  for (auto _ : state) {
    PlainLine(f, n++);
    std::fflush(f);
  }
  std::fclose(f);
  state.SetItemsProcessed(state.iterations());
  std::remove(path.c_str());
}
BENCHMARK(BM_PlainKeptOpenFlush);

// The service's log (own named mutex, 1 MiB rotation, one generation), with
// keep open off as the service runs it, or on.
void RunServiceLog(benchmark::State& state, bool keep_open) {
  std::string path = PathOf(keep_open ? "Log/kept.txt" : "Log/service.txt");
  if (RVLogOpenService(path.c_str()) != 0) {
    state.SkipWithError("RVLogOpenService failed");
    return;
  }
  RVLog* log = RVLogCurrent();
  if (keep_open) log->flags |= RV_LOG_KEEP_OPEN;
  long n = 0;
  for (auto _ : state) RVLogWrite(log, "%s %ld", "Checking for Software Updates", n++);
  RVLogClose();
  state.SetItemsProcessed(state.iterations());
  std::remove(path.c_str());
  std::remove((path + ".1").c_str());
}

void BM_RVLogWriteOpenPerLine(benchmark::State& state) { RunServiceLog(state, false); }
BENCHMARK(BM_RVLogWriteOpenPerLine);

void BM_RVLogWriteKeepOpen(benchmark::State& state) { RunServiceLog(state, true); }
BENCHMARK(BM_RVLogWriteKeepOpen);

}  // namespace

int main(int argc, char** argv) {
  char tmpl[] = "/tmp/tqbench-log-XXXXXX";
  if (!::mkdtemp(tmpl)) return 1;
  g_dir = tmpl;
  std::filesystem::create_directories(g_dir + "/system");
  std::filesystem::create_directories(g_dir + "/home");
  std::filesystem::create_directories(g_dir + "/common");
  ::setenv("TQ_SYSTEM_ROOT", (g_dir + "/system").c_str(), 1);
  ::setenv("HOME_TQ", (g_dir + "/home").c_str(), 1);
  ::setenv("TQ_FOLDER_COMMON_APPDATA", (g_dir + "/common").c_str(), 1);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  std::filesystem::remove_all(g_dir, ec);
  return 0;
}
