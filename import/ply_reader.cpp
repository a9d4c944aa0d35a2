#include "import/ply_reader.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/diagnostics.h"
#include "common/text.h"
#include "import/ply/ply_parser.h"

namespace qx {
namespace {

// The record the vertex element is read into: x, y, z at offsets 0, 4, 8.
struct PlyPointRecord {
  float x = 0, y = 0, z = 0;
};
// The face record: the index count as an unsigned byte at offset 0; the
// indices themselves arrive as 32-bit signed integers in list slot 0.
struct PlyFaceRecord {
  std::uint8_t count = 0;
};

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

bool IsVertexOrFace(const PlyElement& element) {
  return EqualsIgnoreCase(element.name, "vertex") || EqualsIgnoreCase(element.name, "face") ||
         EqualsIgnoreCase(element.name, "tristrips");
}

// Whether a vertex or face element follows element `index`; only then must the
// data of an unused element be read past.
bool GeometryFollows(const PlyFile& file, std::size_t index) {
  return std::any_of(file.elements.begin() + static_cast<std::ptrdiff_t>(index) + 1, file.elements.end(),
                     IsVertexOrFace);
}

void SelectPointProperties(PlyFile& file) {
  const char* names[] = {"x", "y", "z"};
  for (int axis = 0; axis < 3; ++axis) {
    PlyProperty request;
    request.name = names[axis];
    request.internalType = kPlyFloat32;
    request.offset = sizeof(float) * static_cast<std::size_t>(axis);
    SelectPlyProperty(file, request);
  }
}

// Asks for the element's list of vertex indices `name` as 32-bit integers in
// list slot 0, its count read as `countType`.
void SelectIndexList(PlyFile& file, const std::string& name, int countType) {
  PlyProperty request;
  request.name = name;
  request.isList = true;
  request.internalType = kPlyInt32;
  request.offset = 0;
  request.countInternalType = countType;
  request.countOffset = 0;
  SelectPlyProperty(file, request);
}

bool ReadPoints(PlyFile& file, int index, std::vector<Vector>& points) {
  const PlyElement& element = *DescribePlyElement(file, index);
  SelectPointProperties(file);
  points.clear();
  points.reserve(static_cast<std::size_t>(std::min(element.count, PlyMaxInstancesLeft(file, index))));
  for (std::uint64_t i = 0; i < element.count; ++i) {
    PlyPointRecord point;  // a property the file lacks stays 0
    if (!GetPlyElement(file, std::as_writable_bytes(std::span(&point, 1)), {})) return false;
    points.push_back({point.x, point.y, point.z});
  }
  PrintMessage("\n]}");
  return true;
}

// The face's first three indices when it has at least three and all of them
// name points of the list.
std::optional<std::array<std::int32_t, 3>> FirstTriangle(const PlyFaceRecord& face, const PlyListItems& items,
                                                         std::size_t pointCount) {
  if (face.count < 3 || items.size() < 3 * sizeof(std::int32_t)) return std::nullopt;
  std::array<std::int32_t, 3> corners;
  std::memcpy(corners.data(), items.data(), sizeof corners);
  for (std::int32_t corner : corners) {
    if (corner < 0 || static_cast<std::size_t>(corner) >= pointCount) return std::nullopt;
  }
  return corners;
}

// The face's index list: "vertex_indices", or "vertex_index" when the face
// has no property of the first name (several exporters write the singular).
const char* IndexListName(const PlyElement& face) {
  const auto has = [&face](std::string_view name) {
    return std::any_of(face.properties.begin(), face.properties.end(),
                       [name](const PlyProperty& property) { return property.name == name; });
  };
  return !has("vertex_indices") && has("vertex_index") ? "vertex_index" : "vertex_indices";
}

// How far a face element was read: instances read whole, instances the header
// declares, and triangles handed on.
struct FaceProgress {
  std::uint64_t read = 0;
  std::uint64_t declared = 0;
  std::size_t delivered = 0;
};

bool ReadFaces(PlyFile& file, int index, const std::vector<Vector>& points, TriangleCollector& collector,
               bool flipFaces, FaceProgress& progress) {
  const PlyElement& element = *DescribePlyElement(file, index);
  SelectIndexList(file, IndexListName(element), kPlyUint8);
  progress = {0, element.count, 0};
  std::array<PlyListItems, 1> lists;
  for (; progress.read < element.count; ++progress.read) {
    PlyFaceRecord face;
    lists[0].clear();
    if (!GetPlyElement(file, std::as_writable_bytes(std::span(&face, 1)), lists)) return false;
    const auto corners = FirstTriangle(face, lists[0], points.size());
    if (!corners) continue;
    const Vector p0 = points[static_cast<std::size_t>((*corners)[0])];
    const Vector p1 = points[static_cast<std::size_t>((*corners)[1])];
    const Vector p2 = points[static_cast<std::size_t>((*corners)[2])];
    if (flipFaces) {
      collector.AddTriangle(p0, p2, p1, nullptr);
    } else {
      collector.AddTriangle(p0, p1, p2, nullptr);
    }
    ++progress.delivered;
  }
  return true;
}

// Triangle strips: each instance holds one index list in which -1 ends a strip
// and starts the next. Within a strip every index after the first two closes a
// triangle with the two before it; every second triangle is turned round so
// that all of them keep the strip's winding. Triangles with a repeated corner
// (the degenerates writers use to join strips) and those naming a point
// outside the list are dropped, but still count for the alternation.
class StripSplitter {
 public:
  StripSplitter(const std::vector<Vector>& points, TriangleCollector& collector, bool flipFaces)
      : points_(points), collector_(collector), flipFaces_(flipFaces) {}

