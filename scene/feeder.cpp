#include "scene/feeder.h"

#include <algorithm>
#include <vector>

namespace qx {
namespace {

// Whether the next read would find nothing: a file that ends exactly at a
// chunk border is then finished without waiting one more period for an
// empty read.
bool AtEnd(std::FILE* file) {
  const int next = std::fgetc(file);
  if (next == EOF) return true;
  std::ungetc(next, file);
  return false;
}

}  // namespace

FeedSchedule FeedScheduleFor(int32_t bytesPerSecond) {
  const int32_t rate = std::max<int32_t>(bytesPerSecond, 1);
  const int32_t chunk = std::min(rate, kMaxFeedChunk);
  return {chunk, std::chrono::milliseconds(int64_t{chunk} * 1000 / rate)};
}

int64_t RunFeeder(std::FILE* file, FeedSchedule schedule, const FeederHooks& hooks) {
  std::vector<uint8_t> chunk(static_cast<size_t>(schedule.chunkBytes));
  auto deadline = hooks.now() + schedule.period;
  int64_t accepted = 0;
  for (;;) {
    const size_t got = std::fread(chunk.data(), 1, chunk.size(), file);
    if (got == 0 || hooks.feed(std::span<const uint8_t>(chunk.data(), got)) == 0) break;
    ++accepted;
    if (got < chunk.size() || AtEnd(file)) break;
    if (!hooks.sleepUntil(deadline)) break;
    deadline = hooks.now() + schedule.period;
  }
  return accepted;
}

}  // namespace qx
