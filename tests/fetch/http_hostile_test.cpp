// HttpGet and HttpsGet against peers that try to fill the disk or hold the
// worker: bodies past Content-Length or without end, bad Content-Length
// headers, a trickle, a peer that keeps the connection open, and a stop
// request; and the LocalShare copy under a cap and a stop.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "fetch/fetch_file.h"
#include "fetch/fetch_settings.h"
#include "fetch/http_get.h"
#include "fetch/local_share.h"
#include "fetch/stall_limit.h"
#include "tests/fetch/fetch_test_util.h"
#include "tests/fetch/http_test_util.h"

namespace {

using httpt::HttpSystem;

// A stop hook that says "stop" from its nth question on.
std::atomic<int> g_stop_after{0};
bool StopAfter() { return g_stop_after.fetch_sub(1) <= 1; }

class HttpHostile : public ::testing::TestWithParam<bool> {
 protected:
  bool tls() const { return GetParam(); }
  std::string who() const { return tls() ? "SSL HttpGet" : "HttpGet"; }
  // Starts the peer in `mode` and fetches from it into `local` with the cap
  // `max_bytes`; the messages in *texts.
  int FetchFrom(const std::string& mode, int64_t max_bytes, std::vector<std::string>* texts) {
    std::string dir = sys_.Path("peer-" + mode);
    std::filesystem::create_directories(dir);
    int port = 0;
    auto peer = httpt::StartScripted(dir, mode, tls(), &port);
    EXPECT_TRUE(peer);
    if (!peer) return -2;
    sys_.SetServer("127.0.0.1:" + std::to_string(port));
    sys_.Messages();
    int rc = tls() ? HttpsGet("/f", local_.c_str(), max_bytes) : HttpGet("/f", local_.c_str(), max_bytes);
    *texts = sys_.Messages();
    return rc;
  }
  void TearDown() override {
    g_upd_fetch.stop_requested = nullptr;
    UpdFetchSetRateLimitForTest(0, 0);
  }
  HttpSystem sys_;
  std::string local_ = sys_.Path("got.bin");
};

// What the body of a response is when the fetch ends at its Content-Length.
std::string BodyOf(const std::string& mode, size_t n) {
  std::string r = httpt::ScriptedResponse(mode);
  std::string body = r.substr(r.find("\r\n\r\n") + 4);
  if (mode == "endless_with_length")
    while (body.size() < n) body += httpt::Pattern(65536, 7);
  return body.substr(0, n);
}

// Bodies that go on past Content-Length end there, whole, without waiting
// for the peer to close (the stall limit here is far above the test's time).
TEST_P(HttpHostile, ReadingEndsAtContentLength) {
  UpdFetchSetStallLimitForTest(60000);
  for (const auto& [mode, length] : {std::pair<std::string, size_t>{"endless_with_length", 300000},
                                     std::pair<std::string, size_t>{"length_keep_open", 3000}}) {
    SCOPED_TRACE(mode);
    std::vector<std::string> texts;
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(FetchFrom(mode, 0, &texts), 0) << (texts.empty() ? "" : texts.back());
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(30)) << "waited for the peer to close";
    std::string got = httpt::ReadAll(local_);
    EXPECT_EQ(got.size(), length);
    EXPECT_TRUE(got == BodyOf(mode, length)) << "the body differs";
  }
}

