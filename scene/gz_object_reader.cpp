#include "scene/gz_object_reader.h"

#include "scene/read_ahead_inflater.h"

namespace qx {

GzObjectReader::GzObjectReader(gzFile file) : inflater_(std::make_unique<ReadAheadInflater>(file)) {}

GzObjectReader::~GzObjectReader() = default;

std::unique_ptr<GzObjectReader> GzObjectReader::Open(const std::string& path) {
  gzFile file = gzopen(path.c_str(), "rb");
  if (file == nullptr) return nullptr;
  return std::make_unique<GzObjectReader>(file);
}

size_t GzObjectReader::Get(void* data, size_t count) { return inflater_->Read(data, count); }

}  // namespace qx
