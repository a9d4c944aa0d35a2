// LDraw reader: brick models (.ldr, .dat, .mpd) and their sub-files.
//
// An LDraw file is a list of lines whose first number is the line type:
//   0 <text>                        comment or meta command (COLOR, FILE, NOFILE)
//   1 <colour> x y z a b c d e f g h i <file>   sub-file reference
//   2 <colour> 6 numbers            line
//   3 <colour> 9 numbers            triangle
//   4 <colour> 12 numbers           quad
//   5 <colour> 6 numbers            optional line
// Tokens are separated by blanks or commas. Lines with the wrong count of
// numbers, or with a number that is not finite, are skipped; a blank line and
// the end of every file or embedded file call `Flush`.
//
// Sub-files are not read by the reader itself: a type-1 line only calls
// `ImportSink::IncludeModel` with the column-major matrix
//   a, d, g, 0,  b, e, h, 0,  c, f, i, 0,  x, y, z, 1
// and the importer decides whether (and how often) to read the sub-file, by
// calling `ReadLDraw` (or `LDrawReader::ReadSubFile`) again from inside
// `IncludeModel`. The reader is re-entrant for that: every read keeps its own
// file and position on the stack, and the state shared by one import (the
// embedded files of a multi-part file, the files being read, the limits)
// lives in one `LDrawReader` object.
//
// Multi-part files (.mpd) hold several files, each starting with a line
// "0 FILE <name>" and ending at the next such line, at "0 NOFILE" or at the
// end of the file. The first one is the model, unless lines of types 1 to 5
// come before the first FILE line: then those lines are the model (as in
// "packed" files that carry every part they use). The others are read only
// when referenced. A reference resolves to an embedded file of the top-level model
// before the disk is searched (names compared as `LDrawNameKey` does).
//
// Hostile input: lines longer than `kLDrawMaxLineLength` are skipped whole in
// bounded memory; self-reference (directly or through a cycle) is refused
// because a file already being read is never read again inside itself; the
// nesting depth and the total count of lines read per import are limited, so
// that files that reference each other many times over cannot make the
// import run without end.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/geometry.h"
#include "import/import_sink.h"

namespace qx {

// Lines longer than this many characters are skipped.
inline constexpr size_t kLDrawMaxLineLength = 1024;

// ---- Colours ----------------------------------------------------------------

// The colour of LDraw colour number `number`:
//   - 0..63 with a defined table entry: the entry / 255, alpha 1 below 32 and
//     0 (transparent) from 32 on;
//   - 256..511: the dithered pair of entries (number & 15) and
//     ((number >> 4) & 15), each component their sum / 510, alpha 1;
//   - direct colours by the top byte t = number >> 24: t = 2 is 0x2RRGGBB
//     (alpha 1), t = 3 the same with alpha 0, t = 4 the mean of two 12-bit
//     colours 0x4RGBrgb (alpha 1), t = 5 and t = 6 a 12-bit colour in bits
//     20..12 or 8..0 (alpha 0), t = 7 black (alpha 1).
// Anything else (undefined entries such as 16, the "inherit" colour, and 24,
// the edge colour; negative numbers) is no colour: alpha -1.
Colour LDrawColour(int64_t number);

// Defines table entry `number` (0..63) as (red, green, blue); returns false,
// changing nothing, for another number. Changes last for the whole run, as a
// "0 COLOR" line in a model does.
bool SetLDrawColourEntry(int number, uint8_t red, uint8_t green, uint8_t blue);

// Restores the built-in colour table (undoing every `SetLDrawColourEntry`).
void ResetLDrawColours();

// ---- Quads ------------------------------------------------------------------

// The four corners in an order that forms a convex quad, the first corner kept
// first. The orders (0 1 2 3), (0 1 3 2), (0 2 1 3), (0 2 3 1), (0 3 1 2),
// (0 3 2 1) are tried in turn; an order is taken when a corner is degenerate
// (its two edges have a zero cross product) or when the corner normals
// (p - next) x (p - previous) all point the same way (every pair has a
// positive dot product). When no order qualifies the corners stay as given.
std::array<Vector, 4> OrderLDrawQuad(const std::array<Vector, 4>& corners);

// ---- Reading ----------------------------------------------------------------

// Bounds of one import. The defaults leave room for the largest real models:
// a set of 2,450 parts read afresh per reference (no cache) reads about 13
// million lines, 13 files deep at most.
struct LDrawLimits {
  int max_depth = 64;               // files open inside each other
  int64_t max_lines = 100'000'000;  // lines read over the whole import
};

// Warnings of one import; none of them makes the read fail.
struct LDrawReadReport {
  int64_t lines_read = 0;
  int skipped_lines = 0;   // malformed: wrong count of numbers, a number that
                           // is not finite, a line too long, no file name
  int missing_files = 0;   // names that no search found (a message was printed)
  int refused_reads = 0;   // sub-files not read: already being read (a cycle)
                           // or nested deeper than `max_depth`
  bool stopped_at_line_limit = false;
};

// One import's reading session: the LDraw and model directories, the embedded
// files of the top-level model, the files being read, the limits.
class LDrawReader {
 public:
  // `ldraw_dir` is the root of the part library, `model_dir` the directory of
  // the top-level file; either may be empty (that search step is skipped).
  LDrawReader(std::string ldraw_dir, std::string model_dir, LDrawLimits limits = {});
  LDrawReader(const LDrawReader&) = delete;
  LDrawReader& operator=(const LDrawReader&) = delete;

