// AC3D text models (".ac"): a list of materials and a tree of objects, each
// with a local rotation ("rot") and location ("loc"), its vertices and its
// surfaces.
//
// Vertices are moved into model space while they are read: a point is a row
// vector multiplied from the left by the object's matrix, which is its local
// matrix times its parent's (translation in elements 12..14). Every surface
// becomes triangles by ear clipping, with the material its "mat" line names
// (none without one); every object ends with `EndObject(nullptr)`, so each
// object can become a mesh of its own.
#pragma once

#include <string>

#include "import/import_sink.h"

namespace qx {

// Reads the AC3D file `fileName` and delivers its materials and triangles to
// `sink` in file order. Problems are reported on standard output with the
// line number where they were met:
//   - a MATERIAL line without exactly 22 tokens is skipped;
//   - a surface whose "refs" reach past the object's vertices is dropped;
//   - a surface or child object cut off by the end of the file, or objects
//     nested too deeply, end the read (what was delivered stays).
// Returns false when the file cannot be opened, when its first line does not
// start with "AC3D" (a UTF-8 byte-order mark before it is allowed), or when
// the read ended early as above; `failure`, when given, then says which.
bool ReadAc3dFile(const std::string& fileName, ImportSink& sink, std::string* failure = nullptr);

}  // namespace qx
