// The installer under stress: one installation at a time (processes and
// threads), processes killed at every named point of an installation and a
// removal, failing system calls, packages that try to write outside their
// target, damaged packages and property strings, and a package that stops a
// running service.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <fstream>
#include <mutex>
#include <condition_variable>
#include <string>
#include <thread>
#include <vector>

#include "platform/error.h"
#include "platform/fault.h"
#include "platform/installer.h"
#include "platform/registry.h"
#include "platform/service_manager.h"
#include "platform/system.h"
#include "tests/platform/installer_test_util.h"
#include "tests/support/child.h"

namespace fs = std::filesystem;

namespace {

constexpr const char kKey[] = "SOFTWARE\\TQ Software\\tqtestapp-win64";
constexpr int64_t kWaitMs = 30000;  // bound of every wait for another process

// Waits (bounded) until `path` exists.
bool WaitForFile(const std::string& path) {
  int64_t deadline = PlatMonotonicMs() + kWaitMs;
  while (!fs::exists(path) && PlatMonotonicMs() < deadline) PlatSleepMs(10);
  return fs::exists(path);
}

// Which whole state the system is in: "none", "old", "new", or what mixes.
std::string Classify(const TempSystem& sys, const std::string& target) {
  MsiState s = ReadMsiState(sys);
  if (s.journal) return "journal left";
  std::map<std::string, std::string> files;
  for (const auto& [rel, content] : s.files) {
    if (rel.rfind("targets/", 0) != 0) {
      if (rel != "targets" && rel != "home-tq" && content != "<dir>") return "stray file " + rel;
      continue;
    }
    if (content != "<dir>") files[rel] = content;
  }
  std::string prefix = fs::relative(target, sys.root()).string() + "/";
  if (files.empty() && !fs::exists(target) && s.products.empty() && RegText(kKey, "Version") == "<missing>") {
    return "none";
  }
  for (const MsiTestProduct* p : {&kAppOld, &kAppNew}) {
    std::map<std::string, std::string> want;
    for (const auto& [rel, content] : ProductFiles(*p)) want[prefix + rel] = content;
    if (files == want && s.products == p->product_code + " " + p->version + " " + p->name + "\n" &&
        RegText(kKey, "Version") == p->version && RegText(kKey, "ProductCode") == p->product_code &&
        RegText(kKey, "InstallDir") == target && RegText(kKey, "File-" + p->extra) == target + "/" + p->extra &&
        RegText(kKey, "File-" + (p == &kAppOld ? kAppNew : kAppOld).extra) == "<missing>") {
      return p == &kAppOld ? "old" : "new";
    }
  }
  return "mixed:\n" + DescribeMsiState(s);
}

// The package of a case, made from the old version's package.
std::string Variant(const TempSystem& sys, const std::string& name, const std::string& sql) {
  std::string dir = sys.path("pkgs");
  fs::create_directories(dir);
  std::string path = dir + "/" + name + ".msi";
  fs::copy_file(SharedPackage(MSI_FIXTURE_SOURCE("app"), kAppOld, "app-old"), path,
                fs::copy_options::overwrite_existing);
  if (!sql.empty()) {
    EXPECT_EQ(MsiFixtureSql(path, sql), 0) << sql;
  }
  return path;
}

class InstallerRobust : public ::testing::Test {
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
  }

  // Runs tqmsi with `args`, with extra environment settings first.
  int Tqmsi(const std::string& env, const std::string& args, std::string* out = nullptr) {
    if (out) out->clear();
    return TqRunCommand(env + " " + MsiFixtureQuote(TqmsiPath()) + " " + args, out);
  }

  std::string InstallArgs(const std::string& pkg) {
    return "install " + MsiFixtureQuote(pkg) + " ALLUSERS=1 " + MsiFixtureQuote("TARGETDIR=" + target) + " " +
           MsiFixtureQuote("INSTALLDIR=" + target) + " REBOOT=ReallySuppress";
  }

