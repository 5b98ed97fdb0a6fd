// tqupdd: the update service program.
#include <cstdio>
#include <cstring>

#include "platform/system.h"
#include "runtime/env.h"
#include "runtime/message.h"
#include "runtime/util.h"
#include "service/command_line.h"
#include "service/crypto_startup.h"
#include "service/service_commands.h"
#include "service/service_wrapper.h"
#include "service/worker.h"

int main(int argc, char** argv) {
  // Start-up: service program, version facts, no creation mask.
  RVSetProgramKind(RV_PROGRAM_SERVICE);
  RVOsVersion();
  PlatSetUmask(0);
  RVInit(argv[0]);
  const char* program = RVProgramName() ? RVProgramName() : "tqupdd";
  UpdCryptoStartup();

  argc = UpdParseCommandLine(argc, argv, program, &g_upd_options);
  if (g_upd_options.errors) return 1;
  UpdMessageSetTestMode(g_upd_options.test_mode);
  if (g_upd_options.help) {
    UpdPrintUsage(program);
    return 0;
  }

  // The service is registered with the program's own path; a relative one
  // (typed through PATH or from another directory) would not start later.
  char self[4096];
  const char* binary_path = argv[0];
  if (argv[0][0] != '/' && PlatExecutablePath(self, sizeof self) == 0) binary_path = self;
  if (UpdServiceCommand(argc, argv, binary_path, g_upd_options.verbosity)) return 0;

  if (g_upd_options.foreground || g_upd_options.test_mode) return UpdWorker();
  // Started by hand rather than by the service manager (which names the
  // service it starts in TQ_SERVICE_NAME): one line says what to type.
  if (g_upd_options.verbosity > 0 && !PlatEnvGet("TQ_SERVICE_NAME")) UpdPrintRunHint(program, argv[1]);
  UpdServiceRun();
  return 0;
}
