// The feeder of an emulated line: it copies a file into the progressive
// loader's pipe chunk by chunk, one chunk per period, so that the readers on
// the other side see the bytes arrive at the chosen rate.
//
//   chunk  = min(rate, 1024) bytes
//   period = chunk × 1000 / rate ms (integer division)
//   loop:  read up to a chunk; feed it (stop when it is refused: the pipe
//          was closed); stop at the end of the file; otherwise wait until one
//          period after the previous wait ended (stop when the wait is cut
//          short), and go on.
//
// The next deadline is counted from when the wait ended, not from the last
// deadline, so a feeder that was held up never catches up in a burst.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>

namespace qx {

// Chunks larger than this would make the picture refine in visible jumps.
inline constexpr int32_t kMaxFeedChunk = 1024;

struct FeedSchedule {
  int32_t chunkBytes;
  std::chrono::milliseconds period;
};

// The chunk size and period for `bytesPerSecond` (at least 1): 37 bytes/s
// gives 37-byte chunks every 1000 ms, 32000 bytes/s 1024-byte chunks every
// 32 ms.
FeedSchedule FeedScheduleFor(int32_t bytesPerSecond);

// What the feeder loop needs from the outside: the loader passes its Feed,
// the steady clock and a sleep that ends early when the load is stopped;
// tests pass a simulated clock.
struct FeederHooks {
  using Clock = std::chrono::steady_clock;
  // Hands one chunk on; returns the bytes accepted, 0 when the pipe is closed.
  std::function<size_t(std::span<const uint8_t>)> feed;
  std::function<Clock::time_point()> now;
  // Waits until the deadline (at once when it has passed); false when the
  // feed is being stopped.
  std::function<bool(Clock::time_point)> sleepUntil;
};

// Feeds `file` (opened "rb", left open) by `schedule`. Returns the number of
// chunks accepted. A file shorter than one chunk is fed once, without any
// wait.
int64_t RunFeeder(std::FILE* file, FeedSchedule schedule, const FeederHooks& hooks);

}  // namespace qx
