// Text helpers shared by the settings file and the text-format readers.
#pragma once

#include <clocale>
#include <cstdio>
#include <locale.h>
#include <string>
#include <string_view>

namespace qx {

// ASCII case folding: file formats and settings keys compare names this way,
// whatever the process's locale.
inline char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

inline bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

inline bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

// Reads one line from `file` into `line`, without its '\n', keeping at most
// `maxLength` characters: the rest of a longer line is read and dropped, in
// bounded memory, and `cut` (when given) tells that it happened. Returns false
// at the end of the file when nothing was read. A zero byte hides the rest of
// the 256-byte piece it is in; such a line is damaged anyway.
bool ReadBoundedLine(std::FILE* file, std::string& line, size_t maxLength, bool* cut = nullptr);

// Runs the rest of the calling scope with the "C" numeric locale on this
// thread, so that "0.5" means one half whatever the process's locale says.
class CNumericLocale {
 public:
  CNumericLocale() {
    static const locale_t cLocale = newlocale(LC_NUMERIC_MASK, "C", locale_t(0));
    if (cLocale != locale_t(0)) previous_ = uselocale(cLocale);
  }
  ~CNumericLocale() {
    if (previous_ != locale_t(0)) uselocale(previous_);
  }
  CNumericLocale(const CNumericLocale&) = delete;
  CNumericLocale& operator=(const CNumericLocale&) = delete;

 private:
  locale_t previous_ = locale_t(0);
};

}  // namespace qx
