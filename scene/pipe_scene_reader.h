// The reading side of a progressive load: an object input stream over the
// read end of a pipe, and the two threads that decode a scene from it.
//
//   header thread: reads the scene record's header and creates the scene
//                  (ReadObjectHeader) as soon as those few bytes arrive,
//                  starts the body thread and hands the scene to `publish`,
//                  so the window can show it while it is still empty;
//   body thread:   reads the scene's body (QXScene::Read): box, mesh
//                  headers, chains, then refinement step after step, each
//                  vertex published under its mesh's lock.
//
// Each thread holds a gate (a binary semaphore) for its whole life; the
// header gate is taken on the header thread's behalf before it starts and the
// body gate on the body thread's behalf by the header thread. The destructor
// takes the header gate, then the body gate, so it returns only when both
// threads are done.
//
// Both threads read until the end of the pipe's data, even when the scene
// ended earlier or no scene came at all: a writer on the other end then never
// waits on a reader that stopped listening.
//
// The gzip reader (which passes unpacked streams through) is opened on the
// descriptor at the first read, with its smallest buffer: zlib fills its
// whole buffer before it decodes anything, and on a slow line its usual
// buffer would hold back minutes of data. The readers then lag the feed by
// at most 16 bytes until the pipe is closed.
#pragma once

#include <functional>
#include <semaphore>
#include <thread>

#include <zlib.h>

#include "stream/object_reader.h"

namespace qx {

class QXScene;

class PipeSceneReader final : public ObjectReader {
 public:
  // Called once from the header thread with the new scene, or none when the
  // data held no scene. The scene then belongs to the callee; it stays
  // alive at least as long as this reader (the body thread writes into it).
  using Publish = std::function<void(QXScene*)>;

  // Takes ownership of `readDescriptor`.
  explicit PipeSceneReader(int readDescriptor);
  // Waits for both reader threads, then closes the gzip reader and the
  // descriptor. The pipe's write end must be closed first: until then the
  // threads may be waiting for bytes.
  ~PipeSceneReader() override;
  PipeSceneReader(const PipeSceneReader&) = delete;
  PipeSceneReader& operator=(const PipeSceneReader&) = delete;

  // Starts the header thread. False (and `publish` never called) when the
  // thread cannot be created.
  bool Start(Publish publish);

 protected:
  size_t Get(void* data, size_t count) override;

 private:
  void ReadHeader(const Publish& publish);
  void ReadBody(QXScene* scene);

  int descriptor_;
  gzFile gzip_ = nullptr;  // opened at the first read; owns the descriptor then
  std::binary_semaphore headerGate_{1};
  std::binary_semaphore bodyGate_{1};
  std::thread headerThread_;
  std::thread bodyThread_;  // started by the header thread
};

}  // namespace qx
