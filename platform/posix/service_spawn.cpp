// POSIX start of a service's program as a detached process (service_store.h).
//
// The caller forks an intermediate process, which starts the program with
// posix_spawn in a new session and ends at once; the caller reaps the
// intermediate, the program is left to init. Everything the intermediate
// needs is prepared before the fork, so between fork and _exit it only calls
// posix_spawn, write and _exit.
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/error.h"
#include "platform/posix/service_store.h"

namespace {

// What the intermediate process reports back through its pipe.
struct SpawnReport {
  int err;    // posix_spawn's result, 0 on success
  pid_t pid;  // the started program's process id
};

// Owns the attributes and file actions of one posix_spawn call.
struct SpawnSetup {
  posix_spawnattr_t attr;           // session, signal mask and defaults
  posix_spawn_file_actions_t files; // standard streams, working directory, closing the rest
  bool attr_ok = false;             // attr initialised
  bool files_ok = false;            // files initialised
  ~SpawnSetup() {
    if (attr_ok) posix_spawnattr_destroy(&attr);
    if (files_ok) posix_spawn_file_actions_destroy(&files);
  }
};

// Prepares a new session with default signal handling and an empty signal
// mask, standard streams on /dev/null, `cwd` as working directory, and no
// descriptor above 2.
int Prepare(SpawnSetup* s, const char* cwd) {
  int rc = posix_spawnattr_init(&s->attr);
  if (rc != 0) return rc;
  s->attr_ok = true;
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  if ((rc = posix_spawnattr_setflags(&s->attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF)) ||
      (rc = posix_spawnattr_setsigmask(&s->attr, &none)) || (rc = posix_spawnattr_setsigdefault(&s->attr, &all)))
    return rc;
  if ((rc = posix_spawn_file_actions_init(&s->files)) != 0) return rc;
  s->files_ok = true;
  if ((rc = posix_spawn_file_actions_addopen(&s->files, 0, "/dev/null", O_RDONLY, 0)) ||
      (rc = posix_spawn_file_actions_addopen(&s->files, 1, "/dev/null", O_WRONLY, 0)) ||
      (rc = posix_spawn_file_actions_adddup2(&s->files, 1, 2)) ||
      (rc = posix_spawn_file_actions_addchdir_np(&s->files, cwd)) ||
      (rc = posix_spawn_file_actions_addclosefrom_np(&s->files, 3)))
    return rc;
  return 0;
}

}  // namespace

int ScSpawnDetached(const std::vector<std::string>& argv, const std::vector<std::string>& env, uint32_t* pid) {
  return ScSpawnDetachedIn(argv, env, "/", pid);
}

int ScSpawnDetachedIn(const std::vector<std::string>& argv, const std::vector<std::string>& env, const char* cwd,
                      uint32_t* pid) {
  std::vector<char*> args, envp;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  SpawnSetup setup;
  int rc = Prepare(&setup, cwd);
  if (rc != 0) {
    PlatSetLastErrorFromErrno(rc);
    return -1;
  }
  int pipefd[2];
  if (::pipe2(pipefd, O_CLOEXEC) != 0) {
    PlatSetLastErrorFromErrno(errno);
    return -1;
  }
  pid_t middle = ::fork();
  if (middle < 0) {
    int e = errno;
    ::close(pipefd[0]);
    ::close(pipefd[1]);
    PlatSetLastErrorFromErrno(e);
    return -1;
  }
  if (middle == 0) {
    // The intermediate process.
    SpawnReport report{0, 0};
    report.err = posix_spawn(&report.pid, args[0], &setup.files, &setup.attr, args.data(), envp.data());
    ssize_t n;
    do n = ::write(pipefd[1], &report, sizeof report);
    while (n < 0 && errno == EINTR);
    ::_exit(0);
  }
  ::close(pipefd[1]);
  SpawnReport report{EIO, 0};
  size_t got = 0;
  while (got < sizeof report) {
    ssize_t n = ::read(pipefd[0], reinterpret_cast<char*>(&report) + got, sizeof report - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(pipefd[0]);
  while (::waitpid(middle, nullptr, 0) < 0 && errno == EINTR) {
  }
  if (got < sizeof report) report.err = EIO;
  if (report.err != 0) {
    PlatSetLastErrorFromErrno(report.err);
    return -1;
  }
  *pid = static_cast<uint32_t>(report.pid);
  return 0;
}
