// Fuzzes the settings file: every section the program reads at start-up, the
// single-key reads, and an edit of the hostile text in memory (nothing is
// written back).
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/settings.h"
#include "fuzz/fuzz_support.h"
#include "import/import_options.h"

namespace {

void ReadEverySection(const std::string& path) {
  qx::ViewSettings::Load(path);
  qx::SaveDialogSettings::Load(path);
  qx::LoadDialogSettings::Load(path);
  qx::ImportOptions::Load(qx::ModelFormat::FmtLDraw, path);
}

void EditInMemory(const std::string& path) {
  qx::SettingsFile file(path);
  file.GetString("", "Key", "none");
  file.SetInt("WinScene", "DrawMode", 6913);
  file.SetString("NewSection", "Key", "value");
  file.SetFloat("DlgImport", "SimplificationLevel", 0.25f);
  file.GetFloat("DlgImport", "SimplificationLevel", 0.5f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = qx::fuzzing::WriteScratchFile("vermelle.ini", {data, size});
  if (path.empty()) return 0;
  ReadEverySection(path);
  EditInMemory(path);
  return 0;
}
