// SceneView: the view of one scene, shared by the editor's scene window and
// the web viewer. It adds to GLWindow the frame of a scene:
//
//   FrameScene   fits the camera to the scene the first time objects appear
//                (eye on the diagonal at 2s·aspect, s a third of the box
//                diagonal; fov 45°), so the first frame after that shows the
//                whole scene
//   Draw         one frame: lights, view matrix, optional axis cross, the
//                hierarchy walked depth-first with a matrix stack and every
//                visible object queued for the renderer, the status line
//   tolerance    the fraction of each mesh's refinement withheld
//                (progressive mode), or the narrowing of the culling
//                frustum (selective mode)
//
// The view does not own the scene: whoever replaces the scene calls
// SetScene, which makes the next frame fit the camera again.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "common/geometry.h"
#include "common/settings.h"
#include "view/gl_window.h"
#include "view/renderer.h"

namespace qx {

class QXHier;
class QXMaterial;
class QXScene;

struct LightParameters {
  std::array<float, 4> ambient{0.8f, 0.8f, 0.8f, 1};
  std::array<float, 4> diffuse{0.8f, 0.8f, 0.8f, 1};
  std::array<float, 4> specular{0, 0, 0, 1};
  std::array<float, 4> position{0, 0, 1, 0};  // directional, in eye space
};

class SceneView : public GLWindow {
 public:
  // Hierarchies deeper than this are cut (a cyclic file would never end).
  static constexpr int kMaxHierarchyDepth = 1000;
  // At most this many nodes are visited per frame (shared children can make
  // a small file stand for an exponential number of instances).
  static constexpr int kMaxNodesPerFrame = 1 << 22;

  explicit SceneView(bool soft);
  ~SceneView() override;

  // Shows `scene` (none: nothing). The camera is fitted again on the next
  // frame; the frame counter restarts; queued draws are dropped.
  void SetScene(QXScene* scene);
  QXScene* Scene() const { return scene_; }

  // The "WinScene" settings: shading level, axis, status bar flag, vertex
  // array, culling, draw mode, antialiasing, background, lights.
  void ApplySettings(const ViewSettings& settings);

  // Answers whether a scene with objects is shown with a fitted camera; fits
  // it the first time (then answers no once, so the first frame shows only
  // the axis cross). A scene whose structure is still being read, without
  // objects or with an empty box answers no and, while loading, shows
  // "LOAD: %02d%%". The camera's centre and half extent follow the scene's
  // box at every call.
  bool FrameScene();
  bool CameraFramed() const { return cameraFramed_; }

  // Tolerance 0 … 1 (clamped); a change marks the picture dirty.
  void SetTolerance(float tolerance);
  float Tolerance() const { return tolerance_; }
  // kRefineProgressive, kRefineFull or kRefineSelective.
  void SetRefinementMode(int mode);
  int RefinementMode() const { return refinementMode_; }

  void SetShadingLevel(float level);
  float ShadingLevel() const { return shadingLevel_; }
  void SetUseVertexArray(bool on);
  void SetLighting(bool on);
  void SetLightOn(int light, bool on);
  void SetTwoSideLight(bool on);
  void SetShowAxis(bool on);
  void SetSelectedOnly(bool on);
  bool ShowStatusBar() const { return showStatusBar_; }
  // Light 0 or 1 (a change needs MarkDirty to show).
  LightParameters& Light(int light) { return lights_[light == 0 ? 0 : 1]; }

  // The node drawn at pixel (x, y) (y from the top), nearest first; none for
  // the background.
  QXHier* PickNode(int x, int y);
  // The selection click: toggles the selected mark of the node at (x, y), or
  // clears every node's mark when the click hits nothing at all; a click
  // whose hits name no node (the axis cross, the frustum rectangle) leaves
  // the marks as they are.
  void ToggleSelectionAt(int x, int y);

  // Statistics of the last frame.
  int FrameCount() const { return frameCounter_; }
  int64_t TriangleCount() const { return renderer_.Triangles(); }
  int NodesVisited() const { return nodesVisited_; }
  double FrameRate() const { return frameRate_; }
  MeshRenderer& Renderer() { return renderer_; }

  // Also sets the fixed GL state of a scene view: smooth shading, front
  // faces counter-clockwise, depth test GL_LEQUAL, the checkerboard stipple
  // and the global ambient light.
  bool Attach(GLSurface* surface) override;
  void Draw() override;
  // The base tick, then the framing check; a dirty picture invalidates.
  void OnTimer() override;

 private:
  void SetFixedState();
  void FitCamera();
  void UpdateRenderOptions();
  void ApplyLights();
  void DrawSceneAxis();
  void QueueSiblings(QXHier* first, const QXMaterial* inherited, int depth);
  void WriteStatus();
  void DrawFrustumRectangle();

  QXScene* scene_ = nullptr;
  MeshRenderer renderer_;
  std::unique_ptr<QXMaterial> defaultMaterial_;
  bool cameraFramed_ = false;
  bool lighting_ = true;
  bool lightOn_[2] = {true, true};
  bool twoSideLight_ = false;
  bool showAxis_ = false;
  bool showStatusBar_ = true;
  bool selectedOnly_ = false;
  bool useVertexArray_ = false;
  float shadingLevel_ = 0;
  std::array<LightParameters, 2> lights_;
  std::array<float, 4> globalAmbient_{0.4f, 0.4f, 0.4f, 1};
  float tolerance_ = 0;
  int refinementMode_ = kRefineProgressive;

  std::vector<Matrix> matrixStack_;
  int frameCounter_ = 0;
  int nodesVisited_ = 0;
  double frameRate_ = 0;
};

}  // namespace qx
