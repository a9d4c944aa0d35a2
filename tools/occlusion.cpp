#include "tools/occlusion.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <numbers>
#include <unordered_map>
#include <vector>

#include "common/diagnostics.h"
#include "fan/quadric_builder.h"
#include "platform/gl_api.h"
#include "platform/gl_surface.h"
#include "scene/scene_model.h"
#include "tools/colour_table.h"
#include "tools/occlusion_geometry.h"
#include "view/overlays.h"

namespace qx {

// ---- Settings and dialog lists ----------------------------------------------

namespace {

const std::array<SettingsKey<OcclusionSettings>, 3> kOcclusionKeys = {{
    {"MaxIterations", &OcclusionSettings::maxIterations},
    {"MaxColors", &OcclusionSettings::maxColors},
    {"IsRegular", &OcclusionSettings::isRegular},
}};

int ListSide(double side) {
  return static_cast<int>(std::clamp(std::floor(side), double{kFirstListSide}, double{kLastListSide}));
}

}  // namespace

std::span<const SettingsKey<OcclusionSettings>> OcclusionSettings::Keys() { return kOcclusionKeys; }

OcclusionSettings OcclusionSettings::Load(const std::string& path) {
  OcclusionSettings settings;
  ReadSettingsKeys<OcclusionSettings>(SettingsFile(path), kSection, Keys(), settings);
  return settings;
}

bool OcclusionSettings::Save(const std::string& path) const {
  SettingsFile file(path);
  const bool set = WriteSettingsKeys<OcclusionSettings>(file, kSection, Keys(), *this);
  return file.Save() && set;
}

int IterationsListSide(int maxIterations) { return ListSide(std::sqrt(std::max(maxIterations, 0))); }
int ColoursListSide(int maxColors) { return ListSide(std::pow(std::max(maxColors, 0), 0.334)); }

DirectionAngles OcclusionDirection(int i, int k, bool regular, Random15& random) {
  constexpr float pi = std::numbers::pi_v<float>;
  if (regular) return {pi * static_cast<float>(i / k) / k, 2 * pi * static_cast<float>(i % k) / k};
  const float theta = (random.Next() + 0.5f) * pi / Random15::kRange;
  const float phi = (random.Next() + 0.5f) * 2 * pi / Random15::kRange;
  return {theta, phi};
}

// ---- The analysis -----------------------------------------------------------

namespace {

constexpr float kBoxEnlargement = 1.1f;
constexpr float kRebuildLevel = 1.0f / 128;

bool IsTranslucent(const QXMaterial* material) { return material && material->diffuse[3] < 1.0f; }

void SetStipple(bool on) {
  if (on)
    glEnable(GL_POLYGON_STIPPLE);
  else
    glDisable(GL_POLYGON_STIPPLE);
}

// What one colour of the current batch stands for.
struct Item {
  QXHier* node;
  MeshFaces* faces;  // none in the object modes
  int64_t face;
};

// glOrtho(-x, x, -y, y, -z, z) as 16 column-major floats.
Matrix SymmetricOrtho(Vector extent) {
  Matrix m{};
  m[0] = 1 / extent.x;
  m[5] = 1 / extent.y;
  m[10] = -1 / extent.z;
  m[15] = 1;
  return m;
}

class OcclusionAnalysis {
 public:
  OcclusionAnalysis(QXScene& scene, const OcclusionOptions& options, GLSurface& surface)
      : scene_(scene), options_(options), surface_(surface) {}

  OcclusionResult Run(const OcclusionProgress& progress);

 private:
  bool FacesMode() const { return options_.mode == OcclusionMode::kFaces; }
  void Prepare();
  void SaveState();
  void RestoreState();
  void SetState();
  void RunDirections(const OcclusionProgress& progress);
  bool AnythingUnseen() const;
  void LoadProjection(DirectionAngles angles);
  void DrawIndices(uint32_t first, size_t count) const;
  void DepthPass();
  void IdentificationPass();
  void IdentifyObject(const ObjectInstance& instance);
  void IdentifyFaces(const ObjectInstance& instance);
  void DrawPendingFaces();
  void Evaluate();
  void ShowOnFront(const std::vector<uint8_t>& picture);
  void MarkSeen(int index);
  void RebuildMeshes();
  QXPck* RebuildMesh(const QXPck& mesh, const MeshFaces& faces);

