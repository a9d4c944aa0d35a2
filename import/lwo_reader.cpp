#include "import/lwo_reader.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "import/ear_clipping.h"

namespace qx {
namespace {

constexpr std::uint32_t FourCC(const char (&id)[5]) {
  return std::uint32_t(std::uint8_t(id[0])) << 24 | std::uint32_t(std::uint8_t(id[1])) << 16 |
         std::uint32_t(std::uint8_t(id[2])) << 8 | std::uint32_t(std::uint8_t(id[3]));
}

// Longest surface name kept; longer names are cut (and still skipped whole).
constexpr size_t kMaxNameLength = 499;

std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& name) {
  const std::unique_ptr<std::FILE, decltype(&std::fclose)> file(std::fopen(name.c_str(), "rb"), &std::fclose);
  if (!file) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  std::uint8_t buffer[1 << 14];
  for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0;)
    bytes.insert(bytes.end(), buffer, buffer + got);
  return bytes;
}

// Big-endian reads from the file's bytes; bytes past the end read as 0.
class ByteReader {
 public:
  explicit ByteReader(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}

  std::uint64_t Position() const { return position_; }
  std::uint64_t Size() const { return bytes_.size(); }
  void Seek(std::uint64_t position) { position_ = position; }
  void Skip(std::uint64_t count) { position_ += count; }

  std::uint8_t Byte() {
    const std::uint8_t value = position_ < bytes_.size() ? bytes_[position_] : 0;
    ++position_;
    return value;
  }
  std::uint16_t U16() {
    const std::uint16_t high = Byte();
    return static_cast<std::uint16_t>(high << 8 | Byte());
  }
  std::uint32_t U32() {
    const std::uint32_t high = U16();
    return high << 16 | U16();
  }
  float F32() { return std::bit_cast<float>(U32()); }

  // A zero-terminated name ending no later than `limit`, followed by a pad
  // byte when the name and its terminator take an odd number of bytes.
  std::string Name(std::uint64_t limit) {
    std::string name;
    std::uint64_t length = 0;
    while (position_ < limit) {
      const std::uint8_t c = Byte();
      ++length;
      if (c == 0) break;
      if (name.size() < kMaxNameLength) name += static_cast<char>(c);
    }
    if (length % 2 == 1) Skip(1);
    return name;
  }

 private:
  const std::vector<std::uint8_t>& bytes_;
  std::uint64_t position_ = 0;
};

struct LwoSurface {
  std::string name;
  QXMaterial* material = nullptr;
};

// One read: the form's kind, the current object's points and the surfaces.
class LwoReader {
 public:
  LwoReader(ByteReader& in, bool isLwo2, ImportSink& sink) : in_(in), isLwo2_(isLwo2), sink_(sink) {}

  // Walks the chunks from the reader's position up to `formEnd`. A chunk's
  // data is taken to end at its declared size, cut to `formEnd`; the next
  // chunk starts after it and its pad byte (chunks are even-aligned).
  void ReadChunks(std::uint64_t formEnd) {
    while (in_.Position() + 8 <= formEnd) {
      const std::uint32_t id = in_.U32();
      const std::uint32_t size = in_.U32();
      const std::uint64_t dataStart = in_.Position();
      ReadChunk(id, dataStart, std::min<std::uint64_t>(dataStart + size, formEnd));
      in_.Seek(dataStart + size + (size & 1));
    }
  }

 private:
  void ReadChunk(std::uint32_t id, std::uint64_t start, std::uint64_t end) {
    if (id == FourCC("SRFS")) {
      ReadSurfaceNames(end);
    } else if (id == FourCC("SURF")) {
      ReadSurface(end);
    } else if (id == FourCC("PNTS")) {
      ReadPoints(end - start);
    } else if (id == FourCC("POLS")) {
      ReadPolygons(end);
    }
  }

  // Each name gets a provisional material whose colour bytes are the file
  // position after the name, so that no two surfaces share one before
  // their SURF chunks set them.
  void ReadSurfaceNames(std::uint64_t end) {
    while (in_.Position() < end) {
      LwoSurface surface{in_.Name(end), nullptr};
      const auto position = static_cast<std::uint32_t>(in_.Position());
      Colour colour;
      for (int k = 0; k < 4; ++k) colour[k] = static_cast<float>((position >> (8 * k)) & 0xFF) / 255.0f;
      surface.material = sink_.MakeMaterial(colour, colour, colour, 0);
      surfaceIndex_.emplace(surface.name, surfaces_.size());
      surfaces_.push_back(std::move(surface));
    }
  }

