#include <zlib.h>

#include "cli/commands.h"

namespace qx {

std::optional<std::vector<uint8_t>> ReadSceneStream(const std::string& path) {
  gzFile file = gzopen(path.c_str(), "rb");
  if (!file) return std::nullopt;
  std::vector<uint8_t> bytes;
  uint8_t block[65536];
  int got;
  while ((got = gzread(file, block, sizeof block)) > 0) bytes.insert(bytes.end(), block, block + got);
  gzclose(file);
  return bytes;
}

}  // namespace qx
