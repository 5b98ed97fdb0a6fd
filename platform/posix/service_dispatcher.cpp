// POSIX implementation of the service process's side of
// platform/service_manager.h: the dispatcher, the handler registration and
// the status reports.
//
// StartServiceA gives the program its service's name and the token of the
// start in TQ_SERVICE_NAME and TQ_SERVICE_TOKEN. The dispatcher checks them
// against the status record, opens the control channel (an abstract Unix
// socket named after the token), marks the start connected, runs the service
// main on a thread of its own, and serves one control request per connection
// on the calling thread until the service reports SERVICE_STOPPED. Between
// requests the dispatcher sleeps in poll() on the channel and its wake pipe
// without a time limit: every change of its state writes the wake pipe.
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

#include "platform/error.h"
#include "platform/posix/service_store.h"
#include "platform/service_manager.h"
#include "platform/system.h"

namespace {

constexpr size_t kMainStackBytes = 1024 * 1024; // stack of the service main's thread
constexpr int64_t kMainGraceMs = 5000;          // wait for the service main after it reported stopped
constexpr int kRequestTimeoutSec = 5;           // a client must send its request within this

// The state of the one dispatcher a process runs.
struct Dispatcher {
  std::string name;                      // the service's name
  std::string key;                       // its key in the database
  std::string token;                     // the token of this start
  LPSERVICE_MAIN_FUNCTIONA main_proc;    // the service main
  std::vector<std::string> args;         // its arguments: the name, then those of the start
  std::vector<char*> argv;               // pointers into args, ended by null
  int listen_fd = -1;                    // the control channel
  int wake[2] = {-1, -1};                // written on every change of the state below
  std::mutex m;                          // guards the fields below
  std::condition_variable cv;            // signalled when main_done changes
  LPHANDLER_FUNCTION_EX handler = nullptr; // registered handler, null before
  void* context = nullptr;               // the handler's context
  bool registered = false;               // RegisterServiceCtrlHandlerExA succeeded
  bool stopped = false;                  // SERVICE_STOPPED was reported
  bool main_done = false;                // the service main returned
};

// The running dispatcher (guarded by g_lock), and one whose service main
// outlived it, kept so that the thread's data stays valid.
std::mutex g_lock;
Dispatcher* g_dispatcher = nullptr;
Dispatcher* g_outlived = nullptr;

}  // namespace

// The status handle: one per process, as there is one service per process.
struct PlatServiceStatusHandle {
  int unused; // no state of its own: the dispatcher holds it
};

