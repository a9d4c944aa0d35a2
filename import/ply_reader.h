// The PLY front: reads the `vertex` and `face` elements of a PLY file with the
// general parser (import/ply/ply_parser.h) and hands each face's first
// triangle straight to the triangle collector, in the file's vertex order.
// Our own addition to that: a `tristrips` element (one `vertex_indices` list
// per instance, -1 between strips, as scanned-model archives store meshes) is
// read as the triangles its strips hold, so such files do not import empty.
// It does not go through ImportSink and issues no EndObject: the importer
// builds what was collected at the end of the import.
#pragma once

#include <string>

#include "import/import_sink.h"

namespace qx {

struct PlyReadOptions {
  // Deliver (p0, p2, p1) instead of the file's (p0, p1, p2).
  bool flipFaces = false;
  // Keep what the collector already holds (all objects end in one build);
  // otherwise the collector is emptied before reading.
  bool singleObj = false;
};

// Reads `fileName` and feeds `collector`:
//  - empties the collector once before reading unless options.singleObj;
//  - for each element in header order: "vertex" (compared case-insensitively)
//    takes its "x", "y", "z" as the point list; "face" takes "vertex_indices"
//    (a list) and delivers (p[i0], p[i1], p[i2]) with no material for every
//    face whose first three indices lie inside the point list; faces with
//    fewer than three indices are dropped, further indices ignored;
//    "tristrips" takes "vertex_indices" and delivers each strip's triangles,
//    every second one turned round to keep the winding, -1 starting a new
//    strip, triangles with a repeated or out-of-range corner dropped; other
//    elements are read past when a vertex, face or strip element still follows;
//  - writes "\n]}" to standard output after the vertex element.
// A missing property leaves its value at 0 (with the parser's warning).
// Returns false when the file cannot be opened ("Error openning %s" in an
// error box), is not a PLY file, or its data is truncated or malformed (after
// the parser's message) before any triangle was delivered; triangles
// delivered before a failure stay in the collector. Face data that breaks off
// after some triangles were delivered keeps them: the read ends there with
// "\nWarning, %s is truncated: %llu of %llu faces read" (faces read whole,
// faces declared) on standard output and succeeds. On failure `failure`, when
// given, says why.
bool ReadPlyFile(const char* fileName, TriangleCollector& collector, const PlyReadOptions& options,
                 std::string* failure = nullptr);

}  // namespace qx
