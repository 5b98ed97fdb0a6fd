// The installer carried out by installer host processes (tqmsihost): the
// same results as in the process itself, hosts killed at every named point
// of an operation, hosts that hang, answer wrongly or cannot be run, and
// the update service free of the package libraries.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

#include "platform/installer.h"
#include "platform/posix/installer_client/remote.h"
#include "platform/system.h"
#include "tests/platform/installer_test_util.h"
#include "tests/support/child.h"

namespace fs = std::filesystem;

namespace {

constexpr const char kKey[] = "SOFTWARE\\TQ Software\\tqtestapp-win64";

// A stand-in host that reads one request and does what TQ_TEST_FAKE_HOST
// says; writes its process id (and that of a child it leaves) to files.
constexpr const char kFakeHost[] = R"(#!/usr/bin/python3
import os, struct, sys, time
mode = os.environ.get("TQ_TEST_FAKE_HOST", "")
with open(os.environ["TQ_TEST_FAKE_HOST_PID"], "w") as f:
    f.write(str(os.getpid()))
def read_exact(n):
    b = b""
    while len(b) < n:
        c = os.read(0, n - len(b))
        if not c:
            sys.exit(0)
        b += c
    return b
def request():
    n = struct.unpack("<I", read_exact(4))[0]
    return read_exact(n)[0]
def answer(kind, result, number=None, text=b""):
    if number is None:
        number = 7 if kind in (1, 2) and result == 0 else 0
    body = struct.pack("<BIII", kind, result, number, len(text)) + text
    return struct.pack("<I", len(body)) + body
out = os.fdopen(1, "wb", 0)
kind = request()
if mode == "garbage":
    out.write(b"garbage, and no answer")
elif mode == "huge length":
    out.write(struct.pack("<I", 0xFFFFFFF0))
elif mode == "cut":
    out.write(answer(kind, 0)[:9])
elif mode == "extra":
    out.write(answer(kind, 0) + b"more")
elif mode == "implausible":
    out.write(answer(kind, 5))
elif mode == "other kind":
    out.write(answer(kind % 7 + 1, 0))
elif mode == "exit 1":
    out.write(answer(kind, 0))
    sys.exit(1)
elif mode == "killed":
    os.kill(os.getpid(), 9)
elif mode == "hang":
    os.system("sleep 60 & echo $! > " + os.environ["TQ_TEST_FAKE_HOST_PID"] + ".child")
    time.sleep(60)
elif mode == "die on next":
    out.write(answer(kind, 0))
    request()
    os.kill(os.getpid(), 9)
)";

// The whole installer log of `sys` ("" when none).
std::string InstallerLog(const TempSystem& sys) {
  std::ifstream in(sys.path("system/installer/logs/installer.log"));
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Number of open descriptors of this process.
int OpenDescriptors() {
  return static_cast<int>(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

// True when the process `pid` is gone or a zombie of another parent
// (waiting a bounded time for a signal sent to it to take effect).
bool NotRunning(pid_t pid) {
  int64_t deadline = PlatMonotonicMs() + 5000;
  for (;;) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    std::getline(in, stat);
    if (stat.empty()) return true;
    size_t close = stat.rfind(')');
    if (close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z') {
      return ::waitpid(pid, nullptr, WNOHANG) < 0;
    }
    if (PlatMonotonicMs() >= deadline) return false;
    PlatSleepMs(10);
  }
}

// True when this process has no child left to reap.
bool NoChildLeft() {
  errno = 0;
  return ::waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD;
}

// The installed state: "none", "old", "new" or "mixed" (see the robust tests
// for the full comparison; here the product record and one value suffice).
std::string Installed(const std::string& target) {
  char code[39] = {};
  uint32_t rc = MsiRemoteEnumProducts(0, code);
  if (rc == MSI_ERROR_NO_MORE_ITEMS) return fs::exists(target) || RegText(kKey, "Version") != "<missing>" ? "mixed" : "none";
  if (rc != MSI_OK) return "error " + std::to_string(rc);
  std::map<std::string, std::string> files;
  for (const MsiTestProduct* p : {&kAppOld, &kAppNew}) {
    if (code != p->product_code) continue;
    bool same = RegText(kKey, "Version") == p->version;
    for (const auto& [rel, content] : ProductFiles(*p)) {
      std::ifstream in(target + "/" + rel);
      std::stringstream ss;
      ss << in.rdbuf();
      same = same && ss.str() == content;
    }
    if (same) return p == &kAppOld ? "old" : "new";
  }
  return "mixed";
}

class InstallerHost : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!MsiFixtureToolsPresent()) GTEST_SKIP() << "wixl and msibuild are needed";
    fs::create_directories(sys.path("targets"));
    target = sys.path("targets/app");
    old_pkg = SharedPackage(MSI_FIXTURE_SOURCE("app"), kAppOld, "app-old");
    new_pkg = SharedPackage(MSI_FIXTURE_SOURCE("app"), kAppNew, "app-new");
    ASSERT_FALSE(old_pkg.empty());
    ASSERT_FALSE(new_pkg.empty());
    cmd = EngineCommandLine(target);
    // The host built beside tqmsi, whatever directory the tests run from.
    sys.SetEnv("TQ_TEST_MSI_HOST", (fs::path(TqmsiPath()).parent_path() / "tqmsihost").c_str());
  }

  TempSystem sys;
  std::string target, old_pkg, new_pkg, cmd;
};

}  // namespace

