// Building, fragmenting and sending messages.
#include <cstring>

#include "connection/ext.h"
#include "connection/ext_internal.h"
#include "platform/system.h"
#include "runtime/mutex.h"
#include "runtime/print.h"
#include "runtime/report.h"

#include <cstdlib>

namespace {

// Header size of the sending form.
int SendHeader(const RVExt* e) { return (e->flags & RVEXT_SEND_CHECKED) ? RV_WIRE_HDR_CHECKED : RV_WIRE_HDR_PLAIN; }

// Opens a frame at the write cursor; its header is written when it is finished.
void StartFrame(RVExt* e, int type, int32_t id) {
  e->msg_start = e->out_pos;
  e->msg_header = SendHeader(e);
  e->msg_type = type;
  e->msg_id = id;
  e->out_pos += e->msg_header;
}

// Finishes the open frame: transform, header, accounting. `more` sets bit 15.
void FinishFrame(RVExt* e, int more, int transform) {
  unsigned char* body = e->out + e->msg_start + e->msg_header;
  int len = e->out_pos - (e->msg_start + e->msg_header);
  int wire_type = e->msg_type | (more ? RV_WIRE_MORE : 0);
  if (transform) len = RVChannelEncode(e, e->msg_type, e->msg_id, body, len);
  RVFrameEncodeHeader(e->out + e->msg_start, static_cast<size_t>(e->msg_header), static_cast<uint16_t>(wire_type),
                      e->msg_id, body, static_cast<uint16_t>(len), e->msg_header == RV_WIRE_HDR_CHECKED,
                      (e->flags & RVEXT_SEND_EXTENDED) != 0);
  e->out_pos = e->msg_start + e->msg_header + len;
  RVReliableSent(e, wire_type, e->msg_id, body, len);
  ++e->msgs_out;
  ++e->since_rekey;
  e->msg_start = -1;
  e->msg_type = 0;
}

// Sends the buffer while a message is open: the open message leaves as a
// fragment with bit 15 and continues as a 9998 of the same id.
int FlushFragment(RVExt* e) {
  int32_t id = e->msg_id;
  FinishFrame(e, 1, 1);
  int rc = RVExtSendRaw(e, e->out, e->out_pos);
  e->out_pos = 0;
  StartFrame(e, RVMSG_FRAGMENT, id);
  return rc;
}

// Makes room for a put of `need` bytes (at least 64 bytes free).
int Ensure(RVExt* e, int need) {
  int want = need < 64 ? 64 : need + RVEXT_CIPHER_ROOM;
  if (RV_WIRE_BUF - e->out_pos >= want) return 0;
  return FlushFragment(e);
}

// The connection's wait clock in milliseconds for `seconds`.
int WaitMs(int seconds) { return seconds * RVExtSecondMs(); }

}  // namespace

int32_t RVExtNextId(RVExt* e) {
  e->next_id = static_cast<int16_t>(e->next_id >= 32767 || e->next_id < 1 ? 1 : e->next_id + 1);
  return e->next_id;
}

int RVExtSendRaw(RVExt* e, const unsigned char* data, int len) {
  if (e->flags & RVEXT_BROKEN) return -1;
  if (len <= 0) return 0;
  if (!e->io.ops) return -1;
  int done = 0;
  int64_t deadline = PlatMonotonicMs() + WaitMs(RVEXT_WAIT_SECONDS);
  while (done < len) {
    int err = 0;
    int left_ms = static_cast<int>(deadline - PlatMonotonicMs());
    if (left_ms < 0) left_ms = 0;
    int n = e->io.ops->send(e->io.ctx, data + done, len - done, left_ms, &err);
    if (n < 0) {
      RVExtBreak(e, err);
      return -1;
    }
    if (n == 0) {
      if (PlatMonotonicMs() >= deadline) {
        RVExtBreak(e, 0);
        return -1;
      }
      if (e->io.ops->socket(e->io.ctx) == PLAT_INVALID_SOCKET) {
        RVExtBreak(e, 0);  // an in-memory end that stays full never drains
        return -1;
      }
      continue;
    }
    done += n;
    ++e->send_calls;
    e->bytes_out += n;
    if (n > e->send_max) e->send_max = n;
    if (e->send_min == 0 || n < e->send_min) e->send_min = n;
  }
  e->last_send_time = PlatMonotonicMs();
  return 0;
}

int RVExtAppendFrame(RVExt* e, int wire_type, int32_t id, const unsigned char* body, int len, int transform) {
  StartFrame(e, wire_type & RV_WIRE_TYPE_MASK, id);
  if (len > 0) std::memcpy(e->out + e->out_pos, body, static_cast<size_t>(len));
  e->out_pos += len;
  FinishFrame(e, (wire_type & RV_WIRE_MORE) != 0, transform);
  return id;
}

int RVExtSendBuffer(RVExt* e) {
  if (e->flags & RVEXT_BROKEN) return -1;
  if (!e->in_flush) RVReliableAckBefore(e);
  int rc = RVExtSendRaw(e, e->out, e->out_pos);
  e->out_pos = 0;
  if (rc == 0 && !e->in_flush) {
    e->in_flush = 1;
    RVReliableAckAfter(e);
    RVChannelRekeyStep(e);
    e->in_flush = 0;
  }
  return (e->flags & RVEXT_BROKEN) ? -1 : 0;
}

