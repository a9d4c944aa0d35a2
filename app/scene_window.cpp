#include "app/scene_window.h"

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <unordered_set>

#include "app/commands.h"
#include "app/save_files.h"
#include "app/web_page.h"
#include "common/diagnostics.h"
#include "fan/fan_walk.h"
#include "fan/metrics.h"
#include "fan/pck.h"
#include "import/importer.h"
#include "import/model_format.h"
#include "platform/gl_api.h"
#include "scene/scene_commands.h"
#include "scene/scene_model.h"
#include "stream/registry.h"
#include "tools/occlusion.h"
#include "tools/scene_tools.h"
#include "view/draw_modes.h"
#include "view/ppm.h"

namespace qx {
namespace {

// Mouse moves of the light drag wrap at a full turn, like the camera's.
constexpr int kDragWrap = 360;
// One wheel notch narrows or widens the field of view by this many degrees.
constexpr float kWheelZoomDegrees = 5;

// Why a scene file could not be opened: the system's reason when it cannot
// be read at all, else that it holds no scene.
std::string LoadFailureReason(const std::string& path) {
  if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    std::fclose(file);
    return "it holds no scene";
  }
  return std::strerror(errno);
}

// Each distinct mesh of the nodes `wanted` accepts, once.
template <class Wanted, class Visit>
void ForEachDistinctMesh(QXScene& scene, Wanted wanted, Visit visit) {
  std::unordered_set<QXPck*> seen;
  ForEachDistinctNode(scene.roots, [&](QXHier* node) {
    if (node->mesh && wanted(*node) && seen.insert(node->mesh).second) visit(*node->mesh);
  });
}

std::optional<Axis> RotationAxis(int id) {
  if (id == kCmdRotateX) return Axis::kX;
  if (id == kCmdRotateY) return Axis::kY;
  if (id == kCmdRotateZ) return Axis::kZ;
  return std::nullopt;
}

}  // namespace

SceneWindow::SceneWindow(bool soft, WindowHost& host)
    : SceneView(soft),
      host_(host),
      loader_(LoaderHooks{[this] { redrawRequested_ = true; }, [this](QXScene&) { SceneView::SetScene(nullptr); }}) {
  RegisterStandardClasses();
  LoadSettings();
  SetScene(nullptr, kNoSceneName);
}

SceneWindow::~SceneWindow() { SetScene(nullptr, kNoSceneName); }

// --- Settings. ---

void SceneWindow::SetSettingsFile(const std::string& path) {
  settingsPath_ = path;
  LoadSettings();
}

void SceneWindow::LoadSettings() {
  settings_ = ViewSettings::Load(settingsPath_);
  ApplySettings(settings_);
  host_.ShowStatusBar(settings_.showStatusBar);
}

void SceneWindow::SaveSettings() {
  settings_.drawMode = DrawMode();
  settings_.cullFace = CullFace();
  settings_.antialiasing = Antialiasing();
  if (!settingsPath_.empty()) settings_.Save(settingsPath_);
}

// --- The scene. ---

void SceneWindow::SyncScene() {
  if (loader_.Scene() != Scene()) SceneView::SetScene(loader_.Scene());
}

bool SceneWindow::Loading() const {
  const QXScene* scene = loader_.Scene();
  return loader_.Feeding() || (scene && scene->loading);
}

bool SceneWindow::SceneEditable() const { return loader_.Scene() && !Loading(); }

void SceneWindow::SetScene(std::unique_ptr<QXScene> scene, const std::string& path) {
  // The last frame's figures would describe a scene that is gone.
  statusText_.clear();
  host_.SetStatusText(statusText_);
  loader_.SetScene(std::move(scene), path);
  SyncScene();
  host_.SetTitle(path);
}

bool SceneWindow::LoadFile(const std::string& path, int32_t rate) {
  host_.SetWaitCursor(true);
  const bool loaded = loader_.LoadFile(path, rate);
  SyncScene();
  host_.SetTitle(loader_.FileName());
  host_.SetWaitCursor(false);
  if (!loaded) ShowError("Cannot open %s: %s", path.c_str(), LoadFailureReason(path).c_str());
  return loaded;
}

