// The response side shared by the HTTP and HTTPS clients.
#include "fetch/http_response.h"

#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "fetch/fetch_settings.h"
#include "fetch/stall_limit.h"
#include "platform/system.h"
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

// Content-Length of `header`: -1 when no line names it, -2 when a line
// holds anything but one decimal number of at most 18 digits (blanks around
// it allowed) or two lines disagree; else the value.
int64_t ContentLength(std::string_view header) {
  static constexpr std::string_view kName = "content-length:";
  int64_t found = -1;
  size_t line = header.find("\r\n");
  while (line != std::string_view::npos && line + 2 < header.size()) {
    size_t start = line + 2;
    size_t end = header.find("\r\n", start);
    std::string_view l = header.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (l.size() >= kName.size()) {
      bool same = true;
      for (size_t i = 0; i < kName.size() && same; ++i) same = Lower(l[i]) == kName[i];
      if (same) {
        size_t pos = kName.size();
        while (pos < l.size() && (l[pos] == ' ' || l[pos] == '\t')) ++pos;
        int64_t v = 0;
        size_t digits = 0;
        while (pos < l.size() && IsDigit(l[pos])) {
          if (++digits > 18) return -2;
          v = v * 10 + (l[pos] - '0');
          ++pos;
        }
        while (pos < l.size() && (l[pos] == ' ' || l[pos] == '\t')) ++pos;
        if (digits == 0 || pos != l.size()) return -2;
        if (found >= 0 && found != v) return -2;
        found = v;
      }
    }
    line = end;
  }
  return found;
}

// Buckets of the rate window.
constexpr int kRateBuckets = 16;

// The bytes of the last rate window, counted in buckets of 1/16 of it.
struct RateWindow {
  int64_t start_ms;               // the first receive
  int window_ms;                  // the window
  int64_t min_bytes;              // the least bytes a window must bring
  int64_t bucket_ms;              // one bucket's span
  int64_t current;                // number of the newest bucket since start
  int64_t bytes[kRateBuckets];    // bytes per bucket, by number modulo 16
};

void RateStart(RateWindow* w, int64_t now) {
  w->start_ms = now;
  w->window_ms = UpdFetchRateWindowMs();
  w->min_bytes = UpdFetchRateMinBytes();
  w->bucket_ms = w->window_ms / kRateBuckets > 0 ? w->window_ms / kRateBuckets : 1;
  w->current = 0;
  for (int64_t& b : w->bytes) b = 0;
}

// Moves the window on to `now`, emptying the buckets it leaves behind.
void RateAdvance(RateWindow* w, int64_t now) {
  int64_t n = (now - w->start_ms) / w->bucket_ms;
  if (n <= w->current) return;
  int64_t steps = n - w->current;
  if (steps > kRateBuckets) steps = kRateBuckets;
  for (int64_t k = 1; k <= steps; ++k) w->bytes[(w->current + k) % kRateBuckets] = 0;
  w->current = n;
}

void RateAdd(RateWindow* w, int64_t now, int64_t n) {
  RateAdvance(w, now);
  w->bytes[w->current % kRateBuckets] += n;
}

// The bytes of the last window when a whole window has passed, else -1.
int64_t RateLastWindow(RateWindow* w, int64_t now) {
  RateAdvance(w, now);
  if (now - w->start_ms < w->window_ms) return -1;
  int64_t sum = 0;
  for (int64_t b : w->bytes) sum += b;
  return sum;
}

// One response being received.
struct Receiver {
  const UpdHttpChannel* channel; // where the bytes come from
  UpdLocalFile* file;            // where the body goes
  const char* who;               // "HttpGet" or "SSL HttpGet"
  int64_t max_bytes;             // body cap, 0 = none
  int64_t received;              // bytes received so far (header included)
  int64_t last_data_ms;          // when the last bytes came
  RateWindow rate;               // the least rate
};

// Receives up to `len` bytes within the fetch's bounds: >0 bytes, 0 closed,
// -1 failed (logged).
int ReceiveSome(Receiver* r, char* buf, int len) {
  for (;;) {
    if (UpdFetchStopRequested()) {
      UpdMessage(9, "%s Error - Stopped: the service is stopping, %lld Bytes Received File: %s", r->who,
                 static_cast<long long>(r->received), r->file->path);
      return -1;
    }
    int64_t now = PlatMonotonicMs();
    int stall = UpdFetchStallLimitMs();
    int64_t silent = now - r->last_data_ms;
    if (silent >= stall) {
      r->channel->log_timeout(r->channel->ctx);
      UpdMessage(9, "%s Error - Peer Silent: no byte for %d ms, %lld Bytes Received File: %s", r->who, stall,
                 static_cast<long long>(r->received), r->file->path);
      return -1;
    }
    int64_t last = RateLastWindow(&r->rate, now);
    if (last >= 0 && last < r->rate.min_bytes) {
      r->channel->log_timeout(r->channel->ctx);
      UpdMessage(9, "%s Error - Too Slow: %lld Bytes in the Last %d ms, at least %lld needed File: %s", r->who,
                 static_cast<long long>(last), r->rate.window_ms, static_cast<long long>(r->rate.min_bytes),
                 r->file->path);
      return -1;
    }
    int64_t wait = stall - silent;
    if (wait > kUpdStopSliceMs) wait = kUpdStopSliceMs;
    if (wait > r->rate.bucket_ms) wait = r->rate.bucket_ms;
    int n = r->channel->recv(r->channel->ctx, buf, len, static_cast<int>(wait));
    if (n == -2) continue;
    if (n > 0) {
      int64_t t = PlatMonotonicMs();
      r->last_data_ms = t;
      r->received += n;
      RateAdd(&r->rate, t, n);
    }
    return n;
  }
}

