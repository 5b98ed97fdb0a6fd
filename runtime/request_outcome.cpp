// The outcome file of the last answered request.
#include "runtime/request_outcome.h"

#include <cstdlib>

#include "platform/file.h"
#include "runtime/env.h"
#include "runtime/report.h"

namespace {

constexpr size_t kMessageLimit = 1023; // a message's bytes, as the message file holds them

// The value of the line "<key>: <value>" at `*at`; advances past the line.
bool TakeLine(const std::string& text, size_t* at, const char* key, std::string* value) {
  std::string prefix = std::string(key) + ": ";
  if (text.compare(*at, prefix.size(), prefix) != 0) return false;
  size_t end = text.find('\n', *at);
  if (end == std::string::npos) return false;
  *value = text.substr(*at + prefix.size(), end - *at - prefix.size());
  *at = end + 1;
  return true;
}

}  // namespace

std::string RVRequestOutcomePath() {
  const char* dir = RVGetEnv("RV_COMMONAPPDATA");
  if (!dir || !*dir) return "";
  return std::string(dir) + "/tqupd-outcome.txt";
}

std::string RVFormatRequestOutcome(const RVRequestOutcome& o) {
  std::string message = o.message.substr(0, o.message.find_first_of("\r\n"));
  if (message.size() > kMessageLimit) message.resize(kMessageLimit);
  return "Request: " + o.request + "\nResult: " + (o.failed ? "Failed" : "Success") +
         "\nTime: " + std::to_string(o.time) + "\nMessage: " + message + "\n";
}

int RVParseRequestOutcome(const std::string& text, RVRequestOutcome* out) {
  size_t at = 0;
  std::string request, result, time, message;
  if (!TakeLine(text, &at, "Request", &request) || !TakeLine(text, &at, "Result", &result) ||
      !TakeLine(text, &at, "Time", &time) || !TakeLine(text, &at, "Message", &message) || at != text.size())
    return -1;
  if (request != "install" && request != "check") return -1;
  if (result != "Success" && result != "Failed") return -1;
  if (time.empty() || time.size() > 19 || time.find_first_not_of("0123456789") != std::string::npos) return -1;
  if (message.size() > kMessageLimit) return -1;
  out->request = request;
  out->failed = result == "Failed";
  out->time = std::strtoll(time.c_str(), nullptr, 10);
  out->message = message;
  return 0;
}

int RVWriteRequestOutcome(const RVRequestOutcome& outcome) {
  std::string path = RVRequestOutcomePath();
  if (path.empty()) return -1;
  if (PlatWriteFileAtomic(path.c_str(), RVFormatRequestOutcome(outcome), 0644) != 0) {
    RVReportError("Cannot write the request outcome: %s", path.c_str());
    return -1;
  }
  return 0;
}

int RVReadRequestOutcome(RVRequestOutcome* out) {
  std::string path = RVRequestOutcomePath();
  std::string text;
  if (path.empty() || PlatReadFile(path.c_str(), &text) != 0 || text.size() > 4096) return -1;
  return RVParseRequestOutcome(text, out);
}
