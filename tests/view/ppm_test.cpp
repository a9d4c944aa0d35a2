// The PPM writer: exact header, unpadded rows, top row first, and the
// capture of a GL picture.
#include "view/ppm.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/gl_api.h"
#include "platform/osmesa_surface.h"
#include "tests/support/scratch_folder.h"

namespace qx {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class PpmTest : public testing::Test {
 protected:
  ScratchFolder scratch_;
  const fs::path dir_ = scratch_.Path();
};

TEST_F(PpmTest, HeaderIsExact) { EXPECT_EQ(PpmHeader(320, 200), "P6\n# Created by QXRep\n 320 200\n255\n"); }

TEST_F(PpmTest, OddWidthsWriteExactlyThreeBytesPerPixelTopRowFirst) {
  const int width = 101, height = 3;
  std::vector<uint8_t> rows(static_cast<size_t>(width * height) * 3);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) rows[static_cast<size_t>(y * width + x) * 3] = static_cast<uint8_t>(10 * y + 1);
  const fs::path path = dir_ / "odd.ppm";
  ASSERT_TRUE(WritePpm(path.string(), width, height, rows.data()));
  const std::string file = ReadAll(path);
  const std::string header = PpmHeader(width, height);
  ASSERT_EQ(file.size(), header.size() + static_cast<size_t>(width * height * 3));
  EXPECT_EQ(file.substr(0, header.size()), header);
  // The last row handed in (the top of a GL picture) comes first.
  EXPECT_EQ(static_cast<uint8_t>(file[header.size()]), 21);
  EXPECT_EQ(static_cast<uint8_t>(file[header.size() + width * 3]), 11);
  EXPECT_EQ(static_cast<uint8_t>(file[file.size() - 3]), 1);
}

TEST_F(PpmTest, UnwritablePathFails) {
  const uint8_t pixel[3] = {1, 2, 3};
  EXPECT_FALSE(WritePpm((dir_ / "missing" / "x.ppm").string(), 1, 1, pixel));
}

TEST_F(PpmTest, CapturesTheViewportWithTheTopOfThePictureFirst) {
  const int width = 101, height = 40;
  OsMesaSurface surface(width, height);
  ASSERT_TRUE(surface.CreateContext());
  glViewport(0, 0, width, height);
  glClearColor(0, 0, 1, 0);
  glClear(GL_COLOR_BUFFER_BIT);
  // Red over the top half of the picture.
  glEnable(GL_SCISSOR_TEST);
  glScissor(0, height / 2, width, height - height / 2);
  glClearColor(1, 0, 0, 0);
  glClear(GL_COLOR_BUFFER_BIT);
  glDisable(GL_SCISSOR_TEST);
  glFinish();
  const fs::path path = dir_ / "capture.ppm";
  ASSERT_TRUE(SavePPM(path.string()));
  const std::string file = ReadAll(path);
  const size_t start = PpmHeader(width, height).size();
  ASSERT_EQ(file.size(), start + static_cast<size_t>(width * height * 3));
  EXPECT_EQ(file.substr(0, start), PpmHeader(width, height));
  EXPECT_EQ(static_cast<uint8_t>(file[start]), 255);  // first pixel: red
  EXPECT_EQ(static_cast<uint8_t>(file[start + 2]), 0);
  EXPECT_EQ(static_cast<uint8_t>(file[file.size() - 1]), 255);  // last pixel: blue
  EXPECT_EQ(static_cast<uint8_t>(file[file.size() - 3]), 0);
  EXPECT_FALSE(SavePPM((dir_ / "missing" / "x.ppm").string()));
}

}  // namespace
}  // namespace qx
