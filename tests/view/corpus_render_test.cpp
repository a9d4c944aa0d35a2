// qxtool render on every sizeable model of the corpus: the picture shows the
// model, framed as the editor frames a scene it sees for the first time —
// neither an empty frame nor one the model swallows whole.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/commands.h"
#include "cli/render_command.h"
#include "fan/fan_walk.h"
#include "fan/pck.h"
#include "import/model_format.h"
#include "scene/scene_file.h"
#include "scene/scene_model.h"
#include "stream/registry.h"
#include "tests/support/scratch_folder.h"

namespace qx {
namespace {

namespace fs = std::filesystem;

int RunCommand(int (*command)(int, const char* const*), std::vector<std::string> words) {
  std::vector<const char*> argv;
  for (const std::string& word : words) argv.push_back(word.c_str());
  return command(static_cast<int>(argv.size()), argv.data());
}

int64_t Triangles(const std::string& scenePath) {
  auto scene = LoadScene(scenePath);
  int64_t triangles = 0;
  for (const QXPck* mesh = scene ? scene->meshes : nullptr; mesh; mesh = mesh->next)
    triangles += ForEachFan(*mesh, 0, [](const Fan&) {});
  return triangles;
}

// The share of pixels that differ from the white background.
double CoveredShare(const std::string& ppmPath) {
  std::ifstream in(ppmPath, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t start = 0;
  for (int line = 0; line < 4 && start != std::string::npos; ++line) start = bytes.find('\n', start) + 1;
  if (start == 0 || start >= bytes.size()) return -1;
  const size_t pixels = (bytes.size() - start) / 3;
  size_t covered = 0;
  for (size_t i = 0; i < pixels; ++i)
    if (bytes.compare(start + 3 * i, 3, "\xff\xff\xff") != 0) ++covered;
  return pixels ? static_cast<double>(covered) / static_cast<double>(pixels) : -1;
}

TEST(CorpusRender, EverySizeableModelFillsAPlausibleShareOfTheFrame) {
  const fs::path corpus(VERMELLE_CORPUS_DIR);
  if (!fs::exists(corpus)) GTEST_SKIP() << "no corpus";
  RegisterStandardClasses();
  const ScratchFolder scratch;
  const fs::path& dir = scratch.Path();
  const std::string scene = (dir / "model.qxz").string(), picture = (dir / "model.ppm").string();
  int rendered = 0;
  for (const auto& entry : fs::recursive_directory_iterator(corpus)) {
    const std::string path = entry.path().string();
    if (!entry.is_regular_file() || path.find("ldraw/library") != std::string::npos) continue;
    if (!ModelFormatForFile(path)) continue;
    if (RunCommand(RunConvertCommand, {"convert", path, "-o", scene}) != 0 || Triangles(scene) < 100) continue;
    ASSERT_EQ(RunCommand(RunRenderCommand, {"render", scene, "-o", picture, "--width", "64", "--height", "64"}), 0)
        << path;
    const double share = CoveredShare(picture);
    EXPECT_GT(share, 0.005) << path;
    EXPECT_LT(share, 0.98) << path;
    ++rendered;
  }
  EXPECT_GT(rendered, 50);
  ClearClassRegistry();
}

}  // namespace
}  // namespace qx
