// The tool's service operations, run without showing anything: start, stop
// and remove, each followed by up to five status refreshes.
#pragma once

#include <string>

#include "tool/startup.h"

// Refreshes after a service operation, and the time between them.
constexpr int kToolStatusRefreshes = 5;
constexpr unsigned kToolRefreshMs = 500;

// Runs the operations the settings ask for in the fixed order start, stop,
// remove; each result text goes to the message field (ToolSetMessage).
void ToolRunServiceOperations(const ToolStartup* startup);

// Shows a text in the tool's message field. Until the main window exists
// the field is kept in memory; the test-only trace gets it too.
void ToolSetMessage(const std::string& text);

// The message field's text.
const std::string& ToolMessage();
