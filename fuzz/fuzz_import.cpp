// Fuzzes one model format through the whole import: the input is written to
// a file with the format's extension and imported as the import command does,
// reader, importer and fan builder together. Built once per format, with
// VERMELLE_FUZZ_EXTENSION naming the extension (".obj", ".3ds", ...).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "fuzz/fuzz_support.h"
#include "import/import_options.h"
#include "import/importer.h"
#include "import/model_format.h"
#include "scene/scene_model.h"
#include "stream/registry.h"

#ifndef VERMELLE_FUZZ_EXTENSION
#error "VERMELLE_FUZZ_EXTENSION must name the format's file extension"
#endif

namespace {

qx::ImportOptions FuzzOptions(qx::ModelFormat format) {
  qx::ImportOptions options = qx::ImportOptions::Defaults(format);
  // A coarse level keeps one run of the builder short.
  options.simplificationLevel = 0.1f;
  // An LDraw file finds no part library: only what it holds itself is read,
  // so a run does not depend on what the machine has installed.
  options.ldrawDir = qx::fuzzing::ScratchFolder() + "/no-library";
  return options;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qx::RegisterStandardClasses();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string name = std::string("input") + VERMELLE_FUZZ_EXTENSION;
  static const qx::ImportOptions options = FuzzOptions(*qx::ModelFormatForFile(name));
  const std::string path = qx::fuzzing::WriteScratchFile(name, {data, size});
  if (path.empty()) return 0;
  std::unique_ptr<qx::QXScene> scene = qx::ImportModel(path, options);
  return 0;
}
