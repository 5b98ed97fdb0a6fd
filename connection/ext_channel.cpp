// Channel security: body encryption with both vector forms, scrambling,
// entropy from encrypted bodies, rekey with 1048 in both directions.
#include "connection/ext_channel.h"

#include <cstdlib>
#include <cstring>

#include "connection/ext.h"
#include "connection/ext_internal.h"
#include "crypto/crypto_runtime.h"
#include "crypto/scramble.h"
#include "crypto/wipe.h"
#include "runtime/alloc.h"
#include "runtime/report.h"

namespace {

constexpr int kRekeyAfter = 9999;
constexpr int kMaxVector = 32;

// Hands every 100th body of a direction to the random generator.
void Entropy(int* count, const unsigned char* body, int len) {
  if (++*count % 100 == 0 && len > 0) RVCryptoRandAdd(body, len, len / 8.0);
}

// Ends the process on a fault of the own side's cipher.
[[noreturn]] void OwnCipherFault(const char* what) {
  RVReportError("%s", what);
  std::abort();
}

// Replaces *slot with `state`, freeing the old one.
void Replace(RVCryptoCipher** slot, RVCryptoCipher* state) {
  RVCryptoCipherFree(*slot);
  *slot = state;
}

}  // namespace

RVCryptoCipher* RVChannelNewState(int algorithm, int mode, const unsigned char* key, int key_len,
                                  const unsigned char* iv, int iv_len) {
  if (key_len <= 0 || iv_len < 0 || iv_len > kMaxVector) return nullptr;
  auto* c = static_cast<RVCryptoCipher*>(RVAlloc(1, sizeof(RVCryptoCipher)));
  c->algorithm = static_cast<int16_t>(algorithm);
  c->mode = static_cast<int16_t>(mode);
  c->key_len = static_cast<int16_t>(key_len);
  c->key = static_cast<unsigned char*>(RVAlloc(static_cast<size_t>(key_len), 1));
  std::memcpy(c->key, key, static_cast<size_t>(key_len));
  if (iv) {
    c->iv_len = static_cast<int16_t>(iv_len);
    std::memcpy(c->iv_base, iv, static_cast<size_t>(iv_len));
  }
  if (algorithm == RV_CIPHER_NONE || RVCryptoCipherStart(c) != 0 || c->key_len != key_len) {
    RVCryptoCipherFree(c);
    return nullptr;
  }
  if (iv && c->iv_len != iv_len) {
    RVCryptoCipherFree(c);
    return nullptr;
  }
  return c;
}

void RVChannelSetVector(RVCryptoCipher* c, int per_message, int type, int32_t id) {
  int n = c->iv_len;
  if (n <= 0) return;
  uint32_t a = static_cast<uint32_t>(id < 0 ? -static_cast<int64_t>(id) : id);
  type &= RV_WIRE_TYPE_MASK;
  if (!per_message) {
    std::memcpy(c->iv, c->iv_base, static_cast<size_t>(n));
    unsigned add = (a & 0xFF) ? (a & 0xFF) : 76;
    int at = type % n;
    c->iv[at] = static_cast<unsigned char>(c->iv[at] + add);
    return;
  }
  unsigned char block[kMaxVector + 32] = {0};
  RVPutBE32(block, a);
  block[6] = static_cast<unsigned char>(type >> 8);
  block[7] = static_cast<unsigned char>(type);
  std::memcpy(c->iv, c->iv_base, static_cast<size_t>(n));
  int len = RVCryptoEncryptBuf(c, block, n);
  if (len < n) OwnCipherFault("RVExtRestoreContext() - vector encryption failed");
  std::memcpy(c->iv, block, static_cast<size_t>(n));
}

void RVChannelScrambleKey(int32_t id, char out[8]) {
  std::memcpy(out, RV_SCRAMBLE_FIXED_KEY, 8);
  int16_t s = static_cast<int16_t>(id);
  int a = s < 0 ? -s : s;
  out[0] = static_cast<char>('a' + a % 26);
}

int RVChannelEncode(RVExt* e, int type, int32_t id, unsigned char* body, int len) {
  if (e->send_cipher) {
    RVChannelSetVector(e->send_cipher, (e->flags & RVEXT_SEND_VECTORS) != 0, type, id);
    int n = RVCryptoEncryptBuf(e->send_cipher, body, len);
    if (n < len) OwnCipherFault("RVExtRestoreContext() - encryption failed");
    Entropy(&e->encrypted_out, body, n);
    return n;
  }
  if (e->flags & RVEXT_SCRAMBLE_OUT) {
    char key[8];
    RVChannelScrambleKey(id, key);
    RVScrambleInPlace(body, static_cast<size_t>(len), key);
  }
  return len;
}

int RVChannelDecode(RVExt* e, int type, int32_t id, std::vector<unsigned char>* body) {
  if (e->recv_cipher) {
    if (body->empty()) return 0;
    RVChannelSetVector(e->recv_cipher, (e->flags & RVEXT_RECV_VECTORS) != 0, type, id);
    int n = RVCryptoDecryptBuf(e->recv_cipher, body->data(), static_cast<int>(body->size()));
    if (n < 0) return -1;
    Entropy(&e->encrypted_in, body->data(), static_cast<int>(body->size()));
    body->resize(static_cast<size_t>(n));
    return 0;
  }
  if (e->flags & RVEXT_SCRAMBLE_IN) {
    char key[8];
    RVChannelScrambleKey(id, key);
    RVUnscrambleInPlace(body->data(), body->size(), key);
  }
  return 0;
}

