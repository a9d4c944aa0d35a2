#include "view/scene_view.h"

#include <algorithm>
#include <chrono>

#include "platform/gl_api.h"
#include "scene/scene_model.h"
#include "view/culling_frustum.h"
#include "view/overlays.h"
#include "view/picking.h"

namespace qx {
namespace {

// Room for this many nested matrices at the start of each frame.
constexpr size_t kInitialStackDepth = 25;
// Width of the frustum-demo rectangle's lines.
constexpr float kFrustumLineWidth = 2;

void SetLight(GLenum light, const LightParameters& parameters) {
  glEnable(light);
  glLightfv(light, GL_AMBIENT, parameters.ambient.data());
  glLightfv(light, GL_DIFFUSE, parameters.diffuse.data());
  glLightfv(light, GL_SPECULAR, parameters.specular.data());
  glLightfv(light, GL_POSITION, parameters.position.data());
  const float direction[3] = {-parameters.position[0], -parameters.position[1], -parameters.position[2]};
  glLightfv(light, GL_SPOT_DIRECTION, direction);
}

}  // namespace

SceneView::SceneView(bool soft) : GLWindow(soft), renderer_(Extensions()) {
  lights_[1].position = {0, 0, -1, 0};
  matrixStack_.reserve(kInitialStackDepth);
}

SceneView::~SceneView() = default;

void SceneView::SetScene(QXScene* scene) {
  scene_ = scene;
  cameraFramed_ = false;
  frameCounter_ = 0;
  renderer_.DropDrawLists();
  // The mesh list is read at each frame, once the scene's structure is final.
  renderer_.SetMeshList(nullptr);
  MarkDirty();
  Invalidate();
}

void SceneView::ApplySettings(const ViewSettings& settings) {
  shadingLevel_ = settings.smoothAngle;
  showAxis_ = settings.showAxis;
  showStatusBar_ = settings.showStatusBar;
  useVertexArray_ = settings.useVertexArray;
  lighting_ = settings.lightOn;
  lightOn_[0] = settings.light0;
  lightOn_[1] = settings.light1;
  twoSideLight_ = settings.twoSideLight;
  SetCullFace(settings.cullFace);
  SetDrawMode(settings.drawMode);
  SetAntialiasing(settings.antialiasing);
  const std::array<float, 3> back = BackColorToRgb(settings.backColor);
  SetClearColour(back[0], back[1], back[2]);
}

bool SceneView::Attach(GLSurface* surface) {
  const bool attached = GLWindow::Attach(surface);
  if (attached && surface) SetFixedState();
  return attached;
}

void SceneView::SetFixedState() {
  static const std::array<GLubyte, 128> stipple = CheckerboardStipple();
  glShadeModel(GL_SMOOTH);
  glFrontFace(GL_CCW);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
  glPolygonStipple(stipple.data());
  glLightModelfv(GL_LIGHT_MODEL_AMBIENT, globalAmbient_.data());
}

bool SceneView::FrameScene() {
  if (!scene_) return false;
  // A scene still being read publishes its box, meshes and hierarchy only
  // once they are final.
  if (!scene_->structureReady || !scene_->roots || scene_->Box().Empty()) {
    if (scene_->loading) SetStatus("LOAD: %02d%%", static_cast<int>(scene_->progress * 100));
    return false;
  }
  GetCamera().centre = scene_->Box().centre;
  GetCamera().half = scene_->Box().half;
  if (cameraFramed_) return true;
  FitCamera();
  return false;
}

void SceneView::FitCamera() {
  renderer_.DropDrawLists();
  cameraFramed_ = true;
  Camera& camera = GetCamera();
  const Box& box = scene_->Box();
  const float s = Length(box.Hi() - box.Lo()) / 3;
  const float offset = 2 * s * camera.aspect;
  camera.target = camera.goal = box.centre;
  camera.eye = box.centre + Vector{offset, offset, offset};
  camera.fov = 45;
  defaultMaterial_ = std::make_unique<QXMaterial>();
  defaultMaterial_->ambient = {0.6f, 0.6f, 0.6f, 1};
  defaultMaterial_->diffuse = {0.8f, 0.8f, 0.8f, 1};
  defaultMaterial_->specular = {0.2f, 0.2f, 0.2f, 1};
  defaultMaterial_->shininess = 0.781f;
  if (MakeCurrent()) renderer_.ResetState();
  MarkDirty();
  Invalidate();
}

void SceneView::SetTolerance(float tolerance) {
  tolerance = std::clamp(tolerance, 0.0f, 1.0f);
  if (tolerance == tolerance_) return;
  tolerance_ = tolerance;
  MarkDirty();
  Invalidate();
}

void SceneView::SetRefinementMode(int mode) {
  refinementMode_ = mode;
  MarkDirty();
  Invalidate();
}

void SceneView::SetShadingLevel(float level) {
  shadingLevel_ = level;
  MarkDirty();
  Invalidate();
}

void SceneView::SetUseVertexArray(bool on) {
  useVertexArray_ = on;
  MarkDirty();
  Invalidate();
}

void SceneView::SetLighting(bool on) {
  lighting_ = on;
  MarkDirty();
  Invalidate();
}

void SceneView::SetLightOn(int light, bool on) {
  lightOn_[light == 0 ? 0 : 1] = on;
  MarkDirty();
  Invalidate();
}

void SceneView::SetTwoSideLight(bool on) {
  twoSideLight_ = on;
  MarkDirty();
  Invalidate();
}

void SceneView::SetShowAxis(bool on) {
  showAxis_ = on;
  MarkDirty();
  Invalidate();
}

void SceneView::SetSelectedOnly(bool on) {
  selectedOnly_ = on;
  MarkDirty();
  Invalidate();
}

void SceneView::UpdateRenderOptions() {
  const Camera& camera = GetCamera();
  RenderOptions& options = renderer_.options;
  options.lighting = lighting_ && !IsPicking();
  options.useVertexArray = useVertexArray_;
  options.shadingLevel = shadingLevel_;
  options.refinementMode = refinementMode_;
  options.tolerance = tolerance_;
  GLint viewport[4] = {0, 0, 0, 0};
  glGetIntegerv(GL_VIEWPORT, viewport);
  const float aspect = viewport[3] > 0 ? static_cast<float>(viewport[2]) / static_cast<float>(viewport[3]) : 1.0f;
  // The planes are built in the world and carried into view space, the space
  // of the queued model-view matrices.
  const std::array<Plane, 4> world = CullingPlanes(camera.eye, camera.target, camera.fov, tolerance_, aspect);
  const Matrix viewToWorld = ViewToWorldMatrix(camera.eye, camera.target);
  for (size_t i = 0; i < world.size(); ++i) options.viewFrustum[i] = PlaneInSpace(world[i], viewToWorld);
  renderer_.SetMeshList(scene_->meshes);
  renderer_.Names().Clear();
  renderer_.ResetTriangles();
}

void SceneView::ApplyLights() {
  const GLenum ids[2] = {GL_LIGHT0, GL_LIGHT1};
  for (int i = 0; i < 2; ++i)
    if (lightOn_[i])
      SetLight(ids[i], lights_[i]);
    else
      glDisable(ids[i]);
  glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, twoSideLight_ ? 1 : 0);
}

