// The configured Server as host and port.
#pragma once

// Host and port of the update server.
struct UpdServerAddress {
  char host[256]; // host name or numeric address, IPv6 without brackets
  int port;       // TCP port, 1-65535
};

// Splits `server` into host and port: "host", "host:port", "[v6]" and
// "[v6]:port"; an IPv6 address without brackets (two or more ":") is a host
// without port. Without a port, `default_port`. 0, or -1 for an empty host,
// a host over 255 characters, a port that is not 1-65535 in decimal, or a
// bracket that is not closed or is followed by anything but ":port".
int UpdParseServer(const char* server, int default_port, UpdServerAddress* out);
