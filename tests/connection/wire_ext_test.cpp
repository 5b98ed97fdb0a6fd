// Connections over the in-memory transport: building, fragmenting, joining,
// ids, replies, strings, negotiation, acknowledgements, the resend queue,
// encryption with rekey, and the reader's faults.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "connection/ext.h"
#include "connection/ext_channel.h"
#include "connection/ext_reliable.h"
#include "crypto/crypto_runtime.h"
#include "runtime/report.h"

namespace {

using Bytes = std::vector<unsigned char>;

std::vector<std::string> g_errors;
void CaptureError(const char* text) { g_errors.push_back(text); }

// A client and a server end joined in memory; report errors captured.
class WirePair : public ::testing::Test {
 protected:
  void SetUp() override {
    g_errors.clear();
    static const RVReportHooks hooks = {nullptr, nullptr, CaptureError};
    RVSetReportHooks(&hooks);
    RVTransportEnd a, b;
    RVTransportMemoryPair(0, &a, &b);
    client = RVExtFromTransport(a, 0);
    server = RVExtFromTransport(b, 1);
  }
  void TearDown() override {
    RVExtFree(client);
    RVExtFree(server);
    RVSetReportHooks(nullptr);
  }
  // Bytes the client has queued towards the server.
  Bytes Sent() {
    Bytes out(1 << 20);
    size_t n = RVTransportMemorySent(client->io.ctx, out.data(), out.size());
    out.resize(n);
    return out;
  }
  // The next message on `e` that is not internal; null when none.
  static RVMsg* Next(RVExt* e) {
    for (;;) {
      RVMsg* m = RVExtGetMsg(e);
      if (!m || m->type != RVMSG_NOOP) return m;
      RVMsgFree(m);
    }
  }
  // Sends one message of `type` carrying `body` from `from`, flushed.
  static int Send(RVExt* from, int type, const Bytes& body, int id = 0) {
    EXPECT_EQ(RVExtMsgBegin(from, type, id), 0);
    RVExtPutBytes(from, body.data(), body.size());
    int sent = RVExtRestoreContext(from);
    RVExtFlush(from);
    return sent;
  }
  RVExt* client = nullptr;
  RVExt* server = nullptr;
};

TEST_F(WirePair, PlainFrameOnTheWire) {
  ASSERT_EQ(RVExtMsgBegin(client, 1, 0), 0);
  EXPECT_EQ(RVExtPutShort(client, 0x1234), 2);
  EXPECT_EQ(RVExtRestoreContext(client), 1);
  RVExtFlush(client);
  EXPECT_EQ(Sent(), (Bytes{0x00, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x12, 0x34}));
  RVMsg* m = Next(server);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->type, 1);
  EXPECT_EQ(RVMsgGetShort(m), 0x1234);
  EXPECT_EQ(RVMsgGetShort(m), 0xFFFF);  // beyond the end
  RVMsgFree(m);
}

TEST_F(WirePair, LongMessageLeavesAsFragments) {
  Bytes body(1001, 0xAB);
  Send(client, 1, body);
  Bytes wire = Sent();
  // first fragment: bit 15, 1,000 bytes; then a 9998 of the same id with one byte
  ASSERT_EQ(wire.size(), 8u + 1000u + 8u + 1u);
  EXPECT_EQ(Bytes(wire.begin(), wire.begin() + 8), (Bytes{0x80, 0x01, 0x03, 0xE8, 0x00, 0x00, 0x00, 0x01}));
  EXPECT_EQ(Bytes(wire.begin() + 1008, wire.end()), (Bytes{0x27, 0x0E, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0xAB}));
  RVMsg* m = Next(server);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->type, 1);
  EXPECT_EQ(m->body, body);
  RVMsgFree(m);
}

