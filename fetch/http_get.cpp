// HttpGet: one HTTP/1.0 GET over a plain TCP connection.
#include "fetch/http_get.h"

#include <cstring>

#include "connection/connect.h"
#include "crypto/wipe.h"
#include "fetch/fetch_settings.h"
#include "fetch/http_local_file.h"
#include "fetch/http_request.h"
#include "fetch/http_response.h"
#include "fetch/server_address.h"
#include "fetch/stall_limit.h"
#include "platform/socket.h"
#include "runtime/log_text.h"
#include "runtime/message.h"

namespace {

constexpr const char kWho[] = "HttpGet";
constexpr int kHttpPort = 80;         // port when Server names none
constexpr size_t kRequestSize = 4096; // the request text buffer
constexpr size_t kEncodedSize = 4096; // the encoded credentials buffer

// The request text of the fetch in progress, and the same with the
// credentials masked for the messages.
char g_http_request[kRequestSize];
char g_http_request_shown[kRequestSize];

// Sends the whole request. 0, or -1 logged.
int SendRequest(PlatSocket s, const char* request, int len) {
  int left = len;
  while (left > 0) {
    int n = PlatSockSend(s, request + (len - left), left);
    if (n < 0) {
      UpdMessage(9, "SOCSend() Failed, exterrno: %d", PlatSockLastError());
      return -1;
    }
    left -= n;
  }
  return 0;
}

// The receive side of a plain connection (UpdHttpChannel).
int ChannelRecv(void* ctx, char* buf, int len, int wait_ms) {
  PlatSocket s = *static_cast<PlatSocket*>(ctx);
  int n = PlatSockRecv(s, buf, len, wait_ms);
  if (n >= 0) return n;
  if (PlatSockLastError() == WSAETIMEDOUT) return -2;
  UpdMessage(9, "SOCRecv() Failed, exterrno: %d", PlatSockLastError());
  return -1;
}

// The receive failure of a peer that sent too little in time.
void ChannelTimeout(void*) { UpdMessage(9, "SOCRecv() Failed, exterrno: %d", static_cast<int>(WSAETIMEDOUT)); }

}  // namespace

int HttpGet(const char* target, const char* local_path, int64_t max_bytes) {
  const UpdFetchSettings* settings = &g_upd_fetch;
  const char* server = settings->server.c_str();
  const char* user = settings->user.empty() ? nullptr : settings->user.c_str();
  const char* password = settings->has_password ? settings->password.c_str() : nullptr;

  UpdLocalFile file;
  if (UpdLocalFileCreate(&file, local_path) != 0) return -1;

  RVShown shown_server;
  RVShowText(&shown_server, server);
  UpdServerAddress address;
  if (UpdParseServer(server, kHttpPort, &address) != 0) {
    UpdMessage(9, "%s Error - Invalid Server: %s", kWho, shown_server.text);
    UpdLocalFileDiscard(&file);
    return -1;
  }
  // The request is complete and within its limits before anything is sent.
  const UpdHttpLimits limits = {kWho, kRequestSize, kEncodedSize};
  if (UpdHttpComposeRequest(target, server, user, password, &limits, g_http_request, g_http_request_shown) != 0) {
    UpdLocalFileDiscard(&file);
    return -1;
  }

  PlatSocket s = RVConnectTcp(address.host, address.port);
  if (s == PLAT_INVALID_SOCKET) {
    UpdMessage(9, "Failed to connect to: %s", shown_server.text);
    RVCryptoWipe(g_http_request, sizeof g_http_request);
    UpdLocalFileDiscard(&file);
    return -1;
  }
  UpdMessage(0, "Connected to: %s", shown_server.text);
  UpdMessage(0, "http query: %s", g_http_request_shown);

  int result = SendRequest(s, g_http_request, static_cast<int>(std::strlen(g_http_request)));
  RVCryptoWipe(g_http_request, sizeof g_http_request);
  if (result == 0) {
    const UpdHttpChannel channel = {&s, ChannelRecv, ChannelTimeout};
    result = UpdHttpReceive(&channel, &file, kWho, max_bytes);
  }
  PlatSockClose(s);
  if (result == 0) return UpdLocalFileFinish(&file);
  UpdLocalFileDiscard(&file);
  return -1;
}
