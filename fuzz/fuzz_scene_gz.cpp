// Fuzzes loading a scene file from disk, which always goes through the gzip
// reader (packed or plain): the same stream as the memory harness, behind
// zlib and the reader's own buffering and skipping.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz/fuzz_support.h"
#include "scene/scene_file.h"
#include "scene/scene_model.h"
#include "stream/registry.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qx::RegisterStandardClasses();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = qx::fuzzing::WriteScratchFile("input.qxz", {data, size});
  if (path.empty()) return 0;
  std::unique_ptr<qx::QXScene> scene = qx::LoadScene(path);
  return 0;
}
