// The private X server of a test program and the X tools that drive it.
#include "tests/support/xvfb.h"

#include "tests/support/child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

namespace {

constexpr int kStartTimeoutMs = 20000;

std::mutex g_mutex;
TqXServer g_server = {0, -1, ""};
int g_result = 1;        // 1 not tried, 0 running, -1 failed
std::string g_reason;    // why it failed
pid_t g_owner = 0;       // the process that started it

// Milliseconds of a steady clock.
long long NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Sleeps `ms` milliseconds.
void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Ends the server when the process that started it exits (not in a forked
// copy of it).
void StopAtExit() {
  if (::getpid() == g_owner) TqXvfbStop();
}

// A file's whole text ("" when it cannot be read).
std::string ReadFileText(const char* path) {
  std::string text;
  FILE* f = std::fopen(path, "r");
  if (!f) return text;
  char buf[1024];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  std::fclose(f);
  return text;
}

// Reads the display number Xvfb writes to `fd` once it accepts clients; -1
// on end of file or time-out.
int ReadDisplayNumber(int fd) {
  std::string digits;
  long long deadline = NowMs() + kStartTimeoutMs;
  for (;;) {
    long long left = deadline - NowMs();
    if (left <= 0) return -1;
    struct pollfd p = {fd, POLLIN, 0};
    int r = ::poll(&p, 1, static_cast<int>(left));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return -1;
    char c;
    ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    if (c == '\n') break;
    if (c < '0' || c > '9') return -1;
    digits += c;
    if (digits.size() > 6) return -1;
  }
  return digits.empty() ? -1 : std::atoi(digits.c_str());
}

// Starts Xvfb; 0, or -1 with the reason.
int StartServer(std::string* reason) {
  std::string log_path = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/tq-xvfb-XXXXXX";
  std::vector<char> log_name(log_path.begin(), log_path.end());
  log_name.push_back('\0');
  int log_fd = ::mkostemp(log_name.data(), O_CLOEXEC);
  int fds[2];
  if (log_fd < 0 || ::pipe2(fds, O_CLOEXEC) < 0) {
    *reason = std::string("cannot make Xvfb's log or pipe: ") + std::strerror(errno);
    if (log_fd >= 0) ::close(log_fd), ::unlink(log_name.data());
    return -1;
  }
  char fd_text[16];
  std::snprintf(fd_text, sizeof fd_text, "%d", fds[1]);
  const char* argv[] = {"Xvfb",  "-displayfd", fd_text, "-screen",  "0",       "1280x1024x24",
                        "-dpi",  "96",         "-nolisten", "tcp", "-noreset", nullptr};
  pid_t parent = ::getpid();
  std::fflush(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(127);
    ::fcntl(fds[1], F_SETFD, 0);
    int null_fd = ::open("/dev/null", O_RDONLY);
    if (null_fd >= 0) ::dup2(null_fd, 0);
    ::dup2(log_fd, 1);
    ::dup2(log_fd, 2);
    ::execvp("Xvfb", const_cast<char* const*>(argv));
    ::_exit(127);
  }
  ::close(fds[1]);
  int number = pid > 0 ? ReadDisplayNumber(fds[0]) : -1;
  ::close(fds[0]);
  ::close(log_fd);
  if (number < 0) {
    if (pid > 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    std::string log = ReadFileText(log_name.data());
    ::unlink(log_name.data());
    *reason = pid > 0 ? "Xvfb did not start: " + log : std::string("cannot fork: ") + std::strerror(errno);
    return -1;
  }
  ::unlink(log_name.data());
  g_server.pid = pid;
  g_server.number = number;
  std::snprintf(g_server.display, sizeof g_server.display, ":%d", number);
  ::setenv("DISPLAY", g_server.display, 1);
  g_owner = ::getpid();
  static bool registered = false;
  if (!registered) std::atexit(StopAtExit);
  registered = true;
  return 0;
}

// `s` without blanks and line ends around it.
std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

// The xprop and xwininfo argument naming a window (0: the root).
std::string WindowArg(unsigned long window) {
  return window ? "-id " + std::to_string(window) : std::string("-root");
}

// The integer after `label` in xwininfo's output, or -1 without it.
int FieldAfter(const std::string& text, const std::string& label, int* value) {
  size_t at = text.find(label);
  if (at == std::string::npos) return -1;
  *value = std::atoi(text.c_str() + at + label.size());
  return 0;
}

}  // namespace

int TqXvfbStart(std::string* reason) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_result == 1) g_result = StartServer(&g_reason);
  if (g_result < 0 && reason) *reason = g_reason;
  return g_result;
}

