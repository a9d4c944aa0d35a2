#include "cli/console.h"

#include <cstdio>
#include <mutex>
#include <unistd.h>

#include "common/diagnostics.h"

namespace qx {
namespace {

// Carriage return and "erase to the end of the line".
constexpr char kClearLine[] = "\r\033[K";

struct ConsoleState {
  std::mutex mutex;
  bool progressEnabled = false;
  bool progressShown = false;  // a transient line is on the screen
  bool atLineStart = true;     // nothing written since the last line end
};

ConsoleState& State() {
  static ConsoleState state;
  return state;
}

void ClearProgressLocked(ConsoleState& state) {
  if (!state.progressShown) return;
  std::fputs(kClearLine, stderr);
  state.progressShown = false;
  state.atLineStart = true;
}

void WriteDiagnostic(const std::string& text) {
  ConsoleState& state = State();
  std::lock_guard lock(state.mutex);
  ClearProgressLocked(state);
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
  // The library's lines start with their line break; one left open must not
  // be overwritten by the next progress line.
  if (!text.empty()) state.atLineStart = text.back() == '\n';
}

}  // namespace

void InstallConsole(bool quiet) {
  ConsoleState& state = State();
  {
    std::lock_guard lock(state.mutex);
    state.progressEnabled = !quiet && isatty(STDERR_FILENO);
  }
  if (quiet) {
    SetMessageSink([](const std::string&) {});
  } else {
    SetMessageSink(WriteDiagnostic);
  }
}

void CloseConsole() {
  ConsoleState& state = State();
  std::lock_guard lock(state.mutex);
  ClearProgressLocked(state);
  if (!state.atLineStart) std::fputc('\n', stderr);
  state.atLineStart = true;
  std::fflush(stderr);
}

void ShowProgress(const std::string& text) {
  ConsoleState& state = State();
  std::lock_guard lock(state.mutex);
  if (!state.progressEnabled) return;
  if (state.progressShown) {
    std::fputs(kClearLine, stderr);
  } else if (!state.atLineStart) {
    std::fputc('\n', stderr);
  }
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
  state.progressShown = true;
  state.atLineStart = false;
}

void EndProgress() {
  ConsoleState& state = State();
  std::lock_guard lock(state.mutex);
  ClearProgressLocked(state);
  std::fflush(stderr);
}

}  // namespace qx
