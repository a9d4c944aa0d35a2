#include "app/version.h"

#include <charconv>
#include <cstdio>

namespace qx {

double VersionFromDate(std::string_view date) {
  // "Mmm dd yyyy": the day in columns 4-5 (the first may be blank), the year
  // from column 7.
  if (date.size() != 11) return 0;
  int day = 0, year = 0;
  const std::string_view dayText = date.substr(date[4] == ' ' ? 5 : 4, date[4] == ' ' ? 1 : 2);
  const auto dayRead = std::from_chars(dayText.data(), dayText.data() + dayText.size(), day);
  const auto yearRead = std::from_chars(date.data() + 7, date.data() + 11, year);
  if (dayRead.ec != std::errc() || yearRead.ec != std::errc()) return 0;
  return (static_cast<double>(year) * 10000 - 17999500 + day) * 0.000001;
}

const char* BuildDate() { return __DATE__; }

std::string VersionLine() {
  char line[80];
  std::snprintf(line, sizeof line, "Version %2.6f (%s)", VersionFromDate(BuildDate()), BuildDate());
  return line;
}

}  // namespace qx
