// The peers the benchmarks compare against, all measured in the same run:
// meshoptimizer's simplifier (linked when its package is installed) and the
// Draco command-line encoder and decoder (run as child processes). Also the
// peak-memory probe, which runs a command under /usr/bin/time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bench/mesh_source.h"

namespace qx::bench {

// Whether the simplifier was found when the benchmarks were configured.
bool HaveMeshopt();

// Simplifies `mesh` towards `targetTriangles` triangles with no error bound
// (the same budget our builder gets) into `result`; returns the triangles
// reached. Returns 0 when the simplifier is not linked.
size_t MeshoptSimplify(const IndexedMesh& mesh, size_t targetTriangles, std::vector<uint32_t>& result);

// One run of a command-line tool: its wall time, and the time it reports
// for its own work ("(N ms to encode)") when it printed one, else negative.
struct ToolRun {
  bool ok = false;
  double wallSeconds = 0;
  double reportedSeconds = -1;
};

// Whether both Draco tools are on the PATH.
bool HaveDraco();
// draco_encoder at `quantisation` bits (default compression level).
ToolRun DracoEncode(const std::string& inputPly, const std::string& outputDrc, int quantisation);
ToolRun DracoDecode(const std::string& inputDrc, const std::string& outputPly);

// The largest resident set of `command` (run through /bin/sh, output
// discarded) in KiB, as /usr/bin/time reports it; none when /usr/bin/time
// fails, or the command fails and `mustSucceed` is set.
std::optional<int64_t> PeakResidentKiB(const std::string& command, bool mustSucceed = true);

// The size of a file in bytes; 0 when it cannot be read.
int64_t FileBytes(const std::string& path);

}  // namespace qx::bench
