// The response side shared by the HTTP and HTTPS clients.
#include "fetch/http_response.h"

#include <cstring>
#include <string_view>

#include "runtime/log_text.h"
#include "runtime/message.h"

char g_upd_recv_block[kUpdRecvBlockSize];

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Skips one or more digits at `pos`; false when there are none.
bool SkipDigits(std::string_view s, size_t* pos) {
  size_t start = *pos;
  while (*pos < s.size() && IsDigit(s[*pos])) ++*pos;
  return *pos > start;
}

// True when the status line at the start of `s` carries status 200.
bool Status200(std::string_view s) {
  if (s.substr(0, 5) != "HTTP/") return false;
  size_t pos = 5;
  if (!SkipDigits(s, &pos) || pos >= s.size() || s[pos] != '.') return false;
  ++pos;
  if (!SkipDigits(s, &pos) || pos >= s.size() || s[pos] != ' ') return false;
  ++pos;
  if (s.substr(pos, 3) != "200") return false;
  pos += 3;
  return pos < s.size() && (s[pos] == ' ' || s[pos] == '\r' || s[pos] == '\n');
}

// The value of the first usable Content-Length line of `header`, or -1.
int64_t ContentLength(std::string_view header) {
  static constexpr std::string_view kName = "content-length:";
  size_t line = header.find("\r\n");
  while (line != std::string_view::npos && line + 2 < header.size()) {
    size_t start = line + 2;
    size_t end = header.find("\r\n", start);
    std::string_view l = header.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (l.size() > kName.size()) {
      bool same = true;
      for (size_t i = 0; i < kName.size() && same; ++i) same = Lower(l[i]) == kName[i];
      if (same) {
        size_t pos = kName.size();
        while (pos < l.size() && (l[pos] == ' ' || l[pos] == '\t')) ++pos;
        int64_t v = 0;
        size_t digits = 0;
        while (pos < l.size() && IsDigit(l[pos]) && digits < 18) {
          v = v * 10 + (l[pos] - '0');
          ++pos;
          ++digits;
        }
        while (pos < l.size() && (l[pos] == ' ' || l[pos] == '\t')) ++pos;
        if (digits > 0 && pos == l.size()) return v;
      }
    }
    line = end;
  }
  return -1;
}

}  // namespace

UpdHttpHeadKind UpdHttpParseHead(const char* block, int len, UpdHttpHead* head) {
  head->body_offset = 0;
  head->content_length = -1;
  std::string_view s(block, static_cast<size_t>(len > 0 ? len : 0));
  if (!Status200(s)) return UPD_HTTP_HEAD_NOT_200;
  size_t end = s.find("\r\n\r\n");
  if (end == std::string_view::npos) return UPD_HTTP_HEAD_NO_END;
  head->body_offset = static_cast<int>(end + 4);
  head->content_length = ContentLength(s.substr(0, end + 2));
  return UPD_HTTP_HEAD_OK;
}

void UpdHttpResponseStart(UpdHttpResponse* r, UpdLocalFile* file, const char* who) {
  r->file = file;
  r->who = who;
  r->head_seen = 0;
  r->content_length = -1;
  r->body_bytes = 0;
}

int UpdHttpResponseBlock(UpdHttpResponse* r, const char* block, int len) {
  int offset = 0;
  if (!r->head_seen) {
    r->head_seen = 1;
    UpdHttpHead head;
    UpdHttpHeadKind kind = UpdHttpParseHead(block, len, &head);
    if (kind != UPD_HTTP_HEAD_OK) {
      // The first 512 bytes of what came, escaped: the peer's text never
      // makes a log line of its own.
      char shown[RVEscapedSize(kUpdHttpShowMax)];
      RVEscapeText(block, static_cast<size_t>(len), kUpdHttpShowMax, shown, sizeof shown);
      if (kind == UPD_HTTP_HEAD_NOT_200)
        UpdMessage(9, "%s Error: %s", r->who, shown);
      else
        UpdMessage(9, "%s Error - Invalid Hdr: %s", r->who, shown);
      return -1;
    }
    offset = head.body_offset;
    r->content_length = head.content_length;
  }
  if (offset >= len) return 0;
  uint32_t n = static_cast<uint32_t>(len - offset);
  if (UpdLocalFileWrite(r->file, block + offset, n) != 0) return -1;
  r->body_bytes += n;
  return 0;
}

int UpdHttpResponseEnd(UpdHttpResponse* r) {
  if (r->content_length >= 0 && r->body_bytes < r->content_length) {
    UpdMessage(9, "%s Error - Connection Closed After %lld of %lld Body Bytes File: %s", r->who,
               static_cast<long long>(r->body_bytes), static_cast<long long>(r->content_length), r->file->path);
    return -1;
  }
  return 0;
}