void SceneView::DrawSceneAxis() {
  const Box& box = scene_->Box();
  const Vector lo = box.Lo();
  glPushMatrix();
  glTranslatef(lo.x, lo.y, lo.z);
  glScalef(box.half.x, box.half.y, box.half.z);
  DrawAxisCross(2);
  glPopMatrix();
}

void SceneView::Draw() {
  if (!FrameScene()) {
    GLWindow::Draw();
    return;
  }
  const auto start = std::chrono::steady_clock::now();
  const Camera& camera = GetCamera();
  UpdateRenderOptions();
  renderer_.options.lighting ? glEnable(GL_LIGHTING) : glDisable(GL_LIGHTING);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  ApplyLights();
  const Matrix view = ViewMatrix(camera.eye, camera.target);
  glLoadMatrixf(view.data());
  if (showAxis_) DrawSceneAxis();
  if (useVertexArray_ && shadingLevel_ == 1.0f) glEnableClientState(GL_NORMAL_ARRAY);
  glColor3f(0.3f, 0.3f, 0.3f);
  matrixStack_.assign(1, view);
  nodesVisited_ = 0;
  QueueSiblings(scene_->roots, nullptr, 0);
  renderer_.Flush();
  glFlush();
  glFinish();
  ++frameCounter_;
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  frameRate_ = seconds > 0 ? 1 / seconds : 0;
  WriteStatus();
  if (refinementMode_ == kRefineSelective) DrawFrustumRectangle();
}

