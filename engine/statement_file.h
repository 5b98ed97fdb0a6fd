// Statement files: the line syntax shared by the configuration file and the
// update script.
//
// A file is read one physical line at a time, in pieces of at most 1,023
// characters. A "#" anywhere starts a comment that runs to the end of the
// physical line (also inside quotes, and across the pieces of a long line);
// the comment and the blanks, tabs, CR and LF before it are removed, as are
// the blanks, tabs, CR and LF that end a line and the blanks and tabs that
// begin it. Empty lines are skipped. A line that begins with a blank or a tab
// continues the statement group of the line before it (empty and comment-only
// lines in between do not end a group). Every line, and every further piece
// of a long line, is one statement; the pieces of one line stay in its group.
// A NUL byte ends the text of its line (the rest of that line is ignored).
//
// A group keeps at most 29 statements and at most 8,197 characters, counting
// its statements joined by one separator each. The first statement that
// would go past either limit, and every later statement of the same group,
// is dropped, with "Statement Group Too Long - %s ignored" (level 8, the
// first statement dropped); a statement is never cut.
//
// A reader may name a secret key (the configuration's Password): every
// statement of a physical line that begins with that key is secret, and no
// message shows its text (UpdStmtShown).
//
// A statement is split at blanks and tabs into at most the reader's number of
// tokens (1 to 3; further words are ignored). A token that begins with '"' or
// "'" runs to the matching closing quote, both quotes removed (to the end of
// the statement when there is none); inside an unquoted token, quoted
// stretches keep their blanks and their quotes.
#pragma once

#include <cstddef>
#include <cstdio>

constexpr size_t kUpdStmtPieceMax = 1023;   // characters of a physical line read at a time
constexpr int kUpdStmtGroupMax = 29;        // statements kept per group
constexpr size_t kUpdStmtGroupChars = 8197; // characters kept per group
constexpr int kUpdStmtTokensMax = 3;        // most tokens per statement a reader can ask for

// One statement as read.
struct UpdStmt {
  int line;                              // physical line it came from, from 1
  int group;                             // its statement group, from 1
  int index;                             // its position in the group, from 0
  int count;                             // tokens found, 1 to the reader's maximum
  int secret;                            // its line begins with the reader's secret key: 1 its first piece, 2 a later one; else 0
  char* tokens[kUpdStmtTokensMax + 1];   // the tokens (in `buffer`); tokens[count] = null
  char text[kUpdStmtPieceMax + 1];       // the whole statement, for messages
  char buffer[kUpdStmtPieceMax + 1];     // the statement split into tokens
};

// A statement reader over a file or a text in memory.
struct UpdStmtReader {
  FILE* stream;         // file being read, or null when reading `data`
  const char* data;     // text being read (when stream is null)
  size_t size;          // bytes of `data`
  size_t pos;           // next byte of `data`
  int pushback;         // a byte read ahead and given back, or -1
  int max_tokens;       // tokens per statement, 1 to 3
  int line;             // physical lines begun so far
  int line_pieces;      // statements taken from the current physical line
  int line_indented;    // the current physical line begins with a blank or tab
  int line_open;        // the current physical line has more pieces to read
  int line_comment;     // the rest of the current physical line is a comment
  int group;            // current group number, 0 before the first
  int group_count;      // statements kept in the current group
  size_t group_chars;   // characters used in the current group
  int group_full;       // the current group drops its further statements
  int group_skip;       // the caller asked to skip the rest of the group
  int read_error;       // the file could not be read to its end
  const char* secret_key; // key whose lines are secret, or null (set after opening)
  int line_secret;      // the current physical line begins with the secret key
};

// Opens `path` (shared read) for reading statements of `max_tokens` tokens
// (clamped to 1-3). 0, or -1 when the file cannot be opened (nothing
// reported; the caller reports with its own text).
int UpdStmtOpen(UpdStmtReader* reader, const char* path, int max_tokens);

// Starts reading statements from `size` bytes of `data`, which must stay
// valid while the reader is used.
void UpdStmtOpenText(UpdStmtReader* reader, const char* data, size_t size, int max_tokens);

// Reads the next statement into `stmt`. 1 when one was read, 0 at the end of
// the text (also after a read error, which sets reader->read_error).
int UpdStmtNext(UpdStmtReader* reader, UpdStmt* stmt);

// Bytes of the text UpdStmtShown writes.
constexpr size_t kUpdStmtShownSize = 1024;

// The statement's text as a message may show it, written into `out`
// (kUpdStmtShownSize bytes): a secret statement as its key and "********"
// (only "********" for a later piece of its line), any other with its
// control characters escaped. Returns `out`.
const char* UpdStmtShown(const UpdStmt* stmt, char* out);

// Skips the statements of the current group that are still unread.
void UpdStmtSkipGroup(UpdStmtReader* reader);

// Closes the file, if one is open.
void UpdStmtClose(UpdStmtReader* reader);

// 1 when `token` equals `key` without regard to case (ASCII letters), in
// full; else 0. A null token equals nothing.
int UpdStmtKeyIs(const char* token, const char* key);
