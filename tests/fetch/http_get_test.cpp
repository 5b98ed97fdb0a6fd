// HttpGet and HttpsGet against real peers (python3 -m http.server and
// openssl s_server -WWW), the request they send, and their input limits.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <netinet/in.h>
#include <regex>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "crypto/scramble.h"
#include "fetch/http_get.h"
#include "tests/fetch/http_test_util.h"
#include "tests/support/child.h"

namespace {

using httpt::HttpSystem;

// The served files: name and size.
struct ServedFile {
  const char* name;
  size_t size;
};
const ServedFile kFiles[] = {
    {"empty.bin", 0}, {"one.bin", 1}, {"block.bin", 8192}, {"block1.bin", 8193}, {"large.bin", 3 * 1024 * 1024 + 5},
};

// Writes the served files into `dir`.
void Serve(const std::string& dir) {
  std::filesystem::create_directories(dir);
  unsigned seed = 20;
  for (const ServedFile& f : kFiles) httpt::WriteAll(dir + "/" + f.name, httpt::Pattern(f.size, seed++));
}

TEST(HttpGetPeer, FilesFromPythonHttpServer) {
  HttpSystem sys;
  std::string dir = sys.Path("www");
  Serve(dir);
  int port = 0;
  auto peer = httpt::StartPythonHttp(dir, &port);
  ASSERT_TRUE(peer) << "python3 -m http.server did not start";
  sys.SetServer("127.0.0.1:" + std::to_string(port));
  for (const ServedFile& f : kFiles) {
    SCOPED_TRACE(f.name);
    std::string local = sys.Path(std::string("got-") + f.name);
    ASSERT_EQ(HttpGet((std::string("/") + f.name).c_str(), local.c_str()), 0);
    EXPECT_EQ(httpt::ReadAll(local), httpt::ReadAll(dir + "/" + f.name));
  }

  // A missing file: the 404 page is not taken, and a file that was there goes.
  std::string local = sys.Path("missing.bin");
  httpt::WriteAll(local, "old content");
  sys.Messages();
  EXPECT_EQ(HttpGet("/no-such-file.bin", local.c_str()), -1);
  EXPECT_FALSE(httpt::Exists(local));
  std::vector<std::string> texts = sys.Messages();
  ASSERT_GE(texts.size(), 2u);
  EXPECT_EQ(texts[texts.size() - 2].rfind("HttpGet Error: HTTP/1.0 404 ", 0), 0u) << texts[texts.size() - 2];
  EXPECT_EQ(texts.back().rfind("HttpGet Error - Status Not 200: HTTP/1.0 404 ", 0), 0u) << texts.back();

  // A whole URL goes into the request line as it stands; the server maps it
  // to a path of its directory.
  std::string host = "127.0.0.1:" + std::to_string(port);
  std::filesystem::create_directories(dir + "/http:/" + host);
  httpt::WriteAll(dir + "/http:/" + host + "/by-url.txt", "reached by URL\n");
  std::string url_local = sys.Path("by-url.txt");
  ASSERT_EQ(HttpGet(("http://" + host + "/by-url.txt").c_str(), url_local.c_str()), 0);
  EXPECT_EQ(httpt::ReadAll(url_local), "reached by URL\n");
}

TEST(HttpsGetPeer, FilesFromOpensslServer) {
  HttpSystem sys;
  std::string dir = sys.Path("www");
  Serve(dir);
  int port = 0;
  auto peer = httpt::StartTlsWww(dir, &port);
  ASSERT_TRUE(peer) << "openssl s_server did not start";
  std::string server = "127.0.0.1:" + std::to_string(port);
  sys.SetServer(server);
  // The certificate is self-signed and names another host: accepted.
  for (const ServedFile& f : kFiles) {
    SCOPED_TRACE(f.name);
    std::string local = sys.Path(std::string("got-") + f.name);
    sys.Messages();
    ASSERT_EQ(HttpsGet((std::string("/") + f.name).c_str(), local.c_str()), 0);
    EXPECT_EQ(httpt::ReadAll(local), httpt::ReadAll(dir + "/" + f.name));
    std::vector<std::string> texts = sys.Messages();
    std::vector<std::string> opening(texts.begin(), texts.begin() + std::min<size_t>(5, texts.size()));
    EXPECT_EQ(opening, (std::vector<std::string>{"Getting New Connection To: " + server + "...", "\tSuccess",
                                                  "Connecting...", "\tSuccess", "Connected to: " + server}));
  }
}

// Failures before anything reaches a peer, for both clients.
class HttpNoPeer : public ::testing::TestWithParam<bool> {
 protected:
  int Fetch(const char* target, const std::string& local) {
    return GetParam() ? HttpsGet(target, local.c_str()) : HttpGet(target, local.c_str());
  }
  HttpSystem sys_;
};

TEST_P(HttpNoPeer, LocalFileCannotBeCreated) {
  sys_.SetServer("127.0.0.1:1");
  std::string local = sys_.Path("no-such-dir/file.bin");
  std::vector<CapturedMessage> got = sys_.Levels([&] { EXPECT_EQ(Fetch("/f", local), -1); });
  EXPECT_EQ(got, (std::vector<CapturedMessage>{{9, "Error: 3 Creating File: " + local}}));
}

TEST_P(HttpNoPeer, RefusedConnection) {
  int port = httpt::FreePort();
  std::string server = "127.0.0.1:" + std::to_string(port);
  sys_.SetServer(server);
  std::string local = sys_.Path("refused.bin");
  httpt::WriteAll(local, "old");
  std::vector<CapturedMessage> got = sys_.Levels([&] { EXPECT_EQ(Fetch("/f", local), -1); });
  EXPECT_FALSE(httpt::Exists(local));
  std::vector<CapturedMessage> want;
  if (GetParam())
    want = {{9, "Getting New Connection To: " + server + "..."},
            {9, "\tSuccess"},
            {9, "Connecting..."},
            {9, "\tFailed"},
            {9, "SSL HttpGet Error - connect failed: error:8000006F:system library::Connection refused; "
                "error:1000006E:BIO routines::nbio connect error"}};
  else  // the connect's own reports reach the log at level 7 by default
    want = {{-1, "Client error on socket()"}, {-1, "Last Error: 10061"}, {9, "Failed to connect to: " + server}};
  EXPECT_EQ(got, want);
}

TEST_P(HttpNoPeer, InvalidServer) {
  const char* who = GetParam() ? "SSL HttpGet" : "HttpGet";
  for (const char* server : {"127.0.0.1:99999", "127.0.0.1:", "host:8x", "[::1", "[::1]80", ":80"}) {
    SCOPED_TRACE(server);
    sys_.SetServer(server);
    std::string local = sys_.Path("invalid.bin");
    std::vector<CapturedMessage> got = sys_.Levels([&] { EXPECT_EQ(Fetch("/f", local), -1); });
    EXPECT_FALSE(httpt::Exists(local));
    EXPECT_EQ(got, (std::vector<CapturedMessage>{{9, std::string(who) + " Error - Invalid Server: " + server}}));
  }
}

INSTANTIATE_TEST_SUITE_P(Transports, HttpNoPeer, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "Https" : "Http"; });

