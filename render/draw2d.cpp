// Palette and 2-D primitives in window pixels.
#include "render/draw2d.h"

#include <GL/freeglut.h>
#include <GL/gl.h>

#include <array>
#include <cmath>
#include <cstdio>

#include "render/core/view.h"
#include "render/render.h"
#include "startup/settings.h"

namespace zbx {

Colour3f palette_white;
Colour3f palette_black;
Colour3f palette_dark_red;
Colour3f palette_red;
Colour3f palette_green;
Colour3f palette_blue;
Colour3f palette_light_grey;
Colour3f palette_grey;
Colour3f palette_dark_grey;

void init_palette() {
  palette_white = {1.0f, 1.0f, 1.0f};
  palette_black = {0.0f, 0.0f, 0.0f};
  palette_dark_red = {0.7f, 0.0f, 0.0f};
  palette_red = {1.0f, 0.0f, 0.0f};
  palette_green = {0.0f, 1.0f, 0.0f};
  palette_blue = {0.0f, 0.0f, 1.0f};
  palette_light_grey = {0.7f, 0.7f, 0.7f};
  palette_grey = {0.45f, 0.45f, 0.45f};
  palette_dark_grey = {0.2f, 0.2f, 0.2f};
}

int window_width() {
  return g_render.windowWidth > 0 ? g_render.windowWidth : g_client_settings.SCREEN_WIDTH;
}

int window_height() {
  return g_render.windowHeight > 0 ? g_render.windowHeight : g_client_settings.SCREEN_HEIGHT;
}

int text_width(const char* s, int big) {
  return glutBitmapLength(big ? GLUT_BITMAP_HELVETICA_18 : GLUT_BITMAP_HELVETICA_10,
                          reinterpret_cast<const unsigned char*>(s));
}

std::array<char, 12> key_name(char key) {
  std::array<char, 12> name{};
  const auto c = static_cast<unsigned char>(key);
  const char* word = c == ' '  ? "Space"
                     : c == 27 ? "Escape"
                     : c == 13 ? "Return"
                     : c == 9  ? "Tab"
                               : nullptr;
  if (word) {
    std::snprintf(name.data(), name.size(), "%s", word);
  } else if (c > ' ' && c < 127) {
    std::snprintf(name.data(), name.size(), "%c", key);
  } else {
    std::snprintf(name.data(), name.size(), "key %d", c);
  }
  return name;
}

namespace {

float ndc_x(int x) { return pixel_to_ndc(x, window_width()); }
float ndc_y(int y) { return pixel_to_ndc(y, window_height()); }

}  // namespace

int draw_text(int x, int y, const char* s, Colour3f colour, int big) {
  if (s == nullptr) return x;
  void* font = big ? GLUT_BITMAP_HELVETICA_18 : GLUT_BITMAP_HELVETICA_10;
  const int width = window_width();
  glColor3f(colour.r, colour.g, colour.b);
  float nx = ndc_x(x);
  const float ny = ndc_y(y);
  for (const char* p = s; *p != '\0'; ++p) {
    const int ch = static_cast<unsigned char>(*p);
    glRasterPos2f(nx, ny);
    glutBitmapCharacter(font, ch);
    const int w = glutBitmapWidth(font, ch);
    x += w;
    // The next raster position advances in normalised units, as the glyph did.
    if (width > 0) nx += static_cast<float>(w) / static_cast<float>(width) * 2.0f;
  }
  return x;
}

void draw_line(int x1, int y1, int x2, int y2, Colour3f colour) {
  glColor3f(colour.r, colour.g, colour.b);
  glBegin(GL_LINES);
  glVertex2f(ndc_x(x1), ndc_y(y1));
  glVertex2f(ndc_x(x2), ndc_y(y2));
  glEnd();
}

void draw_point(int x, int y, Colour3f colour) {
  glColor3f(colour.r, colour.g, colour.b);
  glBegin(GL_POINTS);
  glVertex2f(ndc_x(x), ndc_y(y));
  glEnd();
}

void draw_quad(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4, Colour3f colour) {
  glColor3f(colour.r, colour.g, colour.b);
  glBegin(GL_QUADS);
  glVertex2f(ndc_x(x1), ndc_y(y1));
  glVertex2f(ndc_x(x2), ndc_y(y2));
  glVertex2f(ndc_x(x3), ndc_y(y3));
  glVertex2f(ndc_x(x4), ndc_y(y4));
  glEnd();
}

void draw_circle(int cx, int cy, Colour3f colour, int n, int start, float radius) {
  if (n <= 0 || !std::isfinite(radius)) return;
  const float ncx = ndc_x(cx);
  const float ncy = ndc_y(cy);
  auto vertex_at = [&](int i) {
    const Point2f p = circle_point(ncx, ncy, radius, i, n);
    glVertex2f(p.x, p.y);
  };
  glColor3f(colour.r, colour.g, colour.b);
  if (start == 0) {
    glBegin(GL_LINE_LOOP);
    for (int i = 0; i < n; ++i) vertex_at(i);
    glEnd();
    return;
  }
  // At most one dash per 8 segments; 64 covers every circle the game draws.
  int dashes[64];
  const int count = circle_dashes(n, start, dashes, 64);
  glBegin(GL_LINES);
  for (int d = 0; d < count; ++d) {
    vertex_at(dashes[d]);
    vertex_at(dashes[d] + 2);
  }
  glEnd();
}

}  // namespace zbx
