// The test-only trace: with TQ_TEST_TRACE naming a file, texts the tool
// shows (message field, message boxes) are appended to it, one line each,
// so that tests of the real program can read them back.
#pragma once

#include <string>

// Appends `line` and a line feed to the trace file, when one is named.
void GUITestTrace(const std::string& line);
