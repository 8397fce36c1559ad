// 2-D primitives, gauges and the window state, read back from a real
// window under Xvfb.
#include "render/draw2d.h"

#include <GL/freeglut.h>
#include <GL/gl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <string>

#include "gl_session.h"
#include "render/render.h"

namespace zbx {
namespace {

using testing_gl::GlTest;
using testing_gl::Rgb;

constexpr Rgb WHITE{255, 255, 255};
constexpr Rgb BLUE{0, 0, 255};
constexpr Rgb GREEN{0, 255, 0};

TEST(Palette, HoldsTheNineColours) {
  init_palette();
  EXPECT_EQ(palette_dark_red.r, 0.7f);
  EXPECT_EQ(palette_grey.g, 0.45f);
  EXPECT_EQ(palette_dark_grey.b, 0.2f);
  EXPECT_EQ(palette_light_grey.r, 0.7f);
  EXPECT_EQ(palette_blue.b, 1.0f);
  EXPECT_EQ(palette_blue.r + palette_blue.g, 0.0f);
  EXPECT_EQ(palette_black.r + palette_black.g + palette_black.b, 0.0f);
}

using Draw2d = GlTest;

TEST_F(Draw2d, TextReturnsTheEndOfItsGlyphsAndDrawsBetween) {
  const int end = draw_text(10, 10, "Shield: ", palette_green, 0);
  // Helvetica 10: the eight characters including the blank are 34 pixels.
  EXPECT_EQ(end, 44);
  const auto p = pixels();
  int leftmost = 640, rightmost = -1;
  for (int y = 5; y < 25; ++y) {
    for (int x = 0; x < 100; ++x) {
      if (at(p, x, y) == GREEN) {
        leftmost = std::min(leftmost, x);
        rightmost = std::max(rightmost, x);
      }
    }
  }
  EXPECT_GE(leftmost, 10);
  EXPECT_LT(rightmost, end);
  EXPECT_EQ(count(p, GREEN), lit(p));  // one colour, nothing else
  // The big font is wider for the same text.
  EXPECT_GT(draw_text(10, 100, "Shield: ", palette_green, 1) - 10, 34);
}

TEST_F(Draw2d, EmptyTextDrawsNothingAndKeepsX) {
  EXPECT_EQ(draw_text(123, 40, "", palette_white, 1), 123);
  EXPECT_EQ(draw_text(77, 40, nullptr, palette_white, 0), 77);
  EXPECT_EQ(lit(pixels()), 0);
}

TEST_F(Draw2d, PointLightsExactlyOnePixel) {
  draw_point(100, 50, palette_white);
  const auto p = pixels();
  EXPECT_EQ(lit(p), 1);
  EXPECT_EQ(at(p, 100, 50), WHITE);
}

TEST_F(Draw2d, QuadFillsItsPixelRectangle) {
  draw_quad(20, 30, 20, 40, 60, 40, 60, 30, palette_blue);
  const auto p = pixels();
  EXPECT_EQ(count(p, BLUE), 40 * 10);
  EXPECT_EQ(at(p, 20, 30), BLUE);
  EXPECT_EQ(at(p, 59, 39), BLUE);
  EXPECT_EQ(at(p, 60, 35), (Rgb{}));
  EXPECT_EQ(at(p, 30, 40), (Rgb{}));
}

TEST_F(Draw2d, DashedCircleDrawsAQuarterOfTheRing) {
  draw_circle(320, 240, palette_green, 64, 0, 0.5f);
  const int whole = count(pixels(), GREEN);
  begin_frame();
  draw_circle(320, 240, palette_green, 64, 3, 0.5f);
  const int dashed = count(pixels(), GREEN);
  // 8 dashes of 2 of the 64 segments each.
  EXPECT_NEAR(static_cast<double>(dashed) / whole, 0.25, 0.05);
  begin_frame();
  draw_circle(320, 240, palette_green, 0, 0, 0.5f);
  draw_circle(320, 240, palette_green, 64, 0, NAN);
  EXPECT_EQ(lit(pixels()), 0);
}

// The frame sides and the blue run on the middle row of a gauge at x.
struct GaugeRow {
  int left = -1, right = -1, blue = 0, other = 0;
};
GaugeRow read_gauge(const std::vector<unsigned char>& p, int x) {
  GaugeRow row;
  for (int px = x; px < x + 60; ++px) {
    const auto c = GlTest::at(p, px, 13);
    if (c == WHITE) (row.left < 0 ? row.left : row.right) = px;
    if (c == BLUE) ++row.blue;
    if (!(c == BLUE) && !(c == WHITE) && !(c == Rgb{})) ++row.other;
  }
  return row;
}

TEST_F(Draw2d, GaugeFillsInProportionAndStaysEmptyForNoMaximum) {
  struct Case {
    int value, maximum, blue;
  };
  for (const Case c : {Case{150, 300, 19}, Case{300, 300, 38}, Case{1, 300, 0}, Case{0, 300, 0},
                       Case{150, 0, 0}, Case{-5, 300, 0}, Case{400, 300, 38}}) {
    begin_frame();
    draw_gauge(100, c.value, c.maximum);
    const auto p = pixels();
    const GaugeRow row = read_gauge(p, 100);
    // GL puts a vertical line through pixel corners on the column to its left.
    EXPECT_EQ(row.left, 104) << c.value << "/" << c.maximum;
    EXPECT_EQ(row.right, 144) << c.value << "/" << c.maximum;
    EXPECT_EQ(row.blue, c.blue) << c.value << "/" << c.maximum;
    EXPECT_EQ(row.other, 0);
    if (c.blue > 0) {
      EXPECT_EQ(at(p, 106, 13), BLUE);
    }
  }
}

TEST_F(Draw2d, WindowStateAndProjections) {
  EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
  EXPECT_EQ(glutGet(GLUT_WINDOW_WIDTH), 640);
  EXPECT_EQ(glutGet(GLUT_WINDOW_HEIGHT), 480);
  GLint mode = 0;
  glGetIntegerv(GL_MATRIX_MODE, &mode);
  EXPECT_EQ(mode, GL_PROJECTION);
  set_perspective();
  glGetIntegerv(GL_MATRIX_MODE, &mode);
  EXPECT_EQ(mode, GL_MODELVIEW);
  GLfloat m[16];
  glGetFloatv(GL_PROJECTION_MATRIX, m);
  const float f = 1.0f / std::tan(30.0f * 3.14159265f / 180.0f);
  EXPECT_NEAR(m[5], f, 1e-5);
  EXPECT_NEAR(m[0], f / (640.0f / 480.0f), 1e-5);
  EXPECT_NEAR(m[10], -(20.0f + 0.1f) / (20.0f - 0.1f), 1e-5);
  // The aspect follows the window's real size, not the configured one.
  g_render.windowWidth = 800;
  g_render.windowHeight = 400;
  set_overlay_projection();
  set_perspective();
  glGetFloatv(GL_PROJECTION_MATRIX, m);
  EXPECT_NEAR(m[0], f / 2.0f, 1e-5);
  g_render.windowWidth = 0;  // no size reported yet: the configured one
  g_render.windowHeight = 0;
  g_client_settings.SCREEN_HEIGHT = 0;  // never an infinite aspect
  set_overlay_projection();
  set_perspective();
  glGetFloatv(GL_PROJECTION_MATRIX, m);
  EXPECT_TRUE(std::isfinite(m[0]));
  g_client_settings.SCREEN_HEIGHT = 480;
  enable_blending();
  GLint src = 0, dst = 0;
  glGetIntegerv(GL_BLEND_SRC, &src);
  glGetIntegerv(GL_BLEND_DST, &dst);
  EXPECT_EQ(src, GL_SRC_ALPHA);
  EXPECT_EQ(dst, GL_DST_ALPHA);
  disable_blending();
  EXPECT_FALSE(glIsEnabled(GL_BLEND));
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(Draw2d, ExplosionTextureHoldsTheImageWithoutItsAlpha) {
  glBindTexture(GL_TEXTURE_2D, g_render.explosionTexture);
  GLint w = 0, h = 0, format = 0, min_filter = 0;
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &h);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &format);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &min_filter);
  EXPECT_EQ(w, 4);
  EXPECT_EQ(h, 2);
  EXPECT_TRUE(format == 3 || format == GL_RGB) << format;
  EXPECT_EQ(min_filter, GL_LINEAR_MIPMAP_LINEAR);
  unsigned char texels[4 * 2 * 3];
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, texels);
  // Bottom row: channel 0 of the file, stored third.
  EXPECT_EQ(texels[0], 0);
  EXPECT_EQ(texels[2], 255);
  // Top row: channel 1.
  EXPECT_EQ(texels[12], 0);
  EXPECT_EQ(texels[13], 255);
  EXPECT_EQ(texels[14], 0);
}

using TextureFile = GlTest;

// Runs the loader with standard output sent to standard error, where the
// death test can read it.
void load_to_stderr(const std::string& path) {
  dup2(STDERR_FILENO, STDOUT_FILENO);
  load_explosion_texture(path.c_str());
}

TEST_F(TextureFile, MissingFileEndsWithStatus1) {
  const std::string path = (testing_gl::GlSession::get().dir() / "none.rgb").string();
  EXPECT_EXIT(load_to_stderr(path), ::testing::ExitedWithCode(1), "^Error opening " + path + "\n$");
}

TEST_F(TextureFile, UnreadableImageEndsWithStatus0) {
  const auto path = (testing_gl::GlSession::get().dir() / "junk.rgb").string();
  std::ofstream(path) << "not an image at all";
  EXPECT_EXIT(load_to_stderr(path), ::testing::ExitedWithCode(0),
              "^Sorry, can't read texture file\\.\\.\\.$");
}

}  // namespace
}  // namespace zbx
