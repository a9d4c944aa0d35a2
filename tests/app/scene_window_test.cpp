// The scene window's commands, driven as the menu and the command line drive
// them, on an offscreen surface with no display.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "app/batch_run.h"
#include "app/commands.h"
#include "app/offscreen_host.h"
#include "app/scene_window.h"
#include "common/diagnostics.h"
#include "scene/scene_file.h"
#include "tests/support/scratch_folder.h"
#include "tests/view/view_test_support.h"

namespace qx {
namespace {

using view_test::BuildMesh;
using view_test::Cube;
using view_test::Sphere;

// An offscreen surface whose Shift key is held on request.
class TestSurface : public OsMesaSurface {
 public:
  using OsMesaSurface::OsMesaSurface;
  bool KeyHeld(HostKey key) const override { return key == HostKey::kShift && shift; }
  bool shift = false;
};

std::unique_ptr<QXScene> CubeScene(Vector centre = {0, 0, 0}) {
  auto scene = std::make_unique<QXScene>();
  QXPck* mesh = BuildMesh(Cube(centre, 1)).release();
  scene->AddMesh(mesh);
  scene->AddRoot(mesh, nullptr);
  return scene;
}

std::string ReadText(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

class SceneWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    previous_ = SetMessageBoxHandler([this](const std::string&, const std::string& text) { messages_.push_back(text); });
    window_.SetSettingsFile(folder_.Path() / "vermelle.ini");
    ASSERT_TRUE(window_.Attach(&surface_));
  }
  void TearDown() override { SetMessageBoxHandler(previous_); }

  std::string Path(const std::string& name) const { return (folder_.Path() / name).string(); }