  // Sets a listed surface's material from its COLR sub-chunk (black
  // without one); sub-chunks have a 4-byte id and a 16-bit size.
  void ReadSurface(std::uint64_t end) {
    const auto found = surfaceIndex_.find(in_.Name(end));
    if (found == surfaceIndex_.end()) return;
    Colour colour{0, 0, 0, 1};
    while (in_.Position() + 6 <= end) {
      const std::uint32_t id = in_.U32();
      const std::uint16_t size = in_.U16();
      const std::uint64_t dataStart = in_.Position();
      if (id == FourCC("COLR") && size >= 3) {
        for (int k = 0; k < 3; ++k) colour[k] = in_.Byte() / 255.0f;
      }
      in_.Seek(dataStart + size + (size & 1));
    }
    sink_.SetMaterial(surfaces_[found->second].material, colour, colour, colour, 0);
  }

  // A point chunk starts a new object; a last partial point reads as far
  // as the file goes.
  void ReadPoints(std::uint64_t size) {
    sink_.EndObject("");
    points_.clear();
    const std::uint64_t count = (size + 11) / 12;
    points_.reserve(count);
    for (std::uint64_t k = 0; k < count; ++k) {
      Vector p;
      p.x = in_.F32();
      p.y = in_.F32();
      p.z = in_.F32();
      points_.push_back(p);
    }
  }

  // An LWO2 index of 0xFFxx in its first 16 bits continues in the next 16.
  int PointIndex() {
    const std::uint16_t first = in_.U16();
    if (!isLwo2_ || (first >> 8) != 0xFF) return first;
    return static_cast<int>((first & 0xFFu) << 16 | in_.U16());
  }

  void ReadPolygons(std::uint64_t end) {
    if (isLwo2_ && in_.U32() != FourCC("FACE")) return;
    while (in_.Position() + 2 <= end) {
      const int count = in_.U16() & (isLwo2_ ? 0x3FF : 0xFFFF);
      corners_.clear();
      for (int k = 0; k < count; ++k) {
        if (in_.Position() + 2 > end) return;  // cut off by the chunk's end
        corners_.push_back(PointIndex());
      }
      QXMaterial* material = nullptr;
      if (!isLwo2_) {
        if (in_.Position() + 2 > end) return;
        material = SurfaceMaterial(end);
      }
      DeliverPolygon(material);
    }
  }

  // LWOB: the signed surface number after the corners; a negative number
  // is followed by detail polygons, which are skipped.
  QXMaterial* SurfaceMaterial(std::uint64_t end) {
    int surface = static_cast<std::int16_t>(in_.U16());
    if (surface < 0) {
      surface = -surface;
      const std::uint16_t details = in_.U16();
      for (int d = 0; d < details && in_.Position() + 2 <= end; ++d) in_.Skip(2 * std::uint64_t{in_.U16()} + 2);
    }
    if (surface < 1 || static_cast<size_t>(surface) > surfaces_.size()) return nullptr;
    return surfaces_[surface - 1].material;
  }

  void DeliverPolygon(QXMaterial* material) {
    for (int index : corners_)
      if (static_cast<size_t>(index) >= points_.size()) return;
    const auto at = [this](size_t k) { return points_[corners_[k]]; };
    if (corners_.size() == 3) {
      sink_.AddTriangle(material, at(0), at(1), at(2));
    } else if (corners_.size() == 4) {
      sink_.AddQuad(material, at(0), at(1), at(2), at(3));
    } else if (corners_.size() >= 5) {
      for (const TriangleIndices& t : TriangulatePolygon(points_, corners_))
        sink_.AddTriangle(material, points_[t[0]], points_[t[1]], points_[t[2]]);
    }
  }

  ByteReader& in_;
  const bool isLwo2_;
  ImportSink& sink_;
  std::vector<Vector> points_;
  std::vector<int> corners_;
  std::vector<LwoSurface> surfaces_;
  std::unordered_map<std::string, size_t> surfaceIndex_;  // first surface of each name
};

}  // namespace

bool ReadLwoFile(const std::string& fileName, ImportSink& sink, std::string* failure) {
  const auto fail = [failure](const char* why) {
    if (failure) *failure = why;
    return false;
  };
  const std::optional<std::vector<std::uint8_t>> bytes = ReadWholeFile(fileName);
  if (!bytes) return fail("the file cannot be opened");
  ByteReader in(*bytes);
  const char* notLightWave = "not a LightWave object: it does not start with a \"FORM\" of type \"LWOB\" or \"LWO2\"";
  if (in.U32() != FourCC("FORM")) return fail(notLightWave);
  const std::uint32_t formSize = in.U32();
  const std::uint32_t formType = in.U32();
  if (formType != FourCC("LWOB") && formType != FourCC("LWO2")) return fail(notLightWave);
  LwoReader reader(in, formType == FourCC("LWO2"), sink);
  // The form ends where it says or where the file does, whichever is first.
  reader.ReadChunks(std::min<std::uint64_t>(8 + std::uint64_t{formSize}, in.Size()));
  return true;
}

}  // namespace qx
