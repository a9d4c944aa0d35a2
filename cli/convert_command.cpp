// qxtool convert INPUT [-o OUT] [options]: import, build, save.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "common/settings.h"
#include "fan/coder_interfaces.h"
#include "import/importer.h"
#include "import/model_format.h"
#include "scene/scene_commands.h"
#include "scene/scene_file.h"
#include "scene/scene_model.h"

namespace qx {
namespace {

using WordTable = std::map<std::string, int>;

// qxtool simplifies as far as the builder goes: the base mesh, which a viewer
// must have before it shows anything, is then a few vertices instead of half
// the model, and the file is smaller. The editor keeps its own stored level.
constexpr float kStreamingLevel = 1.0f;

// The words of the options that choose among named settings.
const WordTable kMetricWords = {{"volume", 0}, {"quadric", 1}, {"pair", 2}};
const WordTable kModelWords = {{"standard", 0}, {"sculptor", 1}, {"batch", 2}};
const WordTable kConnectivityWords = {{"raw", 0}, {"model2", 1}};
const WordTable kGeometryWords = {{"raw", 0}, {"rect", 1}, {"polar", 2}, {"adaptive", 3}};
const WordTable kPredictorWords = {{"centroid", 0}, {"butterfly", 1}};
const WordTable kCodecWords = {{"classic", 0}, {"dense", 1}};

// The word a table gives `value`, for the usage text's defaults.
std::string WordOf(const WordTable& table, int value) {
  for (const auto& [word, number] : table)
    if (number == value) return word;
  return std::to_string(value);
}

// qxtool's own simplification defaults, where the editor keeps the stored
// import options: measured on the corpus at the base level, "Sculptor"
// carves a model of several parts one part at a time (its descent starts at
// vertex 1 and never leaves a part until the part is used up), so the
// three-part teapot loses its body; "Standard" chooses among all vertices
// and keeps the shape closest, the quadric metric gives the smallest
// distances, and "Preserve Quality" removes most folds at no cost in shape.
void ApplyConvertDefaults(ImportOptions& options) {
  options.model = 0;   // "Standard"
  options.metric = 1;  // quadrics, without pair contraction
  options.meshQuality = true;
  options.checkBounds = true;
  options.simplificationLevel = kStreamingLevel;
}

ImportOptions ConvertDefaults() {
  ImportOptions options;
  ApplyConvertDefaults(options);
  return options;
}

const WordTable kOnOffWords = {{"off", 0}, {"on", 1}};

// The defaults the usage text shows: qxtool's import defaults and the save
// settings' (the import options' defaults do not depend on the format for
// these).
const ImportOptions kImportDefaults = ConvertDefaults();
const SaveDialogSettings kSaveDefaults;

constexpr OptionSpec kOptions[] = {
    {"output", "OUT", "the scene file to write", [] { return std::string("INPUT with .qxz, or .qx4 with --plain"); }},
    {"metric", "volume|quadric|pair",
     "the error metric that orders the removals (pair also joins unconnected vertices near each other: it "
     "fills holes and makes non-manifold edges)",
     [] { return WordOf(kMetricWords, kImportDefaults.metric); }},
    {"model", "standard|sculptor|batch", "the removal strategy",
     [] { return WordOf(kModelWords, kImportDefaults.model); }},
    {"preserve-quality", "on|off", "keep triangles well shaped (quadric metric)",
     [] { return WordOf(kOnOffWords, kImportDefaults.meshQuality); }},
    {"preserve-boundary", "on|off", "keep open boundaries in place (quadric metric)",
     [] { return WordOf(kOnOffWords, kImportDefaults.checkBounds); }},
    {"level", "F", "how far to simplify, 0 (not at all) to 1 (as far as possible)",
     [] { return ShownNumber(kImportDefaults.simplificationLevel); }},
    {"max-degree", "N", "most triangles around a vertex after a removal (at least 3)",
     [] { return std::to_string(kImportDefaults.maxDegree); }},
    {"max-deps", "N", "most dependencies of a removal (at least 1)",
     [] { return std::to_string(kImportDefaults.maxDependencies); }},
    {"grid", "F", "1 / grid size of the pair contraction", [] { return ShownNumber(kImportDefaults.gridFactor); }},
    {"flip", nullptr, "turn every face round"},
    {"single", nullptr, "build all objects as one (LDraw: flatten sub-models)"},
    {"codec", "classic|dense", "the coder set: the original coders (chosen by --conn and --geo) or our dense ones",
     [] { return std::string("classic"); }},
    {"conn", "raw|model2", "the connectivity coder (with --codec classic)",
     [] { return WordOf(kConnectivityWords, kSaveDefaults.connectMode); }},
    {"geo", "raw|rect|polar|adaptive", "the geometry coder (with --codec classic)",
     [] { return WordOf(kGeometryWords, kSaveDefaults.geoMode); }},
    {"pred", "centroid|butterfly", "the geometry predictor",
     [] { return WordOf(kPredictorWords, kSaveDefaults.predMode); }},
    {"bits", "N", "quantisation bits of the positions, 0 (none) to 63",
     [] { return std::to_string(kSaveDefaults.bitsError); }},
    {"plain", nullptr, "write a plain .qx4 file instead of a packed .qxz"},
    {"html", nullptr, "also write the web page OUT.htm"},
    {"txt", nullptr, "also write the text dump OUT.txt"},
    {"ldraw-dir", "DIR", "the LDraw parts library",
     [] { return ImportOptions::Defaults(ModelFormat::FmtLDraw).ldrawDir; }},
};

// Looks `word` up in a table of option words; false (with a message) when
// it is not there.
bool Choose(Arguments& args, const std::string& name, const WordTable& table, int& value, std::string& error) {
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
  int meshQuality = options.meshQuality, checkBounds = options.checkBounds;
  const bool chosen = Choose(args, "metric", kMetricWords, options.metric, error) &&
                      Choose(args, "model", kModelWords, options.model, error) &&
                      Choose(args, "preserve-quality", kOnOffWords, meshQuality, error) &&
                      Choose(args, "preserve-boundary", kOnOffWords, checkBounds, error);
  options.meshQuality = meshQuality != 0;
  options.checkBounds = checkBounds != 0;
  return chosen;
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
  int codec = 0;
  if (!Choose(args, "codec", kCodecWords, codec, error) || !Choose(args, "pred", kPredictorWords, save.predMode, error))
    return false;
  if (codec == 0)
    return Choose(args, "conn", kConnectivityWords, save.connectMode, error) &&
           Choose(args, "geo", kGeometryWords, save.geoMode, error);
  if (args.Value("conn") || args.Value("geo")) {
    error = "--codec dense chooses both coders; --conn and --geo go with --codec classic";
    return false;
  }
  save.connectMode = kConnectModeDense;
  save.geoMode = kGeoModeDense;
  return true;
}

// Shows "simplifying INPUT  NN%" whenever the percentage changes.
BuildProgress SimplifyingProgress(const std::string& input) {
  return [input, shown = -1](float fraction) mutable {
    const int percent = static_cast<int>(std::clamp(fraction, 0.0f, 1.0f) * 100);
    if (percent != shown) ShowProgress("simplifying " + input + " " + std::to_string(percent) + "%");
    shown = percent;
    return true;
  };
}

std::string DefaultOutput(const std::string& input, bool plain) {
  return std::filesystem::path(input).replace_extension(plain ? ".qx4" : ".qxz").string();
}

}  // namespace

const CommandSpec kConvertCommand = {
    "convert",
    "INPUT [-o OUT] [options]",
    "Imports a model (3DS, LWO, STL, OBJ, LDraw, DXF, AC3D or PLY, told by its extension), simplifies\n"
    "each of its meshes into a progressive mesh and saves them as a scene file.\n",
    kOptions,
    "qxtool convert bunny.ply -o bunny.qxz --html",
    RunConvertCommand,
};

int RunConvertCommand(int argc, const char* const* argv) {
  Arguments args(argc, argv, kOptions);
  if (!args.Error().empty()) return UsageError("convert", args.Error());
  if (args.Positional().size() != 1) return UsageError("convert", "convert needs exactly one INPUT model");
  const std::string input = args.Positional()[0];
  const std::optional<ModelFormat> format = ModelFormatForFile(input);
  if (!format) return UsageError("convert", input + ": not a model format qxtool reads");

  ImportOptions options = ImportOptions::Defaults(*format);
  ApplyConvertDefaults(options);
  SaveDialogSettings save;
  std::string error;
  if (!ReadImportOptions(args, options, error) || !ReadSaveOptions(args, save, error))
    return UsageError("convert", error);
  const std::string output = args.Value("output").value_or(DefaultOutput(input, !save.useZLib));

  if (std::FILE* probe = std::fopen(input.c_str(), "rb")) {
    std::fclose(probe);
  } else {
    return Fail(input + ": " + std::strerror(errno));
  }
  ProgressScope progress;
  ShowProgress("reading " + input);
  std::string failure;
  std::unique_ptr<QXScene> scene = ImportModel(input, options, SimplifyingProgress(input), &failure);
  if (!scene) return Fail(input + ": " + failure);
  ApplySaveSettings(save, *scene);
  ShowProgress("writing " + output);
  if (!SaveScene(*scene, output, save.useZLib, &failure)) return Fail(output + ": " + failure);
  if (save.genHTML || save.genTXT) return WriteCompanions(*scene, output, save) ? 0 : 1;
  return 0;
}

}  // namespace qx
