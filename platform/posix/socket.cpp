// POSIX implementation of platform/socket.h.
#include "platform/socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The calling thread's last socket error (a Windows Sockets code).
thread_local int t_sock_error = 0;

// Stores the Windows Sockets code of errno value `err`; returns -1.
int FailErrno(int err) {
  t_sock_error = PlatSockErrorFromErrno(err);
  return -1;
}

// Windows Sockets code of a resolver failure.
int ErrorFromGai(int rc) {
  switch (rc) {
    case EAI_NONAME: return WSAHOST_NOT_FOUND;
    case EAI_AGAIN: return WSATRY_AGAIN;
    case EAI_FAIL: return WSANO_RECOVERY;
#ifdef EAI_NODATA
    case EAI_NODATA: return WSANO_DATA;
#endif
    case EAI_FAMILY: return WSAEAFNOSUPPORT;
    case EAI_MEMORY: return WSAENOBUFS;
    case EAI_SYSTEM: return PlatSockErrorFromErrno(errno);
    default: return WSAEINVAL;
  }
}

// poll() on one socket, retried after signals. 1 ready, 0 time passed, -1 error.
int PollOne(int fd, short events, int timeout_ms, short* revents) {
  struct pollfd p;
  p.fd = fd;
  p.events = events;
  p.revents = 0;
  for (;;) {
    int r = ::poll(&p, 1, timeout_ms);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return FailErrno(errno);
    *revents = p.revents;
    return r;
  }
}

}  // namespace

int PlatSockErrorFromErrno(int err) {
  switch (err) {
    case 0: return 0;
    case EINTR: return WSAEINTR;
    case EBADF: return WSAEBADF;
    case EACCES:
    case EPERM: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EMFILE:
    case ENFILE: return WSAEMFILE;
#if EAGAIN != EWOULDBLOCK
    case EWOULDBLOCK:
#endif
    case EAGAIN: return WSAEWOULDBLOCK;
    case EINPROGRESS: return WSAEINPROGRESS;
    case EALREADY: return WSAEALREADY;
    case ENOTSOCK: return WSAENOTSOCK;
    case EMSGSIZE: return WSAEMSGSIZE;
    case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ENETRESET: return WSAENETRESET;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET:
    case EPIPE: return WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM: return WSAENOBUFS;
    case EISCONN: return WSAEISCONN;
    case ENOTCONN: return WSAENOTCONN;
    case ESHUTDOWN: return WSAESHUTDOWN;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case EHOSTDOWN: return WSAEHOSTDOWN;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    default: return WSAEINVAL;
  }
}

int PlatSockLastError() { return t_sock_error; }

void PlatSockSetLastError(int code) { t_sock_error = code; }

int PlatSockResolve(const char* host, const char* port, PlatSockFamily family, int numeric_host,
                    std::vector<PlatSockAddr>* out) {
  struct addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | (numeric_host ? AI_NUMERICHOST : 0);
  hints.ai_family = family == PLAT_AF_INET ? AF_INET : family == PLAT_AF_INET6 ? AF_INET6 : AF_UNSPEC;
  struct addrinfo* list = nullptr;
  int rc = ::getaddrinfo(host, port, &hints, &list);
  if (rc != 0) {
    t_sock_error = ErrorFromGai(rc);
    return -1;
  }
  out->clear();
  for (struct addrinfo* a = list; a; a = a->ai_next) {
    if (a->ai_family != AF_INET && a->ai_family != AF_INET6) continue;
    if (a->ai_addrlen > sizeof(PlatSockAddr::bytes)) continue;
    PlatSockAddr addr;
    std::memset(&addr, 0, sizeof addr);
    addr.family = a->ai_family == AF_INET ? PLAT_AF_INET : PLAT_AF_INET6;
    addr.length = static_cast<uint32_t>(a->ai_addrlen);
    std::memcpy(addr.bytes, a->ai_addr, a->ai_addrlen);
    out->push_back(addr);
  }
  ::freeaddrinfo(list);
  if (out->empty()) {
    t_sock_error = WSANO_DATA;
    return -1;
  }
  return 0;
}

bool PlatSockIsNumericV4(const char* text) {
  struct in_addr a;
  return text && ::inet_pton(AF_INET, text, &a) == 1;
}

bool PlatSockIsNumericV6(const char* text) {
  struct in6_addr a;
  return text && ::inet_pton(AF_INET6, text, &a) == 1;
}

int PlatSockHostName(char* out, size_t size) {
  if (size == 0) return FailErrno(EINVAL);
  if (::gethostname(out, size) != 0) return FailErrno(errno);
  out[size - 1] = '\0';
  return 0;
}

