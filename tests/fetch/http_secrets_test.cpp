// What the HTTP and HTTPS clients let reach the log and the message file:
// the credentials never (in no form), a peer's text only escaped; and the
// request targets they refuse to send.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "crypto/scramble.h"
#include "fetch/http_get.h"
#include "runtime/env.h"
#include "runtime/message.h"
#include "tests/fetch/http_test_util.h"
#include "tests/support/child.h"

namespace {

using httpt::HttpSystem;

// The stored form of a plain password.
std::string Stored(const std::string& plain) {
  std::vector<char> out(2 * plain.size() + 3);
  RVScrambleAt(plain.c_str(), out.data(), 4711);
  return out.data();
}

// The message file's text.
std::string MessageFile() {
  const char* dir = RVGetEnv("RV_COMMONAPPDATA");
  return httpt::ReadAll(std::string(dir ? dir : ".") + "/tqupd-msg.txt");
}

// The lines of `text` that contain `part`.
std::vector<std::string> LinesWith(const std::string& text, const std::string& part) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (line.find(part) != std::string::npos) lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

class HttpSecrets : public ::testing::TestWithParam<bool> {
 protected:
  bool tls() const { return GetParam(); }
  const char* who() const { return tls() ? "SSL HttpGet" : "HttpGet"; }
  int Fetch(const std::string& target, const std::string& local) {
    return tls() ? HttpsGet(target.c_str(), local.c_str()) : HttpGet(target.c_str(), local.c_str());
  }
  // The whole log written so far.
  std::string Log() const { return sys_.sys().ReadFile("test-log.txt"); }
  HttpSystem sys_;
};

// Basic credentials against the real peers at LogLevel 9: the fetch works,
// the query line is logged with the credentials masked, and neither the log
// nor the message file (which holds the query line as the fetch's last
// message) holds the password in plain, scrambled or Base64 form.
TEST_P(HttpSecrets, CredentialsNeverReachTheLogOrTheMessageFile) {
  const std::string dir = sys_.Path("served");
  std::filesystem::create_directories(dir);
  httpt::WriteAll(dir + "/secret.bin", "payload");
  int port = 0;
  auto peer = tls() ? httpt::StartTlsWww(dir, &port) : httpt::StartPythonHttp(dir, &port);
  ASSERT_TRUE(peer) << "peer did not start";
  const std::string server = "127.0.0.1:" + std::to_string(port);
  sys_.SetServer(server);
  const std::string plain = "Pa55-w0rd!";
  const std::string stored = Stored(plain);
  sys_.SetUser("alice");
  sys_.SetPassword(stored.c_str());
  // "alice:Pa55-w0rd!" in Base64, as the openssl command makes it.
  std::string encoded;
  ASSERT_EQ(TqRunCommand("printf %s 'alice:Pa55-w0rd!' | openssl base64 -A", &encoded), 0);
  ASSERT_FALSE(encoded.empty());

  UpdMessageSetLogLevel(9);
  const std::string local = sys_.Path("secret.bin");
  ASSERT_EQ(Fetch("/secret.bin", local), 0) << Log();
  EXPECT_EQ(httpt::ReadAll(local), "payload");

  const std::string query = "http query: GET /secret.bin HTTP/1.0\r\nHost: " + server +
                            "\r\nAuthorization: Basic ********\r\nUser-Agent: TQUpdate - 6.7.5-01\r\n\r\n";
  std::vector<std::string> messages = sys_.Messages();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back(), query);
  EXPECT_EQ(MessageFile(), query + "\n");
  for (const std::string& secret : {encoded, plain, stored, stored.substr(2)}) {
    SCOPED_TRACE(secret);
    EXPECT_EQ(Log().find(secret), std::string::npos);
    EXPECT_EQ(MessageFile().find(secret), std::string::npos);
  }
}

