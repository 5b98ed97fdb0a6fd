// The logical-line reader of the toolkit's small text files.
#include "runtime/text_lines.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

char FoldCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Hands on the gathered logical line (or counts it when too long).
void FlushLogical(RVTextLines* r) {
  if (!r->have_logical) return;
  if (r->logical_long) r->dropped++;
  else r->fn(r->logical.data(), r->logical.size(), r->context);
  r->logical.clear();
  r->have_logical = false;
  r->logical_long = false;
}

// The current physical line is complete: join it to the logical line or
// start a new one.
void EndPhysical(RVTextLines* r) {
  std::string& p = r->physical;
  if (!r->physical_long)
    while (!p.empty() && p.back() == '\r') p.pop_back();
  bool text = r->physical_text || r->physical_long;
  if (text) {
    bool continues = IsBlank(p[0]) && r->have_logical;
    if (continues) {
      if (!r->logical_long) {
        if (r->physical_long || r->logical.size() + 1 + p.size() > kRVTextLineMax) {
          r->logical_long = true;
          r->logical.clear();
        } else {
          r->logical += '\n';
          r->logical += p;
        }
      }
    } else {
      FlushLogical(r);
      r->have_logical = true;
      r->logical_long = r->physical_long;
      if (!r->logical_long) r->logical = p;
    }
  }
  p.clear();
  r->line_started = false;
  r->skipping = false;
  r->physical_long = false;
  r->physical_text = false;
}

}  // namespace

void RVTextLinesBegin(RVTextLines* reader, RVCommentRule rule, RVTextLineFn fn, void* context) {
  reader->rule = rule;
  reader->fn = fn;
  reader->context = context;
  reader->physical.clear();
  reader->line_started = false;
  reader->skipping = false;
  reader->physical_long = false;
  reader->physical_text = false;
  reader->logical.clear();
  reader->have_logical = false;
  reader->logical_long = false;
  reader->dropped = 0;
}

void RVTextLinesFeed(RVTextLines* r, const char* data, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    char c = data[i];
    if (c == '\n') {
      EndPhysical(r);
      continue;
    }
    bool first = !r->line_started;
    r->line_started = true;
    if (r->skipping) continue;
    if (c == '\0' || (c == '#' && (r->rule == RV_COMMENT_ANYWHERE || first))) {
      r->skipping = true;
      continue;
    }
    if (r->physical_long) continue;
    if (r->physical.size() >= kRVTextLineMax) {
      r->physical_long = true; // the kept bytes stay only for the first one
      continue;
    }
    r->physical += c;
    if (!IsBlank(c) && c != '\r') r->physical_text = true;
  }
}

size_t RVTextLinesEnd(RVTextLines* r) {
  if (r->line_started) EndPhysical(r);
  FlushLogical(r);
  return r->dropped;
}

size_t RVReadTextLines(const char* text, size_t length, RVCommentRule rule, RVTextLineFn fn, void* context) {
  RVTextLines reader;
  RVTextLinesBegin(&reader, rule, fn, context);
  if (text) RVTextLinesFeed(&reader, text, length);
  return RVTextLinesEnd(&reader);
}

long RVReadTextStream(std::FILE* stream, RVCommentRule rule, RVTextLineFn fn, void* context) {
  RVTextLines reader;
  RVTextLinesBegin(&reader, rule, fn, context);
  char buf[4096];
  bool failed = !stream;
  while (!failed) {
    size_t n = std::fread(buf, 1, sizeof buf, stream);
    if (n > 0) RVTextLinesFeed(&reader, buf, n);
    if (n < sizeof buf) {
      failed = std::ferror(stream) != 0;
      break;
    }
  }
  size_t dropped = RVTextLinesEnd(&reader);
  return failed ? -1 : static_cast<long>(dropped);
}

int RVTextEqualNoCase(const char* a, const char* b) {
  if (!a || !b) return 0;
  for (; *a && *b; ++a, ++b)
    if (FoldCase(*a) != FoldCase(*b)) return 0;
  return *a == *b ? 1 : 0;
}

int RVTextStartsNoCase(const char* text, const char* prefix) {
  if (!text || !prefix) return 0;
  for (; *prefix; ++text, ++prefix)
    if (!*text || FoldCase(*text) != FoldCase(*prefix)) return 0;
  return 1;
}