// The request as the peer receives it, and the inputs that do not fit.
class HttpRequestText : public ::testing::TestWithParam<bool> {
 protected:
  bool tls() const { return GetParam(); }
  const char* who() const { return tls() ? "SSL HttpGet" : "HttpGet"; }
  void SetUp() override {
    dir_ = sys_.Path("peer");
    std::filesystem::create_directories(dir_);
    peer_ = httpt::StartScripted(dir_, "small", tls(), &port_);
    ASSERT_TRUE(peer_);
    host_ = "127.0.0.1:" + std::to_string(port_);
    sys_.SetServer(host_);
  }
  int Fetch(const std::string& target, const std::string& local) {
    std::filesystem::remove(dir_ + "/request");
    return tls() ? HttpsGet(target.c_str(), local.c_str()) : HttpGet(target.c_str(), local.c_str());
  }
  std::string Request(const std::string& target, const std::string& auth) const {
    return "GET " + target + " HTTP/1.0\r\nHost: " + host_ + "\r\n" + auth + "User-Agent: TQUpdate - 6.7.5-01\r\n\r\n";
  }
  // The stored form of a plain password.
  static std::string Stored(const std::string& plain) {
    std::vector<char> out(2 * plain.size() + 3);
    RVScrambleAt(plain.c_str(), out.data(), 12345);
    return out.data();
  }
  HttpSystem sys_;
  std::string dir_, host_;
  int port_ = 0;
  std::unique_ptr<httpt::Peer> peer_;
};