// --- Commands. ---

bool SceneWindow::Execute(int id, bool batch) {
  SyncScene();
  bool done = false;
  if (ImportFormat(id)) {
    done = Import(id, batch);
  } else if (DrawModeOfCommand(id) || ShadingLevelOfCommand(id) || id == kCmdShowAxis || id == kCmdShowStatusBar ||
             id == kCmdProgressive || id == kCmdSelective || id == kCmdAntialiasing || id == kCmdCullFace ||
             id == kCmdVertexArray || id == kCmdBackColor) {
    done = ExecuteViewCommand(id);
  } else if (id == kCmdLightsEnabled || id == kCmdLight0 || id == kCmdLight1 || id == kCmdTwoSide) {
    done = ExecuteLightCommand(id);
  } else if (id == kCmdShowSelectionOnly || id == kCmdInvertSelection || id == kCmdInvertFaces ||
             id == kCmdGotoSelected || id == kCmdRemoveSelected) {
    done = ExecuteSelectionCommand(id);
  } else {
    done = ExecuteSceneCommand(id, batch);
  }
  SaveSettings();
  MarkDirty();
  Invalidate();
  return done;
}

bool SceneWindow::ExecuteSceneCommand(int id, bool batch) {
  if (const std::optional<Axis> axis = RotationAxis(id)) {
    if (!SceneEditable()) return false;
    RotateScene(*CurrentScene(), *axis);
    return true;
  }
  switch (id) {
    case kCmdNew: SetScene(nullptr, kNoSceneName); return true;
    case kCmdOpen: return Open(batch);
    case kCmdSave: return Save(batch);
    case kCmdSaveImage: return SaveImage();
    case kCmdExit: host_.Close(); return true;
    case kCmdRecompute:
      if (!SceneEditable()) return false;
      ForEachDistinctMesh(*CurrentScene(), [](const QXHier&) { return true; }, [](QXPck& mesh) {
        mesh.finalised = 0;
        ComputeMetrics(mesh);
      });
      Renderer().DropDrawLists();
      return true;
    case kCmdUnitize:
    case kCmdCompact: return RunSceneTool(id);
    case kCmdSelectOccluded:
    case kCmdRemoveOccludedFaces:
    case kCmdSelectBadOrientation: return FindOccludedParts(id, batch);
    case kCmdAbout: host_.ShowAbout(); return true;
    case kCmdVisitWebSite: host_.OpenAddress(kHomePageAddress); return true;
    default: return false;  // kCmdIgnored and unknown numbers
  }
}

void SceneWindow::ForgetDrawnMeshes() { Renderer().DropDrawLists(); }

bool SceneWindow::RunSceneTool(int id) {
  if (!SceneEditable()) return false;
  if (id == kCmdUnitize)
    Unitize(*CurrentScene());
  else
    Compact(*CurrentScene());
  ForgetDrawnMeshes();
  return true;
}

bool SceneWindow::FindOccludedParts(int id, bool batch) {
  if (!SceneEditable() || !Surface()) return false;
  OcclusionDialogState state = OcclusionDialogState::Open(OcclusionSettings::Load(settingsPath_));
  if (!batch) {
    if (!host_.EditOcclusionOptions(state)) return false;
    state.settings.Save(settingsPath_);
  }
  OcclusionOptions options;
  options.mode = id == kCmdSelectOccluded        ? OcclusionMode::kObjects
                 : id == kCmdSelectBadOrientation ? OcclusionMode::kOrientation
                                                  : OcclusionMode::kFaces;
  options.iterations = state.settings.maxIterations;
  options.colours = state.settings.maxColors;
  options.regular = state.settings.isRegular;
  SetStatus("Press ESC or SPACE to stop process");
  host_.SetWaitCursor(true);
  const OcclusionResult result =
      FindOccluded(*CurrentScene(), options, *Surface(), [this](float fraction) { return ProgressStep(fraction); });
  host_.SetTrackSelection(0, 0);
  host_.SetWaitCursor(false);
  if (result.tooLarge) ShowError("The scene is too large for the occlusion analysis.");
  if (!result.ran) return false;
  if (options.mode == OcclusionMode::kFaces) {
    Compact(*CurrentScene());
    // Meshes were replaced: the view is framed again on the next frame.
    SceneView::SetScene(CurrentScene());
  }
  ForgetDrawnMeshes();
  return !result.cancelled;
}