  TempSystem sys;
  std::string target, old_pkg, new_pkg, cmd;
};

// Installs in a child process that waits at the named point with the lock
// held; args: package, property string, pause point, pause file.
TQ_CHILD_ROLE(msi_paused_install) {
  PlatEnvSet("TQ_TEST_MSI_PAUSE_AT", args.at(2).c_str());
  PlatEnvSet("TQ_TEST_MSI_PAUSE_FILE", args.at(3).c_str());
  return static_cast<int>(MsiInstallProductA(args.at(0).c_str(), args.at(1).c_str()) & 0xFF);
}

}  // namespace

// While one process installs, every other installation or removal, from
// another process or a thread, gets 1618 at once.
TEST_F(InstallerRobust, OneInstallationAtATime) {
  ASSERT_EQ(MsiInstallProductA(old_pkg.c_str(), cmd.c_str()), MSI_OK);
  std::string flag = sys.path("paused");
  pid_t child = TqSpawnChild("msi_paused_install", {new_pkg, cmd, "locked", flag});
  ASSERT_TRUE(WaitForFile(flag));
  EXPECT_EQ(MsiInstallProductA(new_pkg.c_str(), cmd.c_str()), MSI_ERROR_INSTALL_ALREADY_RUNNING);
  EXPECT_EQ(MsiConfigureProductA(kAppOld.product_code.c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT),
            MSI_ERROR_INSTALL_ALREADY_RUNNING);
  std::string out;
  EXPECT_EQ(Tqmsi("", "remove " + MsiFixtureQuote(kAppOld.product_code), &out), 1618 & 0xFF);
  EXPECT_EQ(out, "tqmsi: remove failed: 1618 (another installation is already running)\n");
  EXPECT_EQ(Tqmsi("", "list", &out), 0);  // reading waits for nobody
  EXPECT_EQ(out, kAppOld.product_code + " 1.0.0 tqtestapp-win64\n");
  fs::remove(flag);
  EXPECT_EQ(TqWaitChild(child), 0);
  EXPECT_EQ(Classify(sys, target), "new");

  // The same between threads of one process.
  sys.SetEnv("TQ_TEST_MSI_PAUSE_AT", "locked");
  sys.SetEnv("TQ_TEST_MSI_PAUSE_FILE", flag.c_str());
  uint32_t first = 0;
  std::thread t([&] { first = MsiInstallProductA(new_pkg.c_str(), cmd.c_str()); });
  ASSERT_TRUE(WaitForFile(flag));
  EXPECT_EQ(MsiInstallProductA(old_pkg.c_str(), cmd.c_str()), MSI_ERROR_INSTALL_ALREADY_RUNNING);
  fs::remove(flag);
  t.join();
  EXPECT_EQ(first, MSI_OK);
  EXPECT_EQ(Classify(sys, target), "new");
}

