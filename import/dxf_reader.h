// DXF reader: the 3-D faces of an ASCII DXF drawing.
//
// A DXF file is a sequence of line pairs: a group-code line (an integer) and a
// value line. Group code 0 starts a new entity and names it. Only two kinds of
// entity carry faces:
//   - `3DFACE`: corners from codes 10/20/30, 11/21/31, 12/22/32, 13/23/33;
//     three corners give a triangle, four a quad (a repeated fourth corner
//     still gives a quad, one of its triangles degenerate);
//   - polyface meshes: a `POLYLINE` followed by `VERTEX` entities. A vertex
//     whose flags (code 70) carry bit 64 is a mesh point; one without it is a
//     face record whose codes 71..74 list 1-based point numbers (a negative
//     number marks an invisible edge and counts by its magnitude);
//   - polygon meshes: a `POLYLINE` with flag 16 (code 70) and grid sizes M
//     and N (codes 71 and 72), followed by M x N `VERTEX` points row by row;
//     each cell of the grid gives a quad, and flags 1 and 32 close the grid
//     in M and N with the cells that join the last row or column to the
//     first. 2-D and 3-D polylines (no flag 16 or 64) give nothing.
// Everything else (lines, text, blocks, layers) is skipped. Faces are
// delivered without material through `AddTriangle` / `AddQuad`, and every
// `POLYLINE` closes the object collected so far with `EndObject("")`.
//
// Group codes are classified by their first digit, so 10..13 and 1xx set x,
// 20..23 and 2xx set y, and a code 3x appends the point (x, y, value).
#pragma once

#include "import/import_sink.h"

namespace qx {

// What one read delivered and what it had to leave out.
struct DxfReadReport {
  int faces = 0;          // triangles and quads handed to the sink
  int dropped_faces = 0;  // faces left out: a point number outside the mesh,
                          // a corner that is not a finite number, or a
                          // 3DFACE with other than 3 or 4 corners
  bool ended_early = false;  // a group-code line that is not a number stopped
                             // the read before the end of the file
};

// Reads the DXF file `file_name` and delivers its faces to `sink` in file
// order. Returns false only when the file cannot be opened; a malformed file
// delivers what was read up to the damage and returns true. `report`, when not
// null, receives the counts above.
//
// Safe on hostile input: lines of any length are read in bounded memory (the
// first 1023 characters of a line are used), numbers that overflow or are not
// finite drop the faces that use them, and a face record's point numbers are
// checked against the mesh before use. An entity still open at the end of the
// file (no closing code 0) is not delivered.
bool ReadDxf(const char* file_name, ImportSink& sink, DxfReadReport* report = nullptr);

}  // namespace qx