  // Finds `file_name` (see ldraw_library.h), notes its embedded files, and
  // reads it (for a multi-part file: its first embedded file) into `sink`.
  // While it runs, this reader is `Active()` on the calling thread, so that
  // nested `ReadLDraw` calls from `IncludeModel` join this session. Returns
  // false, after printing "\nFile %s not found", when the file is not found
  // or cannot be opened. Called from inside one of this reader's reads, it
  // acts as `ReadSubFile`.
  bool ReadModel(std::string_view file_name, ImportSink& sink);

  // Reads the sub-file a type-1 line names: an embedded file of the top-level
  // model when one has that name, else the first file found on disk. Returns
  // false when it is not found (message printed), when it is already being
  // read (a cycle) or when the nesting limit is reached; nothing is delivered
  // then.
  bool ReadSubFile(std::string_view name, ImportSink& sink);

  // Whether `name` resolves to an embedded file of the top-level model.
  bool HasEmbeddedFile(std::string_view name) const;

  const LDrawReadReport& Report() const { return report_; }

  // The reader whose `ReadModel` is running on this thread, or null.
  static LDrawReader* Active();

 private:
  // Where one read takes its lines from.
  struct Source {
    std::string path;
    long offset = 0;                // start of the first line to read
    bool embedded = false;          // an embedded file: ends at FILE / NOFILE
    std::vector<std::string> keys;  // marks it as being read (cycle guard)
  };
  // Where a referenced name is read from (embedded file, then disk); none
  // when it is not found. Answers are kept for the rest of the session.
  const Source* Resolve(std::string_view name);
  bool ReadSource(const Source& source, ImportSink& sink);
  void IndexEmbeddedFiles(const std::string& path);
  bool InProgress(const std::string& key) const;

  std::string ldraw_dir_;
  std::string model_dir_;
  LDrawLimits limits_;
  LDrawReadReport report_;
  std::string top_path_;
  std::map<std::string, long> embedded_;  // name key -> offset after its FILE line
  std::map<std::string, std::optional<Source>, std::less<>> resolved_;  // name as written -> source
  long first_embedded_offset_ = -1;       // the model's embedded file, or -1
  std::vector<std::string> in_progress_;  // keys of the files being read, outermost first
  int depth_ = 0;                         // files open inside each other
};

// The reader entry of the import front end. Called outside any read, it reads
// the model `file_name` with a fresh `LDrawReader` (ldraw_dir and model_dir as
// there; null counts as empty). Called while a read is in progress on this
// thread (that is, from the sink's `IncludeModel`), it reads the sub-file
// `file_name` within that session (`ReadSubFile`); the directory arguments
// are then those of the session. Returns success as those functions do.
bool ReadLDraw(const char* file_name, const char* ldraw_dir, const char* model_dir, ImportSink& sink);

}  // namespace qx
