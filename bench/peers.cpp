#include "bench/peers.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#ifdef VERMELLE_HAVE_MESHOPT
#include <meshoptimizer.h>
#endif

namespace qx::bench {
namespace {

// Runs `command` through /bin/sh with its output captured; the exit status
// lands in `status`.
std::string CaptureOutput(const std::string& command, int& status) {
  std::string output;
  std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) {
    status = -1;
    return output;
  }
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
  status = pclose(pipe);
  return output;
}

// Draco's tools end their report with "(N ms to encode)" or "(N ms to decode)".
double ReportedSeconds(const std::string& output) {
  const size_t at = output.find(" ms to ");
  if (at == std::string::npos) return -1;
  size_t start = output.rfind('(', at);
  if (start == std::string::npos) return -1;
  return std::atof(output.c_str() + start + 1) / 1000.0;
}

ToolRun RunTool(const std::string& command) {
  const auto begin = std::chrono::steady_clock::now();
  int status = 0;
  const std::string output = CaptureOutput(command, status);
  ToolRun run;
  run.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  run.ok = status == 0;
  run.reportedSeconds = ReportedSeconds(output);
  return run;
}

bool OnPath(const char* tool) {
  int status = 0;
  CaptureOutput(std::string("command -v ") + tool + " >/dev/null", status);
  return status == 0;
}

}  // namespace

#ifdef VERMELLE_HAVE_MESHOPT
bool HaveMeshopt() { return true; }

size_t MeshoptSimplify(const IndexedMesh& mesh, size_t targetTriangles, std::vector<uint32_t>& result) {
  result.resize(mesh.indices.size());
  const size_t indices =
      meshopt_simplify(result.data(), mesh.indices.data(), mesh.indices.size(), mesh.positions.data(),
                       mesh.VertexCount(), 3 * sizeof(float), 3 * targetTriangles, 1.0f, 0, nullptr);
  result.resize(indices);
  return indices / 3;
}
#else
bool HaveMeshopt() { return false; }
size_t MeshoptSimplify(const IndexedMesh&, size_t, std::vector<uint32_t>&) { return 0; }
#endif

bool HaveDraco() {
  static const bool found = OnPath("draco_encoder") && OnPath("draco_decoder");
  return found;
}

ToolRun DracoEncode(const std::string& inputPly, const std::string& outputDrc, int quantisation) {
  return RunTool("draco_encoder -i '" + inputPly + "' -o '" + outputDrc + "' -qp " + std::to_string(quantisation));
}

ToolRun DracoDecode(const std::string& inputDrc, const std::string& outputPly) {
  return RunTool("draco_decoder -i '" + inputDrc + "' -o '" + outputPly + "'");
}

std::optional<int64_t> PeakResidentKiB(const std::string& command, bool mustSucceed) {
  // One report file per benchmark process: two runs side by side must not
  // read each other's figures.
  const std::string report =
      std::filesystem::temp_directory_path() / ("vermelle_bench_time_" + std::to_string(getpid()) + ".txt");
  int status = 0;
  CaptureOutput("/usr/bin/time -f %M -o '" + report + "' " + command + " >/dev/null 2>&1", status);
  if (status != 0 && mustSucceed) return std::nullopt;
  // A failed command's report starts with a line of its own; the figure is
  // the last line.
  std::ifstream in(report);
  std::string line, last;
  while (std::getline(in, line))
    if (!line.empty()) last = line;
  char* end = nullptr;
  const long long kib = std::strtoll(last.c_str(), &end, 10);
  if (last.empty() || *end != '\0' || kib < 0) return std::nullopt;
  return kib;
}

int64_t FileBytes(const std::string& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  return error ? 0 : static_cast<int64_t>(size);
}

}  // namespace qx::bench
