// The rules of the editor's dialogs, apart from any toolkit: what the lists
// hold, which controls are enabled, how the file name follows the packing
// box, how stored values map to selections and back. The FLTK dialogs
// (dialogs.h) only show these states; tests check them directly.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/settings.h"
#include "import/import_options.h"
#include "tools/occlusion.h"

namespace qx {

// Names in the dialogs' edit fields are held in buffers of this size, so a
// longer name cannot be stored.
inline constexpr size_t kDialogFileNameLimit = 127;

// --- "Save QX". ---
std::vector<std::string> PrecisionEntries();     // "None", "1 bits" … "63 bits"
std::vector<std::string> ConnectivityEntries();  // "Raw", "Model 2", "Dense"
std::vector<std::string> GeometryEntries();      // "Raw", "Rectangular", "Polar", "Polar adaptativo", "Dense"
std::vector<std::string> PredictorEntries();     // "Centroide", "Butterfly"

// The error bound of precision entry n: 2^-n, 0 for "None" (and outside 1…63).
double PrecisionBound(int entry);
// The bound as the edit box shows it: 8 significant digits.
std::string BoundText(double bound);
// The packing box rewrites the file name's extension (the text from the last
// '.' of the name): set, it becomes ".qx4.qxz"; cleared, it is removed.
std::string PackedFileName(std::string_view fileName, bool packed);

struct SaveDialogState {
  SaveDialogSettings options;  // lists, boxes and precision entry
  std::string fileName;
  std::string boundText;

  // Opening: the stored options, the file name the command proposes, the
  // bound of the stored precision.
  static SaveDialogState Open(const SaveDialogSettings& stored, const std::string& fileName);
  void SelectPrecision(int entry);
  void SetPacking(bool packed);
  // Predictor, precision and bound only matter when geometry is coded.
  bool GeometryControlsEnabled() const { return options.geoMode != 0; }
  // OK: reads the bound typed into `bound` and the file name into the
  // default file; returns why the dialog cannot close yet (empty: it can).
  std::string Confirm();

  double bound = 0;  // the error bound confirmed
};

// --- "Load QX". ---
std::vector<std::string> RateEntries();  // the 13 line-rate labels

struct LoadDialogState {
  LoadDialogSettings options;
  std::string fileName;

  static LoadDialogState Open(const LoadDialogSettings& stored);
  bool RateEnabled() const { return options.emulateModem; }
  // The stored entry when it is one of the list's, else none (no selection).
  std::optional<int> RateSelection() const;
  // OK: sets `rate` and the default file; returns why the dialog cannot
  // close yet (empty: it can).
  std::string Confirm();

  int rate = 0;  // bytes per second to load at; 0 loads at once
};

// --- Import options. ---
inline constexpr int kLevelSliderMaximum = 2000;
std::vector<std::string> StrategyEntries();  // "Standard", "Sculptor", "Batch"
std::vector<std::string> GridEntries();      // "2" … "256"

// Slider position of a simplification level (× 2000, truncated) and back.
int LevelSliderPosition(float level);
float LevelOfSliderPosition(int position);
// The Grid entry of a grid factor: trunc(log2(1 / factor)) − 1; none outside
// the list. And the factor of an entry: 1 / 2^(entry + 1).
std::optional<int> GridSelection(float gridFactor);
float GridFactorOfSelection(int entry);
// A list selection for a stored value: the value itself when 0 ≤ value <
// count, else none.
std::optional<int> ListSelection(int value, int count);

struct ImportDialogState {
  ImportOptions options;
  std::string fileName;
  int levelPosition = 0;
  bool volume = false;           // "Volume" rather than "Quadrics"
  bool pairContraction = false;  // "Pair-contraction"
  std::optional<int> gridEntry;

  static ImportDialogState Open(const ImportOptions& stored);
  bool QuadricControlsEnabled() const { return !volume; }
  bool GridEnabled() const { return !volume && pairContraction; }
  // "Import": the options as the controls say (a list left without a
  // selection keeps the stored value), the file name as default file.
  // Fails with a message for an empty or too long file name.
  std::optional<ImportOptions> Confirm(std::string& error) const;
};

// --- "Find Occluded Parts". ---
// "Max iterations" holds k² and "Max colors used" c³ for k, c = 2 … 63.
std::vector<std::string> IterationEntries();
std::vector<std::string> ColourEntries();

struct OcclusionDialogState {
  OcclusionSettings settings;
  int iterationsEntry = 0;  // k − 2
  int coloursEntry = 0;     // c − 2

  // Opening: k = ⌊√MaxIterations⌋ and c = ⌊MaxColors^0.334⌋ preselected.
  static OcclusionDialogState Open(const OcclusionSettings& stored);
  // OK: MaxIterations = k², MaxColors = c³ from the entries.
  void Confirm();
};

// A folder holds an LDraw library when it has the "parts" and "p" folders
// (either spelling of their case).
bool IsValidLDrawDir(const std::string& folder);

}  // namespace qx
