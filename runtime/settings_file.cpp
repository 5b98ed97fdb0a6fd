// The settings file line format.
#include "runtime/settings_file.h"

#include <cctype>
#include <cstring>
#include <string>

#include "platform/file.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// Handles one logical line.
void ParseLine(const std::string& line, RVSettingsEntryFn entry) {
  const char* p = line.c_str();
  if (!(std::isalpha(static_cast<unsigned char>(*p)) || *p == '_')) return;
  const char* name_end = p;
  while (IsNameChar(*name_end)) ++name_end;
  std::string name(p, static_cast<size_t>(name_end - p));
  if (*name_end == '\0') {
    entry(name.c_str(), nullptr);
    return;
  }
  if (!IsBlank(*name_end)) return;
  const char* value = name_end;
  while (IsBlank(*value)) ++value;
  entry(name.c_str(), value);
}

}  // namespace

void RVParseSettings(const char* text, size_t length, RVSettingsEntryFn entry) {
  std::string logical;
  bool continuing = false;
  size_t pos = 0;
  while (pos < length) {
    size_t end = pos;
    while (end < length && text[end] != '\n') ++end;
    std::string physical(text + pos, end - pos);
    pos = end < length ? end + 1 : end;
    if (!physical.empty() && physical.back() == '\r') physical.pop_back();
    size_t nul = physical.find('\0');
    if (nul != std::string::npos) physical.resize(nul);
    if (!continuing) logical.clear();
    logical += physical;
    continuing = !logical.empty() && logical.back() == '\\';
    if (continuing) logical.pop_back();
    if (logical.size() > kRVSettingsLineMax) logical.resize(kRVSettingsLineMax);
    if (!continuing) ParseLine(logical, entry);
  }
  if (continuing) ParseLine(logical, entry);
}

int RVReadSettingsFile(const char* path, RVSettingsEntryFn entry) {
  std::string text;
  if (!path || PlatReadFile(path, &text) != 0) return -1;
  RVParseSettings(text.data(), text.size(), entry);
  return 0;
}
