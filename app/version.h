// The program's version number, derived from its build date as the About box
// shows it: with the date's day d and year y, (y × 10000 − 17999500 + d) ×
// 0.000001 — so "May 24 2004" is version 2.040524. The month does not enter.
#pragma once

#include <string>
#include <string_view>

namespace qx {

// `date` in the compiler's __DATE__ form ("Mmm dd yyyy"); 0 when it is not.
double VersionFromDate(std::string_view date);
// The date this program was built, in that form.
const char* BuildDate();
// "Version %2.6f (%s)" for this build.
std::string VersionLine();

}  // namespace qx