TEST_P(HttpRequestText, BasicAuthentication) {
  const std::string alice = Stored("s3cret");
  const std::string empty_form = Stored("");  // just the two key letters
  struct Case {
    const char* user;     // User, or null
    const char* password; // stored Password, or null
    std::string auth;     // the expected Authorization line
  } cases[] = {
      {"alice", alice.c_str(), "Authorization: Basic YWxpY2U6czNjcmV0\r\n"},
      {"bob", "", "Authorization: Basic Ym9iOg==\r\n"},
      {"bob", empty_form.c_str(), "Authorization: Basic Ym9iOg==\r\n"},
      {nullptr, alice.c_str(), ""},  // no User: no header, even with a Password
      {"carol", nullptr, ""},        // no stored Password: no header
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.user ? c.user : "(no user)") + " / " + (c.password ? c.password : "(no password)"));
    sys_.SetUser(c.user);
    sys_.SetPassword(c.password);
    std::string local = sys_.Path("auth.bin");
    ASSERT_EQ(Fetch("/auth.bin", local), 0);
    EXPECT_EQ(httpt::ReadAll(dir_ + "/request"), Request("/auth.bin", c.auth));
  }
}

TEST_P(HttpRequestText, InputsBeyondTheirBuffers) {
  const int request_max = tls() ? 1023 : 4095;
  const size_t base = Request("", "").size();
  // Credentials "user:" whose encoding has exactly `chars` characters.
  auto user_for = [](int chars) { return std::string(static_cast<size_t>(chars / 4 * 3 - 1), 'u'); };
  const std::string long_password = Stored(std::string(112, 'p'));
  const std::string max_password = Stored(std::string(111, 'p'));
  struct Case {
    std::string target;   // request target
    std::string user;     // User ("" = none)
    std::string password; // stored Password
    std::string error;    // the level-9 message, "" = accepted
  } cases[] = {
      {"/" + std::string(static_cast<size_t>(request_max) - base - 1, 'a'), "", "", ""},
      {"/" + std::string(static_cast<size_t>(request_max) - base, 'a'), "", "",
       std::string(who()) + " Error - Request Too Long: " + std::to_string(request_max + 1) + " characters, at most " +
           std::to_string(request_max)},
      {"/f", "user", max_password, ""},
      {"/f", "user", long_password, std::string(who()) + " Error - Password Too Long: 112 characters, at most 111"},
      {"/f", "user", "ABc", std::string(who()) + " Error - Invalid Password"},
      {"/f", tls() ? user_for(512) : user_for(4096), "",
       std::string(who()) + " Error - Credentials Too Long: " + (tls() ? "512" : "4096") + " characters, at most " +
           (tls() ? "511" : "4095")},
  };
  if (tls()) cases[2] = {"/f", user_for(508), "", ""};  // the longest encoding that fits
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error.empty() ? "accepted " + std::to_string(c.target.size()) : c.error);
    sys_.SetUser(c.user.empty() ? nullptr : c.user.c_str());
    sys_.SetPassword(c.user.empty() ? nullptr : c.password.c_str());
    std::string local = sys_.Path("limits.bin");
    httpt::WriteAll(local, "old");
    if (c.error.empty()) {
      EXPECT_EQ(Fetch(c.target, local), 0);
      EXPECT_TRUE(httpt::Exists(dir_ + "/request"));
      continue;
    }
    std::vector<CapturedMessage> got = sys_.Levels([&] { EXPECT_EQ(Fetch(c.target, local), -1); });
    EXPECT_EQ(got, (std::vector<CapturedMessage>{{9, c.error}}));
    EXPECT_FALSE(httpt::Exists(local));
    EXPECT_FALSE(httpt::Exists(dir_ + "/request")) << "a request went out";
  }
}

INSTANTIATE_TEST_SUITE_P(Transports, HttpRequestText, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "Https" : "Http"; });

}  // namespace

