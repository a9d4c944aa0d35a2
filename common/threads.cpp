#include "common/threads.h"

#include <system_error>

#if defined(__linux__)
#include <cerrno>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace qx {
#if defined(__linux__)
namespace {

// Niceness steps for the two hints; a nice value of 5 gives a thread about a
// third of the share of a thread at 0, enough to keep it out of the way
// without starving it on a busy machine.
constexpr int kNicenessStep = 5;

}  // namespace
#endif

bool SetCurrentThreadPriority(ThreadPriority priority) {
#if defined(__linux__)
  // On Linux each thread has its own nice value, addressed by its thread id;
  // the process id addresses the main thread. The hint is taken relative to
  // the main thread, since a new thread inherits the value of its creator.
  errno = 0;
  const int base = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::getpid()));
  if (base == -1 && errno != 0) return false;
  const int wanted = priority == ThreadPriority::kLowest ? base + kNicenessStep : base - kNicenessStep;
  return ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), wanted) == 0;
#else
  (void)priority;
  return false;
#endif
}

bool StartThread(std::thread& thread, std::function<void()> body) {
#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
  // The WebAssembly build has no threads, and a failed start there aborts
  // instead of throwing: report it, and the callers do the work themselves.
  (void)thread;
  (void)body;
  return false;
#else
  try {
    thread = std::thread(std::move(body));
    return true;
  } catch (const std::system_error&) {
    return false;
  }
#endif
}

void WakeSignal::Raise() {
  {
    std::lock_guard lock(mutex_);
    raised_ = true;
  }
  changed_.notify_all();
}

void WakeSignal::Reset() {
  std::lock_guard lock(mutex_);
  raised_ = false;
}

bool WakeSignal::Raised() {
  std::lock_guard lock(mutex_);
  return raised_;
}

bool WakeSignal::SleepUntil(Clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  return changed_.wait_until(lock, deadline, [this] { return raised_; });
}

}  // namespace qx
