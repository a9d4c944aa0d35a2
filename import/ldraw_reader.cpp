#include "import/ldraw_reader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <system_error>
#include <utility>

#include "common/text.h"
#include "common/diagnostics.h"
#include "import/ldraw_library.h"

namespace qx {

// ---- Colours ----------------------------------------------------------------

namespace {

struct ColourEntry {
  uint8_t red = 0, green = 0, blue = 0;
  bool defined = false;
};

using ColourTable = std::array<ColourEntry, 64>;

ColourTable BuiltInColours() {
  ColourTable table;
  auto set = [&table](int number, uint8_t red, uint8_t green, uint8_t blue) {
    table[number] = {red, green, blue, true};
  };
  set(0, 33, 33, 33), set(1, 0, 51, 178), set(2, 0, 140, 20), set(3, 0, 153, 159);
  set(4, 196, 0, 38), set(5, 223, 102, 149), set(6, 92, 32, 0), set(7, 193, 194, 193);
  set(8, 99, 95, 82), set(9, 107, 171, 220), set(10, 107, 238, 144), set(11, 51, 166, 167);
  set(12, 255, 133, 122), set(13, 249, 164, 198), set(14, 255, 220, 0), set(15, 255, 255, 255);
  set(17, 186, 255, 206), set(18, 253, 232, 150), set(19, 232, 207, 161), set(20, 215, 196, 230);
  set(21, 224, 255, 176), set(22, 129, 0, 123), set(23, 71, 50, 176), set(25, 255, 102, 0);
  set(26, 255, 51, 153), set(27, 215, 240, 0), set(28, 197, 151, 80), set(32, 102, 102, 102);
  set(33, 0, 0, 153), set(34, 0, 80, 24), set(35, 0, 181, 166), set(36, 204, 0, 0);
  set(37, 100, 0, 97), set(38, 102, 51, 0), set(39, 153, 153, 153), set(40, 99, 95, 82);
  set(41, 174, 239, 236), set(42, 192, 255, 0), set(43, 171, 253, 249), set(44, 255, 0, 0);
  set(45, 223, 102, 149), set(46, 202, 176, 0), set(47, 255, 255, 255), set(57, 249, 96, 0);
  return table;
}

// One table for the whole run: models may redefine entries with "0 COLOR".
ColourTable& Colours() {
  static ColourTable table = BuiltInColours();
  return table;
}

constexpr Colour kNoColour = {0, 0, 0, -1};

float Field(int64_t number, int shift, int bits) {
  return static_cast<float>((number >> shift) & ((int64_t{1} << bits) - 1));
}

// Direct colours, chosen by the top byte of the number.
Colour DirectColour(int64_t number) {
  switch (number >> 24) {
    case 2:
    case 3: {
      const float alpha = (number >> 24) == 2 ? 1.0f : 0.0f;
      return {Field(number, 16, 8) / 255, Field(number, 8, 8) / 255, Field(number, 0, 8) / 255, alpha};
    }
    case 4:
      return {(Field(number, 20, 4) + Field(number, 8, 4)) / 30, (Field(number, 16, 4) + Field(number, 4, 4)) / 30,
              (Field(number, 12, 4) + Field(number, 0, 4)) / 30, 1.0f};
    case 5:
      return {Field(number, 20, 4) / 15, Field(number, 16, 4) / 15, Field(number, 12, 4) / 15, 0.0f};
    case 6:
      return {Field(number, 8, 4) / 15, Field(number, 4, 4) / 15, Field(number, 0, 4) / 15, 0.0f};
    case 7:
      return {0, 0, 0, 1.0f};
    default:
      return kNoColour;
  }
}

}  // namespace

Colour LDrawColour(int64_t number) {
  const ColourTable& table = Colours();
  if (number >= 0 && number < 64 && table[number].defined) {
    const ColourEntry& entry = table[number];
    return {entry.red / 255.0f, entry.green / 255.0f, entry.blue / 255.0f, number < 32 ? 1.0f : 0.0f};
  }
  if (number >= 256 && number < 512) {
    const ColourEntry& a = table[number & 15];
    const ColourEntry& b = table[(number >> 4) & 15];
    return {(a.red + b.red) / 510.0f, (a.green + b.green) / 510.0f, (a.blue + b.blue) / 510.0f, 1.0f};
  }
  if (number < 0 || number > std::numeric_limits<int32_t>::max()) return kNoColour;
  return DirectColour(number);
}

bool SetLDrawColourEntry(int number, uint8_t red, uint8_t green, uint8_t blue) {
  if (number < 0 || number >= 64) return false;
  Colours()[number] = {red, green, blue, true};
  return true;
}

void ResetLDrawColours() { Colours() = BuiltInColours(); }

// ---- Quads ------------------------------------------------------------------

namespace {

// Whether corners in this cyclic order form a convex quad (or one with a
// degenerate corner, which any order would keep).
bool IsConvexOrder(const std::array<Vector, 4>& p) {
  std::array<Vector, 4> normals;
  for (int i = 0; i < 4; ++i) {
    const Vector next = p[(i + 1) % 4];
    const Vector previous = p[(i + 3) % 4];
    const Vector normal = Cross(p[i] - next, p[i] - previous);
    if (Dot(normal, normal) == 0) return true;
    normals[i] = Normalize(normal);
  }
  for (int i = 0; i < 4; ++i) {
    for (int j = i + 1; j < 4; ++j) {
      if (!(Dot(normals[i], normals[j]) > 0)) return false;
    }
  }
  return true;
}

}  // namespace

std::array<Vector, 4> OrderLDrawQuad(const std::array<Vector, 4>& corners) {
  static constexpr int kOrders[6][3] = {{1, 2, 3}, {1, 3, 2}, {2, 1, 3}, {2, 3, 1}, {3, 1, 2}, {3, 2, 1}};
  for (const auto& order : kOrders) {
    const std::array<Vector, 4> candidate = {corners[0], corners[order[0]], corners[order[1]], corners[order[2]]};
    if (IsConvexOrder(candidate)) return candidate;
  }
  return corners;
}

// ---- Lines and tokens ---------------------------------------------------------

namespace {

constexpr std::string_view kSeparators = " ,\t\n\r";

// Reads one line without its '\n'; a line longer than kLDrawMaxLineLength is
// consumed to its end in bounded memory and flagged.
bool ReadLine(std::FILE* file, std::string& line, bool& too_long) {
  return ReadBoundedLine(file, line, kLDrawMaxLineLength, &too_long);
}

// Walks the tokens of one line.
class Tokens {
 public:
  explicit Tokens(std::string_view line) : line_(line) {}