TEST_F(WirePair, BodiesOfManySizesArriveWhole) {
  const size_t sizes[] = {0, 1, 1000, 1008, 100000};
  for (size_t size : sizes) {
    SCOPED_TRACE(size);
    Bytes body(size);
    for (size_t i = 0; i < size; ++i) body[i] = static_cast<unsigned char>(i * 7 + 3);
    Send(client, 42, body);
    RVMsg* m = Next(server);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->type, 42);
    EXPECT_EQ(m->body, body);
    RVMsgFree(m);
  }
}

TEST_F(WirePair, NestedMessageArrivesBetweenFragments) {
  ASSERT_EQ(RVExtMsgBegin(client, 10, 0), 0);
  Bytes first(1500, 0x11);
  RVExtPutBytes(client, first.data(), first.size());
  ASSERT_EQ(RVExtMsgBegin(client, 20, 0), 0);
  RVExtPutShort(client, 77);
  RVExtRestoreContext(client);
  Bytes rest(10, 0x22);
  RVExtPutBytes(client, rest.data(), rest.size());
  RVExtRestoreContext(client);
  RVExtFlush(client);
  RVMsg* b = Next(server);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->type, 20);
  EXPECT_EQ(RVMsgGetShort(b), 77);
  RVMsg* a = Next(server);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->type, 10);
  Bytes want = first;
  want.insert(want.end(), rest.begin(), rest.end());
  EXPECT_EQ(a->body, want);
  RVMsgFree(a);
  RVMsgFree(b);
}

TEST_F(WirePair, AutomaticIdsWrapToOne) {
  client->next_id = 32766;
  EXPECT_EQ(Send(client, 1, {}), 32767);
  EXPECT_EQ(Send(client, 1, {}), 1);
}

TEST_F(WirePair, ReplyCarriesNegatedIdAndIsFoundById) {
  int req = Send(client, 100, {1});
  RVMsg* m = Next(server);
  ASSERT_TRUE(m);
  Send(server, 101, {}, 999);  // an unrelated reply first
  Send(server, 100, {2}, m->id);
  RVMsgFree(m);
  RVMsg* r = RVExtGetMsgById(client, req, 0);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->id, -req);
  EXPECT_EQ(r->body, Bytes{2});
  RVMsgFree(r);
}

TEST_F(WirePair, StringsRoundTripAndTruncate) {
  ASSERT_EQ(RVExtMsgBegin(client, 5, 0), 0);
  EXPECT_EQ(RVExtPutStr(client, "hello"), 6);
  EXPECT_EQ(RVExtPutStr(client, nullptr), 0);
  std::string big(3000, 'x');
  EXPECT_EQ(RVExtPutStr(client, big.c_str()), 3001);
  std::string huge(65535, 'y');
  EXPECT_EQ(RVExtPutStr(client, huge.c_str()), 0);  // refused
  RVExtPutShort(client, 0xFFFF);                     // a string of length 0xFFFF
  RVExtRestoreContext(client);
  RVExtFlush(client);
  RVMsg* m = Next(server);
  ASSERT_TRUE(m);
  char buf[4096];
  EXPECT_EQ(RVMsgGetStr(m, buf, sizeof buf), 6);
  EXPECT_STREQ(buf, "hello");
  EXPECT_EQ(RVMsgGetStr(m, buf, sizeof buf), 1);
  g_errors.clear();
  char small[11];
  EXPECT_EQ(RVMsgGetStr(m, small, sizeof small), 11);
  EXPECT_STREQ(small, "xxxxxxxxxx");
  ASSERT_EQ(g_errors.size(), 1u);
  EXPECT_EQ(g_errors[0], "RVMsgGetStr() - truncated 2990 chars from string: xxxxxxxxxx");
  EXPECT_EQ(RVMsgGetStr(m, buf, sizeof buf), 1);  // 0xFFFF reads as empty
  EXPECT_STREQ(buf, "");
  RVMsgFree(m);
}