// An installation killed at any of its points leaves the old state or the
// new one, never a mix, once the next installer call has settled it; the
// same for a removal and for a first installation.
TEST_F(InstallerRobust, KilledAtEveryPoint) {
  const char* const install_points[] = {"locked", "journal", "staged", "swap", "drop",
                                        "swapped", "registry", "commit", "cleanup"};
  const char* const remove_points[] = {"journal", "moved", "registry", "commit", "cleanup"};
  int rolled_back = 0, finished = 0;
  for (const char* point : install_points) {
    SCOPED_TRACE(point);
    TempSystem s;
    fs::create_directories(s.path("targets"));
    target = s.path("targets/app");
    ASSERT_EQ(MsiInstallProductA(old_pkg.c_str(), EngineCommandLine(target).c_str()), MSI_OK);
    int rc = Tqmsi(std::string("TQ_TEST_MSI_CRASH_AT=") + point, InstallArgs(new_pkg));
    EXPECT_TRUE(rc == 128 + SIGKILL || rc == -1) << rc;
    std::string state = Classify(s, target);
    EXPECT_TRUE(state == "old" || state == "new") << state;
    (state == "old" ? rolled_back : finished)++;
    // Whatever was settled, the installation can be made again.
    EXPECT_EQ(MsiInstallProductA(new_pkg.c_str(), EngineCommandLine(target).c_str()), MSI_OK);
    EXPECT_EQ(Classify(s, target), "new");

    // A first installation killed at the same point.
    ASSERT_EQ(MsiConfigureProductA(kAppNew.product_code.c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT), MSI_OK);
    ASSERT_EQ(Classify(s, target), "none");
    rc = Tqmsi(std::string("TQ_TEST_MSI_CRASH_AT=") + point, InstallArgs(old_pkg));
    state = Classify(s, target);
    EXPECT_TRUE(state == "none" || state == "old") << state;
  }
  EXPECT_GT(rolled_back, 0);
  EXPECT_GT(finished, 0);
  for (const char* point : remove_points) {
    SCOPED_TRACE(std::string("remove at ") + point);
    TempSystem s;
    fs::create_directories(s.path("targets"));
    target = s.path("targets/app");
    ASSERT_EQ(MsiInstallProductA(old_pkg.c_str(), EngineCommandLine(target).c_str()), MSI_OK);
    int rc = Tqmsi(std::string("TQ_TEST_MSI_CRASH_AT=") + point, "remove " + MsiFixtureQuote(kAppOld.product_code));
    EXPECT_TRUE(rc == 128 + SIGKILL || rc == -1) << rc;
    std::string state = Classify(s, target);
    EXPECT_TRUE(state == "old" || state == "none") << state;
  }
}

// Installs `old_pkg` in a fresh system, then runs `op` with the Nth
// call of each kind failing, for every N until no such call is reached:
// 1603 with the old state intact, or success with `done_state`. With
// `require_call` the operation must make at least one call of each kind.
void SweepFaults(const std::string& old_pkg, std::initializer_list<PlatSyscall> kinds, const std::function<uint32_t()>& op,
                 const char* done_state, bool require_call, std::string* target) {
  for (PlatSyscall kind : kinds) {
    for (int nth = 1; nth < 60; nth++) {
      SCOPED_TRACE(testing::Message() << "kind " << kind << " call " << nth);
      TempSystem s;
      fs::create_directories(s.path("targets"));
      *target = s.path("targets/app");
      ASSERT_EQ(MsiInstallProductA(old_pkg.c_str(), EngineCommandLine(*target).c_str()), MSI_OK);
      PlatFaultClear();
      PlatFaultInject(kind, nth, EIO, false);
      uint32_t rc = op();
      bool hit = PlatFaultCalls(kind) >= nth;
      PlatFaultClear();
      std::string state = Classify(s, *target);
      if (rc == MSI_OK) {
        EXPECT_EQ(state, done_state);
      } else {
        EXPECT_EQ(rc, MSI_ERROR_INSTALL_FAILURE);
        EXPECT_EQ(state, "old");
      }
      if (!hit) {
        if (require_call) {
          EXPECT_GT(nth, 1) << "no call of this kind was made";
        }
        break;
      }
    }
  }
}

// A system call failing at any point of an upgrade: 1603 with the old state
// intact, or success with the new one.
TEST_F(InstallerRobust, FailingSystemCalls) {
  SweepFaults(old_pkg, {PLAT_SYS_OPEN, PLAT_SYS_WRITE, PLAT_SYS_RENAME, PLAT_SYS_FSYNC, PLAT_SYS_UNLINK, PLAT_SYS_MKDIR},
              [&] { return MsiInstallProductA(new_pkg.c_str(), EngineCommandLine(target).c_str()); }, "new", true,
              &target);
}

