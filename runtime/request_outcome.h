// The outcome of the last request a worker answered: a small text file
// "<RV_COMMONAPPDATA>/tqupd-outcome.txt" beside the message file, replaced
// whole before the worker sets its complete event, so that tqupdreq, woken
// by the event, can tell an answered request that failed from one that
// succeeded. Lines:
//   Request: install|check
//   Result: Success|Failed
//   Time: <seconds since 1970, when the request was answered>
//   Message: <the failure's message, or the last message of the request>
#pragma once

#include <cstdint>
#include <string>

struct RVRequestOutcome {
  std::string request; // "install" or "check"
  bool failed;         // the request ended in a failure
  int64_t time;        // when it was answered
  std::string message; // one line, at most 1,023 bytes
};

// The outcome file's path, or "" when RV_COMMONAPPDATA is not set.
std::string RVRequestOutcomePath();

// The file's text for an outcome (the message cut at its first line break).
std::string RVFormatRequestOutcome(const RVRequestOutcome& outcome);

// Reads an outcome from the file's text: 0, or -1 when a line is missing
// or malformed.
int RVParseRequestOutcome(const std::string& text, RVRequestOutcome* out);

// Replaces the outcome file with `outcome` (readable by everyone). 0, or -1
// after reporting.
int RVWriteRequestOutcome(const RVRequestOutcome& outcome);

// Reads the outcome file: 0, or -1 when it is missing or malformed.
int RVReadRequestOutcome(RVRequestOutcome* out);
