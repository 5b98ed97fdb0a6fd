// TCP connects of the connection runtime.
#include "connection/connect.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "runtime/report.h"
#include "runtime/util.h"

namespace {

constexpr int kTimeoutStart = 15; // seconds of the first connect to a place
constexpr int kTimeoutStep = 15;  // seconds added after each failure there
constexpr int kTimeoutMax = 120;  // the longest time-out

// The process-wide connect time-out memory.
struct RVConnectMemory {
  char host[256];  // host of the last connect
  int port;        // port of the last connect
  int last_failed; // 1 when the last connect failed
  int timeout;     // current time-out in seconds, 15-120
};

RVConnectMemory g_connect = {{0}, 0, 0, kTimeoutStart};

// Milliseconds per second of the connect time-out (tests shorten it).
int g_second_ms = 1000;

// Result of the first RVSockStartup; 1 = not run yet.
int g_sock_started = 1;

// Applies the time-out rule for a connect to host and port.
void NextTimeout(const char* host, int port) {
  if (g_connect.last_failed && g_connect.port == port && std::strcmp(g_connect.host, host) == 0) {
    if (g_connect.timeout < kTimeoutMax) g_connect.timeout += kTimeoutStep;
    if (g_connect.timeout > kTimeoutMax) g_connect.timeout = kTimeoutMax;
  } else {
    g_connect.timeout = kTimeoutStart;
    std::snprintf(g_connect.host, sizeof g_connect.host, "%s", host);
    g_connect.port = port;
  }
  g_connect.last_failed = 0;
}

}  // namespace

int RVSockStartup() {
  // Sockets need no start on this platform; the once-only rule stays.
  if (g_sock_started != 1) return g_sock_started;
  g_sock_started = 0;
  return g_sock_started;
}

int RVConnectTimeout() { return g_connect.timeout; }

void RVConnectSetSecondMs(int ms) { g_second_ms = ms >= 1 && ms <= 1000 ? ms : 1000; }

PlatSocket RVConnectTcp(const char* host, int port) {
  char name[256];
  if (!host || !*host) {
    if (PlatSockHostName(name, sizeof name) != 0) {
      RVReportError("Client: socket create error: %d", PlatSockLastError());
      return PLAT_INVALID_SOCKET;
    }
  } else {
    std::snprintf(name, sizeof name, "%s", host);
  }
  if (std::strcmp(name, "::1") == 0 || std::strcmp(name, "127.0.0.1") == 0)
    std::snprintf(name, sizeof name, "%s", "localhost");

  // Numeric addresses are taken as they stand; an IPv6 zone suffix does not
  // count for telling the kind.
  char bare[256];
  std::snprintf(bare, sizeof bare, "%s", name);
  char* zone = std::strchr(bare, '%');
  if (zone) *zone = '\0';
  PlatSockFamily family = PLAT_AF_UNSPEC;
  int numeric = 0;
  if (PlatSockIsNumericV6(bare)) {
    family = PLAT_AF_INET6;
    numeric = 1;
  } else if (PlatSockIsNumericV4(name)) {
    family = PLAT_AF_INET;
    numeric = 1;
  }

  char service[16];
  std::snprintf(service, sizeof service, "%d", port);
  std::vector<PlatSockAddr> addrs;
  if (PlatSockResolve(name, service, family, numeric, &addrs) != 0) {
    RVReportError("Client error: Can't get addrinfo for srvr: %s", name);
    return PLAT_INVALID_SOCKET;
  }

  NextTimeout(name, port);
  int timeout_ms = static_cast<int>(RVWaitMs(g_connect.timeout, static_cast<uint32_t>(g_second_ms)));
  PlatSocket s = PLAT_INVALID_SOCKET;
  bool connected = false;
  for (const PlatSockAddr& addr : addrs) {
    s = PlatSockCreate(static_cast<PlatSockFamily>(addr.family));
    if (s == PLAT_INVALID_SOCKET) continue;
    if (PlatSockSetNonBlocking(s, 1) == 0) {
      if (PlatSockConnect(s, &addr) == 0) {
        connected = true;
        break;
      }
      int err = PlatSockLastError();
      if ((err == WSAEWOULDBLOCK || err == WSAEINPROGRESS) && PlatSockWaitConnect(s, timeout_ms) == 0) {
        connected = true;
        break;
      }
    }
    int err = PlatSockLastError();
    PlatSockClose(s);
    PlatSockSetLastError(err);
    s = PLAT_INVALID_SOCKET;
  }
  if (!connected) RVReportError("Client error on socket()");
  if (connected && PlatSockSetNonBlocking(s, 0) != 0) connected = false;
  if (!connected) {
    RVReportError("Last Error: %d", PlatSockLastError());
    PlatSockClose(s);
    g_connect.last_failed = 1;
    return PLAT_INVALID_SOCKET;
  }
  return s;
}
