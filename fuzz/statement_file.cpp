// Fuzzes the statement reader: the first byte picks the tokens per statement
// (1-3) and which statements skip the rest of their group; the rest is the
// file. No input may crash it, read or write past its buffers, or break the
// limits it promises (pieces of 1,023 characters, 29 statements and 8,197
// characters per group, the token count).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "engine/statement_file.h"
#include "fuzz/support/relocated_system.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::Relocate();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  int max_tokens = 1 + data[0] % 3;
  unsigned skip_mask = data[0] >> 2;
  UpdStmtReader reader;
  UpdStmtOpenText(&reader, reinterpret_cast<const char*>(data + 1), size - 1, max_tokens);
  UpdStmt stmt;
  int group = 0;
  int in_group = 0;
  size_t group_chars = 0;
  int n = 0;
  while (UpdStmtNext(&reader, &stmt)) {
    size_t len = std::strlen(stmt.text);
    if (len == 0 || len > kUpdStmtPieceMax) __builtin_trap();
    if (stmt.count < 1 || stmt.count > max_tokens || stmt.tokens[stmt.count] != nullptr) __builtin_trap();
    for (int i = 0; i < stmt.count; ++i) {
      const char* t = stmt.tokens[i];
      if (t < stmt.buffer || t > stmt.buffer + len || t + std::strlen(t) > stmt.buffer + len) __builtin_trap();
    }
    if (stmt.group < group) __builtin_trap();
    if (stmt.group != group) {
      group = stmt.group;
      in_group = 0;
      group_chars = 0;
    }
    group_chars += len + (in_group > 0 ? 1 : 0);
    if (stmt.index != in_group || ++in_group > kUpdStmtGroupMax || group_chars > kUpdStmtGroupChars)
      __builtin_trap();
    if (skip_mask & (1u << (n++ % 6))) UpdStmtSkipGroup(&reader);
  }
  UpdStmtClose(&reader);
  return 0;
}
