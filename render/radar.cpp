// The radar panel: other ships and asteroids near the own ship, placed by
// their direction from the nose, bright ahead and dark behind.
#include <GL/gl.h>

#include <array>
#include <cmath>

#include "client/mirror.h"
#include "render/core/view.h"
#include "render/render.h"
#include "startup/settings.h"

namespace zbx {

namespace {

// The points of one blip, inside an open GL_POINTS block: the same pixels as
// one draw_point each, without a draw call per pixel (hundreds of asteroids
// may be near).
void emit_blip(Vector3f position, Colour3f behind, Colour3f ahead, bool is_asteroid, float size) {
  const MirrorPlayer* own = own_player();
  if (own == nullptr) return;
  const Vector3f v = to_camera(wrapped_offset(position, own->position, g_mirror.join.worldWidth),
                               own->flightOrientation);
  // A position that is not finite gives no blip (and nothing to convert).
  if (!is_finite(v)) return;
  const int width = window_width();
  const int height = window_height();
  const Blip blip = radar_blip(v, size, is_asteroid, width, height);
  std::array<std::array<int, 2>, 10> pixels;
  const int count = blip_pixels(blip, pixels);
  const Colour3f colour = blip.ahead ? ahead : behind;
  glColor3f(colour.r, colour.g, colour.b);
  for (int i = 0; i < count; ++i) {
    glVertex2f(pixel_to_ndc(pixels[i][0], width), pixel_to_ndc(pixels[i][1], height));
  }
}

}  // namespace

void draw_blip(Vector3f position, Colour3f behind, Colour3f ahead, bool is_asteroid, float size) {
  glBegin(GL_POINTS);
  emit_blip(position, behind, ahead, is_asteroid, size);
  glEnd();
}

void draw_radar() {
  const int width = window_width();
  const int height = window_height();
  const int cx = width / 2;
  const int cy = height / 6;
  draw_text(width / 2 - 12, height / 3, "Radar", palette_green, 0);
  draw_circle(cx, cy, palette_green, 64, 0, 0.27f);
  const int own_slot = g_mirror.join.slot;
  glBegin(GL_POINTS);
  for (int i = 0; i < MAX_PLAYERS; ++i) {
    const MirrorPlayer* player = g_mirror.players[i].get();
    if (player == nullptr || i == own_slot || !player->alive) continue;
    emit_blip(player->position, palette_dark_red, palette_red, false, player->size);
  }
  for (const auto& object : g_mirror.objects) {
    if (object == nullptr || object->kind != KIND_ASTEROID) continue;
    emit_blip(object->position, palette_grey, palette_light_grey, true, object->size);
  }
  glEnd();
  draw_circle(cx, cy, palette_green, 64, 3, 0.18f);
  draw_circle(cx, cy, palette_green, 64, -1, 0.09f);
  draw_line(cx, cy + 5, cx, cy - 5, palette_dark_red);
  draw_line(cx + 5, cy, cx - 5, cy, palette_dark_red);
}

}  // namespace zbx
