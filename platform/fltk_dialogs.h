// The system dialogs of the editor on FLTK: message boxes, the colour
// chooser, file choosers, and the browser for addresses.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace qx {

// Whether an X display can be opened ($DISPLAY set and answering).
bool DisplayAvailable();

// Routes the program's message boxes to FLTK alerts (title as given).
void InstallFltkMessageBoxes();

// The colour chooser starting at `rgb` (0 … 1 each); none when cancelled.
std::optional<std::array<float, 3>> ChooseColourDialog(const char* title, const std::array<float, 3>& rgb);

// A file chooser with one filter ("3DS files", "*.3ds;*.prj") besides "All
// Files"; none when cancelled.
std::optional<std::string> ChooseFileDialog(const std::string& title, const std::string& filterName,
                                            const std::string& filterPattern, const std::string& initialName,
                                            bool save);

// FLTK's filter text for a name and a ';'-separated pattern list:
// "3DS files\t*.{3ds,prj}" (a single pattern stays as it is).
std::string FltkFilter(std::string_view name, std::string_view patterns);

// Opens `address` in the system's browser (xdg-open), without waiting.
// False when the browser could not be started.
bool OpenInBrowser(const std::string& address);

}  // namespace qx
