// Reading messages: bytes through the input buffer, frames with their
// checks, joining of fragments, the received list, get operations.
#include <cstring>

#include "connection/ext.h"
#include "connection/ext_internal.h"
#include "platform/system.h"
#include "runtime/alloc.h"
#include "runtime/mutex.h"
#include "runtime/report.h"

namespace {

// Fills the input buffer, waiting up to `timeout_ms`. 0, or -1 when the
// connection broke (error, peer closed, nothing in time).
int Fill(RVExt* e, int timeout_ms) {
  if (e->flags & RVEXT_BROKEN) return -1;
  int err = 0;
  int n = e->io.ops ? e->io.ops->recv(e->io.ctx, e->in, RV_WIRE_BUF, timeout_ms, &err) : 0;
  if (n > 0) {
    e->in_pos = 0;
    e->in_end = n;
    ++e->recv_calls;
    e->bytes_in += n;
    if (n > e->recv_max) e->recv_max = n;
    if (e->recv_min == 0 || n < e->recv_min) e->recv_min = n;
    return 0;
  }
  RVExtBreak(e, n < 0 && n != RV_TRANSPORT_TIMEOUT ? err : 0);
  return -1;
}

int WaitMs() { return RVEXT_WAIT_SECONDS * RVExtSecondMs(); }

// Takes the received message that `pick` selects (index), or null.
RVMsg* TakeAt(RVExt* e, size_t i) {
  RVMsg* m = e->received[i];
  e->received.erase(e->received.begin() + static_cast<long>(i));
  return m;
}

// Appends a complete message and handles the internal types.
void Deliver(RVExt* e, int type, int32_t id, std::vector<unsigned char>&& body) {
  auto* m = new RVMsg;
  m->type = type;
  m->id = id;
  m->body = std::move(body);
  m->pos = 0;
  ++e->msgs_in;
  RVReliableHandle(e, m);
  if (e->received.size() >= static_cast<size_t>(RVEXT_MAX_UNREAD)) {
    delete m;
    RVExtFail(e, "Too Many Unread Messages");
    return;
  }
  e->received.push_back(m);
}

// Reads one message into the received list (joining fragments). 0 when one
// was appended, -1 when the connection broke or the read ended.
int ReadMessage(RVExt* e) {
  for (;;) {
    if (e->flags & RVEXT_BROKEN) return -1;
    int wire_type = 0;
    int32_t id = 0;
    std::vector<unsigned char> body;
    const char* fault = nullptr;
    int rc = RVExtReadFrame(e, &wire_type, &id, &body, &fault);
    if (rc < 0) return -1;
    if (rc > 0) {
      if (RVReliableRecover(e, fault) != 0) return -1;
      continue;
    }
    e->resync_in_row = 0;
    int type = wire_type & RV_WIRE_TYPE_MASK;
    bool more = (wire_type & RV_WIRE_MORE) != 0;
    if (type == RVMSG_FRAGMENT) {
      size_t i = 0;
      while (i < e->joining.size() && e->joining[i].id != id) ++i;
      if (i == e->joining.size() ||
          e->joining[i].body.size() + body.size() > static_cast<size_t>(RVEXT_MAX_MESSAGE)) {
        RVExtFail(e, "Fragment Error");
        return -1;
      }
      RVJoining& j = e->joining[i];
      j.body.insert(j.body.end(), body.begin(), body.end());
      if (more) continue;
      RVJoining done = std::move(j);
      e->joining.erase(e->joining.begin() + static_cast<long>(i));
      Deliver(e, done.type, done.id, std::move(done.body));
      return (e->flags & RVEXT_BROKEN) ? -1 : 0;
    }
    if (more) {
      bool open = false;
      for (const RVJoining& j : e->joining) open = open || j.id == id;
      if (open || e->joining.size() >= static_cast<size_t>(RVEXT_MAX_OPEN_FRAGMENTS)) {
        RVExtFail(e, "Fragment Error");
        return -1;
      }
      e->joining.push_back(RVJoining{type, id, std::move(body)});
      continue;
    }
    Deliver(e, type, id, std::move(body));
    return (e->flags & RVEXT_BROKEN) ? -1 : 0;
  }
}

// True when bytes wait in the input buffer or on the transport.
bool HasData(RVExt* e) {
  return e->in_pos < e->in_end || (e->io.ops && e->io.ops->ready(e->io.ctx));
}

// Waits up to `ms` for data. 1 ready, 0 not.
int WaitData(RVExt* e, int ms) {
  if (HasData(e)) return 1;
  if (!e->io.ops || (e->flags & RVEXT_BROKEN)) return 0;
  PlatSocket s = e->io.ops->socket(e->io.ctx);
  if (s == PLAT_INVALID_SOCKET) return 0;
  return PlatSockWait(s, 0, ms) == 1 ? 1 : 0;
}

// Reads the next four body bytes or fewer, 0xFF past the end.
uint64_t GetNumber(RVMsg* m, int n) {
  uint64_t v = 0;
  for (int i = 0; i < n; ++i) {
    unsigned char b = m->pos < m->body.size() ? m->body[m->pos] : 0xFF;
    if (m->pos < m->body.size()) ++m->pos;
    v = (v << 8) | b;
  }
  return v;
}

}  // namespace

