// The registry's ".reg" text form and key tree. Portable: no OS calls here.
#include "platform/registry_text.h"

#include <cstdio>

#include "platform/registry.h"

namespace {

// The header lines a script may start with.
constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeader4 = "REGEDIT4";
// The one root a script may name.
constexpr std::string_view kRootName = "HKEY_LOCAL_MACHINE";
// Longest line of hex data a writer produces (continuation '\' included).
constexpr size_t kHexLineWidth = 80;

char FoldCase(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view Trim(std::string_view s) { return TrimRight(TrimLeft(s)); }

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && PlatRegNameEqual(s.substr(0, prefix.size()), prefix);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads 1 to 8 hex digits (the whole of `s`) into *v; false otherwise.
bool ParseHex32(std::string_view s, uint32_t* v) {
  if (s.empty() || s.size() > 8) return false;
  uint32_t r = 0;
  for (char c : s) {
    int d = HexDigit(c);
    if (d < 0) return false;
    r = (r << 4) | static_cast<uint32_t>(d);
  }
  *v = r;
  return true;
}

// Reads comma-separated two-digit bytes (blanks allowed around them; empty
// text = no bytes) into *out; false on anything else.
bool ParseHexBytes(std::string_view s, std::string* out) {
  out->clear();
  if (Trim(s).empty()) return true;
  for (;;) {
    size_t comma = s.find(',');
    std::string_view tok = Trim(s.substr(0, comma));
    if (tok.size() != 2) return false;
    int hi = HexDigit(tok[0]), lo = HexDigit(tok[1]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<char>(hi * 16 + lo));
    if (comma == std::string_view::npos) return true;
    s.remove_prefix(comma + 1);
  }
}

// Reads a quoted text starting at s[0] == '"': `\\` and `\"` are escapes,
// a '\' before anything else stays. Sets *used to the characters taken,
// closing quote included; false without a closing quote or with a zero byte.
bool ParseQuoted(std::string_view s, std::string* out, size_t* used) {
  out->clear();
  for (size_t i = 1; i < s.size(); i++) {
    char c = s[i];
    if (c == '\0') return false;
    if (c == '"') {
      *used = i + 1;
      return true;
    }
    if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
      out->push_back(s[i + 1]);
      i++;
      continue;
    }
    out->push_back(c);
  }
  return false;
}

// True for the hex(1)/hex(2) data of a UTF-16LE text: an even length that
// ends in a zero code unit.
bool LooksUtf16(const std::string& b) {
  return b.size() >= 2 && b.size() % 2 == 0 && b[b.size() - 1] == '\0' && b[b.size() - 2] == '\0';
}

// UTF-16LE code units to 8-bit text: units up to 255 are the byte itself,
// others (a surrogate pair as one) become '?'. An odd last byte is dropped.
std::string NarrowUtf16(std::string_view b) {
  std::string out;
  out.reserve(b.size() / 2);
  for (size_t i = 0; i + 1 < b.size(); i += 2) {
    unsigned u = static_cast<unsigned char>(b[i]) | (static_cast<unsigned char>(b[i + 1]) << 8);
    if (u >= 0xDC00 && u <= 0xDFFF) continue;  // low half of a pair already given as '?'
    out.push_back(u <= 0xFF ? static_cast<char>(u) : '?');
  }
  return out;
}

bool IsTextType(uint32_t type) { return type == PLAT_REG_SZ || type == PLAT_REG_EXPAND_SZ; }

// Where the parser stands: the script, the line reader and the current key.
struct ParseState {
  std::string_view text;   // the whole script
  size_t pos;              // start of the next physical line
  int line_no;             // number of the line last read, 1-based
  bool strict;             // stop at the first malformed line
  PlatRegNode* root;       // the HKEY_LOCAL_MACHINE node
  PlatRegNode* current;    // key the value lines apply to; null = none
  bool in_section;         // a section header (valid or not) was seen
  PlatRegParseResult* result;
};

// Reads the next physical line (without its line end) into *line.
bool NextLine(ParseState* st, std::string_view* line) {
  if (st->pos >= st->text.size()) return false;
  size_t end = st->text.find('\n', st->pos);
  size_t stop = end == std::string_view::npos ? st->text.size() : end;
  std::string_view l = st->text.substr(st->pos, stop - st->pos);
  if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
  st->pos = end == std::string_view::npos ? st->text.size() : end + 1;
  st->line_no++;
  *line = l;
  return true;
}

// Looks at the next physical line without taking it.
bool PeekLine(const ParseState* st, std::string_view* line) {
  ParseState copy = *st;
  return NextLine(&copy, line);
}

// Notes a malformed line; returns false when reading must stop (strict).
bool Malformed(ParseState* st, int line_no) {
  st->result->lines_skipped++;
  if (st->result->bad_line == 0) st->result->bad_line = line_no;
  return !st->strict;
}

// Applies a section header "[...]" or "[-...]"; false when malformed or
// of another root (whose keys are not kept here).
bool ApplySection(ParseState* st, std::string_view line) {
  st->current = nullptr;
  st->in_section = true;
  line = Trim(line);
  if (line.size() < 2 || line.front() != '[' || line.back() != ']') return false;
  std::string_view inner = line.substr(1, line.size() - 2);
  bool remove = !inner.empty() && inner.front() == '-';
  if (remove) inner.remove_prefix(1);
  size_t slash = inner.find('\\');
  std::string_view rootname = inner.substr(0, slash);
  if (!PlatRegNameEqual(rootname, kRootName)) return false;
  std::vector<std::string_view> parts;
  if (slash != std::string_view::npos) {
    std::string_view rest = inner.substr(slash + 1);
    for (;;) {
      size_t next = rest.find('\\');
      std::string_view comp = rest.substr(0, next);
      if (!PlatRegKeyNameValid(comp) || parts.size() >= kPlatRegMaxDepth) return false;
      parts.push_back(comp);
      if (next == std::string_view::npos) break;
      rest.remove_prefix(next + 1);
    }
  }
  if (remove) {
    if (parts.empty()) return false;  // the root itself cannot go
    PlatRegNode* parent = st->root;
    for (size_t i = 0; parent && i + 1 < parts.size(); i++) parent = PlatRegFindKey(parent, parts[i]);
    if (!parent) return true;
    auto& keys = parent->keys;
    for (size_t i = 0; i < keys.size(); i++) {
      if (PlatRegNameEqual(keys[i]->name, parts.back())) {
        keys.erase(keys.begin() + static_cast<std::ptrdiff_t>(i));
        break;
      }
    }
    return true;
  }
  PlatRegNode* node = st->root;
  for (std::string_view comp : parts) {
    PlatRegNode* sub = PlatRegFindKey(node, comp);
    if (!sub) {
      node->keys.push_back(std::make_unique<PlatRegNode>());
      sub = node->keys.back().get();
      sub->name = std::string(comp);
    }
    node = sub;
  }
  st->current = node;
  return true;
}

// Applies a value line starting with '"' or '@'; false when malformed.
bool ApplyValue(ParseState* st, std::string_view line) {
  line = TrimLeft(line);
  std::string name;
  size_t used = 1;
  if (line.front() == '"') {
    if (!ParseQuoted(line, &name, &used)) return false;
  }
  if (!PlatRegValueNameValid(name)) return false;
  std::string_view rest = TrimLeft(line.substr(used));
  if (rest.empty() || rest.front() != '=') return false;
  rest = TrimLeft(rest.substr(1));

  uint32_t type = 0;
  std::string data;
  bool remove = false;
  if (Trim(rest) == "-") {
    remove = true;
  } else if (!rest.empty() && rest.front() == '"') {
    if (!ParseQuoted(rest, &data, &used) || !Trim(rest.substr(used)).empty()) return false;
    type = PLAT_REG_SZ;
  } else if (StartsWithNoCase(rest, "dword:")) {
    uint32_t v = 0;
    if (!ParseHex32(TrimRight(rest.substr(6)), &v)) return false;
    type = PLAT_REG_DWORD;
    for (int i = 0; i < 4; i++) data.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  } else if (StartsWithNoCase(rest, "hex")) {
    std::string_view after = rest.substr(3);
    type = PLAT_REG_BINARY;
    if (!after.empty() && after.front() == '(') {
      size_t close = after.find(')');
      if (close == std::string_view::npos || !ParseHex32(after.substr(1, close - 1), &type)) return false;
      after.remove_prefix(close + 1);
    }
    if (after.empty() || after.front() != ':') return false;
    after.remove_prefix(1);
    // Gather the continuation lines: a line ending in '\' goes on with the
    // next one, unless that one starts a section or a value of its own.
    std::string hex;
    std::string_view piece = TrimRight(after);
    while (!piece.empty() && piece.back() == '\\') {
      piece.remove_suffix(1);
      hex.append(piece);
      std::string_view next;
      if (!PeekLine(st, &next)) return false;  // cut off
      std::string_view t = TrimLeft(next);
      if (!t.empty() && (t.front() == '[' || t.front() == '"' || t.front() == '@')) return false;
      NextLine(st, &next);
      piece = Trim(next);
    }
    hex.append(piece);
    if (!ParseHexBytes(hex, &data)) return false;
    if (IsTextType(type) && LooksUtf16(data)) data = NarrowUtf16(data);
  } else {
    return false;
  }
  if (!st->current) return st->in_section;  // values of a skipped or deleted key
  if (remove) {
    int i = PlatRegFindValue(st->current, name);
    if (i >= 0) st->current->values.erase(st->current->values.begin() + i);
    return true;
  }
  PlatRegPutValue(st->current, name, type, data);
  return true;
}

void AppendEscaped(std::string* out, std::string_view s) {
  for (char c : s) {
    if (c == '\\' || c == '"') out->push_back('\\');
    out->push_back(c);
  }
}

// Appends "hex:..." or "hex(N):..." wrapped at kHexLineWidth columns; `col`
// is the column the prefix starts at.
void AppendHex(std::string* out, size_t col, const char* prefix, std::string_view bytes) {
  out->append(prefix);
  col += std::char_traits<char>::length(prefix);
  static const char kDigits[] = "0123456789abcdef";
  for (size_t i = 0; i < bytes.size(); i++) {
    size_t width = i + 1 < bytes.size() ? 3 : 2;
    if (i > 0 && col + width + 1 > kHexLineWidth) {
      out->append("\\\n  ");
      col = 2;
    }
    unsigned char b = static_cast<unsigned char>(bytes[i]);
    out->push_back(kDigits[b >> 4]);
    out->push_back(kDigits[b & 15]);
    if (i + 1 < bytes.size()) out->push_back(',');
    col += width;
  }
}

// One code unit per byte, then a zero code unit.
std::string WidenText(std::string_view text) {
  std::string w;
  w.reserve(text.size() * 2 + 2);
  for (char c : text) {
    w.push_back(c);
    w.push_back('\0');
  }
  w.append(2, '\0');
  return w;
}

void AppendValue(std::string* out, const PlatRegEntry& v) {
  size_t start = out->size();
  if (v.name.empty()) {
    out->push_back('@');
  } else {
    out->push_back('"');
    AppendEscaped(out, v.name);
    out->push_back('"');
  }
  out->push_back('=');
  size_t col = out->size() - start;
  std::string_view text(v.data.data(), v.data.find('\0') == std::string::npos ? v.data.size() : v.data.find('\0'));
  char prefix[24];
  if (v.type == PLAT_REG_SZ && text.find_first_of("\r\n") == std::string_view::npos) {
    out->push_back('"');
    AppendEscaped(out, text);
    out->push_back('"');
  } else if (IsTextType(v.type)) {
    std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(v.type));
    AppendHex(out, col, prefix, WidenText(text));
  } else if (v.type == PLAT_REG_DWORD && v.data.size() == 4) {
    uint32_t n = 0;
    for (int i = 3; i >= 0; i--) n = (n << 8) | static_cast<unsigned char>(v.data[static_cast<size_t>(i)]);
    std::snprintf(prefix, sizeof prefix, "dword:%08x", static_cast<unsigned>(n));
    out->append(prefix);
  } else if (v.type == PLAT_REG_BINARY) {
    AppendHex(out, col, "hex:", v.data);
  } else {
    std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(v.type));
    AppendHex(out, col, prefix, v.data);
  }
  out->push_back('\n');
}

