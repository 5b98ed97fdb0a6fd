// The update worker: start-up, the loop with its schedule test, waits,
// install and check requests, and the end.
#include "service/worker.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "connection/ext_runtime.h"
#include "engine/config.h"
#include "engine/install.h"
#include "engine/products.h"
#include "engine/update_check.h"
#include "engine/work_dir.h"
#include "engine/work_entry.h"
#include "engine/work_file.h"
#include "platform/error.h"
#include "platform/event.h"
#include "platform/file.h"
#include "platform/named_mutex.h"
#include "platform/system.h"
#include "runtime/env.h"
#include "runtime/log.h"
#include "runtime/message.h"
#include "runtime/request_outcome.h"
#include "runtime/util.h"
#include "service/command_line.h"
#include "service/identity.h"
#include "service/own_paths.h"
#include "service/schedule.h"
#include "service/service_wrapper.h"

namespace {

// Longest work directory path kept (MAX_PATH).
constexpr size_t kWorkDirMax = 260;

// Age after which a work file is dropped at start, in seconds.
constexpr int64_t kWorkFileMaxAge = 86400;

// How long a pass with pending work waits for the work mutex (ms).
constexpr uint32_t kPendingMutexWait = 10000;

// The worker's objects, one set per run.
struct UpdWorkerState {
  PlatMutex* work_mutex;      // "Global\<RV_HOME>/tqupd-work-mtx"
  PlatEvent* install_event;   // auto reset; Prompt and OnRequest only
  PlatEvent* check_event;     // auto reset; Prompt and OnRequest only
  PlatEvent* complete_event;  // manual reset; Prompt and OnRequest only
  int32_t passes;             // passes of the loop so far
  uint32_t second_ms;         // milliseconds per second of waiting (1000)
};

// A work file older than a day is recreated with a fresh creation time and
// removed, so a later file of that name starts young. The age is the file's
// own (never a link's target); anything but a regular file at the name was
// not made by the service and is removed.
void DropOldWorkFile() {
  const char* path = UpdWorkFilePath();
  PlatFileInfo info;
  if (PlatFileStat(path, &info) != 0 || (info.is_dir && !info.is_link)) return;
  if (info.is_link || !info.is_regular) {
    UpdMessage(9, "Refusing Work File: %s - not a regular file", path);
    PlatDeleteFile(path);
    return;
  }
  int64_t now = PlatTimeNow();
  if (now - info.creation_time <= kWorkFileMaxAge) return;
  FILE* f = PlatFileOpen(path, "w");
  if (f) {
    PlatFileSync(f);
    std::fclose(f);
  }
  PlatSetCreationTime(path, now);
  PlatDeleteFile(path);
}

// Creates one named event and resets it; logs the failure text on error.
// Request events (`request`) may be signalled by every local user.
PlatEvent* CreateEvent(const char* suffix, bool manual_reset, bool request, const char* created, const char* failed) {
  std::string name = UpdGlobalObjectName(suffix);
  PlatEvent* e = PlatEventCreate(name.c_str(), manual_reset, false,
                                 request ? UpdRequestEventDescriptor() : UpdWorkObjectsDescriptor());
  if (!e) {
    UpdMessage(9, failed, name.c_str(), static_cast<int>(PlatGetLastError()));
    return nullptr;
  }
  PlatEventReset(e);
  if (created) UpdMessage(0, created, name.c_str());
  return e;
}

// The start-up check step: a check when nothing is pending and OnStartCheck is on.
void OnStartCheck() {
  if (!g_upd_work_pending && (g_upd_config->flags & UPD_CONFIG_ONSTARTCHECK)) {
    UpdMessage(0, "OnStart - Checking for updates");
    UpdCheck();
  }
}

// Leaves the outcome of the request just served for its requester and
// sets the complete event: the outcome is in place before anyone wakes.
void AnswerRequest(UpdWorkerState* w, const char* request, bool failed) {
  RVRequestOutcome outcome;
  outcome.request = request;
  outcome.failed = failed;
  outcome.time = PlatTimeNow();
  outcome.message = failed ? UpdMessageLastError() : UpdMessageLast();
  if (failed && outcome.message.empty()) outcome.message = UpdMessageLast();
  RVWriteRequestOutcome(outcome);
  UpdMessage(0, "Setting CompleteEvent");
  PlatEventSet(w->complete_event);
}

// Installs the pending work, reads the work file back (dropping what is
// installed now) and only then sets the complete event, so a requester
// woken by it finds the work file in its new state.
void Installation(UpdWorkerState* w) {
  UpdMessageBeginRequest();
  UpdMessage(0, "WrkInstallPromptCalled");
  bool failed = UpdInstall() != 0;
  if (!failed) UpdPurgePackages();
  UpdReadWorkFile();
  AnswerRequest(w, "install", failed);
}

bool Acquired(uint32_t r) { return r == WAIT_OBJECT_0 || r == WAIT_ABANDONED; }

// One pass of the loop; false when the loop must end.
bool Pass(UpdWorkerState* w, uint32_t wait_ms) {
  bool skip_schedule = false;
  // 1. Pending work: an install request is served under the work mutex.
  if (g_upd_work_pending) {
    if (Acquired(PlatMutexWait(w->work_mutex, kPendingMutexWait))) {
      if (w->install_event && PlatEventWait(w->install_event, 0) == WAIT_OBJECT_0) Installation(w);
      else UpdReadWorkFile();
      PlatMutexRelease(w->work_mutex);
    }
    skip_schedule = g_upd_work_pending != 0;
  }
  // 2. Scheduled check, never for OnRequest.
  if (!skip_schedule && g_upd_config->install_type != UPD_INSTALL_ONREQUEST) {
    int64_t now = PlatTimeNow();
    if (UpdScheduleDue(g_upd_config, now)) {
      time_t t = static_cast<time_t>(now);
      struct tm local;
      localtime_r(&t, &local);
      UpdMessage(2, "SchedCheck Success: %02d %02d:%02d:%02d", local.tm_mday, local.tm_hour, local.tm_min,
                 local.tm_sec);
      UpdCheck();
    }
  }
  // 3-5. Wait.
  UpdMessage(0, "Waiting up to: %d seconds", g_upd_config->loop_wait);
  PlatEvent* stop = UpdStopEvent();
  if (stop || w->install_event) {
    PlatEvent* list[3];
    uint32_t count = 0;
    if (stop) list[count++] = stop;
    uint32_t install_at = count;
    if (w->install_event) list[count++] = w->install_event;
    uint32_t check_at = count;
    if (w->check_event) list[count++] = w->check_event;
    uint32_t r = PlatEventWaitAny(list, count, wait_ms);
    if (r != WAIT_TIMEOUT && r != WAIT_FAILED) {
      uint32_t which = r - WAIT_OBJECT_0;
      if (stop && which == 0) return false;
      PlatMutexWait(w->work_mutex, PLAT_INFINITE);
      if (w->install_event && which == install_at) {
        UpdMessage(0, "Got Install Event");
        UpdReadWorkFile();
        if (!g_upd_work_pending) {
          UpdMessageBeginRequest();
          UpdMessage(0, "No Work To Do");
          AnswerRequest(w, "install", false);
        } else {
          Installation(w);
        }
      } else if (w->check_event && which == check_at) {
        UpdMessageBeginRequest();
        UpdMessage(0, "Got Check Event");
        bool failed = UpdCheck() != 0;
        UpdReadWorkFile();
        AnswerRequest(w, "check", failed);
      }
      PlatMutexRelease(w->work_mutex);
    }
  } else {
    // Foreground with install type Automatic: nothing can wake the worker,
    // so it ends once the pass counter has reached MaxLoopCount (at once
    // when there is no limit).
    if (w->passes >= g_upd_max_loop_count) return false;
    PlatSleepMs(wait_ms);
  }
  ++w->passes;
  return true;
}

}  // namespace

