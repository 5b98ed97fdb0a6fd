// Helpers of the HTTP and HTTPS client tests.
#include "tests/fetch/http_test_util.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "crypto/crypto_runtime.h"
#include "engine/config.h"
#include "fetch/stall_limit.h"
#include "runtime/alloc.h"
#include "runtime/message.h"
#include "tests/support/child.h"
#include "tests/support/log_texts.h"

namespace httpt {

namespace {

// Stall limit of the clients in these tests: long enough for a loaded
// machine, short enough that silent peers do not hold the tests up.
constexpr int kTestStallMs = 5000;

// Replaces a text of the configuration record; unlike the reader, an empty
// value stays an empty text (null: none).
void SetText(char** slot, const char* value) {
  RVFree(*slot);
  *slot = nullptr;
  if (!value) return;
  size_t n = std::strlen(value);
  *slot = static_cast<char*>(RVAlloc(1, n + 2));
  std::memcpy(*slot, value, n);
}

// Starts `argv` in `dir` (when not empty) with its output thrown away.
pid_t Launch(const std::vector<std::string>& argv, const std::string& dir) {
  std::fflush(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    int null_fd = ::open("/dev/null", O_RDWR);
    if (null_fd >= 0) {
      ::dup2(null_fd, 0);
      ::dup2(null_fd, 1);
      ::dup2(null_fd, 2);
    }
    if (!dir.empty() && ::chdir(dir.c_str()) != 0) ::_exit(126);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  return pid;
}

// True while the child `pid` has not ended.
bool Alive(pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) == 0; }

// Starts a server command line on free ports until one listens.
std::unique_ptr<Peer> StartListening(const std::function<std::vector<std::string>(int)>& argv, const std::string& dir,
                                     int* port) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    int p = FreePort();
    auto peer = std::make_unique<Peer>(Launch(argv(p), dir));
    for (int waited = 0; waited < 20000; waited += 50) {
      if (WaitForPort(p, 50)) {
        *port = p;
        return peer;
      }
      if (!Alive(peer->pid())) break;
      ::usleep(50 * 1000);
    }
  }
  *port = 0;
  return nullptr;
}

}  // namespace

HttpSystem::HttpSystem() {
  EXPECT_EQ(RVCryptoInitLib(), 0);
  UpdFreeConfig();
  g_upd_config = RVAllocRecord<UpdConfig>();
  g_upd_config->protocol = UPD_PROTO_HTTP;
  g_upd_config->script = RVStrDup("updscript.txt");
  UpdConfigToFetch(g_upd_config);
  UpdFetchSetStallLimitForTest(kTestStallMs);
  Messages();
}

HttpSystem::~HttpSystem() {
  UpdFetchSetStallLimitForTest(0);
  UpdFetchSetRateLimitForTest(0, 0);
  UpdFetchSettingsClear();
}

// The record and the fetch settings both carry the value: the clients read
// the settings, the digest and signature checks the record's work list.
void HttpSystem::SetServer(const std::string& server) {
  SetText(&g_upd_config->server, server.c_str());
  g_upd_fetch.server = server;
}
void HttpSystem::SetUser(const char* user) {
  SetText(&g_upd_config->user, user);
  g_upd_fetch.user = user ? user : "";
}
void HttpSystem::SetPassword(const char* stored) {
  SetText(&g_upd_config->password, stored);
  g_upd_fetch.password = stored ? stored : "";
  g_upd_fetch.has_password = stored != nullptr;
}

std::vector<std::string> HttpSystem::Messages() {
  return TqLogTexts(sys().ReadFile("test-log.txt"), &consumed_, true);
}

std::vector<CapturedMessage> HttpSystem::Levels(const std::function<void()>& action) {
  Messages();
  std::vector<std::vector<std::string>> runs;
  for (int log_level : {0, 8, 9}) {
    UpdMessageSetLogLevel(log_level);
    action();
    runs.push_back(Messages());
  }
  UpdMessageSetLogLevel(-1);
  const std::vector<std::string>& all = runs[2];
  std::vector<int> level(all.size(), 0);
  for (int r : {1, 0}) {
    size_t j = 0;
    for (size_t i = 0; i < all.size() && j < runs[static_cast<size_t>(r)].size(); ++i)
      if (all[i] == runs[static_cast<size_t>(r)][j]) {
        level[i] = r == 0 ? 9 : -1;
        ++j;
      }
    EXPECT_EQ(j, runs[static_cast<size_t>(r)].size()) << "messages of a lower LogLevel are not among those of 9";
  }
  std::vector<CapturedMessage> out;
  for (size_t i = 0; i < all.size(); ++i) out.push_back({level[i], all[i]});
  return out;
}

