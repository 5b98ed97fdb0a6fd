// Reading and writing script metadata text.
#include "fetch/script_metadata.h"

#include <cstdio>
#include <cstring>

namespace {

const char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Value of a Base64 character, or -1.
int B64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Value of a hexadecimal digit (either case when `upper_ok`, else lower
// case only), or -1.
int HexValue(char c, bool upper_ok) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (upper_ok && c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads 64 lower-case hexadecimal digits into a digest. 0, or -1.
int ParseHexDigest(const std::string& text, UpdSha256Digest* out) {
  if (text.size() != 2 * kUpdSha256Size) return -1;
  for (int i = 0; i < kUpdSha256Size; ++i) {
    int hi = HexValue(text[2 * i], false);
    int lo = HexValue(text[2 * i + 1], false);
    if (hi < 0 || lo < 0) return -1;
    (*out)[i] = static_cast<unsigned char>(hi * 16 + lo);
  }
  return 0;
}

// Reads decimal digits without a leading zero (but "0") into a number no
// larger than `max`. 0, or -1.
int ParseDecimal(const std::string& text, uint64_t max, uint64_t* out) {
  if (text.empty() || text.size() > 20 || (text.size() > 1 && text[0] == '0')) return -1;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    uint64_t d = static_cast<uint64_t>(c - '0');
    if (v > (max - d) / 10) return -1;
    v = v * 10 + d;
  }
  *out = v;
  return 0;
}

// A name with every byte outside "!".."~", and "%", written as "%XX".
std::string EncodeName(const std::string& name) {
  std::string out;
  for (unsigned char c : name) {
    if (c > 0x20 && c < 0x7F && c != '%') {
      out += static_cast<char>(c);
    } else {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", c);
      out += buf;
    }
  }
  return out;
}

// Reads an encoded name: not empty, "%" followed by two hexadecimal digits,
// no control character once decoded. 0, or -1.
int DecodeName(const std::string& text, std::string* out) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '%') {
      if (i + 2 >= text.size()) return -1;
      int hi = HexValue(text[i + 1], true);
      int lo = HexValue(text[i + 2], true);
      if (hi < 0 || lo < 0) return -1;
      c = static_cast<unsigned char>(hi * 16 + lo);
      i += 2;
    }
    if (c < 0x20 || c == 0x7F) return -1;
    *out += static_cast<char>(c);
  }
  return out->empty() ? -1 : 0;
}

// Days since 1970-01-01 of a civil date.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  int64_t yoe = y - era * 400;
  int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// Days of a month.
int MonthDays(int y, int m) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return m == 2 && leap ? 29 : kDays[m - 1];
}

// The blank-separated words of a line.
std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  size_t start = 0;
  for (;;) {
    size_t end = line.find(' ', start);
    words.push_back(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return words;
    start = end + 1;
  }
}

// The reader's state: which single fields were seen.
struct MetaRead {
  bool serial = false;
  bool expires = false;
  bool script = false;
};

// "line N: <what>" into *error; -1.
int LineError(int line, const std::string& what, std::string* error) {
  *error = "line " + std::to_string(line) + ": " + what;
  return -1;
}

