// WebDecoder: the progressive loader of the WebAssembly viewer, without
// threads.
//
// The native loader decodes on a header thread and a body thread that block
// on a pipe. Here both readers run as one coroutine on the page's thread:
// `Run` reads the scene record's header (the scene then exists and can be
// shown), then its body, and whenever it needs a byte that has not been fed
// it suspends through `WaitForBytes` (an Asyncify import: the wasm stack is
// unwound back to the script and rewound when the script resumes it after
// the next Feed or Close). So, as with the native pipe:
//
//   StartPipe   the scene is dropped; Run starts and waits for bytes;
//   Feed        queues bytes; the script resumes Run, which decodes all it
//               can and suspends again — every mesh shows what was decoded;
//   ClosePipe   ends the data; resumed, Run finishes the scene with what it
//               has (a truncated file loads at lower detail) and returns;
//   SetScene    (none) closes the pipe first, so the coroutine has ended
//               before the scene it writes into is destroyed.
//
// Only one coroutine can be suspended per module instance, hence one decoder
// per instance; the script creates an instance per stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <vector>

#include "stream/object_reader.h"

namespace qx {

class QXScene;

// Where the coroutine is.
enum class DecoderState : int32_t {
  kIdle = 0,     // no pipe: nothing started, or the last run has ended
  kWaiting = 1,  // suspended for bytes; resume after Feed or ClosePipe
  kRunning = 2,  // inside Run (only seen from within the decoder)
};

class WebDecoder {
 public:
  WebDecoder();
  ~WebDecoder();
  WebDecoder(const WebDecoder&) = delete;
  WebDecoder& operator=(const WebDecoder&) = delete;

  // Drops the current scene and opens a new pipe. The caller then calls Run
  // (from a fresh call into the module), which suspends at once.
  void StartPipe();
  // Queues `bytes` for the coroutine; returns the count accepted (0 when no
  // pipe is open or it was closed). The caller resumes the coroutine.
  size_t Feed(std::span<const uint8_t> bytes);
  // Ends the data. The caller resumes the coroutine, which then finishes.
  void ClosePipe();
  // Destroys the scene and forgets the pipe. The coroutine must not be
  // suspended (close the pipe and resume it first): it writes into the scene.
  void SetSceneNone();

  // The coroutine: header, then body, then drains what is left. Suspends in
  // WaitForBytes; returns when the data has ended.
  void Run();

  DecoderState State() const { return state_; }
  QXScene* Scene() const { return scene_.get(); }
  // Bytes fed since StartPipe, and bytes the decoder has taken of them.
  uint64_t BytesFed() const { return fed_; }
  uint64_t BytesRead() const;
  // Bytes queued and not yet read.
  size_t Queued() const { return queue_.size() - head_; }

 private:
  class QueueReader;
  // Copies up to `count` queued bytes out; suspends while none are queued
  // and the pipe is open. 0 means the data has ended.
  size_t Take(uint8_t* data, size_t count);

  std::unique_ptr<QXScene> scene_;
  std::unique_ptr<QueueReader> reader_;
  std::vector<uint8_t> queue_;  // fed bytes; the first head_ are read
  size_t head_ = 0;
  bool open_ = false;
  uint64_t fed_ = 0;
  DecoderState state_ = DecoderState::kIdle;
};

}  // namespace qx
