// TCP connects of the connection runtime: the once-per-process socket
// start and the connect with its growing time-out.
#pragma once

#include "platform/socket.h"

// Starts the sockets of the process on the first call; later calls return
// the first call's result without trying again. 0, or -1 after reporting.
int RVSockStartup();

// Opens a TCP connection to `host` (name, numeric IPv4 or IPv6 address; an
// empty host is this machine) and `port`. Returns a connected socket in
// blocking mode, or -1 after reporting through RVReportError. Each connect
// waits up to the process's connect time-out: 15 seconds, 15 more after
// every failed connect to the same host and port (at most 120), back to 15
// for another place.
PlatSocket RVConnectTcp(const char* host, int port);

// The connect time-out in seconds that the last RVConnectTcp used.
int RVConnectTimeout();

// Milliseconds per second of the connect time-out: 1000, or `ms` (1-1000)
// for tests that must see a time-out end soon; other values restore 1000.
void RVConnectSetSecondMs(int ms);