TEST_F(WirePair, NegotiationSwitchesBothEndsToExtendedChecks) {
  ASSERT_EQ(RVExtProposeOptions(client, RVOPT_CHECKS_ON | RVOPT_EXTENDED | RVOPT_QUEUE_ON), 0);
  EXPECT_TRUE(client->flags & RVEXT_SEND_CHECKED);
  RVMsg* m = RVExtGetMsg(server);  // the proposal, consumed
  ASSERT_TRUE(m);
  EXPECT_EQ(m->type, RVMSG_NOOP);
  RVMsgFree(m);
  EXPECT_TRUE(server->flags & RVEXT_RECV_CHECKED);
  EXPECT_TRUE(server->flags & RVEXT_EXTENDED);
  EXPECT_TRUE(server->flags & RVEXT_SEND_CHECKED);
  EXPECT_TRUE(server->flags & RVEXT_SEND_ACKS);
  m = RVExtGetMsg(client);  // the answer
  ASSERT_TRUE(m);
  RVMsgFree(m);
  EXPECT_TRUE(client->flags & RVEXT_RECV_CHECKED);
  EXPECT_TRUE(client->flags & RVEXT_RESEND_QUEUE);
  // the answer brought nothing new to the client: no further 2027
  EXPECT_EQ(RVExtAttrGet(client, 320), 0);
  EXPECT_EQ(Sent().size(), 0u);
  // messages now flow checked both ways and are queued until acknowledged
  for (int i = 0; i < 150; ++i) Send(client, 7, {static_cast<unsigned char>(i)});
  EXPECT_GT(client->queue.size(), 0u);
  for (int i = 0; i < 150; ++i) {
    RVMsg* r = Next(server);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->body, Bytes{static_cast<unsigned char>(i)});
    RVMsgFree(r);
  }
  Send(server, 8, {});  // carries or follows an acknowledgement
  RVMsg* r = Next(client);
  ASSERT_TRUE(r);
  RVMsgFree(r);
  EXPECT_GE(RVExtAttrGet(client, 310), 1);
  Send(client, 7, {});
  EXPECT_LE(client->queue.size(), 2u);
}

TEST_F(WirePair, DamagedHeaderWithoutPeerBreaksWithText) {
  RVExtApplySendOptions(client, RVOPT_CHECKS_ON);
  server->flags |= RVEXT_RECV_CHECKED;
  Send(client, 1, {0x12, 0x34});
  RVTransportMemoryFlip(client->io.ctx, 5, 0x01);
  EXPECT_EQ(RVExtGetMsg(server), nullptr);
  EXPECT_TRUE(server->flags & RVEXT_BROKEN);
  ASSERT_FALSE(g_errors.empty());
  EXPECT_EQ(g_errors.back(), "Unrecoverable Header Checksum Error - 2");
}

// The bytes after the 9702 marker frame that `server` receives from a
// client answering a resynchronisation request for `x`.
struct ResyncCase {
  const char* name;
  int x;               // id the request carries; 1000 = the id of the 3rd message
  int status0, status1;
  size_t resent;       // messages sent again
};