int RVExtMsgBegin(RVExt* e, int type, int id) {
  if (e->flags & RVEXT_BROKEN) return -1;
  RVMutexLock(e->send_mutex);
  RVMutexLock(e->attr_mutex);
  bool info = (e->flags & RVEXT_CLINFO_PENDING) && !(e->flags & RVEXT_SERVER);
  e->flags &= ~RVEXT_CLINFO_PENDING;
  RVMutexUnlock(e->attr_mutex);
  if (info) {
    std::string text = e->client_info;
    RVExtMsgBegin(e, RVMSG_INFO, 0);
    RVExtPutStr(e, text.c_str());
    RVExtRestoreContext(e);
  }
  if (e->msg_type != 0) {
    RVPendingMsg p;
    p.bytes.assign(e->out + e->msg_start, e->out + e->out_pos);
    p.type = e->msg_type;
    p.id = e->msg_id;
    p.header = e->msg_header;
    e->pending.push_back(std::move(p));
    e->out_pos = e->msg_start;
    e->msg_type = 0;
    e->msg_start = -1;
  }
  if (RV_WIRE_BUF - e->out_pos < 74) RVExtSendBuffer(e);
  int32_t wire_id = id == 0 ? RVExtNextId(e) : -std::abs(id);
  StartFrame(e, type & RV_WIRE_TYPE_MASK, wire_id);
  e->msg_body_bytes = 0;
  return 0;
}

int RVExtPutBytes(RVExt* e, const void* data, size_t len) {
  if ((e->flags & RVEXT_BROKEN) || e->msg_type == 0) return 0;
  const unsigned char* p = static_cast<const unsigned char*>(data);
  size_t left = len;
  while (left > 0) {
    int room = static_cast<int>(RV_WIRE_BUF) - static_cast<int>(RVEXT_CIPHER_ROOM) - e->out_pos;
    if (room <= 0) {
      if (FlushFragment(e) != 0) return 0;
      continue;
    }
    size_t n = left < static_cast<size_t>(room) ? left : static_cast<size_t>(room);
    std::memcpy(e->out + e->out_pos, p, n);
    e->out_pos += static_cast<int>(n);
    p += n;
    left -= n;
  }
  e->msg_body_bytes += static_cast<int>(len);
  return static_cast<int>(len);
}

// Puts a scalar of `n` big-endian bytes.
static int PutNumber(RVExt* e, uint64_t v, int n) {
  if ((e->flags & RVEXT_BROKEN) || e->msg_type == 0) return 0;
  if (Ensure(e, n) != 0) return 0;
  for (int i = n - 1; i >= 0; --i) e->out[e->out_pos++] = static_cast<unsigned char>(v >> (8 * i));
  e->msg_body_bytes += n;
  return n;
}

int RVExtPutByte(RVExt* e, int v) { return PutNumber(e, static_cast<uint8_t>(v), 1); }
int RVExtPutShort(RVExt* e, int v) { return PutNumber(e, static_cast<uint16_t>(v), 2); }
int RVExtPutLong(RVExt* e, int32_t v) { return PutNumber(e, static_cast<uint32_t>(v), 4); }

int RVExtPutInt64(RVExt* e, int64_t v) {
  if (e->peer_version[3] >= 642) return PutNumber(e, static_cast<uint64_t>(v), 8);
  return PutNumber(e, static_cast<uint32_t>(v), 4);
}

int RVExtPutStrN(RVExt* e, const char* s, size_t len) {
  if ((e->flags & RVEXT_BROKEN) || e->msg_type == 0) return 0;
  if (len > static_cast<size_t>(RVEXT_MAX_STRING)) {
    RVReportError("RVExtPutStr() - string of %zu bytes refused", len);
    return 0;
  }
  if (PutNumber(e, len, 2) == 0) return 0;
  if (len > 0) RVExtPutBytes(e, s, len);
  return s ? static_cast<int>(len) + 1 : 0;
}

int RVExtPutStr(RVExt* e, const char* s) { return RVExtPutStrN(e, s, s ? std::strlen(s) : 0); }

int RVExtRestoreContext(RVExt* e) {
  int32_t id = 0;
  if (e->msg_type != 0) {
    id = e->msg_id;
    if (!(e->flags & RVEXT_BROKEN)) FinishFrame(e, 0, 1);
    else {
      e->msg_type = 0;
      e->msg_start = -1;
    }
  }
  if (!e->pending.empty()) {
    RVPendingMsg p = std::move(e->pending.back());
    e->pending.pop_back();
    RVExtSendBuffer(e);
    if (p.bytes.size() + static_cast<size_t>(e->out_pos) > static_cast<size_t>(RV_WIRE_BUF)) {
      RVReportWarning("RVExtRestoreContext - Buf Overflow");
      std::abort();
    }
    e->msg_start = e->out_pos;
    std::memcpy(e->out + e->out_pos, p.bytes.data(), p.bytes.size());
    e->out_pos += static_cast<int>(p.bytes.size());
    e->msg_type = p.type;
    e->msg_id = p.id;
    e->msg_header = p.header;
  }
  RVMutexUnlock(e->send_mutex);
  return id;
}

int RVExtFlush(RVExt* e) {
  if (e->flags & RVEXT_BROKEN) return -1;
  RVMutexLock(e->send_mutex);
  int rc = e->msg_type != 0 ? FlushFragment(e) : RVExtSendBuffer(e);
  RVMutexUnlock(e->send_mutex);
  return rc;
}

int RVExtSendSimple(RVExt* e, int type, int id, const void* body, size_t len) {
  if (RVExtMsgBegin(e, type, id) != 0) return -1;
  if (len) RVExtPutBytes(e, body, len);
  return RVExtRestoreContext(e);
}