int RVExtReadByte(RVExt* e, int timeout_ms) {
  if (e->in_pos >= e->in_end && Fill(e, timeout_ms) != 0) return -1;
  return e->in[e->in_pos++];
}

int RVExtReadBytes(RVExt* e, unsigned char* dst, int len, int timeout_ms) {
  int done = 0;
  while (done < len) {
    if (e->in_pos >= e->in_end && Fill(e, timeout_ms) != 0) {
      std::memset(dst + done, 0xFF, static_cast<size_t>(len - done));
      return -1;
    }
    int n = e->in_end - e->in_pos;
    if (n > len - done) n = len - done;
    std::memcpy(dst + done, e->in + e->in_pos, static_cast<size_t>(n));
    e->in_pos += n;
    done += n;
  }
  return 0;
}

void RVExtDrain(RVExt* e) {
  e->in_pos = e->in_end = 0;
  while (e->io.ops && !(e->flags & RVEXT_BROKEN) && e->io.ops->ready(e->io.ctx)) {
    int err = 0;
    int n = e->io.ops->recv(e->io.ctx, e->in, RV_WIRE_BUF, 0, &err);
    if (n <= 0) {
      if (n != RV_TRANSPORT_TIMEOUT) RVExtBreak(e, n < 0 ? err : 0);
      break;
    }
    e->bytes_in += n;
  }
  e->in_pos = e->in_end = 0;
}

int RVExtReadFrame(RVExt* e, int* wire_type, int32_t* id, std::vector<unsigned char>* body, const char** fault) {
  int checked = (e->flags & RVEXT_RECV_CHECKED) != 0;
  int extended = checked && (e->flags & RVEXT_EXTENDED) != 0;
  unsigned char h[RV_WIRE_HDR_CHECKED];
  int size = RVFrameHeaderSize(checked);
  if (RVExtReadBytes(e, h, size, WaitMs()) != 0) return -1;
  RVFrameHeader hdr;
  RVFrameStatus st = RVFrameDecodeHeader(h, static_cast<size_t>(size), checked, extended, &hdr);
  if (!checked && (hdr.type == 0xFFFF || hdr.length == 0xFFFF)) st = RV_FRAME_HEADER_1;
  if (st != RV_FRAME_COMPLETE) {
    *fault = st == RV_FRAME_HEADER_1   ? "Unrecoverable Header Checksum Error - 1"
             : st == RV_FRAME_HEADER_2 ? "Unrecoverable Header Checksum Error - 2"
                                       : "Unrecoverable Header Checksum Error - 3";
    if (!checked) {
      RVExtFail(e, *fault);
      return -1;
    }
    return 1;
  }
  body->resize(hdr.length);
  if (hdr.length > 0 && RVExtReadBytes(e, body->data(), hdr.length, WaitMs()) != 0) return -1;
  if (checked && RVFrameCheckBody(&hdr, body->data(), extended) != RV_FRAME_COMPLETE) {
    *fault = extended ? "Unrecoverable Data Checksum Error 1" : "Unrecoverable Data Checksum Error 2";
    return 1;
  }
  if (RVChannelDecode(e, hdr.type & RV_WIRE_TYPE_MASK, hdr.id, body) != 0) {
    *fault = "Unrecoverable Data Decrypt Error";
    return 1;
  }
  *wire_type = hdr.type;
  *id = hdr.id;
  return 0;
}