namespace {

PlatServiceStatusHandle g_status_handle{0};

// Wakes the dispatcher's loop.
void Wake(Dispatcher* d) {
  char c = 1;
  ssize_t n = ::write(d->wake[1], &c, 1);
  (void)n;  // a full pipe is awake already
}

// The thread of the service main: runs it, then tells the dispatcher.
void* MainThread(void* arg) {
  auto* d = static_cast<Dispatcher*>(arg);
  d->main_proc(static_cast<uint32_t>(d->args.size()), d->argv.data());
  {
    std::lock_guard<std::mutex> g(d->m);
    d->main_done = true;
  }
  d->cv.notify_all();
  Wake(d);
  return nullptr;
}

// Records this process's start as stopped with `exit` (when it is still ours).
void RecordStopped(Dispatcher* d, uint32_t exit) {
  ScUpdateState(d->key, [&](PlatServiceState* s) {
    if (s->token != d->token) return false;
    s->status = SERVICE_STATUS{SERVICE_WIN32_OWN_PROCESS, SERVICE_STOPPED, 0, exit, 0, 0, 0};
    s->pid = 0;
    s->pid_start = 0;
    return true;
  });
}

// Serves one connection: one request, the handler's result as the answer.
void ServeOne(Dispatcher* d) {
  int fd = ::accept4(d->listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  // Only the administrators and the service's own user may control it.
  struct ucred cred;
  socklen_t len = sizeof cred;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || (cred.uid != 0 && cred.uid != ::geteuid())) {
    ::close(fd);
    return;
  }
  struct timeval tv{kRequestTimeoutSec, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  unsigned char frame[kScFrameSize];
  size_t got = 0;
  while (got < sizeof frame) {
    ssize_t n = ::recv(fd, frame + got, sizeof frame - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  uint32_t control = 0, event_type = 0;
  if (got == sizeof frame && ScFrameGet(frame, "TQSC", &control, &event_type)) {
    LPHANDLER_FUNCTION_EX handler;
    void* context;
    {
      std::lock_guard<std::mutex> g(d->m);
      handler = d->handler;
      context = d->context;
    }
    uint32_t result = handler ? handler(control, event_type, nullptr, context) : ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    ScFramePut(frame, "TQSA", result, 0);
    ::send(fd, frame, sizeof frame, MSG_NOSIGNAL);
  }
  ::close(fd);
}

// Closes the control channel and the wake pipe.
void CloseChannel(Dispatcher* d) {
  for (int* fd : {&d->listen_fd, &d->wake[0], &d->wake[1]}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
}

// Sets the last error; returns the failure result.
int Fail(uint32_t code) {
  PlatSetLastError(code);
  return 0;
}

}  // namespace

int StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA* table) {
  if (!table || !table[0].lpServiceProc) return Fail(ERROR_INVALID_PARAMETER);
  const char* name = PlatEnvGet("TQ_SERVICE_NAME");
  const char* token = PlatEnvGet("TQ_SERVICE_TOKEN");
  if (!name || !token) return Fail(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
  auto* d = new Dispatcher;
  d->name = name;
  d->token = token;
  d->main_proc = table[0].lpServiceProc;
  {
    std::lock_guard<std::mutex> g(g_lock);
    if (g_dispatcher) {
      delete d;
      return Fail(ERROR_SERVICE_ALREADY_RUNNING);
    }
    g_dispatcher = d;
  }
  auto give_up = [d](uint32_t code) {
    CloseChannel(d);
    {
      std::lock_guard<std::mutex> g(g_lock);
      g_dispatcher = nullptr;
    }
    delete d;
    return Fail(code);
  };
  // Only the process of the current start may connect.
  PlatServiceState state;
  if (PlatServiceKey(name, &d->key) != 0 || ScReadState(d->key, &state) != 0 || state.token != d->token ||
      state.connected)
    return give_up(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
  d->args.push_back(d->name);
  d->args.insert(d->args.end(), state.args.begin(), state.args.end());
  for (std::string& a : d->args) d->argv.push_back(a.data());
  d->argv.push_back(nullptr);

  d->listen_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  struct sockaddr_un addr;
  socklen_t len = ScChannelAddress(d->token, &addr);
  if (d->listen_fd < 0 || ::bind(d->listen_fd, reinterpret_cast<struct sockaddr*>(&addr), len) != 0 ||
      ::listen(d->listen_fd, 16) != 0 || ::pipe2(d->wake, O_CLOEXEC | O_NONBLOCK) != 0)
    return give_up(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
  uint32_t self = PlatProcessId();
  uint64_t self_start = ScProcessStartTime(self);
  if (ScUpdateState(d->key, [&](PlatServiceState* s) {
        if (s->token != d->token || s->connected) {
          PlatSetLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
          return false;
        }
        s->connected = 1;
        s->pid = self;
        s->pid_start = self_start;
        return true;
      }) != 0)
    return give_up(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
  // The service's own children are not started by the manager.
  PlatEnvUnset("TQ_SERVICE_NAME");
  PlatEnvUnset("TQ_SERVICE_TOKEN");

  pthread_attr_t attr;
  pthread_t thread;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, kMainStackBytes);
  int rc = pthread_create(&thread, &attr, MainThread, d);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    RecordStopped(d, ERROR_SERVICE_NO_THREAD);
    return give_up(ERROR_SERVICE_NO_THREAD);
  }

  for (;;) {
    bool stopped, main_done, registered;
    {
      std::lock_guard<std::mutex> g(d->m);
      stopped = d->stopped;
      main_done = d->main_done;
      registered = d->registered;
    }
    if (stopped) break;
    if (main_done && !registered) {
      // The service main ended without ever being able to report: nothing
      // will report it stopped.
      RecordStopped(d, ERROR_PROCESS_ABORTED);
      break;
    }
    struct pollfd p[2] = {{d->listen_fd, POLLIN, 0}, {d->wake[0], POLLIN, 0}};
    int n = ::poll(p, 2, -1);
    if (n <= 0) continue;  // a signal: look at the state again
    if (p[1].revents) {
      char buf[64];
      while (::read(d->wake[0], buf, sizeof buf) > 0) {
      }
    }
    if (p[0].revents & POLLIN) ServeOne(d);
  }
  ::close(d->listen_fd);
  d->listen_fd = -1;

  // Give the service main a moment to return after reporting stopped.
  bool joined;
  {
    std::unique_lock<std::mutex> g(d->m);
    joined = d->cv.wait_for(g, std::chrono::milliseconds(kMainGraceMs), [d] { return d->main_done; });
  }
  std::lock_guard<std::mutex> g(g_lock);
  g_dispatcher = nullptr;
  if (joined) {
    pthread_join(thread, nullptr);
    CloseChannel(d);
    delete d;
  } else {
    pthread_detach(thread);
    g_outlived = d;
  }
  PlatSetLastError(ERROR_SUCCESS);
  return 1;
}

SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerExA(const char* name, LPHANDLER_FUNCTION_EX handler, void* context) {
  std::lock_guard<std::mutex> g(g_lock);
  Dispatcher* d = g_dispatcher;
  std::string key;
  if (!handler) {
    PlatSetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (!d) {
    PlatSetLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    return nullptr;
  }
  if (PlatServiceKey(name, &key) != 0 || key != d->key) {
    PlatSetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
    return nullptr;
  }
  std::lock_guard<std::mutex> gd(d->m);
  d->handler = handler;
  d->context = context;
  d->registered = true;
  Wake(d);
  return &g_status_handle;
}

int SetServiceStatus(SERVICE_STATUS_HANDLE handle, const SERVICE_STATUS* status) {
  if (handle != &g_status_handle) return Fail(ERROR_INVALID_HANDLE);
  if (!status || status->dwCurrentState < SERVICE_STOPPED || status->dwCurrentState > SERVICE_PAUSED)
    return Fail(ERROR_INVALID_PARAMETER);
  std::lock_guard<std::mutex> g(g_lock);
  Dispatcher* d = g_dispatcher;
  if (!d || !d->registered) return Fail(ERROR_INVALID_HANDLE);
  uint32_t self = PlatProcessId();
  uint64_t self_start = ScProcessStartTime(self);
  bool marked = false;
  if (ScUpdateState(d->key, [&](PlatServiceState* s) {
        if (s->token != d->token) {
          // A newer start owns the record (or it was lost): this process no
          // longer speaks for the service.
          PlatSetLastError(ERROR_INVALID_HANDLE);
          return false;
        }
        s->status = *status;
        s->pid = self;
        s->pid_start = self_start;
        marked = s->delete_pending != 0;
        return true;
      }) != 0)
    return 0;
  if (status->dwCurrentState == SERVICE_STOPPED) {
    {
      std::lock_guard<std::mutex> gd(d->m);
      d->stopped = true;
    }
    Wake(d);
    if (marked) ScRemoveIfDeleted(d->key);
  }
  PlatSetLastError(ERROR_SUCCESS);
  return 1;
}