void SceneView::QueueSiblings(QXHier* first, const QXMaterial* inherited, int depth) {
  for (QXHier* node = first; node && nodesVisited_ < kMaxNodesPerFrame; node = node->nextSibling) {
    ++nodesVisited_;
    // The node's own matrix applies first, then everything above it.
    const bool pushed = node->matrix != nullptr;
    if (pushed) matrixStack_.push_back(MatrixProduct(node->matrix->values, matrixStack_.back()));
    const QXMaterial* material = node->material ? node->material : inherited;
    if (node->mesh && (!selectedOnly_ || node->selected))
      renderer_.Queue(node, matrixStack_.back(), material ? material : defaultMaterial_.get());
    if (node->firstChild && depth + 1 < kMaxHierarchyDepth) QueueSiblings(node->firstChild, material, depth + 1);
    if (pushed) matrixStack_.pop_back();
  }
}

void SceneView::WriteStatus() {
  const int triangles = static_cast<int>(std::min<int64_t>(renderer_.Triangles(), INT32_MAX));
  if (scene_->loading)
    SetStatus("LOAD: %02d%%, Tol: %2f %d [%d/%d]", static_cast<int>(scene_->progress * 100), tolerance_, triangles,
              nodesVisited_, 0);
  else
    SetStatus("FPS %6.2f(%3d), Tol: %2f %d [%d/%d]", frameRate_, frameCounter_, tolerance_, triangles, nodesVisited_,
              0);
}

void SceneView::DrawFrustumRectangle() {
  const float a = kCullingScale - tolerance_;
  glPushAttrib(GL_ENABLE_BIT | GL_LINE_BIT | GL_CURRENT_BIT);
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  // Drawn in clip coordinates; a pick sees it only near its lines.
  glLoadMatrixf(PickRegionMatrix().data());
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  glDisable(GL_LIGHTING);
  glLineWidth(kFrustumLineWidth);
  glColor3f(0, 1, 0);
  glBegin(GL_LINE_LOOP);
  glVertex3f(-a, -a, -1);
  glVertex3f(a, -a, -1);
  glVertex3f(a, a, -1);
  glVertex3f(-a, a, -1);
  glEnd();
  glPopMatrix();
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
  glPopAttrib();
}

void SceneView::OnTimer() {
  GLWindow::OnTimer();
  FrameScene();
  if (IsDirty()) Invalidate();
}

QXHier* SceneView::PickNode(int x, int y) {
  const int hits = Pick(x, y, kSelectionBufferSize);
  const std::optional<uint32_t> name = NearestHitName(SelectionBuffer(), hits);
  return name ? renderer_.Names().NodeNamed(*name) : nullptr;
}

void SceneView::ToggleSelectionAt(int x, int y) {
  const int hits = Pick(x, y, kSelectionBufferSize);
  const std::optional<uint32_t> name = NearestHitName(SelectionBuffer(), hits);
  // Hits that name no node (the axis cross, the frustum rectangle) are a
  // click on something that cannot be selected: the marks stay.
  if (QXHier* node = name ? renderer_.Names().NodeNamed(*name) : nullptr)
    node->selected = !node->selected;
  else if (hits == 0 && scene_)
    ForEachDistinctNode(scene_->roots, [](QXHier* each) { each->selected = false; });
  MarkDirty();
  Invalidate();
}

}  // namespace qx
