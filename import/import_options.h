// The options of one import, kept in section "DlgImport" of the
// settings file: loaded when an import command starts, edited by the import
// options dialog, saved when that dialog is confirmed. Also the
// limits the front end applies before handing the options to the fan builder.
#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "common/settings.h"
#include "import/model_format.h"

namespace qx {

// Text sizes of the original buffers, terminating zero included: names read
// back hold at most 127 (file names) and 259 (LDraw directory) characters.
inline constexpr std::size_t kImportFileNameSize = 128;
inline constexpr std::size_t kLDrawDirSize = 260;

// The LDraw part library used when none is stored: the LDRAWDIR environment
// variable when it is set and not empty (the LDraw community's convention),
// else "/usr/share/ldraw"; cut to 259 characters.
std::string DefaultLDrawDir();

struct ImportOptions {
  static constexpr char kSection[] = "DlgImport";

  std::string fileName;                    // file to import; starts as the default file
  ModelFormat format = ModelFormat::Fmt3DS;  // chooses reader, title, filter, default-file key
  bool flipFaces = false;                  // FlipFaces: keep the reader's vertex order
  bool singleObj = false;                  // SingleObj: LDraw, flatten sub-models
  int model = 1;                           // Model: 0 Standard, 1 Sculptor, 2 Batch
  int metric = 1;                          // Metric: 0 volume, 1 quadrics, 2 quadrics + pair contraction
  int maxDegree = 64;                      // MaxDegree ("Max. Neighbors")
  int maxDependencies = 16;                // MaxDependencies
  float gridFactor = 0.125f;               // Quadrics.PairContraction.GridFactor: 1 / grid size
  bool meshQuality = false;                // Quadrics.MeshQuality ("Preserve Quality")
  bool checkBounds = true;                 // Quadrics.CheckBounds ("Preserve Boundary")
  float simplificationLevel = 0.5f;        // SimplificationLevel, 0 ... 1
  std::string ldrawDir;                    // LDrawDir; DefaultLDrawDir() when not stored
  std::string defaultFile;                 // the format's default-file key; its table default

  // The options every key at its default, for `format`.
  static ImportOptions Defaults(ModelFormat format);

  // Reads section "DlgImport" of the settings file at `settingsPath` (a
  // missing file or an empty path gives Defaults(format)): every key of the
  // table, and of the default-file keys only `format`'s. The file name starts
  // as the default file.
  static ImportOptions Load(ModelFormat format, const std::string& settingsPath);

  // Writes every key back in table order, the default file under this
  // format's key only (the dialog sets defaultFile = fileName before saving).
  // False when the settings file could not be written.
  bool Save(const std::string& settingsPath) const;

  // The keys shared by all formats, in table order (FlipFaces ... LDrawDir).
  static std::span<const SettingsKey<ImportOptions>> Keys();
};

// What the front end hands the fan builder when it creates it:
// the degree and dependency limits are min(value, 256) ...
inline constexpr int kBuilderLimitMax = 256;
int BuilderDegreeLimit(int maxDegree);
int BuilderDependencyLimit(int maxDependencies);
// ... and a grid factor of exactly 0 becomes 0.1.
float BuilderGridFactor(float gridFactor);

}  // namespace qx
