// qxtool stream: a scene file loaded through the progressive loader reports
// its refinement line by line and ends complete; files that hold no scene
// and bad options fail with one line on standard error.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/stream_command.h"
#include "fan/quadric_builder.h"
#include "scene/scene_file.h"
#include "scene/scene_model.h"
#include "stream/registry.h"
#include "tests/support/scratch_folder.h"

namespace qx {
namespace {

namespace fs = std::filesystem;

class StreamCommand : public testing::Test {
 protected:
  void SetUp() override { RegisterStandardClasses(); }
  void TearDown() override { ClearClassRegistry(); }

  // A simplified sphere saved packed; returns its path.
  std::string SaveSphere() {
    constexpr int kRings = 16, kSegments = 24;
    auto point = [](int r, int s) -> Vector {
      if (r == 0) return {0, 0, 1};
      if (r == kRings) return {0, 0, -1};
      const double theta = std::numbers::pi * r / kRings, phi = 2 * std::numbers::pi * (s % kSegments) / kSegments;
      return {static_cast<float>(std::sin(theta) * std::cos(phi)),
              static_cast<float>(std::sin(theta) * std::sin(phi)), static_cast<float>(std::cos(theta))};
    };
    QuadricBuilder builder;
    builder.Reset();
    for (int r = 0; r < kRings; ++r)
      for (int s = 0; s < kSegments; ++s) {
        builder.AddTriangle(point(r, s), point(r + 1, s), point(r + 1, s + 1), 0);
        builder.AddTriangle(point(r, s), point(r + 1, s + 1), point(r, s + 1), 0);
      }
    QXScene scene;
    for (auto& mesh : builder.Build(0.5f, kStrategyStandard, nullptr)) {
      scene.AddMesh(mesh.get());
      scene.AddRoot(mesh.release(), nullptr);
    }
    const std::string path = (dir_ / "sphere.qxz").string();
    EXPECT_TRUE(SaveScene(scene, path, true));
    return path;
  }

  int Run(std::vector<std::string> words) {
    std::vector<const char*> argv{"stream"};
    for (const std::string& word : words) argv.push_back(word.c_str());
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int status = RunStreamCommand(static_cast<int>(argv.size()), argv.data());
    out_ = testing::internal::GetCapturedStdout();
    err_ = testing::internal::GetCapturedStderr();
    return status;
  }

  ScratchFolder scratch_;
  const fs::path dir_ = scratch_.Path();
  std::string out_, err_;
};

TEST_F(StreamCommand, ReportsTheRefinementAndEndsWithTheCompleteMesh) {
  const std::string path = SaveSphere();
  const auto fileBytes = fs::file_size(path);
  // About ten report lines: the file takes fileBytes / 8192 seconds at the
  // "RDSI (64K bps)" entry.
  const long long every = static_cast<long long>(fileBytes) * 1000 / 8192 / 10 + 1;
  ASSERT_EQ(Run({path, "--entry", "11", "--every", std::to_string(every)}), 0) << err_;
  EXPECT_TRUE(err_.empty()) << err_;

  std::vector<std::string> reports;
  std::istringstream lines(out_);
  for (std::string line; std::getline(lines, line);)
    if (line.find(" bytes ") != std::string::npos) reports.push_back(line);
  ASSERT_GE(reports.size(), 3u) << out_;
  const std::string& last = reports.back();
  const std::string fedAll = std::to_string(fileBytes) + " bytes";
  EXPECT_NE(last.find(fedAll), std::string::npos) << last;
  EXPECT_NE(last.find("100.0%"), std::string::npos) << last;
  // The last line shows every vertex decoded: "k/k vertices".
  const size_t slash = last.find('/', last.find("mesh 0: "));
  ASSERT_NE(slash, std::string::npos) << last;
  const size_t decodedStart = last.rfind(' ', slash) + 1;
  EXPECT_EQ(last.substr(decodedStart, slash - decodedStart),
            last.substr(slash + 1, last.find(' ', slash) - slash - 1))
      << last;
  EXPECT_NE(out_.find("first triangle: "), std::string::npos);
  EXPECT_EQ(out_.find("first triangle: none"), std::string::npos);
  EXPECT_NE(out_.find("\ntotal: "), std::string::npos);
}

TEST_F(StreamCommand, FailsWithOneLineForMissingFilesNonScenesAndBadOptions) {
  const std::string junk = (dir_ / "junk.qxz").string();
  std::ofstream(junk) << "no scene in here";
  const std::string missing = (dir_ / "missing.qxz").string();
  for (const std::vector<std::string>& words : {std::vector<std::string>{missing}, {junk, "--rate", "100000"}}) {
    EXPECT_EQ(Run(words), 1) << words[0];
    EXPECT_EQ(std::count(err_.begin(), err_.end(), '\n'), 1) << err_;
  }
  // Bad command lines: the message and where to find the usage text.
  const std::vector<std::vector<std::string>> usageErrors = {
      {},
      {junk, "--rate", "0"},
      {junk, "--entry", "13"},
      {junk, "--rate", "100", "--entry", "2"},
      {junk, "--every", "0"},
  };
  for (const auto& words : usageErrors) {
    EXPECT_EQ(Run(words), 2) << (words.empty() ? "" : words[0]);
    EXPECT_EQ(std::count(err_.begin(), err_.end(), '\n'), 2) << err_;
  }
  Run({missing});
  EXPECT_NE(err_.find(missing), std::string::npos) << err_;
}

}  // namespace
}  // namespace qx
