// How long the HTTP and HTTPS clients wait for a silent peer.
#include "fetch/stall_limit.h"

#include <atomic>

namespace {

constexpr int kStallLimitMs = 120 * 1000; // two minutes

std::atomic<int> g_stall_limit_ms{kStallLimitMs};

}  // namespace

int UpdFetchStallLimitMs() { return g_stall_limit_ms.load(); }

void UpdFetchSetStallLimitForTest(int ms) { g_stall_limit_ms.store(ms > 0 ? ms : kStallLimitMs); }
