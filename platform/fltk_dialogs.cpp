#include "platform/fltk_dialogs.h"

#include <FL/Fl_Color_Chooser.H>
#include <FL/Fl_Native_File_Chooser.H>
#include <FL/fl_ask.H>
#include <X11/Xlib.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "common/diagnostics.h"

extern char** environ;

namespace qx {

bool DisplayAvailable() {
  const char* name = std::getenv("DISPLAY");
  if (!name || !*name) return false;
  // A server that has just started may refuse a first connection.
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (Display* display = XOpenDisplay(name)) {
      XCloseDisplay(display);
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  return false;
}

void InstallFltkMessageBoxes() {
  SetMessageBoxHandler([](const std::string& title, const std::string& text) {
    fl_message_title(title.c_str());
    if (title == "Error")
      fl_alert("%s", text.c_str());
    else
      fl_message("%s", text.c_str());
  });
}

std::optional<std::array<float, 3>> ChooseColourDialog(const char* title, const std::array<float, 3>& rgb) {
  double red = rgb[0], green = rgb[1], blue = rgb[2];
  if (!fl_color_chooser(title, red, green, blue)) return std::nullopt;
  return std::array<float, 3>{static_cast<float>(red), static_cast<float>(green), static_cast<float>(blue)};
}

std::string FltkFilter(std::string_view name, std::string_view patterns) {
  std::vector<std::string_view> extensions;
  size_t start = 0;
  while (start <= patterns.size()) {
    const size_t end = std::min(patterns.find(';', start), patterns.size());
    std::string_view pattern = patterns.substr(start, end - start);
    if (pattern.starts_with("*.")) extensions.push_back(pattern.substr(2));
    start = end + 1;
  }
  std::string filter = std::string(name) + "\t";
  if (extensions.size() == 1) return filter + "*." + std::string(extensions[0]);
  filter += "*.{";
  for (size_t i = 0; i < extensions.size(); ++i) {
    if (i > 0) filter += ',';
    filter += extensions[i];
  }
  return filter + "}";
}

std::optional<std::string> ChooseFileDialog(const std::string& title, const std::string& filterName,
                                            const std::string& filterPattern, const std::string& initialName,
                                            bool save) {
  Fl_Native_File_Chooser chooser;
  chooser.title(title.c_str());
  chooser.type(save ? Fl_Native_File_Chooser::BROWSE_SAVE_FILE : Fl_Native_File_Chooser::BROWSE_FILE);
  if (save) chooser.options(Fl_Native_File_Chooser::SAVEAS_CONFIRM);
  const std::string filters = FltkFilter(filterName, filterPattern) + "\nAll Files (*.*)\t*";
  chooser.filter(filters.c_str());
  if (!initialName.empty()) chooser.preset_file(initialName.c_str());
  if (chooser.show() != 0 || !chooser.filename() || !*chooser.filename()) return std::nullopt;
  return std::string(chooser.filename());
}

bool OpenInBrowser(const std::string& address) {
  const char* arguments[] = {"xdg-open", address.c_str(), nullptr};
  pid_t child = 0;
  if (posix_spawnp(&child, "xdg-open", nullptr, nullptr, const_cast<char**>(arguments), environ) != 0) {
    ShowError("Cannot start the browser for %s", address.c_str());
    return false;
  }
  // xdg-open hands the address over and ends soon; reap it beside the
  // window so that no zombie is left behind.
  std::thread([child] { waitpid(child, nullptr, 0); }).detach();
  return true;
}

}  // namespace qx
