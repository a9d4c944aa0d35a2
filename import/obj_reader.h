// Wavefront OBJ models and their MTL material libraries.
//
// The OBJ reader keeps vertex positions ("v"), faces ("f"), object and group
// breaks ("o", "g") and materials ("mtllib", "usemtl"); texture coordinates,
// normals, smoothing groups, lines and everything else are ignored. Faces
// reach the sink as triangles (3 corners), quads (4) or ear-clipped
// triangles (5 or more), each with the material current at that line.
#pragma once

#include <string>
#include <unordered_map>

#include "import/import_sink.h"

namespace qx {

// Material name (compared byte for byte) -> the sink's material handle.
using ObjMaterialTable = std::unordered_map<std::string, QXMaterial*>;

// Reads the OBJ file `fileName` and delivers its faces to `sink` in file
// order. Material libraries named by "mtllib" are looked for as written
// (relative to the working directory) and then in `directory`, the folder of
// the OBJ file (with or without a trailing separator; may be empty). Names
// read from the file may use `/` or `\` as separator.
//
// Line rules: a line ends at LF or CR or after 1023 characters (the rest of
// a longer line is read as a line of its own); leading blanks are skipped;
// lines starting with `#` or `$` are comments; the first word is compared
// without regard to case. Face indices count from 1, negative ones count
// back from the last vertex read, and every index is clamped into the
// vertices read so far; a face before any vertex is dropped. A vertex
// component that does not parse keeps the previous vertex's value.
//
// Returns false only when the file cannot be opened (nothing is delivered).
bool ReadObjFile(const std::string& fileName, const std::string& directory, ImportSink& sink);

// Reads the MTL library `fileName`: each "newmtl" statement defines a
// material that starts as ambient (0.2, 0.2, 0.2, 1), diffuse
// (0.8, 0.8, 0.8, 1), specular (0, 0, 0, 1), shininess 0; "Ka", "Kd" and "Ks"
// set the colours (alpha stays 1), "Ns" the shininess scaled by 0.001. Each
// material is finished by the next "newmtl" or the end of the file: it is
// made with `sink.MakeMaterial(Ka, Kd, Ks, shininess)` and entered in
// `materials` under its name (a name defined again maps to the later one).
//
// Returns false when the file cannot be opened; `materials` is then unchanged.
bool ReadMtlFile(const std::string& fileName, ObjMaterialTable& materials, ImportSink& sink);

}  // namespace qx