// Opening, reading, installing, listing and removing through hosts give the
// results of the installer in the process, buffers and handles included.
TEST_F(InstallerHost, SameResultsAsInProcess) {
  MSIHANDLE h = 0;
  EXPECT_EQ(MsiRemoteOpenPackage(sys.path("none.msi").c_str(), &h), MSI_ERROR_INSTALL_PACKAGE_OPEN_FAILED);
  EXPECT_EQ(MsiRemoteOpenPackage(nullptr, &h), MSI_ERROR_INVALID_PARAMETER);
  ASSERT_EQ(MsiRemoteOpenPackage(old_pkg.c_str(), &h), MSI_OK);
  struct {
    const char* property;
    uint32_t room;
    uint32_t want_rc;
    std::string want_value;
    uint32_t want_size;
  } cases[] = {
      {"ProductVersion", 64, MSI_OK, "1.0.0", 5},
      {"ProductVersion", 6, MSI_OK, "1.0.0", 5},
      {"ProductVersion", 5, MSI_ERROR_MORE_DATA, "1.0.", 5},
      {"ProductVersion", 1, MSI_ERROR_MORE_DATA, "", 5},
      {"ProductCode", 64, MSI_OK, kAppOld.product_code, 38},
      {"NoSuchProperty", 64, MSI_OK, "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.property) + " in " + std::to_string(c.room));
    char buf[64];
    std::memset(buf, 'x', sizeof buf);
    uint32_t size = c.room;
    EXPECT_EQ(MsiRemoteGetProductProperty(h, c.property, buf, &size), c.want_rc);
    EXPECT_EQ(std::string(buf), c.want_value);
    EXPECT_EQ(size, c.want_size);
  }
  uint32_t size = 0;
  EXPECT_EQ(MsiRemoteGetProductProperty(h, "ProductVersion", nullptr, &size), MSI_OK);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(MsiRemoteGetProductProperty(h, nullptr, nullptr, &size), MSI_ERROR_INVALID_PARAMETER);
  EXPECT_EQ(MsiRemoteCloseHandle(h), MSI_OK);
  EXPECT_EQ(MsiRemoteCloseHandle(h), MSI_ERROR_INVALID_HANDLE);
  EXPECT_EQ(MsiRemoteGetProductProperty(h, "ProductVersion", nullptr, &size), MSI_ERROR_INVALID_HANDLE);

  EXPECT_EQ(MsiRemoteInstallProduct(old_pkg.c_str(), "ALLUSERS"), MSI_ERROR_INVALID_COMMAND_LINE);
  EXPECT_EQ(MsiRemoteInstallProduct(old_pkg.c_str(), ("A=" + std::string(70000, 'x')).c_str()),
            MSI_ERROR_INVALID_COMMAND_LINE);
  EXPECT_EQ(MsiRemoteInstallProduct(sys.path("none.msi").c_str(), cmd.c_str()), MSI_ERROR_INSTALL_PACKAGE_OPEN_FAILED);
  ASSERT_EQ(MsiRemoteInstallProduct(old_pkg.c_str(), cmd.c_str()), MSI_OK);
  EXPECT_EQ(Installed(target), "old");
  EXPECT_EQ(MsiRemoteInstallProduct(new_pkg.c_str(), EngineCommandLine(target, true).c_str()),
            MSI_ERROR_SUCCESS_REBOOT_REQUIRED);
  EXPECT_EQ(Installed(target), "new");

  char code[39];
  EXPECT_EQ(MsiRemoteEnumProducts(0, code), MSI_OK);
  EXPECT_EQ(std::string(code), kAppNew.product_code);
  EXPECT_EQ(MsiRemoteEnumProducts(1, code), MSI_ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(MsiRemoteOpenProduct(kAppOld.product_code.c_str(), &h), MSI_ERROR_UNKNOWN_PRODUCT);
  EXPECT_EQ(MsiRemoteOpenProduct(("{" + std::string(60, 'A') + "}").c_str(), &h), MSI_ERROR_UNKNOWN_PRODUCT);
  ASSERT_EQ(MsiRemoteOpenProduct(kAppNew.product_code.c_str(), &h), MSI_OK);
  char version[16];
  size = sizeof version;
  EXPECT_EQ(MsiRemoteGetProductProperty(h, "ProductVersion", version, &size), MSI_OK);
  EXPECT_EQ(std::string(version), "2.1.0");
  EXPECT_EQ(MsiRemoteCloseHandle(h), MSI_OK);

  EXPECT_EQ(MsiRemoteConfigureProduct(kAppNew.product_code.c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_LOCAL),
            MSI_ERROR_INVALID_PARAMETER);
  EXPECT_EQ(MsiRemoteConfigureProduct(kAppOld.product_code.c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT),
            MSI_ERROR_UNKNOWN_PRODUCT);
  EXPECT_EQ(MsiRemoteConfigureProduct(kAppNew.product_code.c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT), MSI_OK);
  EXPECT_EQ(Installed(target), "none");
  EXPECT_EQ(InstallerLog(sys).find("installer host"), std::string::npos) << InstallerLog(sys);
  EXPECT_TRUE(NoChildLeft());
}

// Threads of one process each get a host of their own: while one installs,
// another gets 1618 at once.
TEST_F(InstallerHost, OneInstallationAtATimeAcrossThreads) {
  std::string flag = sys.path("paused");
  sys.SetEnv("TQ_TEST_MSI_PAUSE_AT", "locked");
  sys.SetEnv("TQ_TEST_MSI_PAUSE_FILE", flag.c_str());
  uint32_t first = 0;
  std::thread t([&] { first = MsiRemoteInstallProduct(old_pkg.c_str(), cmd.c_str()); });
  int64_t deadline = PlatMonotonicMs() + 30000;
  while (!fs::exists(flag) && PlatMonotonicMs() < deadline) PlatSleepMs(10);
  ASSERT_TRUE(fs::exists(flag));
  EXPECT_EQ(MsiRemoteInstallProduct(new_pkg.c_str(), cmd.c_str()), MSI_ERROR_INSTALL_ALREADY_RUNNING);
  EXPECT_EQ(MsiRemoteConfigureProduct(kAppOld.product_code.c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT),
            MSI_ERROR_INSTALL_ALREADY_RUNNING);
  fs::remove(flag);
  t.join();
  EXPECT_EQ(first, MSI_OK);
  EXPECT_EQ(Installed(target), "old");
}

// A host killed at any point of an installation or a removal: the caller
// gets 1603 and a logged reason, and the next call settles the machine in
// the old state or the new one.
TEST_F(InstallerHost, KilledAtEveryPoint) {
  const char* const install_points[] = {"locked", "journal", "staged", "swap", "drop",
                                        "swapped", "registry", "commit", "cleanup"};
  const char* const remove_points[] = {"journal", "moved", "registry", "commit", "cleanup"};
  int rolled_back = 0, finished = 0;
  for (bool removal : {false, true}) {
    for (const char* point : removal ? std::vector<const char*>(std::begin(remove_points), std::end(remove_points))
                                     : std::vector<const char*>(std::begin(install_points), std::end(install_points))) {
      SCOPED_TRACE(std::string(removal ? "removal at " : "installation at ") + point);
      TempSystem s;
      s.SetEnv("TQ_TEST_MSI_HOST", (fs::path(TqmsiPath()).parent_path() / "tqmsihost").c_str());
      fs::create_directories(s.path("targets"));
      std::string t = s.path("targets/app");
      ASSERT_EQ(MsiRemoteInstallProduct(old_pkg.c_str(), EngineCommandLine(t).c_str()), MSI_OK);
      s.SetEnv("TQ_TEST_MSI_CRASH_AT", point);
      uint32_t rc = removal ? MsiRemoteConfigureProduct(kAppOld.product_code.c_str(), INSTALLLEVEL_DEFAULT,
                                                        INSTALLSTATE_ABSENT)
                            : MsiRemoteInstallProduct(new_pkg.c_str(), EngineCommandLine(t).c_str());
      s.SetEnv("TQ_TEST_MSI_CRASH_AT", "");
      EXPECT_EQ(rc, MSI_ERROR_INSTALL_FAILURE);
      EXPECT_NE(InstallerLog(s).find("installer host ended without answering (ended by signal 9)"), std::string::npos)
          << InstallerLog(s);
      std::string state = Installed(t);
      if (removal) {
        EXPECT_TRUE(state == "old" || state == "none") << state;
      } else {
        EXPECT_TRUE(state == "old" || state == "new") << state;
        (state == "old" ? rolled_back : finished)++;
        EXPECT_EQ(MsiRemoteInstallProduct(new_pkg.c_str(), EngineCommandLine(t).c_str()), MSI_OK);
        EXPECT_EQ(Installed(t), "new");
      }
      EXPECT_TRUE(NoChildLeft());
    }
  }
  EXPECT_GT(rolled_back, 0);
  EXPECT_GT(finished, 0);
}

// A real host that hangs in the middle of an installation is killed at its
// bound; the next call undoes what it began.
TEST_F(InstallerHost, HangingHostIsKilled) {
  ASSERT_EQ(MsiRemoteInstallProduct(old_pkg.c_str(), cmd.c_str()), MSI_OK);
  std::string flag = sys.path("paused");
  sys.SetEnv("TQ_TEST_MSI_PAUSE_AT", "staged");
  sys.SetEnv("TQ_TEST_MSI_PAUSE_FILE", flag.c_str());
  sys.SetEnv("TQ_TEST_MSI_HOST_LIMIT_MS", "1500");
  EXPECT_EQ(MsiRemoteInstallProduct(new_pkg.c_str(), cmd.c_str()), MSI_ERROR_INSTALL_FAILURE);
  EXPECT_TRUE(fs::exists(flag));  // it did reach the point
  EXPECT_NE(InstallerLog(sys).find("installer host gave no answer within 1500 ms (killed)"), std::string::npos)
      << InstallerLog(sys);
  sys.SetEnv("TQ_TEST_MSI_PAUSE_AT", "");
  EXPECT_EQ(Installed(target), "old");
  EXPECT_TRUE(NoChildLeft());
}

// Hosts that cannot be run or that answer wrongly: 1603 (1619 for opening
// a package) with the reason logged, the host and its group gone, no
// descriptor left open.
TEST_F(InstallerHost, FaultyHosts) {
  std::string fake = sys.path("fake-host");
  std::ofstream(fake) << kFakeHost;
  fs::permissions(fake, fs::perms::owner_all);
  std::string plain = sys.path("plain-host");
  std::ofstream(plain) << kFakeHost;
  std::string pid_file = sys.path("fake.pid");
  sys.SetEnv("TQ_TEST_FAKE_HOST_PID", pid_file.c_str());
  sys.SetEnv("TQ_TEST_MSI_HOST_LIMIT_MS", "1000");
  struct {
    const char* mode;
    std::string program;
    uint32_t open_rc;    // of opening a package
    const char* reason;  // logged for the installation
  } cases[] = {
      {"", sys.path("no-such-host"), 1619, "cannot be started: No such file or directory"},
      {"", plain, 1619, "cannot be started: Permission denied"},
      {"killed", fake, 1619, "ended without answering (ended by signal 9)"},
      {"garbage", fake, 1619, "answered with malformed data"},
      {"huge length", fake, 1619, "answered with malformed data"},
      {"cut", fake, 1619, "cut its answer off"},
      {"extra", fake, 1619, "wrote more than its answer"},
      {"implausible", fake, 1619, "answered 5, which its request cannot have"},
      {"other kind", fake, 1619, "answered with malformed data"},
      {"exit 1", fake, 0, "exited with status 1 after answering"},
      {"hang", fake, 1619, "gave no answer within 1000 ms (killed)"},
  };
  const int fds = OpenDescriptors();
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.mode) + " " + c.program);
    sys.SetEnv("TQ_TEST_MSI_HOST", c.program.c_str());
    sys.SetEnv("TQ_TEST_FAKE_HOST", c.mode);
    fs::remove(pid_file);
    fs::remove(pid_file + ".child");
    fs::remove(sys.path("system/installer/logs/installer.log"));
    EXPECT_EQ(MsiRemoteInstallProduct(old_pkg.c_str(), cmd.c_str()), MSI_ERROR_INSTALL_FAILURE);
    std::string log = InstallerLog(sys);
    EXPECT_NE(log.find("installation of " + old_pkg + " failed: "), std::string::npos) << log;
    EXPECT_NE(log.find(c.reason), std::string::npos) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
    for (const std::string& f : {pid_file, pid_file + ".child"}) {
      std::ifstream in(f);
      pid_t pid = 0;
      if (in >> pid) {
        EXPECT_TRUE(NotRunning(pid)) << f;
      }
    }
    MSIHANDLE h = 0;
    EXPECT_EQ(MsiRemoteOpenPackage(old_pkg.c_str(), &h), c.open_rc);
    if (c.open_rc == MSI_OK) {
      // The host ended after its answer: the handle's next request fails.
      uint32_t size = 0;
      EXPECT_EQ(MsiRemoteGetProductProperty(h, "ProductVersion", nullptr, &size), MSI_ERROR_INSTALL_FAILURE);
      EXPECT_EQ(MsiRemoteCloseHandle(h), MSI_OK);
    }
    char code[39];
    EXPECT_EQ(MsiRemoteEnumProducts(0, code), MSI_ERROR_INSTALL_FAILURE);
    EXPECT_TRUE(NoChildLeft());
    EXPECT_EQ(OpenDescriptors(), fds);
  }
}