  QXScene& scene_;
  const OcclusionOptions& options_;
  GLSurface& surface_;
  OcclusionResult result_;
  int width_ = 0;
  int height_ = 0;
  bool doubleBuffered_ = false;
  Random15 random_;
  ColourTable table_;
  SceneGeometry geometry_;
  std::vector<Item> items_;
  // Unseen faces gathered for one draw: three corners and three colours
  // each, and whether they are stippled.
  std::vector<Vector> pendingCorners_;
  std::vector<uint8_t> pendingColours_;
  bool pendingStippled_ = false;
  std::vector<uint8_t> picture_;
};

OcclusionResult OcclusionAnalysis::Run(const OcclusionProgress& progress) {
  if (scene_.loading || !scene_.structureReady || !surface_.MakeCurrent()) return result_;
  width_ = std::max(surface_.Width(), 0);
  height_ = std::max(surface_.Height(), 0);
  Prepare();
  if (geometry_.tooLarge) return result_.tooLarge = true, result_;
  result_.ran = true;
  result_.trianglesDrawn = static_cast<int64_t>(geometry_.indices.size() / 3);
  if (geometry_.instances.empty() || scene_.Box().Empty()) return result_;
  SaveState();
  SetState();
  size_t wanted = static_cast<size_t>(std::max(options_.colours, 1));
  if (!FacesMode()) wanted = std::min(wanted, geometry_.instances.size());
  table_ = BuildColourTable(static_cast<int>(wanted), width_, height_, random_);
  result_.tableSize = table_.Size();
  surface_.Present(true);
  if (table_.Size() > 0) RunDirections(progress);
  RestoreState();
  if (table_.Size() == 0) result_.ran = false;
  if (FacesMode() && result_.ran && !result_.cancelled) RebuildMeshes();
  return result_;
}

// The scene's geometry, every face of it unseen.
void OcclusionAnalysis::Prepare() {
  geometry_ = CollectSceneGeometry(scene_);
  for (const auto& [mesh, faces] : geometry_.faces) result_.facesBefore += faces.Count();
  result_.facesAfter = result_.facesBefore;
}

void OcclusionAnalysis::SaveState() {
  glPushAttrib(GL_ALL_ATTRIB_BITS);
  glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
}

void OcclusionAnalysis::RestoreState() {
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
  glPopMatrix();
  glPopClientAttrib();
  glPopAttrib();
  glShadeModel(GL_SMOOTH);
}

void OcclusionAnalysis::SetState() {
  GLboolean doubleBuffer = GL_FALSE;
  glGetBooleanv(GL_DOUBLEBUFFER, &doubleBuffer);
  doubleBuffered_ = doubleBuffer == GL_TRUE;
  glDrawBuffer(doubleBuffered_ ? GL_BACK : GL_FRONT);
  glReadBuffer(doubleBuffered_ ? GL_BACK : GL_FRONT);
  glViewport(0, 0, width_, height_);
  glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
  for (GLenum scale : {GL_RED_SCALE, GL_GREEN_SCALE, GL_BLUE_SCALE}) glPixelTransferf(scale, 1);
  for (GLenum bias : {GL_RED_BIAS, GL_GREEN_BIAS, GL_BLUE_BIAS}) glPixelTransferf(bias, 0);
  for (GLenum capability : {GL_COLOR_MATERIAL, GL_POLYGON_SMOOTH, GL_BLEND, GL_DITHER, GL_FOG, GL_LIGHTING,
                            GL_TEXTURE_1D, GL_TEXTURE_2D, GL_CULL_FACE, GL_ALPHA_TEST, GL_STENCIL_TEST,
                            GL_SCISSOR_TEST, GL_POLYGON_STIPPLE, GL_POLYGON_OFFSET_FILL})
    glDisable(capability);
  glShadeModel(GL_FLAT);
  glFrontFace(GL_CCW);
  glCullFace(GL_BACK);
  static const std::array<uint8_t, 128> stipple = CheckerboardStipple();
  glPolygonStipple(stipple.data());
  glEnableClientState(GL_VERTEX_ARRAY);
  glDisableClientState(GL_NORMAL_ARRAY);
  glDisableClientState(GL_COLOR_ARRAY);
  glClearColor(0, 0, 0, 0);
  glClearDepth(1);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
}

// In the object modes every node with an object starts selected (unseen)
// and every other node deselected.
void OcclusionAnalysis::RunDirections(const OcclusionProgress& progress) {
  if (!FacesMode()) ForEachDistinctNode(scene_.roots, [](QXHier* node) { node->selected = node->mesh != nullptr; });
  const int k = std::max(1, static_cast<int>(std::sqrt(std::max(options_.iterations, 0))));
  const int count = k * k;
  for (int i = 0; i < count && AnythingUnseen(); ++i) {
    LoadProjection(OcclusionDirection(i, k, options_.regular, random_));
    DepthPass();
    IdentificationPass();
    ++result_.directions;
    if (progress && !progress(static_cast<float>(i + 1) / static_cast<float>(count))) {
      result_.cancelled = i + 1 < count;
      break;
    }
  }
  if (!FacesMode())
    ForEachDistinctNode(scene_.roots, [&](QXHier* node) { result_.objectsLeftSelected += node->selected; });
}

bool OcclusionAnalysis::AnythingUnseen() const {
  if (FacesMode())
    return std::any_of(geometry_.faces.begin(), geometry_.faces.end(),
                       [](const auto& entry) { return entry.second.CountUnseen() > 0; });
  return std::any_of(geometry_.instances.begin(), geometry_.instances.end(),
                     [](const ObjectInstance& instance) { return instance.node->selected; });
}

// The view turns the scene about its centre (x axis by theta, then y axis by
// phi); the orthographic projection encloses the enlarged box so turned.
// The geometry is in world space: the model-view matrix stays identity.
void OcclusionAnalysis::LoadProjection(DirectionAngles angles) {
  const Box& box = scene_.Box();
  const Matrix view = MatrixProduct(MatrixProduct(TranslationMatrix(box.centre * -1.0f),
                                                  RotationMatrix({1, 0, 0}, angles.theta)),
                                    RotationMatrix({0, 1, 0}, angles.phi));
  const Vector half = box.half * kBoxEnlargement;
  Vector extent;
  for (int corner = 0; corner < 8; ++corner) {
    const Vector offset{corner & 1 ? half.x : -half.x, corner & 2 ? half.y : -half.y, corner & 4 ? half.z : -half.z};
    const Vector p = TransformPoint(view, box.centre + offset);
    for (int axis = 0; axis < 3; ++axis) extent[axis] = std::max(extent[axis], std::fabs(p[axis]));
  }
  // A flat or point-like scene still needs a projection that is not singular.
  const float floor = std::max(1e-6f * std::max({extent.x, extent.y, extent.z}), 1e-30f);
  for (int axis = 0; axis < 3; ++axis) extent[axis] = std::max(extent[axis], floor);
  const Matrix projection = MatrixProduct(view, SymmetricOrtho(extent));
  glMatrixMode(GL_PROJECTION);
  glLoadMatrixf(projection.data());
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
}

void OcclusionAnalysis::DrawIndices(uint32_t first, size_t count) const {
  if (count > 0)
    glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(count), GL_UNSIGNED_INT, &geometry_.indices[first]);
}

// Every opaque instance into the depth buffer; consecutive ones in one call.
void OcclusionAnalysis::DepthPass() {
  glDisable(GL_CULL_FACE);
  glDisable(GL_POLYGON_STIPPLE);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
  glDepthMask(GL_TRUE);
  glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
  glVertexPointer(3, GL_FLOAT, sizeof(Vector), geometry_.vertices.data());
  uint32_t runStart = 0;
  size_t runLength = 0;
  for (const ObjectInstance& instance : geometry_.instances) {
    const size_t length = instance.faces->indices.size();
    if (IsTranslucent(instance.material)) {
      DrawIndices(runStart, runLength);
      runLength = 0;
      continue;
    }
    if (runLength == 0) runStart = instance.firstIndex;
    runLength += length;
  }
  DrawIndices(runStart, runLength);
}

// Items are pulled towards the viewer by a constant polygon offset of four
// depth steps: a face that meets the front surface only at equal depth (a
// surface lying on another) would otherwise fail the depth test at one pixel
// and pass at the next by rounding alone, and a face the view does show
// could be taken for hidden. The offset has no slope term: one would pull a
// face seen nearly edge-on far forward, past the surfaces that hide it, and
// an object inside another would be taken for seen.
void OcclusionAnalysis::IdentificationPass() {
  glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
  glDepthMask(GL_FALSE);
  glClear(GL_COLOR_BUFFER_BIT);
  glDepthFunc(GL_LEQUAL);
  glEnable(GL_POLYGON_OFFSET_FILL);
  glPolygonOffset(0, -4);
  if (options_.mode == OcclusionMode::kOrientation) glEnable(GL_CULL_FACE);
  for (const ObjectInstance& instance : geometry_.instances) {
    if (FacesMode())
      IdentifyFaces(instance);
    else if (instance.node->selected)
      IdentifyObject(instance);
  }
  DrawPendingFaces();
  if (!items_.empty()) Evaluate();
  glDisable(GL_POLYGON_OFFSET_FILL);
  glDisable(GL_CULL_FACE);
  glDisable(GL_POLYGON_STIPPLE);
}

void OcclusionAnalysis::IdentifyObject(const ObjectInstance& instance) {
  const uint32_t colour = table_[static_cast<int>(items_.size())].drawn;
  SetStipple(IsTranslucent(instance.material));
  glColor3ub(colour & 0xFF, colour >> 8 & 0xFF, colour >> 16 & 0xFF);
  glVertexPointer(3, GL_FLOAT, sizeof(Vector), geometry_.vertices.data());
  DrawIndices(instance.firstIndex, instance.faces->indices.size());
  items_.push_back({instance.node, nullptr, 0});
  if (static_cast<int>(items_.size()) == table_.Size()) Evaluate();
}

// Every unseen face of the instance in a colour of its own. The corners are
// copied, so that each face can carry its colour; faces of several
// instances go into one draw as long as their stippling agrees.
void OcclusionAnalysis::IdentifyFaces(const ObjectInstance& instance) {
  MeshFaces& faces = *instance.faces;
  const bool stippled = IsTranslucent(instance.material);
  if (stippled != pendingStippled_) DrawPendingFaces();
  pendingStippled_ = stippled;
  for (int64_t face = 0; face < faces.Count(); ++face) {
    if (!faces.Unseen(face)) continue;
    const uint32_t colour = table_[static_cast<int>(items_.size())].drawn;
    for (int corner = 0; corner < 3; ++corner) {
      pendingCorners_.push_back(geometry_.vertices[geometry_.indices[instance.firstIndex + 3 * face + corner]]);
      pendingColours_.insert(pendingColours_.end(), {static_cast<uint8_t>(colour & 0xFF),
                                                     static_cast<uint8_t>(colour >> 8 & 0xFF),
                                                     static_cast<uint8_t>(colour >> 16 & 0xFF)});
    }
    items_.push_back({instance.node, &faces, face});
    if (static_cast<int>(items_.size()) == table_.Size()) {
      DrawPendingFaces();
      Evaluate();
    }
  }
}

void OcclusionAnalysis::DrawPendingFaces() {
  if (pendingCorners_.empty()) return;
  SetStipple(pendingStippled_);
  glEnableClientState(GL_COLOR_ARRAY);
  glVertexPointer(3, GL_FLOAT, sizeof(Vector), pendingCorners_.data());
  glColorPointer(3, GL_UNSIGNED_BYTE, 0, pendingColours_.data());
  glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(pendingCorners_.size()));
  glDisableClientState(GL_COLOR_ARRAY);
  pendingCorners_.clear();
  pendingColours_.clear();
}

