// LightWave objects (".lwo") in the older "LWOB" and the newer "LWO2" form:
// an IFF "FORM" of chunks, big-endian throughout. Points ("PNTS"), face
// polygons ("POLS") and, for LWOB, surface colours ("SRFS", "SURF" with its
// "COLR" sub-chunk) are used; every other chunk is skipped.
//
// Each "PNTS" chunk starts a new object (`EndObject("")` first), and the
// polygons that follow index its points. LWOB polygons carry a surface
// number (1-based into "SRFS"; a negative one announces detail polygons,
// which are skipped); LWO2 polygons get no material. Polygons of 3 corners
// become `AddTriangle`, of 4 `AddQuad`, of 5 or more ear-clipped triangles.
#pragma once

#include <string>

#include "import/import_sink.h"

namespace qx {

// Reads the LightWave file `fileName` and delivers its polygons to `sink`.
// Each "SRFS" name gets a distinct provisional material from
// `sink.MakeMaterial`, which its "SURF" chunk then sets with
// `sink.SetMaterial` to its colour (black without "COLR").
//
// Damaged files: chunks and polygons are never read beyond the end of the
// file or of the chunk that holds them, a polygon naming a point the object
// does not have is dropped, and the walk stops at the end of the form or of
// the file, whichever comes first.
//
// Returns false when the file cannot be opened, does not start with "FORM"
// or has a form type other than "LWOB" or "LWO2" (nothing is delivered);
// `failure`, when given, then says which.
bool ReadLwoFile(const std::string& fileName, ImportSink& sink, std::string* failure = nullptr);

}  // namespace qx
