// ProgressiveLoader: the scene a window shows and the machinery that loads
// it, directly or as if it came over a slow line.
//
// A direct load (rate 0) reads the whole file on the calling thread. An
// emulated load runs three threads:
//
//   feeder (raised priority)   file ──chunk per period──► Feed ──► pipe
//   header thread (lowered)    pipe ──► scene record header ──► Scene()
//   body thread (lowered)      pipe ──► mesh headers, chains, steps ──► meshes
//
// The window keeps drawing Scene() meanwhile; every accepted chunk asks it
// to redraw. Synchronisation:
//   - the window lock makes "is the pipe open? then write (or close) it" one
//     step, so Feed never writes into a closed pipe;
//   - the feeder holds the feeder token for its whole life; stopping a load
//     waits for it to know that the feeder is gone;
//   - the pipe reader's header and body gates (pipe_scene_reader.h) tell
//     when the readers are gone;
//   - each mesh's lock separates the body thread's insertion of a vertex
//     from the window's walk over that mesh.
//
// Threading contract: LoadFile, SetScene, StartPipe, WaitForLoad and the
// destructor belong to one thread, the window's. Feed and ClosePipe may come
// from any thread. While Scene() is loading, the window reads its box, mesh
// list, chains and hierarchy only when `structureReady` is set, and walks a
// mesh only under the mesh's lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <semaphore>
#include <span>
#include <string>
#include <thread>

#include "common/threads.h"

namespace qx {

class PipeSceneReader;
class QXScene;

struct LoaderHooks {
  // Marks the view for redraw. Called from the feeder thread (or whoever
  // calls Feed) as well as the window thread, so it must only post the
  // request, never draw.
  std::function<void()> redraw;
  // Called on the window thread just before the current scene is destroyed,
  // for whatever the window keeps per scene (draw lists, camera framing).
  std::function<void(QXScene&)> releaseScene;
};

// The pipe between the feeder and the readers holds this many bytes.
inline constexpr int kLoaderPipeBytes = 4096;

class ProgressiveLoader {
 public:
  explicit ProgressiveLoader(LoaderHooks hooks = {});
  // Stops any load and destroys the scene (without calling the hooks).
  ~ProgressiveLoader();
  ProgressiveLoader(const ProgressiveLoader&) = delete;
  ProgressiveLoader& operator=(const ProgressiveLoader&) = delete;

  // Replaces the scene by the file at `path`: first SetScene(none, path),
  // so the title is the path whatever happens. Rate 0 (or below) reads the
  // file at once and writes "\nLoad time: %d" (milliseconds); a positive
  // rate starts an emulated load at that many bytes per second. True when the load was
  // completed (direct) or started (emulated); false for an empty path, a
  // file that cannot be opened, a direct load that found no scene, or a
  // pipe or thread that could not be created.
  bool LoadFile(const std::string& path, int32_t rate);

  // Stops any load in progress (closes the pipe, waits for the readers and
  // the feeder), destroys the current scene, then makes `scene` current
  // with `path` as file name and writes "\nScene: %s". `scene` may be none.
  void SetScene(std::unique_ptr<QXScene> scene, const std::string& path);

  // Opens the pipe and starts the reader threads, with no current scene;
  // the bytes then come through Feed. A load in progress is stopped first,
  // and a current scene is destroyed. False when the pipe or the header
  // thread cannot be created.
  bool StartPipe();
  // Writes `bytes` into the pipe (waiting while it is full) and asks for a
  // redraw. Returns the bytes accepted: all of them, or 0 when no pipe is
  // open.
  size_t Feed(std::span<const uint8_t> bytes);
  // Ends the data: closes the write end, waits for the readers to decode
  // what is left and to finish, and forgets the pipe. Nothing when no pipe
  // is open (apart from the redraw request).
  void ClosePipe();

  // Waits until an emulated load has fed its whole file and its readers are
  // done (at once when none is running).
  void WaitForLoad();

  // The current scene (possibly still loading), owned by the loader.
  QXScene* Scene() const { return scene_.load(std::memory_order_acquire); }
  // The path of the current scene: the window's title.
  const std::string& FileName() const { return fileName_; }
  // Gives the current scene a new path without reloading it (after a save).
  void SetFileName(const std::string& path) { fileName_ = path; }
  // True from the start of an emulated load until its feeder has ended.
  bool Feeding() const { return feeding_.load(); }
  // Bytes and chunks accepted by Feed since the loader was created.
  uint64_t BytesFed() const { return bytesFed_.load(); }
  int64_t ChunksFed() const { return chunksFed_.load(); }

 private:
  bool LoadDirect(std::FILE* file, const std::string& path);
  bool LoadEmulated(std::FILE* file, int32_t rate);
  void FeedFile(std::FILE* file, int32_t rate);
  // Closes the pipe and waits for the feeder to end.
  void StopLoad();
  void JoinFeeder();
  void ReleaseScene();
  void Redraw();

  LoaderHooks hooks_;
  std::atomic<QXScene*> scene_{nullptr};  // written by the header thread once per load
  std::string fileName_;

  std::binary_semaphore windowLock_{1};
  int writeDescriptor_ = -1;                // guarded by windowLock_
  std::unique_ptr<PipeSceneReader> input_;  // guarded by windowLock_

  std::binary_semaphore feederToken_{1};
  std::thread feeder_;
  WakeSignal feederWake_;  // cuts the feeder's wait short when a load stops
  std::atomic<bool> feeding_{false};
  std::atomic<uint64_t> bytesFed_{0};
  std::atomic<int64_t> chunksFed_{0};
};

}  // namespace qx
