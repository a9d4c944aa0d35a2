#include "control/web_decoder.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "scene/scene_model.h"
#include "stream/persistent.h"

// Suspends the calling coroutine until the script resumes it (web_library.js).
extern "C" void qx_wait_for_bytes(void);

namespace qx {

// The object stream over the fed bytes.
class WebDecoder::QueueReader final : public ObjectReader {
 public:
  explicit QueueReader(WebDecoder& decoder) : decoder_(decoder) {}

 protected:
  size_t Get(void* data, size_t count) override { return decoder_.Take(static_cast<uint8_t*>(data), count); }

 private:
  WebDecoder& decoder_;
};

namespace {

// Read bytes are dropped from the front of the queue once they make up at
// least this much and half of it, so the queue stays about as long as what
// is waiting.
constexpr size_t kCompactBytes = 64 * 1024;

// The top-level object as a scene; anything else is dropped, except class
// descriptors, which belong to the stream.
QXScene* AsScene(PersistentObject* object) {
  auto* scene = dynamic_cast<QXScene*>(object);
  if (!scene && object && !dynamic_cast<ClassDescriptor*>(object)) delete object;
  return scene;
}

}  // namespace

WebDecoder::WebDecoder() = default;

WebDecoder::~WebDecoder() = default;

void WebDecoder::StartPipe() {
  SetSceneNone();
  reader_ = std::make_unique<QueueReader>(*this);
  open_ = true;
}

size_t WebDecoder::Feed(std::span<const uint8_t> bytes) {
  if (!open_ || bytes.empty()) return 0;
  if (head_ >= kCompactBytes && 2 * head_ >= queue_.size()) {
    queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(head_));
    head_ = 0;
  }
  queue_.insert(queue_.end(), bytes.begin(), bytes.end());
  fed_ += bytes.size();
  return bytes.size();
}

uint64_t WebDecoder::BytesRead() const { return reader_ ? reader_->Tell() : 0; }

void WebDecoder::ClosePipe() { open_ = false; }

void WebDecoder::SetSceneNone() {
  open_ = false;
  scene_.reset();
  reader_.reset();
  std::vector<uint8_t>().swap(queue_);
  head_ = 0;
  fed_ = 0;
}

size_t WebDecoder::Take(uint8_t* data, size_t count) {
  // Like a read from the native pipe, this returns short only at the end of
  // the data: the object stream takes a short read for the end.
  size_t got = 0;
  while (got < count) {
    if (head_ == queue_.size()) {
      if (!open_) break;
      state_ = DecoderState::kWaiting;
      qx_wait_for_bytes();
      state_ = DecoderState::kRunning;
      continue;
    }
    const size_t part = std::min(count - got, queue_.size() - head_);
    std::memcpy(data + got, queue_.data() + head_, part);
    head_ += part;
    got += part;
  }
  return got;
}

void WebDecoder::Run() {
  if (!reader_ || state_ != DecoderState::kIdle) return;
  state_ = DecoderState::kRunning;
  if (QXScene* scene = AsScene(reader_->ReadObjectHeader())) {
    // The script may ask for the meshes between two feeds: until the body
    // has read the mesh list, chains and hierarchy it sees none of them.
    scene->structureReady = false;
    scene_.reset(scene);
    scene->Read(*reader_);
    scene->structureReady = true;
  }
  // Whatever follows the scene is read and dropped until the data ends, as
  // the native readers drain their pipe.
  uint8_t rest[4096];
  while (Take(rest, sizeof rest) > 0) {
  }
  std::vector<uint8_t>().swap(queue_);
  head_ = 0;
  state_ = DecoderState::kIdle;
}

}  // namespace qx
