// HttpsGet: one HTTP/1.0 GET over TLS. The server's certificate is not
// verified and no server name is sent: the connection gives privacy only,
// integrity of what is fetched rests on the digest and signature checks.
#include "fetch/http_get.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>

#include "crypto/wipe.h"
#include "engine/config.h"
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
// that SSL_get_error tells about that call alone.

// After a TLS call that returned `ret` (not a success): when OpenSSL waits
// for the socket, waits for it up to the stall limit. 1 when the call should
// be made again; 0 when it failed, with its OpenSSL error in *ssl_error and
// *timed_out set when the peer stayed silent.
int WaitToRetry(SSL* ssl, int ret, int* ssl_error, bool* timed_out) {
  int e = SSL_get_error(ssl, ret);
  *ssl_error = e;
  *timed_out = false;
  int for_write;
  if (e == SSL_ERROR_WANT_READ)
    for_write = 0;
  else if (e == SSL_ERROR_WANT_WRITE || e == SSL_ERROR_WANT_CONNECT)
    for_write = 1;
  else
    return 0;
  int fd = SSL_get_fd(ssl);
  if (fd < 0) return 0;
  int ready = PlatSockWait(fd, for_write, UpdFetchStallLimitMs());
  if (ready == 0) *timed_out = true;
  return ready == 1 ? 1 : 0;
}

// Runs the client handshake. 0, or -1 (not logged).
int Handshake(SSL* ssl) {
  for (;;) {
    ERR_clear_error();
    int r = SSL_connect(ssl);
    if (r == 1) return 0;
    int e = 0;
    bool timed_out = false;
    if (r < 0 && WaitToRetry(ssl, r, &e, &timed_out)) continue;
    return -1;
  }
}

// Writes the whole request with one TLS write. 0, or -1 logged.
int WriteRequest(SSL* ssl, const char* request) {
  int len = static_cast<int>(std::strlen(request));
  for (;;) {
    ERR_clear_error();
    int n = SSL_write(ssl, request, len);
    if (n > 0) return 0;
    int e = 0;
    bool timed_out = false;
    if (n < 0 && WaitToRetry(ssl, n, &e, &timed_out)) continue;
    UpdMessage(9, "SSL_write() Failed - %d", n);
    return -1;
  }
}

// Fills the receive block from the TLS connection until it is full or the
// peer closed. Returns the bytes received with *closed telling the end, or
// -1 logged.
int FillBlock(SSL* ssl, bool* closed) {
  int filled = 0;
  *closed = false;
  while (filled < kUpdRecvBlockSize) {
    ERR_clear_error();
    errno = 0;
    int n = SSL_read(ssl, g_upd_recv_block + filled, kUpdRecvBlockSize - filled);
    if (n > 0) {
      filled += n;
      continue;
    }
    int sys_errno = errno;
    int e = 0;
    bool timed_out = false;
    if (n < 0 && WaitToRetry(ssl, n, &e, &timed_out)) continue;
    if (n < 0 && timed_out) sys_errno = ETIMEDOUT;
    if (n == 0) e = SSL_get_error(ssl, n);
    // A read of 0 is the end of the connection, with or without the peer's
    // close notification; any other failure fails the fetch.
    if (n == 0 && (e == SSL_ERROR_ZERO_RETURN || e == SSL_ERROR_SYSCALL)) {
      *closed = true;
      return filled;
    }
    UpdMessage(9, "SOCRecv() Failed, syserrno: %d sslerrno: %d", sys_errno, e);
    return -1;
  }
  return filled;
}

// Receives the response into the local file. 0, or -1 logged.
int ReceiveResponse(SSL* ssl, UpdLocalFile* file) {
  UpdHttpResponse response;
  UpdHttpResponseStart(&response, file, kWho);
  for (;;) {
    bool closed = false;
    int filled = FillBlock(ssl, &closed);
    if (filled < 0) return -1;
    if (filled == 0) break;
    if (UpdHttpResponseBlock(&response, g_upd_recv_block, filled) != 0) return -1;
    if (closed) break;
  }
  return UpdHttpResponseEnd(&response);
}

}  // namespace

int HttpsGet(const char* target, const char* local_path) {
  const UpdConfig* config = g_upd_config;
  const char* server = config && config->server ? config->server : "";
  const char* user = config ? config->user : nullptr;
  const char* password = config ? config->password : nullptr;

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
      } else {
        SSL_set_bio(ssl, bio, bio);
        bio = nullptr;  // owned by the connection from here on
        UpdMessage(9, "Connecting...");
        if (Handshake(ssl) != 0) {
          UpdMessage(9, "\tFailed");
        } else {
          UpdMessage(9, "\tSuccess");
          UpdMessage(0, "Connected to: %s", shown_server.text);
          UpdMessage(0, "http query: %s", g_https_request_shown);
          if (WriteRequest(ssl, g_https_request) == 0) result = ReceiveResponse(ssl, &file);
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
