// The logical-line reader of the toolkit's small text files (the client
// preferences and the font definition files).
//
// The input is bytes. Physical lines end at LF; CR bytes before the LF are
// dropped. On each physical line:
//  - a NUL byte ends the line's text: the rest of that physical line is
//    ignored, as if it were a comment;
//  - "#" starts a comment, by the reader's comment rule: anywhere on the
//    line (to its end), or only as the line's first byte (the whole line);
//  - a line with nothing but blanks and tabs left is empty and skipped (it
//    neither ends nor continues a logical line);
//  - a line whose first byte is a blank or a tab continues the previous
//    logical line: the two are joined with one LF, the continuation keeping
//    its leading blanks; with no previous line it starts one.
// Other bytes pass unchanged, whatever their value.
//
// A logical line longer than kRVTextLineMax bytes (joins included, comments
// not counted) is dropped whole, continuations and all, never handed on cut
// short; the reader counts such lines. Memory stays within a few times that
// bound whatever the input.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

// Where "#" starts a comment.
enum RVCommentRule {
  RV_COMMENT_ANYWHERE = 0,   // "#" anywhere starts a comment to the end of the line
  RV_COMMENT_LINE_START = 1, // only a "#" as a line's first byte, making the line a comment
};

// Longest logical line handed on, in bytes.
constexpr size_t kRVTextLineMax = 8191;

// Receives one logical line: `length` bytes, NUL-terminated, no NUL inside,
// never empty. The callee may change the bytes in place (not beyond
// `length`); they are valid only during the call.
typedef void (*RVTextLineFn)(char* line, size_t length, void* context);

// The state of one reading. Set up by RVTextLinesBegin; the fields are the
// reader's own.
struct RVTextLines {
  RVCommentRule rule;   // comment rule
  RVTextLineFn fn;      // receives each logical line
  void* context;        // handed to fn
  std::string physical; // kept bytes of the current physical line
  bool line_started;    // some byte of the current physical line was fed
  bool skipping;        // the rest of the physical line is ignored (comment, NUL)
  bool physical_long;   // the physical line has more kept bytes than fit
  bool physical_text;   // the physical line has a byte other than blank, tab, CR
  std::string logical;  // the logical line being gathered
  bool have_logical;    // `logical` holds a line not yet handed on
  bool logical_long;    // the logical line is over the limit: it is dropped
  size_t dropped;       // logical lines dropped for length
};

// Starts a reading with `rule`, handing each logical line to `fn`.
void RVTextLinesBegin(RVTextLines* reader, RVCommentRule rule, RVTextLineFn fn, void* context);

// Feeds the next `length` bytes of the input (any split of the input into
// pieces gives the same lines).
void RVTextLinesFeed(RVTextLines* reader, const char* data, size_t length);

// Ends the input: hands on the last logical line. Returns the number of
// logical lines dropped for length.
size_t RVTextLinesEnd(RVTextLines* reader);

// Reads a text in memory; returns the number of lines dropped for length.
size_t RVReadTextLines(const char* text, size_t length, RVCommentRule rule, RVTextLineFn fn, void* context);

// Reads an open stream to its end (the caller opens and closes it). The
// number of lines dropped for length, or -1 when reading failed (the lines
// before the failure were handed on).
long RVReadTextStream(std::FILE* stream, RVCommentRule rule, RVTextLineFn fn, void* context);

// 1 when `a` and `b` are equal bytes apart from the case of ASCII letters;
// null equals nothing.
int RVTextEqualNoCase(const char* a, const char* b);

// 1 when `text` begins with `prefix` apart from the case of ASCII letters.
int RVTextStartsNoCase(const char* text, const char* prefix);