std::unique_ptr<Peer> StartCommand(const std::vector<std::string>& argv, const std::string& dir) {
  return std::make_unique<Peer>(Launch(argv, dir));
}

void Peer::Stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  for (int i = 0; i < 100; ++i) {
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    ::usleep(20 * 1000);
  }
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

int FreePort() {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  int port = 0;
  socklen_t len = sizeof a;
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  ::close(s);
  return port;
}

bool WaitForPort(int port, int timeout_ms) {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(s);
  if (!ok && timeout_ms > 0) ::usleep(static_cast<useconds_t>(timeout_ms) * 1000);
  return ok;
}

std::unique_ptr<Peer> StartPythonHttp(const std::string& dir, int* port) {
  return StartListening(
      [&](int p) {
        return std::vector<std::string>{"python3", "-m", "http.server", std::to_string(p), "--bind", "127.0.0.1",
                                        "--directory", dir};
      },
      "", port);
}

const TlsCert& TestCert() {
  // Made once; the directory goes when the program ends.
  struct Made {
    TlsCert cert;
    std::string dir;
    Made() {
      std::string tmpl = (std::filesystem::temp_directory_path() / "tq-tls-XXXXXX").string();
      dir = ::mkdtemp(tmpl.data()) ? tmpl : "";
      cert.cert = dir + "/cert.pem";
      cert.key = dir + "/key.pem";
      std::string out;
      int rc = TqRunCommand("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=not-this-host.invalid -keyout '" +
                                cert.key + "' -out '" + cert.cert + "'",
                            &out);
      if (rc != 0) std::fprintf(stderr, "openssl req failed: %s\n", out.c_str());
    }
    ~Made() {
      std::error_code ec;
      if (!dir.empty()) std::filesystem::remove_all(dir, ec);
    }
  };
  static Made made;
  return made.cert;
}

std::unique_ptr<Peer> StartTlsWww(const std::string& dir, int* port) {
  const TlsCert& c = TestCert();
  return StartListening(
      [&](int p) {
        return std::vector<std::string>{"openssl", "s_server", "-accept", "127.0.0.1:" + std::to_string(p), "-WWW",
                                        "-cert", c.cert, "-key", c.key, "-quiet"};
      },
      dir, port);
}

std::unique_ptr<Peer> StartTlsWwwWith(const std::string& dir, const TlsCert& cert,
                                      const std::vector<std::string>& extra, int fixed_port, int* port) {
  auto argv = [&](int p) {
    std::vector<std::string> a = {"openssl", "s_server", "-accept", "127.0.0.1:" + std::to_string(p), "-WWW",
                                  "-cert", cert.cert, "-key", cert.key, "-quiet"};
    a.insert(a.end(), extra.begin(), extra.end());
    return a;
  };
  if (fixed_port == 0) return StartListening(argv, dir, port);
  auto peer = std::make_unique<Peer>(Launch(argv(fixed_port), dir));
  for (int waited = 0; waited < 20000; waited += 50) {
    if (WaitForPort(fixed_port, 50)) {
      *port = fixed_port;
      return peer;
    }
    if (!Alive(peer->pid())) break;
  }
  *port = 0;
  return nullptr;
}

std::unique_ptr<Peer> StartScripted(const std::string& dir, const std::string& mode, bool tls, int* port) {
  const TlsCert& c = TestCert();
  std::string port_file = dir + "/port";
  std::error_code ec;
  std::filesystem::remove(port_file, ec);
  auto peer = std::make_unique<Peer>(TqSpawnChild("http_scripted_peer", {dir, mode, tls ? "1" : "0", c.cert, c.key}));
  for (int waited = 0; waited < 20000; waited += 20) {
    std::string text = ReadAll(port_file);
    if (!text.empty()) {
      *port = std::atoi(text.c_str());
      return peer;
    }
    if (!Alive(peer->pid())) break;
    ::usleep(20 * 1000);
  }
  *port = 0;
  return nullptr;
}

std::string Pattern(size_t n, unsigned seed) {
  std::string s(n, '\0');
  uint32_t x = 2463534242u ^ (seed * 2654435761u);
  for (size_t i = 0; i < n; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    s[i] = static_cast<char>(x & 0xff);
  }
  return s;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteAll(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary) << data;
}

