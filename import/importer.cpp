#include "import/importer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "common/diagnostics.h"
#include "fan/quadric_builder.h"
#include "fan/volume_builder.h"
#include "import/ac3d_reader.h"
#include "import/dxf_reader.h"
#include "import/ldraw_library.h"
#include "import/ldraw_reader.h"
#include "import/lwo_reader.h"
#include "import/model_format.h"
#include "import/obj_reader.h"
#include "import/ply_reader.h"
#include "import/stl_reader.h"
#include "scene/scene_commands.h"
#include "scene/scene_model.h"

namespace qx {
namespace {

bool IsFinite(Vector p) { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); }

// The homogeneous product of a column-major matrix and a point, divided by w
// when w is usable.
Vector TransformHomogeneous(const Matrix& m, Vector p) {
  const Vector q = TransformPoint(m, p);
  const float w = m[3] * p.x + m[7] * p.y + m[11] * p.z + m[15];
  return std::fabs(w) > 1e-10f ? q * (1.0f / w) : q;
}

Colour WithAlpha(const Colour3DS& rgb, float alpha) { return {rgb[0], rgb[1], rgb[2], alpha}; }

}  // namespace

Importer::Importer(const ImportOptions& options, QXScene& scene, BuildProgress progress)
    : options_(options), scene_(scene), progress_(std::move(progress)) {}

Importer::~Importer() = default;

std::unique_ptr<FanBuilder> Importer::MakeCollector() const {
  std::unique_ptr<FanBuilder> builder;
  const float gridFactor = BuilderGridFactor(options_.gridFactor);
  if (options_.metric == 1 || options_.metric == 2) {
    QuadricOptions quadric;
    quadric.pairContraction = options_.metric == 2;
    quadric.contractionThreshold = options_.metric == 2 ? gridFactor : 0.1f;
    quadric.meshQuality = options_.meshQuality;
    // With pair contraction the boundary stays at the builder's default.
    if (options_.metric == 1) quadric.preserveBoundary = options_.checkBounds;
    builder = std::make_unique<QuadricBuilder>(quadric);
  } else {
    builder = std::make_unique<VolumeBuilder>();
  }
  builder->degreeLimit = BuilderDegreeLimit(options_.maxDegree);
  builder->dependencyLimit = BuilderDependencyLimit(options_.maxDependencies);
  return builder;
}

int32_t Importer::GroupOf(QXMaterial* material) {
  if (material == nullptr) return 0;
  auto [it, added] = groups_.try_emplace(material, static_cast<int32_t>(groupMaterials_.size()) + 1);
  if (added) groupMaterials_.push_back(material);
  return it->second;
}

void Importer::Collect(QXMaterial* material, Vector p0, Vector p1, Vector p2) {
  // A corner without a finite position cannot be drawn or measured.
  if (!IsFinite(p0) || !IsFinite(p1) || !IsFinite(p2)) return;
  if (!collector_) collector_ = MakeCollector();
  collector_->AddTriangle(p0, p1, p2, GroupOf(material));
}

Vector Importer::Transformed(Vector p) const {
  return options_.singleObj && hasTransform_ ? TransformHomogeneous(transform_, p) : p;
}

// Readers deliver counter-clockwise faces; the builder takes them the other
// way round unless the user asked to keep the reader's order.
bool Importer::AddTriangle(QXMaterial* material, Vector p0, Vector p1, Vector p2) {
  p0 = Transformed(p0), p1 = Transformed(p1), p2 = Transformed(p2);
  if (options_.flipFaces)
    Collect(material, p0, p1, p2);
  else
    Collect(material, p0, p2, p1);
  return true;
}

bool Importer::AddQuad(QXMaterial* material, Vector p0, Vector p1, Vector p2, Vector p3) {
  p0 = Transformed(p0), p1 = Transformed(p1), p2 = Transformed(p2), p3 = Transformed(p3);
  if (options_.flipFaces) {
    Collect(material, p0, p1, p2);
    Collect(material, p2, p3, p0);
  } else {
    Collect(material, p0, p2, p1);
    Collect(material, p2, p0, p3);
  }
  return true;
}

QXMaterial* Importer::ColourMaterial(const Colour& colour) {
  if (!HasColour(colour)) return nullptr;
  return MakeMaterial(colour, colour, {0.1f, 0.1f, 0.1f, 0}, 1.0f);
}

bool Importer::AddTriangleColor(const Colour& colour, Vector p0, Vector p1, Vector p2) {
  return AddTriangle(ColourMaterial(colour), p0, p1, p2);
}

bool Importer::AddQuadColor(const Colour& colour, Vector p0, Vector p1, Vector p2, Vector p3) {
  return AddQuad(ColourMaterial(colour), p0, p1, p2, p3);
}

