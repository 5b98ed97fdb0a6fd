// The installer's property string parser. Portable.
#include "platform/installer/property_string.h"

namespace {

// True for the characters that separate pairs.
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// True for a character that may start a property name.
bool IsNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }

// True for a character that may go on a property name.
bool IsNameChar(char c) { return IsNameStart(c) || (c >= '0' && c <= '9') || c == '.'; }

// Stores a pair, replacing an earlier value of the same name.
void Put(std::vector<MsiProperty>* out, std::string name, std::string value) {
  for (MsiProperty& p : *out) {
    if (p.name == name) {
      p.value = std::move(value);
      return;
    }
  }
  out->push_back({std::move(name), std::move(value)});
}

}  // namespace

int MsiParsePropertyString(std::string_view text, std::vector<MsiProperty>* out) {
  out->clear();
  if (text.size() > kMsiMaxPropertyString) return -1;
  size_t i = 0;
  const size_t n = text.size();
  while (true) {
    while (i < n && IsBlank(text[i])) i++;
    if (i == n) return 0;
    if (!IsNameStart(text[i])) break;
    size_t start = i;
    while (i < n && IsNameChar(text[i])) i++;
    std::string name(text.substr(start, i - start));
    if (i == n || text[i] != '=') break;
    i++;
    std::string value;
    if (i < n && text[i] == '"') {
      i++;
      bool closed = false;
      while (i < n) {
        if (text[i] == '"') {
          if (i + 1 < n && text[i + 1] == '"') {
            value += '"';
            i += 2;
            continue;
          }
          i++;
          closed = true;
          break;
        }
        value += text[i++];
      }
      if (!closed || (i < n && !IsBlank(text[i]))) break;
    } else {
      while (i < n && !IsBlank(text[i])) {
        if (text[i] == '"') {
          out->clear();
          return -1;
        }
        value += text[i++];
      }
    }
    Put(out, std::move(name), std::move(value));
  }
  out->clear();
  return -1;
}

std::string MsiFormatPropertyString(const std::vector<MsiProperty>& props) {
  std::string s;
  for (const MsiProperty& p : props) {
    if (!s.empty()) s += ' ';
    s += p.name;
    s += "=\"";
    for (char c : p.value) {
      if (c == '"') s += '"';
      s += c;
    }
    s += '"';
  }
  return s;
}
