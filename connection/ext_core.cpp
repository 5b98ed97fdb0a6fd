// Connection records: making them over a transport, the server's listen and
// accept, breaking, closing and freeing, the runtime's list of connections.
#include <algorithm>
#include <cstring>
#include <vector>

#include "connection/ext.h"
#include "connection/ext_internal.h"
#include "runtime/mutex.h"
#include "runtime/report.h"
#include "runtime/util.h"

namespace {

// The runtime's connections (guarded by the callers: one thread uses a connection).
std::vector<RVExt*>& List() {
  static std::vector<RVExt*> list;
  return list;
}

RVMutex* NewMutex() {
  RVMutex* m = RVMutexAlloc();
  RVMutexCreate(m, nullptr);
  return m;
}

}  // namespace

int RVExtSecondMs() { return static_cast<int>(RVSecondMs()); }

RVExt* RVExtFromTransport(RVTransportEnd io, int server) {
  auto* e = new RVExt{};
  e->transport_kind = 1;
  e->io = io;
  e->flags = RVEXT_OPEN | RVEXT_SEND_CLOSE | (server ? static_cast<uint32_t>(RVEXT_SERVER) : 0u);
  e->send_mutex = NewMutex();
  e->get_mutex = NewMutex();
  e->attr_mutex = NewMutex();
  e->msg_start = -1;
  e->cipher_algorithm = RV_CIPHER_NONE;
  List().push_back(e);
  return e;
}

RVExt* RVExtFromSocket(PlatSocket s, int server) {
  RVExt* e = RVExtFromTransport(RVTransportSocket(s, 1), server);
  e->flags |= RVEXT_OWNS_SOCKET;
  return e;
}

PlatSocket RVExtListen(int port, int loopback, int* bound_port) {
  PlatSocket s = PlatSockListen(PLAT_AF_INET, port, loopback, bound_port);
  if (s == PLAT_INVALID_SOCKET) RVReportError("RVExtListen() - listen on port %d failed: %d", port, PlatSockLastError());
  return s;
}

RVExt* RVExtAccept(PlatSocket listener, int timeout_ms) {
  PlatSocket s = PlatSockAccept(listener, timeout_ms);
  if (s == PLAT_INVALID_SOCKET) {
    if (PlatSockLastError() != WSAETIMEDOUT) RVReportError("RVExtAccept() - accept failed: %d", PlatSockLastError());
    return nullptr;
  }
  return RVExtFromSocket(s, 1);
}

void RVExtBreak(RVExt* e, int code) {
  if (e->io.ops && !(e->flags & RVEXT_BROKEN)) e->io.ops->shutdown(e->io.ctx);
  if (e->error_code == 0) e->error_code = code;
  e->flags |= RVEXT_BROKEN;
  e->in_pos = e->in_end = 0;
}

void RVExtFail(RVExt* e, const char* text) {
  if (!(e->flags & RVEXT_BROKEN)) RVReportError("%s", text);
  RVExtBreak(e, 0);
}

void RVExtSendClose(RVExt* e) {
  if (!(e->flags & RVEXT_OPEN)) return;
  if (!(e->flags & RVEXT_BROKEN)) {
    RVExtSendSimple(e, RVMSG_CLOSE, 0, nullptr, 0);
    RVExtFlush(e);
  }
  e->flags &= ~RVEXT_OPEN;
  if (e->io.ops) {
    e->io.ops->close(e->io.ctx);
    e->io.ops = nullptr;
  }
}

void RVExtFree(RVExt* e) {
  if (!e) return;
  if (e->flags & RVEXT_SEND_CLOSE) RVExtSendClose(e);
  if (e->io.ops) e->io.ops->close(e->io.ctx);
  for (RVMsg* m : e->received) RVMsgFree(m);
  RVChannelFree(e);
  RVMutexFree(e->send_mutex);
  RVMutexFree(e->get_mutex);
  RVMutexFree(e->attr_mutex);
  auto& list = List();
  list.erase(std::remove(list.begin(), list.end(), e), list.end());
  delete e;
}

void RVExtFreeAll() {
  while (!List().empty()) RVExtFree(List().back());
}

int RVExtCount() { return static_cast<int>(List().size()); }
