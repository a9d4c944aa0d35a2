#include "common/diagnostics.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unistd.h>

namespace qx {
namespace {

std::mutex handlerMutex;
MessageBoxHandler messageBoxHandler;
MessageSink messageSink;  // guarded by handlerMutex

void DefaultMessageBox(const std::string& title, const std::string& text) {
  std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
  std::fflush(stderr);
}

void WriteFlushed(std::FILE* stream, const char* format, va_list args) {
  char buffer[kMessageBufferSize];
  std::vsnprintf(buffer, sizeof buffer, format, args);
  std::fputs(buffer, stream);
  std::fflush(stream);
}

void OnArithmeticSignal(int) {
  // Only async-signal-safe calls here.
  static const char kText[] = "Error matematico\n";
  (void)!write(STDERR_FILENO, kText, sizeof kText - 1);
  _exit(1);
}

}  // namespace

std::string FormatMessageV(const char* format, va_list args) {
  char buffer[kMessageBufferSize];
  std::vsnprintf(buffer, sizeof buffer, format, args);
  return buffer;
}

std::string FormatMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatMessageV(format, args);
  va_end(args);
  return text;
}

namespace {

// Writes to `stream`, or hands the text to the message sink when one is
// installed.
void WriteOrSink(std::FILE* stream, const char* format, va_list args) {
  MessageSink sink;
  {
    std::lock_guard lock(handlerMutex);
    sink = messageSink;
  }
  if (sink)
    sink(FormatMessageV(format, args));
  else
    WriteFlushed(stream, format, args);
}

}  // namespace

void PrintMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  WriteOrSink(stdout, format, args);
  va_end(args);
}

MessageSink SetMessageSink(MessageSink sink) {
  std::lock_guard lock(handlerMutex);
  std::swap(sink, messageSink);
  return sink;
}

void PrintError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  WriteOrSink(stderr, format, args);
  va_end(args);
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
  std::lock_guard lock(handlerMutex);
  std::swap(handler, messageBoxHandler);
  return handler;
}

void ShowMessageBox(const std::string& title, const std::string& text) {
  MessageBoxHandler handler;
  {
    std::lock_guard lock(handlerMutex);
    handler = messageBoxHandler;
  }
  if (handler)
    handler(title, text);
  else
    DefaultMessageBox(title, text);
}

void ShowError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = FormatMessageV(format, args);
  va_end(args);
  ShowMessageBox("Error", text);
}

void FatalError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = FormatMessageV(format, args);
  va_end(args);
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
  MessageBoxHandler handler;
  {
    std::lock_guard lock(handlerMutex);
    handler = messageBoxHandler;
  }
  // The default handler would only repeat the standard-error line.
  if (handler) handler("Error", text);
  std::fflush(stdout);
  std::exit(1);
}

void InstallMathErrorHandler() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnArithmeticSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGFPE, &action, nullptr);
}

}  // namespace qx
