// The socket and in-memory transports.
#include "connection/wire_transport.h"

#include <deque>
#include <memory>

namespace {

// --- socket ---

struct SocketEnd {
  PlatSocket s;
  int owns;
};

int SockSend(void* ctx, const unsigned char* data, int len, int timeout_ms, int* err) {
  auto* e = static_cast<SocketEnd*>(ctx);
  for (;;) {
    int n = PlatSockSend(e->s, reinterpret_cast<const char*>(data), len);
    if (n > 0) return n;
    if (n == 0) return 0;
    int code = PlatSockLastError();
    if (code != WSAEWOULDBLOCK) {
      *err = code;
      return -1;
    }
    int r = PlatSockWait(e->s, 1, timeout_ms);
    if (r == 0) return 0;
    if (r < 0) {
      *err = PlatSockLastError();
      return -1;
    }
  }
}

int SockRecv(void* ctx, unsigned char* buf, int len, int timeout_ms, int* err) {
  auto* e = static_cast<SocketEnd*>(ctx);
  for (;;) {
    int n = PlatSockRecv(e->s, reinterpret_cast<char*>(buf), len, timeout_ms);
    if (n >= 0) return n;
    int code = PlatSockLastError();
    if (code == WSAETIMEDOUT) return RV_TRANSPORT_TIMEOUT;
    if (code == WSAEWOULDBLOCK) continue;  // readable but nothing after all: wait again
    *err = code;
    return -1;
  }
}

int SockReady(void* ctx) { return PlatSockWait(static_cast<SocketEnd*>(ctx)->s, 0, 0) == 1 ? 1 : 0; }

void SockShutdown(void* ctx) { PlatSockShutdown(static_cast<SocketEnd*>(ctx)->s); }

void SockClose(void* ctx) {
  auto* e = static_cast<SocketEnd*>(ctx);
  if (e->owns) PlatSockClose(e->s);
  delete e;
}

PlatSocket SockSocket(void* ctx) { return static_cast<SocketEnd*>(ctx)->s; }

const RVTransport kSocketOps = {SockSend, SockRecv, SockReady, SockShutdown, SockClose, SockSocket};

// --- in memory ---

struct MemPipe {
  std::deque<unsigned char> q[2]; // q[i]: bytes towards end i
  bool down[2] = {false, false};  // end i closed or shut down
  size_t capacity = 0;
};

struct MemEnd {
  std::shared_ptr<MemPipe> pipe;
  int side;
};

int MemSend(void* ctx, const unsigned char* data, int len, int, int* err) {
  auto* e = static_cast<MemEnd*>(ctx);
  MemPipe& p = *e->pipe;
  if (p.down[e->side] || p.down[1 - e->side]) {
    *err = WSAECONNRESET;
    return -1;
  }
  std::deque<unsigned char>& q = p.q[1 - e->side];
  size_t n = static_cast<size_t>(len);
  if (p.capacity) n = q.size() >= p.capacity ? 0 : std::min(n, p.capacity - q.size());
  q.insert(q.end(), data, data + n);
  return static_cast<int>(n);
}

int MemRecv(void* ctx, unsigned char* buf, int len, int, int* err) {
  auto* e = static_cast<MemEnd*>(ctx);
  MemPipe& p = *e->pipe;
  if (p.down[e->side]) {
    *err = WSAESHUTDOWN;
    return -1;
  }
  std::deque<unsigned char>& q = p.q[e->side];
  if (q.empty()) return p.down[1 - e->side] ? 0 : RV_TRANSPORT_TIMEOUT;
  int n = 0;
  while (n < len && !q.empty()) {
    buf[n++] = q.front();
    q.pop_front();
  }
  return n;
}

int MemReady(void* ctx) {
  auto* e = static_cast<MemEnd*>(ctx);
  return e->pipe->q[e->side].empty() ? 0 : 1;
}

void MemShutdown(void* ctx) {
  auto* e = static_cast<MemEnd*>(ctx);
  e->pipe->down[e->side] = true;
}

void MemClose(void* ctx) {
  auto* e = static_cast<MemEnd*>(ctx);
  e->pipe->down[e->side] = true;
  delete e;
}

PlatSocket MemSocket(void*) { return PLAT_INVALID_SOCKET; }

const RVTransport kMemoryOps = {MemSend, MemRecv, MemReady, MemShutdown, MemClose, MemSocket};

}  // namespace

RVTransportEnd RVTransportSocket(PlatSocket s, int owns) {
  PlatSockSetNonBlocking(s, 1);
  return RVTransportEnd{&kSocketOps, new SocketEnd{s, owns}};
}

void RVTransportMemoryPair(size_t capacity, RVTransportEnd* a, RVTransportEnd* b) {
  auto pipe = std::make_shared<MemPipe>();
  pipe->capacity = capacity;
  *a = RVTransportEnd{&kMemoryOps, new MemEnd{pipe, 0}};
  *b = RVTransportEnd{&kMemoryOps, new MemEnd{pipe, 1}};
}

RVTransportEnd RVTransportMemoryInput(const unsigned char* data, size_t len) {
  auto pipe = std::make_shared<MemPipe>();
  pipe->q[0].assign(data, data + len);
  pipe->down[1] = true;
  return RVTransportEnd{&kMemoryOps, new MemEnd{pipe, 0}};
}

size_t RVTransportMemorySent(void* ctx, unsigned char* out, size_t room) {
  auto* e = static_cast<MemEnd*>(ctx);
  const std::deque<unsigned char>& q = e->pipe->q[1 - e->side];
  for (size_t i = 0; i < q.size() && i < room; ++i) out[i] = q[i];
  return q.size();
}

int RVTransportMemoryFlip(void* ctx, size_t offset, unsigned char mask) {
  auto* e = static_cast<MemEnd*>(ctx);
  std::deque<unsigned char>& q = e->pipe->q[1 - e->side];
  if (offset >= q.size()) return -1;
  q[offset] ^= mask;
  return 0;
}
