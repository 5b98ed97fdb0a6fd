// How long the HTTP and HTTPS clients wait for a silent peer.
#pragma once

// The longest wait for the peer in one step of a fetch (connect, TLS
// handshake, each receive), in milliseconds: 120,000 unless a test set less.
int UpdFetchStallLimitMs();

// Test hook: sets the stall limit to `ms`; 0 or less restores 120 seconds.
void UpdFetchSetStallLimitForTest(int ms);
