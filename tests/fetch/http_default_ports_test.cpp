// HttpGet and HttpsGet on the default ports 80 and 443, inside a private
// network namespace so that nothing of the machine is in the way.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "fetch/http_get.h"
#include "tests/fetch/http_test_util.h"
#include "tests/support/child.h"

namespace {

// Runs in the namespace: args = directory served. Starts both servers on
// their default ports, fetches with a Server without port, prints the results.
TQ_CHILD_ROLE(http_default_ports) {
  if (args.empty()) return 2;
  const std::string dir = args[0];
  httpt::HttpSystem sys;
  const httpt::TlsCert& cert = httpt::TestCert();
  auto http = httpt::StartCommand(
      {"python3", "-m", "http.server", "80", "--bind", "127.0.0.1", "--directory", dir}, "");
  auto https = httpt::StartCommand(
      {"openssl", "s_server", "-accept", "443", "-WWW", "-quiet", "-cert", cert.cert, "-key", cert.key}, dir);
  bool up = false;
  for (int i = 0; i < 200 && !up; ++i) up = httpt::WaitForPort(80, 50) && httpt::WaitForPort(443, 50);
  if (!up) {
    std::printf("servers did not start\n");
    return 3;
  }
  sys.SetServer("localhost");
  std::string a = sys.Path("plain.bin"), b = sys.Path("tls.bin");
  int rc_http = HttpGet("/payload.bin", a.c_str());
  int rc_https = HttpsGet("/payload.bin", b.c_str());
  std::string want = httpt::ReadAll(dir + "/payload.bin");
  std::printf("http=%d same=%d https=%d same=%d\n", rc_http, httpt::ReadAll(a) == want ? 1 : 0, rc_https,
              httpt::ReadAll(b) == want ? 1 : 0);
  for (const std::string& m : sys.Messages()) std::printf("message: %s\n", m.c_str());
  return 0;
}

TEST(HttpDefaultPorts, InPrivateNetworkNamespace) {
  std::string probe;
  if (TqRunCommand("unshare -n true", &probe) != 0) GTEST_SKIP() << "unshare -n is not permitted here: " << probe;
  httpt::HttpSystem sys;
  std::string dir = sys.Path("www");
  std::filesystem::create_directories(dir);
  httpt::WriteAll(dir + "/payload.bin", httpt::Pattern(100000, 77));
  std::string out;
  int rc = TqRunCommand("unshare -n sh -c 'ip link set lo up && exec /proc/" + std::to_string(::getpid()) +
                            "/exe --tq-child http_default_ports \"$0\"' '" + dir + "'",
                        &out);
  EXPECT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("http=0 same=1 https=0 same=1"), std::string::npos) << out;
  EXPECT_NE(out.find("message: Connected to: localhost"), std::string::npos) << out;
  EXPECT_NE(out.find("message: Getting New Connection To: localhost:443..."), std::string::npos) << out;
}

}  // namespace
