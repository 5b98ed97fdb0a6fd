// RVSockStartup and RVConnectTcp: connects to loopback peers, refusals with
// their reports, and the growing connect time-out.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "connection/connect.h"
#include "runtime/report.h"
#include "tests/support/child.h"

namespace {

std::vector<std::string> g_errors;

void CaptureError(const char* text) { g_errors.push_back(text); }

// Captures RVReportError texts for the life of the object.
class ReportCapture {
 public:
  ReportCapture() {
    g_errors.clear();
    static const RVReportHooks hooks = {nullptr, nullptr, CaptureError};
    RVSetReportHooks(&hooks);
  }
  ~ReportCapture() { RVSetReportHooks(nullptr); }
  std::vector<std::string> Take() {
    std::vector<std::string> out;
    out.swap(g_errors);
    return out;
  }
};

// A listening socket on the loopback address of `family` (AF_INET or
// AF_INET6); port 0 when it cannot be made.
class Listener {
 public:
  explicit Listener(int family, bool any = false) : fd_(::socket(family, SOCK_STREAM, 0)) {
    sockaddr_storage ss{};
    socklen_t len;
    if (family == AF_INET) {
      auto* a = reinterpret_cast<sockaddr_in*>(&ss);
      a->sin_family = AF_INET;
      a->sin_addr.s_addr = htonl(any ? INADDR_ANY : INADDR_LOOPBACK);
      len = sizeof *a;
    } else {
      auto* a = reinterpret_cast<sockaddr_in6*>(&ss);
      a->sin6_family = AF_INET6;
      a->sin6_addr = in6addr_loopback;
      len = sizeof *a;
    }
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&ss), len) != 0 || ::listen(fd_, 4) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&ss), &len) != 0)
      return;
    port_ = ntohs(family == AF_INET ? reinterpret_cast<sockaddr_in*>(&ss)->sin_port
                                    : reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port);
  }
  ~Listener() {
    if (fd_ >= 0) ::close(fd_);
  }
  int port() const { return port_; }

 private:
  int fd_;
  int port_ = 0;
};

// A loopback port where nothing listens (bound, then released).
int RefusedPort() {
  int port;
  {
    Listener l(AF_INET);
    port = l.port();
  }
  return port;
}

bool IsBlocking(PlatSocket s) { return (::fcntl(s, F_GETFL, 0) & O_NONBLOCK) == 0; }

TEST(RVSockStartup, OnceWithResultZero) {
  EXPECT_EQ(RVSockStartup(), 0);
  EXPECT_EQ(RVSockStartup(), 0);
}

TEST(RVConnectTcp, ConnectsToListeningPorts) {
  ReportCapture reports;
  Listener v4(AF_INET);
  ASSERT_NE(v4.port(), 0);
  for (const char* host : {"127.0.0.1", "localhost"}) {
    SCOPED_TRACE(host);
    PlatSocket s = RVConnectTcp(host, v4.port());
    ASSERT_NE(s, PLAT_INVALID_SOCKET);
    EXPECT_TRUE(IsBlocking(s));
    // The connection carries data: the peer side is in the backlog.
    EXPECT_EQ(PlatSockSend(s, "x", 1), 1);
    PlatSockClose(s);
  }
  EXPECT_EQ(reports.Take(), std::vector<std::string>{});
  EXPECT_EQ(RVConnectTimeout(), 15);
}

TEST(RVConnectTcp, EmptyHostIsThisMachine) {
  ReportCapture reports;
  Listener any(AF_INET, true);
  ASSERT_NE(any.port(), 0);
  PlatSocket s = RVConnectTcp("", any.port());
  ASSERT_NE(s, PLAT_INVALID_SOCKET) << (reports.Take().empty() ? "" : "reported");
  PlatSockClose(s);
}

TEST(RVConnectTcp, NumericIpv6) {
  Listener v6(AF_INET6);
  if (v6.port() == 0) GTEST_SKIP() << "this host has no IPv6 loopback";
  ReportCapture reports;
  // "::1" stands for "localhost"; the bracket-free numeric form with a zone
  // suffix is still numeric.
  PlatSocket s = RVConnectTcp("::1", v6.port());
  if (s == PLAT_INVALID_SOCKET) {
    // localhost may name only the IPv4 address here; the numeric address
    // written otherwise must connect.
    reports.Take();
    s = RVConnectTcp("0:0:0:0:0:0:0:1", v6.port());
  }
  ASSERT_NE(s, PLAT_INVALID_SOCKET);
  PlatSockClose(s);
  PlatSocket z = RVConnectTcp("0::1%1", v6.port());
  ASSERT_NE(z, PLAT_INVALID_SOCKET);
  PlatSockClose(z);
}

TEST(RVConnectTcp, RefusedWithReports) {
  ReportCapture reports;
  int port = RefusedPort();
  EXPECT_EQ(RVConnectTcp("127.0.0.1", port), PLAT_INVALID_SOCKET);
  EXPECT_EQ(reports.Take(), (std::vector<std::string>{"Client error on socket()", "Last Error: 10061"}));
}

