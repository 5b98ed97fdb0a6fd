// Uncontended lock/unlock of the platform mutex object and of RVMutex,
// unnamed (in-process) and named (cross-process, flock-backed), against a
// std::mutex.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>

#include "platform/named_mutex.h"
#include "runtime/mutex.h"

namespace {

const char* NameFor(benchmark::State& state) { return state.range(0) ? "Global\\bench-mutex" : nullptr; }

void BM_StdMutex(benchmark::State& state) {
  std::mutex m;
  for (auto _ : state) {
    m.lock();
    m.unlock();
  }
}
BENCHMARK(BM_StdMutex);

// range(0): 0 = unnamed, 1 = named.
void BM_PlatMutexWaitRelease(benchmark::State& state) {
  PlatMutex* m = PlatMutexCreate(NameFor(state), nullptr);
  for (auto _ : state) {
    PlatMutexWait(m, 0xFFFFFFFFu);
    PlatMutexRelease(m);
  }
  PlatMutexClose(m);
}
BENCHMARK(BM_PlatMutexWaitRelease)->Arg(0)->Arg(1);

void BM_RVMutexLockUnlock(benchmark::State& state) {
  RVMutex* m = RVMutexAlloc();
  m->flags |= RV_MUTEX_AUTHUSER;
  RVMutexCreate(m, NameFor(state));
  for (auto _ : state) {
    RVMutexLock(m);
    RVMutexUnlock(m);
  }
  RVMutexFree(m);
}
BENCHMARK(BM_RVMutexLockUnlock)->Arg(0)->Arg(1);

// Taking a mutex the thread already holds (recursion) costs no system call.
void BM_RVMutexRecursive(benchmark::State& state) {
  RVMutex* m = RVMutexAlloc();
  RVMutexCreate(m, NameFor(state));
  RVMutexLock(m);
  for (auto _ : state) {
    RVMutexLock(m);
    RVMutexUnlock(m);
  }
  RVMutexUnlock(m);
  RVMutexFree(m);
}
BENCHMARK(BM_RVMutexRecursive)->Arg(0)->Arg(1);

}  // namespace

int main(int argc, char** argv) {
  char tmpl[] = "/tmp/tqbench-mutex-XXXXXX";
  if (!::mkdtemp(tmpl)) return 1;
  std::string dir = tmpl;
  ::setenv("TQ_SYSTEM_ROOT", dir.c_str(), 1);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return 0;
}
