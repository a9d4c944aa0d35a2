#include "fuzz/fuzz_support.h"

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <utility>

#include "fan/dense_geometry.h"
#include "fan/face_link.h"
#include "fan/fan_walk.h"
#include "stream/object_reader.h"
#include "stream/object_writer.h"
#include "tests/fan/progressive_grid.h"

namespace qx::fuzzing {

const std::string& ScratchFolder() {
  static const std::string folder = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::filesystem::path path = tmp && *tmp ? tmp : "/tmp";
    path /= "vermelle-fuzz-" + std::to_string(getpid());
    std::filesystem::create_directories(path);
    return path.string();
  }();
  return folder;
}

std::string WriteScratchFile(const std::string& name, std::span<const uint8_t> bytes) {
  const std::string path = ScratchFolder() + "/" + name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return out ? path : std::string();
}

std::unique_ptr<QXPck> MakeReferenceMesh() { return testing_coders::MakeProgressiveGrid(6, 6, 20); }

const QXPck& ReferenceMesh() {
  static const std::unique_ptr<QXPck> mesh = MakeReferenceMesh();
  return *mesh;
}

FaceList ClosedRing(const QXPck& mesh, VertexIndex v) {
  FaceList ring = RecordLinks(mesh.Record(v), false);
  CloseRing(v, ring);
  return ring;
}

FanRecord ReferenceRecord(VertexIndex v) { return BuildRecord(v, ClosedRing(ReferenceMesh(), v)); }

std::unique_ptr<QXPck> EmptyLikeReference() {
  const QXPck& like = ReferenceMesh();
  auto mesh = std::make_unique<QXPck>();
  mesh->Create(like.vertexCount);
  mesh->splitIndex = like.splitIndex;
  mesh->baseCount = like.baseCount;
  mesh->pendingCount = like.vertexCount;
  mesh->box = like.box;
  mesh->weight = like.weight;
  return mesh;
}

CoderChoice GeometryChoice(uint8_t selector) {
  // Four geometry coders, two predictors, a coarse and an exact error bound.
  const int choice = selector % kGeometryChoiceCount;
  CoderChoice coders;
  coders.geoMode = choice % 4;
  coders.predMode = (choice / 4) % 2;
  coders.bitsError = choice / 8 == 0 ? 0.01f : 0.0f;
  return coders;
}

namespace {

// The coder stored in `record`, which is first written from the coder
// makeWriter makes for the reference mesh when it is still empty.
template <class MakeWriter>
std::unique_ptr<GeometryCoder> ReadStoredCoder(std::vector<uint8_t>& record, MakeWriter&& makeWriter) {
  if (record.empty()) {
    std::unique_ptr<QXPck> mesh = MakeReferenceMesh();
    std::unique_ptr<GeometryCoder> coder = makeWriter(*mesh);
    MemoryObjectWriter out;
    out.WriteObject(coder.get());
    record = out.Bytes();
  }
  MemoryObjectReader in(record);
  std::unique_ptr<GeometryCoder> coder(in.ReadNewObjectAs<GeometryCoder>());
  if (!coder) __builtin_trap();
  return coder;
}

}  // namespace

std::unique_ptr<GeometryCoder> StoredGeometryCoder(uint8_t selector, int count, CoderChoice (*choose)(uint8_t)) {
  static std::map<std::pair<CoderChoice (*)(uint8_t), int>, std::vector<uint8_t>> records;
  const int choice = selector % count;
  return ReadStoredCoder(records[{choose, choice}], [&](QXPck& mesh) {
    return MakeGeometryCoder(choose(static_cast<uint8_t>(choice)), mesh);
  });
}

CoderChoice DenseChoice(uint8_t selector) {
  // Two predictors, a coarse, a usual and a fine error bound.
  const int choice = selector % kDenseChoiceCount;
  CoderChoice coders;
  coders.geoMode = kGeoModeDense;
  coders.connectMode = kConnectModeDense;
  coders.predMode = choice % 2;
  coders.bitsError = std::ldexp(1.0f, -(choice / 2 == 0 ? 2 : choice / 2 == 1 ? 12 : 24));
  return coders;
}

std::unique_ptr<GeometryCoder> DenseGeometryWriter(uint8_t selector, QXPck& mesh) {
  const CoderChoice choice = DenseChoice(selector);
  if (!(selector & kFirstGeometryVersion)) return MakeGeometryCoder(choice, mesh);
  return std::make_unique<GeoDense>(mesh, MakePredictor(choice.predMode), choice.bitsError, true);
}

std::unique_ptr<GeometryCoder> StoredDenseGeometryCoder(uint8_t selector) {
  static std::map<std::pair<bool, int>, std::vector<uint8_t>> records;
  return ReadStoredCoder(records[{(selector & kFirstGeometryVersion) != 0, selector % kDenseChoiceCount}],
                         [&](QXPck& mesh) { return DenseGeometryWriter(selector, mesh); });
}

}  // namespace qx::fuzzing
