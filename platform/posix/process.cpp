// POSIX implementation of platform/process.h over the detached start of the
// service manager (service_store.h).
#include "platform/process.h"

#include <cerrno>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/error.h"
#include "platform/posix/service_store.h"

extern char** environ;

namespace {

// One word of a command line and whether it was quoted.
struct Word {
  std::string text; // the word without its quotes
  bool quoted;      // some part of it was in double quotes
};

// Splits a command line at blanks and tabs; double quotes group blanks.
std::vector<Word> SplitWords(const char* line) {
  std::vector<Word> words;
  const char* p = line;
  for (;;) {
    while (*p == ' ' || *p == '\t') ++p;
    if (!*p) break;
    Word w{"", false};
    bool in_quote = false;
    for (; *p && (in_quote || (*p != ' ' && *p != '\t')); ++p) {
      if (*p == '"') {
        in_quote = !in_quote;
        w.quoted = true;
      } else {
        w.text += *p;
      }
    }
    words.push_back(w);
  }
  return words;
}

bool IsProgram(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

int PlatCreateProcessDetached(const char* command_line, uint32_t* pid) {
  std::vector<Word> words = SplitWords(command_line ? command_line : "");
  if (words.empty()) {
    PlatSetLastError(2);
    return -1;
  }
  // The program: the first word, or the shortest run of unquoted words
  // joined by blanks that names a file.
  size_t used = 1;
  std::string program = words[0].text;
  if (!words[0].quoted && !IsProgram(program)) {
    std::string joined = program;
    for (size_t i = 1; i < words.size() && !words[i].quoted; ++i) {
      joined += " " + words[i].text;
      if (IsProgram(joined)) {
        program = joined;
        used = i + 1;
        break;
      }
    }
  }
  std::vector<std::string> argv{program};
  for (size_t i = used; i < words.size(); ++i) argv.push_back(words[i].text);
  std::vector<std::string> env;
  for (char** e = environ; e && *e; ++e) env.emplace_back(*e);
  char cwd[4096];
  if (!::getcwd(cwd, sizeof cwd)) {
    cwd[0] = '/';
    cwd[1] = '\0';
  }
  uint32_t started = 0;
  if (ScSpawnDetachedIn(argv, env, cwd, &started) != 0) return -1;
  if (pid) *pid = started;
  return 0;
}