// A system call failing at any point of a removal: 1603 with the product
// intact, or success with nothing left.
TEST_F(InstallerRobust, FailingSystemCallsWhileRemoving) {
  SweepFaults(old_pkg, {PLAT_SYS_OPEN, PLAT_SYS_WRITE, PLAT_SYS_RENAME, PLAT_SYS_FSYNC, PLAT_SYS_UNLINK},
              [&] {
                return MsiConfigureProductA(kAppOld.product_code.c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
              },
              "none", false, &target);
}

// A journal damaged from outside is set aside; the installed state stays.
TEST_F(InstallerRobust, DamagedJournal) {
  ASSERT_EQ(MsiInstallProductA(old_pkg.c_str(), cmd.c_str()), MSI_OK);
  sys.WriteFile("system/installer/journal", "tq-installer-journal 1\ntxn\tcut off");
  EXPECT_EQ(Classify(sys, target), "old");
  EXPECT_TRUE(fs::exists(sys.path("system/installer/journal.bad")));
  EXPECT_EQ(MsiInstallProductA(new_pkg.c_str(), cmd.c_str()), MSI_OK);
  EXPECT_EQ(Classify(sys, target), "new");
}

// Names that lead out of the target, and links in the target tree that
// lead elsewhere: refused before anything is written anywhere.
TEST_F(InstallerRobust, NothingWrittenOutsideTheTarget) {
  std::string outside = sys.path("outside");
  fs::create_directories(outside);
  std::ofstream(outside + "/victim.txt") << "untouched";
  struct {
    const char* name;
    const char* sql;
    void (*prepare)(const std::string& target, const std::string& outside);
  } cases[] = {
      {"file dot-dot", "UPDATE `File` SET `FileName` = '..' WHERE `File` = 'Readme'", nullptr},
      {"file with slashes", "UPDATE `File` SET `FileName` = '../../outside/victim.txt' WHERE `File` = 'Readme'",
       nullptr},
      {"file with backslashes", "UPDATE `File` SET `FileName` = 'x|..\\..\\victim.txt' WHERE `File` = 'Readme'",
       nullptr},
      {"absolute file", "UPDATE `File` SET `FileName` = '/victim.txt' WHERE `File` = 'Readme'", nullptr},
      {"directory dot-dot", "UPDATE `Directory` SET `DefaultDir` = '..' WHERE `Directory` = 'BinDir'", nullptr},
      {"directory short|long", "UPDATE `Directory` SET `DefaultDir` = 'BIN|..:src' WHERE `Directory` = 'BinDir'",
       nullptr},
      {"directory absolute", "UPDATE `Directory` SET `DefaultDir` = '/outside' WHERE `Directory` = 'DataDir'",
       nullptr},
      {"cabinet outside", "UPDATE `Media` SET `Cabinet` = '../app.cab' WHERE `DiskId` = 1", nullptr},
      {"linked directory", "",
       [](const std::string& t, const std::string& o) {
         fs::create_directories(t);
         fs::create_directory_symlink(o, t + "/bin");
       }},
      {"linked deeper directory", "",
       [](const std::string& t, const std::string& o) {
         fs::create_directories(t + "/data");
         fs::create_directory_symlink(o, t + "/data/deep dir");
       }},
      {"linked file", "",
       [](const std::string& t, const std::string& o) {
         fs::create_directories(t);
         fs::create_symlink(o + "/victim.txt", t + "/readme.txt");
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(target);
    if (c.prepare) c.prepare(target, outside);
    MsiState before = ReadMsiState(sys);
    std::string pkg = Variant(sys, "escape", c.sql);
    EXPECT_EQ(MsiInstallProductA(pkg.c_str(), cmd.c_str()), MSI_ERROR_INSTALL_FAILURE);
    EXPECT_EQ(ReadMsiState(sys), before) << DescribeMsiState(ReadMsiState(sys));
    EXPECT_EQ(fs::directory_entry(outside + "/victim.txt").file_size(), 9u);
    EXPECT_EQ(std::distance(fs::directory_iterator(outside), fs::directory_iterator()), 1);
  }
}

// Damaged packages, cabinets and property strings: a result code, nothing
// half-installed.
TEST_F(InstallerRobust, BadInput) {
  std::string dir = sys.path("pkgs");
  fs::create_directories(dir);
  auto with_bytes = [&](const std::string& name, auto change) {
    std::string path = dir + "/" + name;
    std::ifstream in(old_pkg, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    change(&bytes);
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  };
  auto with_cab = [&](const std::string& name, auto change) {
    std::string pkg = Variant(sys, name, "");
    std::string cab = dir + "/" + name + ".cab";
    EXPECT_EQ(MsiFixtureExtractStream(pkg, "app.cab", cab), 0);
    std::ifstream in(cab, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    change(&bytes);
    std::ofstream(cab, std::ios::binary | std::ios::trunc) << bytes;
    EXPECT_EQ(MsiFixtureAddStream(pkg, "app.cab", cab), 0);
    return pkg;
  };
  const std::string no_installdir = "ALLUSERS=1 TARGETDIR=\"" + target + "\"";
  struct {
    std::string name;
    std::string package;
    std::string command_line;
    uint32_t want;
  } cases[] = {
      {"missing file", dir + "/none.msi", cmd, MSI_ERROR_INSTALL_PACKAGE_OPEN_FAILED},
      {"a directory", dir, cmd, MSI_ERROR_INSTALL_PACKAGE_OPEN_FAILED},
      {"empty file", with_bytes("empty.msi", [](std::string* b) { b->clear(); }), cmd,
       MSI_ERROR_INSTALL_PACKAGE_OPEN_FAILED},
      {"truncated", with_bytes("truncated.msi", [](std::string* b) { b->resize(b->size() / 3); }), cmd,
       MSI_ERROR_INSTALL_PACKAGE_OPEN_FAILED},
      {"first block only", with_bytes("header.msi", [](std::string* b) { b->resize(512); }), cmd,
       MSI_ERROR_INSTALL_PACKAGE_OPEN_FAILED},
      {"corrupt header", with_bytes("corrupt.msi", [](std::string* b) { b->replace(0, 8, "NOTMSI!!"); }), cmd,
       MSI_ERROR_INSTALL_PACKAGE_OPEN_FAILED},
      {"text", with_bytes("text.msi", [](std::string* b) { *b = std::string(4096, 'x'); }), cmd,
       MSI_ERROR_INSTALL_PACKAGE_OPEN_FAILED},
      {"bad checksum", with_cab("checksum", [](std::string* b) { (*b)[b->size() - 3] ^= 0x55; }), cmd,
       MSI_ERROR_INSTALL_FAILURE},
      {"truncated cabinet", with_cab("cabcut", [](std::string* b) { b->resize(b->size() - 10); }), cmd,
       MSI_ERROR_INSTALL_FAILURE},
      {"cabinet header only", with_cab("cabhead", [](std::string* b) { b->resize(40); }), cmd,
       MSI_ERROR_INSTALL_FAILURE},
      {"missing cabinet stream", Variant(sys, "nostream", "UPDATE `Media` SET `Cabinet` = '#none.cab' WHERE `DiskId` = 1"),
       cmd, MSI_ERROR_INSTALL_FAILURE},
      {"member missing",
       Variant(sys, "member",
               "DELETE FROM `File` WHERE `File` = 'Readme'\n"
               "INSERT INTO `File` (`File`, `Component_`, `FileName`, `FileSize`, `Attributes`, `Sequence`) "
               "VALUES ('Other', 'TopFiles', 'other.txt', 7, 512, 1)"),
       cmd, MSI_ERROR_INSTALL_FAILURE},
      {"size differs", Variant(sys, "size", "UPDATE `File` SET `FileSize` = 999 WHERE `File` = 'Readme'"), cmd,
       MSI_ERROR_INSTALL_FAILURE},
      {"file past the media", Variant(sys, "seq", "UPDATE `File` SET `Sequence` = 99 WHERE `File` = 'Readme'"), cmd,
       MSI_ERROR_INSTALL_FAILURE},
      {"directory cycle",
       Variant(sys, "cycle", "UPDATE `Directory` SET `Directory_Parent` = 'BinDir' WHERE `Directory` = 'MakerDir'"),
       no_installdir, MSI_ERROR_INSTALL_FAILURE},
      {"per-user registry", Variant(sys, "hkcu", "UPDATE `Registry` SET `Root` = 1"), cmd, MSI_ERROR_INSTALL_FAILURE},
      {"no product code", Variant(sys, "nocode", "DELETE FROM `Property` WHERE `Property` = 'ProductCode'"), cmd,
       MSI_ERROR_INSTALL_FAILURE},
      {"huge property string", old_pkg, "A=" + std::string(40000, 'x'), MSI_ERROR_INVALID_COMMAND_LINE},
      {"unclosed quote", old_pkg, "ALLUSERS=1 INSTALLDIR=\"" + target, MSI_ERROR_INVALID_COMMAND_LINE},
      {"no name", old_pkg, "=1", MSI_ERROR_INVALID_COMMAND_LINE},
      {"no value", old_pkg, "ALLUSERS", MSI_ERROR_INVALID_COMMAND_LINE},
      {"text after quote", old_pkg, "INSTALLDIR=\"a\"b", MSI_ERROR_INVALID_COMMAND_LINE},
      {"huge directory", old_pkg, "ALLUSERS=1 INSTALLDIR=\"" + target + "/" + std::string(300, 'd') + "\"",
       MSI_ERROR_INSTALL_FAILURE},
      {"very long directory", old_pkg, [&] {
         std::string p = target;
         for (int i = 0; i < 30; i++) p += "/" + std::string(200, 'd');
         return "ALLUSERS=1 INSTALLDIR=\"" + p + "\"";
       }(),
       MSI_ERROR_INSTALL_FAILURE},
      {"relative directory", old_pkg, "ALLUSERS=1 INSTALLDIR=relative", MSI_ERROR_INSTALL_FAILURE},
  };
  MsiState before = ReadMsiState(sys);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(MsiInstallProductA(c.package.c_str(), c.command_line.c_str()), c.want);
    if (c.want == MSI_ERROR_INSTALL_PACKAGE_OPEN_FAILED) {
      MSIHANDLE h = 0;
      EXPECT_EQ(MsiOpenPackageA(c.package.c_str(), &h), MSI_ERROR_INSTALL_PACKAGE_OPEN_FAILED);
    }
    EXPECT_EQ(ReadMsiState(sys), before) << DescribeMsiState(ReadMsiState(sys));
  }
  EXPECT_EQ(MsiInstallProductA(nullptr, cmd.c_str()), MSI_ERROR_INVALID_PARAMETER);
  EXPECT_EQ(MsiInstallProductA(old_pkg.c_str(), nullptr), MSI_OK);  // no properties at all
  EXPECT_EQ(MsiConfigureProductA(kAppOld.product_code.c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_LOCAL),
            MSI_ERROR_INVALID_PARAMETER);
}

// --- A package that stops a running service --------------------------------

namespace {

std::mutex g_msvc_lock;
std::condition_variable g_msvc_cv;
bool g_msvc_stop = false;
SERVICE_STATUS_HANDLE g_msvc_handle = nullptr;

void MsvcReport(uint32_t state) {
  SERVICE_STATUS st{SERVICE_WIN32_OWN_PROCESS, state, SERVICE_ACCEPT_STOP, 0, 0, 0, 0};
  SetServiceStatus(g_msvc_handle, &st);
}

uint32_t MsvcHandler(uint32_t control, uint32_t, void*, void*) {
  if (control == SERVICE_CONTROL_STOP) {
    MsvcReport(SERVICE_STOP_PENDING);
    std::lock_guard<std::mutex> g(g_msvc_lock);
    g_msvc_stop = true;
    g_msvc_cv.notify_all();
    return 0;
  }
  return control == SERVICE_CONTROL_INTERROGATE ? 0u : static_cast<uint32_t>(ERROR_CALL_NOT_IMPLEMENTED);
}

void MsvcMain(uint32_t, char** argv) {
  g_msvc_handle = RegisterServiceCtrlHandlerExA(argv[0], MsvcHandler, nullptr);
  if (!g_msvc_handle) return;
  MsvcReport(SERVICE_RUNNING);
  {
    std::unique_lock<std::mutex> g(g_msvc_lock);
    g_msvc_cv.wait_for(g, std::chrono::minutes(2), [] { return g_msvc_stop; });
  }
  MsvcReport(SERVICE_STOPPED);
}

// A service program that runs until it is stopped.
TQ_CHILD_ROLE(msi_svc) {
  SERVICE_TABLE_ENTRYA table[] = {{"", MsvcMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherA(table) ? 0 : 4;
}

std::string SelfPath() {
  std::error_code ec;
  return fs::read_symlink("/proc/self/exe", ec).string();
}

uint32_t ServiceState(SC_HANDLE s) {
  SERVICE_STATUS_PROCESS st{};
  uint32_t needed = 0;
  QueryServiceStatusEx(s, SC_STATUS_PROCESS_INFO, &st, sizeof st, &needed);
  return st.dwCurrentState;
}

// Waits (bounded) for the service to read `state`; returns the last one.
uint32_t WaitServiceState(SC_HANDLE s, uint32_t state) {
  int64_t deadline = PlatMonotonicMs() + kWaitMs;
  while (ServiceState(s) != state && PlatMonotonicMs() < deadline) PlatSleepMs(10);
  return ServiceState(s);
}

}  // namespace

// The update service's own product stops it while it is installed and while
// it is removed.
TEST_F(InstallerRobust, StopsTheServiceItNames) {
  if (!PlatIsAdministrator()) GTEST_SKIP() << "the service manager's tests run as root";
  MsiTestProduct svc{"tqsvcpkg-win64", "1.0.0", "{6F1C2A10-0000-4000-8000-0000000000C1}",
                     "{6F1C2A10-CCCC-4000-8000-00000000000C}", ""};
  std::string pkg = SharedPackage(MSI_FIXTURE_SOURCE("service"), svc, "svc", {{"Service", "TQUpdateD64"}});
  ASSERT_FALSE(pkg.empty());
  SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  ASSERT_NE(scm, nullptr);
  std::string program = "\"" + SelfPath() + "\" --tq-child msi_svc";
  SC_HANDLE s = CreateServiceA(scm, "TQUpdateD64", "TQUpdateD64", SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                               SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, program.c_str(), nullptr, nullptr, nullptr,
                               nullptr, nullptr);
  ASSERT_NE(s, nullptr) << PlatGetLastError();
  ASSERT_TRUE(StartServiceA(s, 0, nullptr)) << PlatGetLastError();
  ASSERT_EQ(WaitServiceState(s, SERVICE_RUNNING), static_cast<uint32_t>(SERVICE_RUNNING));

  EXPECT_EQ(MsiInstallProductA(pkg.c_str(), cmd.c_str()), MSI_OK);
  EXPECT_EQ(ServiceState(s), static_cast<uint32_t>(SERVICE_STOPPED));
  EXPECT_TRUE(fs::exists(target + "/service.txt"));

  ASSERT_TRUE(StartServiceA(s, 0, nullptr)) << PlatGetLastError();
  ASSERT_EQ(WaitServiceState(s, SERVICE_RUNNING), static_cast<uint32_t>(SERVICE_RUNNING));
  EXPECT_EQ(MsiConfigureProductA(svc.product_code.c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT), MSI_OK);
  EXPECT_EQ(ServiceState(s), static_cast<uint32_t>(SERVICE_STOPPED));
  EXPECT_FALSE(fs::exists(target));

  // A service that is not running or not there is no obstacle.
  EXPECT_EQ(MsiInstallProductA(pkg.c_str(), cmd.c_str()), MSI_OK);
  EXPECT_TRUE(DeleteService(s));
  CloseServiceHandle(s);
  CloseServiceHandle(scm);
  EXPECT_EQ(MsiConfigureProductA(svc.product_code.c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT), MSI_OK);
}
