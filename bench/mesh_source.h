// Meshes the benchmarks run on: a generated noisy torus of any size, and
// model files read back into a plain indexed mesh (the form the peer
// libraries take), plus writers for the binary files the readers are timed on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qx::bench {

// Positions as x, y, z floats; three indices per triangle, counter-clockwise.
struct IndexedMesh {
  std::vector<float> positions;
  std::vector<uint32_t> indices;

  size_t VertexCount() const { return positions.size() / 3; }
  size_t TriangleCount() const { return indices.size() / 3; }
};

// A closed torus (major radius 1, minor radius 0.35) of about
// `targetTriangles` triangles, each vertex pushed along its normal by a
// pseudo-random amount of up to 1 % of the minor radius, so that no two
// vertices share a curvature and the simplifier cannot take shortcuts.
// The same `seed` gives the same mesh on every machine.
IndexedMesh MakeNoisyTorus(int64_t targetTriangles, uint32_t seed = 1);

// Binary little-endian PLY with a float vertex element and a uchar/int face
// list. False when the file cannot be written.
bool WriteBinaryPly(const IndexedMesh& mesh, const std::string& path);

// Binary STL (80-byte header, zero normals). False when the file cannot be
// written.
bool WriteBinaryStl(const IndexedMesh& mesh, const std::string& path);

// Reads a PLY or STL file with our own readers and welds corners whose
// positions are bit-for-bit equal. None when the reader fails or delivers no
// triangle.
std::optional<IndexedMesh> ReadIndexedMesh(const std::string& path);

}  // namespace qx::bench
