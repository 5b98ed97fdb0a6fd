// Base64 slots: whole texts (no line breaks) and OpenSSL's streaming
// encoder and decoder.
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <climits>
#include <cstring>

#include "crypto/crypto_slots.h"

namespace {

// 1 when `c` is one of the 64 characters of the Base64 alphabet.
bool IsB64Char(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

}  // namespace

int CryptoLibB64Encode(const unsigned char* data, int len, char* out) {
  if (!out || len < 0 || (!data && len > 0)) return -1;
  if (len > INT_MAX / 4 * 3 - 3) return -1;
  if (len == 0) {
    out[0] = '\0';
    return 0;
  }
  return EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out), data, len);
}

// Decodes a whole text. The length rule is (length / 4) * 3 less one for each
// "=" among the last two characters, and `out` needs only that many bytes:
// OpenSSL's block decoder writes three bytes for the last group even when it
// is padded, so that group goes through a small buffer. A text whose length
// is not a multiple of 4, with a character outside the alphabet, or with "="
// anywhere but in the last two places is not Base64.
int CryptoLibB64Decode(const char* text, unsigned char* out) {
  if (!text || !out) return -1;
  size_t len = std::strlen(text);
  if (len % 4 != 0 || len / 4 > static_cast<size_t>(INT_MAX / 3)) return -1;
  if (len == 0) return 0;
  size_t pads = 0;
  if (text[len - 1] == '=') {
    pads++;
    if (text[len - 2] == '=') pads++;
  }
  for (size_t i = 0; i < len - pads; i++)
    if (!IsB64Char(static_cast<unsigned char>(text[i]))) return -1;
  const unsigned char* in = reinterpret_cast<const unsigned char*>(text);
  size_t head = len - 4;
  int head_out = static_cast<int>(head / 4 * 3);
  if (head > 0 && EVP_DecodeBlock(out, in, static_cast<int>(head)) != head_out) return -1;
  // The padding of the last group is decoded as zero bits ("A").
  unsigned char group[4];
  for (size_t i = 0; i < 4; i++) group[i] = i < 4 - pads ? in[head + i] : 'A';
  unsigned char last[3];
  int n = EVP_DecodeBlock(last, group, 4);
  OPENSSL_cleanse(group, sizeof group);
  if (n != 3) return -1;
  std::memcpy(out + head_out, last, 3 - pads);
  OPENSSL_cleanse(last, sizeof last);
  return head_out + static_cast<int>(3 - pads);
}

void* CryptoLibB64EncodeCtxNew() {
  EVP_ENCODE_CTX* ctx = EVP_ENCODE_CTX_new();
  if (ctx) EVP_EncodeInit(ctx);
  return ctx;
}

int CryptoLibB64EncodeUpdate(void* ctx, const unsigned char* in, unsigned char* out, int len) {
  if (!ctx || !out || len < 0 || (!in && len > 0)) return -1;
  if (len == 0) return 0;
  int outl = 0;
  if (EVP_EncodeUpdate(static_cast<EVP_ENCODE_CTX*>(ctx), out, &outl, in, len) != 1) return -1;
  return outl;
}

int CryptoLibB64EncodeFinal(void* ctx, unsigned char* out) {
  if (!ctx) return -1;
  int outl = 0;
  if (out) EVP_EncodeFinal(static_cast<EVP_ENCODE_CTX*>(ctx), out, &outl);
  EVP_ENCODE_CTX_free(static_cast<EVP_ENCODE_CTX*>(ctx));
  return outl;
}

// The decoding context is started for decoding (OpenSSL's decoder only
// promises to work on a context made by its own initialiser).
void* CryptoLibB64DecodeCtxNew() {
  EVP_ENCODE_CTX* ctx = EVP_ENCODE_CTX_new();
  if (ctx) EVP_DecodeInit(ctx);
  return ctx;
}

int CryptoLibB64DecodeUpdate(void* ctx, const unsigned char* in, unsigned char* out, int len) {
  if (!ctx || !out || len < 0 || (!in && len > 0)) return -1;
  if (len == 0) return 0;
  int outl = 0;
  if (EVP_DecodeUpdate(static_cast<EVP_ENCODE_CTX*>(ctx), out, &outl, in, len) < 0) return -1;
  return outl;
}

int CryptoLibB64DecodeFinal(void* ctx, unsigned char* out) {
  if (!ctx) return -1;
  int outl = 0;
  int ok = out ? EVP_DecodeFinal(static_cast<EVP_ENCODE_CTX*>(ctx), out, &outl) : -1;
  EVP_ENCODE_CTX_free(static_cast<EVP_ENCODE_CTX*>(ctx));
  return ok < 0 ? -1 : outl;
}
