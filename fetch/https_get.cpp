// HttpsGet: one HTTP/1.0 GET over TLS. The server name goes out (SNI) when
// Server is a host name. By default the server's certificate is not
// verified: the connection gives privacy only, integrity of what is fetched
// rests on the digest and signature checks. HttpsVerify System or File has
// OpenSSL verify the chain and the host name; HttpsPin values are checked
// against the digest of the server's key, with or without a chain check.
#include "fetch/http_get.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/rand.h>
#include <openssl/sha.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <string>

#include "crypto/wipe.h"
#include "fetch/fetch_settings.h"
#include "fetch/http_local_file.h"
#include "fetch/http_request.h"
#include "fetch/http_response.h"
#include "fetch/server_address.h"
#include "fetch/stall_limit.h"
#include "platform/file.h"
#include "platform/socket.h"
#include "platform/system.h"
#include "runtime/log_text.h"
#include "runtime/message.h"

namespace {

constexpr const char kWho[] = "SSL HttpGet";
constexpr int kHttpsPort = 443;       // port when Server names none
constexpr size_t kConnectSize = 1024; // the connect text buffer
constexpr size_t kRequestSize = 1024; // the request text buffer
constexpr size_t kEncodedSize = 512;  // the encoded credentials buffer
constexpr size_t kSeedSize = 12;      // seed bytes read from the system

// The connect text and request text of the fetch in progress, and the
// request with the credentials masked for the messages.
char g_https_connect[kConnectSize];
char g_https_request[kRequestSize];
char g_https_request_shown[kRequestSize];

// Seeds OpenSSL's generator with 12 bytes of the system's random source,
// or with the current time when that cannot be read.
void SeedRandom() {
  unsigned char seed[kSeedSize];
  FILE* f = PlatFileOpen("/dev/urandom", "rb");
  bool ok = f && std::fread(seed, 1, sizeof seed, f) == sizeof seed;
  if (f) std::fclose(f);
  if (ok) {
    RAND_seed(seed, static_cast<int>(sizeof seed));
  } else {
    int64_t now = PlatTimeNow();
    RAND_seed(&now, static_cast<int>(sizeof now));
  }
}

// Every TLS call below starts with an empty error queue of the thread, so
// that SSL_get_error and the queue tell about that call alone.

// How a wait for the socket ended.
enum WaitResult { WAIT_READY = 1, WAIT_TIMED_OUT = 0, WAIT_ERROR = -1, WAIT_STOPPED = -3 };

// Waits for `fd` to be readable (for_write 0) or writable until `deadline_ms`
// (monotonic), looking at the stop hook at least every 200 ms.
WaitResult WaitSocket(int fd, int for_write, int64_t deadline_ms) {
  for (;;) {
    if (UpdFetchStopRequested()) return WAIT_STOPPED;
    int64_t left = deadline_ms - PlatMonotonicMs();
    if (left <= 0) return WAIT_TIMED_OUT;
    int slice = left > kUpdStopSliceMs ? kUpdStopSliceMs : static_cast<int>(left);
    int ready = PlatSockWait(fd, for_write, slice);
    if (ready == 1) return WAIT_READY;
    if (ready < 0) return WAIT_ERROR;
  }
}

// The error queue of the thread as one text ("" when empty), emptied.
std::string QueueText() {
  std::string text;
  unsigned long e;
  while ((e = ERR_get_error()) != 0) {
    char buf[256];
    ERR_error_string_n(e, buf, sizeof buf);
    if (!text.empty()) text += "; ";
    text += buf;
  }
  return text;
}

// Why a handshake (or the connect under it) failed, for the outcome line.
std::string FailureReason(SSL* ssl, int ssl_error, int sys_errno, WaitResult waited) {
  if (waited == WAIT_STOPPED) return "stopped: the service is stopping";
  if (waited == WAIT_TIMED_OUT)
    return "no answer from the server within " + std::to_string(UpdFetchStallLimitMs()) + " ms";
  std::string reason;
  long verify = ssl ? SSL_get_verify_result(ssl) : X509_V_OK;
  if (ssl && SSL_get_verify_mode(ssl) != SSL_VERIFY_NONE && verify != X509_V_OK)
    reason = std::string("certificate verify failed: ") + X509_verify_cert_error_string(verify);
  std::string queue = QueueText();
  if (!queue.empty()) reason += (reason.empty() ? "" : " (") + queue + (reason.empty() ? "" : ")");
  if (reason.empty()) {
    if (sys_errno != 0) reason = std::string("system error: ") + std::strerror(sys_errno);
    else if (ssl_error == SSL_ERROR_SYSCALL || ssl_error == SSL_ERROR_ZERO_RETURN)
      reason = "the server closed the connection";
    else reason = "TLS error " + std::to_string(ssl_error);
  }
  return reason;
}

// After a TLS call that returned `ret` (not a success): when OpenSSL waits
// for the socket, waits for it until `deadline_ms`. WAIT_READY when the call
// should be made again; otherwise how the wait ended, or WAIT_ERROR when the
// call failed outright, with its OpenSSL error in *ssl_error.
WaitResult WaitToRetry(SSL* ssl, int ret, int64_t deadline_ms, int* ssl_error) {
  int e = SSL_get_error(ssl, ret);
  *ssl_error = e;
  int for_write;
  if (e == SSL_ERROR_WANT_READ)
    for_write = 0;
  else if (e == SSL_ERROR_WANT_WRITE || e == SSL_ERROR_WANT_CONNECT)
    for_write = 1;
  else
    return WAIT_ERROR;
  int fd = SSL_get_fd(ssl);
  if (fd < 0) return WAIT_ERROR;
  return WaitSocket(fd, for_write, deadline_ms);
}

// Makes the TCP connection under the connect BIO. 0, or -1 with the reason.
int ConnectBio(BIO* bio, std::string* reason) {
  int64_t deadline = PlatMonotonicMs() + UpdFetchStallLimitMs();
  for (;;) {
    ERR_clear_error();
    errno = 0;
    if (BIO_do_connect(bio) > 0) return 0;
    int sys_errno = errno;
    if (!BIO_should_retry(bio)) {
      std::string queue = QueueText();
      *reason = "connect failed: " + (queue.empty() ? std::string(std::strerror(sys_errno)) : queue);
      return -1;
    }
    int fd = static_cast<int>(BIO_get_fd(bio, nullptr));
    WaitResult w = fd < 0 ? WAIT_READY : WaitSocket(fd, 1, deadline);
    if (w == WAIT_STOPPED || w == WAIT_TIMED_OUT) {
      *reason = "connect failed: " + FailureReason(nullptr, 0, 0, w);
      return -1;
    }
  }
}

// Runs the client handshake. 0, or -1 with the reason.
int Handshake(SSL* ssl, std::string* reason) {
  int64_t deadline = PlatMonotonicMs() + UpdFetchStallLimitMs();
  for (;;) {
    ERR_clear_error();
    errno = 0;
    int r = SSL_connect(ssl);
    if (r == 1) return 0;
    int sys_errno = errno;
    int e = 0;
    WaitResult w = WaitToRetry(ssl, r, deadline, &e);
    if (w == WAIT_READY) continue;
    *reason = "TLS handshake failed: " + FailureReason(ssl, e, w == WAIT_ERROR ? sys_errno : 0, w);
    return -1;
  }
}

// The SHA-256 digest of the server key's SubjectPublicKeyInfo. 0 or -1.
int ServerKeyDigest(SSL* ssl, std::array<unsigned char, kUpdPinSize>* digest) {
  X509* cert = SSL_get1_peer_certificate(ssl);
  if (!cert) return -1;
  unsigned char* der = nullptr;
  int len = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(cert), &der);
  X509_free(cert);
  if (len <= 0) return -1;
  SHA256(der, static_cast<size_t>(len), digest->data());
  OPENSSL_free(der);
  return 0;
}

