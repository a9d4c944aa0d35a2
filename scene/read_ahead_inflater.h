// ReadAheadInflater: reads a gzip file (or a plain one, which zlib passes
// through) one block ahead of its consumer, on a thread of its own.
//
// A scene file is decoded word by word, and inflating it takes a tenth of a
// direct load; done beside the decoding on a second core it costs the
// loading thread only a copy per block. Small reads are served from the
// current block, so no call reaches zlib per word either. When no thread can
// be started the consumer inflates each block itself.
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include <zlib.h>

namespace qx {

class ReadAheadInflater {
 public:
  // Takes ownership of `file` and starts inflating it.
  explicit ReadAheadInflater(gzFile file);
  // Stops the inflating thread and closes the file.
  ~ReadAheadInflater();
  ReadAheadInflater(const ReadAheadInflater&) = delete;
  ReadAheadInflater& operator=(const ReadAheadInflater&) = delete;

  // Copies up to `count` bytes out; fewer only at the end of the data (or at
  // a damaged gzip stream, which reads as ended there).
  size_t Read(void* data, size_t count);

 private:
  static constexpr size_t kBlockBytes = size_t{1} << 18;
  struct Block {
    // Left uninitialised: only the inflated part is ever read, and clearing
    // a block costs a small scene file more than reading it.
    std::unique_ptr<uint8_t[]> bytes{new uint8_t[kBlockBytes]};
    size_t size = 0;  // bytes inflated into it; less than a block at the end
  };

  void InflateInto(Block& block);
  void InflateAhead();  // the thread's body
  // Makes the next inflated block current; false at the end of the data.
  bool NextBlock();

  gzFile file_;
  std::array<Block, 2> blocks_;
  // Blocks alternate: the inflater fills blocks_[filled_ % 2] while the
  // consumer reads blocks_[consumed_ % 2]; a block is the inflater's again
  // once the consumer has moved past it.
  uint64_t filled_ = 0;    // blocks handed to the consumer
  uint64_t consumed_ = 0;  // blocks the consumer has finished with
  bool ended_ = false;     // the inflater has handed over its last block
  bool stopping_ = false;  // the consumer is gone: the inflater quits
  std::mutex mutex_;
  std::condition_variable changed_;
  std::thread inflater_;

  // The consumer's side, touched by the consumer only.
  const Block* current_ = nullptr;
  size_t cursor_ = 0;
};

}  // namespace qx
