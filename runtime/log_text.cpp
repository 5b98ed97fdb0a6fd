// Escaping of text shown in messages.
#include "runtime/log_text.h"

#include <cstring>

namespace {

// Length of the well-formed UTF-8 sequence at `p` (`left` bytes available)
// that starts with a byte of 0x80 or above; 0 when there is none there. The
// two-byte forms of U+0080-U+009F (C1 control characters) count as none.
size_t Utf8Sequence(const unsigned char* p, size_t left) {
  unsigned char b = p[0];
  size_t need;
  unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
  if (b >= 0xC2 && b <= 0xDF) {
    need = 2;
    if (b == 0xC2) low = 0xA0;
  } else if (b >= 0xE0 && b <= 0xEF) {
    need = 3;
    if (b == 0xE0) low = 0xA0;
    if (b == 0xED) high = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    need = 4;
    if (b == 0xF0) low = 0x90;
    if (b == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (left < need || p[1] < low || p[1] > high) return 0;
  for (size_t i = 2; i < need; ++i)
    if (p[i] < 0x80 || p[i] > 0xBF) return 0;
  return need;
}

}  // namespace

size_t RVEscapeText(const char* text, size_t len, size_t max, char* out, size_t size) {
  static const char kHex[] = "0123456789abcdef";
  if (size == 0) return 0;
  const unsigned char* in = reinterpret_cast<const unsigned char*>(text ? text : "");
  if (!text) len = 0;
  if (len > max) len = max;
  size_t w = 0;
  size_t r = 0;
  while (r < len) {
    unsigned char c = in[r];
    char piece[4];  // the longest escape, "\xNN"
    size_t n = 0;
    size_t take = 1;  // input bytes the piece stands for
    if (c == '\\') {
      piece[n++] = '\\';
      piece[n++] = '\\';
    } else if (c == '\r' || c == '\n' || c == '\t') {
      piece[n++] = '\\';
      piece[n++] = c == '\r' ? 'r' : c == '\n' ? 'n' : 't';
    } else if (c >= 0x20 && c < 0x7F) {
      piece[n++] = static_cast<char>(c);
    } else if (c >= 0x80 && (take = Utf8Sequence(in + r, len - r)) > 0) {
      // A whole well-formed sequence is copied below.
    } else {
      take = 1;
      piece[n++] = '\\';
      piece[n++] = 'x';
      piece[n++] = kHex[c >> 4];
      piece[n++] = kHex[c & 0xF];
    }
    if (n == 0) {
      if (w + take >= size) break;
      std::memcpy(out + w, in + r, take);
      w += take;
    } else {
      if (w + n >= size) break;
      std::memcpy(out + w, piece, n);
      w += n;
    }
    r += take;
  }
  out[w] = '\0';
  return w;
}

const char* RVShowText(RVShown* shown, const char* text) {
  size_t len = text ? std::strlen(text) : 0;
  RVEscapeText(text, len, len, shown->text, sizeof shown->text);
  return shown->text;
}
