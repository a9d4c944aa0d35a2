// qxtool convert INPUT [-o OUT] [options]: import, build, save.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "common/settings.h"
#include "import/importer.h"
#include "import/model_format.h"
#include "scene/scene_commands.h"
#include "scene/scene_file.h"
#include "scene/scene_model.h"

namespace qx {
namespace {

// Looks `word` up in a table of option words; false (with a message) when
// it is not there.
bool Choose(Arguments& args, const std::string& name, const std::map<std::string, int>& table, int& value,
            std::string& error) {
  const auto word = args.Value(name);
  if (!word) return true;
  auto it = table.find(*word);
  if (it == table.end()) {
    error = "--" + name + " does not take '" + *word + "'";
    return false;
  }
  value = it->second;
  return true;
}

bool ReadImportOptions(Arguments& args, ImportOptions& options, std::string& error) {
  double level = options.simplificationLevel, grid = options.gridFactor;
  long long degree = options.maxDegree, dependencies = options.maxDependencies;
  if (!args.Number("level", level) || !args.Number("grid", grid) || !args.Integer("max-degree", degree) ||
      !args.Integer("max-deps", dependencies)) {
    error = args.Error();
    return false;
  }
  if (!(level >= 0 && level <= 1) || degree < 3 || dependencies < 1) {
    error = "--level takes 0 to 1, --max-degree at least 3, --max-deps at least 1";
    return false;
  }
  options.simplificationLevel = static_cast<float>(level);
  options.gridFactor = static_cast<float>(grid);
  options.maxDegree = static_cast<int>(std::min<long long>(degree, 1 << 20));
  options.maxDependencies = static_cast<int>(std::min<long long>(dependencies, 1 << 20));
  options.flipFaces = args.Has("flip");
  options.singleObj = args.Has("single");
  if (auto dir = args.Value("ldraw-dir")) options.ldrawDir = *dir;
  const std::map<std::string, int> onOff = {{"on", 1}, {"off", 0}};
  int meshQuality = options.meshQuality, checkBounds = options.checkBounds;
  const bool chosen =
      Choose(args, "metric", {{"volume", 0}, {"quadric", 1}, {"pair", 2}}, options.metric, error) &&
      Choose(args, "model", {{"standard", 0}, {"sculptor", 1}, {"batch", 2}}, options.model, error) &&
      Choose(args, "preserve-quality", onOff, meshQuality, error) &&
      Choose(args, "preserve-boundary", onOff, checkBounds, error);
  options.meshQuality = meshQuality != 0;
  options.checkBounds = checkBounds != 0;
  return chosen;
}

// qxtool's own simplification defaults, where the editor keeps the stored
// import options: measured on the corpus at the base level, "Sculptor"
// carves a model of several parts one part at a time (its descent starts at
// vertex 1 and never leaves a part until the part is used up), so the
// three-part teapot loses its body; "Standard" chooses among all vertices
// and keeps the shape closest, the quadric metric gives the smallest
// distances, and "Preserve Quality" removes most folds at no cost in shape.
void ApplyConvertDefaults(ImportOptions& options) {
  options.model = 0;         // "Standard"
  options.metric = 1;        // quadrics, without pair contraction
  options.meshQuality = true;
  options.checkBounds = true;
}

bool ReadSaveOptions(Arguments& args, SaveDialogSettings& save, std::string& error) {
  long long bits = save.bitsError;
  if (!args.Integer("bits", bits)) {
    error = args.Error();
    return false;
  }
  if (bits < 0 || bits > 63) {
    error = "--bits takes 0 (no quantisation) to 63";
    return false;
  }
  save.bitsError = static_cast<int>(bits);
  save.useZLib = !args.Has("plain");
  save.genHTML = args.Has("html");
  save.genTXT = args.Has("txt");
  return Choose(args, "conn", {{"raw", 0}, {"model2", 1}}, save.connectMode, error) &&
         Choose(args, "geo", {{"raw", 0}, {"rect", 1}, {"polar", 2}, {"adaptive", 3}}, save.geoMode, error) &&
         Choose(args, "pred", {{"centroid", 0}, {"butterfly", 1}}, save.predMode, error);
}

std::string DefaultOutput(const std::string& input, bool plain) {
  return std::filesystem::path(input).replace_extension(plain ? ".qx4" : ".qxz").string();
}

}  // namespace

int RunConvertCommand(int argc, const char* const* argv) {
  Arguments args(argc, argv,
                 {"output", "metric", "model", "level", "max-degree", "max-deps", "grid", "conn", "geo", "pred",
                  "bits", "ldraw-dir", "preserve-quality", "preserve-boundary"},
                 {"flip", "single", "plain", "html", "txt"});
  if (!args.Error().empty()) return Fail(args.Error());
  if (args.Positional().size() != 1) return Fail("convert needs exactly one INPUT model");
  const std::string input = args.Positional()[0];
  const std::optional<ModelFormat> format = ModelFormatForFile(input);
  if (!format) return Fail(input + ": not a model format qxtool reads");

  ImportOptions options = ImportOptions::Defaults(*format);
  ApplyConvertDefaults(options);
  SaveDialogSettings save;
  std::string error;
  if (!ReadImportOptions(args, options, error) || !ReadSaveOptions(args, save, error)) return Fail(error);
  const std::string output = args.Value("output").value_or(DefaultOutput(input, !save.useZLib));

  if (std::FILE* probe = std::fopen(input.c_str(), "rb")) {
    std::fclose(probe);
  } else {
    return Fail(input + ": " + std::strerror(errno));
  }
  std::string failure;
  std::unique_ptr<QXScene> scene = ImportModel(input, options, {}, &failure);
  if (!scene) return Fail(input + ": " + failure);
  ApplySaveSettings(save, *scene);
  if (!SaveScene(*scene, output, save.useZLib, &failure)) return Fail(output + ": " + failure);
  if (save.genHTML || save.genTXT) return WriteCompanions(*scene, output, save) ? 0 : 1;
  return 0;
}

}  // namespace qx
