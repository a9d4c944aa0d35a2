// Scenes and pictures for the view tests: small meshes built by the fan
// builder, an offscreen view on OSMesa, and the picture read back from it.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "fan/fan_walk.h"
#include "fan/quadric_builder.h"
#include "platform/gl_api.h"
#include "platform/osmesa_surface.h"
#include "scene/scene_model.h"
#include "view/scene_view.h"

namespace qx::view_test {

using Triangle = std::array<Vector, 3>;
using Rgb = std::array<uint8_t, 3>;

// One fan mesh of `triangles` (counter-clockwise seen from their front),
// with `simplify` of its triangles removed into refinement steps. The
// import path hands the builder its triangles reversed and the builder
// reverses them again, so they are fed here the other way round too.
inline std::unique_ptr<QXPck> BuildMesh(const std::vector<Triangle>& triangles, float simplify = 0) {
  QuadricOptions options;
  options.pairContraction = false;
  QuadricBuilder builder(options);
  for (const Triangle& t : triangles) builder.AddTriangle(t[0], t[2], t[1], 0);
  auto meshes = builder.Build(simplify, kStrategyStandard, nullptr);
  return meshes.empty() ? nullptr : std::move(meshes[0]);
}

// A unit icosahedron subdivided `levels` times, projected onto the sphere.
inline std::vector<Triangle> Sphere(int levels, Vector centre = {}, float radius = 1) {
  const float g = 1.618034f;
  std::vector<Vector> v = {{-1, g, 0},  {1, g, 0},  {-1, -g, 0}, {1, -g, 0}, {0, -1, g},  {0, 1, g},
                           {0, -1, -g}, {0, 1, -g}, {g, 0, -1},  {g, 0, 1},  {-g, 0, -1}, {-g, 0, 1}};
  std::vector<std::array<int, 3>> faces = {{0, 11, 5}, {0, 5, 1},  {0, 1, 7},   {0, 7, 10}, {0, 10, 11},
                                           {1, 5, 9},  {5, 11, 4}, {11, 10, 2}, {10, 7, 6}, {7, 1, 8},
                                           {3, 9, 4},  {3, 4, 2},  {3, 2, 6},   {3, 6, 8},  {3, 8, 9},
                                           {4, 9, 5},  {2, 4, 11}, {6, 2, 10},  {8, 6, 7},  {9, 8, 1}};
  for (Vector& p : v) p = Normalize(p);
  for (int level = 0; level < levels; ++level) {
    std::map<std::pair<int, int>, int> middles;
    const auto middle = [&](int a, int b) {
      const auto key = std::minmax(a, b);
      if (auto it = middles.find(key); it != middles.end()) return it->second;
      v.push_back(Normalize((v[a] + v[b]) * 0.5f));
      return middles[key] = static_cast<int>(v.size()) - 1;
    };
    std::vector<std::array<int, 3>> finer;
    for (const auto& f : faces) {
      const int ab = middle(f[0], f[1]), bc = middle(f[1], f[2]), ca = middle(f[2], f[0]);
      finer.insert(finer.end(), {{f[0], ab, ca}, {f[1], bc, ab}, {f[2], ca, bc}, {ab, bc, ca}});
    }
    faces = std::move(finer);
  }
  std::vector<Triangle> triangles;
  for (const auto& f : faces)
    triangles.push_back({centre + v[f[0]] * radius, centre + v[f[1]] * radius, centre + v[f[2]] * radius});
  return triangles;
}

// An axis-aligned cube, faces outward.
inline std::vector<Triangle> Cube(Vector centre, float half) {
  std::vector<Triangle> triangles;
  for (int axis = 0; axis < 3; ++axis)
    for (float side : {-1.0f, 1.0f}) {
      // Corners of the face in counter-clockwise order seen from outside.
      Vector n, u, w;
      n[axis] = side;
      u[(axis + 1) % 3] = 1;
      w[(axis + 2) % 3] = side;
      const Vector c = centre + n * half;
      const Vector p0 = c + (u * -1.0f + w * -1.0f) * half, p1 = c + (u - w) * half, p2 = c + (u + w) * half,
                   p3 = c + (w - u) * half;
      triangles.push_back({p0, p1, p2});
      triangles.push_back({p0, p2, p3});
    }
  return triangles;
}

// A square around `centre` in its plane z = centre.z, facing +z.
inline std::vector<Triangle> Square(Vector centre, float half) {
  const Vector a = centre + Vector{-half, -half, 0}, b = centre + Vector{half, -half, 0},
               c = centre + Vector{half, half, 0}, d = centre + Vector{-half, half, 0};
  return {{a, b, c}, {a, c, d}};
}

// A picture read back from the current GL context, rows bottom-up.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;

  // Pixel (x, y) with y counted from the top, as windows count rows.
  Rgb At(int x, int y) const {
    const size_t i = (static_cast<size_t>(height - 1 - y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3;
    return {rgb[i], rgb[i + 1], rgb[i + 2]};
  }
  int Count(const std::function<bool(Rgb)>& test) const {
    int count = 0;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) count += test(At(x, y));
    return count;
  }
  int CountNot(Rgb colour) const {
    return Count([&](Rgb p) { return p != colour; });
  }
};

inline Picture ReadPicture(int width, int height) {
  Picture picture{width, height, std::vector<uint8_t>(static_cast<size_t>(width * height) * 3)};
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, picture.rgb.data());
  return picture;
}

inline int ChannelDifference(Rgb a, Rgb b) {
  int most = 0;
  for (int i = 0; i < 3; ++i) most = std::max(most, std::abs(int(a[i]) - int(b[i])));
  return most;
}

inline constexpr Rgb kWhite{255, 255, 255};

// An offscreen scene view of kSize × kSize pixels on a white background.
class OffscreenView : public testing::Test {
 protected:
  static constexpr int kSize = 96;

  void SetUp() override {
    ASSERT_TRUE(view_.Attach(&surface_));
    view_.SetClearColour(1, 1, 1);
  }

  // Adds a root with the mesh; the scene owns both.
  QXHier* Add(std::unique_ptr<QXPck> mesh, QXMaterial* material = nullptr, QXMatrix* matrix = nullptr) {
    QXPck* raw = mesh.release();
    scene_.AddMesh(raw);
    return scene_.AddRoot(raw, material, matrix);
  }
  QXMaterial* Material(std::array<float, 4> diffuse) {
    return scene_.FindOrAddMaterial({0.2f, 0.2f, 0.2f, 1}, diffuse, {0, 0, 0, 1}, 0);
  }

  // Shows the scene, fits the camera and then, when given, puts the eye
  // at `eye` looking at the origin.
  void Show(std::optional<Vector> eye = std::nullopt) {
    view_.SetScene(&scene_);
    view_.FrameScene();
    if (eye) {
      Camera& camera = view_.GetCamera();
      camera.eye = *eye;
      camera.target = camera.goal = {0, 0, 0};
    }
  }

  Picture Render() {
    view_.MarkDirty();
    view_.Paint();
    return ReadPicture(kSize, kSize);
  }

  OsMesaSurface surface_{kSize, kSize};
  QXScene scene_;
  SceneView view_{true};
};

}  // namespace qx::view_test
