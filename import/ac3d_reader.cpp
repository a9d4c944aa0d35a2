#include "import/ac3d_reader.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "common/diagnostics.h"
#include "import/ear_clipping.h"

namespace qx {
namespace {

// Lines hold at most 255 characters; the rest of a longer line is read as
// the next line.
constexpr int kLineBufferSize = 256;
// Real models nest a few levels; the limit keeps a hostile file from
// exhausting the stack.
constexpr int kMaxObjectDepth = 256;
// The tokens of a MATERIAL line: the word, the name and ten label/value
// groups: rgb, amb, emis and specular colours (three numbers each), shi s,
// trans t.
constexpr size_t kMaterialTokens = 22;

bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

const char* SkipSeparators(const char* text) {
  while (*text != '\0' && IsSeparator(*text)) ++text;
  return text;
}

std::string_view FirstWord(const char* line) {
  const char* start = SkipSeparators(line);
  const char* end = start;
  while (*end != '\0' && !IsSeparator(*end)) ++end;
  return {start, static_cast<size_t>(end - start)};
}

// Splits a line at blanks; a token opening with a double quote runs to the
// next double quote (or the line end) and loses its quotes.
std::vector<std::string> Tokenize(const char* line) {
  std::vector<std::string> tokens;
  for (const char* p = SkipSeparators(line); *p != '\0'; p = SkipSeparators(p)) {
    const char* start = p;
    if (*p == '"') {
      start = ++p;
      while (*p != '\0' && *p != '"') ++p;
      tokens.emplace_back(start, p);
      if (*p == '"') ++p;
    } else {
      while (*p != '\0' && !IsSeparator(*p)) ++p;
      tokens.emplace_back(start, p);
    }
  }
  return tokens;
}

// Reads up to `count` floats from `text` into `values`, stopping at the
// first that does not parse; returns how many were read.
int ParseFloats(const char* text, float* values, int count) {
  const char* end = text + std::strlen(text);
  for (int k = 0; k < count; ++k) {
    text = SkipSeparators(text);
    if (*text == '+') ++text;
    const auto [next, error] = std::from_chars(text, end, values[k]);
    if (error != std::errc()) return k;
    text = next;
  }
  return count;
}

float TokenValue(const std::string& token) {
  float value = 0;
  ParseFloats(token.c_str(), &value, 1);
  return value;
}

// The integer after a line's first word ("numvert 12"); 0 when missing.
// `word` views the line buffer, which continues after it.
long CountAfterWord(std::string_view word) {
  return std::strtol(word.data() + word.size(), nullptr, 10);
}

// A point as a row vector times m, divided by w when w is not near zero.
Vector TransformRowVector(Vector p, const Matrix& m) {
  Vector q{p.x * m[0] + p.y * m[4] + p.z * m[8] + m[12], p.x * m[1] + p.y * m[5] + p.z * m[9] + m[13],
           p.x * m[2] + p.y * m[6] + p.z * m[10] + m[14]};
  const float w = p.x * m[3] + p.y * m[7] + p.z * m[11] + m[15];
  return std::fabs(w) > 1e-10f ? q * (1.0f / w) : q;
}

struct Surface {
  int material = -1;
  std::vector<int> references;  // point indices as written
};

class Ac3dReader {
 public:
  Ac3dReader(std::FILE* file, ImportSink& sink) : file_(file), sink_(sink) {}

  bool ReadHeader(const std::string& fileName) {
    const char* start = NextLine() ? line_ : "";
    if (std::strncmp(start, "\xEF\xBB\xBF", 3) == 0) start += 3;
    if (std::strncmp(start, "AC3D", 4) == 0) return true;
    PrintMessage("ac_load_ac '%s' is not a valid AC3D file.", fileName.c_str());
    return false;
  }

  // Reads one object and, through "kids", its children. Returns false when
  // a surface or a child could not be read; the read then stops.
  bool ReadObject(const Matrix& parent, int depth) {
    if (depth > kMaxObjectDepth) return false;
    Matrix local = IdentityMatrix();
    std::vector<Vector> points;
    while (NextLine()) {
      const std::string_view word = FirstWord(line_);
      if (word == "MATERIAL") {
        ReadMaterial();
      } else if (word == "rot") {
        ReadRotation(word, local);
      } else if (word == "loc") {
        ParseFloats(word.data() + word.size(), &local[12], 3);
      } else if (word == "url") {
        CheckUrl();
      } else if (word == "numvert") {
        ReadPoints(CountAfterWord(word), MatrixProduct(local, parent), points);
      } else if (word == "numsurf") {
        if (!ReadSurfaces(CountAfterWord(word), points)) return false;
      } else if (word == "kids") {
        local = MatrixProduct(local, parent);
        if (!ReadChildren(CountAfterWord(word), local, depth)) return false;
        sink_.EndObject(nullptr);
        return true;
      }
      // OBJECT, name, data, texture, texrep, crease and the rest change
      // nothing here.
    }
    sink_.EndObject(nullptr);
    return true;
  }

 private:
  bool NextLine() {
    if (!std::fgets(line_, sizeof line_, file_)) return false;
    ++lineNumber_;
    return true;
  }

