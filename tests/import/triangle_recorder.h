// Test helpers for the polygon readers: a sink that records what a reader
// delivers, and scratch files in a fresh temporary folder.
#pragma once

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/scratch_folder.h"

#include "import/import_sink.h"
#include "scene/scene_model.h"

namespace qx::import_test {

using qx::ScratchFolder;

struct RecordedTriangle {
  QXMaterial* material = nullptr;
  std::array<Vector, 3> corners;
};

struct RecordedQuad {
  QXMaterial* material = nullptr;
  std::array<Vector, 4> corners;
};

// Records triangles, quads, materials and object ends. `events` keeps their
// order: 'T' triangle, 'Q' quad, 'M' material made, 'S' material set,
// 'E' object ended.
class TriangleRecorder : public ImportSink {
 public:
  bool AddTriangle(QXMaterial* material, Vector p0, Vector p1, Vector p2) override {
    triangles.push_back({material, {p0, p1, p2}});
    events += 'T';
    return true;
  }
  bool AddQuad(QXMaterial* material, Vector p0, Vector p1, Vector p2, Vector p3) override {
    quads.push_back({material, {p0, p1, p2, p3}});
    events += 'Q';
    return true;
  }
  QXMaterial* MakeMaterial(const Colour& ambient, const Colour& diffuse, const Colour& specular,
                           float shininess) override {
    madeDiffuse.push_back(diffuse);
    materials.push_back(std::make_unique<QXMaterial>());
    Fill(materials.back().get(), ambient, diffuse, specular, shininess);
    events += 'M';
    return materials.back().get();
  }
  bool SetMaterial(QXMaterial* material, const Colour& ambient, const Colour& diffuse, const Colour& specular,
                   float shininess) override {
    if (material == nullptr) return false;
    Fill(material, ambient, diffuse, specular, shininess);
    events += 'S';
    return true;
  }
  void EndObject(const char*) override { events += 'E'; }

  // Triangles plus two per quad: what the importer would build from.
  size_t FaceCount() const { return triangles.size() + 2 * quads.size(); }

  std::vector<RecordedTriangle> triangles;
  std::vector<RecordedQuad> quads;
  std::vector<std::unique_ptr<QXMaterial>> materials;
  std::vector<Colour> madeDiffuse;  // as each material was made
  std::string events;

 private:
  static void Fill(QXMaterial* m, const Colour& a, const Colour& d, const Colour& s, float shininess) {
    m->ambient = a;
    m->diffuse = d;
    m->specular = s;
    m->shininess = shininess;
  }
};

// Every regular file under the corpus folder `format` with one of the given
// extensions (compared without regard to case; an empty list takes all).
inline std::vector<std::filesystem::path> CorpusFiles(const std::string& format,
                                                      const std::vector<std::string>& extensions) {
  std::vector<std::filesystem::path> files;
  const std::filesystem::path root = std::filesystem::path(VERMELLE_CORPUS_DIR) / format;
  std::error_code error;
  if (!std::filesystem::is_directory(root, error)) return files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root, error)) {
    if (!entry.is_regular_file()) continue;
    std::string extension = entry.path().extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    bool wanted = extensions.empty();
    for (const std::string& e : extensions) wanted = wanted || extension == e;
    if (wanted) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace qx::import_test
