// The radar panel: other ships and asteroids near the own ship, placed by
// their direction from the nose, bright ahead and dark behind.
#include <cmath>

#include "client/mirror.h"
#include "render/pending_core.h"
#include "render/render.h"
#include "startup/settings.h"

namespace zbx {

void draw_blip(Vector3f position, Colour3f behind, Colour3f ahead, bool is_asteroid, float size) {
  const MirrorPlayer* own = own_player();
  if (own == nullptr) return;
  const Vector3f v = to_camera(
      wrapped_offset(position, own->position, g_mirror.join.worldWidth), own->flightOrientation);
  const Colour3f colour = v.z < 0 ? ahead : behind;
  const float dist = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
  const float gap = dist - size;
  if (!(gap < (is_asteroid ? 6.0f : 10.0f))) return;  // also refuses a NaN gap
  // An entity exactly at the camera has no direction: show it in the centre.
  const float sx = dist > 0 ? v.x / dist : 0.0f;
  const float sy = dist > 0 ? v.y / dist : 0.0f;
  const int half_width = g_client_settings.SCREEN_WIDTH / 2;
  const int half_height = g_client_settings.SCREEN_HEIGHT / 2;
  const int px = static_cast<int>(half_width * (sx * 0.26 + 1.0));
  const int py = static_cast<int>(half_height * (sy * 0.26 + 0.333));
  draw_point(px, py, colour);
  if (gap > 2.5f) return;
  draw_point(px + 1, py, colour);
  draw_point(px, py + 1, colour);
  draw_point(px + 1, py + 1, colour);
  if (gap > 1.0f) return;
  draw_point(px + 2, py, colour);
  draw_point(px + 2, py + 1, colour);
  draw_point(px + 1, py + 2, colour);
  draw_point(px, py + 2, colour);
  draw_point(px + 1, py + 1, colour);
  draw_point(px + 2, py + 2, colour);
}

void draw_radar() {
  const int width = g_client_settings.SCREEN_WIDTH;
  const int height = g_client_settings.SCREEN_HEIGHT;
  const int cx = width / 2;
  const int cy = height / 6;
  draw_text(width / 2 - 12, height / 3, "Radar", palette_green, 0);
  draw_circle(cx, cy, palette_green, 64, 0, 0.27f);
  const int own_slot = g_mirror.join.slot;
  for (int i = 0; i < MAX_PLAYERS; ++i) {
    const MirrorPlayer* player = g_mirror.players[i].get();
    if (player == nullptr || i == own_slot || !player->alive) continue;
    draw_blip(player->position, palette_dark_red, palette_red, false, player->size);
  }
  for (const auto& object : g_mirror.objects) {
    if (object == nullptr || object->kind != KIND_ASTEROID) continue;
    draw_blip(object->position, palette_grey, palette_light_grey, true, object->size);
  }
  draw_circle(cx, cy, palette_green, 64, 3, 0.18f);
  draw_circle(cx, cy, palette_green, 64, -1, 0.09f);
  draw_line(cx, cy + 5, cx, cy - 5, palette_dark_red);
  draw_line(cx + 5, cy, cx - 5, cy, palette_dark_red);
}

}  // namespace zbx