  // The next token, or empty at the end of the line.
  std::string_view Next() {
    SkipSeparators();
    const size_t end = std::min(line_.find_first_of(kSeparators, pos_), line_.size());
    std::string_view token = line_.substr(pos_, end - pos_);
    pos_ = end;
    return token;
  }
  // Everything after the current position, without separators at either end.
  std::string_view Rest() {
    SkipSeparators();
    std::string_view rest = line_.substr(pos_);
    const size_t last = rest.find_last_not_of(kSeparators);
    return last == std::string_view::npos ? std::string_view() : rest.substr(0, last + 1);
  }
  size_t Position() const { return pos_; }
  void Rewind(size_t position) { pos_ = position; }

 private:
  void SkipSeparators() {
    pos_ = std::min(line_.find_first_not_of(kSeparators, pos_), line_.size());
  }
  std::string_view line_;
  size_t pos_ = 0;
};

// The integer a token starts with (decimal, or hexadecimal after "0x"); none
// without digits or beyond 64 bits.
std::optional<int64_t> LeadingInteger(std::string_view token) {
  int base = 10;
  if (token.starts_with("0x") || token.starts_with("0X")) {
    token.remove_prefix(2);
    base = 16;
  } else if (token.starts_with('+')) {
    token.remove_prefix(1);
  }
  int64_t value = 0;
  auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), value, base);
  if (error != std::errc()) return std::nullopt;
  return value;
}

// The integer a whole token spells; none for anything else.
std::optional<int64_t> WholeInteger(std::string_view token) {
  if (token.starts_with('+')) token.remove_prefix(1);
  int64_t value = 0;
  auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), value);
  if (error != std::errc() || end != token.data() + token.size()) return std::nullopt;
  return value;
}

enum class NumberKind { kNumber, kNotANumber, kNotFinite };

