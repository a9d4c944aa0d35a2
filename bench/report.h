// The one table a benchmark run ends with: times from the benchmark runs,
// sizes per geometry coder and precision beside Draco's, peak memory of the
// command-line tool, and each target with whether it holds.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/model_set.h"

namespace qx::bench {

// Shows the usual console lines and keeps, per benchmark name, the time of
// one iteration (wall and processor) and the counters.
class CollectingReporter final : public benchmark::ConsoleReporter {
 public:
  struct Result {
    double seconds = 0;     // wall (or manual) time of one iteration
    double cpuSeconds = 0;  // this process's processor time of one iteration
    std::map<std::string, double> counters;
  };
  void ReportRuns(const std::vector<Run>& runs) override;
  // None when the benchmark did not run (or failed).
  const Result* Find(const std::string& name) const;

 private:
  std::map<std::string, Result> results_;
};

// Measures the sizes and the peak memory, then prints the table to standard
// output and, when `tablePath` is not empty, to that file (false when that
// file cannot be written). A missed target is marked in the table.
bool PrintSummary(const std::vector<std::unique_ptr<BenchModel>>& models, const CollectingReporter& results,
                  const std::string& tablePath);

}  // namespace qx::bench
