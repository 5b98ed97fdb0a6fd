// Reading back what the program log holds: the message texts of its lines.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The message texts of the complete lines of `log` from *consumed on (the
// text after "date time - pid - program - "); *consumed moves past them. A
// line without that prefix is a continuation of the message before it when
// `join_continuations` is set (a message holding line breaks), and is
// otherwise returned as "<torn> " and the line.
std::vector<std::string> TqLogTexts(const std::string& log, size_t* consumed, bool join_continuations);

// The texts of `texts` that start with `prefix`, in order.
std::vector<std::string> TqTextsStarting(const std::vector<std::string>& texts, const std::string& prefix);

// The position of the first text equal to `text`, or -1.
int TqTextIndex(const std::vector<std::string>& texts, const std::string& text);
