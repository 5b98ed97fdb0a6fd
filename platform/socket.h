// TCP sockets: name resolution, connect with a time-out, send, receive with
// a time-out, close.
//
// Every operation that fails stores a Windows Sockets error code in the
// calling thread's last socket error (PlatSockLastError), so that the code
// above reports the same numbers as on Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A socket handle; PLAT_INVALID_SOCKET when there is none.
using PlatSocket = int;
constexpr PlatSocket PLAT_INVALID_SOCKET = -1;

// Windows Sockets error codes.
enum : int {
  WSAEINTR = 10004,
  WSAEBADF = 10009,
  WSAEACCES = 10013,
  WSAEFAULT = 10014,
  WSAEINVAL = 10022,
  WSAEMFILE = 10024,
  WSAEWOULDBLOCK = 10035,
  WSAEINPROGRESS = 10036,
  WSAEALREADY = 10037,
  WSAENOTSOCK = 10038,
  WSAEMSGSIZE = 10040,
  WSAEPROTONOSUPPORT = 10043,
  WSAEAFNOSUPPORT = 10047,
  WSAEADDRINUSE = 10048,
  WSAEADDRNOTAVAIL = 10049,
  WSAENETDOWN = 10050,
  WSAENETUNREACH = 10051,
  WSAENETRESET = 10052,
  WSAECONNABORTED = 10053,
  WSAECONNRESET = 10054,
  WSAENOBUFS = 10055,
  WSAEISCONN = 10056,
  WSAENOTCONN = 10057,
  WSAESHUTDOWN = 10058,
  WSAETIMEDOUT = 10060,
  WSAECONNREFUSED = 10061,
  WSAEHOSTDOWN = 10064,
  WSAEHOSTUNREACH = 10065,
  WSAHOST_NOT_FOUND = 11001,
  WSATRY_AGAIN = 11002,
  WSANO_RECOVERY = 11003,
  WSANO_DATA = 11004,
};

// Address families of the resolver hints and of resolved addresses.
enum PlatSockFamily : int { PLAT_AF_UNSPEC = 0, PLAT_AF_INET = 4, PLAT_AF_INET6 = 6 };

// One resolved socket address (stream socket, TCP).
struct PlatSockAddr {
  int family;               // PLAT_AF_INET or PLAT_AF_INET6
  uint32_t length;          // bytes of `bytes` in use
  unsigned char bytes[128]; // the system's socket address record
};

// Resolves `host` and the decimal `port` text for stream sockets. `family`
// narrows the result (PLAT_AF_UNSPEC: any); with `numeric_host` the host must
// be a numeric address and no name service is asked. The addresses in the
// resolver's order go to `out`; 0, or -1 with the last socket error.
int PlatSockResolve(const char* host, const char* port, PlatSockFamily family, int numeric_host,
                    std::vector<PlatSockAddr>* out);

// True when `text` is a numeric IPv4 address (dotted quad).
bool PlatSockIsNumericV4(const char* text);

// True when `text` is a numeric IPv6 address (without a zone suffix).
bool PlatSockIsNumericV6(const char* text);

// Copies this machine's host name into `out`; 0, or -1 with the last socket error.
int PlatSockHostName(char* out, size_t size);

// Creates a TCP stream socket of `family`; the invalid socket and the last
// socket error on failure.
PlatSocket PlatSockCreate(PlatSockFamily family);

// Switches a socket to non-blocking (on != 0) or blocking mode.
int PlatSockSetNonBlocking(PlatSocket s, int on);

// Starts a connect to `addr`. 0 when connected at once; -1 otherwise, with
// the last socket error WSAEWOULDBLOCK or WSAEINPROGRESS while a
// non-blocking connect goes on.
int PlatSockConnect(PlatSocket s, const PlatSockAddr* addr);

// Waits up to `timeout_ms` for a connect in progress: 0 when the socket is
// readable or writable without a pending error; -1 with the last socket error
// (WSAETIMEDOUT when the time passed, else the connect's own error).
int PlatSockWaitConnect(PlatSocket s, int timeout_ms);

// Waits until `s` can be read (for_write == 0) or written, for at most
// `timeout_ms` (negative: no limit). 1 when ready, 0 when the time passed,
// -1 with the last socket error.
int PlatSockWait(PlatSocket s, int for_write, int timeout_ms);

// Sends up to `len` bytes; returns the bytes sent, or -1 with the last socket
// error. A peer that went away gives an error, never a signal.
int PlatSockSend(PlatSocket s, const char* data, int len);

// Receives up to `len` bytes, waiting at most `timeout_ms` for the first of
// them (negative: no limit). Returns the bytes received, 0 when the peer
// closed the connection, or -1 with the last socket error (WSAETIMEDOUT when
// nothing arrived in time).
int PlatSockRecv(PlatSocket s, char* buf, int len, int timeout_ms);

// Closes a socket; the invalid socket is ignored.
int PlatSockClose(PlatSocket s);

// The calling thread's last socket error (0 when none was set).
int PlatSockLastError();

// Sets the calling thread's last socket error.
void PlatSockSetLastError(int code);

// Maps a C library errno value to the nearest Windows Sockets error code.
int PlatSockErrorFromErrno(int err);

// Creates a TCP socket listening on `port` (0: any free port) of the
// loopback address (loopback != 0) or of every address of `family`. The
// port bound goes to *bound_port. The socket, or the invalid socket with the
// last socket error.
PlatSocket PlatSockListen(PlatSockFamily family, int port, int loopback, int* bound_port);

// Waits up to `timeout_ms` (negative: no limit) for a connection on a
// listening socket and accepts it (blocking mode). The new socket, or the
// invalid socket with the last socket error (WSAETIMEDOUT when none came).
PlatSocket PlatSockAccept(PlatSocket s, int timeout_ms);

// Shuts a connected socket down in both directions. 0, or -1 with the last
// socket error.
int PlatSockShutdown(PlatSocket s);

// Waits up to `timeout_ms` (negative: no limit) until one of `count`
// sockets can be read; ready[i] becomes 1 for each readable (or closed or
// failed) socket, else 0. Returns the number ready, 0 when the time passed,
// -1 with the last socket error.
int PlatSockWaitMany(const PlatSocket* sockets, int count, int timeout_ms, int* ready);

// Bytes that can be received at once without waiting; -1 with the last socket error.
int PlatSockPending(PlatSocket s);
