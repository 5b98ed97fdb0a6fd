// The installer's property string: "NAME=VALUE NAME=\"A B\" ..." as passed to
// MsiInstallProductA. Portable.
//
// Pairs are separated by blanks (spaces and tabs). A name starts with a
// letter or '_' and goes on with letters, digits, '_' and '.'. A value is
// either a run of characters other than blanks and '"', or a text in double
// quotes in which '""' stands for one '"'; a value may be empty ("NAME=" or
// NAME=""). A quoted value must be followed by a blank or the end. Anything
// else, or a string longer than kMsiMaxPropertyString characters, is
// malformed. A name given twice keeps its last value.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Longest property string accepted (the longest command line of the system
// the installer stands in for).
constexpr size_t kMsiMaxPropertyString = 32767;

// One NAME=VALUE pair of a property string.
struct MsiProperty {
  std::string name;  // property name, case kept (properties are case-sensitive)
  std::string value; // value with quotes removed and '""' turned into '"'
};

// Parses `text` into `*out` (in order, a repeated name replacing the earlier
// value in place). 0, or -1 when the string is malformed (*out then empty).
int MsiParsePropertyString(std::string_view text, std::vector<MsiProperty>* out);

// The property string that MsiParsePropertyString reads back as `props`:
// every value quoted, '"' doubled.
std::string MsiFormatPropertyString(const std::vector<MsiProperty>& props);
