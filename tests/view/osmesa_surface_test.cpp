// The offscreen surface: the first pixel-format attempt wins on Mesa, with
// the buffers the view needs, and a resize keeps the context usable.
#include <gtest/gtest.h>

#include "platform/gl_api.h"
#include "platform/osmesa_surface.h"

namespace qx {
namespace {

TEST(OsMesaSurface, FirstAttemptGivesAlphaDepthStencilAndAccumulation) {
  OsMesaSurface surface(16, 8);
  EXPECT_FALSE(surface.HasContext());
  EXPECT_FALSE(surface.MakeCurrent());
  ASSERT_TRUE(surface.CreateContext());
  EXPECT_EQ(surface.ChosenAttempt(), 0);
  const PixelFormat& format = surface.Format();
  EXPECT_GT(format.alphaBits, 0);
  EXPECT_GE(format.depthBits, 24);  // 32 asked, the deepest offered given
  EXPECT_GT(format.stencilBits, 0);
  EXPECT_GE(format.accumBits, 16);
  EXPECT_FALSE(format.doubleBuffer);
  EXPECT_NE(surface.GetProcAddress("glLockArraysEXT"), nullptr);
  surface.DestroyContext();
  EXPECT_FALSE(surface.HasContext());
}

TEST(OsMesaSurface, ResizeKeepsDrawingIntoTheNewSize) {
  OsMesaSurface surface(4, 4);
  ASSERT_TRUE(surface.CreateContext());
  ASSERT_TRUE(surface.Resize(33, 7));
  EXPECT_EQ(surface.Width(), 33);
  glViewport(0, 0, 33, 7);
  glClearColor(0, 1, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  surface.Present(true);
  uint8_t corner[3] = {0, 0, 0};
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(32, 6, 1, 1, GL_RGB, GL_UNSIGNED_BYTE, corner);
  EXPECT_EQ(corner[1], 255);
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

}  // namespace
}  // namespace qx
