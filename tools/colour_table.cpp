#include "tools/colour_table.h"

#include "platform/gl_api.h"

namespace qx {

bool ColourTable::Add(uint32_t readBack, uint32_t drawn) {
  if (readBack == 0) return false;
  if (!index_.try_emplace(readBack, Size()).second) return false;
  entries_.push_back({readBack, drawn});
  return true;
}

namespace {

// ⌊(r + 0.5) × 255 / 32768⌋: 0 … 254.
uint8_t RandomComponent(Random15& random) {
  return static_cast<uint8_t>((random.Next() + 0.5) * 255.0 / Random15::kRange);
}

void SetPixelProjection(int width, int height) {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, width, 0, height, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glDepthMask(GL_FALSE);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_ALWAYS);
  glPointSize(1);
}

}  // namespace

ColourTable BuildColourTable(int count, int width, int height, Random15& random) {
  ColourTable table;
  if (count <= 0 || width <= 0 || height <= 0) return table;
  SetPixelProjection(width, height);
  std::vector<uint32_t> drawn(static_cast<size_t>(width));
  std::vector<uint8_t> row(static_cast<size_t>(width) * 3);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  for (int y = 0; y < height && table.Size() < count; ++y) {
    glBegin(GL_POINTS);
    for (int x = 0; x < width; ++x) {
      const uint8_t rgb[3] = {RandomComponent(random), RandomComponent(random), RandomComponent(random)};
      drawn[static_cast<size_t>(x)] = PackRgb(rgb);
      glColor3ubv(rgb);
      glVertex2f(static_cast<float>(x) + 0.5f, static_cast<float>(y) + 0.5f);
    }
    glEnd();
    glFlush();
    glReadPixels(0, y, width, 1, GL_RGB, GL_UNSIGNED_BYTE, row.data());
    for (int x = 0; x < width && table.Size() < count; ++x)
      table.Add(PackRgb(&row[3 * static_cast<size_t>(x)]), drawn[static_cast<size_t>(x)]);
  }
  return table;
}

}  // namespace qx