  void Add(std::int32_t index) {
    if (index < 0) {
      length_ = 0;
      return;
    }
    older_ = newer_;
    newer_ = latest_;
    latest_ = index;
    if (++length_ >= 3) Deliver(length_ % 2 == 1 ? older_ : newer_, length_ % 2 == 1 ? newer_ : older_, latest_);
  }
  std::size_t Delivered() const { return delivered_; }

 private:
  void Deliver(std::int32_t i0, std::int32_t i1, std::int32_t i2) {
    if (i0 == i1 || i1 == i2 || i0 == i2) return;
    for (std::int32_t index : {i0, i1, i2}) {
      if (static_cast<std::size_t>(index) >= points_.size()) return;
    }
    const Vector& p0 = points_[static_cast<std::size_t>(i0)];
    const Vector& p1 = points_[static_cast<std::size_t>(i1)];
    const Vector& p2 = points_[static_cast<std::size_t>(i2)];
    if (flipFaces_) {
      collector_.AddTriangle(p0, p2, p1, nullptr);
    } else {
      collector_.AddTriangle(p0, p1, p2, nullptr);
    }
    ++delivered_;
  }

  const std::vector<Vector>& points_;
  TriangleCollector& collector_;
  bool flipFaces_;
  std::int32_t older_ = 0, newer_ = 0, latest_ = 0;
  std::size_t length_ = 0;
  std::size_t delivered_ = 0;
};

bool ReadStrips(PlyFile& file, int index, const std::vector<Vector>& points, TriangleCollector& collector,
                bool flipFaces, FaceProgress& progress) {
  const PlyElement& element = *DescribePlyElement(file, index);
  SelectIndexList(file, "vertex_indices", kPlyUint32);
  progress = {0, element.count, 0};
  std::array<PlyListItems, 1> lists;
  for (; progress.read < element.count; ++progress.read) {
    std::uint32_t count = 0;
    lists[0].clear();
    if (!GetPlyElement(file, std::as_writable_bytes(std::span(&count, 1)), lists)) return false;
    StripSplitter strips(points, collector, flipFaces);
    for (std::size_t at = 0; at + sizeof(std::int32_t) <= lists[0].size(); at += sizeof(std::int32_t)) {
      std::int32_t stripIndex = 0;
      std::memcpy(&stripIndex, lists[0].data() + at, sizeof stripIndex);
      strips.Add(stripIndex);
    }
    progress.delivered += strips.Delivered();
  }
  return true;
}

// Reads and drops every instance of element `index`.
bool SkipElement(PlyFile& file, int index) {
  const PlyElement& element = *DescribePlyElement(file, index);
  for (std::uint64_t i = 0; i < element.count; ++i) {
    if (!GetPlyElement(file, {}, {})) return false;
  }
  return true;
}

bool ReadElements(PlyFile& file, const char* fileName, TriangleCollector& collector, bool flipFaces) {
  std::vector<Vector> points;
  for (std::size_t i = 0; i < file.elements.size(); ++i) {
    const PlyElement& element = file.elements[i];
    const int index = static_cast<int>(i);
    // An element without properties holds no data at all in binary form;
    // looping over its count would read nothing, possibly billions of times.
    if (element.properties.empty()) continue;
    bool read = true;
    if (EqualsIgnoreCase(element.name, "vertex")) {
      read = ReadPoints(file, index, points);
    } else if (EqualsIgnoreCase(element.name, "face") || EqualsIgnoreCase(element.name, "tristrips")) {
      FaceProgress faces;
      read = EqualsIgnoreCase(element.name, "face") ? ReadFaces(file, index, points, collector, flipFaces, faces)
                                                    : ReadStrips(file, index, points, collector, flipFaces, faces);
      // A file cut off inside its faces still holds the faces before the cut.
      if (!read && faces.delivered > 0) {
        PrintMessage("\nWarning, %s is truncated: %llu of %llu faces read", fileName,
                     static_cast<unsigned long long>(faces.read), static_cast<unsigned long long>(faces.declared));
        return true;
      }
    } else if (GeometryFollows(file, i)) {
      read = SkipElement(file, index);
    }
    if (!read) return false;
  }
  return true;
}

}  // namespace

bool ReadPlyFile(const char* fileName, TriangleCollector& collector, const PlyReadOptions& options,
                 std::string* failure) {
  const auto fail = [failure](const char* why) {
    if (failure) *failure = why;
    return false;
  };
  std::unique_ptr<std::FILE, FileCloser> stream(std::fopen(fileName, "rb"));
  if (!stream) {
    ShowError("Error openning %s", fileName);
    return fail("the file cannot be opened");
  }
  std::unique_ptr<PlyFile> file = ReadPlyHeader(stream.get());
  stream.reset();
  if (!file) return fail("not a PLY file: its header is missing or malformed");
  if (!options.singleObj) collector.Clear();
  if (!ReadElements(*file, fileName, collector, options.flipFaces))
    return fail("its data breaks off or is malformed before the first face");
  return true;
}

}  // namespace qx
