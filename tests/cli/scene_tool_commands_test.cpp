// qxtool compact and occlusion on a real model with several objects: the
// faces the occlusion removes are never visible from outside, so pictures
// from the eight corners of the scene box are the same before and after.
#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/commands.h"
#include "fan/fan_walk.h"
#include "platform/gl_api.h"
#include "platform/osmesa_surface.h"
#include "scene/scene_file.h"
#include "scene/scene_model.h"
#include "stream/registry.h"
#include "tests/support/scratch_folder.h"
#include "view/scene_view.h"

namespace qx {
namespace {

namespace fs = std::filesystem;

constexpr int kSize = 160;

int RunTool(int (*command)(int, const char* const*), std::vector<std::string> words) {
  std::vector<const char*> argv;
  for (const std::string& word : words) argv.push_back(word.c_str());
  return command(static_cast<int>(argv.size()), argv.data());
}

int64_t Faces(const QXScene& scene) {
  int64_t faces = 0;
  for (const QXPck* mesh = scene.meshes; mesh; mesh = mesh->next) faces += ForEachFan(*mesh, 0, [](const Fan&) {});
  return faces;
}

// The scene drawn flat-shaded (each face's normal from its own corners, so
// a face looks the same whatever its neighbours) from each corner of `box`.
std::vector<std::vector<uint8_t>> CornerPictures(QXScene& scene, const Box& box) {
  scene.SetBox(box);  // the same near and far planes for both scenes
  OsMesaSurface surface(kSize, kSize);
  SceneView view(true);
  EXPECT_TRUE(view.Attach(&surface));
  view.SetShadingLevel(0);
  view.SetScene(&scene);
  view.FrameScene();
  std::vector<std::vector<uint8_t>> pictures;
  for (int corner = 0; corner < 8; ++corner) {
    const Vector direction{corner & 1 ? 1.0f : -1.0f, corner & 2 ? 1.0f : -1.0f, corner & 4 ? 1.0f : -1.0f};
    Camera& camera = view.GetCamera();
    camera.target = camera.goal = box.centre;
    camera.eye = box.centre + Vector{box.half.x * direction.x, box.half.y * direction.y, box.half.z * direction.z} * 3;
    view.MarkDirty();
    view.Paint();
    std::vector<uint8_t> rgb(kSize * kSize * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, kSize, kSize, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
    pictures.push_back(std::move(rgb));
  }
  return pictures;
}

class SceneToolCommands : public testing::Test {
 protected:
  void SetUp() override { RegisterStandardClasses(); }
  ScratchFolder folder_;
};

TEST_F(SceneToolCommands, OcclusionRemovesOnlyFacesNobodyCanSee) {
  const fs::path model = fs::path(VERMELLE_CORPUS_DIR) / "3ds/assimp-nonbsd/cart_wheel.3DS";
  if (!fs::exists(model)) GTEST_SKIP() << "no corpus";
  const std::string in = (folder_.Path() / "wheel.qxz").string(), out = (folder_.Path() / "open.qx4").string();
  ASSERT_EQ(RunTool(RunConvertCommand, {"convert", model.string(), "-o", in, "--bits", "0"}), 0);
  ASSERT_EQ(RunTool(RunOcclusionCommand, {"occlusion", in, "-o", out, "--mode", "faces", "--bits", "0"}), 0);
  std::unique_ptr<QXScene> before = LoadScene(in), after = LoadScene(out);
  ASSERT_TRUE(before && after);
  EXPECT_LT(Faces(*after), Faces(*before));
  const Box box = before->Box();
  const auto expected = CornerPictures(*before, box);
  const auto pictures = CornerPictures(*after, box);
  for (int corner = 0; corner < 8; ++corner) {
    int differing = 0;
    for (size_t i = 0; i < pictures[corner].size(); i += 3)
      differing += !std::equal(&pictures[corner][i], &pictures[corner][i] + 3, &expected[corner][i]);
    EXPECT_EQ(differing, 0) << "corner " << corner;
  }
}

TEST_F(SceneToolCommands, CompactAndOcclusionRefuseWhatTheyCannotRead) {
  const std::string missing = (folder_.Path() / "none.qxz").string(), out = (folder_.Path() / "out.qxz").string();
  EXPECT_EQ(RunTool(RunCompactCommand, {"compact", missing, "-o", out}), 1);
  EXPECT_EQ(RunTool(RunOcclusionCommand, {"occlusion", missing, "-o", out}), 1);
  EXPECT_EQ(RunTool(RunOcclusionCommand, {"occlusion", missing, "-o", out, "--mode", "sideways"}), 1);
  EXPECT_FALSE(fs::exists(out));
}

}  // namespace
}  // namespace qx