void AppendKey(std::string* out, const PlatRegNode& key, std::string* path) {
  if (path->find('\\') != std::string::npos || !key.values.empty()) {
    out->push_back('[');
    out->append(*path);
    out->append("]\n");
    for (const PlatRegEntry& v : key.values) AppendValue(out, v);
    out->push_back('\n');
  }
  for (const auto& sub : key.keys) {
    size_t len = path->size();
    path->push_back('\\');
    path->append(sub->name);
    AppendKey(out, *sub, path);
    path->resize(len);
  }
}

}  // namespace

bool PlatRegNameEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); i++)
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  return true;
}

PlatRegNode* PlatRegFindKey(const PlatRegNode* key, std::string_view name) {
  for (const auto& sub : key->keys)
    if (PlatRegNameEqual(sub->name, name)) return sub.get();
  return nullptr;
}

int PlatRegFindValue(const PlatRegNode* key, std::string_view name) {
  for (size_t i = 0; i < key->values.size(); i++)
    if (PlatRegNameEqual(key->values[i].name, name)) return static_cast<int>(i);
  return -1;
}

bool PlatRegKeyNameValid(std::string_view name) {
  if (name.empty() || name.size() > kPlatRegMaxKeyName) return false;
  for (char c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == '/' || c == '\\') return false;
  return true;
}

