#include "common/text.h"

#include <algorithm>
#include <cstring>

namespace qx {

bool ReadBoundedLine(std::FILE* file, std::string& line, size_t maxLength, bool* cut) {
  line.clear();
  if (cut) *cut = false;
  char piece[256];
  bool readAny = false;
  while (std::fgets(piece, sizeof piece, file)) {
    readAny = true;
    size_t length = std::strlen(piece);
    const bool lineEnds = length > 0 && piece[length - 1] == '\n';
    if (lineEnds) --length;
    const size_t room = maxLength - std::min(line.size(), maxLength);
    if (length > room && cut) *cut = true;
    line.append(piece, std::min(length, room));
    if (lineEnds) break;
  }
  return readAny;
}

}  // namespace qx
