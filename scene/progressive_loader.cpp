#include "scene/progressive_loader.h"

#include <cassert>
#include <chrono>
#include <system_error>

#include "common/diagnostics.h"
#include "common/pipe.h"
#include "fan/mesh_packer.h"
#include "scene/feeder.h"
#include "scene/pipe_scene_reader.h"
#include "scene/scene_file.h"
#include "scene/scene_model.h"

namespace qx {

ProgressiveLoader::ProgressiveLoader(LoaderHooks hooks) : hooks_(std::move(hooks)) {}

ProgressiveLoader::~ProgressiveLoader() {
  StopLoad();
  delete scene_.exchange(nullptr);
}

bool ProgressiveLoader::LoadFile(const std::string& path, int32_t rate) {
  SetScene(nullptr, path);
  if (path.empty()) return false;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  return rate <= 0 ? LoadDirect(file, path) : LoadEmulated(file, rate);
}

bool ProgressiveLoader::LoadDirect(std::FILE* file, const std::string& path) {
  std::fclose(file);
  SetProgressiveLoading(false);
  const auto start = std::chrono::steady_clock::now();
  std::unique_ptr<QXScene> scene = LoadScene(path);
  if (!scene) return false;
  SetScene(std::move(scene), path);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  PrintMessage("\nLoad time: %d",
               static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()));
  return true;
}

bool ProgressiveLoader::LoadEmulated(std::FILE* file, int32_t rate) {
  SetProgressiveLoading(true);
  if (!StartPipe()) {
    std::fclose(file);
    return false;
  }
  // The token is taken on the feeder's behalf before it exists, so that a
  // SetScene right after this call already waits for it.
  feederToken_.acquire();
  feederWake_.Reset();
  feeding_ = true;
  if (!StartThread(feeder_, [this, file, rate] { FeedFile(file, rate); })) {
    feeding_ = false;
    feederToken_.release();
    std::fclose(file);
    ClosePipe();
    return false;
  }
  return true;
}

void ProgressiveLoader::FeedFile(std::FILE* file, int32_t rate) {
  // Without privileges the raise fails; the feed then runs at normal
  // priority, which only costs pacing accuracy on a busy machine.
  SetCurrentThreadPriority(ThreadPriority::kHighest);
  const FeederHooks hooks{
      [this](std::span<const uint8_t> bytes) { return Feed(bytes); },
      [] { return std::chrono::steady_clock::now(); },
      [this](std::chrono::steady_clock::time_point deadline) { return !feederWake_.SleepUntil(deadline); },
  };
  RunFeeder(file, FeedScheduleFor(rate), hooks);
  std::fclose(file);
  ClosePipe();
  feeding_ = false;
  feederToken_.release();
}

void ProgressiveLoader::SetScene(std::unique_ptr<QXScene> scene, const std::string& path) {
  assert(scene == nullptr || scene.get() != Scene());
  // A load is stopped even when there is no scene to replace yet: its
  // header may not have arrived.
  StopLoad();
  ReleaseScene();
  scene_.store(scene.release(), std::memory_order_release);
  fileName_ = path;
  PrintMessage("\nScene: %s", path.c_str());
}

bool ProgressiveLoader::StartPipe() {
  // A feeder still running would go on writing into the new pipe.
  StopLoad();
  ReleaseScene();
  PipeEnds ends;
  if (!OpenPipe(ends, kLoaderPipeBytes)) return false;
  windowLock_.acquire();
  writeDescriptor_ = ends.write;
  input_ = std::make_unique<PipeSceneReader>(ends.read);
  const bool started = input_->Start([this](QXScene* scene) { scene_.store(scene, std::memory_order_release); });
  windowLock_.release();
  // Without readers nobody would ever empty the pipe.
  if (!started) ClosePipe();
  return started;
}

size_t ProgressiveLoader::Feed(std::span<const uint8_t> bytes) {
  size_t accepted = 0;
  windowLock_.acquire();
  if (writeDescriptor_ >= 0 && !bytes.empty() && WriteFully(writeDescriptor_, bytes.data(), bytes.size())) {
    accepted = bytes.size();
    bytesFed_ += accepted;
    ++chunksFed_;
    Redraw();
  }
  windowLock_.release();
  return accepted;
}

void ProgressiveLoader::ClosePipe() {
  windowLock_.acquire();
  // The readers see the end of the data once the write end is closed, decode
  // what is left in the pipe and end; destroying the input waits for them.
  CloseDescriptor(writeDescriptor_);
  input_.reset();
  windowLock_.release();
  Redraw();
}

void ProgressiveLoader::WaitForLoad() {
  feederToken_.acquire();
  feederToken_.release();
  JoinFeeder();
}

void ProgressiveLoader::StopLoad() {
  feederWake_.Raise();
  ClosePipe();
  WaitForLoad();
}

void ProgressiveLoader::JoinFeeder() {
  if (!feeder_.joinable()) return;
  try {
    feeder_.join();
  } catch (const std::system_error&) {
    FatalError("Error cerrando thread");
  }
}

void ProgressiveLoader::ReleaseScene() {
  std::unique_ptr<QXScene> old(scene_.exchange(nullptr));
  if (!old) return;
  if (hooks_.releaseScene) hooks_.releaseScene(*old);
  old.reset();
  Redraw();
}

void ProgressiveLoader::Redraw() {
  if (hooks_.redraw) hooks_.redraw();
}

}  // namespace qx
