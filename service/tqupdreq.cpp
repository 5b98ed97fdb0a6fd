// tqupdreq: asks the running update worker of this installation for an
// installation or an update check and waits for its answer.
//
//   tqupdreq install|check [-w SECONDS]
//
// The worker's last message for the request (from the outcome file it leaves
// before answering) follows the answer line.
//
// Exit codes: 0 the worker answered; 5 the worker answered and the request
// ended in a failure (its message is printed); 1 no worker with request events runs
// (a worker with install type Automatic has none: requests need Prompt or
// OnRequest); 2 no answer within SECONDS (default 600); 3 usage error; 4 the
// request was sent, but the caller may not wait for the answer (only members
// of the users' group may; everyone may ask).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>

#include "platform/error.h"
#include "platform/event.h"
#include "platform/named_mutex.h"
#include "platform/security.h"
#include "platform/system.h"
#include "runtime/env.h"
#include "runtime/request_outcome.h"

namespace {

int Usage() {
  std::fprintf(stderr, "Usage: tqupdreq install|check [-w SECONDS]\n");
  return 3;
}

std::string EventName(const char* suffix) {
  const char* home = RVGetEnv("RV_HOME");
  return std::string("Global\\") + (home ? home : ".") + "/" + suffix;
}

}  // namespace

int main(int argc, char** argv) {
  RVSetProgramKind(RV_PROGRAM_SERVICE);
  RVInit(argv[0]);
  if (argc < 2) return Usage();
  const char* what = argv[1];
  bool install = strcasecmp(what, "install") == 0;
  if (!install && strcasecmp(what, "check") != 0) return Usage();
  long seconds = 600;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "-w") == 0 && i + 1 < argc) {
      char* end = nullptr;
      seconds = std::strtol(argv[++i], &end, 10);
      if (!end || *end || seconds < 0 || seconds > 86400) return Usage();
    } else {
      return Usage();
    }
  }

  std::string request_name = EventName(install ? "tqupd-install-event" : "tqupd-check-event");
  std::string complete_name = EventName("tqupd-complete-event");
  PlatEvent* request = PlatEventOpen(request_name.c_str(), false);
  PlatEvent* complete = request ? PlatEventOpen(complete_name.c_str(), true) : nullptr;
  if (request && !complete && PlatGetLastError() == ERROR_ACCESS_DENIED) {
    PlatEventSet(request);
    PlatEventClose(request);
    std::printf("The %s request was sent; waiting for the answer needs membership of the group %s\n",
                install ? "install" : "check", kPlatUsersGroup);
    return 4;
  }
  if (!request || !complete) {
    // A worker that holds the work mutex but offers no request events runs
    // with install type Automatic.
    if (PlatMutexExists(EventName("tqupd-work-mtx").c_str()))
      std::printf("The update worker runs with install type Automatic; requests need install type Prompt or "
                  "OnRequest\n");
    else
      std::printf("No update worker with request events is running\n");
    PlatEventClose(request);
    PlatEventClose(complete);
    return 1;
  }
  // Clear the answer to any earlier request before asking.
  PlatEventReset(complete);
  int64_t sent = PlatTimeNow();
  PlatEventSet(request);
  uint32_t r = PlatEventWait(complete, static_cast<uint32_t>(seconds) * 1000u);
  PlatEventClose(request);
  PlatEventClose(complete);
  if (r == WAIT_OBJECT_0) {
    const char* kind = install ? "install" : "check";
    // Only an outcome of this request counts (its time is not before the
    // request was sent, a second of clock granularity allowed).
    RVRequestOutcome outcome;
    bool known = RVReadRequestOutcome(&outcome) == 0 && outcome.request == kind && outcome.time >= sent - 1;
    if (known && outcome.failed) {
      std::printf("The update worker answered the %s request: it failed: %s\n", kind, outcome.message.c_str());
      return 5;
    }
    std::printf("The update worker answered the %s request\n", kind);
    if (known && !outcome.message.empty()) std::printf("Last message: %s\n", outcome.message.c_str());
    return 0;
  }
  std::printf("No answer from the update worker within %ld seconds\n", seconds);
  return 2;
}
