// Child processes for multi-process tests.
#include "tests/support/child.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::map<std::string, TqChildFn>& Roles() {
  static std::map<std::string, TqChildFn> roles;
  return roles;
}

}  // namespace

TqChildRegistrar::TqChildRegistrar(const char* role, TqChildFn fn) { Roles()[role] = fn; }

pid_t TqSpawnChild(const char* role, const std::vector<std::string>& args) {
  std::fflush(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    std::vector<std::string> all = {"/proc/self/exe", "--tq-child", role};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv("/proc/self/exe", argv.data());
    ::_exit(127);
  }
  return pid;
}

int TqWaitChild(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

int TqRunCommand(const std::string& command, std::string* out) {
  std::string cmd = command + " 2>&1";
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return -1;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
    if (out) out->append(buf, n);
  int status = ::pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int TqRunChildIfRequested(int argc, char** argv) {
  if (argc < 3 || std::strcmp(argv[1], "--tq-child") != 0) return -1;
  auto it = Roles().find(argv[2]);
  if (it == Roles().end()) {
    std::fprintf(stderr, "unknown child role %s\n", argv[2]);
    return 126;
  }
  std::vector<std::string> args(argv + 3, argv + argc);
  return it->second(args);
}
