#include "import/import_options.h"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace qx {
namespace {

const std::array<SettingsKey<ImportOptions>, 11> kImportKeys = {{
    {"FlipFaces", &ImportOptions::flipFaces},
    {"SingleObj", &ImportOptions::singleObj},
    {"Model", &ImportOptions::model},
    {"Metric", &ImportOptions::metric},
    {"MaxDegree", &ImportOptions::maxDegree},
    {"MaxDependencies", &ImportOptions::maxDependencies},
    {"Quadrics.PairContraction.GridFactor", &ImportOptions::gridFactor},
    {"Quadrics.MeshQuality", &ImportOptions::meshQuality},
    {"Quadrics.CheckBounds", &ImportOptions::checkBounds},
    {"SimplificationLevel", &ImportOptions::simplificationLevel},
    {"LDrawDir", &ImportOptions::ldrawDir, kLDrawDirSize},
}};

std::string Cut(std::string text, std::size_t bufferSize) {
  if (text.size() > bufferSize - 1) text.resize(bufferSize - 1);
  return text;
}

}  // namespace

std::string DefaultLDrawDir() {
  const char* fromEnvironment = std::getenv("LDRAWDIR");
  return Cut(fromEnvironment && *fromEnvironment ? fromEnvironment : "/usr/share/ldraw", kLDrawDirSize);
}

std::span<const SettingsKey<ImportOptions>> ImportOptions::Keys() { return kImportKeys; }

ImportOptions ImportOptions::Defaults(ModelFormat format) {
  ImportOptions options;
  options.format = format;
  options.ldrawDir = DefaultLDrawDir();
  options.defaultFile = GetModelFormatInfo(format).defaultFile;
  options.fileName = options.defaultFile;
  return options;
}

ImportOptions ImportOptions::Load(ModelFormat format, const std::string& settingsPath) {
  ImportOptions options = Defaults(format);
  const SettingsFile file(settingsPath);
  ReadSettingsKeys<ImportOptions>(file, kSection, Keys(), options);
  options.defaultFile = file.GetString(kSection, GetModelFormatInfo(format).defaultFileKey, options.defaultFile,
                                       kImportFileNameSize);
  options.fileName = options.defaultFile;
  return options;
}

bool ImportOptions::Save(const std::string& settingsPath) const {
  SettingsFile file(settingsPath);
  bool set = WriteSettingsKeys<ImportOptions>(file, kSection, Keys(), *this);
  set &= file.SetString(kSection, GetModelFormatInfo(format).defaultFileKey, defaultFile);
  return file.Save() && set;
}

int BuilderDegreeLimit(int maxDegree) { return std::min(maxDegree, kBuilderLimitMax); }

int BuilderDependencyLimit(int maxDependencies) { return std::min(maxDependencies, kBuilderLimitMax); }

float BuilderGridFactor(float gridFactor) { return gridFactor == 0.0f ? 0.1f : gridFactor; }

}  // namespace qx
