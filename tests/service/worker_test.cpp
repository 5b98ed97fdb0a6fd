// The update worker run as a real process: in the foreground, under the
// service manager, and answering requests of tqupdreq. Waits run at one
// millisecond per second (TQ_TEST_SECOND_MS).
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "platform/error.h"
#include "platform/event.h"
#include "platform/file.h"
#include "platform/service_manager.h"
#include "platform/system.h"
#include "runtime/env.h"
#include "tests/support/child.h"
#include "tests/support/msi_fixture.h"
#include "tests/support/service_state.h"
#include "tests/support/temp_system.h"

namespace {

const std::string kTqupdd = TQ_BINARY_DIR "/service/tqupdd";
const std::string kTqupdreq = TQ_BINARY_DIR "/service/tqupdreq";

// A schedule window that is due at any time of day.
const char kAllDay[] = "Schedule StartTime=12:00am,EndTime=11:59pm,Interval=5M\n";

class Worker : public testing::Test {
 protected:
  void SetUp() override {
    sys_.SetEnv("TQ_TEST_SECOND_MS", "1");
    sys_.WriteFile("home-tq/TQUpdate/Work/.keep", "");
  }
  void TearDown() override {
    TqRunCommand(kTqupdd + " -v 0 stop remove");
    for (pid_t pid : background_) {
      ::kill(pid, SIGKILL);
      TqWaitChild(pid);
    }
  }

  void Config(const std::string& install_type, const std::string& extra) {
    sys_.WriteFile("home-tq/TQUpdate/Config/tqupd-cnf.txt",
                   "Protocol http\nServer localhost\nScript \"/upd/updscript.txt\"\nLogLevel 9\nInstallType " +
                       install_type + "\n" + extra);
  }

  std::string Log() const { return sys_.ReadFile("home-tq/TQUpdate/Log/tqupd-log.txt"); }

  static int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }

