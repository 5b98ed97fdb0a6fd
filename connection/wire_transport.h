// The transports under a connection: a small table of byte operations, with
// a TCP socket instance and an in-memory one (two ends joined by byte queues
// in one process, for unit tests and fuzzing).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/socket.h"

// Result of a receive that saw no byte in time.
constexpr int RV_TRANSPORT_TIMEOUT = -2;

// The byte operations of one transport end; `ctx` is the end's own state.
struct RVTransport {
  // Sends up to `len` bytes, waiting at most `timeout_ms` for room: the bytes
  // sent (> 0), 0 when no room came in time, -1 with *err the error code.
  int (*send)(void* ctx, const unsigned char* data, int len, int timeout_ms, int* err);
  // Receives up to `len` bytes, waiting at most `timeout_ms` for the first:
  // the bytes received, 0 when the peer closed, -1 with *err the error code,
  // RV_TRANSPORT_TIMEOUT when nothing came in time.
  int (*recv)(void* ctx, unsigned char* buf, int len, int timeout_ms, int* err);
  // 1 when bytes can be received without waiting, else 0.
  int (*ready)(void* ctx);
  // Shuts the end down in both directions; later sends and receives fail.
  void (*shutdown)(void* ctx);
  // Releases the end's state (closing its socket when it owns it).
  void (*close)(void* ctx);
  // The socket under the end, or PLAT_INVALID_SOCKET.
  PlatSocket (*socket)(void* ctx);
};

// One bound transport end.
struct RVTransportEnd {
  const RVTransport* ops; // null: no transport
  void* ctx;
};

// A transport end over a connected socket, switched to non-blocking mode;
// `owns` closes the socket with the end.
RVTransportEnd RVTransportSocket(PlatSocket s, int owns);

// Two joined in-memory ends: what one sends the other receives. `capacity`
// bounds the bytes queued in each direction (0: no bound); a send to a full
// queue takes what fits and answers 0 when nothing fits. A receive on an
// empty queue answers at once: 0 once the other end is closed or shut down,
// else RV_TRANSPORT_TIMEOUT.
void RVTransportMemoryPair(size_t capacity, RVTransportEnd* a, RVTransportEnd* b);

// An in-memory end whose peer has already sent `data` and closed.
RVTransportEnd RVTransportMemoryInput(const unsigned char* data, size_t len);

// Bytes queued towards an in-memory end's peer, copied to `out` (at most
// `room`); returns the total queued. For tests that read what an end sent.
size_t RVTransportMemorySent(void* ctx, unsigned char* out, size_t room);

// XORs `mask` into the byte at `offset` of what an in-memory end has queued
// towards its peer; 0, or -1 when fewer bytes are queued. For tests.
int RVTransportMemoryFlip(void* ctx, size_t offset, unsigned char mask);
