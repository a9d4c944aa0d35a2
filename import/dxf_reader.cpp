#include "import/dxf_reader.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/text.h"

namespace qx {
namespace {

// Value lines longer than this are cut: no DXF value that we use comes close.
constexpr size_t kMaxLineLength = 1023;
// A face has at most four corners; counts beyond that only need to say "too
// many", so counters stop here and cannot overflow on a hostile file.
constexpr int kTooManyCorners = 5;

// Reads one line without its '\n', keeping at most kMaxLineLength characters.
bool ReadLine(std::FILE* file, std::string& line) { return ReadBoundedLine(file, line, kMaxLineLength); }

std::string_view SkipBlanks(std::string_view text) {
  size_t start = 0;
  while (start < text.size() && (text[start] == ' ' || text[start] == '\t')) ++start;
  return text.substr(start);
}

std::string_view SkipSign(std::string_view text) { return text.starts_with('+') ? text.substr(1) : text; }

// The integer at the start of `text` after blanks (like "%d"); none when there
// are no digits or the value does not fit in 64 bits.
std::optional<int64_t> ParseLeadingInteger(std::string_view text) {
  text = SkipSign(SkipBlanks(text));
  int64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc()) return std::nullopt;
  return value;
}

// The number at the start of `text` after blanks (like "%e"); none when there
// is no number. A number too large for a float comes back infinite, one too
// small as zero, so that the caller can reject what is not finite.
std::optional<float> ParseLeadingFloat(std::string_view text) {
  text = SkipBlanks(text);
  const bool negative = text.starts_with('-');
  text = SkipSign(text);
  float value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error == std::errc()) return value;
  if (error != std::errc::result_out_of_range) return std::nullopt;
  std::string_view digits(text.data(), static_cast<size_t>(end - text.data()));
  const bool underflow = digits.find("e-") != std::string_view::npos || digits.find("E-") != std::string_view::npos;
  if (underflow) return 0.0f;
  return negative ? -std::numeric_limits<float>::infinity() : std::numeric_limits<float>::infinity();
}

bool IsFinite(Vector p) { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); }

enum class Entity {
  kNone,
  kLine,
  kFace3D,
  // The POLYLINE header has its own state so that its own point (codes
  // 10/20/30) and flags (70) and its mesh sizes (71/72) never reach the point
  // list: every polyface mesh numbers its vertices from 1, also the second
  // one after a 3DFACE or after another mesh.
  kPolyline,
  kVertex,
  // Any other entity (circles, text, SEQEND, section markers): its codes are
  // ignored, so that e.g. a circle's centre never becomes a mesh point.
  kOther,
};

// One VERTEX entity, decided when it ends: its flags tell whether it is a
// mesh point or a face record, whatever order its codes came in.
struct VertexEntity {
  std::optional<Vector> point;
  std::optional<int64_t> flags;
  std::array<int64_t, 4> numbers{};  // codes 71..74 as written (1-based)
  int number_count = 0;

  bool IsFaceRecord() const { return flags && (*flags & 64) == 0; }
};

// The header of a polygon mesh: a POLYLINE whose flags (code 70) carry bit 16
// and whose VERTEX entities are the points of an M x N grid, row by row
// (M from code 71, N from code 72). Bit 1 closes the grid in M (the last row
// joins the first), bit 32 closes it in N.
struct PolygonMesh {
  int64_t flags = 0;
  int64_t m = 0, n = 0;

  bool IsGrid() const { return (flags & 16) != 0 && (flags & 64) == 0; }
  bool ClosedInM() const { return (flags & 1) != 0; }
  bool ClosedInN() const { return (flags & 32) != 0; }
};

class DxfParser {
 public:
  DxfParser(ImportSink& sink, DxfReadReport& report) : sink_(sink), report_(report) {}

  // Handles one group-code/value pair; returns false at the EOF marker.
  bool HandlePair(int64_t code, std::string_view code_line, std::string_view value) {
    if (code == 0) return StartEntity(SkipBlanks(value));
    code_line = SkipBlanks(code_line);
    const char first_digit = code_line[0];
    const char second_digit = code_line.size() > 1 ? code_line[1] : '\0';
    // Codes of three or more digits hold handles, strings and extended data;
    // they never add a point or a point number.
    const bool short_code = code < 100;
    if (first_digit == '1' || first_digit == '2' || first_digit == '3') {
      HandleCoordinate(first_digit, short_code, value);
    } else if (first_digit == '7' && short_code && entity_ == Entity::kVertex) {
      HandleVertexInteger(second_digit == '0', value);
    } else if (entity_ == Entity::kPolyline) {
      HandlePolylineInteger(code, value);
    }
    return true;
  }

 private:
  bool StartEntity(std::string_view name) {
    FinishEntity();
    // A polygon mesh's points end with the first entity that is not a VERTEX.
    if (!name.starts_with("VERTEX")) {
      if (mesh_.IsGrid()) DeliverGrid();
      mesh_ = PolygonMesh();
    }
    if (name.starts_with("LINE")) {
      entity_ = Entity::kLine;
    } else if (name.starts_with("3DFACE")) {
      entity_ = Entity::kFace3D;
      corner_count_ = 0;
      points_.clear();
    } else if (name.starts_with("VERTEX")) {
      entity_ = Entity::kVertex;
      vertex_ = VertexEntity();
    } else if (name.starts_with("POLYLINE")) {
      entity_ = Entity::kPolyline;
      points_.clear();
      sink_.EndObject("");
    } else {
      entity_ = Entity::kOther;
      if (name.starts_with("EOF")) return false;
    }
    return true;
  }