bool Exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

// ---------------------------------------------------------------------------
// The scripted peer.

namespace {

// The header lines that never end within the first block.
std::string LongHeader() {
  std::string s = "HTTP/1.0 200 OK\r\n";
  while (s.size() < 9000) s += "X-Filler: " + std::string(80, 'f') + "\r\n";
  return s + "\r\nlate body";
}

// One accepted connection, plain or TLS.
struct PeerConn {
  int fd;   // the socket
  SSL* ssl; // the TLS connection, or null
};

// Sends all of `data`; false when the client went away.
bool SendAll(PeerConn* c, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    int n = c->ssl ? SSL_write(c->ssl, data.data() + done, static_cast<int>(data.size() - done))
                   : static_cast<int>(::send(c->fd, data.data() + done, data.size() - done, MSG_NOSIGNAL));
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Waits until the client goes away (it gave up on a silent peer).
void WaitForClose(int fd) {
  char buf[4096];
  for (;;) {
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0 && !(n < 0 && errno == EINTR)) return;
  }
}

// Reads the request up to its empty line.
std::string ReadRequest(PeerConn* c) {
  std::string req;
  char buf[4096];
  while (req.find("\r\n\r\n") == std::string::npos && req.size() < 65536) {
    int n = c->ssl ? SSL_read(c->ssl, buf, sizeof buf) : static_cast<int>(::recv(c->fd, buf, sizeof buf, 0));
    if (n <= 0) break;
    req.append(buf, static_cast<size_t>(n));
  }
  return req;
}

// Plays `mode` on one connection; returns false when the connection must be
// dropped without a TLS close notification.
bool Play(PeerConn* c, const std::string& mode) {
  if (mode == "silent" || mode == "header_stall" || mode == "body_stall" || mode == "length_keep_open") {
    SendAll(c, ScriptedResponse(mode));
    WaitForClose(c->fd);
    return false;
  }
  if (mode == "trickle") {
    // The header, then one byte every 50 ms for ever.
    if (!SendAll(c, ScriptedResponse(mode))) return false;
    while (SendAll(c, "t")) ::usleep(50 * 1000);
    return false;
  }
  if (mode == "endless_headers" || mode == "endless_body" || mode == "endless_with_length") {
    std::string first = ScriptedResponse(mode);
    if (!SendAll(c, first)) return false;
    std::string more = mode == "endless_headers" ? "X-More: " + std::string(100, 'm') + "\r\n" : Pattern(65536, 7);
    while (SendAll(c, more)) {
    }
    return false;
  }
  SendAll(c, ScriptedResponse(mode));
  if (mode == "reset") {
    linger l{1, 0};
    ::setsockopt(c->fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    return false;
  }
  return mode != "cut_with_length";
}

}  // namespace

std::string ScriptedResponse(const std::string& mode) {
  const std::string ok = "HTTP/1.0 200 OK\r\n\r\n";
  if (mode == "close" || mode == "silent") return "";
  if (mode == "header_only") return ok;
  if (mode == "small") return "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n" + Pattern(1000, 2);
  if (mode == "body_8192") return ok + Pattern(8192, 3);
  if (mode == "fill_block") return ok + Pattern(8192 - ok.size(), 4);
  if (mode == "status_lower_ok") return "HTTP/1.0 200 ok\r\n\r\nlower";
  if (mode == "status_http11") return "HTTP/1.1 200 Whatever\r\nServer: scripted\r\n\r\neleven";
  if (mode == "status_2000") return "HTTP/1.0 2000 OK\r\n\r\nnot two hundred";
  if (mode == "status_in_header") return "HTTP/1.0 302 Found\r\nX-Note: 200 OK\r\n\r\nmoved";
  if (mode == "no_end") return LongHeader();
  if (mode == "not_found") return "HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n\r\n<html><body>No such file</body></html>\n";
  if (mode == "ok_in_404") return "HTTP/1.0 404 Not Found\r\n\r\n<html><body>200 OK</body></html>\n";
  if (mode == "cut_with_length") return "HTTP/1.0 200 OK\r\nContent-Length: 20000\r\n\r\n" + Pattern(10000, 5);
  if (mode == "length_exact") return "HTTP/1.0 200 OK\r\nContent-Length: 10000\r\n\r\n" + Pattern(10000, 6);
  if (mode == "length_more") return "HTTP/1.0 200 OK\r\ncontent-LENGTH:  100 \r\n\r\n" + Pattern(150, 8);
  if (mode == "garbage") return std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) + Pattern(3000, 9);
  if (mode == "header_stall") return "HTTP/1.0 200 OK\r\nX-Slow: ";
  if (mode == "body_stall") return ok + Pattern(1000, 10);
  if (mode == "reset") return ok + Pattern(1000, 11);
  if (mode == "endless_headers") return "HTTP/1.0 200 OK\r\n";
  if (mode == "endless_body") return ok;
  if (mode == "endless_with_length") return "HTTP/1.0 200 OK\r\nContent-Length: 300000\r\n\r\n";
  if (mode == "length_keep_open") return "HTTP/1.0 200 OK\r\nContent-Length: 3000\r\n\r\n" + Pattern(3000, 12);
  if (mode == "trickle") return ok;
  if (mode == "length_huge") return "HTTP/1.0 200 OK\r\nContent-Length: 999999999999999\r\n\r\n" + Pattern(100, 13);
  if (mode == "length_negative") return "HTTP/1.0 200 OK\r\nContent-Length: -1\r\n\r\n" + Pattern(100, 14);
  if (mode == "length_twice") return "HTTP/1.0 200 OK\r\nContent-Length: 10\r\nContent-Length: 100\r\n\r\n" + Pattern(100, 15);
  if (mode == "length_text") return "HTTP/1.0 200 OK\r\nContent-Length: ten\r\n\r\n" + Pattern(100, 16);
  if (mode == "length_too_long") return "HTTP/1.0 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n" + Pattern(100, 17);
  if (mode == "forged")  // an error page that tries to write log lines and drive a terminal
    return "HTTP/1.0 403 Forbidden\r\n2026/12/10 12:00:00 - 1 - tqupdd - forged line\r\n\x1b[2J\x1b]0;title\x07"
           "back\\slash\tTab\r\n\r\n";
  return "HTTP/1.0 500 Unknown Mode\r\n\r\n";
}

}  // namespace httpt