const TqXServer* TqXvfbServer() { return &g_server; }

void TqXvfbStop() {
  pid_t pid = g_server.pid;
  if (pid <= 0) return;
  g_server.pid = 0;
  ::kill(pid, SIGTERM);
  int code = 0;
  if (TqXWaitChild(pid, 5000, &code) < 0) TqXKillChild(pid);
}

int TqXRun(const std::string& command, std::string* out, int timeout_s) {
  std::fflush(nullptr);
  return TqRunCommand("timeout -k 2 " + std::to_string(timeout_s > 0 ? timeout_s : 30) + " /bin/sh -c " +
                          TqXQuote(command),
                      out);
}

std::string TqXQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'')
      q += "'\\''";
    else
      q += c;
  }
  return q + "'";
}

std::string TqXExactPattern(const std::string& text) {
  std::string p = "^";
  for (char c : text) {
    if (std::strchr("\\^$.|?*+()[]{}", c)) p += '\\';
    p += c;
  }
  return p + "$";
}

unsigned long TqXFindWindow(const std::string& pattern, int timeout_ms) {
  std::string out;
  int seconds = timeout_ms > 0 ? (timeout_ms + 999) / 1000 : 1;
  int rc = TqXRun("xdotool search --sync --onlyvisible --name " + TqXQuote(pattern), &out, seconds);
  if (rc != 0) return 0;
  std::istringstream lines(out);
  std::string first;
  while (std::getline(lines, first)) {
    first = Trim(first);
    if (!first.empty() && first.find_first_not_of("0123456789") == std::string::npos)
      return std::strtoul(first.c_str(), nullptr, 10);
  }
  return 0;
}

unsigned long TqXFindWindowTitled(const std::string& title, int timeout_ms) {
  return TqXFindWindow(TqXExactPattern(title), timeout_ms);
}

int TqXWindowGeometry(unsigned long window, TqXGeometry* out) {
  std::string text;
  if (!out || TqXRun("xwininfo " + WindowArg(window), &text) != 0) return -1;
  TqXGeometry g = {};
  if (FieldAfter(text, "Absolute upper-left X:", &g.x) < 0 || FieldAfter(text, "Absolute upper-left Y:", &g.y) < 0 ||
      FieldAfter(text, "Width:", &g.width) < 0 || FieldAfter(text, "Height:", &g.height) < 0 ||
      FieldAfter(text, "Border width:", &g.border) < 0)
    return -1;
  *out = g;
  return 0;
}

std::string TqXProperty(unsigned long window, const std::string& property) {
  std::string text;
  if (TqXRun("xprop " + WindowArg(window) + " " + TqXQuote(property), &text) != 0) return "";
  std::string first = text.substr(0, text.find('\n'));
  if (first.find("not found") != std::string::npos || first.find("no such atom") != std::string::npos) return "";
  size_t eq = first.find(" = ");
  if (eq != std::string::npos) return Trim(first.substr(eq + 3));
  size_t colon = text.find(':');
  return colon == std::string::npos ? "" : Trim(text.substr(colon + 1));
}

int TqXWindowName(unsigned long window, std::string* name) {
  std::string v = TqXProperty(window, "WM_NAME");
  if (v.size() < 2 || v.front() != '"' || v.back() != '"') return -1;
  std::string plain;
  for (size_t i = 1; i + 1 < v.size(); ++i) {
    if (v[i] == '\\' && i + 2 < v.size()) ++i;
    plain += v[i];
  }
  if (name) *name = plain;
  return 0;
}

int TqXSetWorkArea(int x, int y, int width, int height) {
  std::string value = std::to_string(x) + ", " + std::to_string(y) + ", " + std::to_string(width) + ", " +
                      std::to_string(height);
  return TqXRun("xprop -root -f _NET_WORKAREA 32c -set _NET_WORKAREA " + TqXQuote(value)) == 0 ? 0 : -1;
}

int TqXClearWorkArea() { return TqXRun("xprop -root -remove _NET_WORKAREA") == 0 ? 0 : -1; }

