// The message texts of a program log's lines.
#include "tests/support/log_texts.h"

#include <regex>

std::vector<std::string> TqLogTexts(const std::string& log, size_t* consumed, bool join_continuations) {
  static const std::regex head(R"(^\d{4}/\d\d/\d\d \d\d:\d\d:\d\d - \d+ - [^ ]+ - )");
  std::vector<std::string> out;
  size_t start = *consumed < log.size() ? *consumed : log.size();
  while (start < log.size()) {
    size_t nl = log.find('\n', start);
    if (nl == std::string::npos) break;
    std::string line = log.substr(start, nl - start);
    std::smatch m;
    if (std::regex_search(line, m, head)) {
      out.push_back(line.substr(static_cast<size_t>(m.length(0))));
    } else if (join_continuations && !out.empty()) {
      out.back() += "\n" + line;
    } else {
      out.push_back("<torn> " + line);
    }
    start = nl + 1;
  }
  *consumed = start;
  return out;
}

std::vector<std::string> TqTextsStarting(const std::vector<std::string>& texts, const std::string& prefix) {
  std::vector<std::string> out;
  for (const std::string& t : texts)
    if (t.rfind(prefix, 0) == 0) out.push_back(t);
  return out;
}

int TqTextIndex(const std::vector<std::string>& texts, const std::string& text) {
  for (size_t i = 0; i < texts.size(); ++i)
    if (texts[i] == text) return static_cast<int>(i);
  return -1;
}
