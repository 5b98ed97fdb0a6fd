// HttpGet and HttpsGet against the scripted peer: closes, cuts, stalls,
// bad and odd headers, with the messages and levels each case logs.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fetch/http_get.h"
#include "fetch/http_response.h"
#include "fetch/stall_limit.h"
#include "platform/fault.h"
#include "runtime/log_text.h"
#include "tests/fetch/http_test_util.h"

namespace {

using httpt::HttpSystem;

// How a case ends, as far as the messages go.
enum Tail {
  TAIL_NONE,     // success
  TAIL_NOT_200,  // "... Error: %s"
  TAIL_NO_END,   // "... Error - Invalid Hdr: %s"
  TAIL_STALL,    // the receive timed out
  TAIL_RESET,    // the peer reset the connection
  TAIL_SHORT,    // fewer body bytes than Content-Length
};

// One behaviour of the peer and what the client makes of it.
struct ScriptCase {
  const char* mode; // the scripted peer's mode
  Tail tail;        // how the fetch ends
};

const ScriptCase kCases[] = {
    {"close", TAIL_NONE},              // nothing at all: empty file
    {"header_only", TAIL_NONE},        // header and empty line: empty file
    {"small", TAIL_NONE},
    {"body_8192", TAIL_NONE},          // 8,192 body bytes after the header
    {"fill_block", TAIL_NONE},         // header and body fill exactly one block
    {"status_lower_ok", TAIL_NONE},    // the status counts, not the reason's case
    {"status_http11", TAIL_NONE},
    {"length_exact", TAIL_NONE},
    {"length_more", TAIL_NONE},        // more than Content-Length: only Content-Length is kept
    {"status_2000", TAIL_NOT_200},
    {"status_in_header", TAIL_NOT_200}, // "200 OK" in a header line does not count
    {"not_found", TAIL_NOT_200},
    {"ok_in_404", TAIL_NOT_200},       // "200 OK" in the body of an error page
    {"garbage", TAIL_NOT_200},
    {"no_end", TAIL_NO_END},           // the empty line comes after 8,192 bytes
    {"endless_headers", TAIL_NO_END},
    {"cut_with_length", TAIL_SHORT},
    {"reset", TAIL_RESET},
    {"silent", TAIL_STALL},
    {"header_stall", TAIL_STALL},
    {"body_stall", TAIL_STALL},
};

bool Stalls(const ScriptCase& c) { return c.tail == TAIL_STALL; }

// The first bytes the peer sends in `mode` (at least the first block).
std::string StreamStart(const std::string& mode) {
  std::string s = httpt::ScriptedResponse(mode);
  if (mode == "endless_headers")
    while (s.size() < 9000) s += "X-More: " + std::string(100, 'm') + "\r\n";
  return s;
}

// The response text as the header messages show it: the first 512 bytes
// of the first block, escaped (the escaping has its own table tests).
std::string Shown(const std::string& stream) {
  std::string first = stream.substr(0, 8192).substr(0, 512);
  std::string shown(RVEscapedSize(first.size()), '\0');
  shown.resize(RVEscapeText(first.data(), first.size(), first.size(), shown.data(), shown.size()));
  return shown;
}

// A message as UpdMessage keeps it: at most 1,023 bytes, never ending
// inside a UTF-8 sequence.
std::string ClippedMessage(const std::string& text) {
  if (text.size() <= 1023) return text;
  std::string t = text.substr(0, 1023);
  size_t back = 0;
  while (back < 3 && back < t.size() && (static_cast<unsigned char>(t[t.size() - 1 - back]) & 0xC0) == 0x80) ++back;
  if (back < t.size()) {
    unsigned char lead = static_cast<unsigned char>(t[t.size() - 1 - back]);
    size_t need = (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 0;
    if (need > back + 1) t.resize(t.size() - 1 - back);
  }
  return t;
}

class HttpScripted : public ::testing::TestWithParam<bool> {
 protected:
  bool tls() const { return GetParam(); }
  const char* who() const { return tls() ? "SSL HttpGet" : "HttpGet"; }
  int Fetch(const char* target, const std::string& local) {
    return tls() ? HttpsGet(target, local.c_str()) : HttpGet(target, local.c_str());
  }
  // The messages of a fetch of `target` from 127.0.0.1:port that got as far
  // as sending `request`.
  std::vector<CapturedMessage> Opening(int port, const std::string& request) const {
    std::string server = "127.0.0.1:" + std::to_string(port);
    std::vector<CapturedMessage> m;
    if (tls())
      m = {{9, "Getting New Connection To: " + server + "..."}, {9, "\tSuccess"}, {9, "Connecting..."}, {9, "\tSuccess"}};
    m.push_back({0, "Connected to: " + server});
    m.push_back({0, "http query: " + request});
    return m;
  }
  static std::string PlainRequest(const char* target, int port) {
    return std::string("GET ") + target + " HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(port) +
           "\r\nUser-Agent: TQUpdate - 6.7.5-01\r\n\r\n";
  }
  HttpSystem sys_;
};

TEST_P(HttpScripted, EachPeerBehaviour) {
  for (const ScriptCase& c : kCases) {
    SCOPED_TRACE(c.mode);
    std::string dir = sys_.Path(std::string("peer-") + c.mode);
    std::filesystem::create_directories(dir);
    int port = 0;
    auto peer = httpt::StartScripted(dir, c.mode, tls(), &port);
    ASSERT_TRUE(peer) << "scripted peer did not start";
    sys_.SetServer("127.0.0.1:" + std::to_string(port));
    UpdFetchSetStallLimitForTest(Stalls(c) ? 1500 : 5000);
    std::string local = sys_.Path("fetched.bin");
    std::vector<int> results;
    std::vector<CapturedMessage> got = sys_.Levels([&] { results.push_back(Fetch("/file.bin", local)); });

    int expected_rc = c.tail == TAIL_NONE ? 0 : -1;
    EXPECT_EQ(results, std::vector<int>(3, expected_rc));
    if (expected_rc == 0) {
      std::string response = httpt::ScriptedResponse(c.mode);
      size_t end = response.find("\r\n\r\n");
      std::string body = end == std::string::npos ? "" : response.substr(end + 4);
      UpdHttpHead head;
      if (end != std::string::npos &&
          UpdHttpParseHead(response.data(), static_cast<int>(response.size()), &head) == UPD_HTTP_HEAD_OK &&
          head.content_length >= 0)
        body = body.substr(0, static_cast<size_t>(head.content_length));
      ASSERT_TRUE(httpt::Exists(local));
      EXPECT_EQ(httpt::ReadAll(local), body);
    } else {
      EXPECT_FALSE(httpt::Exists(local)) << "a failed fetch left its file";
    }
    EXPECT_EQ(httpt::ReadAll(dir + "/request"), PlainRequest("/file.bin", port));

    std::vector<CapturedMessage> want = Opening(port, PlainRequest("/file.bin", port));
    std::string stream = StreamStart(c.mode);
    switch (c.tail) {
      case TAIL_NONE: break;
      case TAIL_NOT_200: {
        want.push_back({9, ClippedMessage(std::string(who()) + " Error: " + Shown(stream))});
        RVShown status;
        RVShowText(&status, stream.substr(0, stream.find_first_of("\r\n")).c_str());
        want.push_back({9, std::string(who()) + " Error - Status Not 200: " + status.text});
        break;
      }
      case TAIL_NO_END:
        want.push_back({9, ClippedMessage(std::string(who()) + " Error - Invalid Hdr: " + Shown(stream))});
        want.push_back({9, std::string(who()) + " Error - Header Not Ended Within 8192 Bytes"});
        break;
      case TAIL_STALL:
        want.push_back({9, tls() ? "SOCRecv() Failed, syserrno: 110 sslerrno: 2" : "SOCRecv() Failed, exterrno: 10060"});
        want.push_back({9, std::string(who()) + " Error - Peer Silent: no byte for 1500 ms, " +
                               std::to_string(httpt::ScriptedResponse(c.mode).size()) + " Bytes Received File: " + local});
        break;
      case TAIL_RESET:
        want.push_back({9, tls() ? "SOCRecv() Failed, syserrno: 104 sslerrno: 5" : "SOCRecv() Failed, exterrno: 10054"});
        break;
      case TAIL_SHORT:
        want.push_back({9, std::string(who()) + " Error - Connection Closed After 10000 of 20000 Body Bytes File: " + local});
        break;
    }
    EXPECT_EQ(got, want);
  }
}

// A body that never ends is written until the disk refuses more: the write
// error is logged and the file goes.
TEST_P(HttpScripted, EndlessBodyUntilTheDiskIsFull) {
  std::string dir = sys_.Path("peer-endless");
  std::filesystem::create_directories(dir);
  int port = 0;
  auto peer = httpt::StartScripted(dir, "endless_body", tls(), &port);
  ASSERT_TRUE(peer);
  sys_.SetServer("127.0.0.1:" + std::to_string(port));
  std::string local = sys_.Path("endless.bin");
  sys_.Messages();
  // Messages write the log and the message file too; the 200th write falls
  // well inside the body (about 1.6 MB).
  PlatFaultClear();
  PlatFaultInject(PLAT_SYS_WRITE, 200, ENOSPC, false);
  EXPECT_EQ(Fetch("/endless", local), -1);
  PlatFaultClear();
  EXPECT_FALSE(httpt::Exists(local));
  std::vector<std::string> texts = sys_.Messages();
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back(), "WriteFile() Error: 112 File: " + local);
}

// The TLS handshake that never completes ends as a failed connect.
TEST(HttpsScripted, HandshakeStall) {
  HttpSystem sys_;
  std::string dir = sys_.Path("peer-handshake");
  std::filesystem::create_directories(dir);
  int port = 0;
  auto peer = httpt::StartScripted(dir, "tls_handshake_stall", true, &port);
  ASSERT_TRUE(peer);
  std::string server = "127.0.0.1:" + std::to_string(port);
  sys_.SetServer(server);
  UpdFetchSetStallLimitForTest(1500);
  std::string local = sys_.Path("never.bin");
  std::vector<int> results;
  std::vector<CapturedMessage> got = sys_.Levels([&] { results.push_back(HttpsGet("/x", local.c_str())); });
  EXPECT_EQ(results, std::vector<int>(3, -1));
  EXPECT_FALSE(httpt::Exists(local));
  std::vector<CapturedMessage> want = {{9, "Getting New Connection To: " + server + "..."},
                                       {9, "\tSuccess"},
                                       {9, "Connecting..."},
                                       {9, "\tFailed"},
                                       {9, "SSL HttpGet Error - TLS handshake failed: no answer from the server within 1500 ms"}};
  EXPECT_EQ(got, want);
}

INSTANTIATE_TEST_SUITE_P(Transports, HttpScripted, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "Https" : "Http"; });

}  // namespace
