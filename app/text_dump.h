// The text dump written beside a saved scene (".txt"): every fan mesh of the
// scene, record by record, for reading and comparing by eye.
//
// The meshes are taken in the order of the scene's mesh list (the mesh added
// last comes first) and numbered from 0. Each one is
//   "\n\nMesh <number> {\n<vertex count>,<split index>"
// followed by the record dump of its vertices N−1 down to 1 (DumpText in
// fan/fan_walk.h: "\n[v] " with the vertex's fans, position and header
// floats), then "\n}". A scene without meshes gives an empty dump. Nodes,
// matrices and materials are not part of the dump.
#pragma once

#include <cstdio>
#include <string>

#include "scene/scene_model.h"

namespace qx {

// Writes the dump of `scene` to `file`.
// Precondition: the scene is complete (not loading), so that no decoder
// changes a mesh while it is written.
void DumpScene(const QXScene& scene, std::FILE* file);

// Writes the dump to `path` in one go: a temporary file in the same directory
// renamed over the target, so a failure never leaves half a dump. Returns
// false, with no file written, when the dump cannot be written. Same
// precondition as DumpScene.
bool WriteTextDump(const std::string& path, const QXScene& scene);

}  // namespace qx