int UpdWorker() {
  UpdWorkerState w = {};
  // The test-only TQ_TEST_SECOND_MS is read from the process environment,
  // which the configuration file's Env statements cannot reach.
  w.second_ms = RVSecondMs();
  int result = -1;
  bool mutex_held = false;
  std::string user;

  // 1-3: log, work file path, start message.
  const char* home = RVGetEnv("RV_HOME");
  std::string log_path = std::string(home ? home : ".") + "/TQUpdate/Log/tqupd-log.txt";
  RVLogOpenService(log_path.c_str());
  UpdWorkFilePath();
  const char* name = RVUserName();
  user = name ? name : "";
  UpdMessage(9, "%s - Version: %s - Started - User: %s", kUpdServiceName, kUpdVersion, user.c_str());
  UpdLogDevelopmentKeyWarning();
  UpdSecureOwnPaths();

  // 4-5: the work mutex, held through start-up.
  std::string mutex_name = UpdWorkMutexName();
  w.work_mutex = PlatMutexCreate(mutex_name.c_str(), UpdWorkObjectsDescriptor());
  if (!w.work_mutex) {
    UpdMessage(9, "Error Creating Work Mutex: %s", mutex_name.c_str());
  } else {
    PlatMutexWait(w.work_mutex, PLAT_INFINITE);
    mutex_held = true;
  }

  bool started = w.work_mutex != nullptr;
  // 6: the connection runtime.
  if (started && RVExtInit() != 0) {
    UpdMessage(9, "RVExtInit() - Error");
    started = false;
  }
  // 7: the configuration.
  if (started && UpdReadConfig() != 0) started = false;
  if (started) UpdMessageSetLogLevel(g_upd_config->log_level);

  // 8: the work directory.
  if (started) {
    std::string work = std::string(home ? home : ".") + "/TQUpdate/Work";
    char dir[kWorkDirMax + 1];
    std::snprintf(dir, sizeof dir, "%s", work.c_str());
    RVNormalizePath(dir);
    const char* path = dir;
    // The directories above Work are created; Work itself comes with the
    // installation.
    if (work.size() > kWorkDirMax || RVMakeDirs(path) != 0 || PlatSetCurrentDir(path) != 0) {
      UpdMessage(9, "Can't CD to: %s", work.c_str());
      started = false;
    } else {
      PlatGetCurrentDir(dir, sizeof dir);
      UpdSetWorkDir(dir);
    }
  }

  if (started && g_upd_options.test_mode) {
    // 9: one check, no installation.
    UpdCheck();
    started = false;
  } else if (started) {
    // 10: by install type.
    uint16_t type = g_upd_config->install_type;
    if (type == UPD_INSTALL_PROMPT || type == UPD_INSTALL_ONREQUEST) {
      DropOldWorkFile();
      w.install_event = CreateEvent("tqupd-install-event", false, true, "Install Event: %s",
                                    "Error Creating InstallEvent: %s - Errno: %d");
      if (w.install_event)
        w.check_event = CreateEvent("tqupd-check-event", false, true, "Check Event: %s",
                                    "Error Creating CheckEvent: %s - Errno: %d");
      if (w.check_event)
        w.complete_event = CreateEvent("tqupd-complete-event", true, false, nullptr,
                                       "Error Creating CompleteEvent: %s - Errno: %d");
      if (!w.complete_event) {
        started = false;
      } else {
        UpdMessage(0, "Checking for Current WorkFile List");
        UpdReadWorkFile();
        UpdLogWorkList();
      }
    } else {
      PlatDeleteFile(UpdWorkFilePath());
    }
  }

  bool stopped_in_wait = false;
  if (started) {
    // 11: the start-up check, after the start-up wait under the service.
    PlatEvent* stop = UpdStopEvent();
    if (!stop) {
      OnStartCheck();
    } else if (!g_upd_work_pending) {
      if (g_upd_config->startup_wait <= 0) {
        OnStartCheck();
      } else {
        UpdMessage(0, "Startup Wait: %d seconds", g_upd_config->startup_wait);
        uint32_t ms = RVWaitMs(g_upd_config->startup_wait, w.second_ms);
        if (PlatEventWait(stop, ms) == WAIT_OBJECT_0) stopped_in_wait = true;
        else OnStartCheck();
      }
    }
    if (stopped_in_wait) {
      result = 0;
    } else {
      // 12-13: release the mutex; the loop.
      PlatMutexRelease(w.work_mutex);
      mutex_held = false;
      uint32_t wait_ms = RVWaitMs(g_upd_config->loop_wait, w.second_ms);
      while (!UpdStopRequested() && (g_upd_max_loop_count <= 0 || w.passes < g_upd_max_loop_count)) {
        if (!Pass(&w, wait_ms)) break;
      }
      result = 0;
    }
  }

  // End.
  for (PlatEvent* e : {w.install_event, w.complete_event, w.check_event}) PlatEventClose(e);
  if (w.work_mutex) {
    if (mutex_held) PlatMutexRelease(w.work_mutex);
    PlatMutexClose(w.work_mutex);
  }
  UpdMessage(9, "%s - Stopped", kUpdServiceName);
  RVExtShutdown();
  UpdFreeConfig();
  UpdMessageSetLogLevel(-1);
  RVLogClose();
  return g_upd_options.test_mode ? -1 : result;
}