// An error page that carries a line break, a forged log line and terminal
// sequences makes one log line, with every control character escaped.
TEST_P(HttpSecrets, PeerTextCannotForgeALogLine) {
  const std::string dir = sys_.Path("peer-forged");
  std::filesystem::create_directories(dir);
  int port = 0;
  auto peer = httpt::StartScripted(dir, "forged", tls(), &port);
  ASSERT_TRUE(peer);
  sys_.SetServer("127.0.0.1:" + std::to_string(port));
  UpdMessageSetLogLevel(9);
  EXPECT_EQ(Fetch("/forbidden", sys_.Path("forbidden.bin")), -1);

  const std::string shown = std::string(who()) +
                            " Error: HTTP/1.0 403 Forbidden\\r\\n2026/12/10 12:00:00 - 1 - tqupdd - forged line\\r\\n"
                            "\\x1b[2J\\x1b]0;title\\x07back\\\\slash\\tTab\\r\\n\\r\\n";
  std::vector<std::string> lines = LinesWith(Log(), "forged line");
  ASSERT_EQ(lines.size(), 1u) << Log();
  EXPECT_EQ(lines[0].substr(lines[0].size() - shown.size()), shown);
  EXPECT_EQ(lines[0].rfind("2026/12/10 12:00:00 - 1 - tqupdd", 0), std::string::npos);
  EXPECT_EQ(Log().find('\x1b'), std::string::npos);
  EXPECT_EQ(Log().find('\x07'), std::string::npos);
  // The outcome line after it names the status line alone, escaped too.
  EXPECT_EQ(MessageFile(), std::string(who()) + " Error - Status Not 200: HTTP/1.0 403 Forbidden\n");
}

// A target with a control character is refused before any connection (the
// peer accepts none); a blank goes out as %20.
TEST_P(HttpSecrets, RequestTargets) {
  const std::string dir = sys_.Path("peer-targets");
  std::filesystem::create_directories(dir);
  int port = 0;
  auto peer = httpt::StartScripted(dir, "small", tls(), &port);
  ASSERT_TRUE(peer);
  const std::string host = "127.0.0.1:" + std::to_string(port);
  sys_.SetServer(host);
  struct Case {
    std::string target; // as configured or scripted
    std::string shown;  // in the refusal
  } refused[] = {
      {"/upd\r\nX-Injected: 1", "/upd\\r\\nX-Injected: 1"},
      {"/upd\nscript.txt", "/upd\\nscript.txt"},
      {"/upd\tscript.txt", "/upd\\tscript.txt"},
      {"/upd\x1b[2J", "/upd\\x1b[2J"},
      {"/upd\x7f", "/upd\\x7f"},
      {"http://host/a\rb", "http://host/a\\rb"},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.shown);
    const std::string local = sys_.Path("refused.bin");
    std::vector<CapturedMessage> got = sys_.Levels([&] { EXPECT_EQ(Fetch(c.target, local), -1); });
    EXPECT_EQ(got, (std::vector<CapturedMessage>{
                       {9, std::string(who()) + " Error - Control Character in Request Target: " + c.shown}}));
    EXPECT_FALSE(httpt::Exists(local));
    EXPECT_FALSE(httpt::Exists(dir + "/accepted")) << "the peer saw a connection";
  }

  ASSERT_EQ(Fetch("/dir with space/upd script.txt", sys_.Path("spaced.bin")), 0);
  std::string request = httpt::ReadAll(dir + "/request");
  EXPECT_EQ(request.substr(0, request.find("\r\n")), "GET /dir%20with%20space/upd%20script.txt HTTP/1.0");
}

// A blank in a path reaches a real server as %20 and names the file.
TEST(HttpTargetBlank, PythonHttpServerFindsTheFile) {
  HttpSystem sys;
  const std::string dir = sys.Path("served");
  std::filesystem::create_directories(dir + "/with space");
  httpt::WriteAll(dir + "/with space/upd script.txt", "script text");
  int port = 0;
  auto peer = httpt::StartPythonHttp(dir, &port);
  ASSERT_TRUE(peer);
  sys.SetServer("127.0.0.1:" + std::to_string(port));
  const std::string local = sys.Path("got.txt");
  ASSERT_EQ(HttpGet("/with space/upd script.txt", local.c_str()), 0);
  EXPECT_EQ(httpt::ReadAll(local), "script text");
}

INSTANTIATE_TEST_SUITE_P(Transports, HttpSecrets, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "Https" : "Http"; });

}  // namespace
