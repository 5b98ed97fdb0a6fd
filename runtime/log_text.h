// Text from elsewhere (a server's response, update-script lines, digest and
// signature lines, names and paths taken from them) shown in messages: its
// control characters are written as escapes, so that such text can neither
// start a log line of its own nor reach a terminal as a control sequence.
#pragma once

#include <cstddef>

// Bytes of one shown text: a message (1,024 bytes) holds no more.
constexpr size_t kRVShownSize = 1024;

// Bytes a buffer needs for `n` input bytes escaped ("\xNN" each at most)
// and the terminator.
constexpr size_t RVEscapedSize(size_t n) { return 4 * n + 1; }

// One escaped text for one argument of a message.
struct RVShown {
  char text[kRVShownSize]; // the escaped text, always terminated
};

// Writes the first `max` of the `len` bytes of `text` (the cut is made
// before escaping) into `out` (`size` bytes, at least 1) with "\\" for a
// backslash, "\r", "\n" and "\t", and "\xNN" (two lower-case hex digits) for
// every other byte below 0x20, for 0x7f, for every byte of the two-byte
// UTF-8 form of U+0080-U+009F, and for every byte that is not part of a
// well-formed UTF-8 sequence; all other text is copied. Output that does not
// fit ends before the first escape or sequence that would not fit whole.
// `out` is always terminated. Returns the length written.
size_t RVEscapeText(const char* text, size_t len, size_t max, char* out, size_t size);

// Escapes the string `text` (null: "") into `shown` and returns its text,
// for use as a message argument.
const char* RVShowText(RVShown* shown, const char* text);
