// Reliability: acknowledgements, the resend queue, resynchronisation in
// both directions, option negotiation, and the internal message handlers.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "connection/ext.h"
#include "connection/ext_internal.h"
#include "connection/ext_reliable.h"
#include "platform/system.h"
#include "runtime/report.h"

namespace {

const char kMarker[] = "__tq_sync__";
constexpr int kMarkerLen = 11;
constexpr size_t kQueueMax = 500;
constexpr int kMaxInRow = 50;
constexpr int kMaxRequests = 50;
constexpr int64_t kScanBytes = 4 << 20;
constexpr int kScanSeconds = 120;

bool Counted(int type) {
  return type != RVMSG_ACK && type != RVMSG_RESYNC_REQ && type != RVMSG_RESYNC_MARK && type != RVMSG_CLOSE &&
         type != RVMSG_FRAGMENT;
}

// Appends a complete frame, sending the buffer first when it lacks room.
void AppendRoom(RVExt* e, int wire_type, int32_t id, const unsigned char* body, int len, int transform) {
  if (RV_WIRE_BUF - e->out_pos < len + static_cast<int>(RV_WIRE_HDR_CHECKED) + static_cast<int>(RVEXT_CIPHER_ROOM)) {
    RVExtSendRaw(e, e->out, e->out_pos);
    e->out_pos = 0;
  }
  RVExtAppendFrame(e, wire_type, id, body, len, transform);
}

// Index of the first queue entry (not a 9998) whose sync tag is `x`, or -1.
long FindTag(const RVExt* e, int32_t x) {
  for (size_t i = 0; i < e->queue.size(); ++i)
    if ((e->queue[i].type & RV_WIRE_TYPE_MASK) != RVMSG_FRAGMENT && e->queue[i].tag == x) return static_cast<long>(i);
  return -1;
}

// Answers a peer's 9701 carrying `x`: marker, status, the queue again.
void PeerResync(RVExt* e, int32_t x) {
  if (e->msg_type == 0) RVExtSendBuffer(e);
  e->flags |= RVEXT_RESYNC;
  e->resending = 1;
  unsigned char mark[2 + kMarkerLen + 2];
  mark[0] = 0;
  mark[1] = kMarkerLen;
  std::memcpy(mark + 2, kMarker, kMarkerLen);
  RVPutBE16(mark + 2 + kMarkerLen, static_cast<uint16_t>(x));
  AppendRoom(e, RVMSG_RESYNC_MARK, RVExtNextId(e), mark, sizeof mark, 0);
  long at = FindTag(e, static_cast<int16_t>(x));
  int status = 127;
  if (at >= 0) {
    e->queue.erase(e->queue.begin(), e->queue.begin() + at);
    status = 0;
  } else if (static_cast<int16_t>(x) == static_cast<int16_t>(e->last_sent)) {
    e->queue.clear();
    status = 0;
  }
  unsigned char st[2] = {static_cast<unsigned char>(status), static_cast<unsigned char>(status & 1 ? 0xFF : 0)};
  AppendRoom(e, RVMSG_STATUS, RVExtNextId(e), st, 2, 1);
  int32_t prev = 0;
  bool first = true;
  for (RVResendEntry& q : e->queue) {
    q.id = -std::abs(q.id);
    if ((q.type & RV_WIRE_TYPE_MASK) != RVMSG_FRAGMENT) {
      if (!first) q.tag = prev;
      prev = q.id;
      e->last_sent = q.id;
      first = false;
    }
    AppendRoom(e, q.type, q.id, q.body.data(), static_cast<int>(q.body.size()), 0);
  }
  RVExtSendRaw(e, e->out, e->out_pos);
  e->out_pos = 0;
  e->resending = 0;
  e->flags &= ~RVEXT_RESYNC;
  ++e->resync_replies;
}

// Handles a received 2027: adopts the receive side, answers with the bits
// newly adopted for the own sending, then switches.
void OnOptions(RVExt* e, uint32_t bits) {
  if (bits & RVOPT_CHECKS_ON) {
    e->flags |= RVEXT_RECV_CHECKED;
    if (bits & RVOPT_EXTENDED) e->flags |= RVEXT_EXTENDED;
    else e->flags &= ~RVEXT_EXTENDED;
  }
  if (bits & RVOPT_CHECKS_OFF) e->flags &= ~(RVEXT_RECV_CHECKED | RVEXT_EXTENDED);
  if (bits & RVOPT_QUEUE_ON) e->flags |= RVEXT_RESEND_QUEUE;
  if (bits & RVOPT_QUEUE_OFF) {
    e->flags &= ~RVEXT_RESEND_QUEUE;
    e->queue.clear();
  }
  if (bits & RVOPT_SCRAMBLE) e->flags |= RVEXT_SCRAMBLE_IN;
  if (bits & RVOPT_VECTORS) e->flags |= RVEXT_RECV_VECTORS;
  uint32_t n = 0;
  bool ext_on = (e->flags & RVEXT_SEND_EXTENDED) != 0;
  if ((bits & RVOPT_CHECKS_ON) && (!(e->flags & RVEXT_SEND_CHECKED) || ext_on != ((bits & RVOPT_EXTENDED) != 0)))
    n |= bits & (RVOPT_CHECKS_ON | RVOPT_EXTENDED);
  if ((bits & RVOPT_CHECKS_OFF) && (e->flags & RVEXT_SEND_CHECKED)) n |= RVOPT_CHECKS_OFF;
  if ((bits & RVOPT_QUEUE_ON) && !(e->flags & RVEXT_SEND_ACKS)) n |= RVOPT_QUEUE_ON;
  if ((bits & RVOPT_QUEUE_OFF) && (e->flags & RVEXT_SEND_ACKS)) n |= RVOPT_QUEUE_OFF;
  if ((bits & RVOPT_SCRAMBLE) && !(e->flags & RVEXT_SCRAMBLE_OUT)) n |= RVOPT_SCRAMBLE;
  if ((bits & RVOPT_VECTORS) && !(e->flags & RVEXT_SEND_VECTORS)) n |= RVOPT_VECTORS;
  if (n) RVExtProposeOptions(e, n);
}

// Length of the longest marker prefix that ends the seen text `matched`
// characters of the marker followed by `c`.
int MarkerStep(int matched, char c) {
  char seen[kMarkerLen + 1];
  std::memcpy(seen, kMarker, static_cast<size_t>(matched));
  seen[matched] = c;
  for (int k = matched + 1; k > 0; --k)
    if (k <= kMarkerLen && std::memcmp(seen + matched + 1 - k, kMarker, static_cast<size_t>(k)) == 0) return k;
  return 0;
}

}  // namespace

