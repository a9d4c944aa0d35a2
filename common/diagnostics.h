// The program's three ways of speaking:
//  - progress, timing and warning lines on standard output, flushed at once so
//    that a batch log interleaves correctly with other output (a program can
//    send them elsewhere with SetMessageSink);
//  - non-fatal errors in a message box titled "Error";
//  - fatal errors: standard error, the same message box, exit status 1.
// Message boxes go through a replaceable handler: without a window the text
// goes to standard error; the editor installs its own; tests capture it.
#pragma once

#include <cstdarg>
#include <functional>
#include <string>

namespace qx {

// Messages are formatted into a buffer of this many characters (including the
// terminating zero); longer texts are cut.
inline constexpr int kMessageBufferSize = 160;

// printf-style formatting into the 160-character message buffer.
std::string FormatMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatMessageV(const char* format, va_list args);

// Writes a formatted line to standard output and flushes it, or hands the
// formatted text to the message sink when one is installed.
void PrintMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Where PrintMessage's and PrintError's lines go instead of standard output
// and standard error (a command-line program keeps its standard output for
// its results, and may silence its diagnostics). Installs `sink` and returns
// the previous one; an empty sink restores the standard streams.
using MessageSink = std::function<void(const std::string& text)>;
MessageSink SetMessageSink(MessageSink sink);
// Writes a formatted line to standard error and flushes it, or hands the
// formatted text to the message sink when one is installed.
void PrintError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Shows `text` in a message box with the given title.
using MessageBoxHandler = std::function<void(const std::string& title, const std::string& text)>;
// Installs a handler and returns the previous one; an empty handler restores
// the default (standard error).
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);
void ShowMessageBox(const std::string& title, const std::string& text);

// A non-fatal error: a message box titled "Error".
void ShowError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A fatal error: standard error, a message box titled "Error", exit status 1.
// Reserved for broken invariants of the program's own data, never for bad
// bytes from a file.
[[noreturn]] void FatalError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Ends the program with "Error matematico" (exit status 1) when the runtime
// reports an arithmetic error (SIGFPE). Floating-point traps stay off, so
// infinities in ordinary geometry do not end the program.
void InstallMathErrorHandler();

}  // namespace qx