// The scripted peer: args = dir, mode, tls (0/1), certificate, key. Listens
// on a free loopback port, writes it to dir/port, and serves connections one
// after another until it is stopped. A mode "tls_handshake_stall" takes the
// connection and never answers the handshake.
TQ_CHILD_ROLE(http_scripted_peer) {
  if (args.size() < 5) return 2;
  const std::string dir = args[0], mode = args[1];
  bool tls = args[2] == "1";
  ::signal(SIGPIPE, SIG_IGN);
  int ls = ::socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  ::setsockopt(ls, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (::bind(ls, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(ls, 16) != 0 ||
      ::getsockname(ls, reinterpret_cast<sockaddr*>(&a), &len) != 0)
    return 3;
  SSL_CTX* ctx = nullptr;
  if (tls) {
    ctx = SSL_CTX_new(TLS_server_method());
    if (!ctx || SSL_CTX_use_certificate_file(ctx, args[3].c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx, args[4].c_str(), SSL_FILETYPE_PEM) != 1)
      return 4;
  }
  httpt::WriteAll(dir + "/port.tmp", std::to_string(ntohs(a.sin_port)));
  ::rename((dir + "/port.tmp").c_str(), (dir + "/port").c_str());
  for (int index = 1;; ++index) {
    int fd = ::accept(ls, nullptr, nullptr);
    if (fd < 0) continue;
    httpt::WriteAll(dir + "/accepted.tmp", std::to_string(index));
    ::rename((dir + "/accepted.tmp").c_str(), (dir + "/accepted").c_str());
    if (mode == "tls_handshake_stall") {
      httpt::WaitForClose(fd);
      ::close(fd);
      continue;
    }
    httpt::PeerConn c{fd, nullptr};
    if (ctx) {
      c.ssl = SSL_new(ctx);
      SSL_set_fd(c.ssl, fd);
      if (SSL_accept(c.ssl) != 1) {
        SSL_free(c.ssl);
        ::close(fd);
        continue;
      }
    }
    std::string request = httpt::ReadRequest(&c);
    httpt::WriteAll(dir + "/request.tmp", request);
    ::rename((dir + "/request.tmp").c_str(), (dir + "/request").c_str());
    bool orderly = httpt::Play(&c, mode);
    if (c.ssl) {
      if (orderly) SSL_shutdown(c.ssl);
      SSL_free(c.ssl);
    }
    ::close(fd);
  }
}