int RVReliableMarkerStep(int matched, int c) { return MarkerStep(matched, static_cast<char>(c)); }

void RVExtApplySendOptions(RVExt* e, uint32_t bits) {
  if (bits & RVOPT_CHECKS_ON) {
    e->flags |= RVEXT_SEND_CHECKED;
    if (bits & RVOPT_EXTENDED) e->flags |= RVEXT_SEND_EXTENDED;
    else e->flags &= ~RVEXT_SEND_EXTENDED;
  }
  if (bits & RVOPT_CHECKS_OFF) e->flags &= ~(RVEXT_SEND_CHECKED | RVEXT_SEND_EXTENDED);
  // The own queue starts with the own acknowledgements: what this end sends
  // from now on may be asked for again before the peer's answer arrives.
  if (bits & RVOPT_QUEUE_ON) {
    e->flags |= RVEXT_SEND_ACKS | RVEXT_RESEND_QUEUE;
    e->since_ack = 0;
  }
  if (bits & RVOPT_QUEUE_OFF) {
    e->flags &= ~(RVEXT_SEND_ACKS | RVEXT_RESEND_QUEUE);
    e->queue.clear();
  }
  if (bits & RVOPT_SCRAMBLE) e->flags |= RVEXT_SCRAMBLE_OUT;
  if (bits & RVOPT_VECTORS) {
    e->flags |= RVEXT_SEND_VECTORS;
    e->since_rekey = 10000;
    RVChannelRekeyStep(e);
  }
}

int RVExtProposeOptions(RVExt* e, uint32_t bits) {
  if (e->flags & RVEXT_BROKEN) return -1;
  unsigned char b[4];
  RVPutBE32(b, bits);
  if (RVExtSendSimple(e, RVMSG_OPTIONS, 0, b, 4) < 0 || RVExtFlush(e) != 0) return -1;
  RVExtApplySendOptions(e, bits);
  return (e->flags & RVEXT_BROKEN) ? -1 : 0;
}

void RVReliableSent(RVExt* e, int wire_type, int32_t id, const unsigned char* body, int len) {
  int type = wire_type & RV_WIRE_TYPE_MASK;
  if (e->resending || (!Counted(type) && type != RVMSG_FRAGMENT)) return;
  if ((e->flags & RVEXT_RESEND_QUEUE) && e->msg_header == RV_WIRE_HDR_CHECKED) {
    if (!(e->flags & RVEXT_RESYNC) && e->peer_acked != 0) {
      if (e->peer_acked == e->last_sent) e->queue.clear();
      else {
        long at = FindTag(e, e->peer_acked);
        if (at > 0) e->queue.erase(e->queue.begin(), e->queue.begin() + at);
      }
    }
    while (e->queue.size() >= kQueueMax) e->queue.pop_front();
    RVResendEntry q;
    q.type = static_cast<uint16_t>(wire_type);
    q.id = id;
    q.tag = type == RVMSG_FRAGMENT ? 0 : e->last_sent;
    q.body.assign(body, body + len);
    e->queue.push_back(std::move(q));
  }
  if (type != RVMSG_FRAGMENT) e->last_sent = id;
}