TEST_F(WirePair, ResyncRequestAnswersStatusAndResendsQueue) {
  const ResyncCase cases[] = {
      {"unknown id", 0x7FFF, 0x7F, 0xFF, 5},
      {"after the third", 1000, 0x00, 0x00, 2},
  };
  for (const ResyncCase& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    WirePair::SetUp();
    RVExtApplySendOptions(client, RVOPT_CHECKS_ON);
    client->flags |= RVEXT_RESEND_QUEUE | RVEXT_RECV_CHECKED;
    server->flags |= RVEXT_RECV_CHECKED;
    RVExtApplySendOptions(server, RVOPT_CHECKS_ON);
    std::vector<int> ids;
    for (int i = 0; i < 5; ++i) ids.push_back(Send(client, 30 + i, {static_cast<unsigned char>(i)}));
    EXPECT_EQ(client->queue.size(), 5u);
    for (int i = 0; i < 5; ++i) RVMsgFree(Next(server));
    int x = c.x == 1000 ? ids[2] : c.x;
    Send(server, RVMSG_RESYNC_REQ, {static_cast<unsigned char>(x >> 8), static_cast<unsigned char>(x)});
    RVMsg* m = RVExtGetMsg(client);  // handled: marker, status, the queue again
    ASSERT_TRUE(m);
    EXPECT_EQ(m->type, RVMSG_NOOP);
    RVMsgFree(m);
    Bytes wire = Sent();
    // the marker frame: short 11, the 11 characters, the id asked for
    ASSERT_GE(wire.size(), 10u + 15u + 12u);
    EXPECT_EQ(wire[0] << 8 | wire[1], RVMSG_RESYNC_MARK);
    EXPECT_EQ(std::string(wire.begin() + 12, wire.begin() + 23), "__tq_sync__");
    EXPECT_EQ(wire[23] << 8 | wire[24], x & 0xFFFF);
    EXPECT_EQ(wire[25] << 8 | wire[26], RVMSG_STATUS);
    EXPECT_EQ(wire[35], c.status0);
    EXPECT_EQ(wire[36], c.status1);
    // the resent messages follow under -|id|, 11 bytes each
    ASSERT_EQ(wire.size(), 37u + 11u * c.resent);
    for (size_t k = 0; k < c.resent; ++k) {
      const unsigned char* f = wire.data() + 37 + 11 * k;
      int16_t id = static_cast<int16_t>(f[6] << 8 | f[7]);
      EXPECT_EQ(id, -ids[5 - c.resent + k]);
      EXPECT_EQ(f[10], 5 - c.resent + k);
    }
    EXPECT_EQ(RVExtAttrGet(client, 211), 1);
  }
}

struct ReaderFault {
  const char* name;
  Bytes wire;
  const char* text;
};

TEST(WireReader, FaultsBreakWithTheirText) {
  const ReaderFault cases[] = {
      {"plain length 1025", {0x00, 0x01, 0x04, 0x01, 0, 0, 0, 1}, "Unrecoverable Header Checksum Error - 1"},
      {"plain type 0xFFFF", {0xFF, 0xFF, 0x00, 0x00, 0, 0, 0, 1}, "Unrecoverable Header Checksum Error - 1"},
      {"9998 with none open", {0x27, 0x0E, 0x00, 0x00, 0, 0, 0, 1}, "Fragment Error"},
      {"9998 with another id",
       {0x80, 0x01, 0x00, 0x00, 0, 0, 0, 1, 0x27, 0x0E, 0x00, 0x00, 0, 0, 0, 2},
       "Fragment Error"},
      {"first fragment twice",
       {0x80, 0x01, 0x00, 0x00, 0, 0, 0, 1, 0x80, 0x01, 0x00, 0x00, 0, 0, 0, 1},
       "Fragment Error"},
  };
  for (const ReaderFault& c : cases) {
    SCOPED_TRACE(c.name);
    g_errors.clear();
    static const RVReportHooks hooks = {nullptr, nullptr, CaptureError};
    RVSetReportHooks(&hooks);
    RVExt* e = RVExtFromTransport(RVTransportMemoryInput(c.wire.data(), c.wire.size()), 1);
    e->flags &= ~RVEXT_SEND_CLOSE;
    EXPECT_EQ(RVExtGetMsg(e), nullptr);
    EXPECT_TRUE(e->flags & RVEXT_BROKEN);
    ASSERT_FALSE(g_errors.empty());
    EXPECT_EQ(g_errors.back(), c.text);
    RVExtFree(e);
    RVSetReportHooks(nullptr);
  }
}

