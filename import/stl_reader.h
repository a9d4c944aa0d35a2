// Stereolithography (STL) files, binary and ASCII, delivered to an
// ImportSink as coloured triangles and quads in file order. Neither reader
// keeps state between calls or calls EndObject: everything ends up in one
// object.
//
// Binary layout (little-endian): an 80-byte header (ignored), a 32-bit signed
// facet count n, then n records of 50 bytes -- normal (3 floats, ignored),
// three vertices (9 floats), attribute word (2 bytes, ignored; it never
// selects a colour).
//
// ASCII layout: lines (a line longer than 1023 characters is taken in pieces
// of 1023), each recognised by its first word, case-insensitively:
//   solid / endsolid      ignored
//   facet normal ...      starts a facet:  facet normal nx ny nz
//                                            outer loop        (any line)
//                                              vertex x y z    (3 or 4 lines)
//                                            endloop           (first line without 3 numbers)
//                                          endfacet            (any line)
//   color x r g b a       replaces the current colour's components read
//   blank, or starting with # ! $   comment
// Any other first word prints the three-line "STLA_READ - Fatal error!"
// message on standard output and reading goes on.
#pragma once

#include <string>

#include "import/import_sink.h"

namespace qx {

// Binary reader. Refuses the file (false) when it cannot be opened or is not a
// regular file, or when its length is not 84 + 50 n within two bytes either
// way, n being the facet count at offset 80 (a header starting with "solid"
// does not matter). A count below 1 that passes this test is an empty model
// (true, nothing delivered). Otherwise every facet goes to AddTriangleColor
// with the colour (0, 0, 0, -1) -- no colour -- and true is returned. The file
// is read field by field; nothing is reserved for the facets, and the size
// test bounds n by the file's length. A value missing at the end of the file
// keeps the previous facet's (the short-read rule).
bool ReadStlBinary(const std::string& fileName, ImportSink& sink);

// ASCII reader. False only when the file cannot be opened or is not a regular
// file; any text (binary bytes, no final newline, CRLF) is read to the end.
// A facet with three vertices goes to AddTriangleColor, one with four to
// AddQuadColor, with the current colour (initially (0, 0, 0, -1)); any other
// vertex count is dropped silently. The facet normal is not used. Numbers are
// read like scanf's "%e" in the "C" locale (nan and inf included, too large
// values become +-inf). Memory use does not depend on the file.
bool ReadStlAscii(const std::string& fileName, ImportSink& sink);

// What the import front end does for an STL file: the binary reader, and when
// it refuses the file, the ASCII reader with the same name and sink. Returns
// the result of the reader that ran last.
bool ReadStl(const std::string& fileName, ImportSink& sink);

}  // namespace qx