RVMsg* RVExtGetMsg(RVExt* e) {
  RVMutexLock(e->get_mutex);
  RVMsg* m = nullptr;
  if (e->received.empty()) ReadMessage(e);
  if (!e->received.empty()) m = TakeAt(e, 0);
  e->flags &= ~RVEXT_DATA_READY;
  RVMutexUnlock(e->get_mutex);
  return m;
}

RVMsg* RVExtGetMsgById(RVExt* e, int id, int poll_ms) {
  int32_t want = -(id < 0 ? -id : id);
  RVMutexLock(e->get_mutex);
  RVMsg* m = nullptr;
  for (size_t i = 0; !m; ++i) {
    if (i == e->received.size()) {
      if (!WaitData(e, poll_ms) || ReadMessage(e) != 0) break;
      --i;
      continue;
    }
    if (e->received[i]->id == want && e->received[i]->type != RVMSG_NOOP) m = TakeAt(e, i);
  }
  RVMutexUnlock(e->get_mutex);
  return m;
}

RVMsg* RVExtGetMsgOfType(RVExt* e, const int* types, int count, int timeout_ms) {
  RVMutexLock(e->get_mutex);
  RVMsg* m = nullptr;
  for (size_t i = 0; !m; ++i) {
    if (i == e->received.size()) {
      if (!WaitData(e, timeout_ms) || ReadMessage(e) != 0) break;
      --i;
      continue;
    }
    for (int t = 0; t < count && !m; ++t)
      if (e->received[i]->type == types[t]) m = TakeAt(e, i);
  }
  RVMutexUnlock(e->get_mutex);
  return m;
}

int RVExtSelect(RVExt** exts, int count, int seconds, int microseconds) {
  int ready = 0;
  std::vector<PlatSocket> socks;
  std::vector<int> index;
  for (int i = 0; i < count; ++i) {
    RVExt* e = exts[i];
    if (!e || (e->flags & RVEXT_BROKEN)) continue;
    if (!e->received.empty() || HasData(e)) {
      e->flags |= RVEXT_DATA_READY;
      ++ready;
      continue;
    }
    PlatSocket s = e->io.ops ? e->io.ops->socket(e->io.ctx) : PLAT_INVALID_SOCKET;
    if (s != PLAT_INVALID_SOCKET) {
      socks.push_back(s);
      index.push_back(i);
    }
  }
  if (ready > 0 || socks.empty()) return ready;
  std::vector<int> flags(socks.size(), 0);
  int ms = seconds * RVExtSecondMs() + microseconds / 1000;
  if (PlatSockWaitMany(socks.data(), static_cast<int>(socks.size()), ms, flags.data()) <= 0) return 0;
  for (size_t k = 0; k < socks.size(); ++k)
    if (flags[k]) {
      exts[index[k]]->flags |= RVEXT_DATA_READY;
      ++ready;
    }
  return ready;
}

int RVMsgGetByte(RVMsg* m) { return static_cast<int>(GetNumber(m, 1)); }
int RVMsgGetShort(RVMsg* m) { return static_cast<int>(GetNumber(m, 2)); }
int32_t RVMsgGetLong(RVMsg* m) { return static_cast<int32_t>(GetNumber(m, 4)); }

int64_t RVMsgGetInt64(RVMsg* m, int wide) {
  if (wide) return static_cast<int64_t>(GetNumber(m, 8));
  return static_cast<int64_t>(static_cast<uint32_t>(GetNumber(m, 4)));
}

int RVMsgGetStr(RVMsg* m, char* buf, int size) {
  int len = RVMsgGetShort(m);
  if (len == 0xFFFF) len = 0;
  size_t avail = m->body.size() - m->pos;
  size_t n = static_cast<size_t>(len) < avail ? static_cast<size_t>(len) : avail;
  size_t keep = size > 0 ? std::min(n, static_cast<size_t>(size - 1)) : 0;
  if (keep) std::memcpy(buf, m->body.data() + m->pos, keep);
  if (size > 0) buf[keep] = '\0';
  m->pos += n;
  if (keep < n) {
    char shown[512];
    size_t s = keep < 511 ? keep : 511;
    std::memcpy(shown, buf, s);
    shown[s] = '\0';
    RVReportError("RVMsgGetStr() - truncated %d chars from string: %s", static_cast<int>(n - keep), shown);
  }
  return static_cast<int>(keep) + 1;
}

void RVMsgFree(RVMsg* m) { delete m; }
