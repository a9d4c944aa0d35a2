#include "app/dialog_rules.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "scene/rate_table.h"

namespace qx {
namespace {

constexpr int kPrecisionEntries = 64;
constexpr int kListEntries = 256;  // the neighbours' and dependencies' lists: 0 … 255
constexpr int kGridEntries = 8;

std::optional<std::string> FileNameProblem(const std::string& fileName) {
  if (fileName.empty()) return "Give the name of a file.";
  if (fileName.size() > kDialogFileNameLimit) return "The file name is longer than 127 characters.";
  return std::nullopt;
}

bool IsFolder(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_directory(path, error);
}

}  // namespace

// --- "Save QX". ---

std::vector<std::string> PrecisionEntries() {
  std::vector<std::string> entries{"None"};
  for (int n = 1; n < kPrecisionEntries; ++n) entries.push_back(std::to_string(n) + " bits");
  return entries;
}
// Our own entropy-coded coders come after the original entries, so that
// stored indices keep their meaning.
std::vector<std::string> ConnectivityEntries() { return {"Raw", "Model 2", "Dense"}; }
std::vector<std::string> GeometryEntries() { return {"Raw", "Rectangular", "Polar", "Polar adaptativo", "Dense"}; }
std::vector<std::string> PredictorEntries() { return {"Centroide", "Butterfly"}; }

double PrecisionBound(int entry) {
  return entry > 0 && entry < kPrecisionEntries ? std::ldexp(1.0, -entry) : 0.0;
}

std::string BoundText(double bound) {
  char text[32];
  std::snprintf(text, sizeof text, "%.8g", bound);
  return text;
}

std::string PackedFileName(std::string_view fileName, bool packed) {
  const size_t dot = fileName.find_last_of('.');
  const std::string_view stem = dot == std::string_view::npos ? fileName : fileName.substr(0, dot);
  return packed ? std::string(stem) + ".qx4.qxz" : std::string(stem);
}

SaveDialogState SaveDialogState::Open(const SaveDialogSettings& stored, const std::string& fileName) {
  SaveDialogState state{stored, fileName, ""};
  state.SelectPrecision(stored.bitsError);
  return state;
}

void SaveDialogState::SelectPrecision(int entry) {
  options.bitsError = entry;
  boundText = BoundText(PrecisionBound(entry));
}

void SaveDialogState::SetPacking(bool packed) {
  options.useZLib = packed;
  fileName = PackedFileName(fileName, packed);
}

std::string SaveDialogState::Confirm() {
  if (auto problem = FileNameProblem(fileName)) return *problem;
  // The whole text must be a number: a bound half read would save a scene
  // with precision the user did not ask for.
  char* end = nullptr;
  const double typed = std::strtod(boundText.c_str(), &end);
  while (end && (*end == ' ' || *end == '\t')) ++end;
  if (boundText.empty() || !end || *end != '\0' || !std::isfinite(typed) || typed < 0)
    return "The bound \"" + boundText + "\" is not a number of 0 or more.";
  bound = typed;
  options.defaultFile = fileName;
  return "";
}

// --- "Load QX". ---

std::vector<std::string> RateEntries() {
  std::vector<std::string> entries;
  for (const LineRate& rate : kLineRates) entries.emplace_back(rate.label);
  return entries;
}

LoadDialogState LoadDialogState::Open(const LoadDialogSettings& stored) { return {stored, stored.defaultFile}; }

std::optional<int> LoadDialogState::RateSelection() const {
  return ListSelection(options.speedModem, static_cast<int>(kLineRates.size()));
}

std::string LoadDialogState::Confirm() {
  if (auto problem = FileNameProblem(fileName)) return *problem;
  const std::optional<int> entry = RateSelection();
  if (options.emulateModem && !entry) return "Choose a modem speed.";
  rate = options.emulateModem ? kLineRates[static_cast<size_t>(*entry)].bytesPerSecond : 0;
  options.defaultFile = fileName;
  return "";
}

// --- Import options. ---

std::vector<std::string> StrategyEntries() { return {"Standard", "Sculptor", "Batch"}; }

std::vector<std::string> GridEntries() {
  std::vector<std::string> entries;
  for (int entry = 0; entry < kGridEntries; ++entry) entries.push_back(std::to_string(2 << entry));
  return entries;
}

int LevelSliderPosition(float level) {
  return static_cast<int>(std::clamp(level, 0.0f, 1.0f) * static_cast<float>(kLevelSliderMaximum));
}

float LevelOfSliderPosition(int position) { return static_cast<float>(position) * 0.0005f; }

std::optional<int> GridSelection(float gridFactor) {
  if (!(gridFactor > 0)) return std::nullopt;
  return ListSelection(static_cast<int>(std::log2(1.0 / gridFactor)) - 1, kGridEntries);
}

float GridFactorOfSelection(int entry) { return 1.0f / static_cast<float>(2 << entry); }

std::optional<int> ListSelection(int value, int count) {
  if (value < 0 || value >= count) return std::nullopt;
  return value;
}

ImportDialogState ImportDialogState::Open(const ImportOptions& stored) {
  ImportDialogState state;
  state.options = stored;
  state.fileName = stored.fileName;
  state.levelPosition = LevelSliderPosition(stored.simplificationLevel);
  state.volume = stored.metric == 0;
  state.pairContraction = stored.metric == 2;
  state.gridEntry = GridSelection(stored.gridFactor);
  return state;
}

std::optional<ImportOptions> ImportDialogState::Confirm(std::string& error) const {
  if (auto problem = FileNameProblem(fileName)) {
    error = *problem;
    return std::nullopt;
  }
  ImportOptions confirmed = options;
  confirmed.fileName = confirmed.defaultFile = fileName;
  confirmed.simplificationLevel = LevelOfSliderPosition(levelPosition);
  confirmed.metric = volume ? 0 : pairContraction ? 2 : 1;
  if (!volume && pairContraction && gridEntry) confirmed.gridFactor = GridFactorOfSelection(*gridEntry);
  return confirmed;
}

// --- "Find Occluded Parts". ---

std::vector<std::string> IterationEntries() {
  std::vector<std::string> entries;
  for (int k = kFirstListSide; k <= kLastListSide; ++k) entries.push_back(std::to_string(k * k));
  return entries;
}

std::vector<std::string> ColourEntries() {
  std::vector<std::string> entries;
  for (int c = kFirstListSide; c <= kLastListSide; ++c) entries.push_back(std::to_string(c * c * c));
  return entries;
}

OcclusionDialogState OcclusionDialogState::Open(const OcclusionSettings& stored) {
  return {stored, IterationsListSide(stored.maxIterations) - kFirstListSide,
          ColoursListSide(stored.maxColors) - kFirstListSide};
}

void OcclusionDialogState::Confirm() {
  const int k = iterationsEntry + kFirstListSide, c = coloursEntry + kFirstListSide;
  settings.maxIterations = k * k;
  settings.maxColors = c * c * c;
}

bool IsValidLDrawDir(const std::string& folder) {
  const std::filesystem::path root(folder);
  return !folder.empty() && (IsFolder(root / "parts") || IsFolder(root / "Parts")) &&
         (IsFolder(root / "p") || IsFolder(root / "P"));
}

}  // namespace qx