// Checks the server key against the HttpsPin values. 0 when there are none
// or one matches, else -1 with the reason.
int CheckPins(SSL* ssl, std::string* reason) {
  const auto& pins = g_upd_fetch.https_pins;
  if (pins.empty()) return 0;
  std::array<unsigned char, kUpdPinSize> digest;
  if (ServerKeyDigest(ssl, &digest) != 0) {
    *reason = "server key not pinned: the server sent no certificate";
    return -1;
  }
  for (const auto& pin : pins)
    if (pin == digest) return 0;
  *reason = "server key not pinned: " + UpdPinText(digest);
  return -1;
}

// Writes the whole request with one TLS write. 0, or -1 logged.
int WriteRequest(SSL* ssl, const char* request) {
  int len = static_cast<int>(std::strlen(request));
  int64_t deadline = PlatMonotonicMs() + UpdFetchStallLimitMs();
  for (;;) {
    ERR_clear_error();
    int n = SSL_write(ssl, request, len);
    if (n > 0) return 0;
    int e = 0;
    if (n < 0 && WaitToRetry(ssl, n, deadline, &e) == WAIT_READY) continue;
    UpdMessage(9, "SSL_write() Failed - %d", n);
    return -1;
  }
}

// The receive side of a TLS connection (UpdHttpChannel).
int ChannelRecv(void* ctx, char* buf, int len, int wait_ms) {
  SSL* ssl = static_cast<SSL*>(ctx);
  int64_t deadline = PlatMonotonicMs() + wait_ms;
  for (;;) {
    ERR_clear_error();
    errno = 0;
    int n = SSL_read(ssl, buf, len);
    if (n > 0) return n;
    int sys_errno = errno;
    int e = SSL_get_error(ssl, n);
    if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
      int fd = SSL_get_fd(ssl);
      int64_t left = deadline - PlatMonotonicMs();
      if (fd < 0) return -1;
      if (left <= 0) return -2;
      int ready = PlatSockWait(fd, e == SSL_ERROR_WANT_WRITE, static_cast<int>(left));
      if (ready == 0) return -2;
      if (ready == 1) continue;
      sys_errno = errno;
    }
    // A read of 0 is the end of the connection, with or without the peer's
    // close notification; any other failure fails the fetch.
    if (n == 0 && (e == SSL_ERROR_ZERO_RETURN || e == SSL_ERROR_SYSCALL)) return 0;
    UpdMessage(9, "SOCRecv() Failed, syserrno: %d sslerrno: %d", sys_errno, e);
    return -1;
  }
}