// Writes body bytes within the cap. 0, or -1 logged.
int WriteBody(Receiver* r, const char* data, int64_t n, int64_t* body_bytes) {
  if (n <= 0) return 0;
  if (r->max_bytes > 0 && *body_bytes + n > r->max_bytes) {
    UpdMessage(9, "%s Error - Size Cap Reached: more than %lld Bytes File: %s", r->who,
               static_cast<long long>(r->max_bytes), r->file->path);
    return -1;
  }
  if (UpdLocalFileWrite(r->file, data, static_cast<uint32_t>(n)) != 0) return -1;
  *body_bytes += n;
  return 0;
}

// The status line of a response (up to its line end, at most 200
// characters), escaped, for the outcome line.
void ShowStatusLine(const char* block, int len, RVShown* shown) {
  std::string_view s(block, static_cast<size_t>(len));
  size_t end = s.find_first_of("\r\n");
  if (end == std::string_view::npos) end = s.size();
  if (end > 200) end = 200;
  std::string line(s.substr(0, end));
  RVShowText(shown, line.c_str());
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
  int64_t length = ContentLength(s.substr(0, end + 2));
  if (length == -2) return UPD_HTTP_HEAD_BAD_LENGTH;
  head->content_length = length;
  return UPD_HTTP_HEAD_OK;
}

int UpdHttpReceive(const UpdHttpChannel* channel, UpdLocalFile* file, const char* who, int64_t max_bytes) {
  Receiver r = {};
  r.channel = channel;
  r.file = file;
  r.who = who;
  r.max_bytes = max_bytes;
  r.last_data_ms = PlatMonotonicMs();
  RateStart(&r.rate, r.last_data_ms);

  // The first block: filled to 8,192 bytes or the peer's close, except that
  // a response whose header and Content-Length body are in already is not
  // waited on further.
  int filled = 0;
  bool closed = false;
  while (filled < kUpdRecvBlockSize) {
    int n = ReceiveSome(&r, g_upd_recv_block + filled, kUpdRecvBlockSize - filled);
    if (n < 0) return -1;
    if (n == 0) {
      closed = true;
      break;
    }
    filled += n;
    UpdHttpHead early;
    if (UpdHttpParseHead(g_upd_recv_block, filled, &early) == UPD_HTTP_HEAD_OK && early.content_length >= 0 &&
        filled - early.body_offset >= early.content_length)
      break;
  }
  if (filled == 0) return 0;  // the peer closed without a byte: an empty file

  UpdHttpHead head;
  UpdHttpHeadKind kind = UpdHttpParseHead(g_upd_recv_block, filled, &head);
  if (kind == UPD_HTTP_HEAD_NOT_200 || kind == UPD_HTTP_HEAD_NO_END) {
    // The first 512 bytes of what came, escaped: the peer's text never
    // makes a log line of its own.
    char shown[RVEscapedSize(kUpdHttpShowMax)];
    RVEscapeText(g_upd_recv_block, static_cast<size_t>(filled), kUpdHttpShowMax, shown, sizeof shown);
    RVShown status;
    ShowStatusLine(g_upd_recv_block, filled, &status);
    if (kind == UPD_HTTP_HEAD_NOT_200) {
      UpdMessage(9, "%s Error: %s", who, shown);
      UpdMessage(9, "%s Error - Status Not 200: %s", who, status.text);
    } else {
      UpdMessage(9, "%s Error - Invalid Hdr: %s", who, shown);
      UpdMessage(9, "%s Error - Header Not Ended Within %d Bytes", who, kUpdRecvBlockSize);
    }
    return -1;
  }
  if (kind == UPD_HTTP_HEAD_BAD_LENGTH) {
    UpdMessage(9, "%s Error - Invalid Content-Length File: %s", who, file->path);
    return -1;
  }
  int64_t length = head.content_length;
  if (length >= 0 && max_bytes > 0 && length > max_bytes) {
    UpdMessage(9, "%s Error - Size Cap Reached: Content-Length %lld, at most %lld Bytes File: %s", who,
               static_cast<long long>(length), static_cast<long long>(max_bytes), file->path);
    return -1;
  }

  int64_t body = 0;
  int64_t in_block = filled - head.body_offset;
  if (length >= 0 && in_block > length) in_block = length;  // what follows the body is no part of it
  if (WriteBody(&r, g_upd_recv_block + head.body_offset, in_block, &body) != 0) return -1;

  std::unique_ptr<char[]> buf;
  while (!closed && (length < 0 || body < length)) {
    if (!buf) buf.reset(new char[kUpdBodyReadSize]);
    int want = kUpdBodyReadSize;
    if (length >= 0 && length - body < want) want = static_cast<int>(length - body);
    int n = ReceiveSome(&r, buf.get(), want);
    if (n < 0) return -1;
    if (n == 0) break;
    if (WriteBody(&r, buf.get(), n, &body) != 0) return -1;
  }
  if (length >= 0 && body < length) {
    UpdMessage(9, "%s Error - Connection Closed After %lld of %lld Body Bytes File: %s", who,
               static_cast<long long>(body), static_cast<long long>(length), file->path);
    return -1;
  }
  return 0;
}
