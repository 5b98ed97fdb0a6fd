// The configured Server as host and port, and the first block of a response.
#include <gtest/gtest.h>

#include <string>

#include "fetch/http_response.h"
#include "fetch/server_address.h"

namespace {

TEST(UpdParseServer, HostAndPort) {
  struct Case {
    const char* server; // as configured
    int result;         // 0 or -1
    const char* host;   // the host part
    int port;           // the port (default 80)
  } cases[] = {
      {"updates.example", 0, "updates.example", 80},
      {"updates.example:8080", 0, "updates.example", 8080},
      {"10.1.2.3:1", 0, "10.1.2.3", 1},
      {"10.1.2.3:65535", 0, "10.1.2.3", 65535},
      {"[::1]", 0, "::1", 80},
      {"[::1]:8443", 0, "::1", 8443},
      {"[fe80::1%12]:81", 0, "fe80::1%12", 81},
      {"::1", 0, "::1", 80},                 // a bare IPv6 address has no port
      {"2001:db8::5:8080", 0, "2001:db8::5:8080", 80},
      {"host:0", -1, "", 0},
      {"host:65536", -1, "", 0},
      {"host:", -1, "", 0},
      {"host:+80", -1, "", 0},
      {"host: 80", -1, "", 0},
      {":80", -1, "", 0},
      {"", -1, "", 0},
      {"[]:80", -1, "", 0},
      {"[::1", -1, "", 0},
      {"[::1]x", -1, "", 0},
      {"[::1]:", -1, "", 0},
      {"[::1]:99999999999999999999", -1, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.server);
    UpdServerAddress a;
    ASSERT_EQ(UpdParseServer(c.server, 80, &a), c.result);
    if (c.result == 0) {
      EXPECT_STREQ(a.host, c.host);
      EXPECT_EQ(a.port, c.port);
    }
  }
  UpdServerAddress a;
  EXPECT_EQ(UpdParseServer(std::string(255, 'h').c_str(), 443, &a), 0);
  EXPECT_EQ(a.port, 443);
  EXPECT_EQ(UpdParseServer(std::string(256, 'h').c_str(), 443, &a), -1);
  EXPECT_EQ(UpdParseServer(nullptr, 443, &a), -1);
}

TEST(UpdHttpParseHead, StatusLineAndHeaderEnd) {
  struct Case {
    std::string block;      // the first block
    UpdHttpHeadKind kind;   // what it says
    int body_offset;        // with UPD_HTTP_HEAD_OK
    long long length;       // Content-Length or -1
  } cases[] = {
      {"HTTP/1.0 200 OK\r\n\r\nbody", UPD_HTTP_HEAD_OK, 19, -1},
      {"HTTP/1.1 200 Fine\r\nContent-Length: 4\r\n\r\nbody", UPD_HTTP_HEAD_OK, 40, 4},
      {"HTTP/1.0 200\r\ncontent-length:7\r\n\r\n", UPD_HTTP_HEAD_OK, 34, 7},
      {"HTTP/1.0 200 OK\r\nContent-Length: 12x\r\n\r\n", UPD_HTTP_HEAD_BAD_LENGTH, 0, -1},  // not a number
      {"HTTP/1.0 200 OK\r\nX-Content-Length: 5\r\n\r\n", UPD_HTTP_HEAD_OK, 40, -1},
      {"HTTP/1.0 200 OK\r\nContent-Length: 3\r\nContent-Length: 9\r\n\r\n", UPD_HTTP_HEAD_BAD_LENGTH, 0, -1},  // disagree
      {"HTTP/1.0 200 OK\r\nContent-Length: 3\r\nContent-Length:  3 \r\n\r\n", UPD_HTTP_HEAD_OK, 59, 3},  // agree
      {"HTTP/1.0 200 OK\r\nContent-Length: -5\r\n\r\n", UPD_HTTP_HEAD_BAD_LENGTH, 0, -1},
      {"HTTP/1.0 200 OK\r\nContent-Length:\r\n\r\n", UPD_HTTP_HEAD_BAD_LENGTH, 0, -1},
      {"HTTP/1.0 200 OK\r\nContent-Length: 1234567890123456789\r\n\r\n", UPD_HTTP_HEAD_BAD_LENGTH, 0, -1},
      {"HTTP/1.0 200 OK\r\nContent-Length: 123456789012345678\r\n\r\n", UPD_HTTP_HEAD_OK, 55, 123456789012345678},
      {"HTTP/1.0 200 OK\r\nContent-Length: 1 2\r\n\r\n", UPD_HTTP_HEAD_BAD_LENGTH, 0, -1},
      {"HTTP/1.0 200 OK\r\n\r\nContent-Length: 5\r\n\r\n", UPD_HTTP_HEAD_OK, 19, -1},  // in the body
      {"HTTP/1.0 404 Not Found\r\n\r\n200 OK", UPD_HTTP_HEAD_NOT_200, 0, -1},
      {"HTTP/1.0 2000 OK\r\n\r\n", UPD_HTTP_HEAD_NOT_200, 0, -1},
      {"HTTP/1.0 200OK\r\n\r\n", UPD_HTTP_HEAD_NOT_200, 0, -1},
      {"HTTP/ 200 OK\r\n\r\n", UPD_HTTP_HEAD_NOT_200, 0, -1},
      {"http/1.0 200 OK\r\n\r\n", UPD_HTTP_HEAD_NOT_200, 0, -1},
      {"X 200 OK\r\n\r\n", UPD_HTTP_HEAD_NOT_200, 0, -1},
      {"", UPD_HTTP_HEAD_NOT_200, 0, -1},
      {"HTTP/1.0 200 OK\r\nX: y\r\n", UPD_HTTP_HEAD_NO_END, 0, -1},
      {std::string("HTTP/1.0 200 OK\r\n\0\r\n\r\nz", 24), UPD_HTTP_HEAD_OK, 22, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.block);
    UpdHttpHead head;
    ASSERT_EQ(UpdHttpParseHead(c.block.data(), static_cast<int>(c.block.size()), &head), c.kind);
    if (c.kind == UPD_HTTP_HEAD_OK) {
      EXPECT_EQ(head.body_offset, c.body_offset);
      EXPECT_EQ(head.content_length, c.length);
    }
  }
}

}  // namespace
