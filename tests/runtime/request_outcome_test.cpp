// The outcome file a worker leaves for tqupdreq: what is written reads back,
// anything else is refused as a whole.
#include <gtest/gtest.h>

#include <string>

#include "runtime/request_outcome.h"

TEST(RequestOutcome, WrittenOutcomesReadBack) {
  RVRequestOutcome in{"check", true, 1765400000, "Failed to fetch update script: /upd/updscript.txt"};
  std::string text = RVFormatRequestOutcome(in);
  EXPECT_EQ(text,
            "Request: check\nResult: Failed\nTime: 1765400000\nMessage: Failed to fetch update script: "
            "/upd/updscript.txt\n");
  RVRequestOutcome out{};
  ASSERT_EQ(RVParseRequestOutcome(text, &out), 0);
  EXPECT_EQ(out.request, "check");
  EXPECT_TRUE(out.failed);
  EXPECT_EQ(out.time, 1765400000);
  EXPECT_EQ(out.message, in.message);

  // A message keeps its first line only and at most 1,023 bytes.
  in = {"install", false, 5, "first\nsecond"};
  ASSERT_EQ(RVParseRequestOutcome(RVFormatRequestOutcome(in), &out), 0);
  EXPECT_FALSE(out.failed);
  EXPECT_EQ(out.message, "first");
  in.message = std::string(5000, 'm');
  ASSERT_EQ(RVParseRequestOutcome(RVFormatRequestOutcome(in), &out), 0);
  EXPECT_EQ(out.message.size(), 1023u);
}

TEST(RequestOutcome, MalformedFilesAreRefused) {
  const char* cases[] = {
      "",
      "Request: check\nResult: Failed\nTime: 1\n",                                // no message line
      "Request: check\nResult: Failed\nTime: 1\nMessage: x",                      // cut before its end
      "Request: check\nResult: Failed\nTime: 1\nMessage: x\nMore: y\n",           // trailing line
      "Request: purge\nResult: Failed\nTime: 1\nMessage: x\n",                    // unknown request
      "Request: check\nResult: Maybe\nTime: 1\nMessage: x\n",                     // unknown result
      "Request: check\nResult: Failed\nTime: -1\nMessage: x\n",                   // not a time
      "Request: check\nResult: Failed\nTime: 99999999999999999999\nMessage: x\n", // beyond 64 bits
      "Result: Failed\nRequest: check\nTime: 1\nMessage: x\n",                    // lines out of order
      "Request:check\nResult: Failed\nTime: 1\nMessage: x\n",                     // no blank after the colon
  };
  for (const char* text : cases) {
    RVRequestOutcome out{};
    EXPECT_EQ(RVParseRequestOutcome(text, &out), -1) << text;
  }
  std::string long_message = "Request: check\nResult: Failed\nTime: 1\nMessage: " + std::string(1024, 'm') + "\n";
  RVRequestOutcome out{};
  EXPECT_EQ(RVParseRequestOutcome(long_message, &out), -1);
}
