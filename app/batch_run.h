// The command-line batch: every file the pattern names goes through the same
// fixed steps, as commands of the scene window with the batch marker (no
// dialogs), whatever the order of the options:
//
//   load (open a scene file, import a model) → rotations (all X, then all Y,
//   then all Z) → occluded objects removed (-ocl) → image (-ppm, antialiased
//   with -a) → compaction (-c) → save (-s)
//
// A step that fails says why and the batch goes on with the next step.
#pragma once

#include "app/command_line.h"

namespace qx {

class SceneWindow;

struct BatchResult {
  int files = 0;        // files the pattern named
  int failedLoads = 0;  // of those, the ones that could not be loaded
};

// Runs the batch of `line` in `window`. With `reportProgress`, a line per
// file and step goes to standard error (file, step, milliseconds).
BatchResult RunBatch(SceneWindow& window, const CommandLine& line, bool reportProgress);

}  // namespace qx