int TqXFocus(unsigned long window) {
  return TqXRun("xdotool windowfocus --sync " + std::to_string(window)) == 0 ? 0 : -1;
}

int TqXKey(unsigned long window, const std::string& keys) {
  std::string args;
  std::istringstream words(keys);
  std::string key;
  while (words >> key) args += " " + TqXQuote(key);
  if (args.empty()) return -1;
  return TqXRun("xdotool windowfocus --sync " + std::to_string(window) + " key --delay 30" + args) == 0 ? 0 : -1;
}

int TqXType(unsigned long window, const std::string& text) {
  return TqXRun("xdotool windowfocus --sync " + std::to_string(window) + " type --delay 30 -- " + TqXQuote(text)) == 0
             ? 0
             : -1;
}

int TqXClipboardGet(std::string* text) {
  std::string out;
  if (TqXRun("xclip -o -selection clipboard", &out, 10) != 0) return -1;
  if (text) *text = out;
  return 0;
}

int TqXClipboardSet(const std::string& text) {
  return TqXRun("printf %s " + TqXQuote(text) + " | xclip -i -selection clipboard >/dev/null 2>&1", nullptr, 10) == 0
             ? 0
             : -1;
}

int TqXScreenshot(unsigned long window, const std::string& path, int timeout_ms) {
  std::string shots[2] = {path + ".capture0.png", path + ".capture1.png"};
  long long deadline = NowMs() + (timeout_ms > 0 ? timeout_ms : 5000);
  int taken = 0;
  int result = -1;
  for (;;) {
    const std::string& shot = shots[taken % 2];
    if (TqXRun("import -window " + std::to_string(window) + " " + TqXQuote("png:" + shot), nullptr, 20) == 0) {
      ++taken;
      if (taken >= 2 && TqXImageDifference(shots[0], shots[1]) == 0) {
        result = std::rename(shot.c_str(), path.c_str()) == 0 ? 0 : -1;
        break;
      }
    }
    if (NowMs() >= deadline) break;
    SleepMs(100);
  }
  std::remove(shots[0].c_str());
  std::remove(shots[1].c_str());
  return result;
}

int TqXImageSize(const std::string& path, int* width, int* height) {
  std::string out;
  if (TqXRun("identify -format '%w %h' " + TqXQuote(path), &out) != 0) return -1;
  int w = 0, h = 0;
  if (std::sscanf(out.c_str(), "%d %d", &w, &h) != 2) return -1;
  if (width) *width = w;
  if (height) *height = h;
  return 0;
}

long TqXImageDifference(const std::string& a, const std::string& b) {
  int wa = 0, ha = 0, wb = 0, hb = 0;
  if (TqXImageSize(a, &wa, &ha) < 0 || TqXImageSize(b, &wb, &hb) < 0 || wa != wb || ha != hb) return -1;
  std::string out;
  int rc = TqXRun("compare -metric AE " + TqXQuote(a) + " " + TqXQuote(b) + " null:", &out);
  if (rc != 0 && rc != 1) return -1;
  char* end = nullptr;
  double pixels = std::strtod(out.c_str(), &end);
  if (end == out.c_str() || pixels < 0) return -1;
  return static_cast<long>(pixels + 0.5);
}

int TqXWaitChild(pid_t pid, int timeout_ms, int* code) {
  long long deadline = NowMs() + timeout_ms;
  for (;;) {
    int status = 0;
    pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) {
      int c = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
      if (code) *code = c;
      return 0;
    }
    if (r < 0 && errno != EINTR) {
      if (code) *code = -1;
      return 0;
    }
    if (NowMs() >= deadline) return -1;
    SleepMs(20);
  }
}

void TqXKillChild(pid_t pid) {
  if (pid <= 0) return;
  if (::waitpid(pid, nullptr, WNOHANG) == 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
}

std::string TqXArtifactDir(const std::string& binary_dir, const std::string& test_name) {
  std::string name = test_name;
  for (char& c : name)
    if (c == '/') c = '_';
  std::string dir = binary_dir + "/test-artifacts/gui/" + name;
  for (size_t at = 1; at != std::string::npos;) {
    at = dir.find('/', at + 1);
    std::string part = dir.substr(0, at);
    if (::mkdir(part.c_str(), 0755) < 0 && errno != EEXIST) return "";
  }
  return dir;
}
