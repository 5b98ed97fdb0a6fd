// POSIX implementation of platform/thread.h.
#include "platform/thread.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <pthread.h>

#include "platform/error.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr size_t kStackFactor = 4;  // instrumented frames are larger
#else
constexpr size_t kStackFactor = 1;
#endif

}  // namespace

// Shared between the handle and the running thread; the last one frees it.
struct PlatThreadShared {
  PlatThreadProc proc;          // the thread's procedure
  void* arg;                    // its argument
  std::mutex lock;              // guards done
  std::condition_variable cv;   // signalled when done
  bool done = false;            // the procedure has returned
};

struct PlatThread {
  std::shared_ptr<PlatThreadShared> shared; // state shared with the thread
};

namespace {

void* Run(void* p) {
  auto* holder = static_cast<std::shared_ptr<PlatThreadShared>*>(p);
  std::shared_ptr<PlatThreadShared> shared = *holder;
  delete holder;
  shared->proc(shared->arg);
  {
    std::lock_guard<std::mutex> g(shared->lock);
    shared->done = true;
  }
  shared->cv.notify_all();
  return nullptr;
}

}  // namespace

PlatThread* PlatThreadStart(PlatThreadProc proc, void* arg, size_t stack_size) {
  auto shared = std::make_shared<PlatThreadShared>();
  shared->proc = proc;
  shared->arg = arg;
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  if (stack_size) {
    size_t size = stack_size * kStackFactor;
    size_t min_size = static_cast<size_t>(PTHREAD_STACK_MIN);
    if (size < min_size) size = min_size;
    pthread_attr_setstacksize(&attr, size);
  }
  auto* holder = new std::shared_ptr<PlatThreadShared>(shared);
  pthread_t tid;
  int rc = pthread_create(&tid, &attr, Run, holder);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete holder;
    PlatSetLastErrorFromErrno(rc);
    return nullptr;
  }
  return new PlatThread{shared};
}

uint32_t PlatThreadWait(PlatThread* thread, uint32_t timeout_ms) {
  if (!thread) {
    PlatSetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  std::unique_lock<std::mutex> g(thread->shared->lock);
  if (timeout_ms == 0xFFFFFFFFu) {
    thread->shared->cv.wait(g, [&] { return thread->shared->done; });
    return WAIT_OBJECT_0;
  }
  bool done = thread->shared->cv.wait_for(g, std::chrono::milliseconds(timeout_ms),
                                          [&] { return thread->shared->done; });
  return done ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

void PlatThreadClose(PlatThread* thread) { delete thread; }
