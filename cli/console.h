// What qxtool says besides its results. Results go to standard output; the
// library's diagnostic lines (timings, warnings) and the progress of a long
// command go to standard error, progress only when that is a terminal, and
// --quiet silences both. Errors are never silenced.
#pragma once

#include <string>

namespace qx {

// Routes the diagnostic lines to standard error (or nowhere when quiet) and
// decides whether progress is shown. Called once by the program's entry.
void InstallConsole(bool quiet);

// Clears the progress line and ends a diagnostic line left open, so that
// the shell's prompt starts on a line of its own. Called once at the end.
void CloseConsole();

// Shows `text` as the transient progress line, replacing the one before.
void ShowProgress(const std::string& text);
// Clears the progress line, if one is shown.
void EndProgress();

// Clears the progress line when it goes out of scope, on every path out of
// a command.
struct ProgressScope {
  ProgressScope() = default;
  ProgressScope(const ProgressScope&) = delete;
  ProgressScope& operator=(const ProgressScope&) = delete;
  ~ProgressScope() { EndProgress(); }
};

}  // namespace qx
