// Statement files: the line syntax shared by the configuration file and the
// update script.
#include "engine/statement_file.h"

#include <cstring>

#include "platform/file.h"
#include "runtime/log_text.h"
#include "runtime/message.h"
#include "runtime/util.h"

namespace {

bool IsBlank(int c) { return c == ' ' || c == '\t'; }

bool IsLineSpace(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Starts a reader on no input.
void Reset(UpdStmtReader* reader, int max_tokens) {
  std::memset(reader, 0, sizeof *reader);
  reader->pushback = -1;
  if (max_tokens < 1) max_tokens = 1;
  if (max_tokens > kUpdStmtTokensMax) max_tokens = kUpdStmtTokensMax;
  reader->max_tokens = max_tokens;
}

// The next byte (0-255), or EOF at the end or after a read error.
int GetByte(UpdStmtReader* reader) {
  if (reader->pushback >= 0) {
    int c = reader->pushback;
    reader->pushback = -1;
    return c;
  }
  if (reader->stream) {
    int c = std::getc(reader->stream);
    if (c == EOF && std::ferror(reader->stream)) reader->read_error = 1;
    return c;
  }
  if (reader->data && reader->pos < reader->size) return static_cast<unsigned char>(reader->data[reader->pos++]);
  return EOF;
}

// Consumes the rest of the current physical line, its line end included.
void SkipLine(UpdStmtReader* reader) {
  int c;
  do c = GetByte(reader);
  while (c != EOF && c != '\n');
}

// Reads the next piece of a physical line (at most kUpdStmtPieceMax bytes,
// comment and line end excluded) into `piece`. 1, or 0 at the end of input.
int ReadPiece(UpdStmtReader* reader, char* piece, size_t* length) {
  if (!reader->line_open) {
    int first = GetByte(reader);
    if (first == EOF) return 0;
    reader->line++;
    reader->line_pieces = 0;
    reader->line_indented = IsBlank(first);
    reader->pushback = first;
  }
  size_t len = 0;
  for (;;) {
    int c = GetByte(reader);
    if (c == EOF || c == '\n') {
      reader->line_open = 0;
      break;
    }
    if (c == '#' || c == '\0') {
      // A comment (or the rest after a NUL byte) runs to the line end.
      SkipLine(reader);
      reader->line_open = 0;
      break;
    }
    if (len == kUpdStmtPieceMax) {
      reader->pushback = c;
      reader->line_open = 1;
      break;
    }
    piece[len++] = static_cast<char>(c);
  }
  piece[len] = '\0';
  *length = len;
  return 1;
}

// 1 when the first word of `text` (up to a blank or tab) is `key`, without
// regard to case.
int FirstWordIs(const char* text, const char* key) {
  char word[kUpdStmtPieceMax + 1];
  size_t n = std::strcspn(text, " \t");
  std::memcpy(word, text, n);
  word[n] = '\0';
  return UpdStmtKeyIs(word, key);
}

// The secret mark of the statement just taken from the current line.
int SecretMark(const UpdStmtReader* reader) {
  if (!reader->line_secret) return 0;
  return reader->line_pieces > 1 ? 2 : 1;
}

}  // namespace

int UpdStmtOpen(UpdStmtReader* reader, const char* path, int max_tokens) {
  Reset(reader, max_tokens);
  if (!path) return -1;
  reader->stream = PlatFileOpen(path, "r");
  return reader->stream ? 0 : -1;
}

void UpdStmtOpenText(UpdStmtReader* reader, const char* data, size_t size, int max_tokens) {
  Reset(reader, max_tokens);
  reader->data = data;
  reader->size = data ? size : 0;
}

int UpdStmtNext(UpdStmtReader* reader, UpdStmt* stmt) {
  char piece[kUpdStmtPieceMax + 1];
  size_t len = 0;
  while (ReadPiece(reader, piece, &len)) {
    while (len > 0 && IsLineSpace(static_cast<unsigned char>(piece[len - 1]))) piece[--len] = '\0';
    size_t lead = 0;
    while (lead < len && IsBlank(piece[lead])) ++lead;
    if (lead == len) continue;
    const char* text = piece + lead;
    len -= lead;

    // The first statement of a line that does not begin with a blank or tab
    // starts a group; everything else continues the current one.
    bool new_group = (reader->line_pieces == 0 && !reader->line_indented) || reader->group == 0;
    if (reader->line_pieces == 0) reader->line_secret = reader->secret_key && FirstWordIs(text, reader->secret_key);
    reader->line_pieces++;
    if (new_group) {
      reader->group++;
      reader->group_count = 0;
      reader->group_chars = 0;
      reader->group_full = 0;
      reader->group_skip = 0;
    }
    if (reader->group_skip || reader->group_full) continue;
    size_t need = len + (reader->group_count > 0 ? 1 : 0);
    if (reader->group_count >= kUpdStmtGroupMax || reader->group_chars + need > kUpdStmtGroupChars) {
      reader->group_full = 1;
      UpdStmt dropped;
      dropped.secret = SecretMark(reader);
      std::memcpy(dropped.text, text, len + 1);
      char shown[kUpdStmtShownSize];
      UpdMessage(8, "Statement Group Too Long - %s ignored", UpdStmtShown(&dropped, shown));
      continue;
    }
    reader->group_count++;
    reader->group_chars += need;

    stmt->line = reader->line;
    stmt->group = reader->group;
    stmt->secret = SecretMark(reader);
    stmt->index = reader->group_count - 1;
    std::memcpy(stmt->text, text, len + 1);
    std::memcpy(stmt->buffer, text, len + 1);
    stmt->count = RVTokenize(stmt->buffer, stmt->tokens, reader->max_tokens + 1, " \t");
    return 1;
  }
  return 0;
}

const char* UpdStmtShown(const UpdStmt* stmt, char* out) {
  if (stmt->secret == 1) {
    size_t n = std::strcspn(stmt->text, " \t");
    RVEscapeText(stmt->text, n, n, out, kUpdStmtShownSize - 9);
    std::strcat(out, " ********");
  } else if (stmt->secret) {
    std::strcpy(out, "********");
  } else {
    RVEscapeText(stmt->text, std::strlen(stmt->text), kUpdStmtPieceMax, out, kUpdStmtShownSize);
  }
  return out;
}

void UpdStmtSkipGroup(UpdStmtReader* reader) { reader->group_skip = 1; }

void UpdStmtClose(UpdStmtReader* reader) {
  if (reader->stream) std::fclose(reader->stream);
  reader->stream = nullptr;
}

int UpdStmtKeyIs(const char* token, const char* key) {
  if (!token || !key) return 0;
  for (;; ++token, ++key) {
    unsigned char a = static_cast<unsigned char>(*token);
    unsigned char b = static_cast<unsigned char>(*key);
    if (a >= 'A' && a <= 'Z') a = static_cast<unsigned char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<unsigned char>(b - 'A' + 'a');
    if (a != b) return 0;
    if (!a) return 1;
  }
}
