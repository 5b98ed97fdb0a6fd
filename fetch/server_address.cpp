// The configured Server as host and port.
#include "fetch/server_address.h"

#include <cstring>

namespace {

// Reads a decimal port 1-65535 that fills `text` to its end.
int ParsePort(const char* text, int* port) {
  if (!*text) return -1;
  long v = 0;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return -1;
    v = v * 10 + (*p - '0');
    if (v > 65535) return -1;
  }
  if (v < 1) return -1;
  *port = static_cast<int>(v);
  return 0;
}

// Copies `len` characters of `from` as the host; -1 when empty or too long.
int SetHost(UpdServerAddress* out, const char* from, size_t len) {
  if (len == 0 || len >= sizeof out->host) return -1;
  std::memcpy(out->host, from, len);
  out->host[len] = '\0';
  return 0;
}

}  // namespace

int UpdParseServer(const char* server, int default_port, UpdServerAddress* out) {
  out->host[0] = '\0';
  out->port = default_port;
  if (!server) return -1;
  if (server[0] == '[') {
    const char* close = std::strchr(server, ']');
    if (!close) return -1;
    if (SetHost(out, server + 1, static_cast<size_t>(close - server - 1)) != 0) return -1;
    if (close[1] == '\0') return 0;
    if (close[1] != ':') return -1;
    return ParsePort(close + 2, &out->port);
  }
  const char* colon = std::strchr(server, ':');
  if (!colon || std::strchr(colon + 1, ':')) return SetHost(out, server, std::strlen(server));
  if (SetHost(out, server, static_cast<size_t>(colon - server)) != 0) return -1;
  return ParsePort(colon + 1, &out->port);
}
