// Child processes for multi-process tests: the test program runs itself
// again with "--tq-child ROLE ARGS..." and the registered role runs instead
// of the tests.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

using TqChildFn = int (*)(const std::vector<std::string>& args);

struct TqChildRegistrar {
  TqChildRegistrar(const char* role, TqChildFn fn);
};

// Defines a child role; its body returns the child's exit code.
#define TQ_CHILD_ROLE(role)                                                  \
  static int role##_child(const std::vector<std::string>& args);             \
  static TqChildRegistrar role##_registrar(#role, role##_child);             \
  static int role##_child([[maybe_unused]] const std::vector<std::string>& args)

// Starts the test program as a child running `role` with `args`; returns its pid.
pid_t TqSpawnChild(const char* role, const std::vector<std::string>& args = {});

// Waits for a child; returns its exit code, or 128 + signal when killed.
int TqWaitChild(pid_t pid);

// Runs a command line through /bin/sh and returns its exit code; its standard
// output and error go to *out when out is not null.
int TqRunCommand(const std::string& command, std::string* out = nullptr);

// Runs a child role found in argv; returns -1 when argv names none.
int TqRunChildIfRequested(int argc, char** argv);
