// The fetch layer's settings and the HttpsPin text form.
#include "fetch/fetch_settings.h"

#include <cstring>
#include <strings.h>

UpdFetchSettings g_upd_fetch = {};

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kPinPrefix[] = "sha256/";

// The value of one Base64 character, or -1.
int Sextet(char c) {
  const char* p = c ? std::strchr(kAlphabet, c) : nullptr;
  return p ? static_cast<int>(p - kAlphabet) : -1;
}

}  // namespace

void UpdFetchSettingsClear() {
  UpdFetchStopHook hook = g_upd_fetch.stop_requested;
  g_upd_fetch = UpdFetchSettings{};
  g_upd_fetch.stop_requested = hook;
}

bool UpdFetchStopRequested() { return g_upd_fetch.stop_requested && g_upd_fetch.stop_requested(); }

int UpdParsePin(const char* text, std::array<unsigned char, kUpdPinSize>* pin) {
  const size_t prefix = sizeof kPinPrefix - 1;
  if (!text || strncasecmp(text, kPinPrefix, prefix) != 0) return -1;
  const char* b64 = text + prefix;
  // 32 bytes are 43 characters and one "=".
  if (std::strlen(b64) != 44 || b64[43] != '=') return -1;
  uint32_t acc = 0;
  int bits = 0;
  size_t out = 0;
  for (int i = 0; i < 43; ++i) {
    int v = Sextet(b64[i]);
    if (v < 0) return -1;
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      if (out >= kUpdPinSize) return -1;
      (*pin)[out++] = static_cast<unsigned char>((acc >> bits) & 0xff);
    }
  }
  // The two bits left over must be zero in a canonical encoding.
  if (out != kUpdPinSize || (acc & ((1u << bits) - 1)) != 0) return -1;
  return 0;
}

std::string UpdPinText(const std::array<unsigned char, kUpdPinSize>& pin) {
  std::string s = kPinPrefix;
  size_t i = 0;
  for (; i + 3 <= pin.size(); i += 3) {
    uint32_t v = (uint32_t{pin[i]} << 16) | (uint32_t{pin[i + 1]} << 8) | pin[i + 2];
    for (int k = 18; k >= 0; k -= 6) s += kAlphabet[(v >> k) & 63];
  }
  // 32 = 30 + 2: two bytes remain.
  uint32_t v = (uint32_t{pin[i]} << 16) | (uint32_t{pin[i + 1]} << 8);
  s += kAlphabet[(v >> 18) & 63];
  s += kAlphabet[(v >> 12) & 63];
  s += kAlphabet[(v >> 6) & 63];
  s += '=';
  return s;
}
