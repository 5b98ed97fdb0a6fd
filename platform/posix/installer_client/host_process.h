// Starting, talking to and ending one installer host process (tqmsihost),
// for the installer's client library. POSIX implementation.
//
// The host runs in a process group of its own, with its standard input and
// output on one end of a socket pair and its standard error the caller's;
// it inherits the environment and working directory and no other
// descriptor. Every wait on it is bounded: a host that does not answer in
// time is killed with its group, and every host started is reaped.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>

#include "platform/installer_wire/wire.h"

// Bound of an installation or removal by the host: one hour (stopping the
// services a package names takes up to 30 s each).
constexpr int64_t kMsiHostInstallLimitMs = 3600 * 1000;
// Bound of any other request (opening a package or product, reading a
// property, listing products, closing a handle), and of the host's exit
// once its input is closed.
constexpr int64_t kMsiHostQueryLimitMs = 120 * 1000;

// A running host.
struct MsiHostProcess {
  pid_t pid = -1;  // the host, leader of its process group; -1 when none
  int fd = -1;     // the caller's end of the host's socket
};

// The host program: TQ_TEST_MSI_HOST when set (tests), else tqmsihost in the
// directory of the running program.
std::string MsiHostProgram();

// The bound of a request of `kind` in milliseconds: the constants above, or
// the test-only TQ_TEST_MSI_HOST_LIMIT_MS when set (1 and more).
int64_t MsiHostLimitMs(uint8_t kind);

// Starts the host. 0, or -1 with the reason in *why (the program missing or
// not executable, no socket).
int MsiHostStart(MsiHostProcess* host, std::string* why);

// Sends `req` and reads its answer within `limit_ms`. 0 with the answer in
// *ans (its kind checked against the request's); -1 with the reason in *why
// once the host is ended: it had written more than its last answer, or it
// ended, answered late, cut its answer off or answered with malformed data.
int MsiHostCall(MsiHostProcess* host, const MsiWireRequest& req, int64_t limit_ms, MsiWireAnswer* ans,
                std::string* why);

// Ends a host that answered: closes its input, reads its output to the end
// and waits for it to exit, all within `limit_ms`, then reaps it (killing
// its group first when it is still running). 0 when it wrote nothing more
// and exited with status 0; -1 with the reason in *why otherwise.
int MsiHostFinish(MsiHostProcess* host, int64_t limit_ms, std::string* why);

// Kills the host's group and reaps it at once (nothing when none runs).
void MsiHostKill(MsiHostProcess* host);
