// The shown form of a peer's text: which bytes are escaped and how, the cut
// before escaping, and the bounded buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/log_text.h"

namespace {

TEST(RVEscapeText, EachKindOfByte) {
  struct Case {
    std::string in;   // the peer's bytes
    std::string want; // as shown
  } cases[] = {
      {"", ""},
      {"plain text 200 OK", "plain text 200 OK"},
      {"a\r\nb", "a\\r\\nb"},
      {"tab\there", "tab\\there"},
      {"\x1b[2J", "\\x1b[2J"},
      {"bell\a", "bell\\x07"},
      {std::string("nul\0after", 9), "nul\\x00after"},
      {"\x7f", "\\x7f"},
      {"\x1f \x20", "\\x1f  "},
      {"back\\slash", "back\\\\slash"},
      {"\\x41 is not a byte", "\\\\x41 is not a byte"},
      {"caf\xc3\xa9 \xe2\x82\xac", "caf\xc3\xa9 \xe2\x82\xac"}, // well-formed UTF-8 stays as it is
      {"\x89PNG", "\\x89PNG"},                                    // a byte of no UTF-8 sequence
      {"\xe2\x82", "\\xe2\\x82"},                                // a sequence cut short
      {"\xc2\x9b" "2J", "\\xc2\\x9b2J"},                           // C1 control (CSI)
      {"\r\n2026/12/10 12:00:00 - 1 - tqupdd - forged line",
       "\\r\\n2026/12/10 12:00:00 - 1 - tqupdd - forged line"},
  };
  for (const Case& c : cases) {
    char out[RVEscapedSize(64)];
    size_t n = RVEscapeText(c.in.data(), c.in.size(), 64, out, sizeof out);
    EXPECT_EQ(std::string(out), c.want) << c.in;
    EXPECT_EQ(n, c.want.size()) << c.in;
  }
}

TEST(RVEscapeText, CutBeforeEscaping) {
  struct Case {
    std::string in;   // the peer's bytes
    size_t max_chars; // bytes of them shown
    std::string want; // as shown
  } cases[] = {
      {"abcdef", 3, "abc"},
      {"ab\r\ncd", 3, "ab\\r"},     // the third byte shown is the CR, escaped whole
      {"\n\n\n\n\n", 5, "\\n\\n\\n\\n\\n"}, // five bytes give ten characters
      {"abc", 0, ""},
      {"abc", 10, "abc"},
  };
  for (const Case& c : cases) {
    char out[RVEscapedSize(16)];
    RVEscapeText(c.in.data(), c.in.size(), c.max_chars, out, sizeof out);
    EXPECT_EQ(std::string(out), c.want) << c.in << " / " << c.max_chars;
  }
  // 512 control bytes are all shown, each escaped, in a buffer of RVEscapedSize(512).
  std::string all(600, '\x01');
  char big[RVEscapedSize(512)];
  EXPECT_EQ(RVEscapeText(all.data(), all.size(), 512, big, sizeof big), 512u * 4);
}

TEST(RVEscapeText, BufferEndsBeforeAnEscapeIsSplit) {
  struct Case {
    std::string in;   // the peer's bytes
    size_t size;      // bytes of the output buffer
    std::string want; // as shown
  } cases[] = {
      {"abcdef", 4, "abc"},
      {"ab\x1b", 5, "ab"},       // "\x1b" needs four bytes and the terminator
      {"ab\x1b", 7, "ab\\x1b"},
      {"a\\b", 3, "a"},          // no half of "\\"
      {"abc", 1, ""},
      {"ab\xc3\xa9", 4, "ab"},  // a UTF-8 sequence is never split
      {"ab\xc3\xa9", 5, "ab\xc3\xa9"},
  };
  for (const Case& c : cases) {
    char out[16];
    std::memset(out, 'Z', sizeof out);
    size_t n = RVEscapeText(c.in.data(), c.in.size(), 100, out, c.size);
    EXPECT_EQ(std::string(out), c.want) << c.in << " / " << c.size;
    EXPECT_EQ(n, c.want.size());
    EXPECT_EQ(out[c.size], 'Z') << "wrote past the buffer";
  }
}

TEST(RVShowText, CStringsAndNull) {
  RVShown shown;
  EXPECT_STREQ(RVShowText(&shown, nullptr), "");
  EXPECT_STREQ(RVShowText(&shown, "/dir\r\nname\\x"), "/dir\\r\\nname\\\\x");
  // A text of control characters longer than the buffer ends at a whole escape.
  std::string long_text(kRVShownSize, '\n');
  RVShowText(&shown, long_text.c_str());
  std::string got = shown.text;
  EXPECT_EQ(got.size(), kRVShownSize - 2);
  EXPECT_EQ(got.substr(0, 4), "\\n\\n");
}

}  // namespace
