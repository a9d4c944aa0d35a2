// The import front end: turns one foreign model file into a new scene.
//
//   reader (one per format) --ImportSink / 3DS callbacks / collector-->
//   Importer --triangles tagged with a face group--> FanBuilder
//   FanBuilder --one fan mesh per material--> scene (mesh, node, material)
//
// Readers know nothing of the builder or the scene. The importer collects the
// triangles of the current object, builds them into fan meshes when the
// object ends (or once, at the end, with `singleObj`), and hangs each mesh
// under a node with its material.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "fan/fan_builder.h"
#include "import/import_options.h"
#include "import/import_sink.h"
#include "import/read3ds.h"

namespace qx {

class QXHier;
class QXScene;

class Importer final : public ImportSink, public TriangleCollector, public Read3DSCallbacks {
 public:
  // Fills `scene` (which must outlive the importer) with the options given;
  // `progress` may be empty.
  Importer(const ImportOptions& options, QXScene& scene, BuildProgress progress);
  ~Importer() override;

  // Reads `fileName` with the reader of `format` and builds what it
  // delivered. False for an empty name, when the format's reader says the
  // file failed (STL, 3DS, LDraw, PLY), and when an LWO or AC3D reader fails
  // without delivering anything (a file not of the format); OBJ and DXF
  // succeed with whatever they delivered. A success that built no mesh
  // writes "\nWarning, %s holds no faces: the scene is empty".
  bool Import(const std::string& fileName, ModelFormat format);
  // Why the last Import failed, for a message after the file's name.
  const std::string& Failure() const { return failure_; }

  // ImportSink.
  bool Flush() override { return true; }
  bool IncludeModel(const Colour& colour, const Matrix& matrix, const char* name) override;
  bool AddTriangle(QXMaterial* material, Vector p0, Vector p1, Vector p2) override;
  bool AddTriangleColor(const Colour& colour, Vector p0, Vector p1, Vector p2) override;
  bool AddQuad(QXMaterial* material, Vector p0, Vector p1, Vector p2, Vector p3) override;
  bool AddQuadColor(const Colour& colour, Vector p0, Vector p1, Vector p2, Vector p3) override;
  QXMaterial* MakeMaterial(const Colour& ambient, const Colour& diffuse, const Colour& specular,
                           float shininess) override;
  bool SetMaterial(QXMaterial* material, const Colour& ambient, const Colour& diffuse, const Colour& specular,
                   float shininess) override;
  void EndObject(const char* name) override;

  // TriangleCollector (the PLY front feeds the builder directly).
  void AddTriangle(Vector p0, Vector p1, Vector p2, QXMaterial* group) override;
  void Clear() override;

  // Read3DSCallbacks.
  void OnMaterial(const Material3DS& material) override;
  void OnMesh(const Mesh3DS& mesh) override;

 private:
  std::unique_ptr<FanBuilder> MakeCollector() const;
  // Hands one triangle, in the order given, to the collector.
  void Collect(QXMaterial* material, Vector p0, Vector p1, Vector p2);
  Vector Transformed(Vector p) const;
  QXMaterial* ColourMaterial(const Colour& colour);
  int32_t GroupOf(QXMaterial* material);
  // Builds the collected triangles into meshes, adds each with a node to the
  // scene's roots (with the current transform as their matrix), and empties
  // the collector. Returns the nodes, first added first.
  std::vector<QXHier*> BuildCollected();
  bool IncludeFlattened(const Matrix& matrix, const char* name);
  bool IncludeShared(const Colour& colour, const Matrix& matrix, const char* name);
  bool ReadModel(const std::string& fileName, ModelFormat format);
  // Records why the import failed; returns false.
  bool Refused(const char* why);
  bool CollectedAny() const;

  ImportOptions options_;
  QXScene& scene_;
  BuildProgress progress_;
  std::unique_ptr<FanBuilder> collector_;
  bool hasTransform_ = false;
  Matrix transform_ = IdentityMatrix();
  std::string directory_;  // of the imported file, with its trailing separator
  std::string failure_;    // why the last Import failed
  // Face groups: 0 is "no material", n > 0 is groupMaterials_[n - 1].
  std::vector<QXMaterial*> groupMaterials_;
  std::unordered_map<QXMaterial*, int32_t> groups_;
  // LDraw sub-models already built, by normalised name; none for a sub-model
  // that produced nothing.
  std::map<std::string, QXHier*> subModels_;
  // 3DS materials, newest first.
  std::vector<Material3DS> materials3ds_;
};

// The import command without a window or dialog: a new scene from `path` in
// the format its extension names, built with `options`; an LDraw model is
// then turned twice about X (its y axis points down); "\nImport %s time: %d"
// goes to standard output. None when the format is unknown, the file cannot
// be opened, or the import fails; `failure`, when given, then says why
// (without the path).
std::unique_ptr<QXScene> ImportModel(const std::string& path, const ImportOptions& options,
                                     BuildProgress progress = {}, std::string* failure = nullptr);

}  // namespace qx
