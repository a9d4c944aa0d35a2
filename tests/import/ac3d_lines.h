// AC3D MATERIAL lines for hand-written test files and fuzzing seeds.
#pragma once

#include <string>
#include <string_view>

namespace qx::testing_ac3d {

// AC3D labels the specular colour with the first four letters of the word.
inline constexpr std::string_view kSpecularLabel = std::string_view("specular").substr(0, 4);

// "MATERIAL "name" rgb .. amb .. emis .. <specular> .. shi s trans t", each
// colour given as its three numbers; an empty `transparency` leaves the last
// group out (a line one group short).
inline std::string MaterialLine(std::string_view name, std::string_view rgb, std::string_view ambient,
                                std::string_view emissive, std::string_view specular, std::string_view shininess,
                                std::string_view transparency = {}) {
  std::string line = "MATERIAL \"" + std::string(name) + "\" rgb " + std::string(rgb) + "  amb " +
                     std::string(ambient) + "  emis " + std::string(emissive) + "  " +
                     std::string(kSpecularLabel) + " " + std::string(specular) + "  shi " + std::string(shininess);
  if (!transparency.empty()) line += "  trans " + std::string(transparency);
  return line + "\n";
}

}  // namespace qx::testing_ac3d
