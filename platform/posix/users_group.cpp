// POSIX implementation of the users' group functions of platform/security.h.
#include <cerrno>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/error.h"
#include "platform/posix/object_files.h"
#include "platform/security.h"

extern char** environ;

int PlatUsersGroupExists() { return UsersGroupId() >= 0 ? 1 : 0; }

int PlatEnsureUsersGroup() {
  if (UsersGroupId() >= 0) return 0;
  if (::geteuid() != 0) {
    PlatSetLastError(ERROR_ACCESS_DENIED);
    return -1;
  }
  // The system's own tool keeps the group databases consistent.
  char prog[] = "groupadd";
  char sys[] = "--system";
  char name[sizeof kPlatUsersGroup];
  for (size_t i = 0; i < sizeof kPlatUsersGroup; ++i) name[i] = kPlatUsersGroup[i];
  char* argv[] = {prog, sys, name, nullptr};
  pid_t pid;
  int err = ::posix_spawnp(&pid, prog, nullptr, nullptr, argv, environ);
  if (err != 0) {
    PlatSetLastErrorFromErrno(err);
    return -1;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (UsersGroupId() >= 0) return 0;
  PlatSetLastError(ERROR_GEN_FAILURE);
  return -1;
}
