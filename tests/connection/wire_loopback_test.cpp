// Both ends over loopback sockets: a server end on its own thread echoing,
// and a corrupting relay between the ends that damages one byte of the
// client's stream. With checks and the resend queue the damaged frame is
// repaired by a resynchronisation and every message arrives intact.
#include <gtest/gtest.h>

#include <poll.h>
#include <thread>
#include <vector>

#include "connection/connect.h"
#include "connection/ext.h"
#include "connection/ext_reliable.h"
#include "runtime/report.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Serves one client on `listener`: type 7 is echoed as type 8 under the
// reply id; type 99 ends.
void EchoServer(PlatSocket listener) {
  RVExt* s = RVExtAccept(listener, 10000);
  if (!s) return;
  for (;;) {
    RVMsg* m = RVExtGetMsg(s);
    if (!m) break;
    int type = m->type;
    if (type == 7) {
      RVExtMsgBegin(s, 8, m->id);
      RVExtPutBytes(s, m->body.data(), m->body.size());
      RVExtRestoreContext(s);
      RVExtFlush(s);
    }
    RVMsgFree(m);
    if (type == 99) break;
  }
  RVExtFree(s);
}

// Relays bytes between a client and the server port; XORs 0x40 into the
// client's byte at offset `flip` (negative: none).
void Relay(PlatSocket listener, int server_port, long flip) {
  PlatSocket c = PlatSockAccept(listener, 10000);
  if (c == PLAT_INVALID_SOCKET) return;
  PlatSocket s = RVConnectTcp("127.0.0.1", server_port);
  long offset = 0;
  char buf[4096];
  for (;;) {
    PlatSocket both[2] = {c, s};
    int ready[2] = {0, 0};
    if (PlatSockWaitMany(both, 2, 10000, ready) <= 0) break;
    bool done = false;
    for (int i = 0; i < 2 && !done; ++i) {
      if (!ready[i]) continue;
      int n = PlatSockRecv(both[i], buf, sizeof buf, 0);
      if (n <= 0) {
        done = true;
        break;
      }
      if (i == 0 && flip >= offset && flip < offset + n) buf[flip - offset] ^= 0x40;
      if (i == 0) offset += n;
      for (int sent = 0; sent < n;) {
        int k = PlatSockSend(both[1 - i], buf + sent, n - sent);
        if (k <= 0) {
          done = true;
          break;
        }
        sent += k;
      }
    }
    if (done) break;
  }
  PlatSockShutdown(c);
  PlatSockShutdown(s);
  PlatSockClose(c);
  PlatSockClose(s);
}

struct RelayCase {
  const char* name;
  long flip;           // offset in the client's stream, -1 none
  int resyncs;         // resynchronisations the server end makes
};

TEST(WireLoopback, EchoThroughCorruptingRelay) {
  const RelayCase cases[] = {{"clean", -1, 0}, {"body byte", 20000, 1}, {"header byte", 40002, 1}};
  for (const RelayCase& c : cases) {
    SCOPED_TRACE(c.name);
    int server_port = 0, relay_port = 0;
    PlatSocket sl = RVExtListen(0, 1, &server_port);
    PlatSocket rl = RVExtListen(0, 1, &relay_port);
    ASSERT_NE(sl, PLAT_INVALID_SOCKET);
    std::thread server(EchoServer, sl);
    std::thread relay(Relay, rl, server_port, c.flip);
    PlatSocket cs = RVConnectTcp("127.0.0.1", relay_port);
    ASSERT_NE(cs, PLAT_INVALID_SOCKET);
    RVExt* e = RVExtFromSocket(cs, 0);
    ASSERT_EQ(RVExtProposeOptions(e, RVOPT_CHECKS_ON | RVOPT_EXTENDED | RVOPT_QUEUE_ON), 0);
    const int kCount = 200;
    std::vector<int> ids;
    for (int i = 0; i < kCount; ++i) {
      Bytes body(500);
      for (size_t k = 0; k < body.size(); ++k) body[k] = static_cast<unsigned char>(i + k);
      RVExtMsgBegin(e, 7, 0);
      RVExtPutBytes(e, body.data(), body.size());
      ids.push_back(RVExtRestoreContext(e));
      RVExtFlush(e);
    }
    for (int i = 0; i < kCount; ++i) {
      RVMsg* m = RVExtGetMsgById(e, ids[i], 10000);
      ASSERT_TRUE(m) << i;
      EXPECT_EQ(m->type, 8);
      Bytes body(500);
      for (size_t k = 0; k < body.size(); ++k) body[k] = static_cast<unsigned char>(i + k);
      EXPECT_EQ(m->body, body) << i;
      RVMsgFree(m);
    }
    EXPECT_EQ(RVExtAttrGet(e, 106), 0);
    EXPECT_EQ(RVExtAttrGet(e, 211), c.resyncs);
    RVExtSendSimple(e, 99, 0, nullptr, 0);
    RVExtFlush(e);
    server.join();
    RVExtFree(e);
    relay.join();
    PlatSockClose(sl);
    PlatSockClose(rl);
  }
}

}  // namespace
