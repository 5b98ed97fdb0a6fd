// The real service stopped in the middle of downloading a large package:
// "tqupdd stop" returns soon after, and the work directory keeps nothing of
// the download.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <unistd.h>
#include <string>
#include <vector>

#include "tests/fetch/http_test_util.h"
#include "tests/update/update_test_util.h"

namespace {

using updt::Transport;
using updt::UpdateSystem;

// A python3 HTTP server for `dir` that sends every file in 64 KiB pieces
// 20 ms apart (about 3 MB a second): a 1 GiB package takes minutes.
const char kSlowServer[] = R"(
import functools, http.server, sys, time
class Slow(http.server.SimpleHTTPRequestHandler):
    def copyfile(self, source, out):
        while True:
            b = source.read(65536)
            if not b:
                return
            out.write(b)
            time.sleep(0.02)
    def log_message(self, *a):
        pass
handler = functools.partial(Slow, directory=sys.argv[2])
http.server.ThreadingHTTPServer(('127.0.0.1', int(sys.argv[1])), handler).serve_forever()
)";

TEST(UpdateStop, StopDuringALargeDownload) {
  UpdateSystem u;
  ASSERT_TRUE(u.Serve(Transport::kHttp));
  // A sparse 1 GiB package and a signature line that is never reached.
  std::string out;
  std::filesystem::create_directories(u.Repo("pkgs"));
  ASSERT_EQ(TqRunCommand("truncate -s 1G '" + u.Repo("pkgs/big-win64.msi") + "'", &out), 0) << out;
  httpt::WriteAll(u.Repo("pkgs/big-win64.sig"), "never-read\n");
  u.WriteScript("Update\n    Name big-win64\n    Desc 'Big'\n    InstallFile {src}pkgs/big-win64.msi\n"
                "    SignatureFile {src}pkgs/big-win64.sig\n");
  httpt::WriteAll(u.sys().path("slow.py"), kSlowServer);
  int port = httpt::FreePort();
  auto slow = httpt::StartCommand({"python3", u.sys().path("slow.py"), std::to_string(port), u.Repo("")}, "");
  ASSERT_TRUE(httpt::WaitForPort(port, 0) || httpt::WaitForPort(port, 3000) || httpt::WaitForPort(port, 3000));
  u.Configure("Automatic", "Server 127.0.0.1:" + std::to_string(port) + "\n");

  ASSERT_EQ(u.Run("-v 0 install start", &out), 0) << out;
  ASSERT_TRUE(u.WaitForLog("Downloading Files: /pkgs/big-win64.msi and /pkgs/big-win64.sig")) << u.Log();
  // Let part of it arrive.
  for (int i = 0; i < 100 && !UpdateSystem::Exists(u.Work("big-win64.msi")); ++i) ::usleep(20 * 1000);
  EXPECT_TRUE(UpdateSystem::Exists(u.Work("big-win64.msi")));

  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(u.Run("stop", &out), 0);
  EXPECT_EQ(out, "Service TQUpdateD64 Stopped OK\n");
  // The service reaches "stopped" within its stop wait (five minutes) by
  // far: the fetch looks at the stop request between its reads.
  bool stopped = false;
  while (!stopped && std::chrono::steady_clock::now() - t0 < std::chrono::seconds(60)) {
    std::string q;
    TqRunCommand(updt::kTqsc + " query TQUpdateD64", &q);
    stopped = q.find("state:             1 stopped") != std::string::npos;
    if (!stopped) ::usleep(50 * 1000);
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_TRUE(stopped);
  EXPECT_LT(seconds, 30.0);
  EXPECT_EQ(u.CountPrefix("HttpGet Error - Stopped: the service is stopping, "), 1) << u.Log();
  EXPECT_EQ(u.CountText("TQUpdateD64 - Stopped"), 1) << u.Log();
  EXPECT_EQ(u.WorkNames(), std::vector<std::string>{}) << u.Log();
  u.Run("remove", &out);
}

}  // namespace