bool PlatRegValueNameValid(std::string_view name) {
  return name.size() <= kPlatRegMaxValueName && name.find_first_of(std::string_view("\0\r\n", 3)) == std::string_view::npos;
}

bool PlatRegPutValue(PlatRegNode* key, std::string_view name, uint32_t type, std::string_view data) {
  std::string bytes(data);
  if (IsTextType(type)) {
    size_t nul = bytes.find('\0');
    if (nul != std::string::npos) bytes.resize(nul);
    bytes.push_back('\0');
  }
  int i = PlatRegFindValue(key, name);
  if (i >= 0) {
    PlatRegEntry& e = key->values[static_cast<size_t>(i)];
    if (e.type == type && e.data == bytes) return false;
    e.type = type;
    e.data = std::move(bytes);
    return true;
  }
  key->values.push_back(PlatRegEntry{std::string(name), type, std::move(bytes)});
  return true;
}

std::string PlatRegDecodeScript(const std::string& bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE)
    return NarrowUtf16(std::string_view(bytes).substr(2));
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return bytes.substr(3);
  return bytes;
}

void PlatRegParse(const std::string& text, bool strict, PlatRegNode* root, PlatRegParseResult* result) {
  *result = PlatRegParseResult{0, 0};
  ParseState st{text, 0, 0, strict, root, nullptr, false, result};
  std::string_view line;
  bool skipping = false;  // inside a section that is not read
  while (NextLine(&st, &line)) {
    int line_no = st.line_no;
    std::string_view t = Trim(line);
    if (line_no == 1 && strict && t != kHeader5 && t != kHeader4) {
      Malformed(&st, 1);
      return;
    }
    if (t.empty() || t.front() == ';' || t == kHeader5 || t == kHeader4) continue;
    bool ok;
    if (t.front() == '[') {
      ok = ApplySection(&st, t);
      skipping = !ok;
    } else if (t.front() == '"' || t.front() == '@') {
      if (skipping) {
        // A value of a section that is not read is skipped with it (its
        // hex continuation lines too; nothing is applied without a key).
        ApplyValue(&st, line);
        result->lines_skipped++;
        continue;
      }
      ok = ApplyValue(&st, line);
    } else {
      ok = false;
    }
    if (!ok && !Malformed(&st, line_no)) return;
  }
  if (strict && st.line_no == 0) Malformed(&st, 1);  // empty: not a script
}

std::string PlatRegFormat(const PlatRegNode& key, const std::string& path) {
  std::string out(kHeader5);
  out.append("\n\n");
  std::string p = path;
  AppendKey(&out, key, &p);
  return out;
}
