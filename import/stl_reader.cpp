#include "import/stl_reader.h"

#include <bit>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <locale.h>
#include <memory>
#include <string_view>

#include "common/diagnostics.h"
#include "common/text.h"

namespace qx {
namespace {

constexpr Colour kNoColour{0.0f, 0.0f, 0.0f, -1.0f};

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Opens `name` for binary reading when it is a regular file (a directory or a
// device would make the readers fail late or never end).
File OpenRegularFile(const std::string& name) {
  std::error_code error;
  if (name.empty() || !std::filesystem::is_regular_file(name, error)) return nullptr;
  return File(std::fopen(name.c_str(), "rb"));
}

// ---------------------------------------------------------------------------
// Binary

constexpr std::int64_t kHeaderSize = 80;
constexpr std::int64_t kFacetSize = 50;
constexpr std::int64_t kSizeTolerance = 2;

std::uint32_t LittleEndian32(const unsigned char* bytes) {
  return std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 | std::uint32_t(bytes[2]) << 16 |
         std::uint32_t(bytes[3]) << 24;
}

// Reads N little-endian floats; those the file does not hold any more keep
// the value they had.
template <std::size_t N>
void ReadFloats(std::FILE* file, float (&values)[N]) {
  unsigned char bytes[N * 4];
  const std::size_t got = std::fread(bytes, 1, sizeof bytes, file);
  for (std::size_t i = 0; (i + 1) * 4 <= got; ++i) values[i] = std::bit_cast<float>(LittleEndian32(bytes + 4 * i));
}

void Skip(std::FILE* file, std::size_t bytes) {
  unsigned char dropped[kHeaderSize];
  (void)std::fread(dropped, 1, bytes, file);
}

// ---------------------------------------------------------------------------
// ASCII

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

const char* SkipSpace(const char* text) {
  while (*text && IsSpace(*text)) ++text;
  return text;
}

const char* SkipWord(const char* text) {
  while (*text && !IsSpace(*text)) ++text;
  return text;
}

bool WordIs(std::string_view word, std::string_view keyword) {
  if (word.size() != keyword.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(word[i])) != keyword[i]) return false;
  return true;
}

// sscanf(text, "%*s %e %e ...") with up to `count` floats: skips one word,
// then reads numbers while they parse. Returns how many were read (0 when
// there is no word).
int ScanFloatsAfterWord(const char* text, float* values, int count) {
  const char* cursor = SkipSpace(text);
  if (!*cursor) return 0;
  cursor = SkipWord(cursor);
  int read = 0;
  while (read < count) {
    char* end = nullptr;
    const float value = std::strtof(cursor, &end);
    if (end == cursor) break;
    values[read++] = value;
    cursor = end;
  }
  return read;
}

class AsciiStlReader {
 public:
  AsciiStlReader(std::FILE* file, ImportSink& sink) : file_(file), sink_(sink) {}

  void Run() {
    while (NextLine()) {
      const char* first = SkipSpace(line_);
      if (!*first || *first == '#' || *first == '!' || *first == '$') continue;
      const char* firstEnd = SkipWord(first);
      const std::string_view word(first, std::size_t(firstEnd - first));
      if (WordIs(word, "facet")) {
        ReadFacet();  // the normal on this line is not used
      } else if (WordIs(word, "color")) {
        ReadColour(firstEnd);
      } else if (!WordIs(word, "solid") && !WordIs(word, "endsolid")) {
        PrintMessage("\nSTLA_READ - Fatal error!\n  Unrecognized first word on line.\n");
      }
    }
  }

 private:
  // The next line (or 1023-character piece of one); false at the end of the
  // file, where every later call is false too.
  bool NextLine() { return std::fgets(line_, sizeof line_, file_) != nullptr; }

  void ReadFacet() {
    NextLine();  // "outer loop"
    // Only the first four points can be used; a fifth just marks the facet as
    // one to drop, so the count stops there and memory stays fixed.
    constexpr int kTooMany = 5;
    Vector points[4];
    int count = 0;
    float xyz[3];
    while (NextLine() && ScanFloatsAfterWord(line_, xyz, 3) == 3) {  // "vertex x y z" ...
      if (count < 4) points[count] = {xyz[0], xyz[1], xyz[2]};
      if (count < kTooMany) ++count;
    }  // ... up to and including the first other line ("endloop")
    if (count == 3) sink_.AddTriangleColor(colour_, points[0], points[1], points[2]);
    if (count == 4) sink_.AddQuadColor(colour_, points[0], points[1], points[2], points[3]);
    NextLine();  // "endfacet"
  }

  // "color x r g b a": the components that are read replace the current ones.
  void ReadColour(const char* rest) {
    float rgba[4];
    const int read = ScanFloatsAfterWord(rest, rgba, 4);
    for (int i = 0; i < read; ++i) colour_[std::size_t(i)] = rgba[i];
  }

  std::FILE* file_;
  ImportSink& sink_;
  char line_[1024];
  Colour colour_ = kNoColour;
};

}  // namespace

bool ReadStlBinary(const std::string& fileName, ImportSink& sink) {
  File file = OpenRegularFile(fileName);
  if (!file) return false;
  if (std::fseek(file.get(), 0, SEEK_END) != 0) return false;
  const std::int64_t length = std::ftell(file.get());
  if (length < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0) return false;

  Skip(file.get(), kHeaderSize);
  unsigned char countBytes[4] = {0, 0, 0, 0};  // bytes the file lacks stay 0
  (void)std::fread(countBytes, 1, sizeof countBytes, file.get());
  const std::int32_t facets = static_cast<std::int32_t>(LittleEndian32(countBytes));

  const std::int64_t excess = length - (kHeaderSize + 4) - kFacetSize * std::int64_t(facets);
  if (excess < -kSizeTolerance || excess > kSizeTolerance) return false;
  if (facets < 1) return true;

  float vertices[9] = {};
  for (std::int32_t i = 0; i < facets; ++i) {
    float normal[3] = {};
    ReadFloats(file.get(), normal);  // not used
    ReadFloats(file.get(), vertices);
    sink.AddTriangleColor(kNoColour, {vertices[0], vertices[1], vertices[2]}, {vertices[3], vertices[4], vertices[5]},
                          {vertices[6], vertices[7], vertices[8]});
    Skip(file.get(), 2);  // attribute word, never a colour
  }
  return true;
}

bool ReadStlAscii(const std::string& fileName, ImportSink& sink) {
  File file = OpenRegularFile(fileName);
  if (!file) return false;
  CNumericLocale cLocale;
  AsciiStlReader(file.get(), sink).Run();
  return true;
}

bool ReadStl(const std::string& fileName, ImportSink& sink) {
  return ReadStlBinary(fileName, sink) || ReadStlAscii(fileName, sink);
}

}  // namespace qx