// Applies one field line (not the header, not the signature). 0, or -1.
int ApplyField(const std::vector<std::string>& w, int n, MetaRead* seen, UpdScriptMetadata* out, std::string* error) {
  const std::string& key = w[0];
  uint64_t v = 0;
  if (key == "Serial") {
    if (seen->serial) return LineError(n, "duplicate Serial", error);
    seen->serial = true;
    if (w.size() != 2 || UpdParseSerial(w[1], &v) != 0)
      return LineError(n, "Serial is not a number from 1 to 18446744073709551615", error);
    out->serial = v;
  } else if (key == "Expires") {
    if (seen->expires) return LineError(n, "duplicate Expires", error);
    seen->expires = true;
    if (w.size() != 2 || UpdParseUtcTime(w[1], &out->expires) != 0)
      return LineError(n, "Expires is not a time YYYY-MM-DDTHH:MM:SSZ", error);
  } else if (key == "Script") {
    if (seen->script) return LineError(n, "duplicate Script", error);
    seen->script = true;
    if (w.size() != 3 || ParseDecimal(w[1], kUpdMetadataMaxLength, &v) != 0)
      return LineError(n, "Script needs a length and a SHA-256", error);
    out->script_length = static_cast<int64_t>(v);
    if (ParseHexDigest(w[2], &out->script_sha256) != 0)
      return LineError(n, "Script SHA-256 is not 64 lower-case hexadecimal digits", error);
  } else if (key == "Package") {
    if (static_cast<int>(out->packages.size()) >= kUpdMetadataMaxPackages)
      return LineError(n, "more than " + std::to_string(kUpdMetadataMaxPackages) + " Package lines", error);
    if (w.size() != 5 && !(w.size() == 6 && w[5] == "Downgrade"))
      return LineError(n, "Package needs a file name, a product, a length, a SHA-256 and optionally Downgrade", error);
    UpdMetaPackage p{};
    if (DecodeName(w[1], &p.file) != 0 || p.file == "." || p.file == ".." || p.file.find('/') != std::string::npos ||
        p.file.find('\\') != std::string::npos)
      return LineError(n, "Package file name is not a file name", error);
    if (DecodeName(w[2], &p.product) != 0) return LineError(n, "Package product is not a name", error);
    if (ParseDecimal(w[3], kUpdMetadataMaxLength, &v) != 0 || v == 0)
      return LineError(n, "Package length is not a number from 1 to " + std::to_string(kUpdMetadataMaxLength), error);
    p.length = static_cast<int64_t>(v);
    if (ParseHexDigest(w[4], &p.sha256) != 0)
      return LineError(n, "Package SHA-256 is not 64 lower-case hexadecimal digits", error);
    p.downgrade = w.size() == 6;
    if (UpdMetadataPackage(*out, p.file)) return LineError(n, "duplicate Package " + w[1], error);
    out->packages.push_back(p);
  } else {
    return LineError(n, "unknown field: " + key.substr(0, 40), error);
  }
  return 0;
}

}  // namespace

int UpdParseScriptMetadata(const std::string& text, UpdScriptMetadata* out, std::string* error) {
  *out = UpdScriptMetadata();
  if (text.empty()) {
    *error = "empty";
    return -1;
  }
  if (static_cast<int64_t>(text.size()) > kUpdMetadataMaxBytes) {
    *error = "larger than " + std::to_string(kUpdMetadataMaxBytes) + " bytes";
    return -1;
  }
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c != '\n' && (c < 0x20 || c > 0x7E)) {
      *error = "not text: byte " + std::to_string(c) + " at offset " + std::to_string(i);
      return -1;
    }
  }
  if (text.back() != '\n') {
    *error = "truncated: the last line has no line end";
    return -1;
  }
  MetaRead seen;
  size_t start = 0;
  int n = 0;
  bool signed_seen = false;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    std::string line = text.substr(start, end - start);
    ++n;
    if (static_cast<int>(line.size()) > kUpdMetadataMaxLine)
      return LineError(n, "longer than " + std::to_string(kUpdMetadataMaxLine) + " characters", error);
    if (n == 1) {
      if (line.rfind("TQUpdate-Script-Metadata ", 0) != 0) return LineError(n, "not script metadata", error);
      if (line != kUpdMetadataHeader) return LineError(n, "unsupported version: " + line.substr(25, 20), error);
    } else if (line.rfind("Signature ", 0) == 0 || line == "Signature") {
      if (end + 1 != text.size()) return LineError(n, "Signature is not the last line", error);
      out->body = text.substr(0, start);
      if (UpdBase64Strict(line.substr(line.size() > 10 ? 10 : line.size()), &out->signature) != 0 ||
          out->signature.empty())
        return LineError(n, "Signature is not Base64", error);
      signed_seen = true;
    } else if (ApplyField(Words(line), n, &seen, out, error) != 0) {
      return -1;
    }
    start = end + 1;
  }
  const char* missing = !seen.serial ? "Serial" : !seen.expires ? "Expires" : !seen.script ? "Script"
                        : !signed_seen ? "Signature" : nullptr;
  if (missing) {
    *error = std::string("missing ") + missing;
    return -1;
  }
  return 0;
}

std::string UpdScriptMetadataBody(const UpdScriptMetadata& meta) {
  std::string body = std::string(kUpdMetadataHeader) + "\n";
  body += "Serial " + std::to_string(meta.serial) + "\n";
  body += "Expires " + UpdUtcTimeText(meta.expires) + "\n";
  body += "Script " + std::to_string(meta.script_length) + " " + UpdDigestHex(meta.script_sha256) + "\n";
  for (const UpdMetaPackage& p : meta.packages) {
    body += "Package " + EncodeName(p.file) + " " + EncodeName(p.product) + " " + std::to_string(p.length) + " " +
            UpdDigestHex(p.sha256) + (p.downgrade ? " Downgrade" : "") + "\n";
  }
  return body;
}

std::string UpdScriptMetadataText(const std::string& body, const std::vector<unsigned char>& signature) {
  return body + "Signature " + UpdBase64(signature) + "\n";
}

