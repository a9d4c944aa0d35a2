// The scene frame: fitting the camera, the status line, lights, picking and
// selection, and the selective mode.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <utility>
#include <string>

#include "common/diagnostics.h"
#include "view/draw_modes.h"
#include "view_test_support.h"

namespace qx {
namespace {

using namespace view_test;

class SceneViewTest : public OffscreenView {};

TEST_F(SceneViewTest, FramingFitsTheCameraOnceAndAnswersNoTheFirstTime) {
  EXPECT_FALSE(view_.FrameScene());  // no scene
  view_.SetScene(&scene_);
  EXPECT_FALSE(view_.FrameScene());  // no objects
  Add(BuildMesh(Cube({1, 2, 3}, 2)));
  EXPECT_FALSE(view_.FrameScene());
  EXPECT_TRUE(view_.CameraFramed());
  const Camera& camera = view_.GetCamera();
  // s = |max − min| / 3 = |(4, 4, 4)| / 3; eye = centre + 2s·aspect per axis.
  const float offset = 2 * Length({4, 4, 4}) / 3;
  EXPECT_NEAR(camera.eye.x, 1 + offset, 1e-4f);
  EXPECT_NEAR(camera.eye.z, 3 + offset, 1e-4f);
  EXPECT_EQ(camera.target, (Vector{1, 2, 3}));
  EXPECT_EQ(camera.goal, camera.target);
  EXPECT_EQ(camera.fov, 45);
  EXPECT_EQ(camera.centre, (Vector{1, 2, 3}));
  EXPECT_TRUE(view_.FrameScene());
  // A new scene is fitted again.
  view_.SetScene(&scene_);
  EXPECT_FALSE(view_.CameraFramed());
}

TEST_F(SceneViewTest, FirstPaintShowsOnlyTheAxisCrossThenTheScene) {
  Add(BuildMesh(Cube({0, 0, 0}, 1)));
  view_.SetScene(&scene_);
  const int baseInk = Render().CountNot(kWhite);  // frames, draws the base axis
  EXPECT_TRUE(view_.CameraFramed());
  EXPECT_EQ(view_.TriangleCount(), 0);
  EXPECT_GT(Render().CountNot(kWhite), baseInk * 3);
  EXPECT_EQ(view_.TriangleCount(), 12);
}

TEST_F(SceneViewTest, StatusLineShowsRateToleranceAndCounts) {
  Add(BuildMesh(Cube({0, 0, 0}, 1)));
  Show();
  Render();
  const std::string status = view_.Status();
  EXPECT_EQ(status.rfind("FPS ", 0), 0u) << status;
  EXPECT_NE(status.find("(  1), Tol: 0.000000 12 [1/0]"), std::string::npos) << status;
  scene_.loading = true;
  scene_.progress = 0.42f;
  Render();
  EXPECT_EQ(std::string(view_.Status()), "LOAD: 42%, Tol: 0.000000 12 [1/0]");
}

TEST_F(SceneViewTest, LoadingSceneWithoutObjectsShowsItsProgress) {
  scene_.loading = true;
  scene_.progress = 0.07f;
  view_.SetScene(&scene_);
  EXPECT_FALSE(view_.FrameScene());
  EXPECT_STREQ(view_.Status(), "LOAD: 07%");
}

TEST_F(SceneViewTest, LightsOffLeaveOnlyTheGlobalAmbient) {
  Add(BuildMesh(Square({0, 0, 0}, 2)), Material({1, 1, 1, 1}));
  Show(Vector{0, 0, 3});
  const Rgb lit = Render().At(kSize / 2, kSize / 2);
  view_.SetLightOn(0, false);
  view_.SetLightOn(1, false);
  const Rgb ambient = Render().At(kSize / 2, kSize / 2);
  EXPECT_LT(ambient[0], lit[0]);
  // Material ambient 0.2 × 0.21, lit by the global ambient 0.4.
  EXPECT_NEAR(ambient[0], 255 * 0.2 * 0.21 * 0.4, 1.5);
  // Light 1 shines from −z in eye space, onto faces turned to the eye; light
  // 0, from behind them, adds only its ambient share (0.8 × 0.2 × 0.21).
  view_.SetLightOn(1, true);
  EXPECT_NEAR(Render().At(kSize / 2, kSize / 2)[0], lit[0] - 255 * 0.8 * 0.2 * 0.21, 1.5);
}

class PickingTest : public OffscreenView {
 protected:
  void SetUp() override {
    OffscreenView::SetUp();
    near_ = Add(BuildMesh(Square({0, 0, 1}, 0.5f)));
    far_ = Add(BuildMesh(Square({0, 0, 0}, 1.2f)));
    Show(Vector{0, 0, 4});
    Render();
  }
  QXHier* near_ = nullptr;
  QXHier* far_ = nullptr;
};

TEST_F(PickingTest, PickAtAnObjectNamesItsNodeNearestFirst) {
  EXPECT_EQ(view_.PickNode(kSize / 2, kSize / 2), near_);
  // Off the small square, still on the large one.
  EXPECT_EQ(view_.PickNode(kSize / 2, kSize / 5), far_);
  EXPECT_EQ(view_.PickNode(2, 2), nullptr);
  EXPECT_FALSE(view_.IsPicking());
}

TEST_F(PickingTest, PickingLeavesThePictureAlone) {
  const Picture before = ReadPicture(kSize, kSize);
  view_.PickNode(kSize / 2, kSize / 2);
  const Picture after = ReadPicture(kSize, kSize);
  EXPECT_EQ(before.rgb, after.rgb);
}

TEST_F(PickingTest, SelectionClickTogglesOneNodeAndAMissClearsAll) {
  view_.ToggleSelectionAt(kSize / 2, kSize / 2);
  EXPECT_TRUE(near_->selected);
  EXPECT_FALSE(far_->selected);
  view_.ToggleSelectionAt(kSize / 2, kSize / 5);
  EXPECT_TRUE(far_->selected);
  view_.ToggleSelectionAt(kSize / 2, kSize / 2);
  EXPECT_FALSE(near_->selected);
  view_.ToggleSelectionAt(1, 1);
  EXPECT_FALSE(far_->selected);
}

// A pixel of `picture` whose colour passes `test` and where no node is
// drawn; (-1, -1) when there is none.
std::pair<int, int> FindUnnamedPixel(SceneView& view, const Picture& picture, const std::function<bool(Rgb)>& test) {
  for (int y = 0; y < picture.height; ++y)
    for (int x = 0; x < picture.width; ++x)
      if (test(picture.At(x, y)) && view.PickNode(x, y) == nullptr) return {x, y};
  return {-1, -1};
}

TEST_F(PickingTest, ClickOnTheAxisOrTheFrustumRectangleKeepsTheMarks) {
  far_->selected = true;
  // The axis cross starts at the box's corner (-1.2, -1.2, 0); its blue z
  // line runs towards the eye and out of the squares into the background.
  view_.SetShowAxis(true);
  const auto [axisX, axisY] =
      FindUnnamedPixel(view_, Render(), [](Rgb p) { return p[2] > 200 && p[0] < 60 && p[1] < 60; });
  ASSERT_GE(axisX, 0) << "no axis pixel outside the squares";
  view_.ToggleSelectionAt(axisX, axisY);
  EXPECT_TRUE(far_->selected);
  // The frustum rectangle at tolerance 0.1 runs just inside the window's
  // border, outside the squares.
  view_.SetShowAxis(false);
  view_.SetRefinementMode(kRefineSelective);
  view_.SetTolerance(0.1f);
  const auto [lineX, lineY] =
      FindUnnamedPixel(view_, Render(), [](Rgb p) { return p[1] > 200 && p[0] < 60 && p[2] < 60; });
  ASSERT_GE(lineX, 0) << "no rectangle pixel outside the squares";
  view_.ToggleSelectionAt(lineX, lineY);
  EXPECT_TRUE(far_->selected);
  // A click on the background away from the lines (here at tolerance 0.5
  // they run over the squares) hits nothing at all and clears.
  view_.SetTolerance(0.5f);
  const Picture narrow = Render();
  const int corner = kSize - 6;
  ASSERT_EQ(narrow.At(corner, corner), kWhite);
  view_.ToggleSelectionAt(corner, corner);
  EXPECT_FALSE(far_->selected);
}

TEST_F(PickingTest, SelectedOnlyDrawsTheSelectedNodes) {
  far_->selected = true;
  view_.SetSelectedOnly(true);
  Render();
  EXPECT_EQ(view_.TriangleCount(), 2);
  EXPECT_EQ(view_.PickNode(kSize / 2, kSize / 2), far_);
}

TEST_F(SceneViewTest, SelectiveModeRefinesOnlyInsideTheNarrowedFrustum) {
  QXPck* mesh = Add(BuildMesh(Sphere(3), 0.9f))->mesh;
  Show(Vector{0, 0, 1.6f});
  const int64_t full = ForEachFan(*mesh, 0, [](const Fan&) {});
  const int64_t base = ForEachFan(*mesh, mesh->splitIndex - 1, [](const Fan&) {});
  view_.SetRefinementMode(kRefineSelective);
  view_.SetTolerance(0.05f);
  const Picture wide = Render();
  const int64_t wideTriangles = view_.TriangleCount();
  view_.SetTolerance(0.8f);
  Render();
  const int64_t narrowTriangles = view_.TriangleCount();
  // Partly outside the frustum: more than the base, less than everything;
  // the narrow frustum refines less than the wide one.
  EXPECT_GT(wideTriangles, base);
  EXPECT_LT(wideTriangles, full);
  EXPECT_LT(narrowTriangles, wideTriangles);
  EXPECT_GE(narrowTriangles, base / 4);
  // The green frustum rectangle is drawn over the picture.
  EXPECT_GT(wide.Count([](Rgb p) { return p[1] > 200 && p[0] < 60 && p[2] < 60; }), 0);
}

TEST(GLWindowState, SettersKeepTheirValuesWithoutAContext) {
  GLWindow window(true);
  EXPECT_EQ(window.State(), WindowState::kNotCreated);
  EXPECT_EQ(window.DrawMode(), kDrawSolid);
  EXPECT_FALSE(window.CullFace());
  window.SetDrawMode(kDrawHiddenLines);
  window.SetCullFace(true);
  window.SetClearColour(0.5f, 0.25f, 1);
  EXPECT_TRUE(window.IsDirty());
  // Attached later, the stored state reaches GL.
  OsMesaSurface surface(8, 4);
  ASSERT_TRUE(window.Attach(&surface));
  EXPECT_EQ(window.State(), WindowState::kAttached);
  GLint polygonMode[2] = {0, 0};
  glGetIntegerv(GL_POLYGON_MODE, polygonMode);
  EXPECT_EQ(polygonMode[0], GL_FILL);
  EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));
  GLfloat clear[4];
  glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
  EXPECT_FLOAT_EQ(clear[1], 0.25f);
  EXPECT_FLOAT_EQ(window.GetCamera().aspect, 2);
  window.OnSize(10, 0);
  EXPECT_EQ(window.GetCamera().aspect, 1);
  window.Attach(nullptr);
  EXPECT_EQ(window.State(), WindowState::kDestroyed);
  EXPECT_FALSE(window.HasContext());
  EXPECT_EQ(window.GetCamera().eye, (Vector{5, 5, 5}));
}

