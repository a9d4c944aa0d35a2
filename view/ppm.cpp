#include "view/ppm.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "platform/gl_api.h"

namespace qx {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

bool WriteRows(std::FILE* file, int width, int height, const uint8_t* bottomUpRows) {
  const size_t rowBytes = static_cast<size_t>(width) * 3;
  for (int row = height - 1; row >= 0; --row)
    if (std::fwrite(bottomUpRows + rowBytes * static_cast<size_t>(row), 1, rowBytes, file) != rowBytes) return false;
  return true;
}

}  // namespace

std::string PpmHeader(int width, int height) {
  char header[64];
  std::snprintf(header, sizeof header, "P6\n# Created by QXRep\n %d %d\n255\n", width, height);
  return header;
}

bool WritePpm(const std::string& path, int width, int height, const uint8_t* bottomUpRows) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  File file(std::fopen(path.c_str(), "wb"));
  if (!file) return false;
  const std::string header = PpmHeader(width, height);
  if (std::fwrite(header.data(), 1, header.size(), file.get()) != header.size()) return false;
  if (width > 0 && height > 0 && !WriteRows(file.get(), width, height, bottomUpRows)) return false;
  return std::fclose(file.release()) == 0;
}

bool SavePPM(const std::string& path, const uint8_t* pixels) {
  GLint viewport[4] = {0, 0, 0, 0};
  glGetIntegerv(GL_VIEWPORT, viewport);
  const int width = std::max(viewport[2], 0), height = std::max(viewport[3], 0);
  // The file is opened first so that an unwritable name costs no read-back.
  if (!File(std::fopen(path.c_str(), "wb"))) return false;
  std::vector<uint8_t> read;
  if (!pixels) {
    read.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    if (!read.empty()) glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, read.data());
    pixels = read.data();
  }
  return WritePpm(path, width, height, pixels);
}

}  // namespace qx