bool SceneWindow::ExecuteViewCommand(int id) {
  if (const std::optional<int> mode = DrawModeOfCommand(id)) {
    SetDrawMode(*mode);
    settings_.drawMode = *mode;
    return true;
  }
  if (const std::optional<float> level = ShadingLevelOfCommand(id)) {
    ApplyShadingLevel(*level);
    return true;
  }
  switch (id) {
    case kCmdShowAxis: SetShowAxis(settings_.showAxis = !settings_.showAxis); return true;
    case kCmdShowStatusBar:
      settings_.showStatusBar = !settings_.showStatusBar;
      host_.ShowStatusBar(settings_.showStatusBar);
      if (settings_.showStatusBar) host_.SetStatusText(statusText_);
      return true;
    case kCmdProgressive: SetSelective(false); return true;
    case kCmdSelective: SetSelective(true); return true;
    case kCmdAntialiasing: SetAntialiasing(settings_.antialiasing = !Antialiasing()); return true;
    case kCmdCullFace: SetCullFace(settings_.cullFace = !CullFace()); return true;
    case kCmdVertexArray:
      if (settings_.smoothAngle != 1.0f) return false;  // greyed in the menu
      SetUseVertexArray(settings_.useVertexArray = !settings_.useVertexArray);
      return true;
    case kCmdBackColor: return ChooseBackColour();
    default: return false;
  }
}

void SceneWindow::ApplyShadingLevel(float level) {
  settings_.smoothAngle = level;
  SetShadingLevel(level);
  // Drawing with vertex arrays depends on the level: rebuild what was cached.
  SetUseVertexArray(settings_.useVertexArray);
  Renderer().DropDrawLists();
}

void SceneWindow::SetSelective(bool on) {
  selective_ = on;
  SetRefinementMode(on ? kRefineSelective : kRefineProgressive);
  if (on) {
    SetDrawMode(settings_.drawMode = kDrawHiddenLines);
    host_.SetTrackPosition(kTrackMaximum);
  } else {
    host_.SetTrackPosition(0);
  }
}

bool SceneWindow::ChooseBackColour() {
  const std::optional<std::array<float, 3>> chosen = host_.ChooseColour(ClearColour());
  if (!chosen) return false;
  SetClearColour((*chosen)[0], (*chosen)[1], (*chosen)[2]);
  settings_.backColor = RgbToBackColor(*chosen);
  return true;
}

bool SceneWindow::ExecuteLightCommand(int id) {
  switch (id) {
    case kCmdLightsEnabled: SetLighting(settings_.lightOn = !settings_.lightOn); break;
    case kCmdLight0: SetLightOn(0, settings_.light0 = !settings_.light0); break;
    case kCmdLight1: SetLightOn(1, settings_.light1 = !settings_.light1); break;
    case kCmdTwoSide: SetTwoSideLight(settings_.twoSideLight = !settings_.twoSideLight); break;
    default: return false;
  }
  return true;
}

bool SceneWindow::ExecuteSelectionCommand(int id) {
  if (id == kCmdShowSelectionOnly) {
    SetSelectedOnly(selectionOnly_ = !selectionOnly_);
    return true;
  }
  if (!SceneEditable()) return false;
  QXScene& scene = *CurrentScene();
  switch (id) {
    case kCmdInvertSelection:
      ForEachDistinctNode(scene.roots, [](QXHier* node) { node->selected = !node->selected; });
      return true;
    case kCmdInvertFaces:
      ForEachDistinctMesh(scene, [](const QXHier& node) { return node.selected; }, [](QXPck& mesh) { InvertFaces(mesh); });
      Renderer().DropDrawLists();
      return true;
    case kCmdGotoSelected: GotoSelected(); return true;
    case kCmdRemoveSelected: RemoveSelected(); return true;
    default: return false;
  }
}