// A surface on which no pixel format fits.
class NoFormatSurface : public OsMesaSurface {
 public:
  NoFormatSurface() : OsMesaSurface(4, 4) {}
  bool CreateContext() override { return false; }
};

TEST(GLWindowState, WithoutAPixelFormatTheWindowSaysSoAndPaintsNothing) {
  std::string shown;
  const MessageBoxHandler previous =
      SetMessageBoxHandler([&](const std::string& title, const std::string& text) { shown = title + ": " + text; });
  NoFormatSurface surface;
  SceneView view(true);
  EXPECT_FALSE(view.Attach(&surface));
  SetMessageBoxHandler(previous);
  EXPECT_EQ(shown, "Error: ChoosePixelFormat failed");
  EXPECT_FALSE(view.HasContext());
  view.MarkDirty();
  view.Paint();
  EXPECT_TRUE(view.IsDirty());
  EXPECT_EQ(view.Pick(1, 1), 0);
  EXPECT_FALSE(view.IsPicking());
}

TEST(GLWindowState, ExtensionsAreFetchedByNameInOrder) {
  OsMesaSurface surface(4, 4);
  GLWindow window(true);
  ASSERT_TRUE(window.Attach(&surface));
  EXPECT_EQ(ExtensionEntryPointNames().size(), 25u);
  EXPECT_STREQ(ExtensionEntryPointNames().front(), "glBindBufferARB");
  EXPECT_STREQ(ExtensionEntryPointNames().back(), "glProgramEnvParameter4fARB");
  // This context has compiled arrays and buffer objects.
  EXPECT_NE(window.Extensions().lockArraysEXT, nullptr);
  EXPECT_NE(window.Extensions().bindBufferARB, nullptr);
  std::vector<std::string> asked;
  const GLExtensions none = LoadExtensions([&](const char* name) {
    asked.emplace_back(name);
    return GLProc{nullptr};
  });
  EXPECT_EQ(none.unlockArraysEXT, nullptr);
  ASSERT_EQ(asked.size(), 25u);
  EXPECT_EQ(asked[6], "glLockArraysEXT");
}

TEST(GLWindowState, TimerRunsTheAntialiasingStepsAfterTwentyFourIdleTicks) {
  OsMesaSurface surface(16, 16);
  GLWindow window(true);
  ASSERT_TRUE(window.Attach(&surface));
  window.SetAntialiasing(true);
  window.Paint();
  EXPECT_FALSE(window.IsDirty());
  for (int tick = 1; tick <= 200; ++tick) window.OnTimer();
  EXPECT_EQ(window.AntialiasCounter(), GLWindow::kAntialiasLastTick);
  // A paint starts the count again.
  window.MarkDirty();
  window.Paint();
  EXPECT_EQ(window.AntialiasCounter(), 0);
  // Easing marks the picture dirty until the target reaches the goal.
  window.GetCamera().goal = {1, 0, 0};
  window.OnTimer();
  EXPECT_TRUE(window.IsDirty());
}

}  // namespace
}  // namespace qx
