// How long the HTTP and HTTPS clients wait for a silent or slow peer.
#include "fetch/stall_limit.h"

#include <atomic>

namespace {

constexpr int kStallLimitMs = 120 * 1000; // two minutes of silence
constexpr int kRateWindowMs = 120 * 1000; // the same two minutes ...
constexpr int64_t kRateMinBytes = 8192;   // ... must bring one receive block

std::atomic<int> g_stall_limit_ms{kStallLimitMs};
std::atomic<int> g_rate_window_ms{kRateWindowMs};
std::atomic<int64_t> g_rate_min_bytes{kRateMinBytes};

}  // namespace

int UpdFetchStallLimitMs() { return g_stall_limit_ms.load(); }

void UpdFetchSetStallLimitForTest(int ms) { g_stall_limit_ms.store(ms > 0 ? ms : kStallLimitMs); }

int UpdFetchRateWindowMs() { return g_rate_window_ms.load(); }

int64_t UpdFetchRateMinBytes() { return g_rate_min_bytes.load(); }

void UpdFetchSetRateLimitForTest(int window_ms, int64_t min_bytes) {
  bool reset = window_ms <= 0 || min_bytes <= 0;
  g_rate_window_ms.store(reset ? kRateWindowMs : window_ms);
  g_rate_min_bytes.store(reset ? kRateMinBytes : min_bytes);
}