void SceneWindow::GotoSelected() {
  QXScene& scene = *CurrentScene();
  Vector sum{0, 0, 0};
  int count = 0;
  ForEachDistinctNode(scene.roots, [&](QXHier* node) {
    if (!node->selected || !node->mesh) return;
    const Matrix world = node->WorldMatrix();
    sum = sum + TransformPoint(world, node->mesh->box.centre);
    ++count;
  });
  GetCamera().goal = count > 0 ? sum * (1.0f / static_cast<float>(count)) : scene.Box().centre;
}

void SceneWindow::RemoveSelected() {
  qx::RemoveSelected(*CurrentScene());
  ForgetDrawnMeshes();
}

bool SceneWindow::Open(bool batch) {
  if (batch) return LoadFile(FileName(), 0);
  LoadDialogState state = LoadDialogState::Open(LoadDialogSettings::Load(settingsPath_));
  if (!host_.EditLoadOptions(state)) return false;
  const bool loaded = LoadFile(state.fileName, state.rate);
  state.options.Save(settingsPath_);
  return loaded;
}

bool SceneWindow::Save(bool batch) {
  if (!SceneEditable()) return false;
  SaveDialogState state = SaveDialogState::Open(SaveDialogSettings::Load(settingsPath_),
                                                ReplaceExtension(FileName(), ".qxz"));
  state.bound = PrecisionBound(state.options.bitsError);
  if (!batch) {
    if (!host_.EditSaveOptions(state)) return false;
    state.options.Save(settingsPath_);
  }
  const auto start = std::chrono::steady_clock::now();
  host_.SetWaitCursor(true);
  std::string error;
  const bool saved = SaveSceneFiles(*CurrentScene(), state.fileName, state.options, state.bound, error);
  host_.SetWaitCursor(false);
  if (!saved) {
    ShowError("%s", error.c_str());
    return false;
  }
  // The same scene under its new name: no reload.
  loader_.SetFileName(state.fileName);
  host_.SetTitle(state.fileName);
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  PrintMessage("\nSave time: %d", static_cast<int>(elapsed.count()));
  return true;
}

bool SceneWindow::Import(int id, bool batch) {
  const ModelFormat format = *ImportFormat(id);
  ImportOptions options = ImportOptions::Load(format, settingsPath_);
  std::string path = FileName();
  if (!batch) {
    ImportDialogState state = ImportDialogState::Open(options);
    if (!host_.EditImportOptions(state, format, settingsPath_, options)) return false;
    options.Save(settingsPath_);
    path = options.fileName;
  }
  SetStatus("Press ESC or SPACE to stop import");
  host_.SetWaitCursor(true);
  std::string failure;
  std::unique_ptr<QXScene> scene =
      ImportModel(path, options, [this](float fraction) { return ProgressStep(fraction); }, &failure);
  host_.SetTrackSelection(0, 0);
  host_.SetWaitCursor(false);
  if (!scene) {
    ShowError("Cannot import %s: %s", path.c_str(), failure.c_str());
    return false;
  }
  SetScene(std::move(scene), path);
  return true;
}

bool SceneWindow::SaveImage() {
  if (!MakeCurrent()) return false;
  const std::string path = ReplaceExtension(FileName(), ".ppm");
  // The last finished picture: the back buffer of a double-buffered window
  // still holds it after the swap (and the antialiased one is left there).
  glReadBuffer(Surface()->Format().doubleBuffer ? GL_BACK : GL_FRONT);
  if (SavePPM(path)) return true;
  ShowError("Cannot write %s: %s", path.c_str(), std::strerror(errno));
  return false;
}

MenuContext SceneWindow::MenuState() const { return {settings_, selective_, selectionOnly_}; }