  // Runs tqupdd in the foreground in the background of the test.
  pid_t StartForeground() {
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
      ::execl(kTqupdd.c_str(), kTqupdd.c_str(), "--fg", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    background_.push_back(pid);
    return pid;
  }

  // Waits (bounded) until the log holds `what`.
  bool WaitForLog(const std::string& what, int count = 1) {
    for (int i = 0; i < 400; ++i) {
      if (Count(Log(), what) >= count) return true;
      PlatSleepMs(25);
    }
    return false;
  }

  // Waits (bounded) for a background worker to end; its exit code.
  int WaitForExit(pid_t pid) {
    for (int i = 0; i < 800; ++i) {
      int status = 0;
      if (::waitpid(pid, &status, WNOHANG) == pid) {
        background_.erase(std::find(background_.begin(), background_.end(), pid));
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      PlatSleepMs(25);
    }
    return -2;
  }

  TempSystem sys_;
  std::vector<pid_t> background_;
};

}  // namespace

TEST_F(Worker, InstallTypesAndPassLimit) {
  const struct {
    const char* type;
    std::string extra;
    int waits;          // "Waiting up to" lines
    bool events;        // the request events were created
    int sched_checks;   // "SchedCheck Success" lines
  } cases[] = {
      // Foreground Automatic with no pass limit: one pass, then the end (the
      // default window may or may not be due now: not counted).
      {"Automatic", "", 1, false, -1},
      {"Automatic", std::string(kAllDay) + "MaxLoopCount 2\n", 2, false, 1},
      {"Prompt", std::string(kAllDay) + "MaxLoopCount 3\n", 3, true, 1},
      {"OnRequest", std::string(kAllDay) + "MaxLoopCount 3\n", 3, true, 0},
  };
  for (const auto& c : cases) {
    Config(c.type, c.extra);
    std::remove(sys_.path("home-tq/TQUpdate/Log/tqupd-log.txt").c_str());
    std::string out;
    EXPECT_EQ(TqRunCommand(kTqupdd + " --fg", &out), 0) << c.type << out;
    std::string log = Log();
    EXPECT_EQ(Count(log, "Waiting up to: "), c.waits) << c.type << "\n" << log;
    EXPECT_EQ(Count(log, "Install Event: "), c.events ? 1 : 0) << c.type;
    if (c.sched_checks >= 0) {
      EXPECT_EQ(Count(log, "SchedCheck Success: "), c.sched_checks) << c.type;
    }
    EXPECT_EQ(Count(log, "TQUpdateD64 - Version: 6.7.5-01 - Started - User: "), 1);
    EXPECT_EQ(Count(log, "TQUpdateD64 - Stopped"), 1);
  }
}

TEST_F(Worker, BadConfigurationAndWorkDirectoryEndTheWorker) {
  std::string out;
  // No configuration file.
  EXPECT_EQ(TqRunCommand(kTqupdd + " --fg", &out), 255);
  EXPECT_NE(Log().find("Unable to read config file: "), std::string::npos) << Log();
  // Test mode: one check and the result -1.
  Config("Prompt", "");
  EXPECT_EQ(TqRunCommand(kTqupdd + " -T", &out), 255);
  EXPECT_NE(Log().find("Checking for Software Updates"), std::string::npos);
  // The work directory must exist.
  std::remove(sys_.path("home-tq/TQUpdate/Work/.keep").c_str());
  PlatRemoveDir(sys_.path("home-tq/TQUpdate/Work").c_str());
  EXPECT_EQ(TqRunCommand(kTqupdd + " --fg", &out), 255);
  EXPECT_NE(Log().find("Can't CD to: " + sys_.home() + "/TQUpdate/Work"), std::string::npos) << Log();
}

TEST_F(Worker, WorkFileAgeDecidesWhetherWorkIsPending) {
  if (!MsiFixtureToolsPresent()) GTEST_SKIP() << "wixl is not installed";
  RVInit(nullptr);
  std::string work = sys_.path("common/TQ/tqupd-work.txt");
  Config("Prompt", std::string(kAllDay) + "OnStartCheck True\nMaxLoopCount 1\n");
  // A valid line whose package is in the work directory and not installed:
  // read back, it would be pending work.
  MsiTestProduct p{"pending-win64", "1.2.3", "{6A0C1E52-1F0B-4E8C-9A51-3D2A1B7C0001}",
                   "{6A0C1E52-1F0B-4E8C-9A51-3D2A1B7C0002}", "extra.txt"};
  ASSERT_NE(MsiFixtureBuild(sys_.path("home-tq/TQUpdate/Work"), MSI_FIXTURE_SOURCE("app"), p, "pending"), "");
  const std::string line =
      "Name=\"pending-win64\",Desc=\"d\",CurVersion=\"NotInstalled\",NewVersion=\"1.2.3-00\","
      "InstallFile=\"pending.msi\"\n";
  // Two days old: dropped at start, so the start-up check runs.
  sys_.WriteFile("common/TQ/tqupd-work.txt", line);
  ASSERT_EQ(PlatSetCreationTime(work.c_str(), PlatTimeNow() - 2 * 86400), 0);
  EXPECT_EQ(TqRunCommand(kTqupdd + " --fg"), 0);
  PlatFileInfo info;
  EXPECT_NE(PlatFileStat(work.c_str(), &info), 0);
  EXPECT_EQ(Count(Log(), "OnStart - Checking for updates"), 1) << Log();
  // An hour old: read, work is pending, no start-up or scheduled check.
  std::remove(sys_.path("home-tq/TQUpdate/Log/tqupd-log.txt").c_str());
  sys_.WriteFile("common/TQ/tqupd-work.txt", line);
  ASSERT_EQ(PlatSetCreationTime(work.c_str(), PlatTimeNow() - 3600), 0);
  EXPECT_EQ(TqRunCommand(kTqupdd + " --fg"), 0);
  EXPECT_EQ(PlatFileStat(work.c_str(), &info), 0);
  EXPECT_EQ(Count(Log(), "OnStart - Checking for updates"), 0) << Log();
  EXPECT_EQ(Count(Log(), "SchedCheck Success: "), 0) << Log();
}

TEST_F(Worker, RequestsThroughTqupdreq) {
  std::string out;
  EXPECT_EQ(TqRunCommand(kTqupdreq + " check -w 1", &out), 1) << out;
  EXPECT_EQ(out, "No update worker with request events is running\n");
  EXPECT_EQ(TqRunCommand(kTqupdreq + " frobnicate", &out), 3);

  Config("OnRequest", "MaxLoopCount 1000\n");
  pid_t worker = StartForeground();
  ASSERT_TRUE(WaitForLog("Waiting up to: ")) << Log();
  // Nothing serves the script: the check is answered and reported failed,
  // with the failure's message and its own exit status.
  out.clear();
  EXPECT_EQ(TqRunCommand(kTqupdreq + " check -w 20", &out), 5) << out;
  EXPECT_EQ(out,
            "The update worker answered the check request: it failed: Failed to fetch update script: "
            "/upd/updscript.txt\n");
  EXPECT_EQ(Count(Log(), "Got Check Event"), 1);
  EXPECT_EQ(Count(Log(), "Checking for Software Updates"), 1);
  // The failed check's outcome does not stick to the next request.
  out.clear();
  EXPECT_EQ(TqRunCommand(kTqupdreq + " install -w 20", &out), 0) << out;
  EXPECT_EQ(out, "The update worker answered the install request\nLast message: No Work To Do\n");
  EXPECT_EQ(Count(Log(), "Got Install Event"), 1);
  EXPECT_EQ(Count(Log(), "No Work To Do"), 1);
  EXPECT_EQ(Count(Log(), "Setting CompleteEvent"), 2);
  ::kill(worker, SIGKILL);
  WaitForExit(worker);
}

// A worker with install type Automatic offers no requests: tqupdreq says
// which install types do.
TEST_F(Worker, TqupdreqNamesTheInstallTypesThatTakeRequests) {
  Config("Automatic", "MaxLoopCount 1000\n");
  pid_t worker = StartForeground();
  ASSERT_TRUE(WaitForLog("Waiting up to: ")) << Log();
  std::string out;
  EXPECT_EQ(TqRunCommand(kTqupdreq + " install -w 5", &out), 1) << out;
  EXPECT_EQ(out, "The update worker runs with install type Automatic; requests need install type Prompt or OnRequest\n");
  ::kill(worker, SIGKILL);
  WaitForExit(worker);
  out.clear();
  EXPECT_EQ(TqRunCommand(kTqupdreq + " install -w 5", &out), 1) << out;
  EXPECT_EQ(out, "No update worker with request events is running\n");
}

TEST_F(Worker, RequestWithoutAnswerTimesOut) {
  // Events that exist without a worker that answers them.
  RVInit(nullptr);
  std::string home = RVGetEnv("RV_HOME");
  PlatEvent* check = PlatEventCreate(("Global\\" + home + "/tqupd-check-event").c_str(), false, false, nullptr);
  PlatEvent* complete = PlatEventCreate(("Global\\" + home + "/tqupd-complete-event").c_str(), true, true, nullptr);
  std::string out;
  // The answer to an earlier request does not count: tqupdreq clears it first.
  EXPECT_EQ(TqRunCommand(kTqupdreq + " check -w 1", &out), 2) << out;
  EXPECT_EQ(out, "No answer from the update worker within 1 seconds\n");
  EXPECT_EQ(PlatEventWait(check, 0), WAIT_OBJECT_0);
  PlatEventClose(check);
  PlatEventClose(complete);
}



TEST_F(Worker, UnderTheService) {
  // A stop during the start-up wait ends the worker without a check.
  Config("Prompt", "OnStartCheck True\nStartUpWait 100000\n");
  ASSERT_EQ(TqRunCommand(kTqupdd + " -v 0 install start"), 0);
  ASSERT_TRUE(WaitForLog("Startup Wait: 100000 seconds")) << Log();
  ASSERT_EQ(TqRunCommand(kTqupdd + " -v 0 stop"), 0);
  EXPECT_TRUE(TqWaitServiceState("TQUpdateD64", SERVICE_STOPPED));
  EXPECT_EQ(Count(Log(), "Checking for Software Updates"), 0) << Log();
  EXPECT_EQ(Count(Log(), "TQUpdateD64 - Stopped"), 1) << Log();

  // A stop request ends the loop's wait.
  Config("Automatic", "LogLevel 9\n");
  ASSERT_EQ(TqRunCommand(kTqupdd + " -v 0 start"), 0);
  ASSERT_TRUE(WaitForLog("Waiting up to: 3600 seconds")) << Log();
  ASSERT_EQ(TqRunCommand(kTqupdd + " -v 0 stop"), 0);
  EXPECT_TRUE(TqWaitServiceState("TQUpdateD64", SERVICE_STOPPED));
  EXPECT_EQ(Count(Log(), "TQUpdateD64 - Stopped"), 2) << Log();

  // MaxLoopCount 3: three passes, then the worker ends and the service stops.
  Config("Automatic", std::string(kAllDay) + "MaxLoopCount 3\n");
  ASSERT_EQ(TqRunCommand(kTqupdd + " -v 0 start"), 0);
  EXPECT_TRUE(WaitForLog("TQUpdateD64 - Stopped", 3)) << Log();
  EXPECT_TRUE(TqWaitServiceState("TQUpdateD64", SERVICE_STOPPED));
}