TEST(WireReader, TooManyOpenFragmentsAndUnreadMessages) {
  Bytes wire;
  for (int id = 1; id <= 9; ++id) wire.insert(wire.end(), {0x80, 0x01, 0x00, 0x00, 0, 0, 0, static_cast<unsigned char>(id)});
  g_errors.clear();
  static const RVReportHooks hooks = {nullptr, nullptr, CaptureError};
  RVSetReportHooks(&hooks);
  RVExt* e = RVExtFromTransport(RVTransportMemoryInput(wire.data(), wire.size()), 1);
  e->flags &= ~RVEXT_SEND_CLOSE;
  EXPECT_EQ(RVExtGetMsg(e), nullptr);
  ASSERT_FALSE(g_errors.empty());
  EXPECT_EQ(g_errors.back(), "Fragment Error");
  RVExtFree(e);

  wire.clear();
  for (int i = 0; i <= 4096; ++i) wire.insert(wire.end(), {0x00, 0x01, 0x00, 0x00, 0, 0, 0, 1});
  e = RVExtFromTransport(RVTransportMemoryInput(wire.data(), wire.size()), 1);
  e->flags &= ~RVEXT_SEND_CLOSE;
  int types[] = {2};
  EXPECT_EQ(RVExtGetMsgOfType(e, types, 1, 0), nullptr);
  EXPECT_EQ(g_errors.back(), "Too Many Unread Messages");
  RVExtFree(e);
  RVSetReportHooks(nullptr);
}

TEST(WireReader, PeerClosingMidFrameBreaksWithCodeZero) {
  const unsigned char wire[] = {0x00, 0x01, 0x00, 0x04, 0, 0, 0, 1, 0xAA};
  RVExt* e = RVExtFromTransport(RVTransportMemoryInput(wire, sizeof wire), 1);
  e->flags &= ~RVEXT_SEND_CLOSE;
  EXPECT_EQ(RVExtGetMsg(e), nullptr);
  EXPECT_EQ(RVExtAttrGet(e, 106), 1);
  EXPECT_EQ(RVExtAttrGet(e, 312), 0);
  RVExtFree(e);
}

// --- channel ---

class WireCipher : public WirePair {
 protected:
  void SetUp() override {
    ASSERT_EQ(RVCryptoInitLibBare(), 0);
    WirePair::SetUp();
  }
  void Install(int algorithm, int key_len) {
    unsigned char key[16], iv[16], saved[16];
    for (int i = 0; i < 16; ++i) {
      key[i] = static_cast<unsigned char>(i);
      iv[i] = static_cast<unsigned char>(0xA0 + i);
      saved[i] = static_cast<unsigned char>(0x50 + i);
    }
    int iv_len = algorithm == RV_CIPHER_AES ? 16 : 8;
    ASSERT_EQ(RVChannelInstall(client, algorithm, 1, key, key_len, iv, iv_len, saved, key_len), 0);
    ASSERT_EQ(RVChannelInstall(server, algorithm, 1, key, key_len, iv, iv_len, saved, key_len), 0);
  }
};