  void ReadMaterial() {
    const std::vector<std::string> t = Tokenize(line_);
    if (t.size() != kMaterialTokens) {
      PrintMessage("expected 21 params after \"MATERIAL\" - line %d\n", lineNumber_);
      return;
    }
    const float alpha = 1 - TokenValue(t[21]);
    const Colour diffuse{TokenValue(t[3]), TokenValue(t[4]), TokenValue(t[5]), alpha};
    const Colour ambient{TokenValue(t[7]), TokenValue(t[8]), TokenValue(t[9]), alpha};
    const Colour specular{TokenValue(t[15]), TokenValue(t[16]), TokenValue(t[17]), alpha};
    materials_.push_back(sink_.MakeMaterial(ambient, diffuse, specular, TokenValue(t[19]) * 0.0078125f));
  }

  // The 3x3 rotation, row by row, into the upper-left of the local matrix.
  void ReadRotation(std::string_view word, Matrix& local) {
    float r[9];
    const int read = ParseFloats(word.data() + word.size(), r, 9);
    static constexpr int kElement[9] = {0, 1, 2, 4, 5, 6, 8, 9, 10};
    for (int k = 0; k < read; ++k) local[kElement[k]] = r[k];
  }

  void CheckUrl() {
    const std::vector<std::string> t = Tokenize(line_);
    if (t.size() != 2) PrintMessage("expected one arg to url at line %d (got %s)\n", lineNumber_, t[0].c_str());
  }

  // Up to `count` vertex lines (fewer when the file ends first); missing
  // coordinates read as 0.
  void ReadPoints(long count, const Matrix& objectMatrix, std::vector<Vector>& points) {
    points.clear();
    for (long k = 0; k < count && NextLine(); ++k) {
      float xyz[3] = {0, 0, 0};
      ParseFloats(line_, xyz, 3);
      points.push_back(TransformRowVector({xyz[0], xyz[1], xyz[2]}, objectMatrix));
    }
  }

  bool ReadSurfaces(long count, const std::vector<Vector>& points) {
    for (long k = 0; k < count; ++k) {
      Surface surface;
      if (!ReadSurface(surface)) {
        PrintMessage("error whilst reading surface at line: %d\n", lineNumber_);
        return false;
      }
      DeliverSurface(surface, points);
    }
    return true;
  }

  // Reads SURF, mat and refs lines up to and including the references.
  // False when the file ends before them.
  bool ReadSurface(Surface& surface) {
    while (NextLine()) {
      const std::string_view word = FirstWord(line_);
      if (word == "SURF") {
        if (Tokenize(line_).size() != 2) PrintMessage("SURF should be followed by one flags argument\n");
      } else if (word == "mat") {
        const long material = CountAfterWord(word);
        surface.material = material >= 0 && material <= 0x7FFFFFFF ? static_cast<int>(material) : -1;
      } else if (word == "refs") {
        return ReadReferences(CountAfterWord(word), surface);
      } else if (!word.empty()) {
        PrintMessage("ignoring %.*s\n", static_cast<int>(word.size()), word.data());
      }
    }
    return false;
  }

  // `count` lines "index u v"; texture coordinates are not kept. A line
  // without an index gives -1, which drops the surface later.
  bool ReadReferences(long count, Surface& surface) {
    for (long k = 0; k < count; ++k) {
      if (!NextLine()) return false;
      char* end = nullptr;
      const long index = std::strtol(line_, &end, 10);
      const bool valid = end != line_ && index >= 0 && index <= 0x7FFFFFFF;
      surface.references.push_back(valid ? static_cast<int>(index) : -1);
    }
    return true;
  }

  void DeliverSurface(const Surface& surface, const std::vector<Vector>& points) {
    for (int index : surface.references)
      if (index < 0 || static_cast<size_t>(index) >= points.size()) return;
    QXMaterial* material = nullptr;
    if (surface.material >= 0 && static_cast<size_t>(surface.material) < materials_.size())
      material = materials_[surface.material];
    for (const TriangleIndices& t : TriangulatePolygon(points, surface.references))
      sink_.AddTriangle(material, points[t[0]], points[t[1]], points[t[2]]);
  }

  // A child missing because the file ended is an error, like any child that
  // fails; this also bounds the loop for counts the file cannot hold.
  bool ReadChildren(long count, const Matrix& parent, int depth) {
    for (long k = 0; k < count; ++k) {
      if (AtEndOfFile() || !ReadObject(parent, depth + 1)) {
        PrintMessage("error reading expected child object %ld of %ld at line: %d\n", k + 1, count, lineNumber_);
        return false;
      }
    }
    return true;
  }

  bool AtEndOfFile() {
    const int c = std::fgetc(file_);
    if (c == EOF) return true;
    std::ungetc(c, file_);
    return false;
  }

  std::FILE* file_;
  ImportSink& sink_;
  char line_[kLineBufferSize] = {};
  int lineNumber_ = 0;
  std::vector<QXMaterial*> materials_;
};

}  // namespace

bool ReadAc3dFile(const std::string& fileName, ImportSink& sink, std::string* failure) {
  const auto fail = [failure](const std::string& why) {
    if (failure) *failure = why;
    return false;
  };
  const std::unique_ptr<std::FILE, decltype(&std::fclose)> file(std::fopen(fileName.c_str(), "rb"), &std::fclose);
  if (!file) {
    PrintMessage("can't open %s\n", fileName.c_str());
    return fail("the file cannot be opened");
  }
  Ac3dReader reader(file.get(), sink);
  if (!reader.ReadHeader(fileName)) return fail("not an AC3D file: its first line does not start with \"AC3D\"");
  if (!reader.ReadObject(IdentityMatrix(), 0)) return fail("the objects break off before the end of the file");
  return true;
}

}  // namespace qx
