// The logical-line reader: comments by rule, empty lines, continuations,
// line ends, NUL and binary bytes, overlong lines, pieces and streams.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "runtime/text_lines.h"

namespace {

using Lines = std::vector<std::string>;

void Collect(char* line, size_t length, void* context) {
  std::string got(line, length);
  // The line is terminated and holds no NUL of its own.
  EXPECT_EQ(line[length], '\0');
  EXPECT_EQ(got.find('\0'), std::string::npos);
  EXPECT_FALSE(got.empty());
  static_cast<Lines*>(context)->push_back(got);
}

Lines Read(const std::string& text, RVCommentRule rule, size_t* dropped = nullptr) {
  Lines out;
  size_t d = RVReadTextLines(text.data(), text.size(), rule, Collect, &out);
  if (dropped) *dropped = d;
  return out;
}

// The same text fed one byte at a time.
Lines ReadBytewise(const std::string& text, RVCommentRule rule, size_t* dropped) {
  Lines out;
  RVTextLines reader;
  RVTextLinesBegin(&reader, rule, Collect, &out);
  for (char c : text) RVTextLinesFeed(&reader, &c, 1);
  *dropped = RVTextLinesEnd(&reader);
  return out;
}

constexpr RVCommentRule kAny = RV_COMMENT_ANYWHERE;
constexpr RVCommentRule kStart = RV_COMMENT_LINE_START;

}  // namespace

TEST(TextLines, Cases) {
  const struct {
    const char* name;
    std::string text;
    RVCommentRule rule;
    Lines lines;
  } cases[] = {
      {"plain lines, last without LF", "a 1\nb 2", kAny, {"a 1", "b 2"}},
      {"comment anywhere", "Help On # said so\n# whole\nX y#z\n", kAny, {"Help On ", "X y"}},
      {"comment only at the start", "#c\nFontClass,a#b\n #x\n", kStart, {"FontClass,a#b\n #x"}},
      {"empty and blank lines skipped", "\n\n  \t\na\n\n\t \nb\n", kAny, {"a", "b"}},
      {"continuation joined with LF", "k v,\n\tw\n  x\ny\n", kAny, {"k v,\n\tw\n  x", "y"}},
      {"skipped lines do not end a logical line", "k a,\n# note\n\n b\n", kAny, {"k a,\n b"}},
      {"comment line inside continuation (start rule)", "F,a\n#n\n\tb\n", kStart, {"F,a\n\tb"}},
      {"continuation with nothing before starts a line", "  lead\nnext\n", kAny, {"  lead", "next"}},
      {"CR LF line ends", "a 1\r\nb 2\r\n\r\n c\r\n", kAny, {"a 1", "b 2\n c"}},
      {"CR inside a line stays", "a\rb\n", kAny, {"a\rb"}},
      {"NUL ends the line's text", std::string("key val\0ue\nnext\n", 17), kAny, {"key val", "next"}},
      {"NUL first makes the line empty", std::string("\0junk\nx\n", 8), kStart, {"x"}},
      {"binary bytes pass", "\xff\x80 \x01\x7f\n", kAny, {"\xff\x80 \x01\x7f"}},
      {"comment on a continuation line", "k a,\n b # c\n", kAny, {"k a,\n b "}},
      {"only comments", "# a\n#b\n", kAny, {}},
      {"empty input", "", kAny, {}},
  };
  for (const auto& c : cases) {
    size_t dropped = 1;
    EXPECT_EQ(Read(c.text, c.rule, &dropped), c.lines) << c.name;
    EXPECT_EQ(dropped, 0u) << c.name;
    size_t dropped_bytewise = 1;
    EXPECT_EQ(ReadBytewise(c.text, c.rule, &dropped_bytewise), c.lines) << c.name << " (bytewise)";
    EXPECT_EQ(dropped_bytewise, 0u) << c.name;
  }
}

TEST(TextLines, OverlongLogicalLinesAreDroppedWhole) {
  const std::string at_limit(kRVTextLineMax, 'a');
  const std::string over(kRVTextLineMax + 1, 'b');
  const std::string huge(100000, 'c');
  const struct {
    const char* name;
    std::string text;
    Lines lines;
    size_t dropped;
  } cases[] = {
      {"exactly the limit passes", at_limit + "\n", {at_limit}, 0},
      {"one over is dropped", over + "\nnext\n", {"next"}, 1},
      {"100,000 bytes, no LF at the end", "first\n" + huge, {"first"}, 1},
      {"continuations of a dropped line go with it", huge + "\n more\n\tmore\nafter\n", {"after"}, 1},
      {"joins count: continuation pushing over", at_limit + "\n x\nok\n", {"ok"}, 1},
      {"an overlong continuation drops its line", "head\n " + huge + "\nafter\n", {"after"}, 1},
      {"a long comment does not count", "k v #" + huge + "\n", {"k v "}, 0},
      {"bytes after NUL do not count", "k v" + std::string(1, '\0') + huge + "\n", {"k v"}, 0},
      {"two dropped", over + "\nx\n" + over, {"x"}, 2},
  };
  for (const auto& c : cases) {
    size_t dropped = 0;
    EXPECT_EQ(Read(c.text, kAny, &dropped), c.lines) << c.name;
    EXPECT_EQ(dropped, c.dropped) << c.name;
  }
}

TEST(TextLines, StreamGivesTheSameLinesAsMemory) {
  std::string text = "a 1\n\tb\n# c\n" + std::string(20000, 'x') + "\nlast";
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fwrite(text.data(), 1, text.size(), f), text.size());
  std::rewind(f);
  Lines from_stream;
  long dropped = RVReadTextStream(f, kAny, Collect, &from_stream);
  std::fclose(f);
  size_t dropped_memory = 0;
  EXPECT_EQ(from_stream, Read(text, kAny, &dropped_memory));
  EXPECT_EQ(dropped, 1);
  EXPECT_EQ(dropped_memory, 1u);
  Lines none;
  EXPECT_EQ(RVReadTextStream(nullptr, kAny, Collect, &none), -1);
}

TEST(TextLines, CaseBlindComparisonIsAsciiOnly) {
  EXPECT_TRUE(RVTextEqualNoCase("FontClass", "fontclass"));
  EXPECT_TRUE(RVTextEqualNoCase("", ""));
  EXPECT_FALSE(RVTextEqualNoCase("Font", "FontClass"));
  EXPECT_FALSE(RVTextEqualNoCase("\xc4", "\xe4")); // bytes above ASCII are not folded
  EXPECT_FALSE(RVTextEqualNoCase(nullptr, ""));
  EXPECT_TRUE(RVTextStartsNoCase("FACENAME=x", "facename"));
  EXPECT_FALSE(RVTextStartsNoCase("Face", "facename"));
}
