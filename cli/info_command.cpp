// qxtool info FILE [--json]: what a scene file holds, measured by decoding it.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "fan/fan_walk.h"
#include "fan/pck.h"
#include "scene/scene_file.h"
#include "scene/scene_model.h"

namespace qx {
namespace {

struct MeshReport {
  int32_t vertices, split, base, pending;
  int64_t triangles;
  std::string connectivity, geometry;
  int32_t bits[4];
};

MeshReport Measure(const QXPck& mesh) {
  MeshReport report{mesh.vertexCount, mesh.splitIndex, mesh.vertexCount - mesh.splitIndex, mesh.pendingCount, 0,
                    mesh.connectivityClass ? mesh.connectivityClass->Name() : "",
                    mesh.geometryClass ? mesh.geometryClass->Name() : "", {}};
  report.triangles = ForEachFan(mesh, 0, [](const Fan&) {});
  for (int i = 0; i < 4; ++i) report.bits[i] = mesh.bitStats[i];
  return report;
}

void PrintText(const std::string& path, uintmax_t bytes, const std::vector<MeshReport>& meshes, int64_t vertices,
               int64_t triangles) {
  std::printf("%s: %ju bytes, %zu meshes\n", path.c_str(), bytes, meshes.size());
  for (size_t i = 0; i < meshes.size(); ++i) {
    const MeshReport& m = meshes[i];
    std::printf(
        "mesh %zu: %d vertices, split index %d, %d base vertices, %lld triangles, %s + %s, "
        "bits geometry %d/%d connectivity %d/%d (below/at-or-above the split)%s\n",
        i, m.vertices, m.split, m.base, static_cast<long long>(m.triangles), m.connectivity.c_str(),
        m.geometry.c_str(), m.bits[0], m.bits[1], m.bits[2], m.bits[3], m.pending ? " (incomplete)" : "");
  }
  const double bits = 8.0 * static_cast<double>(bytes);
  std::printf("total: %lld vertices, %lld triangles, %.2f bits per vertex, %.2f bits per triangle\n",
              static_cast<long long>(vertices), static_cast<long long>(triangles),
              vertices ? bits / static_cast<double>(vertices) : 0.0,
              triangles ? bits / static_cast<double>(triangles) : 0.0);
}

void PrintJson(const std::string& path, uintmax_t bytes, const std::vector<MeshReport>& meshes, int64_t vertices,
               int64_t triangles) {
  std::printf("{\"file\": \"%s\", \"bytes\": %ju, \"vertices\": %lld, \"triangles\": %lld, \"meshes\": [",
              path.c_str(), bytes, static_cast<long long>(vertices), static_cast<long long>(triangles));
  for (size_t i = 0; i < meshes.size(); ++i) {
    const MeshReport& m = meshes[i];
    std::printf(
        "%s{\"vertices\": %d, \"split\": %d, \"base\": %d, \"pending\": %d, \"triangles\": %lld, "
        "\"connectivity\": \"%s\", \"geometry\": \"%s\", \"bits\": [%d, %d, %d, %d]}",
        i ? ", " : "", m.vertices, m.split, m.base, m.pending, static_cast<long long>(m.triangles),
        m.connectivity.c_str(), m.geometry.c_str(), m.bits[0], m.bits[1], m.bits[2], m.bits[3]);
  }
  std::printf("]}\n");
}

constexpr OptionSpec kOptions[] = {
    {"json", nullptr, "print the same as one JSON object"},
};

}  // namespace

const CommandSpec kInfoCommand = {
    "info",
    "FILE [--json]",
    "Decodes a scene file and says what it holds: per mesh its vertices, base vertices, triangles,\n"
    "coders and bits; then the totals and the bits per vertex and per triangle.\n",
    kOptions,
    "qxtool info bunny.qxz --json",
    RunInfoCommand,
};

int RunInfoCommand(int argc, const char* const* argv) {
  Arguments args(argc, argv, kOptions);
  if (!args.Error().empty()) return UsageError("info", args.Error());
  if (args.Positional().size() != 1) return UsageError("info", "info needs exactly one scene FILE");
  const std::string path = args.Positional()[0];
  std::error_code error;
  const uintmax_t bytes = std::filesystem::file_size(path, error);
  if (error) return Fail(path + ": " + error.message());
  std::unique_ptr<QXScene> scene = LoadScene(path);
  if (!scene) return Fail(path + ": not a scene file");

  std::vector<MeshReport> meshes;
  int64_t vertices = 0, triangles = 0;
  for (const QXPck* mesh = scene->meshes; mesh; mesh = mesh->next) {
    meshes.push_back(Measure(*mesh));
    vertices += std::max(0, mesh->vertexCount - 1);  // vertex 0 is a placeholder
    triangles += meshes.back().triangles;
  }
  if (args.Has("json"))
    PrintJson(path, bytes, meshes, vertices, triangles);
  else
    PrintText(path, bytes, meshes, vertices, triangles);
  return 0;
}

}  // namespace qx