QXMaterial* Importer::MakeMaterial(const Colour& ambient, const Colour& diffuse, const Colour& specular,
                                   float shininess) {
  return scene_.FindOrAddMaterial(ambient, diffuse, specular, shininess);
}

bool Importer::SetMaterial(QXMaterial* material, const Colour& ambient, const Colour& diffuse,
                           const Colour& specular, float shininess) {
  if (material == nullptr) return false;
  material->ambient = ambient;
  material->diffuse = diffuse;
  material->specular = specular;
  material->shininess = shininess;
  return true;
}

void Importer::AddTriangle(Vector p0, Vector p1, Vector p2, QXMaterial* group) { Collect(group, p0, p1, p2); }

void Importer::Clear() {
  if (collector_) collector_->Reset();
}

std::vector<QXHier*> Importer::BuildCollected() {
  std::vector<QXHier*> nodes;
  if (!collector_ || collector_->FaceCount() == 0) return nodes;
  std::vector<std::unique_ptr<QXPck>> meshes =
      collector_->Build(options_.simplificationLevel, options_.model, progress_);
  collector_->Reset();
  QXMatrix* matrix = hasTransform_ ? scene_.FindOrAddMatrix(transform_) : nullptr;
  for (std::unique_ptr<QXPck>& mesh : meshes) {
    // The node takes the mesh's material over; the mesh forgets its group.
    const int32_t group = std::exchange(mesh->group, 0);
    QXMaterial* material = group > 0 ? groupMaterials_[group - 1] : nullptr;
    QXPck* added = mesh.release();
    scene_.AddMesh(added);
    nodes.push_back(scene_.AddRoot(added, material, matrix));
  }
  return nodes;
}

void Importer::EndObject(const char*) {
  if (!options_.singleObj) BuildCollected();
}

// ---- LDraw sub-models --------------------------------------------------------

bool Importer::IncludeModel(const Colour& colour, const Matrix& matrix, const char* name) {
  if (name == nullptr) return false;
  return options_.singleObj ? IncludeFlattened(matrix, name) : IncludeShared(colour, matrix, name);
}

// The sub-file's triangles are transformed into the current transform and
// collected with everything else.
bool Importer::IncludeFlattened(const Matrix& matrix, const char* name) {
  const bool hadTransform = hasTransform_;
  const Matrix saved = transform_;
  // The sub-file's points go through its own matrix first, then the current one.
  transform_ = hasTransform_ ? MatrixProduct(matrix, transform_) : matrix;
  hasTransform_ = true;
  ReadLDraw(name, options_.ldrawDir.c_str(), directory_.c_str(), *this);
  transform_ = saved;
  hasTransform_ = hadTransform;
  return true;
}

// Each distinct sub-file is built once into a node of its own; every further
// reference adds a clone of that node with the reference's matrix and colour.
bool Importer::IncludeShared(const Colour& colour, const Matrix& matrix, const char* name) {
  const std::string key = LDrawNameKey(name);
  if (auto cached = subModels_.find(key); cached != subModels_.end()) {
    if (cached->second == nullptr) return true;
    QXHier* clone = cached->second->Clone();
    clone->matrix = scene_.FindOrAddMatrix(matrix);
    clone->material = ColourMaterial(colour);
    scene_.AddRoot(clone);
    return true;
  }
  std::unique_ptr<FanBuilder> outerCollector = std::move(collector_);
  QXHier* outerRoots = std::exchange(scene_.roots, nullptr);
  ReadLDraw(name, options_.ldrawDir.c_str(), directory_.c_str(), *this);
  std::vector<QXHier*> built = BuildCollected();
  collector_ = std::move(outerCollector);

  // The last mesh built becomes the sub-file's node; everything else made
  // while reading it (its own sub-models, its other meshes) hangs below.
  QXHier* node = nullptr;
  if (!built.empty()) {
    node = built.back();
    scene_.roots = node->nextSibling;
    node->nextSibling = nullptr;
  } else if (scene_.roots) {
    node = new QXHier;
  }
  if (node) {
    node->firstChild = scene_.roots;
    node->matrix = scene_.FindOrAddMatrix(matrix);
    node->material = ColourMaterial(colour);
  }
  scene_.roots = outerRoots;
  if (node) scene_.AddRoot(node);
  subModels_[key] = node;
  return true;
}

// ---- 3DS -------------------------------------------------------------------

void Importer::OnMaterial(const Material3DS& material) { materials3ds_.insert(materials3ds_.begin(), material); }