// The receive failure of a peer that sent too little in time.
void ChannelTimeout(void*) {
  UpdMessage(9, "SOCRecv() Failed, syserrno: %d sslerrno: %d", ETIMEDOUT, SSL_ERROR_WANT_READ);
}

// Sets up the context for the configured verification. 0, or -1 logged.
int SetUpVerification(SSL_CTX* ctx) {
  const UpdFetchSettings* f = &g_upd_fetch;
  if (f->https_verify == UPD_HTTPS_VERIFY_SYSTEM) {
    ERR_clear_error();
    if (SSL_CTX_set_default_verify_paths(ctx) != 1) {
      UpdMessage(9, "%s Error - System Certificates Unusable: %s", kWho, QueueText().c_str());
      return -1;
    }
  } else if (f->https_verify == UPD_HTTPS_VERIFY_FILE) {
    ERR_clear_error();
    RVShown shown;
    RVShowText(&shown, f->https_ca_file.c_str());
    if (f->https_ca_file.empty() || SSL_CTX_load_verify_locations(ctx, f->https_ca_file.c_str(), nullptr) != 1) {
      std::string queue = QueueText();
      RVShown reason;
      UpdMessage(9, "%s Error - HttpsCAFile Unusable: %s: %s", kWho, shown.text,
                 RVShowText(&reason, queue.empty() ? "no certificate in it" : queue.c_str()));
      return -1;
    }
  }
  return 0;
}

// Names the server on the connection: SNI for a host name, and, with
// verification on, the name or address the certificate must carry.
// 0, or -1 logged.
int NameServer(SSL* ssl, const char* host) {
  bool numeric = PlatSockIsNumericV4(host) || PlatSockIsNumericV6(host);
  if (!numeric && SSL_set_tlsext_host_name(ssl, host) != 1) {
    UpdMessage(9, "%s Error - Server Name Not Usable for SNI", kWho);
    return -1;
  }
  if (g_upd_fetch.https_verify == UPD_HTTPS_VERIFY_NONE) return 0;
  SSL_set_verify(ssl, SSL_VERIFY_PEER, nullptr);
  int ok = numeric ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host) : SSL_set1_host(ssl, host);
  if (ok != 1) {
    UpdMessage(9, "%s Error - Server Name Not Usable for Verification", kWho);
    return -1;
  }
  return 0;
}

}  // namespace

