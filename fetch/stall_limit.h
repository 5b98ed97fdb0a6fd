// How long the HTTP and HTTPS clients wait for a silent or slow peer.
#pragma once

#include <cstdint>

// The longest wait for the peer in one step of a fetch (connect, TLS
// handshake, each receive), in milliseconds: 120,000 unless a test set less.
int UpdFetchStallLimitMs();

// Test hook: sets the stall limit to `ms`; 0 or less restores 120 seconds.
void UpdFetchSetStallLimitForTest(int ms);

// The least rate of a fetch: a response that brings fewer than
// UpdFetchRateMinBytes() bytes within any UpdFetchRateWindowMs() from its
// first receive on ends as a receive failure. 8,192 bytes (one receive
// block) in 120,000 ms unless a test set other values.
int UpdFetchRateWindowMs();
int64_t UpdFetchRateMinBytes();

// Test hook: sets the rate window and its least bytes; 0 or less for
// either restores both.
void UpdFetchSetRateLimitForTest(int window_ms, int64_t min_bytes);

// Longest wait between two looks at the stop hook, in milliseconds.
constexpr int kUpdStopSliceMs = 200;