namespace {

bool HasIpv6Loopback() {
  int s = ::socket(AF_INET6, SOCK_STREAM, 0);
  if (s < 0) return false;
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_addr = in6addr_loopback;
  bool ok = ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(s);
  return ok;
}

// A Server written as a bracketed IPv6 address with a port, for both clients.
TEST(HttpGetPeer, Ipv6ServerWithPort) {
  if (!HasIpv6Loopback()) GTEST_SKIP() << "this host has no IPv6 loopback";
  HttpSystem sys;
  std::string dir = sys.Path("www6");
  std::filesystem::create_directories(dir);
  httpt::WriteAll(dir + "/six.bin", httpt::Pattern(20000, 66));
  for (bool tls : {false, true}) {
    SCOPED_TRACE(tls ? "https" : "http");
    int port = httpt::FreePort();
    auto peer = tls ? httpt::StartCommand({"openssl", "s_server", "-accept", "[::1]:" + std::to_string(port), "-WWW",
                                           "-quiet", "-cert", httpt::TestCert().cert, "-key", httpt::TestCert().key},
                                          dir)
                    : httpt::StartCommand({"python3", "-m", "http.server", std::to_string(port), "--bind", "::1",
                                           "--directory", dir},
                                          "");
    // "::1" itself would be taken as "localhost"; this spelling stays numeric.
    std::string server = "[0:0:0:0:0:0:0:1]:" + std::to_string(port);
    sys.SetServer(server);
    std::string local = sys.Path("six.bin");
    int rc = -1;
    for (int i = 0; i < 100 && rc != 0; ++i) {  // until the peer listens
      rc = tls ? HttpsGet("/six.bin", local.c_str()) : HttpGet("/six.bin", local.c_str());
      if (rc != 0) ::usleep(100 * 1000);
    }
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(httpt::ReadAll(local), httpt::ReadAll(dir + "/six.bin"));
    sys.Messages();
    ASSERT_EQ(tls ? HttpsGet("/six.bin", local.c_str()) : HttpGet("/six.bin", local.c_str()), 0);
    std::vector<std::string> texts = sys.Messages();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts[0], tls ? "Getting New Connection To: [0:0:0:0:0:0:0:1]:" + std::to_string(port) + "..."
                            : "Connected to: " + server);
  }
}

// A body that never ends, fetched onto a small file system of its own: the
// client writes until the file system is full, logs the write error and
// deletes what it wrote.
TQ_CHILD_ROLE(http_fill_disk) {
  if (args.size() < 2) return 2;
  HttpSystem sys;
  sys.SetServer("127.0.0.1:" + args[1]);
  std::string local = args[0] + "/endless.bin";
  int rc = HttpGet("/endless", local.c_str());
  std::vector<std::string> texts = sys.Messages();
  std::printf("rc=%d exists=%d\n", rc, httpt::Exists(local) ? 1 : 0);
  for (const std::string& t : texts) std::printf("message: %s\n", t.c_str());
  return 0;
}

TEST(HttpGetPeer, EndlessBodyFillsTheDisk) {
  std::string probe;
  if (TqRunCommand("unshare -m true", &probe) != 0) GTEST_SKIP() << "unshare -m is not permitted here: " << probe;
  HttpSystem sys;
  std::string peer_dir = sys.Path("peer");
  std::string small = sys.Path("small-fs");
  std::filesystem::create_directories(peer_dir);
  std::filesystem::create_directories(small);
  int port = 0;
  auto peer = httpt::StartScripted(peer_dir, "endless_body", false, &port);
  ASSERT_TRUE(peer);
  std::string out;
  int rc = TqRunCommand("unshare -m sh -c 'mount -t tmpfs -o size=4m tmpfs \"$0\" && exec /proc/" +
                            std::to_string(::getpid()) + "/exe --tq-child http_fill_disk \"$0\" \"$1\"' '" + small +
                            "' " + std::to_string(port),
                        &out);
  EXPECT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("rc=-1 exists=0"), std::string::npos) << out;
  // The write that meets the full file system either stores part of what
  // it was given (a short write) or nothing (disk full, 112).
  std::string file = small + "/endless.bin";
  bool short_write = std::regex_search(
      out, std::regex("message: WriteFile\\(\\) Only Write [0-9]+ bytes instead of: [0-9]+ File: " + file + "\n"));
  bool disk_full = out.find("message: WriteFile() Error: 112 File: " + file + "\n") != std::string::npos;
  EXPECT_TRUE(short_write || disk_full) << out;
}

}  // namespace