// Parses a whole token as a float. Out-of-range values, infinities and NaN
// are numbers that cannot be used.
NumberKind ParseNumber(std::string_view token, float& value) {
  if (token.starts_with('+')) token.remove_prefix(1);
  auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), value);
  if (end != token.data() + token.size() || token.empty()) return NumberKind::kNotANumber;
  if (error == std::errc::result_out_of_range) return NumberKind::kNotFinite;
  if (error != std::errc()) return NumberKind::kNotANumber;
  return std::isfinite(value) ? NumberKind::kNumber : NumberKind::kNotFinite;
}

Vector PointAt(const std::array<float, 12>& numbers, int first) {
  return {numbers[first], numbers[first + 1], numbers[first + 2]};
}

// Column-major placement matrix of a type-1 line "x y z a b c d e f g h i".
Matrix PlacementMatrix(const std::array<float, 12>& n) {
  return {n[3], n[6], n[9], 0, n[4], n[7], n[10], 0, n[5], n[8], n[11], 0, n[0], n[1], n[2], 1};
}

// What a line tells the file loop.
enum class LineEffect { kContinue, kEndOfFile };

// The lines of one file (or one embedded file) going to one sink.
class LineHandler {
 public:
  // `in_embedded_file`: the read started after a "0 FILE" line, so the next
  // FILE or NOFILE line ends it.
  LineHandler(ImportSink& sink, LDrawReadReport& report, bool in_embedded_file)
      : sink_(sink), report_(report), file_line_seen_(in_embedded_file) {}

  LineEffect Handle(std::string_view line) {
    Tokens tokens(line);
    const std::string_view type_token = tokens.Next();
    if (type_token.empty()) {
      sink_.Flush();
      return LineEffect::kContinue;
    }
    const std::optional<int64_t> type = LeadingInteger(type_token);
    if (!type) return LineEffect::kContinue;
    if (*type == 0) return HandleMeta(tokens);
    if (*type >= 1 && *type <= 5) {
      geometry_seen_ = true;
      HandleGeometry(static_cast<int>(*type), tokens);
    }
    return LineEffect::kContinue;
  }

 private:
  LineEffect HandleMeta(Tokens& tokens) {
    if (tokens.Rest().empty()) {
      sink_.Comment(nullptr);
      return LineEffect::kContinue;
    }
    const std::string_view command = tokens.Next();
    if (command == "FILE" || command == "NOFILE") {
      // A multi-part file's model is either its first embedded file or, when
      // geometry comes before the first FILE line, the text before it.
      if (file_line_seen_ || geometry_seen_) return LineEffect::kEndOfFile;
      file_line_seen_ = command == "FILE";
    } else if (command == "COLOR") {
      HandleColourDefinition(tokens);
    }
    return LineEffect::kContinue;
  }

  // "0 COLOR number name edge red green blue alpha": only the number and the
  // three colour components are used; all seven fields must be present.
  void HandleColourDefinition(Tokens& tokens) {
    std::array<int64_t, 6> values;  // number, edge, red, green, blue, alpha
    for (int field = 0, value = 0; field < 7; ++field) {
      const std::string_view token = tokens.Next();
      if (token.empty()) return;
      if (field == 1) continue;  // the name
      const std::optional<int64_t> parsed = WholeInteger(token);
      if (!parsed) return;
      values[value++] = *parsed;
    }
    auto byte = [](int64_t v) { return static_cast<uint8_t>(std::clamp<int64_t>(v, 0, 255)); };
    if (values[0] >= 0 && values[0] < 64) {
      SetLDrawColourEntry(static_cast<int>(values[0]), byte(values[2]), byte(values[3]), byte(values[4]));
    }
  }

  void HandleGeometry(int type, Tokens& tokens) {
    const std::string_view colour_token = tokens.Next();
    const std::optional<int64_t> colour_number = LeadingInteger(colour_token);
    const Colour colour = colour_number ? LDrawColour(*colour_number) : kNoColour;
    std::array<float, 12> numbers{};
    int count = 0;
    while (count < 12) {
      const size_t before = tokens.Position();
      const NumberKind kind = ParseNumber(tokens.Next(), numbers[count]);
      if (kind == NumberKind::kNotFinite) {
        ++report_.skipped_lines;
        return;
      }
      if (kind == NumberKind::kNotANumber) {
        tokens.Rewind(before);
        break;
      }
      ++count;
    }
    if (!Deliver(type, colour, numbers, count, tokens)) ++report_.skipped_lines;
  }