PlatSocket PlatSockCreate(PlatSockFamily family) {
  int af = family == PLAT_AF_INET6 ? AF_INET6 : AF_INET;
  int s = ::socket(af, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (s < 0) {
    FailErrno(errno);
    return PLAT_INVALID_SOCKET;
  }
  return s;
}

int PlatSockSetNonBlocking(PlatSocket s, int on) {
  int flags = ::fcntl(s, F_GETFL, 0);
  if (flags < 0) return FailErrno(errno);
  flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  if (::fcntl(s, F_SETFL, flags) != 0) return FailErrno(errno);
  return 0;
}

int PlatSockConnect(PlatSocket s, const PlatSockAddr* addr) {
  int r;
  do r = ::connect(s, reinterpret_cast<const struct sockaddr*>(addr->bytes), addr->length);
  while (r != 0 && errno == EINTR);
  if (r != 0) return FailErrno(errno);
  return 0;
}

int PlatSockWaitConnect(PlatSocket s, int timeout_ms) {
  short revents = 0;
  int r = PollOne(s, POLLIN | POLLOUT, timeout_ms, &revents);
  if (r < 0) return -1;
  if (r == 0) {
    t_sock_error = WSAETIMEDOUT;
    return -1;
  }
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return FailErrno(errno);
  if (err != 0) return FailErrno(err);
  if (!(revents & (POLLIN | POLLOUT))) return FailErrno(ECONNREFUSED);
  return 0;
}

int PlatSockWait(PlatSocket s, int for_write, int timeout_ms) {
  short revents = 0;
  int r = PollOne(s, for_write ? POLLOUT : POLLIN, timeout_ms < 0 ? -1 : timeout_ms, &revents);
  if (r < 0) return -1;
  return r == 0 ? 0 : 1;
}

int PlatSockSend(PlatSocket s, const char* data, int len) {
  ssize_t n;
  do n = ::send(s, data, static_cast<size_t>(len), MSG_NOSIGNAL);
  while (n < 0 && errno == EINTR);
  if (n < 0) return FailErrno(errno);
  return static_cast<int>(n);
}

int PlatSockRecv(PlatSocket s, char* buf, int len, int timeout_ms) {
  if (timeout_ms >= 0) {
    int ready = PlatSockWait(s, 0, timeout_ms);
    if (ready < 0) return -1;
    if (ready == 0) {
      t_sock_error = WSAETIMEDOUT;
      return -1;
    }
  }
  ssize_t n;
  do n = ::recv(s, buf, static_cast<size_t>(len), 0);
  while (n < 0 && errno == EINTR);
  if (n < 0) return FailErrno(errno);
  return static_cast<int>(n);
}

int PlatSockClose(PlatSocket s) {
  if (s == PLAT_INVALID_SOCKET) return 0;
  if (::close(s) != 0) return FailErrno(errno);
  return 0;
}

PlatSocket PlatSockListen(PlatSockFamily family, int port, int loopback, int* bound_port) {
  int af = family == PLAT_AF_INET6 ? AF_INET6 : AF_INET;
  int s = ::socket(af, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (s < 0) {
    FailErrno(errno);
    return PLAT_INVALID_SOCKET;
  }
  int one = 1;
  ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  struct sockaddr_storage ss;
  std::memset(&ss, 0, sizeof ss);
  socklen_t len;
  if (af == AF_INET) {
    auto* a = reinterpret_cast<struct sockaddr_in*>(&ss);
    a->sin_family = AF_INET;
    a->sin_port = htons(static_cast<uint16_t>(port));
    a->sin_addr.s_addr = htonl(loopback ? INADDR_LOOPBACK : INADDR_ANY);
    len = sizeof *a;
  } else {
    auto* a = reinterpret_cast<struct sockaddr_in6*>(&ss);
    a->sin6_family = AF_INET6;
    a->sin6_port = htons(static_cast<uint16_t>(port));
    a->sin6_addr = loopback ? in6addr_loopback : in6addr_any;
    len = sizeof *a;
  }
  if (::bind(s, reinterpret_cast<struct sockaddr*>(&ss), len) != 0 || ::listen(s, 16) != 0 ||
      ::getsockname(s, reinterpret_cast<struct sockaddr*>(&ss), &len) != 0) {
    FailErrno(errno);
    ::close(s);
    return PLAT_INVALID_SOCKET;
  }
  if (bound_port)
    *bound_port = ntohs(af == AF_INET ? reinterpret_cast<struct sockaddr_in*>(&ss)->sin_port
                                      : reinterpret_cast<struct sockaddr_in6*>(&ss)->sin6_port);
  return s;
}

PlatSocket PlatSockAccept(PlatSocket s, int timeout_ms) {
  int ready = PlatSockWait(s, 0, timeout_ms);
  if (ready < 0) return PLAT_INVALID_SOCKET;
  if (ready == 0) {
    t_sock_error = WSAETIMEDOUT;
    return PLAT_INVALID_SOCKET;
  }
  int c;
  do c = ::accept4(s, nullptr, nullptr, SOCK_CLOEXEC);
  while (c < 0 && errno == EINTR);
  if (c < 0) {
    FailErrno(errno);
    return PLAT_INVALID_SOCKET;
  }
  return c;
}

int PlatSockShutdown(PlatSocket s) {
  if (::shutdown(s, SHUT_RDWR) != 0) return FailErrno(errno);
  return 0;
}

int PlatSockWaitMany(const PlatSocket* sockets, int count, int timeout_ms, int* ready) {
  std::vector<struct pollfd> p(static_cast<size_t>(count > 0 ? count : 0));
  for (int i = 0; i < count; ++i) {
    p[i].fd = sockets[i];
    p[i].events = POLLIN;
    p[i].revents = 0;
  }
  int r;
  do r = ::poll(p.data(), p.size(), timeout_ms < 0 ? -1 : timeout_ms);
  while (r < 0 && errno == EINTR);
  if (r < 0) return FailErrno(errno);
  for (int i = 0; i < count; ++i) ready[i] = p[i].revents != 0 ? 1 : 0;
  return r;
}

int PlatSockPending(PlatSocket s) {
  int n = 0;
  if (::ioctl(s, FIONREAD, &n) != 0) return FailErrno(errno);
  return n;
}