// Reads the batch's picture back and marks every item whose colour shows.
void OcclusionAnalysis::Evaluate() {
  picture_.resize(static_cast<size_t>(width_) * static_cast<size_t>(height_) * 3);
  glReadPixels(0, 0, width_, height_, GL_RGB, GL_UNSIGNED_BYTE, picture_.data());
  if (doubleBuffered_) ShowOnFront(picture_);
  uint32_t last = 0;
  for (size_t at = 0; at < picture_.size(); at += 3) {
    const uint32_t colour = PackRgb(&picture_[at]);
    if (colour == 0 || colour == last) continue;
    last = colour;
    MarkSeen(table_.Find(colour));
  }
  if (options_.logBatches)
    PrintMessage("\n%s (%d)", FormatMessage("img%03d.ppm", result_.batches).c_str(), static_cast<int>(items_.size()));
  ++result_.batches;
  items_.clear();
  glClear(GL_COLOR_BUFFER_BIT);
}

void OcclusionAnalysis::MarkSeen(int index) {
  if (index < 0 || index >= static_cast<int>(items_.size())) return;
  const Item& item = items_[static_cast<size_t>(index)];
  if (item.faces)
    item.faces->MarkSeen(item.face);
  else
    item.node->selected = false;
}

void OcclusionAnalysis::ShowOnFront(const std::vector<uint8_t>& picture) {
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  glDisable(GL_DEPTH_TEST);
  glDrawBuffer(GL_FRONT);
  glRasterPos2f(-1, -1);
  glDrawPixels(width_, height_, GL_RGB, GL_UNSIGNED_BYTE, picture.data());
  glFlush();
  glDrawBuffer(GL_BACK);
  glEnable(GL_DEPTH_TEST);
  glPopMatrix();
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
}