TEST_F(WireCipher, EncryptedBodiesMatchTheOpensslCommand) {
  struct Case {
    int algorithm;
    const char* name;
    int per_message;
  } cases[] = {{RV_CIPHER_AES, "aes-128-cbc", 0}, {RV_CIPHER_AES, "aes-128-cbc", 1},
               {RV_CIPHER_BLOWFISH, "bf-cbc", 0}, {RV_CIPHER_BLOWFISH, "bf-cbc", 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + (c.per_message ? " per-message" : " base"));
    TearDown();
    WirePair::SetUp();
    Install(c.algorithm, 16);
    if (c.per_message) client->flags |= RVEXT_SEND_VECTORS;
    else client->flags &= ~RVEXT_SEND_VECTORS;
    server->flags = (server->flags & ~RVEXT_RECV_VECTORS) | (c.per_message ? static_cast<uint32_t>(RVEXT_RECV_VECTORS) : 0u);
    int n = c.algorithm == RV_CIPHER_AES ? 16 : 8;
    // the vector of type 1, id 5 derived with the command, independently
    std::string ivhex;
    char hex[3];
    if (!c.per_message) {
      for (int i = 0; i < n; ++i) {
        int b = 0xA0 + i + (i == 1 ? 5 : 0);
        std::snprintf(hex, sizeof hex, "%02x", b & 0xFF);
        ivhex += hex;
      }
    } else {
      std::string block = "\\000\\000\\000\\005\\000\\000\\000\\001";
      for (int i = 8; i < n; ++i) block += "\\000";
      std::string base;
      for (int i = 0; i < n; ++i) {
        std::snprintf(hex, sizeof hex, "%02x", 0xA0 + i);
        base += hex;
      }
      std::string cmd = "printf '" + block + "' | openssl enc -" + c.name + (c.algorithm == RV_CIPHER_BLOWFISH ? " -provider legacy -provider default" : "") +
                        " -K 000102030405060708090a0b0c0d0e0f -iv " + base + " | od -An -v -tx1 | tr -d ' \\n' | cut -c1-" +
                        std::to_string(2 * n);
      FILE* p = popen(cmd.c_str(), "r");
      ASSERT_TRUE(p);
      char out[128] = {0};
      ASSERT_TRUE(std::fgets(out, sizeof out, p));
      pclose(p);
      ivhex = out;
      while (!ivhex.empty() && ivhex.back() == '\n') ivhex.pop_back();
    }
    std::string cmd = std::string("printf '\\022\\064' | openssl enc -") + c.name +
                      (c.algorithm == RV_CIPHER_BLOWFISH ? " -provider legacy -provider default" : "") +
                      " -K 000102030405060708090a0b0c0d0e0f -iv " + ivhex + " | od -An -v -tx1 | tr -d ' \\n'";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_TRUE(p);
    char out[256] = {0};
    ASSERT_TRUE(std::fgets(out, sizeof out, p));
    pclose(p);
    client->next_id = 4;
    Send(client, 1, {0x12, 0x34});
    Bytes wire = Sent();
    ASSERT_EQ(wire.size(), 8u + static_cast<size_t>(n));
    std::string got;
    for (size_t i = 8; i < wire.size(); ++i) {
      std::snprintf(hex, sizeof hex, "%02x", wire[i]);
      got += hex;
    }
    EXPECT_EQ(got, out);
    RVMsg* m = Next(server);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->body, (Bytes{0x12, 0x34}));
    RVMsgFree(m);
  }
}

TEST_F(WireCipher, EmptyBodyIsEncryptedAndReadsEmpty) {
  Install(RV_CIPHER_AES, 16);
  Send(client, 3, {});
  EXPECT_EQ(Sent().size(), 8u + 16u);
  RVMsg* m = Next(server);
  ASSERT_TRUE(m);
  EXPECT_TRUE(m->body.empty());
  RVMsgFree(m);
}

TEST_F(WireCipher, TenThousandMessagesBringARekeyEachWay) {
  Install(RV_CIPHER_AES, 16);
  RVCryptoCipher* before_c = client->send_cipher;
  RVCryptoCipher* before_s = server->send_cipher;
  (void)before_c;
  (void)before_s;
  unsigned char key_c[16];
  std::memcpy(key_c, client->send_cipher->key, 16);
  for (int round = 0; round < 101; ++round) {
    for (int i = 0; i < 100; ++i) {
      RVExtMsgBegin(client, 50, 0);
      RVExtPutLong(client, round * 100 + i);
      RVExtRestoreContext(client);
      RVExtMsgBegin(server, 51, 0);
      RVExtPutLong(server, round * 100 + i);
      RVExtRestoreContext(server);
    }
    RVExtFlush(client);
    RVExtFlush(server);
    for (int i = 0; i < 100; ++i) {
      RVMsg* a = Next(server);
      RVMsg* b = Next(client);
      ASSERT_TRUE(a && b) << round << " " << i;
      EXPECT_EQ(RVMsgGetLong(a), round * 100 + i);
      EXPECT_EQ(RVMsgGetLong(b), round * 100 + i);
      RVMsgFree(a);
      RVMsgFree(b);
    }
  }
  EXPECT_NE(std::memcmp(key_c, client->send_cipher->key, 16), 0);
  EXPECT_LT(RVExtAttrGet(client, 322), 10000);
  EXPECT_EQ(std::memcmp(client->send_cipher->key, server->recv_cipher->key, 16), 0);
  EXPECT_EQ(std::memcmp(server->send_cipher->key, client->recv_cipher->key, 16), 0);
}