  bool Deliver(int type, const Colour& colour, const std::array<float, 12>& n, int count, Tokens& tokens) {
    switch (type) {
      case 1: {
        // The name is the rest of the line: names of embedded files often
        // hold blanks ("6861 - Propulsor.ldr").
        const std::string name(tokens.Rest());
        if (count != 12 || name.empty()) return false;
        sink_.IncludeModel(colour, PlacementMatrix(n), name.c_str());
        return true;
      }
      case 2:
        if (count != 6) return false;
        sink_.AddLine(colour, PointAt(n, 0), PointAt(n, 3));
        return true;
      case 3:
        if (count != 9) return false;
        sink_.AddTriangleColor(colour, PointAt(n, 0), PointAt(n, 3), PointAt(n, 6));
        return true;
      case 4: {
        if (count != 12) return false;
        const auto q = OrderLDrawQuad({PointAt(n, 0), PointAt(n, 3), PointAt(n, 6), PointAt(n, 9)});
        sink_.AddQuadColor(colour, q[0], q[1], q[2], q[3]);
        return true;
      }
      default:
        if (count != 6) return false;
        sink_.AddOptionalLine(colour, PointAt(n, 0), PointAt(n, 3));
        return true;
    }
  }

  ImportSink& sink_;
  LDrawReadReport& report_;
  bool file_line_seen_;
  bool geometry_seen_ = false;
};

using FilePointer = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

FilePointer OpenFile(const std::string& path) { return FilePointer(std::fopen(path.c_str(), "r"), &std::fclose); }

// A path as a key for "already being read": the canonical form when the
// file system can give one.
std::string PathKey(const std::string& path) {
  std::error_code error;
  std::filesystem::path canonical = std::filesystem::weakly_canonical(path, error);
  return error ? path : canonical.string();
}

// The name on a "0 FILE <name>" line, or none for any other line.
std::optional<std::string_view> EmbeddedFileName(std::string_view line) {
  Tokens tokens(line);
  if (tokens.Next() != "0" || tokens.Next() != "FILE") return std::nullopt;
  return tokens.Rest();
}

// Whether a line draws something or places a sub-file (types 1 to 5).
bool IsGeometryLine(std::string_view line) {
  const std::optional<int64_t> type = LeadingInteger(Tokens(line).Next());
  return type && *type >= 1 && *type <= 5;
}

thread_local LDrawReader* active_reader = nullptr;

}  // namespace

// ---- Reader -------------------------------------------------------------------

LDrawReader::LDrawReader(std::string ldraw_dir, std::string model_dir, LDrawLimits limits)
    : ldraw_dir_(std::move(ldraw_dir)), model_dir_(std::move(model_dir)), limits_(limits) {}

LDrawReader* LDrawReader::Active() { return active_reader; }

bool LDrawReader::ReadModel(std::string_view file_name, ImportSink& sink) {
  // Called from inside a read, the name is a reference within this session.
  if (depth_ > 0) return ReadSubFile(file_name, sink);
  LDrawReader* const previous = std::exchange(active_reader, this);
  struct Restore {
    LDrawReader* previous;
    ~Restore() { active_reader = previous; }
  } restore{previous};

  const std::string name(file_name);
  std::optional<std::string> path = FindLDrawFile(name, ldraw_dir_, model_dir_);
  if (!path) {
    ++report_.missing_files;
    PrintMessage("\nFile %s not found", name.c_str());
    return false;
  }
  top_path_ = *path;
  embedded_.clear();
  resolved_.clear();
  IndexEmbeddedFiles(top_path_);
  Source source{top_path_, 0, false, {PathKey(top_path_)}};
  // When the model of a multi-part file is its first embedded file, a
  // reference to that name from inside is a cycle too.
  for (const auto& [key, offset] : embedded_) {
    if (offset == first_embedded_offset_) source.keys.push_back(top_path_ + "#" + key);
  }
  if (ReadSource(source, sink)) return true;
  ++report_.missing_files;
  PrintMessage("\nFile %s not found", name.c_str());
  return false;
}

