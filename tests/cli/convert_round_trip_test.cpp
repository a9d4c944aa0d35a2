// qxtool convert then decode: every model of the corpus comes back with the
// triangles its reader delivered (after welding and the builder's refusal of
// degenerate triangles), exactly with raw positions and within the
// quantiser's bound otherwise.
#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/commands.h"
#include "cli/mesh_export.h"
#include "fan/fan_walk.h"
#include "fan/metrics.h"
#include "fan/pck.h"
#include "import/import_sink.h"
#include "import/model_format.h"
#include "import/stl_reader.h"
#include "scene/scene_file.h"
#include "scene/scene_model.h"
#include "stream/registry.h"
#include "tests/support/scratch_folder.h"

namespace qx {
namespace {

namespace fs = std::filesystem;

using Corner = std::array<float, 3>;
using Triangle = std::array<Corner, 3>;

Corner Key(Vector p) { return {p.x, p.y, p.z}; }

// A triangle rotated to start at its smallest corner, orientation kept.
Triangle Canonical(Triangle t) {
  std::rotate(t.begin(), std::min_element(t.begin(), t.end()), t.end());
  return t;
}

// The triangles a reader delivers, quads split as the importer splits them,
// without the degenerate ones. The importer turns every face round for the
// builder and the builder turns the fan mesh round again, so the decoded
// triangles keep the reader's orientation.
class ExpectedTriangles : public ImportSink {
 public:
  bool AddTriangle(QXMaterial*, Vector p0, Vector p1, Vector p2) override {
    Add(p0, p1, p2);
    return true;
  }
  bool AddTriangleColor(const Colour&, Vector p0, Vector p1, Vector p2) override {
    return AddTriangle(nullptr, p0, p1, p2);
  }
  bool AddQuad(QXMaterial*, Vector p0, Vector p1, Vector p2, Vector p3) override {
    Add(p0, p1, p2);
    Add(p2, p3, p0);
    return true;
  }
  bool AddQuadColor(const Colour&, Vector p0, Vector p1, Vector p2, Vector p3) override {
    return AddQuad(nullptr, p0, p1, p2, p3);
  }
  std::vector<Triangle> triangles;

 private:
  void Add(Vector a, Vector b, Vector c) {
    const Triangle t{Key(a), Key(b), Key(c)};
    if (t[0] == t[1] || t[1] == t[2] || t[0] == t[2]) return;
    triangles.push_back(Canonical(t));
  }
};

std::vector<Triangle> DecodedTriangles(const QXScene& scene) {
  TriangleSoup soup;
  EXPECT_TRUE(CollectSceneTriangles(scene, 0, -1, soup));
  std::vector<Triangle> triangles;
  for (const auto& face : soup.faces)
    triangles.push_back(Canonical({Key(soup.positions[face[0]]), Key(soup.positions[face[1]]),
                                   Key(soup.positions[face[2]])}));
  return triangles;
}

class ConvertRoundTrip : public testing::Test {
 protected:
  void SetUp() override { RegisterStandardClasses(); }
  void TearDown() override { ClearClassRegistry(); }
  int Convert(const fs::path& input, const fs::path& output, std::vector<std::string> options) {
    std::vector<std::string> words = {"convert", input.string(), "-o", output.string()};
    words.insert(words.end(), options.begin(), options.end());
    std::vector<const char*> argv;
    for (const std::string& word : words) argv.push_back(word.c_str());
    return RunConvertCommand(static_cast<int>(argv.size()), argv.data());
  }
  ScratchFolder scratch_;
  const fs::path dir_ = scratch_.Path();
};

std::vector<fs::path> CorpusModels(const std::string& folder) {
  std::vector<fs::path> models;
  const fs::path root = fs::path(VERMELLE_CORPUS_DIR) / folder;
  if (!fs::exists(root)) return models;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.is_regular_file() && ModelFormatForFile(entry.path().string())) models.push_back(entry.path());
  std::sort(models.begin(), models.end());
  return models;
}

// A conversion that cannot be done exits with 1 and one line naming the file
// and the reason, and leaves what was there alone.
TEST_F(ConvertRoundTrip, FailuresNameTheFileAndTheReason) {
  const std::string model = scratch_.Write("model.stl", "solid t\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\n"
                                                         "vertex 1 0 0\nvertex 0 1 0\nendloop\nendfacet\nendsolid t\n");
  const std::string utf16 = scratch_.Write("utf16.ac", std::string("\xFF\xFE" "A\0C\0" "3\0D\0" "b\0\n\0", 14));
  const fs::path folder = dir_ / "existing_folder.qxz";
  fs::create_directories(folder);
  const struct {
    fs::path input, output;
    const char* reason;
  } failures[] = {
      {model, folder, "Is a directory"},
      {utf16, dir_ / "utf16.qxz", "not an AC3D file"},
      {dir_ / "missing.stl", dir_ / "missing.qxz", "No such file"},
  };
  for (const auto& failure : failures) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(Convert(failure.input, failure.output, {}), 1) << failure.input;
    testing::internal::GetCapturedStdout();
    const std::string message = testing::internal::GetCapturedStderr();
    // One line says what failed (the builder's progress lines may come first).
    size_t lines = 0;
    for (size_t at = message.find("qxtool:"); at != std::string::npos; at = message.find("qxtool:", at + 1)) ++lines;
    EXPECT_EQ(lines, 1u) << message;
    EXPECT_NE(message.find(failure.reason), std::string::npos) << message;
    EXPECT_TRUE(message.find(failure.input.filename().string()) != std::string::npos ||
                message.find(failure.output.filename().string()) != std::string::npos)
        << message;
  }
  EXPECT_TRUE(fs::is_directory(folder) && fs::is_empty(folder));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 3) << "nothing else written";
}

