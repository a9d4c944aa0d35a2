#include "fan/fan_walk.h"

#include <algorithm>
#include <cassert>

#include "common/diagnostics.h"

namespace qx {

int CollectTriangles(const QXPck& mesh, Level level, VertexIndex& resume, std::span<uint16_t> indices) {
  assert(mesh.vertexCount <= 65536);
  const Level effective = mesh.EffectiveLevel(level);
  const size_t capacity = indices.size();
  size_t written = 0;
  VertexIndex v = static_cast<VertexIndex>(
      std::min<int64_t>(std::max<int64_t>(resume, int64_t{effective} + 1), mesh.vertexCount));
  for (; v < mesh.vertexCount; ++v) {
    const RecordView record = mesh.Record(v);
    const size_t needed = 3 * static_cast<size_t>(record.RingSize());
    if (written + needed >= capacity) {
      assert(written > 0 && "index capacity too small for one ring");
      break;
    }
    ForEachFanOfRecord(
        record, v, [effective](VertexIndex dependency) { return dependency <= effective; },
        [&](const Fan& fan) {
          for (int i = fan.start + 1; i <= fan.end; ++i) {
            indices[written++] = static_cast<uint16_t>(fan.centre);
            indices[written++] = static_cast<uint16_t>(fan.Corner1(i));
            indices[written++] = static_cast<uint16_t>(fan.Corner2(i));
          }
        });
  }
  resume = v;
  return static_cast<int>(written / 3);
}

void DumpText(const QXPck& mesh, std::FILE* file, VertexIndex first, VertexIndex last) {
  const VertexIndex top = mesh.vertexCount - 1;
  if (first < 0) first = 0;
  if (last < 0 || last > top) last = top;
  for (VertexIndex v = last; v > first; --v) {
    std::fprintf(file, "\n[%d] ", v);
    const RecordView record = mesh.Record(v);
    for (int g = 0; g < record.GroupCount(); ++g) {
      if (g > 0) std::fputc(',', file);
      const DependencyGroup group = record.Group(g);
      ForEachRun(group, [&](int start, int end) {
        std::fprintf(file, "(%d,{", group.dependency);
        for (int i = start; i < end; ++i) std::fprintf(file, "%d,", record.Neighbour(i));
        std::fprintf(file, "%d})", record.Neighbour(end));
      });
    }
    const Vector p = static_cast<size_t>(v) < mesh.vertices.size() ? mesh.vertices[v].position : Vector{};
    const RecordMetrics& metrics = record.Metrics();
    std::fprintf(file, "\t{%f,%f,%f}[%f,%f,%f,%f]", p.x, p.y, p.z, metrics.radius, metrics.crease,
                 metrics.error, metrics.ownError);
  }
}

FaceList RecordLinks(const RecordView& record, bool reversed) {
  FaceList links;
  for (int g = 0; g < record.GroupCount(); ++g) {
    const DependencyGroup group = record.Group(g);
    for (int j = 0; j < record.RingSize(); ++j) {
      if (!group.Has(j)) continue;
      VertexIndex a = record.Neighbour(j);
      VertexIndex b = record.Neighbour(j + 1);
      if (a == b) FatalError("\nError en compress: %d", group.dependency);
      if (reversed) std::swap(a, b);
      links.PushFront(a, b, 0, group.dependency);
    }
  }
  return links;
}

void InvertFaces(QXPck& mesh) {
  for (VertexIndex v = 0; v < static_cast<VertexIndex>(mesh.records.size()); ++v) {
    FaceList links = RecordLinks(mesh.Record(v), /*reversed=*/true);
    CloseRing(v, links);
    FanRecord& record = mesh.records[static_cast<size_t>(v)];
    record.Reset();
    record = BuildRecord(v, links);
  }
}

FaceList StoredRing(const RecordView& record, VertexIndex centre) {
  FaceList ring;
  // Built back to front, since links go in at the front.
  for (int j = record.RingSize() - 1; j >= 0; --j)
    ring.PushFront(record.Neighbour(j), record.Neighbour(j + 1), 0, TriangleDependency(record, centre, j));
  return ring;
}

}  // namespace qx
