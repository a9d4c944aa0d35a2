#include "import/ldraw_library.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace qx {
namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), LowerAscii);
  return lower;
}

std::string JoinPath(std::string_view dir, std::string_view name) {
  std::string path(dir);
  if (!path.empty() && path.back() != '/' && path.back() != '\\') path.push_back('/');
  path.append(name);
  return path;
}

void AddUnique(std::vector<std::string>& paths, std::string path) {
  if (std::find(paths.begin(), paths.end(), path) == paths.end()) paths.push_back(std::move(path));
}

}  // namespace

std::string LDrawSlashes(std::string_view name) {
  std::string slashed(name);
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  return slashed;
}

std::string LDrawNameKey(std::string_view name) {
  constexpr std::string_view kBlanks = " \t\r\n";
  const size_t first = name.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const size_t last = name.find_last_not_of(kBlanks);
  return Lower(LDrawSlashes(name.substr(first, last - first + 1)));
}

std::vector<std::string> LDrawCandidatePaths(std::string_view name, std::string_view ldraw_dir,
                                             std::string_view model_dir) {
  const std::string as_written = LDrawSlashes(name);
  const std::string spellings[] = {as_written, Lower(as_written)};
  std::vector<std::string> paths;
  AddUnique(paths, std::string(name));
  for (const std::string& spelling : spellings) AddUnique(paths, spelling);
  const bool absolute = as_written.starts_with('/');
  if (!ldraw_dir.empty() && !absolute) {
    for (const char* folder : {"parts", "Parts", "p", "P"}) {
      const std::string base = JoinPath(ldraw_dir, folder);
      for (const std::string& spelling : spellings) AddUnique(paths, JoinPath(base, spelling));
    }
  }
  if (!model_dir.empty() && !absolute) {
    for (const std::string& spelling : spellings) AddUnique(paths, JoinPath(model_dir, spelling));
  }
  return paths;
}

std::optional<std::string> FindLDrawFile(std::string_view name, std::string_view ldraw_dir,
                                         std::string_view model_dir) {
  if (name.empty()) return std::nullopt;
  for (std::string& path : LDrawCandidatePaths(name, ldraw_dir, model_dir)) {
    std::error_code error;
    if (std::filesystem::is_regular_file(path, error)) return std::move(path);
  }
  return std::nullopt;
}

std::string LDrawDirectoryOf(std::string_view path) {
  const size_t separator = path.find_last_of("/\\");
  if (separator == std::string_view::npos) return {};
  return std::string(path.substr(0, separator + 1));
}

}  // namespace qx