// Headers and bodies that break a bound: each fails with its line and
// leaves no file.
TEST_P(HttpHostile, BoundsBroken) {
  const struct {
    const char* mode;
    int64_t cap;
    std::string last;  // the last message, less the " File: <path>" ending
  } cases[] = {
      {"endless_body", 200000, " Error - Size Cap Reached: more than 200000 Bytes"},
      {"endless_with_length", 200000, " Error - Size Cap Reached: Content-Length 300000, at most 200000 Bytes"},
      {"length_huge", 1 << 20, " Error - Size Cap Reached: Content-Length 999999999999999, at most 1048576 Bytes"},
      {"length_negative", 0, " Error - Invalid Content-Length"},
      {"length_twice", 0, " Error - Invalid Content-Length"},
      {"length_text", 0, " Error - Invalid Content-Length"},
      {"length_too_long", 0, " Error - Invalid Content-Length"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    httpt::WriteAll(local_, "old");
    std::vector<std::string> texts;
    EXPECT_EQ(FetchFrom(c.mode, c.cap, &texts), -1);
    EXPECT_FALSE(httpt::Exists(local_));
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back(), who() + c.last + " File: " + local_);
  }
}

// A peer that keeps sending, but too little: it ends as a receive failure
// once a whole window brought less than the least rate.
TEST_P(HttpHostile, TrickleBelowTheRate) {
  UpdFetchSetRateLimitForTest(800, 4096);
  std::vector<std::string> texts;
  EXPECT_EQ(FetchFrom("trickle", 0, &texts), -1);
  EXPECT_FALSE(httpt::Exists(local_));
  ASSERT_GE(texts.size(), 2u);
  EXPECT_EQ(texts[texts.size() - 2],
            tls() ? "SOCRecv() Failed, syserrno: 110 sslerrno: 2" : "SOCRecv() Failed, exterrno: 10060");
  EXPECT_EQ(texts.back().rfind(who() + " Error - Too Slow: ", 0), 0u) << texts.back();
  EXPECT_NE(texts.back().find(" in the Last 800 ms, at least 4096 needed File: " + local_), std::string::npos)
      << texts.back();
}

// A stop request ends a download that has no end, between two reads.
TEST_P(HttpHostile, StopRequestEndsTheFetch) {
  g_stop_after = 40;
  g_upd_fetch.stop_requested = StopAfter;
  std::vector<std::string> texts;
  EXPECT_EQ(FetchFrom("endless_body", 0, &texts), -1);
  EXPECT_FALSE(httpt::Exists(local_));
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back().rfind(who() + " Error - Stopped: the service is stopping, ", 0), 0u) << texts.back();
}

INSTANTIATE_TEST_SUITE_P(Transports, HttpHostile, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "Https" : "Http"; });

// The LocalShare copy: over the cap, or stopped, it fails with the copy's
// line and its own, and leaves no file; within the cap it is whole.
TEST(LocalShareBounds, CapAndStop) {
  FetchSystem fs;
  const std::string data = httpt::Pattern(3 << 20, 9);
  fs.WriteServer("pkg.msi", data);
  const std::string src = fs.Server("pkg.msi");
  EXPECT_EQ(UpdLocalShareCopy(src.c_str(), "pkg.msi", 3 << 20), 0);
  EXPECT_EQ(fs.ReadWork("pkg.msi"), data);
  fs.Texts();

  EXPECT_EQ(UpdLocalShareCopy(src.c_str(), "pkg.msi", (3 << 20) - 1), -1);
  EXPECT_FALSE(fs.InWork("pkg.msi"));
  EXPECT_EQ(fs.Texts(), (std::vector<std::string>{"Error: 223 Copying file: " + src + " to pkg.msi",
                                                  "LocalShare Error - Size Cap Reached: more than 3145727 Bytes File: " +
                                                      src}));
  g_stop_after = 1;
  g_upd_fetch.stop_requested = StopAfter;
  EXPECT_EQ(UpdLocalShareCopy(src.c_str(), "pkg.msi", 0), -1);
  g_upd_fetch.stop_requested = nullptr;
  EXPECT_FALSE(fs.InWork("pkg.msi"));
  EXPECT_EQ(fs.Texts(), (std::vector<std::string>{"Error: 995 Copying file: " + src + " to pkg.msi",
                                                  "LocalShare Error - Stopped: the service is stopping File: " + src}));
  EXPECT_EQ(fs.WorkNames(), std::vector<std::string>{});
}

}  // namespace
