#include "scene/pipe_scene_reader.h"

#include <algorithm>
#include <climits>

#include "common/pipe.h"
#include "common/threads.h"
#include "scene/scene_model.h"
#include "stream/persistent.h"

namespace qx {
namespace {

// zlib's smallest buffer: it waits for at most this many compressed bytes
// (twice as many for an unpacked stream) before it hands data on.
constexpr unsigned kGzipBufferBytes = 8;

// The top-level object as a scene. Anything else is dropped, except class
// descriptors, which belong to the stream.
QXScene* AsScene(PersistentObject* object) {
  auto* scene = dynamic_cast<QXScene*>(object);
  if (!scene && object && !dynamic_cast<ClassDescriptor*>(object)) delete object;
  return scene;
}

}  // namespace

PipeSceneReader::PipeSceneReader(int readDescriptor) : descriptor_(readDescriptor) {}

PipeSceneReader::~PipeSceneReader() {
  headerGate_.acquire();
  bodyGate_.acquire();
  if (headerThread_.joinable()) headerThread_.join();
  if (bodyThread_.joinable()) bodyThread_.join();
  bodyGate_.release();
  headerGate_.release();
  if (gzip_)
    gzclose(gzip_);
  else
    CloseDescriptor(descriptor_);
}

bool PipeSceneReader::Start(Publish publish) {
  headerGate_.acquire();
  if (StartThread(headerThread_, [this, publish = std::move(publish)] { ReadHeader(publish); })) return true;
  headerGate_.release();
  return false;
}

size_t PipeSceneReader::Get(void* data, size_t count) {
  if (!gzip_) {
    gzip_ = gzdopen(descriptor_, "rb");
    if (!gzip_) return 0;
    gzbuffer(gzip_, kGzipBufferBytes);
  }
  const int got = gzread(gzip_, data, static_cast<unsigned>(std::min<size_t>(count, INT_MAX)));
  return got > 0 ? static_cast<size_t>(got) : 0;
}

void PipeSceneReader::ReadHeader(const Publish& publish) {
  SetCurrentThreadPriority(ThreadPriority::kLowest);
  QXScene* scene = AsScene(ReadObjectHeader());
  if (scene) {
    // Set before anybody else can see the scene: the window must not look at
    // the box, meshes or hierarchy while the body thread writes them.
    scene->structureReady = false;
    bodyGate_.acquire();
    if (!StartThread(bodyThread_, [this, scene] { ReadBody(scene); })) {
      bodyGate_.release();
      delete scene;
      scene = nullptr;
    }
  }
  if (!scene) DrainDescriptor(descriptor_);
  publish(scene);
  headerGate_.release();
}

void PipeSceneReader::ReadBody(QXScene* scene) {
  SetCurrentThreadPriority(ThreadPriority::kLowest);
  scene->Read(*this);
  DrainDescriptor(descriptor_);
  bodyGate_.release();
}

}  // namespace qx