void Importer::OnMesh(const Mesh3DS& mesh) {
  if (mesh.points.empty() || mesh.faces.empty()) return;
  if (!options_.singleObj) Clear();
  auto materialNamed = [&](const std::string& name) -> QXMaterial* {
    for (const Material3DS& m : materials3ds_)
      if (m.name == name) {
        const float alpha = 1 - m.transparency;
        return scene_.FindOrAddMaterial(WithAlpha(m.ambient, alpha), WithAlpha(m.diffuse, alpha),
                                        WithAlpha(m.specular, alpha), m.shininess);
      }
    return nullptr;
  };
  auto addFace = [&](QXMaterial* material, size_t faceIndex) {
    if (faceIndex >= mesh.faces.size()) return;
    const Face3DS& face = mesh.faces[faceIndex];
    const size_t count = mesh.points.size();
    if (face.a >= count || face.b >= count || face.c >= count) return;
    const Vector a = mesh.points[face.a], b = mesh.points[face.b], c = mesh.points[face.c];
    if (options_.flipFaces)
      Collect(material, a, c, b);
    else
      Collect(material, a, b, c);
  };
  if (mesh.groups.empty()) {
    QXMaterial* material = materialNamed(mesh.defaultMaterial);
    for (size_t f = 0; f < mesh.faces.size(); ++f) addFace(material, f);
  }
  for (const FaceGroup3DS& group : mesh.groups) {
    QXMaterial* material = materialNamed(group.material);
    for (auto f : group.faces) addFace(material, f);
  }
  if (!options_.singleObj) BuildCollected();
}

// ---- The import ------------------------------------------------------------

bool Importer::ReadModel(const std::string& fileName, ModelFormat format) {
  switch (format) {
    case ModelFormat::Fmt3DS:
      return Read3DSFile(fileName.c_str(), *this) || Refused("not a readable 3DS file");
    case ModelFormat::FmtSTL:
      return ReadStl(fileName, *this) || Refused("not a readable STL file");
    case ModelFormat::FmtLDraw:
      return ReadLDraw(fileName.c_str(), options_.ldrawDir.c_str(), directory_.c_str(), *this) ||
             Refused("not a readable LDraw file");
    case ModelFormat::FmtPLY:
      // A PLY file cut off inside its faces keeps the faces before the cut;
      // one that gave nothing fails the import instead of ending the program.
      return ReadPlyFile(fileName.c_str(), *this, {options_.flipFaces, options_.singleObj}, &failure_);
    case ModelFormat::FmtOBJ:
      ReadObjFile(fileName, directory_, *this);
      return true;
    case ModelFormat::FmtDXF:
      ReadDxf(fileName.c_str(), *this);
      return true;
    case ModelFormat::FmtLWO:
      // The reader fails only before delivering anything: a file that is not
      // of the format.
      return ReadLwoFile(fileName, *this, &failure_);
    case ModelFormat::FmtAC3D:
      // A file cut off after some objects keeps them; one that is not of the
      // format delivers nothing and fails.
      return ReadAc3dFile(fileName, *this, &failure_) || scene_.meshes != nullptr || CollectedAny();
  }
  return false;
}

bool Importer::Refused(const char* why) {
  failure_ = why;
  return false;
}

bool Importer::CollectedAny() const { return collector_ && collector_->FaceCount() > 0; }

bool Importer::Import(const std::string& fileName, ModelFormat format) {
  failure_.clear();
  if (fileName.empty()) return Refused("no file name");
  const size_t separator = fileName.find_last_of("/\\");
  directory_ = separator == std::string::npos ? std::string() : fileName.substr(0, separator + 1);
  if (!collector_) collector_ = MakeCollector();
  const bool read = ReadModel(fileName, format);
  if (read) failure_.clear();
  BuildCollected();
  collector_.reset();
  scene_.UpdateBox();
  if (read && !scene_.meshes) PrintMessage("\nWarning, %s holds no faces: the scene is empty", fileName.c_str());
  return read;
}

std::unique_ptr<QXScene> ImportModel(const std::string& path, const ImportOptions& options, BuildProgress progress,
                                     std::string* failure) {
  const auto fail = [failure](std::string why) -> std::unique_ptr<QXScene> {
    if (failure) *failure = std::move(why);
    return nullptr;
  };
  const std::optional<ModelFormat> format = ModelFormatForFile(path);
  if (!format) return fail("not a model format that can be imported");
  std::FILE* probe = std::fopen(path.c_str(), "rb");
  if (!probe) return fail(std::strerror(errno));
  std::fclose(probe);
  const auto start = std::chrono::steady_clock::now();
  auto scene = std::make_unique<QXScene>();
  {
    Importer importer(options, *scene, std::move(progress));
    if (!importer.Import(path, *format)) return fail(importer.Failure());
  }
  // LDraw models are drawn with y pointing down.
  if (*format == ModelFormat::FmtLDraw) {
    RotateScene(*scene, Axis::kX);
    RotateScene(*scene, Axis::kX);
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  PrintMessage("\nImport %s time: %d", path.c_str(),
               static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()));
  return scene;
}

}  // namespace qx
