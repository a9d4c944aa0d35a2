// ImportSink: the only thing a model reader talks to. Readers deliver points,
// colours and materials in file order; they know nothing of the fan builder
// or the scene. The importer overrides what it needs; every operation of this
// base does nothing and returns false.
#pragma once

#include <array>
#include <cstdint>

#include "common/geometry.h"

namespace qx {

class QXMaterial;

// RGBA in 0..1; a negative alpha stands for "no colour".
using Colour = std::array<float, 4>;

inline bool HasColour(const Colour& colour) { return colour[3] >= 0; }

class ImportSink {
 public:
  virtual ~ImportSink() = default;

  // The order of these operations is the interface's fixed slot order.
  // Marks a point where pending geometry may be flushed (LDraw blank lines,
  // end of each LDraw file).
  virtual bool Flush() { return false; }
  virtual bool Comment(const char* /*text*/) { return false; }
  // An LDraw sub-file reference: `matrix` is column-major.
  virtual bool IncludeModel(const Colour& /*colour*/, const Matrix& /*matrix*/, const char* /*name*/) {
    return false;
  }
  virtual bool AddLine(const Colour& /*colour*/, Vector /*p0*/, Vector /*p1*/) { return false; }
  // `material` may be null (no material).
  virtual bool AddTriangle(QXMaterial* /*material*/, Vector /*p0*/, Vector /*p1*/, Vector /*p2*/) { return false; }
  virtual bool AddTriangleColor(const Colour& /*colour*/, Vector /*p0*/, Vector /*p1*/, Vector /*p2*/) {
    return false;
  }
  virtual bool AddQuad(QXMaterial* /*material*/, Vector /*p0*/, Vector /*p1*/, Vector /*p2*/, Vector /*p3*/) {
    return false;
  }
  virtual bool AddQuadColor(const Colour& /*colour*/, Vector /*p0*/, Vector /*p1*/, Vector /*p2*/, Vector /*p3*/) {
    return false;
  }
  virtual bool AddOptionalLine(const Colour& /*colour*/, Vector /*p0*/, Vector /*p1*/) { return false; }
  // A material with these ambient, diffuse and specular colours and shininess
  // (an existing equal one or a new one); null when the sink keeps none.
  virtual QXMaterial* MakeMaterial(const Colour& /*ambient*/, const Colour& /*diffuse*/, const Colour& /*specular*/,
                                   float /*shininess*/) {
    return nullptr;
  }
  // Overwrites a material's values; false for a null material.
  virtual bool SetMaterial(QXMaterial* /*material*/, const Colour& /*ambient*/, const Colour& /*diffuse*/,
                           const Colour& /*specular*/, float /*shininess*/) {
    return false;
  }
  // Closes the object being collected; `name` may be null and is not used.
  virtual void EndObject(const char* /*name*/) {}
};

// The triangle collector as the PLY front sees it: the fan builder takes
// triangles directly, by position, with a face group (a material handle or
// none), without going through ImportSink's winding convention.
class TriangleCollector {
 public:
  virtual ~TriangleCollector() = default;
  virtual void AddTriangle(Vector p0, Vector p1, Vector p2, QXMaterial* group) = 0;
  // Drops every triangle collected so far (a reader that starts a new object).
  virtual void Clear() = 0;
};

}  // namespace qx