TEST_F(WireCipher, BadRekeyMessagesBreak) {
  Install(RV_CIPHER_AES, 16);
  // lengths beyond the body, a vector over 32 bytes, a cipher that selects none
  const Bytes bodies[] = {
      {0x00, 0x04, 0x00, 0x01, 0x00, 0x10, 0x00, 0x40},
      [] {
        Bytes b = {0x00, 0x04, 0x00, 0x01, 0x00, 0x10, 0x00, 0x10};
        b.insert(b.end(), 16, 0);
        b.insert(b.end(), {0x00, 0x21});
        b.insert(b.end(), 33, 0);
        return b;
      }(),
  };
  for (const Bytes& body : bodies) {
    RVExt* c2 = nullptr;
    RVExt* s2 = nullptr;
    RVTransportEnd a, b;
    RVTransportMemoryPair(0, &a, &b);
    c2 = RVExtFromTransport(a, 0);
    s2 = RVExtFromTransport(b, 1);
    std::swap(c2, client);
    std::swap(s2, server);
    Install(RV_CIPHER_AES, 16);
    g_errors.clear();
    Send(client, RVMSG_REKEY, body);
    RVMsgFree(RVExtGetMsg(server));
    EXPECT_TRUE(server->flags & RVEXT_BROKEN);
    ASSERT_FALSE(g_errors.empty());
    EXPECT_EQ(g_errors.back(), "Invalid Rekey Message");
    std::swap(c2, client);
    std::swap(s2, server);
    RVExtFree(c2);
    RVExtFree(s2);
  }
}

TEST_F(WirePair, ScrambledBodyMatchesTheZipCipher) {
  client->flags |= RVEXT_SCRAMBLE_OUT;
  server->flags |= RVEXT_SCRAMBLE_IN;
  client->next_id = 4;
  Send(client, 1, {0x12, 0x34, 0x56});
  Bytes wire = Sent();
  ASSERT_EQ(wire.size(), 11u);
  // the ZIP 2.0 traditional cipher, keyed "f52+83?" (id 5: 'a' + 5)
  std::string py =
      "python3 -c \"\n"
      "import zlib\n"
      "def crc(c, b): return zlib.crc32(bytes([b]), c ^ 0xffffffff) ^ 0xffffffff\n"
      "k=[0x12345678,0x23456789,0x34567890]\n"
      "def upd(b):\n"
      "  k[0]=crc(k[0],b); k[1]=(k[1]+(k[0]&255))&0xffffffff; k[1]=(k[1]*134775813+1)&0xffffffff; "
      "k[2]=crc(k[2],k[1]>>24)\n"
      "for ch in b'f52+83?': upd(ch)\n"
      "out=[]\n"
      "for b in (0x12,0x34,0x56):\n"
      "  t=(k[2]|2)&0xffff; out.append(b^(((t*(t^1))>>8)&255)); upd(b)\n"
      "print(''.join('%02x'%x for x in out))\n\"";
  FILE* p = popen(py.c_str(), "r");
  ASSERT_TRUE(p);
  char out[64] = {0};
  ASSERT_TRUE(std::fgets(out, sizeof out, p));
  pclose(p);
  char hex[8];
  std::string got;
  for (size_t i = 8; i < wire.size(); ++i) {
    std::snprintf(hex, sizeof hex, "%02x", wire[i]);
    got += hex;
  }
  EXPECT_EQ(got + "\n", out);
  RVMsg* m = Next(server);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->body, (Bytes{0x12, 0x34, 0x56}));
  RVMsgFree(m);
}

}  // namespace
