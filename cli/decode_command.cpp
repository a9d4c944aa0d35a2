// qxtool decode FILE [--tolerance T | --level L] [--bytes B] -o OUT.ply|OUT.obj
#include <filesystem>
#include <span>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/mesh_export.h"
#include "scene/scene_file.h"
#include "scene/scene_model.h"

namespace qx {

int RunDecodeCommand(int argc, const char* const* argv) {
  Arguments args(argc, argv, {"output", "tolerance", "level", "bytes"}, {});
  double tolerance = -1;
  long long level = 0, bytes = -1;
  if (!args.Error().empty() || !args.Number("tolerance", tolerance) || !args.Integer("level", level) ||
      !args.Integer("bytes", bytes))
    return Fail(args.Error());
  if (args.Positional().size() != 1 || !args.Has("output")) return Fail("decode needs a scene FILE and -o OUT");
  if (args.Has("tolerance") && args.Has("level")) return Fail("give --tolerance or --level, not both");
  if (level < 0 || level > INT32_MAX) return Fail("--level must be 0 or more");
  const std::string path = args.Positional()[0], output = *args.Value("output");
  const std::string extension = std::filesystem::path(output).extension().string();
  if (extension != ".ply" && extension != ".obj") return Fail(output + ": the output must end in .ply or .obj");

  const std::optional<std::vector<uint8_t>> stream = ReadSceneStream(path);
  if (!stream) return Fail(path + ": cannot be opened");
  const size_t used = bytes < 0 ? stream->size() : std::min(stream->size(), static_cast<size_t>(bytes));
  std::unique_ptr<QXScene> scene = DecodeScene(std::span(stream->data(), used));
  if (!scene) return Fail(path + ": not a scene file (or too short)");

  TriangleSoup soup;
  if (!CollectSceneTriangles(*scene, static_cast<int32_t>(level), static_cast<float>(tolerance), soup))
    return Fail(path + ": the hierarchy holds too many mesh instances");
  const bool written = extension == ".ply" ? WritePly(soup, output) : WriteObj(soup, output);
  if (!written) {
    std::error_code ignored;
    std::filesystem::remove(output, ignored);
    return Fail(output + ": cannot be written");
  }
  return 0;
}

}  // namespace qx
