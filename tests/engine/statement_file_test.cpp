// Statement files: comments (also inside quotes and across the pieces of a
// long line), continuation groups, quoting, the token limit of each reader,
// the 1,023-character pieces, the 29-statement and 8,197-character group
// limits, group skipping, binary bytes, and files that cannot be read.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "engine/statement_file.h"
#include "tests/engine/engine_test_util.h"

namespace {

// Every statement of `text` as "g<group>:[tok][tok]...".
std::vector<std::string> Statements(const std::string& text, int max_tokens) {
  UpdStmtReader reader;
  UpdStmtOpenText(&reader, text.data(), text.size(), max_tokens);
  std::vector<std::string> out;
  UpdStmt stmt;
  while (UpdStmtNext(&reader, &stmt)) {
    std::string s = "g" + std::to_string(stmt.group) + ":";
    for (int i = 0; i < stmt.count; ++i) s += "[" + std::string(stmt.tokens[i]) + "]";
    EXPECT_EQ(stmt.tokens[stmt.count], nullptr);
    out.push_back(s);
  }
  return out;
}

using Lines = std::vector<std::string>;

TEST(StatementFile, LineSyntaxTable) {
  struct Case {
    std::string text;
    int max_tokens;
    Lines expected;
  } cases[] = {
      {"", 3, {}},
      {"Protocol http\n", 3, {"g1:[Protocol][http]"}},
      {"Protocol http", 3, {"g1:[Protocol][http]"}},
      {"Protocol http\r\nServer host\r\n", 3, {"g1:[Protocol][http]", "g2:[Server][host]"}},
      {"Protocol\thttp  \t \n", 3, {"g1:[Protocol][http]"}},
      // Comments: the rest of the line, also inside quotes.
      {"Protocol http # the transport\n", 3, {"g1:[Protocol][http]"}},
      {"Script /upd/a#b\n", 3, {"g1:[Script][/upd/a]"}},
      {"Script \"/upd/a#b\"\n", 3, {"g1:[Script][/upd/a]"}},
      {"# only a comment\n   # indented comment\n\n\t\n", 3, {}},
      {"#\nServer x\n", 3, {"g1:[Server][x]"}},
      // Groups: indented lines continue, empty and comment lines do not end one.
      {"Update\n  Name a\n\n# note\n\tDesc d\nUpdate\n Name b\n", 2,
       {"g1:[Update]", "g1:[Name][a]", "g1:[Desc][d]", "g2:[Update]", "g2:[Name][b]"}},
      {"   Protocol http\nServer x\n", 3, {"g1:[Protocol][http]", "g2:[Server][x]"}},
      // Quotes.
      {"Desc 'Update service'\n", 2, {"g1:[Desc][Update service]"}},
      {"Script \"/upd/my script.txt\" extra\n", 3, {"g1:[Script][/upd/my script.txt][extra]"}},
      {"Key a\"b c\"d e\n", 3, {"g1:[Key][a\"b c\"d][e]"}},
      {"Key a\"b c\"d e\n", 2, {"g1:[Key][a\"b c\"d]"}},
      {"Script \"abc def\n", 3, {"g1:[Script][abc def]"}},
      {"Server 'h\n", 3, {"g1:[Server][h]"}},
      {"Script \"\"\n", 3, {"g1:[Script][]"}},
      {"\"\"\n", 3, {"g1:[]"}},
      // Token limits: further words are ignored.
      {"Env A B C D\n", 3, {"g1:[Env][A][B]"}},
      {"Env A B C D\n", 2, {"g1:[Env][A]"}},
      {"Env A B C D\n", 1, {"g1:[Env]"}},
      {"Env A B C D\n", 9, {"g1:[Env][A][B]"}},
      // A NUL byte ends its line's text; other bytes are text.
      {std::string("Protocol http\0junk more\nServer x\n", 33), 3, {"g1:[Protocol][http]", "g2:[Server][x]"}},
      {"\xff\xfe key\x01 v\x80\n", 3, {"g1:[\xff\xfe][key\x01][v\x80]"}},
      {std::string("\0\n\0\0\n", 5), 3, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(Statements(c.text, c.max_tokens), c.expected) << c.text;
}

// Physical lines are read in pieces of 1,023 characters, each a statement of
// its own in the group of its line; a comment runs to the end of the line.
TEST(StatementFile, LongLinesAreReadInPieces) {
  std::string a1023(1023, 'a');
  std::string b(1500, 'b');
  struct Case {
    std::string text;
    Lines expected;
  } cases[] = {
      {a1023 + "\nNext x\n", {"g1:[" + a1023 + "]", "g2:[Next][x]"}},
      {a1023 + "\r\nNext x\n", {"g1:[" + a1023 + "]", "g2:[Next][x]"}},
      {a1023 + "z\nNext x\n", {"g1:[" + a1023 + "]", "g1:[z]", "g2:[Next][x]"}},
      {"K " + b + "\n", {"g1:[K][" + b.substr(0, 1021) + "]", "g1:[" + b.substr(1021) + "]"}},
      // "#" in the second piece cuts that piece.
      {"K " + b + "#" + std::string(2000, 'c') + "\nN y\n",
       {"g1:[K][" + b.substr(0, 1021) + "]", "g1:[" + b.substr(1021) + "]", "g2:[N][y]"}},
      // A comment in the first piece takes the whole line.
      {"K v #" + std::string(5000, 'c') + "\nN y\n", {"g1:[K][v]", "g2:[N][y]"}},
      {"#" + std::string(5000, 'c') + "\nN y\n", {"g1:[N][y]"}},
      // Pieces of an indented line stay in the group before it.
      {"Update\n " + std::string(1023, 'x') + "yy\n", {"g1:[Update]", "g1:[" + std::string(1022, 'x') + "]", "g1:[xyy]"}},
      // A piece of blanks only gives nothing; the next piece continues.
      {std::string(1023, ' ') + "Key v\nN y\n", {"g1:[Key][v]", "g2:[N][y]"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Statements(c.text, 3), c.expected) << c.text.substr(0, 60);
}

// A "Schedule" value of 2,000 characters: the first piece keeps the key and
// the start of the value; the rest of the line is a one-token statement.
TEST(StatementFile, LongValueSplitsIntoStatements) {
  std::string value = "StartTime=4am,";
  while (value.size() < 2000) value += "Interval=1H,";
  std::string line = "Schedule " + value;
  UpdStmtReader reader;
  UpdStmtOpenText(&reader, line.data(), line.size(), 3);
  UpdStmt stmt;
  ASSERT_EQ(UpdStmtNext(&reader, &stmt), 1);
  EXPECT_EQ(stmt.count, 2);
  EXPECT_EQ(std::string(stmt.tokens[1]), value.substr(0, kUpdStmtPieceMax - 9));
  EXPECT_EQ(std::string(stmt.text), line.substr(0, kUpdStmtPieceMax));
  ASSERT_EQ(UpdStmtNext(&reader, &stmt), 1);
  EXPECT_EQ(stmt.count, 1);
  EXPECT_EQ(std::string(stmt.text), line.substr(kUpdStmtPieceMax));
  EXPECT_EQ(stmt.line, 1);
  EXPECT_EQ(UpdStmtNext(&reader, &stmt), 0);
}

// A group keeps 29 statements and 8,197 characters (statements joined by one
// separator); the first statement past a limit and the rest of its group are
// dropped with one message; the next group is whole again.
TEST(StatementFile, GroupLimits) {
  EngineSystem env;
  auto group = [](const std::vector<std::string>& lines) {
    std::string text = "Head h\n";
    for (const std::string& l : lines) text += "  " + l + "\n";
    return text + "Next n\n";
  };
  auto numbered = [](int n) {
    std::vector<std::string> lines;
    for (int i = 2; i <= n; ++i) lines.push_back("S" + std::to_string(i) + " v");
    return lines;
  };
  std::string k1000 = "K " + std::string(998, 'x');
  struct Case {
    const char* name;
    std::vector<std::string> lines; // continuation lines after "Head h"
    int kept;                       // statements of the first group returned
    std::string dropped;            // the message, or empty
  } cases[] = {
      {"29 statements", numbered(29), 29, ""},
      {"30 statements", numbered(30), 29, "Statement Group Too Long - S30 v ignored"},
      {"40 statements", numbered(40), 29, "Statement Group Too Long - S30 v ignored"},
      // "Head h" (6) + 8 x 1,000 + 182 + 9 separators = 8,197.
      {"8,197 characters", {k1000, k1000, k1000, k1000, k1000, k1000, k1000, k1000, "L " + std::string(180, 'y')},
       10, ""},
      {"8,198 characters", {k1000, k1000, k1000, k1000, k1000, k1000, k1000, k1000, "L " + std::string(181, 'y')},
       9, "Statement Group Too Long - L " + std::string(181, 'y') + " ignored"},
      {"8,000-character group",
       {k1000, k1000, k1000, k1000, k1000, k1000, k1000, "L " + std::string(980, 'y')}, 9, ""},
      {"cut in the middle",
       {k1000, k1000, k1000, k1000, k1000, k1000, k1000, k1000, k1000, "Small s"}, 9,
       Clipped("Statement Group Too Long - " + k1000 + " ignored")},
  };
  for (const Case& c : cases) {
    std::string text = group(c.lines);
    UpdStmtReader reader;
    UpdStmtOpenText(&reader, text.data(), text.size(), 3);
    UpdStmt stmt;
    int first = 0;
    std::string last_group_text;
    while (UpdStmtNext(&reader, &stmt)) {
      if (stmt.group == 1) {
        EXPECT_EQ(stmt.index, first) << c.name;
        ++first;
      } else {
        last_group_text = stmt.text;
        EXPECT_EQ(stmt.group, 2) << c.name;
      }
    }
    EXPECT_EQ(first, c.kept) << c.name;
    EXPECT_EQ(last_group_text, "Next n") << c.name;
    std::vector<std::string> expected;
    if (!c.dropped.empty()) expected.push_back(c.dropped);
    EXPECT_EQ(env.Texts(), expected) << c.name;
  }
}

// Long physical lines fill a group by their pieces: a 20,000-character line
// keeps 8 pieces (8 x 1,023 + 7 = 8,191) and drops the rest.
TEST(StatementFile, LongLineFillsItsGroup) {
  EngineSystem env;
  std::string text = std::string(20000, 'q') + "\nNext n\n";
  std::vector<std::string> got = Statements(text, 3);
  ASSERT_EQ(got.size(), 9u);
  EXPECT_EQ(got[8], "g2:[Next][n]");
  std::vector<std::string> messages = env.Texts();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], Clipped("Statement Group Too Long - " + std::string(1023, 'q') + " ignored"));
}

// The caller can skip the rest of a group; the next group is read whole.
TEST(StatementFile, SkipGroup) {
  std::string text = "Update\n Name a\n Desc d\n InstallFile f\nUpdate\n Name b\n";
  UpdStmtReader reader;
  UpdStmtOpenText(&reader, text.data(), text.size(), 2);
  UpdStmt stmt;
  std::vector<std::string> got;
  while (UpdStmtNext(&reader, &stmt)) {
    got.push_back(stmt.text);
    if (std::string(stmt.text) == "Name a") UpdStmtSkipGroup(&reader);
  }
  EXPECT_EQ(got, (Lines{"Update", "Name a", "Update", "Name b"}));
}

// Line numbers count physical lines, empty and comment lines included.
TEST(StatementFile, LineNumbers) {
  std::string text = "A 1\n\n# c\n  B 2\n" + std::string(1500, 'x') + "\nC 3\n";
  UpdStmtReader reader;
  UpdStmtOpenText(&reader, text.data(), text.size(), 3);
  UpdStmt stmt;
  std::vector<int> lines;
  while (UpdStmtNext(&reader, &stmt)) lines.push_back(stmt.line);
  EXPECT_EQ(lines, (std::vector<int>{1, 4, 5, 5, 6}));
}

TEST(StatementFile, Files) {
  EngineSystem env;
  env.sys().WriteFile("stmts.txt", "Protocol http\n  Server x\n");
  UpdStmtReader reader;
  ASSERT_EQ(UpdStmtOpen(&reader, env.sys().path("stmts.txt").c_str(), 3), 0);
  UpdStmt stmt;
  std::vector<std::string> got;
  while (UpdStmtNext(&reader, &stmt)) got.push_back(std::to_string(stmt.group) + stmt.text);
  EXPECT_EQ(reader.read_error, 0);
  UpdStmtClose(&reader);
  EXPECT_EQ(got, (Lines{"1Protocol http", "1Server x"}));

  EXPECT_EQ(UpdStmtOpen(&reader, env.sys().path("missing.txt").c_str(), 3), -1);
  UpdStmtClose(&reader);

  // A directory, a symbolic link or a FIFO in the file's place is refused
  // at the open (a FIFO would block the reader).
  ASSERT_EQ(::symlink(env.sys().path("stmts.txt").c_str(), env.sys().path("link.txt").c_str()), 0);
  ASSERT_EQ(::mkfifo(env.sys().path("fifo.txt").c_str(), 0600), 0);
  for (const std::string& p : {env.sys().root(), env.sys().path("link.txt"), env.sys().path("fifo.txt")}) {
    EXPECT_EQ(UpdStmtOpen(&reader, p.c_str(), 3), -1) << p;
    UpdStmtClose(&reader);
  }
}

TEST(StatementFile, KeyComparison) {
  struct Case {
    const char* token;
    const char* key;
    int equal;
  } cases[] = {{"protocol", "Protocol", 1}, {"PROTOCOL", "Protocol", 1}, {"Proto", "Protocol", 0},
               {"Protocols", "Protocol", 0}, {"", "Protocol", 0},        {nullptr, "Protocol", 0},
               {"\xc4", "\xe4", 0},          {"", "", 1}};
  for (const Case& c : cases) EXPECT_EQ(UpdStmtKeyIs(c.token, c.key), c.equal) << (c.token ? c.token : "(null)");
}

}  // namespace