const LDrawReader::Source* LDrawReader::Resolve(std::string_view name) {
  if (auto known = resolved_.find(name); known != resolved_.end()) return known->second ? &*known->second : nullptr;
  std::optional<Source> source;
  const std::string key = LDrawNameKey(name);
  if (auto embedded = embedded_.find(key); embedded != embedded_.end()) {
    source = Source{top_path_, embedded->second, true, {top_path_ + "#" + key}};
  } else if (std::optional<std::string> path = FindLDrawFile(name, ldraw_dir_, model_dir_)) {
    source = Source{*path, 0, false, {PathKey(*path)}};
  }
  const auto inserted = resolved_.emplace(std::string(name), std::move(source)).first;
  return inserted->second ? &*inserted->second : nullptr;
}

bool LDrawReader::ReadSubFile(std::string_view name, ImportSink& sink) {
  const Source* source = Resolve(name);
  if (!source) {
    ++report_.missing_files;
    PrintMessage("\nFile %s not found", std::string(name).c_str());
    return false;
  }
  if (depth_ >= limits_.max_depth) {
    ++report_.refused_reads;
    PrintMessage("\nWarning, LDraw files nested too deep at %s", std::string(name).c_str());
    return false;
  }
  if (InProgress(source->keys.front())) {
    ++report_.refused_reads;
    PrintMessage("\nWarning, LDraw file %s includes itself", std::string(name).c_str());
    return false;
  }
  if (ReadSource(*source, sink)) return true;
  ++report_.missing_files;
  PrintMessage("\nFile %s not found", std::string(name).c_str());
  return false;
}

bool LDrawReader::HasEmbeddedFile(std::string_view name) const { return embedded_.count(LDrawNameKey(name)) > 0; }

bool LDrawReader::InProgress(const std::string& key) const {
  return std::find(in_progress_.begin(), in_progress_.end(), key) != in_progress_.end();
}

bool LDrawReader::ReadSource(const Source& source, ImportSink& sink) {
  FilePointer file = OpenFile(source.path);
  if (!file || std::fseek(file.get(), source.offset, SEEK_SET) != 0) return false;
  const size_t marked = in_progress_.size();
  in_progress_.insert(in_progress_.end(), source.keys.begin(), source.keys.end());
  ++depth_;
  LineHandler handler(sink, report_, source.embedded);
  std::string line;
  bool too_long = false;
  while (!report_.stopped_at_line_limit && ReadLine(file.get(), line, too_long)) {
    if (++report_.lines_read > limits_.max_lines) {
      report_.stopped_at_line_limit = true;
      PrintMessage("\nWarning, LDraw model too large, reading stopped");
      break;
    }
    if (too_long) {
      ++report_.skipped_lines;
      continue;
    }
    if (handler.Handle(line) == LineEffect::kEndOfFile) break;
  }
  in_progress_.resize(marked);
  --depth_;
  sink.Flush();
  return true;
}

void LDrawReader::IndexEmbeddedFiles(const std::string& path) {
  FilePointer file = OpenFile(path);
  if (!file) return;
  first_embedded_offset_ = -1;
  bool geometry_first = false;  // the model is the text before the first FILE line
  bool file_line_seen = false;
  std::string line;
  bool too_long = false;
  while (ReadLine(file.get(), line, too_long)) {
    if (too_long) continue;
    std::optional<std::string_view> name = EmbeddedFileName(line);
    if (!name) {
      geometry_first = geometry_first || (!file_line_seen && IsGeometryLine(line));
      continue;
    }
    const long offset = std::ftell(file.get());
    if (!file_line_seen && !geometry_first) first_embedded_offset_ = offset;
    file_line_seen = true;
    embedded_.emplace(LDrawNameKey(*name), offset);  // the first of equal names wins
  }
}

bool ReadLDraw(const char* file_name, const char* ldraw_dir, const char* model_dir, ImportSink& sink) {
  if (!file_name || !*file_name) return false;
  if (LDrawReader* active = LDrawReader::Active()) return active->ReadSubFile(file_name, sink);
  LDrawReader reader(ldraw_dir ? ldraw_dir : "", model_dir ? model_dir : "");
  return reader.ReadModel(file_name, sink);
}

}  // namespace qx
