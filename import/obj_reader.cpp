#include "import/obj_reader.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "import/ear_clipping.h"

namespace qx {
namespace {

// Longest line the OBJ reader takes in one piece; the rest of a longer line
// is read as the next line.
constexpr size_t kMaxLineLength = 1023;

using FilePointer = std::unique_ptr<std::FILE, decltype(&std::fclose)>;

FilePointer OpenForReading(const std::string& name) {
  return FilePointer(std::fopen(name.c_str(), "rb"), &std::fclose);
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n'; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// Names inside model files may have been written on either kind of system.
std::string WithForwardSlashes(std::string_view name) {
  std::string path(name);
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

std::string JoinPath(const std::string& directory, std::string_view name) {
  std::string path = directory;
  if (!path.empty() && path.back() == '\\') path.back() = '/';
  if (!path.empty() && path.back() != '/') path += '/';
  return path + WithForwardSlashes(name);
}

// A position in a piece of text with the few scanning steps both file kinds
// need. Numbers are read without regard to the C locale.
class TextCursor {
 public:
  explicit TextCursor(std::string_view text) : text_(text) {}

  bool AtEnd() const { return position_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[position_]; }

  void SkipBlanks() {
    while (!AtEnd() && IsBlank(text_[position_])) ++position_;
  }

  // The next run of non-blank characters (empty at the end).
  std::string_view NextWord() {
    SkipBlanks();
    const size_t start = position_;
    while (!AtEnd() && !IsBlank(text_[position_])) ++position_;
    return text_.substr(start, position_ - start);
  }

  // Reads a float after optional blanks; on failure nothing is consumed.
  std::optional<float> NextFloat() {
    SkipBlanks();
    size_t start = position_;
    if (Peek() == '+') ++start;
    float value = 0;
    const auto [end, error] = std::from_chars(text_.data() + start, text_.data() + text_.size(), value);
    if (error != std::errc()) return std::nullopt;
    position_ = static_cast<size_t>(end - text_.data());
    return value;
  }

  // Everything up to the end of the current line; the line end is consumed.
  std::string_view RestOfLine() {
    const size_t start = position_;
    while (!AtEnd() && text_[position_] != '\n' && text_[position_] != '\r') ++position_;
    const std::string_view rest = text_.substr(start, position_ - start);
    if (!AtEnd()) ++position_;
    return rest;
  }

 private:
  std::string_view text_;
  size_t position_ = 0;
};

// The integer a face word starts with ("12", "-3", "7/1/2"), saturated far
// beyond any vertex count; none when the word does not start with one.
std::optional<std::int64_t> LeadingInteger(std::string_view word) {
  size_t position = 0;
  bool negative = false;
  if (position < word.size() && (word[position] == '+' || word[position] == '-')) negative = word[position++] == '-';
  const size_t digitsStart = position;
  std::int64_t value = 0;
  constexpr std::int64_t kSaturation = std::int64_t{1} << 40;
  for (; position < word.size() && word[position] >= '0' && word[position] <= '9'; ++position)
    value = std::min(value * 10 + (word[position] - '0'), kSaturation);
  if (position == digitsStart) return std::nullopt;
  return negative ? -value : value;
}

// Splits a file into lines that end at LF or CR (so CR LF gives an empty
// line between) or after kMaxLineLength characters.
class LineReader {
 public:
  explicit LineReader(std::FILE* file) : file_(file), buffer_(1 << 16) {}

  bool Next(std::string& line) {
    line.clear();
    for (;;) {
      if (next_ == end_ && !Refill()) return !line.empty();
      const char c = buffer_[next_++];
      if (c == '\n' || c == '\r') return true;
      line += c;
      if (line.size() == kMaxLineLength) return true;
    }
  }

 private:
  bool Refill() {
    next_ = 0;
    end_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
    return end_ > 0;
  }

  std::FILE* file_;
  std::vector<char> buffer_;
  size_t next_ = 0, end_ = 0;
};

// One OBJ read: the vertices so far, the material table and the current
// material.
class ObjReader {
 public:
  ObjReader(const std::string& directory, ImportSink& sink) : directory_(directory), sink_(sink) {}

  void ReadLine(std::string_view line) {
    TextCursor cursor(line);
    cursor.SkipBlanks();
    if (cursor.AtEnd() || cursor.Peek() == '#' || cursor.Peek() == '$') return;
    const std::string_view keyword = cursor.NextWord();
    if (EqualsIgnoringCase(keyword, "v")) {
      ReadVertex(cursor);
    } else if (EqualsIgnoringCase(keyword, "f")) {
      ReadFace(cursor);
    } else if (EqualsIgnoringCase(keyword, "g") || EqualsIgnoringCase(keyword, "o")) {
      sink_.EndObject(nullptr);
    } else if (EqualsIgnoringCase(keyword, "usemtl")) {
      UseMaterial(cursor.NextWord());
    } else if (EqualsIgnoringCase(keyword, "mtllib")) {
      LoadLibrary(cursor.NextWord());
    }
  }

 private:
  // Components that do not parse keep the previous vertex's values.
  void ReadVertex(TextCursor& cursor) {
    Vector point = vertices_.empty() ? Vector{} : vertices_.back();
    for (int axis = 0; axis < 3; ++axis) {
      const std::optional<float> value = cursor.NextFloat();
      if (!value) break;
      point[axis] = *value;
    }
    vertices_.push_back(point);
  }

  // Index as written -> vertex position, clamped into the vertices read so
  // far: 1 is the first vertex (so 0 ends up there too), -1 the last one.
  int VertexIndex(std::int64_t written) const {
    const auto count = static_cast<std::int64_t>(vertices_.size());
    const std::int64_t index = written >= 0 ? written - 1 : count + written;
    return static_cast<int>(std::clamp<std::int64_t>(index, 0, count - 1));
  }

  void ReadFace(TextCursor& cursor) {
    if (vertices_.empty()) return;
    corners_.clear();
    for (std::string_view word = cursor.NextWord(); !word.empty(); word = cursor.NextWord()) {
      const std::optional<std::int64_t> written = LeadingInteger(word);
      if (!written) break;
      corners_.push_back(VertexIndex(*written));
    }
    DeliverFace();
  }

  void DeliverFace() {
    const auto at = [this](size_t k) { return vertices_[corners_[k]]; };
    if (corners_.size() == 3) {
      sink_.AddTriangle(material_, at(0), at(1), at(2));
    } else if (corners_.size() == 4) {
      sink_.AddQuad(material_, at(0), at(1), at(2), at(3));
    } else if (corners_.size() >= 5) {
      for (const TriangleIndices& t : TriangulatePolygon(vertices_, corners_))
        sink_.AddTriangle(material_, vertices_[t[0]], vertices_[t[1]], vertices_[t[2]]);
    }
  }

  // A name not in the table leaves the current material as it was.
  void UseMaterial(std::string_view name) {
    const auto found = materials_.find(std::string(name));
    if (found != materials_.end()) material_ = found->second;
  }

  void LoadLibrary(std::string_view name) {
    if (name.empty()) return;
    if (!ReadMtlFile(WithForwardSlashes(name), materials_, sink_))
      ReadMtlFile(JoinPath(directory_, name), materials_, sink_);
  }

  const std::string& directory_;
  ImportSink& sink_;
  std::vector<Vector> vertices_;
  std::vector<int> corners_;
  ObjMaterialTable materials_;
  QXMaterial* material_ = nullptr;
};

// The material being defined by an MTL library.
struct MtlMaterial {
  std::string name;
  Colour ambient{0.2f, 0.2f, 0.2f, 1};
  Colour diffuse{0.8f, 0.8f, 0.8f, 1};
  Colour specular{0, 0, 0, 1};
  float shininess = 0;
};

std::optional<std::string> ReadWholeFile(const std::string& name) {
  const FilePointer file = OpenForReading(name);
  if (!file) return std::nullopt;
  std::string text;
  char buffer[1 << 14];
  for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0;) text.append(buffer, got);
  return text;
}

// Reads up to three floats into r, g, b; a component that does not parse
// ends the colour and is left for the next word.
void ReadColour(TextCursor& cursor, Colour& colour) {
  for (int k = 0; k < 3; ++k) {
    const std::optional<float> value = cursor.NextFloat();
    if (!value) return;
    colour[k] = *value;
  }
}

void FinishMaterial(const MtlMaterial& material, ObjMaterialTable& materials, ImportSink& sink) {
  materials[material.name] =
      sink.MakeMaterial(material.ambient, material.diffuse, material.specular, material.shininess);
}

// One MTL statement, chosen by its first word.
void ReadMtlStatement(std::string_view word, TextCursor& cursor, std::optional<MtlMaterial>& current,
                      ObjMaterialTable& materials, ImportSink& sink) {
  const char second = word.size() > 1 ? word[1] : '\0';
  if (word[0] == 'K' && current && (second == 'a' || second == 'd' || second == 's')) {
    ReadColour(cursor, second == 'a' ? current->ambient : second == 'd' ? current->diffuse : current->specular);
  } else if (word == "Ns") {
    if (const std::optional<float> value = cursor.NextFloat(); value && current) current->shininess = *value * 0.001f;
  } else if (word[0] == 'n') {
    TextCursor rest(cursor.RestOfLine());
    if (current) FinishMaterial(*current, materials, sink);
    current.emplace();
    current->name = std::string(rest.NextWord());
  } else if (word != "refl") {
    // Comments, other statements and their arguments (texture maps among
    // them) end with the line.
    cursor.RestOfLine();
  }
}

}  // namespace

bool ReadObjFile(const std::string& fileName, const std::string& directory, ImportSink& sink) {
  const FilePointer file = OpenForReading(fileName);
  if (!file) return false;
  ObjReader reader(directory, sink);
  LineReader lines(file.get());
  std::string line;
  while (lines.Next(line)) reader.ReadLine(line);
  return true;
}

bool ReadMtlFile(const std::string& fileName, ObjMaterialTable& materials, ImportSink& sink) {
  const std::optional<std::string> text = ReadWholeFile(fileName);
  if (!text) return false;
  TextCursor cursor(*text);
  std::optional<MtlMaterial> current;
  for (std::string_view word = cursor.NextWord(); !word.empty(); word = cursor.NextWord())
    ReadMtlStatement(word, cursor, current, materials, sink);
  if (current) FinishMaterial(*current, materials, sink);
  return true;
}

}  // namespace qx