  ScratchFolder folder_;
  OffscreenHost host_;
  TestSurface surface_{160, 120};
  SceneWindow window_{true, host_};
  std::vector<std::string> messages_;
  MessageBoxHandler previous_;
};

TEST_F(SceneWindowTest, RotatingFourTimesAboutXComesBackToTheStart) {
  window_.SetScene(CubeScene({3, 1, 2}), Path("cube.qxz"));
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(window_.Execute(kCmdRotateX, false));
  const QXHier* root = window_.CurrentScene()->roots;
  ASSERT_NE(root->matrix, nullptr);
  const Matrix identity = IdentityMatrix();
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(root->matrix->values[i], identity[i], 1e-5) << i;
  EXPECT_NEAR(window_.CurrentScene()->Box().centre.y, 1, 1e-5);
}

TEST_F(SceneWindowTest, EveryCommandWritesTheViewSettings) {
  EXPECT_TRUE(window_.Execute(kCmdShowAxis, false));
  EXPECT_TRUE(window_.Execute(kCmdEdges, false));
  EXPECT_TRUE(window_.Execute(kCmdSmooth10 + 2, false));
  const std::string text = ReadText(window_.SettingsPath());
  EXPECT_NE(text.find("ShowAxis=1"), std::string::npos) << text;
  EXPECT_NE(text.find("DrawMode=6913"), std::string::npos) << text;
  EXPECT_NE(text.find("SmoothAngle=0.866025"), std::string::npos) << text;
  // A greyed command does nothing: vertex arrays need the smooth level 1.0.
  EXPECT_FALSE(window_.Execute(kCmdVertexArray, false));
  EXPECT_TRUE(window_.Execute(kCmdGouraud, false));
  EXPECT_TRUE(window_.Execute(kCmdVertexArray, false));
  EXPECT_TRUE(window_.Settings().useVertexArray);
}

TEST_F(SceneWindowTest, ShiftClickTogglesTheObjectAndClearsOnTheBackground) {
  window_.SetScene(CubeScene(), Path("cube.qxz"));
  window_.OnTimer();  // fits the camera
  surface_.shift = true;
  const QXHier* root = window_.CurrentScene()->roots;
  window_.OnMouseButton(MouseMessage::kLeftDown, 80, 60);
  EXPECT_TRUE(root->selected);
  window_.OnMouseButton(MouseMessage::kLeftDown, 80, 60);
  EXPECT_FALSE(root->selected);
  window_.OnMouseButton(MouseMessage::kLeftDown, 80, 60);
  window_.OnMouseButton(MouseMessage::kLeftDown, 2, 2);
  EXPECT_FALSE(root->selected);
}

TEST_F(SceneWindowTest, AnEmulatedLoadShowsItsProgressAndRefusesSceneCommands) {
  auto scene = std::make_unique<QXScene>();
  QXPck* mesh = BuildMesh(Sphere(3), 0.9f).release();
  scene->AddMesh(mesh);
  scene->AddRoot(mesh, nullptr);
  ASSERT_TRUE(SaveScene(*scene, Path("sphere.qx4"), false));
  ASSERT_TRUE(window_.LoadFile(Path("sphere.qx4"), 4000));
  EXPECT_EQ(host_.Title(), Path("sphere.qx4"));
  bool sawLoadLine = false, refused = false;
  while (window_.Loading()) {
    refused |= !window_.Execute(kCmdRotateY, false);
    window_.OnTimer();
    if (window_.Scene()) window_.Paint();
    sawLoadLine |= window_.StatusText().starts_with("LOAD:");
  }
  EXPECT_TRUE(refused);
  EXPECT_TRUE(sawLoadLine);
  window_.WaitForLoad();
  EXPECT_TRUE(window_.Execute(kCmdRotateY, false));
  // New empties the window while a load runs; the window's end stops the
  // next one half way.
  ASSERT_TRUE(window_.LoadFile(Path("sphere.qx4"), 300));
  EXPECT_TRUE(window_.Execute(kCmdNew, false));
  EXPECT_FALSE(window_.Loading());
  EXPECT_EQ(window_.CurrentScene(), nullptr);
  EXPECT_EQ(host_.Title(), SceneWindow::kNoSceneName);
  ASSERT_TRUE(window_.LoadFile(Path("sphere.qx4"), 300));
}

TEST_F(SceneWindowTest, UnreadableFilesSayWhyAndLeaveTheWindowUsable) {
  EXPECT_FALSE(window_.LoadFile(Path("missing.qxz"), 0));
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_NE(messages_[0].find("missing.qxz"), std::string::npos);
  folder_.Write("junk.qxz", "not a scene");
  EXPECT_FALSE(window_.LoadFile(Path("junk.qxz"), 0));
  EXPECT_NE(messages_.back().find("holds no scene"), std::string::npos);
  window_.OnDropFiles({Path("notes.txt")});  // no type: nothing happens
  EXPECT_EQ(messages_.size(), 2u);
  window_.OnDropFiles({folder_.Write("odd.ac", "not a model at all\n")});
  ASSERT_EQ(messages_.size(), 3u);
  EXPECT_NE(messages_.back().find("odd.ac: not an AC3D file"), std::string::npos) << messages_.back();
  EXPECT_TRUE(window_.Execute(kCmdNew, false));
}

TEST_F(SceneWindowTest, BatchSaveWritesTheStoredFilesAndReportsAFailure) {
  window_.SetScene(CubeScene(), Path("cube.3ds"));
  ASSERT_TRUE(window_.Execute(kCmdSave, true));  // stored defaults: packed, with the page
  EXPECT_TRUE(std::filesystem::exists(Path("cube.qxz")));
  EXPECT_TRUE(std::filesystem::exists(Path("cube.htm")));
  EXPECT_EQ(host_.Title(), Path("cube.qxz"));
  ASSERT_NE(LoadScene(Path("cube.qxz")), nullptr);
  window_.SetScene(CubeScene(), Path("no/such/folder/cube.3ds"));
  EXPECT_FALSE(window_.Execute(kCmdSave, true));
  ASSERT_FALSE(messages_.empty());
  EXPECT_NE(messages_.back().find("no/such/folder/cube.qxz"), std::string::npos);
}

TEST_F(SceneWindowTest, BatchRotatesInOrderCapturesAndSaves) {
  const std::string stl = folder_.Write("Part.STL",
                                        "solid p\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\n"
                                        "vertex 0 1 0\nendloop\nendfacet\nendsolid p\n");
  CommandLine line = ParseCommandLine({"-ry", "-rx", "-rx", "-ppm", "-s", Path("*.stl")});
  const BatchResult result = RunBatch(window_, line, false);
  EXPECT_EQ(result.files, 1);
  EXPECT_EQ(result.failedLoads, 0);
  const std::string ppm = ReadText(Path("Part.ppm"));
  EXPECT_EQ(ppm.rfind("P6\n# Created by QXRep\n 160 120\n255\n", 0), 0u);
  EXPECT_EQ(ppm.size(), std::string("P6\n# Created by QXRep\n 160 120\n255\n").size() + 160 * 120 * 3);
  const std::unique_ptr<QXScene> saved = LoadScene(Path("Part.qxz"));
  ASSERT_NE(saved, nullptr);
  // Twice about X, then once about Y, whatever the order on the line:
  // y → −y, z → −x, x → −z... as the product of the matrices says.
  const Matrix& m = saved->roots->matrix->values;
  const Matrix rx = RotationMatrix({1, 0, 0}, 3.14159265f), ry = RotationMatrix({0, 1, 0}, 1.5707964f);
  const Vector p = TransformPoint(m, {1, 2, 3}) - TransformPoint(m, {0, 0, 0});
  const Vector expected = TransformPoint(ry, TransformPoint(rx, {1, 2, 3}));
  EXPECT_NEAR(p.x, expected.x, 1e-4);
  EXPECT_NEAR(p.y, expected.y, 1e-4);
  EXPECT_NEAR(p.z, expected.z, 1e-4);
}

// Random directions (the stored default) see a box inside a box from every
// side, edge-on too: it must still be found.
TEST_F(SceneWindowTest, BatchRemovesTheOccludedObjectAndCompacts) {
  auto scene = std::make_unique<QXScene>();
  for (float half : {2.0f, 0.5f}) {
    QXPck* mesh = BuildMesh(Cube({0, 0, 0}, half)).release();
    scene->AddMesh(mesh);
    scene->AddRoot(mesh, nullptr);
  }
  ASSERT_TRUE(SaveScene(*scene, Path("boxes.qxz"), true));
  const BatchResult result = RunBatch(window_, ParseCommandLine({"-s", "-c", "-ocl", Path("boxes.qxz")}), false);
  EXPECT_EQ(result.failedLoads, 0);
  const std::unique_ptr<QXScene> saved = LoadScene(Path("boxes.qxz"));
  ASSERT_NE(saved, nullptr);
  ASSERT_NE(saved->meshes, nullptr);
  EXPECT_EQ(saved->meshes->next, nullptr);  // only the outer box is left
  EXPECT_NEAR(saved->Box().half.x, 2, 1e-4);
}

}  // namespace
}  // namespace qx
