// Finding LDraw files: a model names its sub-files the way the part library
// was laid out on the system it was written on, e.g. "s\3001s01.dat" or
// "48\4-4CYLI.DAT", while the library on disk keeps lower-case names under
// `parts/` (with `parts/s/`) and `p/` (with `p/48/`, `p/8/`). A name read from
// a file therefore accepts both `\` and `/` as separators and is also tried in
// lower case.
//
// Search order for a name N:
//   1. N as given (relative to the working directory, or absolute);
//   2. <LDraw directory>/parts/N, then <LDraw directory>/Parts/N;
//   3. <LDraw directory>/p/N, then <LDraw directory>/P/N;
//   4. <model directory>/N.
// Within each step N is tried as written (separators made `/`) and then in
// lower case. Steps 2 and 3 are skipped when the LDraw directory is empty and
// step 4 when the model directory is empty.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qx {

// `name` with every `\` replaced by `/`.
std::string LDrawSlashes(std::string_view name);

// The form under which LDraw names are compared: separators made `/`, ASCII
// letters in lower case, blanks (space, tab, CR, LF) at both ends removed.
// "S\\3001S01.DAT " and "s/3001s01.dat" have the same key.
std::string LDrawNameKey(std::string_view name);

// Every path tried for `name`, in the search order above, without duplicates.
// The directories may end in `/` or not.
std::vector<std::string> LDrawCandidatePaths(std::string_view name, std::string_view ldraw_dir,
                                             std::string_view model_dir);

// The first candidate of `LDrawCandidatePaths` that is a regular file, or
// none. Touches the file system only through status queries; never throws.
std::optional<std::string> FindLDrawFile(std::string_view name, std::string_view ldraw_dir,
                                         std::string_view model_dir);

// The directory part of `path` (up to and including its last `/` or `\`), or
// empty when it has none: the model directory for `FindLDrawFile`.
std::string LDrawDirectoryOf(std::string_view path);

}  // namespace qx
