// qxtool render end to end: a saved scene file drawn offscreen into a PPM.
#include "cli/render_command.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "scene/scene_file.h"
#include "stream/registry.h"
#include "view/ppm.h"
#include "view_test_support.h"
#include "tests/support/scratch_folder.h"

namespace qx {
namespace {

namespace fs = std::filesystem;
using namespace view_test;

struct PpmImage {
  int width = 0, height = 0;
  std::string pixels;
  Rgb At(int x, int y) const {
    const size_t i = (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3;
    return {static_cast<uint8_t>(pixels[i]), static_cast<uint8_t>(pixels[i + 1]), static_cast<uint8_t>(pixels[i + 2])};
  }
};

class RenderCommandTest : public testing::Test {
 protected:
  void SetUp() override {
    RegisterStandardClasses();
    QXScene scene;
    QXPck* mesh = BuildMesh(Sphere(2), 0.5f).release();
    scene.AddMesh(mesh);
    scene.AddRoot(mesh, scene.FindOrAddMaterial({0.5f, 0, 0, 1}, {1, 0, 0, 1}, {0, 0, 0, 1}, 0.2f));
    ASSERT_TRUE(SaveScene(scene, Path("sphere.qxz"), true));
  }
  void TearDown() override { ClearClassRegistry(); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  int Run(std::vector<std::string> words) {
    words.insert(words.begin(), "render");
    std::vector<const char*> argv;
    for (const std::string& word : words) argv.push_back(word.c_str());
    return RunRenderCommand(static_cast<int>(argv.size()), argv.data());
  }
  // The picture when the file is a PPM of that size; empty otherwise.
  static PpmImage Read(const std::string& path, int width, int height) {
    std::ifstream in(path, std::ios::binary);
    const std::string file{std::istreambuf_iterator<char>(in), {}};
    const std::string header = PpmHeader(width, height);
    if (file.size() != header.size() + static_cast<size_t>(width * height * 3) || file.rfind(header, 0) != 0) return {};
    return {width, height, file.substr(header.size())};
  }
  int CountNot(const PpmImage& image, Rgb background) {
    int count = 0;
    for (int y = 0; y < image.height; ++y)
      for (int x = 0; x < image.width; ++x) count += image.At(x, y) != background;
    return count;
  }

  ScratchFolder scratch_;
  const fs::path dir_ = scratch_.Path();
};

TEST_F(RenderCommandTest, DrawsTheFittedSceneOnTheBackground) {
  ASSERT_EQ(Run({Path("sphere.qxz"), "-o", Path("a.ppm"), "--width", "81", "--height", "60", "--back", "00FF00"}), 0);
  const PpmImage image = Read(Path("a.ppm"), 81, 60);
  ASSERT_EQ(image.width, 81);
  EXPECT_EQ(image.At(0, 0), (Rgb{0, 255, 0}));
  EXPECT_EQ(image.At(80, 59), (Rgb{0, 255, 0}));
  const Rgb centre = image.At(40, 30);
  EXPECT_GT(centre[0], centre[1]);  // the red sphere fills the middle
}

TEST_F(RenderCommandTest, ModesTolerancePrefixesAndAntialiasingChangeThePicture) {
  const auto ink = [&](std::vector<std::string> options) {
    std::vector<std::string> words = {Path("sphere.qxz"), "-o", Path("b.ppm"), "--width", "64", "--height", "64"};
    words.insert(words.end(), options.begin(), options.end());
    EXPECT_EQ(Run(words), 0);
    return CountNot(Read(Path("b.ppm"), 64, 64), kWhite);
  };
  const int solid = ink({});
  EXPECT_GT(solid, 0);
  EXPECT_LT(ink({"--mode", "hidden-lines"}), solid);
  EXPECT_EQ(ink({"--tolerance", "1"}), 0);
  EXPECT_GT(ink({"--antialias", "--smooth", "1"}), 0);
  EXPECT_GT(ink({"--selective", "--tolerance", "0.3"}), 0);
}

TEST_F(RenderCommandTest, APrefixOfTheStreamDrawsACoarserMesh) {
  const std::optional<std::vector<uint8_t>> stream = ReadSceneStream(Path("sphere.qxz"));
  ASSERT_TRUE(stream);
  const auto render = [&](std::vector<std::string> options) {
    std::vector<std::string> words = {Path("sphere.qxz"), "-o", Path("d.ppm"), "--width", "64", "--height", "64"};
    words.insert(words.end(), options.begin(), options.end());
    EXPECT_EQ(Run(words), 0);
    return Read(Path("d.ppm"), 64, 64);
  };
  const PpmImage full = render({});
  const PpmImage whole = render({"--bytes", std::to_string(stream->size())});
  const PpmImage part = render({"--bytes", std::to_string(stream->size() * 3 / 4)});
  EXPECT_EQ(whole.pixels, full.pixels);
  ASSERT_EQ(part.pixels.size(), full.pixels.size());
  EXPECT_NE(part.pixels, full.pixels);
  EXPECT_GT(CountNot(part, kWhite), CountNot(full, kWhite) / 2);
}

// Bad command lines exit with 2, files that cannot be read or written with 1.
TEST_F(RenderCommandTest, BadRequestsFail) {
  EXPECT_EQ(Run({Path("sphere.qxz")}), 2);                     // no output
  EXPECT_EQ(Run({Path("none.qxz"), "-o", Path("c.ppm")}), 1);  // no file
  EXPECT_EQ(Run({Path("sphere.qxz"), "-o", Path("c.ppm"), "--mode", "wire"}), 2);
  EXPECT_EQ(Run({Path("sphere.qxz"), "-o", Path("c.ppm"), "--back", "red"}), 2);
  EXPECT_EQ(Run({Path("sphere.qxz"), "-o", Path("c.ppm"), "--tolerance", "2"}), 2);
  EXPECT_EQ(Run({Path("sphere.qxz"), "-o", Path("c.ppm"), "--width", "0"}), 2);
  EXPECT_EQ(Run({Path("sphere.qxz"), "-o", Path("c.ppm"), "--bytes", "0"}), 1);  // no scene in 0 bytes
  EXPECT_FALSE(fs::exists(Path("c.ppm")));
  EXPECT_EQ(Run({Path("sphere.qxz"), "-o", Path("missing/c.ppm")}), 1);
}

}  // namespace
}  // namespace qx
