// Fuzzes a whole scene stream read from memory: the object stream, every
// stored class, and the mesh coders the scene's meshes are decoded with; then
// the scene tools that reshape a hierarchy as it was read (shared, looping
// or deep) on what was decoded.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "scene/scene_file.h"
#include "scene/scene_model.h"
#include "stream/registry.h"
#include "tools/scene_tools.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qx::RegisterStandardClasses();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<qx::QXScene> scene = qx::DecodeScene({data, size});
  if (scene) qx::Compact(*scene);
  return 0;
}
