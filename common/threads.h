// Small helpers for the few threads the program runs besides the window
// thread (the progressive loader's feeder and readers).
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace qx {

// Scheduling hints relative to the window thread: readers run below it so
// that drawing stays smooth, the feeder above it so that the emulated line
// keeps its pace.
enum class ThreadPriority { kLowest, kHighest };

// Applies `priority` to the calling thread. Best effort: raising a priority
// needs privileges that a user rarely has, and platforms without per-thread
// niceness ignore the hint. False when the hint was not applied; callers go
// on regardless.
bool SetCurrentThreadPriority(ThreadPriority priority);

// Starts `body` on `thread` (which must not hold a running thread). False
// when the system cannot create another thread.
bool StartThread(std::thread& thread, std::function<void()> body);

// A flag that one thread raises to cut another's wait short. The waiter
// sleeps until a deadline or until the flag is raised, whichever comes
// first; the flag stays raised until Reset.
class WakeSignal {
 public:
  using Clock = std::chrono::steady_clock;

  void Raise();
  void Reset();
  bool Raised();
  // Sleeps until `deadline`; returns early with true when the flag is (or
  // becomes) raised, false when the deadline passed.
  bool SleepUntil(Clock::time_point deadline);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool raised_ = false;
};

}  // namespace qx