int HttpsGet(const char* target, const char* local_path, int64_t max_bytes) {
  const UpdFetchSettings* settings = &g_upd_fetch;
  const char* server = settings->server.c_str();
  const char* user = settings->user.empty() ? nullptr : settings->user.c_str();
  const char* password = settings->has_password ? settings->password.c_str() : nullptr;

  OPENSSL_init_ssl(0, nullptr);
  OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
  SeedRandom();

  SSL_CTX* ctx = SSL_CTX_new(TLS_method());
  if (!ctx) {
    UpdMessage(9, "SSL_CTX_new() - Failed");
    PlatDeleteFile(local_path);
    return -1;
  }
  // A connection that ends without the peer's close notification ends the
  // body like a plain close does.
  SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
  if (SetUpVerification(ctx) != 0) {
    SSL_CTX_free(ctx);
    ERR_clear_error();
    PlatDeleteFile(local_path);
    return -1;
  }

  UpdLocalFile file;
  if (UpdLocalFileCreate(&file, local_path) != 0) {
    SSL_CTX_free(ctx);
    return -1;
  }

  BIO* bio = nullptr;
  SSL* ssl = nullptr;
  int result = -1;
  UpdServerAddress address;
  const UpdHttpLimits limits = {kWho, kRequestSize, kEncodedSize};
  RVShown shown_server;
  RVShowText(&shown_server, server);
  if (UpdParseServer(server, kHttpsPort, &address) != 0) {
    UpdMessage(9, "%s Error - Invalid Server: %s", kWho, shown_server.text);
  } else if (UpdHttpComposeRequest(target, server, user, password, &limits, g_https_request, g_https_request_shown) !=
             0) {
    // logged
  } else {
    bool v6 = std::strchr(address.host, ':') != nullptr;
    std::snprintf(g_https_connect, sizeof g_https_connect, v6 ? "[%s]:%d" : "%s:%d", address.host, address.port);
    RVShown shown_connect;
    UpdMessage(9, "Getting New Connection To: %s...", RVShowText(&shown_connect, g_https_connect));
    bio = BIO_new_connect(g_https_connect);
    if (!bio) {
      UpdMessage(9, "\tFailed");
    } else {
      UpdMessage(9, "\tSuccess");
      // Non-blocking underneath, so that every wait for the peer is bounded.
      BIO_set_nbio(bio, 1);
      ssl = SSL_new(ctx);
      if (!ssl) {
        UpdMessage(9, "SSL_new() - Failed");
      } else if (NameServer(ssl, address.host) == 0) {
        SSL_set_bio(ssl, bio, bio);
        BIO* connect_bio = bio;
        bio = nullptr;  // owned by the connection from here on
        UpdMessage(9, "Connecting...");
        std::string reason;
        if (ConnectBio(connect_bio, &reason) != 0 || Handshake(ssl, &reason) != 0 || CheckPins(ssl, &reason) != 0) {
          UpdMessage(9, "\tFailed");
          RVShown shown_reason;
          UpdMessage(9, "%s Error - %s", kWho, RVShowText(&shown_reason, reason.c_str()));
        } else {
          UpdMessage(9, "\tSuccess");
          UpdMessage(0, "Connected to: %s", shown_server.text);
          UpdMessage(0, "http query: %s", g_https_request_shown);
          if (WriteRequest(ssl, g_https_request) == 0) {
            const UpdHttpChannel channel = {ssl, ChannelRecv, ChannelTimeout};
            result = UpdHttpReceive(&channel, &file, kWho, max_bytes);
          }
        }
      }
    }
  }

  RVCryptoWipe(g_https_request, sizeof g_https_request);
  if (ssl) SSL_free(ssl);
  if (bio) BIO_free(bio);
  SSL_CTX_free(ctx);
  ERR_clear_error();  // nothing of this fetch is left for the thread's next OpenSSL user
  if (result == 0) return UpdLocalFileFinish(&file);
  UpdLocalFileDiscard(&file);
  return -1;
}