void RVChannelRekeyStep(RVExt* e) {
  RVCryptoCipher* cur = e->send_cipher;
  if (!cur || e->saved_key.empty() || e->since_rekey <= kRekeyAfter || e->msg_type != 0) return;
  e->since_rekey = 0;
  RVCryptoCipher* tmp = RVChannelNewState(e->cipher_algorithm, e->cipher_mode, e->saved_key.data(),
                                          static_cast<int>(e->saved_key.size()), cur->iv_base, cur->iv_len);
  if (!tmp) OwnCipherFault("RVExtFlush() - rekey cipher failed");
  int klen = cur->key_len;
  unsigned char key[64 + 32];
  if (klen > 64 || RVCryptoRandBytes(key, klen) != 0) OwnCipherFault("RVExtFlush() - rekey random failed");
  unsigned char enc[64 + 32];
  std::memcpy(enc, key, static_cast<size_t>(klen));
  std::memcpy(tmp->iv, tmp->iv_base, static_cast<size_t>(tmp->iv_len));
  int elen = RVCryptoEncryptBuf(tmp, enc, klen);
  RVCryptoCipherFree(tmp);
  if (elen < klen) OwnCipherFault("RVExtFlush() - rekey encryption failed");
  RVCryptoCipher* next = RVChannelNewState(cur->algorithm, cur->mode, key, klen, nullptr, 0);
  RVCryptoWipe(key, sizeof key);
  if (!next) OwnCipherFault("RVExtFlush() - rekey cipher failed");
  if (RVExtMsgBegin(e, RVMSG_REKEY, 0) == 0) {
    RVExtPutShort(e, cur->algorithm);
    RVExtPutShort(e, cur->mode);
    RVExtPutShort(e, klen);
    RVExtPutShort(e, elen);
    RVExtPutBytes(e, enc, static_cast<size_t>(elen));
    RVExtPutShort(e, next->iv_len);
    RVExtPutBytes(e, next->iv_base, static_cast<size_t>(next->iv_len));
    RVExtRestoreContext(e);
    RVExtSendRaw(e, e->out, e->out_pos);
    e->out_pos = 0;
  }
  Replace(&e->send_cipher, next);
}

int RVChannelOnRekey(RVExt* e, RVMsg* m) {
  const char* bad = "Invalid Rekey Message";
  int alg = RVMsgGetShort(m), mode = RVMsgGetShort(m), klen = RVMsgGetShort(m), elen = RVMsgGetShort(m);
  size_t left = m->body.size() - m->pos;
  if (!e->recv_cipher || e->saved_key.empty() || klen <= 0 || klen > 64 || elen < klen ||
      static_cast<size_t>(elen) + 2 > left) {
    RVExtFail(e, bad);
    return -1;
  }
  std::vector<unsigned char> enc(m->body.begin() + static_cast<long>(m->pos),
                                 m->body.begin() + static_cast<long>(m->pos) + elen);
  m->pos += static_cast<size_t>(elen);
  int ivlen = RVMsgGetShort(m);
  left = m->body.size() - m->pos;
  if (ivlen > kMaxVector || static_cast<size_t>(ivlen) > left) {
    RVExtFail(e, bad);
    return -1;
  }
  const unsigned char* iv = m->body.data() + m->pos;
  RVCryptoCipher* cur = e->recv_cipher;
  RVCryptoCipher* tmp = RVChannelNewState(e->cipher_algorithm, e->cipher_mode, e->saved_key.data(),
                                          static_cast<int>(e->saved_key.size()), cur->iv_base, cur->iv_len);
  int n = -1;
  if (tmp) {
    std::memcpy(tmp->iv, tmp->iv_base, static_cast<size_t>(tmp->iv_len));
    n = RVCryptoDecryptBuf(tmp, enc.data(), elen);
    RVCryptoCipherFree(tmp);
  }
  RVCryptoCipher* next = n == klen ? RVChannelNewState(alg, mode, enc.data(), klen, iv, ivlen) : nullptr;
  RVCryptoWipe(enc.data(), enc.size());
  if (!next) {
    RVExtFail(e, bad);
    return -1;
  }
  Replace(&e->recv_cipher, next);
  return 0;
}

int RVChannelInstall(RVExt* e, int algorithm, int mode, const unsigned char* key, int key_len,
                     const unsigned char* iv, int iv_len, const unsigned char* saved_key, int saved_len) {
  RVCryptoCipher* s = RVChannelNewState(algorithm, mode, key, key_len, iv, iv_len);
  RVCryptoCipher* r = RVChannelNewState(algorithm, mode, key, key_len, iv, iv_len);
  if (!s || !r) {
    RVCryptoCipherFree(s);
    RVCryptoCipherFree(r);
    return -1;
  }
  Replace(&e->send_cipher, s);
  Replace(&e->recv_cipher, r);
  e->cipher_algorithm = algorithm;
  e->cipher_mode = mode;
  e->saved_key.assign(saved_key, saved_key + saved_len);
  e->since_rekey = 0;
  return 0;
}

void RVChannelFree(RVExt* e) {
  Replace(&e->send_cipher, nullptr);
  Replace(&e->recv_cipher, nullptr);
  if (!e->saved_key.empty()) RVCryptoWipe(e->saved_key.data(), e->saved_key.size());
  if (!e->server_key.empty()) RVCryptoWipe(e->server_key.data(), e->server_key.size());
}