const UpdMetaPackage* UpdMetadataPackage(const UpdScriptMetadata& meta, const std::string& file) {
  for (const UpdMetaPackage& p : meta.packages)
    if (p.file == file) return &p;
  return nullptr;
}

int UpdParseSerial(const std::string& text, uint64_t* out) {
  uint64_t v = 0;
  if (ParseDecimal(text, UINT64_MAX, &v) != 0 || v == 0) return -1;
  *out = v;
  return 0;
}

int UpdParseUtcTime(const std::string& text, int64_t* out) {
  // YYYY-MM-DDTHH:MM:SSZ
  static const char kForm[] = "dddd-dd-ddTdd:dd:ddZ";
  if (text.size() != sizeof kForm - 1) return -1;
  for (size_t i = 0; i < text.size(); ++i) {
    if (kForm[i] == 'd' ? (text[i] < '0' || text[i] > '9') : text[i] != kForm[i]) return -1;
  }
  auto num = [&](size_t at, size_t len) { return std::stoi(text.substr(at, len)); };
  int y = num(0, 4), mo = num(5, 2), d = num(8, 2), h = num(11, 2), mi = num(14, 2), s = num(17, 2);
  if (y < 1970 || mo < 1 || mo > 12 || d < 1 || d > MonthDays(y, mo) || h > 23 || mi > 59 || s > 59) return -1;
  *out = DaysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s;
  return 0;
}

std::string UpdUtcTimeText(int64_t seconds) {
  if (seconds < 0) seconds = 0;
  int64_t days = seconds / 86400;
  int64_t rem = seconds % 86400;
  // Civil date of a day count (the inverse of DaysFromCivil).
  int64_t z = days + 719468;
  int64_t era = z / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t y = yoe + era * 400;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int64_t d = doy - (153 * mp + 2) / 5 + 1;
  int64_t m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
  char buf[128];
  std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", static_cast<long long>(y),
                static_cast<long long>(m), static_cast<long long>(d), static_cast<long long>(rem / 3600),
                static_cast<long long>(rem / 60 % 60), static_cast<long long>(rem % 60));
  return buf;
}

std::string UpdDigestHex(const UpdSha256Digest& digest) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : digest) {
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out;
}

int UpdBase64Strict(const std::string& text, std::vector<unsigned char>* out) {
  out->clear();
  if (text.size() % 4 != 0) return -1;
  for (size_t i = 0; i < text.size(); i += 4) {
    bool last = i + 4 == text.size();
    int v[4];
    int pad = 0;
    for (int k = 0; k < 4; ++k) {
      char c = text[i + k];
      if (c == '=' && last && k >= 2) {
        v[k] = 0;
        ++pad;
        continue;
      }
      if (pad) return -1;  // a character after padding
      v[k] = B64Value(c);
      if (v[k] < 0) return -1;
    }
    uint32_t bits = (static_cast<uint32_t>(v[0]) << 18) | (static_cast<uint32_t>(v[1]) << 12) |
                    (static_cast<uint32_t>(v[2]) << 6) | static_cast<uint32_t>(v[3]);
    if ((pad == 2 && (bits & 0xFFFF)) || (pad == 1 && (bits & 0xFF))) return -1;  // unused bits set
    out->push_back(static_cast<unsigned char>(bits >> 16));
    if (pad < 2) out->push_back(static_cast<unsigned char>(bits >> 8));
    if (pad < 1) out->push_back(static_cast<unsigned char>(bits));
  }
  return 0;
}

std::string UpdBase64(const std::vector<unsigned char>& data) {
  std::string out;
  for (size_t i = 0; i < data.size(); i += 3) {
    uint32_t n = static_cast<uint32_t>(data[i]) << 16;
    if (i + 1 < data.size()) n |= static_cast<uint32_t>(data[i + 1]) << 8;
    if (i + 2 < data.size()) n |= data[i + 2];
    out += kB64[(n >> 18) & 63];
    out += kB64[(n >> 12) & 63];
    out += i + 1 < data.size() ? kB64[(n >> 6) & 63] : '=';
    out += i + 2 < data.size() ? kB64[n & 63] : '=';
  }
  return out;
}

std::string UpdScriptMetadataName(const std::string& script) {
  size_t part = script.find_last_of("/\\");
  part = part == std::string::npos ? 0 : part + 1;
  size_t dot = script.rfind('.');
  if (dot == std::string::npos || dot <= part || script.compare(dot, std::string::npos, ".sig") == 0)
    return script + ".sig";
  return script.substr(0, dot) + ".sig";
}