  void HandleCoordinate(char first_digit, bool short_code, std::string_view text) {
    // An unreadable value repeats the last number read, as old writers expect.
    if (std::optional<float> parsed = ParseLeadingFloat(text)) last_value_ = *parsed;
    if (first_digit == '1') {
      x_ = last_value_;
    } else if (first_digit == '2') {
      y_ = last_value_;
    } else if (short_code && entity_ == Entity::kFace3D) {
      if (corner_count_ < 4) corners_[corner_count_] = {x_, y_, last_value_};
      corner_count_ = std::min(corner_count_ + 1, kTooManyCorners);
    } else if (short_code && entity_ == Entity::kVertex) {
      vertex_.point = Vector{x_, y_, last_value_};
    }
  }

  void HandlePolylineInteger(int64_t code, std::string_view text) {
    std::optional<int64_t> number = ParseLeadingInteger(text);
    if (!number) return;
    if (code == 70) mesh_.flags = *number;
    if (code == 71) mesh_.m = *number;
    if (code == 72) mesh_.n = *number;
  }

  void HandleVertexInteger(bool is_flags, std::string_view text) {
    std::optional<int64_t> number = ParseLeadingInteger(text);
    if (!number) return;
    if (is_flags) {
      vertex_.flags = *number;
      return;
    }
    if (vertex_.number_count < 4) vertex_.numbers[vertex_.number_count] = *number;
    vertex_.number_count = std::min(vertex_.number_count + 1, kTooManyCorners);
  }

  void FinishEntity() {
    if (entity_ == Entity::kFace3D) FinishFace3D();
    if (entity_ == Entity::kVertex) FinishVertex();
  }

  void FinishFace3D() {
    if (corner_count_ == 3 || corner_count_ == 4) {
      Deliver(std::span<const Vector>(corners_.data(), static_cast<size_t>(corner_count_)));
    } else {
      ++report_.dropped_faces;
    }
  }

  void FinishVertex() {
    if (!vertex_.IsFaceRecord()) {
      if (vertex_.point) points_.push_back(*vertex_.point);
      return;
    }
    // Face records with other counts (edges, empty records) carry no face.
    if (vertex_.number_count != 3 && vertex_.number_count != 4) return;
    std::array<Vector, 4> face;
    for (int i = 0; i < vertex_.number_count; ++i) {
      // Negative numbers mark invisible edges; the magnitude is the point.
      const int64_t number = vertex_.numbers[i];
      const uint64_t magnitude = number < 0 ? 0 - static_cast<uint64_t>(number) : static_cast<uint64_t>(number);
      if (magnitude == 0 || magnitude > points_.size()) {
        ++report_.dropped_faces;
        return;
      }
      face[i] = points_[magnitude - 1];
    }
    Deliver(std::span<const Vector>(face.data(), static_cast<size_t>(vertex_.number_count)));
  }

  // The quads of the grid in points_: one per pair of neighbouring rows and
  // columns, plus those that join the last row or column to the first when
  // the mesh is closed in that direction. A grid whose point count is not
  // M x N is left out whole (one dropped face in the report).
  void DeliverGrid() {
    const auto size = static_cast<int64_t>(points_.size());
    if (mesh_.m < 1 || mesh_.n < 1 || mesh_.m > size / mesh_.n || mesh_.m * mesh_.n != size) {
      ++report_.dropped_faces;
      return;
    }
    const int64_t rows = mesh_.ClosedInM() && mesh_.m > 2 ? mesh_.m : mesh_.m - 1;
    const int64_t columns = mesh_.ClosedInN() && mesh_.n > 2 ? mesh_.n : mesh_.n - 1;
    const auto at = [this](int64_t row, int64_t column) {
      return points_[static_cast<size_t>((row % mesh_.m) * mesh_.n + column % mesh_.n)];
    };
    for (int64_t row = 0; row < rows; ++row) {
      for (int64_t column = 0; column < columns; ++column) {
        const std::array<Vector, 4> quad = {at(row, column), at(row + 1, column), at(row + 1, column + 1),
                                            at(row, column + 1)};
        Deliver(quad);
      }
    }
  }

  void Deliver(std::span<const Vector> face) {
    if (!std::all_of(face.begin(), face.end(), IsFinite)) {
      ++report_.dropped_faces;
      return;
    }
    if (face.size() == 3) {
      sink_.AddTriangle(nullptr, face[0], face[1], face[2]);
    } else {
      sink_.AddQuad(nullptr, face[0], face[1], face[2], face[3]);
    }
    ++report_.faces;
  }

  ImportSink& sink_;
  DxfReadReport& report_;
  Entity entity_ = Entity::kNone;
  float x_ = 0, y_ = 0, last_value_ = 0;
  std::array<Vector, 4> corners_;
  int corner_count_ = 0;
  std::vector<Vector> points_;  // points of the current polyface or polygon mesh
  VertexEntity vertex_;
  PolygonMesh mesh_;
};

void SkipByteOrderMark(std::string& line) {
  if (line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
}

}  // namespace

bool ReadDxf(const char* file_name, ImportSink& sink, DxfReadReport* report) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(file_name, "r"), &std::fclose);
  if (!file) return false;
  DxfReadReport local_report;
  DxfParser parser(sink, local_report);
  std::string code_line, value_line;
  bool first_line = true;
  while (ReadLine(file.get(), code_line)) {
    if (first_line) SkipByteOrderMark(code_line);
    first_line = false;
    std::optional<int64_t> code = ParseLeadingInteger(code_line);
    if (!code || *code < std::numeric_limits<int>::min() || *code > std::numeric_limits<int>::max()) {
      local_report.ended_early = true;
      break;
    }
    if (!ReadLine(file.get(), value_line)) break;
    if (!parser.HandlePair(*code, code_line, value_line)) break;
  }
  if (report) *report = local_report;
  return true;
}

}  // namespace qx