TEST(RVConnectTcp, UnknownHost) {
  ReportCapture reports;
  EXPECT_EQ(RVConnectTcp("no-such-host.invalid", 80), PLAT_INVALID_SOCKET);
  EXPECT_EQ(reports.Take(), (std::vector<std::string>{"Client error: Can't get addrinfo for srvr: no-such-host.invalid"}));
}

TEST(RVConnectTcp, TimeoutGrowsForRepeatedFailures) {
  ReportCapture reports;
  int port = RefusedPort();
  int other = RefusedPort();
  Listener live(AF_INET);
  ASSERT_NE(live.port(), 0);
  struct Step {
    const char* host; // where to connect
    int port;         // the port
    int timeout;      // the time-out that connect used
  } steps[] = {
      {"127.0.0.1", port, 15}, {"127.0.0.1", port, 30}, {"localhost", port, 45},  // "127.0.0.1" is "localhost"
      {"localhost", other, 15},                                                  // another port: back to 15
      {"localhost", other, 30}, {"localhost", other, 45}, {"localhost", other, 60}, {"localhost", other, 75},
      {"localhost", other, 90}, {"localhost", other, 105}, {"localhost", other, 120}, {"localhost", other, 120},
      {"localhost", live.port(), 15},  // a success elsewhere starts afresh
      {"localhost", live.port(), 15},  // and after a success there is no growth
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(std::string(s.host) + ":" + std::to_string(s.port));
    PlatSocket sock = RVConnectTcp(s.host, s.port);
    EXPECT_EQ(sock == PLAT_INVALID_SOCKET, s.port != live.port());
    PlatSockClose(sock);
    EXPECT_EQ(RVConnectTimeout(), s.timeout);
  }
}

// Connects three times to a peer that never answers, with the time-out's
// second shortened to 5 ms, then once to a peer that answers at once.
// Prints each result, its reports and the time-out it used. The silent peer
// is a listener on 10.77.0.1 (this namespace's loopback) whose accept queue
// is full and never emptied: the kernel drops every further SYN.
TQ_CHILD_ROLE(silent_peer_connects) {
  int l = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  ::inet_pton(AF_INET, "10.77.0.1", &a.sin_addr);
  socklen_t len = sizeof a;
  if (l < 0 || ::bind(l, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(l, 0) != 0 ||
      ::getsockname(l, reinterpret_cast<sockaddr*>(&a), &len) != 0)
    return 2;
  // Fill the accept queue: connect until one connect stays unanswered.
  std::vector<int> held;
  bool full = false;
  for (int i = 0; i < 16 && !full; ++i) {
    int c = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    ::connect(c, reinterpret_cast<sockaddr*>(&a), len);
    pollfd p{c, POLLOUT, 0};
    if (::poll(&p, 1, 500) == 0) full = true;
    held.push_back(c);
  }
  if (!full) return 3;
  ReportCapture reports;
  RVConnectSetSecondMs(5);
  int port = ntohs(a.sin_port);
  for (int i = 0; i < 3; ++i) {
    PlatSocket s = RVConnectTcp("10.77.0.1", port);
    std::printf("silent %s timeout %d", s == PLAT_INVALID_SOCKET ? "failed" : "connected", RVConnectTimeout());
    for (const std::string& r : reports.Take()) std::printf(" | %s", r.c_str());
    std::printf("\n");
    PlatSockClose(s);
  }
  Listener live(AF_INET);
  PlatSocket s = RVConnectTcp("127.0.0.1", live.port());
  std::printf("live %s timeout %d\n", s == PLAT_INVALID_SOCKET ? "failed" : "connected", RVConnectTimeout());
  PlatSockClose(s);
  RVConnectSetSecondMs(0);
  for (int c : held) ::close(c);
  ::close(l);
  return 0;
}

// A peer that never answers: each connect gives up with the time-out error,
// and the time-out grows from one failure to the next; a peer elsewhere that
// answers starts afresh. Everything lives in a network namespace of the
// test's own.
TEST(RVConnectTcp, SilentPeerTimesOutWithAGrowingTimeout) {
  std::string probe;
  if (TqRunCommand("unshare -n true", &probe) != 0) GTEST_SKIP() << "unshare -n is not permitted here: " << probe;
  std::string out;
  int rc = TqRunCommand("unshare -n sh -c 'ip link set lo up && ip addr add 10.77.0.1/32 dev lo && exec /proc/" +
                            std::to_string(::getpid()) + "/exe --tq-child silent_peer_connects'",
                        &out);
  ASSERT_EQ(rc, 0) << out;
  EXPECT_EQ(out,
            "silent failed timeout 15 | Client error on socket() | Last Error: 10060\n"
            "silent failed timeout 30 | Client error on socket() | Last Error: 10060\n"
            "silent failed timeout 45 | Client error on socket() | Last Error: 10060\n"
            "live connected timeout 15\n");
}

}  // namespace
