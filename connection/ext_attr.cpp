// Attributes of a connection: flag bits, counters, texts, key materials and
// cipher states by id.
#include <cstring>

#include "connection/ext.h"
#include "connection/ext_internal.h"
#include "crypto/crypto_runtime.h"
#include "runtime/alloc.h"
#include "runtime/mutex.h"
#include "runtime/report.h"

namespace {

// Flag bit of attributes 101-118.
const uint32_t kFlagBits[] = {0x10,    0x100,    0x200,    0x400,    0x8000,   0x40,
                              0x4000,  0x8,      0x80,     0x2,      0x10000,  0x20000,
                              0x40000, 0x1,      0x100000, 0x200000, 0x800000, 0x1000000};

// A RVAlloc'd copy of `len` bytes with a terminator after them.
void* Copy(const void* p, size_t len, int* out_len) {
  auto* c = static_cast<unsigned char*>(RVAlloc(len + 1, 1));
  if (len) std::memcpy(c, p, len);
  if (out_len) *out_len = static_cast<int>(len);
  return c;
}

}  // namespace

int64_t RVExtAttrGet(RVExt* e, int id) {
  RVMutexLock(e->attr_mutex);
  int64_t v = 0;
  bool known = true;
  if (id >= 101 && id <= 118) v = (e->flags & kFlagBits[id - 101]) ? 1 : 0;
  else if (id == 133) v = e->option_words[0] & 1;
  else if (id >= 165 && id <= 169) v = (e->option_words[1] >> (id - 165)) & 1;
  else if (id >= 205 && id <= 208) v = e->peer_version[id - 205];
  else switch (id) {
    case 201: v = static_cast<int64_t>(e->server_key.size()); break;
    case 202: v = e->cipher_algorithm; break;
    case 203: v = static_cast<int64_t>(e->saved_key.size()); break;
    case 204: v = e->cipher_mode; break;
    case 209: v = e->resync_attempts; break;
    case 210: v = e->resync_success; break;
    case 211: v = e->resync_replies; break;
    case 212: v = e->read_ahead; break;
    case 213: v = e->transport_kind; break;
    case 214: v = e->recv_min; break;
    case 215: v = e->recv_max; break;
    case 216: v = e->send_min; break;
    case 217: v = e->send_max; break;
    case 218: v = e->last_received; break;
    case 219: case 220: case 301: case 302: case 317: case 318: case 319: v = 0; break;
    case 304: v = e->bytes_in; break;
    case 305: v = e->recv_calls; break;
    case 306: v = e->bytes_out; break;
    case 307: v = e->send_calls; break;
    case 308: v = e->msgs_in; break;
    case 309: v = e->msgs_out; break;
    case 310: v = e->acks_in; break;
    case 311: v = e->acks_out; break;
    case 312: v = e->error_code; break;
    case 313: v = e->port; break;
    case 314: v = e->last_ping_in; break;
    case 315: v = e->last_ping_out; break;
    case 316: v = e->pings_out; break;
    case 320: v = e->out_pos; break;
    case 321: v = e->msg_type ? e->msg_id : 0; break;
    case 322: v = e->since_rekey; break;
    case 323: v = e->io.ops ? e->io.ops->socket(e->io.ctx) : PLAT_INVALID_SOCKET; break;
    default: known = false;
  }
  RVMutexUnlock(e->attr_mutex);
  if (!known) RVReportWarning("Invalid AttrId: %d in RVExtAttrGet()\n", id);
  return v;
}

void* RVExtAttrGetP(RVExt* e, int id, int* len) {
  RVMutexLock(e->attr_mutex);
  void* v = nullptr;
  bool known = true;
  auto text = [&](const std::string& s) { v = s.empty() ? nullptr : Copy(s.data(), s.size(), len); };
  auto fixed = [&](const char* s) { v = *s ? Copy(s, std::strlen(s), len) : nullptr; };
  if (id >= 401 && id <= 409) text(id == 408 ? e->path : e->text_attr[id - 401]);
  else switch (id) {
    case 501: fixed(e->local_addr); break;
    case 502: fixed(e->peer_addr); break;
    case 503: fixed(e->machine); break;
    case 504: fixed(e->application); break;
    case 505: text(e->client_info); break;
    case 601: v = e->server_key.empty() ? nullptr : Copy(e->server_key.data(), e->server_key.size(), len); break;
    case 602: v = e->saved_key.empty() ? nullptr : Copy(e->saved_key.data(), e->saved_key.size(), len); break;
    case 701: v = e->send_cipher; break;
    case 702: v = e->recv_cipher; break;
    case 703: v = e->msg_type ? e->out + e->msg_start : nullptr; break;
    default: known = false;
  }
  RVMutexUnlock(e->attr_mutex);
  if (!known) RVReportWarning("Invalid AttrId: %d in RVExtAttrGetP()\n", id);
  return v;
}

void RVExtAttrSetP(RVExt* e, int id, const void* value, int len) {
  RVMutexLock(e->attr_mutex);
  const char* s = static_cast<const char*>(value);
  size_t n = !value ? 0 : len < 0 ? std::strlen(s) : static_cast<size_t>(len);
  auto into = [&](char* dst, size_t size) {
    size_t k = n < size - 1 ? n : size - 1;
    if (k) std::memcpy(dst, s, k);
    dst[k] = '\0';
  };
  bool known = true;
  if (id >= 401 && id <= 409) (id == 408 ? e->path : e->text_attr[id - 401]).assign(s ? s : "", n);
  else switch (id) {
    case 501: into(e->local_addr, sizeof e->local_addr); break;
    case 502: into(e->peer_addr, sizeof e->peer_addr); break;
    case 503: into(e->machine, sizeof e->machine); break;
    case 504: into(e->application, sizeof e->application); break;
    case 505:
      e->client_info.assign(s ? s : "", n < 511 ? n : 511);
      e->flags |= RVEXT_CLINFO_PENDING;
      break;
    case 601: e->server_key.assign(s, s + n); break;
    case 602: e->saved_key.assign(s, s + n); break;
    case 701:
      RVCryptoCipherFree(e->send_cipher);
      e->send_cipher = static_cast<RVCryptoCipher*>(const_cast<void*>(value));
      break;
    case 702:
      RVCryptoCipherFree(e->recv_cipher);
      e->recv_cipher = static_cast<RVCryptoCipher*>(const_cast<void*>(value));
      break;
    default: known = false;
  }
  RVMutexUnlock(e->attr_mutex);
  if (!known) RVReportWarning("Invalid AttrId: %d in RVExtAttrSetP()\n", id);
}
