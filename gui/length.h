// Lengths of the layouts and the font files: a decimal number with an
// optional unit, converted to screen pixels.
//
// Units (the letter right after the number, blanks between allowed):
//   D or d        dialog units: horizontally a quarter of the horizontal
//                 dialog base unit, vertically an eighth of the vertical one
//   I or i        inches
//   M or m        millimetres
//   P or p, then O, o, T or t
//                 points (1/72 inch)
//   anything else pixels
// Inches, millimetres and points use the screen's resolution in the
// direction of the length. The pixels are floor(value + 0.5); 0 stays 0; a
// negative number is ignored. Results are at most kGUILengthMax.
#pragma once

#include "platform/window.h"

// Largest length in pixels a conversion gives (longer ones are cut to it).
constexpr int kGUILengthMax = 1000000;

// Reads a decimal number at the start of `text` after blanks and tabs: an
// optional sign, digits with an optional "." and fraction (at least one
// digit in all). 1 with *value and *end (just past the number), or 0 with
// neither touched when there is none. Digits beyond what a double keeps
// change nothing; magnitudes are at most 1e12. Pure, locale-free.
int GUIParseDecimal(const char* text, double* value, const char** end);

// Converts the length `text` (horizontal, or vertical when `vertical` is 1)
// with the measures of `screen`: the pixels, 0 or more, or -1 when the text
// is ignored (null, no number, negative). Pure.
int GUILengthPixels(const PlatScreenMeasures* screen, const char* text, int vertical);

// GUILengthPixels with the screen measures last read (GUIScreen()).
int GUILength(const char* text, int vertical);