TEST_F(ConvertRoundTrip, EveryStlComesBackTriangleForTriangle) {
  const std::vector<fs::path> models = CorpusModels("stl");
  if (models.empty()) GTEST_SKIP() << "no corpus";
  for (const fs::path& model : models) {
    ExpectedTriangles expected;
    ReadStl(model.string(), expected);
    const fs::path output = dir_ / "model.qxz";
    const int status = Convert(model, output, {"--bits", "0", "--level", "0.5"});
    if (expected.triangles.empty()) continue;  // nothing to compare (empty or refused)
    ASSERT_EQ(status, 0) << model;
    auto scene = LoadScene(output.string());
    ASSERT_TRUE(scene) << model;
    std::vector<Triangle> decoded = DecodedTriangles(*scene);
    std::vector<Triangle> wanted = expected.triangles;
    std::sort(decoded.begin(), decoded.end());
    std::sort(wanted.begin(), wanted.end());
    // A triangle given twice is stored once.
    wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
    EXPECT_EQ(decoded.size(), wanted.size()) << model;
    EXPECT_TRUE(decoded == wanted) << model;
  }
}

// --- Simplification defaults -------------------------------------------------------

// How much of each connected part of a scene's meshes is left at the base
// level: per part (vertices joined by the full mesh's triangles), the area
// shown at level S − 1, chosen by the base mesh's tolerance (S − 1)/N as the
// viewer's slider gives it, over the area at level 0.
std::vector<double> AreaKeptPerPart(const QXScene& scene) {
  std::vector<double> kept;
  for (const QXPck* mesh = scene.meshes; mesh; mesh = mesh->next) {
    std::vector<VertexIndex> parent(static_cast<size_t>(mesh->vertexCount));
    for (VertexIndex v = 0; v < mesh->vertexCount; ++v) parent[v] = v;
    const auto root = [&](VertexIndex v) {
      while (parent[v] != v) v = parent[v] = parent[parent[v]];
      return v;
    };
    const auto triangles = [&](Level level, auto&& onTriangle) {
      ForEachFan(*mesh, level, [&](const Fan& fan) {
        for (int i = fan.start + 1; i <= fan.end; ++i) onTriangle(fan.centre, fan.Corner1(i), fan.Corner2(i));
      });
    };
    const auto area = [&](VertexIndex a, VertexIndex b, VertexIndex c) {
      const Vector pa = mesh->vertices[a].position;
      return 0.5 * Length(Cross(mesh->vertices[b].position - pa, mesh->vertices[c].position - pa));
    };
    triangles(0, [&](VertexIndex a, VertexIndex b, VertexIndex c) { parent[root(b)] = root(a), parent[root(c)] = root(a); });
    std::map<VertexIndex, std::pair<double, double>> parts;  // root: full area, base area
    triangles(0, [&](VertexIndex a, VertexIndex b, VertexIndex c) { parts[root(a)].first += area(a, b, c); });
    const float tolerance = static_cast<float>(mesh->splitIndex - 1) / static_cast<float>(mesh->vertexCount);
    const Level base = LevelFromTolerance(*mesh, tolerance);
    EXPECT_EQ(base, mesh->splitIndex - 1);
    triangles(base, [&](VertexIndex a, VertexIndex b, VertexIndex c) { parts[root(a)].second += area(a, b, c); });
    for (const auto& [part, areas] : parts) kept.push_back(areas.second / areas.first);
  }
  return kept;
}

