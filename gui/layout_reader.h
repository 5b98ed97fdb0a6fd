// The layout reader: a layout file (XML, read with expat) becomes a widget
// tree with its key table, menus and tree items (gui/layout.h).
//
// The file is handed to expat as it was read, line by line (at most
// kGUILayoutLineMax bytes at a time), the last piece with the final flag.
// External entities are never loaded. A problem found by a handler is kept
// as the reason text with ", Line: %d, in file: %s" appended (the line of
// the element that raised it); the parse stops before the next line. A
// parse error gives "ParseError at line: %d, in file: %s\n\tXMLError: %s\n".
// Any such problem fails the load, and nothing of the layout is kept.
//
// Three messages are reported at once through RVReportError (the tool's
// message box) and the load goes on: "LVCol without a ListView Parent",
// "Illegal Child Type for ListView: %s" and "Invalid Value: %s for
// "TabCloseButton" - Ignored".
//
// Attribute values: names and the words True, False and the enumerated
// values compare without case; an empty value counts as absent; integers
// and lengths beyond the range of an int are ignored like negative ones.
// An attribute written as an element takes its Value attribute at its start
// and its character data (collected, trimmed of white space at both ends;
// white space alone changes nothing) at its end.
//
// Files nested deeper than kGUILayoutDepthMax elements are refused with
// "Layout nested deeper than %d levels".
#pragma once

#include <cstddef>
#include <memory>

#include "gui/layout.h"

// Most bytes handed to the parser at once (one line of the file).
constexpr size_t kGUILayoutLineMax = 4095;

// Frees a layout (for std::unique_ptr).
struct GUILayoutFree {
  void operator()(GUILayout* layout) const { GUIFreeLayout(layout); }
};
using GUILayoutPtr = std::unique_ptr<GUILayout, GUILayoutFree>;

// Sets the layout directory that names without a directory are looked up
// in (default "."); GUILayoutDir gives it.
void GUISetLayoutDir(const char* dir);
const char* GUILayoutDir();

// The path a layout name stands for: the name itself when it begins with
// "/" or "\", or has more than two characters with ":" second; else the
// layout directory, "/" and the name.
std::string GUILayoutPath(const char* name);

// Loads the layout file `name` (through GUILayoutPath) and completes it:
// the key array (newest key first, unnamed keys named by their Key text),
// the menu-item array with accelerators bound, default names "%s_%d" (kind
// name and sequence number), traversal ring and tab groups. The layout, or
// null with the reason in GUILayoutReason(). Not for two threads at once.
GUILayout* GUILoadLayout(const char* name);

// Loads a layout from `length` bytes of text as if read from the file
// `path` (tests and the fuzzer; GUILoadLayout uses the same reader).
GUILayout* GUILoadLayoutText(const char* text, size_t length, const char* path);

// The reason text of the last failed load (the last message kept).
const char* GUILayoutReason();