// A handle's host that dies between two requests: the reading fails with
// 1603, closing still succeeds.
TEST_F(InstallerHost, HandleHostDies) {
  std::string fake = sys.path("fake-host");
  std::ofstream(fake) << kFakeHost;
  fs::permissions(fake, fs::perms::owner_all);
  sys.SetEnv("TQ_TEST_FAKE_HOST_PID", sys.path("fake.pid").c_str());
  sys.SetEnv("TQ_TEST_FAKE_HOST", "die on next");
  sys.SetEnv("TQ_TEST_MSI_HOST", fake.c_str());
  MSIHANDLE h = 0;
  ASSERT_EQ(MsiRemoteOpenPackage(old_pkg.c_str(), &h), MSI_OK);
  char buf[16];
  uint32_t size = sizeof buf;
  EXPECT_EQ(MsiRemoteGetProductProperty(h, "ProductVersion", buf, &size), MSI_ERROR_INSTALL_FAILURE);
  EXPECT_EQ(MsiRemoteGetProductProperty(h, "ProductVersion", buf, &size), MSI_ERROR_INSTALL_FAILURE);
  EXPECT_EQ(MsiRemoteCloseHandle(h), MSI_OK);
  std::string log = InstallerLog(sys);
  EXPECT_NE(log.find("reading property ProductVersion of opening package " + old_pkg +
                     " failed: installer host ended without answering (ended by signal 9)"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("its installer host has failed before"), std::string::npos) << log;
  EXPECT_TRUE(NoChildLeft());
}

// The host refuses to serve anything but a client's socket.
TEST_F(InstallerHost, HostTakesOnlyItsClientsSocket) {
  std::string host = (fs::path(TqmsiPath()).parent_path() / "tqmsihost").string();
  std::string out;
  EXPECT_EQ(TqRunCommand(MsiFixtureQuote(host) + " </dev/null", &out), 2);
  EXPECT_EQ(TqRunCommand(MsiFixtureQuote(host) + " --for $$ </dev/null", &out), 2);
  EXPECT_EQ(TqRunCommand(MsiFixtureQuote(host) + " --for 1 </dev/null", &out), 2);
}

// The update service maps none of the libraries of packages and cabinets;
// the host does.
TEST(InstallerHostLinks, ServiceMapsNoPackageLibraries) {
  const char* const libraries[] = {"libmsi", "libgcab", "libglib", "libgio", "libgobject", "libgsf", "libxml2",
                                   "libicu"};
  struct {
    std::string program;
    bool maps;
  } cases[] = {
      {TQ_BINARY_DIR "/service/tqupdd", false},
      {TQ_BINARY_DIR "/platform/tqmsihost", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.program);
    if (!fs::exists(c.program)) GTEST_SKIP() << "not built";
    std::string out;
    ASSERT_EQ(TqRunCommand("ldd " + MsiFixtureQuote(c.program), &out), 0) << out;
    bool any = false;
    for (const char* lib : libraries) {
      bool found = out.find(std::string(lib)) != std::string::npos;
      if (!c.maps) {
        EXPECT_FALSE(found) << lib << "\n" << out;
      }
      any = any || found;
    }
    EXPECT_EQ(any, c.maps) << out;
  }
}