// Three closed spheres side by side in one OBJ file.
std::string ThreeSpheresObj() {
  std::string text;
  constexpr int kRings = 10, kSegments = 14;
  int first = 1;
  for (int part = 0; part < 3; ++part) {
    const auto at = [&](int r, int s) { return r == 0 ? first : r == kRings ? first + 1 + (kRings - 1) * kSegments
                                                                               : first + 1 + (r - 1) * kSegments + s % kSegments; };
    for (int r = 0; r <= kRings; ++r)
      for (int s = 0; s < (r == 0 || r == kRings ? 1 : kSegments); ++s) {
        const double theta = 3.14159265358979 * r / kRings, phi = 2 * 3.14159265358979 * s / kSegments;
        text += "v " + std::to_string(4 * part + std::sin(theta) * std::cos(phi)) + " " +
                std::to_string(std::sin(theta) * std::sin(phi)) + " " + std::to_string(std::cos(theta)) + "\n";
      }
    for (int s = 0; s < kSegments; ++s)
      for (int r = 0; r < kRings; ++r) {
        const int a = at(r, s), b = at(r + 1, s), c = at(r + 1, s + 1), d = at(r, s + 1);
        if (r > 0) text += "f " + std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(d) + "\n";
        if (r + 1 < kRings) text += "f " + std::to_string(b) + " " + std::to_string(c) + " " + std::to_string(d) + "\n";
      }
    first += 2 + (kRings - 1) * kSegments;
  }
  return text;
}

// qxtool's defaults keep every part of a model of several parts at the base
// level; "Sculptor" (the editor's stored default) carves the first part away.
TEST_F(ConvertRoundTrip, DefaultsKeepEveryPartAtTheBaseLevel) {
  const std::string model = scratch_.Write("spheres.obj", ThreeSpheresObj());
  const fs::path output = dir_ / "spheres.qxz";
  testing::internal::CaptureStdout();
  ASSERT_EQ(Convert(model, output, {"--level", "0.9"}), 0);
  std::unique_ptr<QXScene> scene = LoadScene(output.string());
  ASSERT_TRUE(scene);
  std::vector<double> kept = AreaKeptPerPart(*scene);
  ASSERT_EQ(kept.size(), 3u);
  for (double part : kept) EXPECT_GT(part, 0.5);
  ASSERT_EQ(Convert(model, output, {"--level", "0.9", "--model", "sculptor", "--preserve-quality", "off",
                                    "--preserve-boundary", "off"}),
            0);
  kept = AreaKeptPerPart(*LoadScene(output.string()));
  ASSERT_EQ(kept.size(), 3u);
  EXPECT_LT(*std::min_element(kept.begin(), kept.end()), 0.3);
  testing::internal::CaptureStderr();
  EXPECT_EQ(Convert(model, output, {"--preserve-quality", "yes"}), kExitUsage);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("--preserve-quality does not take 'yes'"), std::string::npos);
  testing::internal::GetCapturedStdout();

  // The three-part teapot of the corpus, too.
  const fs::path teapot = fs::path(VERMELLE_CORPUS_DIR) / "obj/common-3d-test-models/teapot.obj";
  if (!fs::exists(teapot)) GTEST_SKIP() << "no corpus";
  testing::internal::CaptureStdout();
  ASSERT_EQ(Convert(teapot, output, {"--level", "0.9"}), 0);
  testing::internal::GetCapturedStdout();
  kept = AreaKeptPerPart(*LoadScene(output.string()));
  EXPECT_GE(kept.size(), 3u);
  for (double part : kept) EXPECT_GT(part, 0.5);
}

// The slider's tolerance for the base mesh, (S − 1)/N as a float, shows the
// base mesh: for this sphere (N = 115, S = 57) N × tolerance is 55.9999….
TEST_F(ConvertRoundTrip, TheBaseMeshToleranceShowsTheBaseMesh) {
  const fs::path model = fs::path(VERMELLE_CORPUS_DIR) / "obj/draco/sphere.obj";
  if (!fs::exists(model)) GTEST_SKIP() << "no corpus";
  const fs::path output = dir_ / "sphere.qxz";
  testing::internal::CaptureStdout();
  ASSERT_EQ(Convert(model, output, {"--level", "0.5", "--model", "standard", "--metric", "quadric"}), 0);
  testing::internal::GetCapturedStdout();
  std::unique_ptr<QXScene> scene = LoadScene(output.string());
  ASSERT_TRUE(scene && scene->meshes && !scene->meshes->next);
  const QXPck& mesh = *scene->meshes;
  ASSERT_GT(mesh.splitIndex, 1);
  TriangleSoup byLevel, byTolerance;
  ASSERT_TRUE(CollectSceneTriangles(*scene, mesh.splitIndex - 1, -1, byLevel));
  const float tolerance = static_cast<float>(mesh.splitIndex - 1) / static_cast<float>(mesh.vertexCount);
  ASSERT_TRUE(CollectSceneTriangles(*scene, 0, tolerance, byTolerance));
  EXPECT_EQ(byTolerance.faces.size(), byLevel.faces.size());
  EXPECT_EQ(LevelFromTolerance(mesh, tolerance), mesh.splitIndex - 1) << mesh.vertexCount;
}

}  // namespace
}  // namespace qx
