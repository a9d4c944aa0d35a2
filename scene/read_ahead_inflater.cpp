#include "scene/read_ahead_inflater.h"

#include <algorithm>
#include <cstring>

#include "common/threads.h"

namespace qx {

ReadAheadInflater::ReadAheadInflater(gzFile file) : file_(file) {
  // Without a thread of its own the consumer inflates each block when it
  // needs it (NextBlock).
  StartThread(inflater_, [this] { InflateAhead(); });
}

ReadAheadInflater::~ReadAheadInflater() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (inflater_.joinable()) inflater_.join();
  gzclose(file_);
}

void ReadAheadInflater::InflateInto(Block& block) {
  const int got = gzread(file_, block.bytes.get(), static_cast<unsigned>(kBlockBytes));
  block.size = got > 0 ? static_cast<size_t>(got) : 0;
}

void ReadAheadInflater::InflateAhead() {
  for (;;) {
    Block* block;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return stopping_ || filled_ - consumed_ < blocks_.size(); });
      if (stopping_) return;
      block = &blocks_[filled_ % blocks_.size()];
    }
    InflateInto(*block);  // the consumer keeps off this block until it is counted
    const bool last = block->size < kBlockBytes;
    {
      std::lock_guard lock(mutex_);
      ++filled_;
      ended_ = last;
    }
    changed_.notify_all();
    if (last) return;
  }
}

bool ReadAheadInflater::NextBlock() {
  cursor_ = 0;
  if (!inflater_.joinable()) {
    if (ended_) return false;
    InflateInto(blocks_[0]);
    ended_ = blocks_[0].size < kBlockBytes;
    current_ = &blocks_[0];
    return true;
  }
  std::unique_lock lock(mutex_);
  if (current_ != nullptr) {
    ++consumed_;  // hand the finished block back to the inflater
    current_ = nullptr;
    changed_.notify_all();
  }
  changed_.wait(lock, [this] { return filled_ > consumed_ || ended_; });
  if (filled_ == consumed_) return false;
  current_ = &blocks_[consumed_ % blocks_.size()];
  return true;
}

size_t ReadAheadInflater::Read(void* data, size_t count) {
  auto* out = static_cast<uint8_t*>(data);
  size_t copied = 0;
  while (copied < count) {
    if (current_ == nullptr || cursor_ == current_->size) {
      if (!NextBlock()) break;
      continue;
    }
    const size_t part = std::min(count - copied, current_->size - cursor_);
    std::memcpy(out + copied, current_->bytes.get() + cursor_, part);
    cursor_ += part;
    copied += part;
  }
  return copied;
}

}  // namespace qx
