// The object stream of a scene file on disk, read through zlib's gzip
// reader. Kept apart from stream/object_reader.h so that the decoder builds
// without zlib where the bytes come unpacked (the WebAssembly viewer).
#pragma once

#include <memory>
#include <string>

#include <zlib.h>

#include "stream/object_reader.h"

namespace qx {

class ReadAheadInflater;

// Reads through zlib's gzip reader, which passes unpacked files through
// unchanged: every scene file is read this way, packed or not. The file is
// inflated a block ahead on a second thread (read_ahead_inflater.h).
class GzObjectReader final : public ObjectReader {
 public:
  // Takes ownership of `file` and closes it.
  explicit GzObjectReader(gzFile file);
  ~GzObjectReader() override;
  // Opens `path`; none when it cannot be opened.
  static std::unique_ptr<GzObjectReader> Open(const std::string& path);

 protected:
  size_t Get(void* data, size_t count) override;

 private:
  std::unique_ptr<ReadAheadInflater> inflater_;
};

}  // namespace qx
