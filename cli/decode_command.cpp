// qxtool decode FILE [--tolerance T | --level L] [--bytes B] [--smooth L] -o OUT.ply|OUT.obj|OUT.glb
#include <cstdio>
#include <filesystem>
#include <span>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/glb_export.h"
#include "cli/mesh_export.h"
#include "common/settings.h"
#include "scene/scene_file.h"
#include "scene/scene_model.h"

namespace qx {
namespace {

// The triangles of the chosen level as PLY or OBJ (positions only) or glTF
// (one primitive per instance, shaded at `shadingLevel`).
bool WriteLevel(const QXScene& scene, int32_t level, float tolerance, float shadingLevel, const std::string& extension,
                const std::string& output, std::string& error) {
  bool written = false;
  if (extension == ".glb") {
    std::vector<ShadedPrimitive> primitives;
    if (!CollectShadedPrimitives(scene, level, tolerance, shadingLevel, primitives))
      return error = "the hierarchy holds too many mesh instances", false;
    written = WriteGlb(primitives, output);
  } else {
    TriangleSoup soup;
    if (!CollectSceneTriangles(scene, level, tolerance, soup))
      return error = "the hierarchy holds too many mesh instances", false;
    written = extension == ".ply" ? WritePly(soup, output) : WriteObj(soup, output);
  }
  if (!written) {
    std::error_code ignored;
    std::filesystem::remove(output, ignored);
    error = output + ": cannot be written";
  }
  return written;
}

constexpr OptionSpec kOptions[] = {
    {"output", "OUT", "the file to write: .ply or .obj (positions), .glb (binary glTF with normals and colours)"},
    {"tolerance", "T", "the level as a fraction of each mesh's vertices, 0 (full detail) to 1"},
    {"level", "L", "the level: how many vertices of the removal order are left out",
     [] { return std::string("0, full detail"); }},
    {"bytes", "B", "decode only the first B bytes of the scene stream, as a progressive load would"},
    {"smooth", "L", "glTF normals as the view shades: 1 smooth, 0 flat, between: flat at creases of at least L",
     [] { return ShownNumber(ViewSettings{}.smoothAngle); }},
};

}  // namespace

const CommandSpec kDecodeCommand = {
    "decode",
    "FILE [--tolerance T | --level L] [--bytes B] [--smooth L] -o OUT.ply|OUT.obj|OUT.glb",
    "Decodes a scene file and writes the triangles it shows at one level of detail, every mesh\n"
    "instance of its hierarchy in world coordinates.\n",
    kOptions,
    "qxtool decode bunny.qxz --tolerance 0.5 -o bunny-half.glb",
    RunDecodeCommand,
};

int RunDecodeCommand(int argc, const char* const* argv) {
  Arguments args(argc, argv, kOptions);
  double tolerance = -1, smooth = ViewSettings{}.smoothAngle;
  long long level = 0, bytes = -1;
  if (!args.Error().empty() || !args.Number("tolerance", tolerance) || !args.Integer("level", level) ||
      !args.Integer("bytes", bytes) || !args.Number("smooth", smooth))
    return UsageError("decode", args.Error());
  if (args.Positional().size() != 1 || !args.Has("output"))
    return UsageError("decode", "decode needs a scene FILE and -o OUT");
  if (args.Has("tolerance") && args.Has("level")) return UsageError("decode", "give --tolerance or --level, not both");
  if (level < 0 || level > INT32_MAX) return UsageError("decode", "--level must be 0 or more");
  if (!(smooth >= 0 && smooth <= 1)) return UsageError("decode", "--smooth must lie between 0 and 1");
  const std::string path = args.Positional()[0], output = *args.Value("output");
  const std::string extension = std::filesystem::path(output).extension().string();
  if (extension != ".ply" && extension != ".obj" && extension != ".glb")
    return UsageError("decode", output + ": the output must end in .ply, .obj or .glb");

  const std::optional<std::vector<uint8_t>> stream = ReadSceneStream(path);
  if (!stream) return Fail(path + ": cannot be opened");
  const size_t used = bytes < 0 ? stream->size() : std::min(stream->size(), static_cast<size_t>(bytes));
  std::unique_ptr<QXScene> scene = DecodeScene(std::span(stream->data(), used));
  if (!scene) return Fail(path + ": not a scene file (or too short)");

  std::string error;
  if (!WriteLevel(*scene, static_cast<int32_t>(level), static_cast<float>(tolerance), static_cast<float>(smooth),
                  extension, output, error))
    return Fail(error);
  return 0;
}

}  // namespace qx