bool SceneWindow::ProgressStep(float fraction) {
  const auto now = std::chrono::steady_clock::now();
  if (now - lastProgress_ < kProgressInterval) return true;
  lastProgress_ = now;
  if (host_.StopKeyHeld()) return false;
  host_.SetTrackSelection(0, static_cast<int>(std::floor(static_cast<float>(kTrackMaximum) * fraction)));
  return true;
}

// --- Events. ---

void SceneWindow::SetStatus(const char* format, ...) {
  char text[kStatusSize];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (statusText_ == text) return;
  statusText_ = text;
  if (settings_.showStatusBar) host_.SetStatusText(statusText_);
}

void SceneWindow::OnTimer() {
  GLWindow::OnTimer();
  FlyTick();
  SyncScene();
  if (FrameScene()) ReadTrackBar();
  if (redrawRequested_.exchange(false)) MarkDirty();
  if (IsDirty()) Invalidate();
}

void SceneWindow::ReadTrackBar() {
  const int maximum = host_.TrackMaximum();
  if (maximum <= 0) return;
  const float tolerance = static_cast<float>(host_.TrackPosition()) / static_cast<float>(maximum);
  if (tolerance != Tolerance() && Scene()) SetTolerance(tolerance);
}

void SceneWindow::FlyTick() {
  GLSurface* surface = Surface();
  if (!surface) return;
  FlyKeys keys;
  keys.up = surface->KeyHeld(HostKey::kUp);
  keys.down = surface->KeyHeld(HostKey::kDown);
  keys.left = surface->KeyHeld(HostKey::kLeft);
  keys.right = surface->KeyHeld(HostKey::kRight);
  keys.tiltUp = surface->KeyHeld(HostKey::kZ);
  keys.tiltDown = surface->KeyHeld(HostKey::kA);
  fly_.UpdateRates(keys);
  if (fly_.Move(GetCamera())) {
    MarkDirty();
    Invalidate();
  }
}

void SceneWindow::OnMouseButton(MouseMessage message, int x, int y) {
  GLSurface* surface = Surface();
  const bool shift = surface && surface->KeyHeld(HostKey::kShift);
  const bool control = surface && surface->KeyHeld(HostKey::kControl);
  if (message == MouseMessage::kLeftDown && shift) {
    ToggleSelectionAt(x, y);
  } else if (message == MouseMessage::kRightDown && control) {
    draggingLights_ = true;
    lightX_ = x;
    lightY_ = y;
  } else if (message == MouseMessage::kRightDown) {
    host_.PopupContextMenu(x, y);
  } else if (message == MouseMessage::kRightUp) {
    draggingLights_ = false;
  } else {
    GLWindow::OnMouseButton(message, x, y);
  }
}

void SceneWindow::OnMouseMove(int x, int y) {
  if (draggingLights_)
    DragLights(x, y);
  else
    GLWindow::OnMouseMove(x, y);
}

void SceneWindow::DragLights(int x, int y) {
  const float dx = static_cast<float>((lightX_ - x) % kDragWrap);
  const float dy = static_cast<float>((lightY_ - y) % kDragWrap);
  for (int light = 0; light < 2; ++light) {
    std::array<float, 4>& position = Light(light).position;
    Vector point{position[0], position[1], position[2]};
    Orbit(dx, dy, point, Vector{0, 0, 0});
    position = {point.x, point.y, point.z, position[3]};
  }
  lightX_ = x;
  lightY_ = y;
  MarkDirty();
  Invalidate();
}

void SceneWindow::OnWheel(int /*x*/, int /*y*/, int delta) {
  Camera& camera = GetCamera();
  Orbit(0, delta > 0 ? -kWheelZoomDegrees : kWheelZoomDegrees, camera.eye, camera.goal, &camera.fov);
  MarkDirty();
  Invalidate();
}

void SceneWindow::OnDropFiles(const std::vector<std::string>& files) {
  if (files.empty()) return;
  const Command command = FileTypeCommand(files.front());
  if (command == kCmdNone) return;
  SetScene(nullptr, files.front());
  Execute(command, true);
}

}  // namespace qx