void RVReliableAckBefore(RVExt* e) {
  if (!(e->flags & RVEXT_SEND_ACKS) || e->msg_type != 0 || e->out_pos <= 0 || e->out_pos > 948 ||
      e->since_ack <= 24)
    return;
  unsigned char b[2];
  RVPutBE16(b, static_cast<uint16_t>(e->last_received));
  int buffered = e->out_pos;
  RVExtAppendFrame(e, RVMSG_ACK, RVExtNextId(e), b, 2, 1);
  std::rotate(e->out, e->out + buffered, e->out + e->out_pos);  // in front of the buffered bytes
  e->since_ack = 0;
  ++e->acks_out;
}

void RVReliableAckAfter(RVExt* e) {
  if (!(e->flags & RVEXT_SEND_ACKS) || e->since_ack < 100 || e->msg_type != 0) return;
  unsigned char b[2];
  RVPutBE16(b, static_cast<uint16_t>(e->last_received));
  RVExtAppendFrame(e, RVMSG_ACK, RVExtNextId(e), b, 2, 1);
  e->since_ack = 0;
  ++e->acks_out;
  RVExtSendRaw(e, e->out, e->out_pos);
  e->out_pos = 0;
}

int RVReliableHandle(RVExt* e, RVMsg* m) {
  switch (m->type) {
    case RVMSG_REKEY:
      RVChannelOnRekey(e, m);
      break;
    case RVMSG_OPTIONS:
      e->last_received = m->id;
      ++e->since_ack;
      OnOptions(e, static_cast<uint32_t>(RVMsgGetLong(m)));
      break;
    case RVMSG_ACK:
      e->peer_acked = static_cast<int16_t>(RVMsgGetShort(m));
      ++e->acks_in;
      break;
    case RVMSG_RESYNC_REQ:
      if (++e->resync_requests > kMaxRequests) {
        RVExtFail(e, "Too Many Resync Requests");
        break;
      }
      PeerResync(e, static_cast<int16_t>(RVMsgGetShort(m)));
      break;
    case RVMSG_RESYNC_MARK:
      break;
    case RVMSG_CLOSE:
      e->flags |= RVEXT_PEER_CLOSED;
      break;
    default:
      e->last_received = m->id;
      ++e->since_ack;
      e->resync_requests = 0;
      return 0;
  }
  if (m->type == RVMSG_REKEY) {
    e->last_received = m->id;
    ++e->since_ack;
  }
  m->type = RVMSG_NOOP;
  m->pos = 0;
  return 1;
}

int RVReliableRecover(RVExt* e, const char* fault) {
  if ((e->flags & RVEXT_RESYNC) || ++e->resync_in_row > kMaxInRow) {
    RVExtFail(e, fault);
    return -1;
  }
  ++e->resync_attempts;
  e->flags |= RVEXT_RESYNC;
  RVExtDrain(e);
  unsigned char b[2];
  int32_t sent = static_cast<int16_t>(e->last_received);
  RVPutBE16(b, static_cast<uint16_t>(sent));
  e->resending = 1;
  if (e->msg_type == 0) RVExtSendBuffer(e);
  AppendRoom(e, RVMSG_RESYNC_REQ, RVExtNextId(e), b, 2, 1);
  RVExtSendRaw(e, e->out, e->out_pos);
  e->out_pos = 0;
  e->resending = 0;
  int64_t deadline = PlatMonotonicMs() + static_cast<int64_t>(kScanSeconds) * RVExtSecondMs();
  int64_t scanned = 0;
  int matched = 0;
  int ok = -1;
  while (!(e->flags & RVEXT_BROKEN) && scanned < kScanBytes && PlatMonotonicMs() < deadline) {
    int c = RVExtReadByte(e, RVEXT_WAIT_SECONDS * RVExtSecondMs());
    if (c < 0) break;
    ++scanned;
    matched = MarkerStep(matched, static_cast<char>(c));
    if (matched < kMarkerLen) continue;
    matched = 0;
    unsigned char idb[2];
    if (RVExtReadBytes(e, idb, 2, RVEXT_WAIT_SECONDS * RVExtSecondMs()) != 0) break;
    if (static_cast<int16_t>(RVGetBE16(idb)) != sent) continue;
    int wire_type = 0;
    int32_t id = 0;
    std::vector<unsigned char> body;
    const char* f = nullptr;
    int rc = RVExtReadFrame(e, &wire_type, &id, &body, &f);
    if (rc < 0) break;
    if (rc > 0 || (wire_type & RV_WIRE_TYPE_MASK) != RVMSG_STATUS) continue;
    ok = body.size() >= 2 && body[0] == 0 && body[1] == 0 ? 0 : -1;
    break;
  }
  e->flags &= ~RVEXT_RESYNC;
  if (ok != 0) {
    RVReportError("%s", fault);
    RVExtBreak(e, 0);
    return -1;
  }
  ++e->resync_success;
  return 0;
}
