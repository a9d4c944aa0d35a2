// The pieces of work the benchmarks time, each as one call, so that the
// registration code stays a list of names.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bench/model_set.h"
#include "fan/fan_builder.h"
#include "fan/pck.h"

namespace qx::bench {

// Clocks for paired timings: this thread's processor time and the wall
// clock, in seconds from an arbitrary start.
double ThreadCpuSeconds();
double WallSeconds();

// A builder set up as the import sets it up from the default options, with
// metric 1 (quadrics) or 0 (volume).
std::unique_ptr<FanBuilder> MakeDefaultBuilder(int metric);

// Reads a file with our PLY or STL reader into a default builder (welding
// included) and returns the builder's vertex count.
int64_t ImportPly(const std::string& path);
int64_t ImportStl(const std::string& path);

// Hands every triangle of `mesh` to `builder`, in file order.
void FeedBuilder(const IndexedMesh& mesh, FanBuilder& builder);

// Builds at the default level with the default strategy; returns the
// triangles the coarsest level of the result shows.
int64_t BuildDefault(FanBuilder& builder);

// The meshes of a scene, in list order.
std::vector<const QXPck*> MeshesOf(const QXScene& scene);

// The level `fraction` of the way from 0 to the coarsest level (S − 1).
int32_t LevelAt(const QXPck& mesh, double fraction);

// Walks every mesh at `fraction` (see LevelAt) with ForEachFan, summing
// corner indices so the walk cannot be optimised away; returns the triangles.
int64_t WalkFans(const std::vector<const QXPck*>& meshes, double fraction, uint64_t& checksum);

// The same with CollectTriangles into `buffer` (every mesh at most 65536
// vertices).
int64_t CollectAll(const std::vector<const QXPck*>& meshes, double fraction, std::vector<uint16_t>& buffer);

}  // namespace qx::bench