// ---- Face mode: rebuilding the meshes ------------------------------------------

// Every mesh with faces never seen is replaced by a mesh of the faces seen
// (or by nothing), in the mesh list and in every node, and freed.
void OcclusionAnalysis::RebuildMeshes() {
  std::unordered_map<QXPck*, QXPck*> replacements;
  for (QXPck** link = &scene_.meshes; *link;) {
    QXPck* mesh = *link;
    const auto it = geometry_.faces.find(mesh);
    if (it == geometry_.faces.end() || it->second.CountUnseen() == 0) {
      link = &mesh->next;
      continue;
    }
    result_.facesAfter -= it->second.CountUnseen();
    QXPck* replacement = RebuildMesh(*mesh, it->second);
    replacements[mesh] = replacement;
    if (replacement) {
      ++result_.meshesRebuilt;
      replacement->next = mesh->next;
      *link = replacement;
      link = &replacement->next;
    } else {
      ++result_.meshesFreed;
      *link = mesh->next;
    }
  }
  ForEachDistinctNode(scene_.roots, [&](QXHier* node) {
    if (const auto it = replacements.find(node->mesh); it != replacements.end()) node->mesh = it->second;
  });
  for (const auto& [old, replacement] : replacements) delete old;
  scene_.UpdateBox();
}

// A new fan mesh of the faces seen; none when no face was seen. The builder
// takes triangles in the importer's order (reversed), so the faces keep
// the side they show.
QXPck* OcclusionAnalysis::RebuildMesh(const QXPck& mesh, const MeshFaces& faces) {
  QuadricOptions quadric;
  quadric.pairContraction = false;
  QuadricBuilder builder(quadric);
  for (int64_t face = 0; face < faces.Count(); ++face) {
    if (faces.Unseen(face)) continue;
    const uint32_t* corners = &faces.indices[static_cast<size_t>(3 * face)];
    builder.AddTriangle(mesh.vertices[corners[0]].position, mesh.vertices[corners[2]].position,
                        mesh.vertices[corners[1]].position, 0);
  }
  std::vector<std::unique_ptr<QXPck>> built = builder.Build(kRebuildLevel, kStrategySculptor, nullptr);
  return built.empty() ? nullptr : built.front().release();
}

}  // namespace

OcclusionResult FindOccluded(QXScene& scene, const OcclusionOptions& options, GLSurface& surface,
                             const OcclusionProgress& progress) {
  return OcclusionAnalysis(scene, options, surface).Run(progress);
}

}  // namespace qx
