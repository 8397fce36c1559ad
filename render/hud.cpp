// The HUD drawn over every game frame: score, lives, warps, nukes, the two
// gauges, the scoreboard and the "Game Over" texts, then the radar.
#include <array>
#include <cstdio>
#include <cstring>

#include "client/mirror.h"
#include "render/core/view.h"
#include "render/render.h"
#include "startup/settings.h"

namespace zbx {

void draw_gauge(int x, int value, int maximum) {
  const Colour3f frame = palette_white;
  draw_line(x + 5, 18, x + 5, 9, frame);
  draw_line(x + 5, 9, x + 45, 9, frame);
  draw_line(x + 45, 9, x + 45, 18, frame);
  draw_line(x + 45, 18, x + 5, 18, frame);
  // Empty for a value or a maximum of 0 or less; never wider than full.
  const int length = gauge_length(value, maximum);
  if (length == 0) return;
  draw_quad(x + 6, 10, x + 6, 17, x + 6 + length, 17, x + 6 + length, 10, palette_blue);
}

namespace {

void draw_scoreboard(int width, int height, int own_slot) {
  const std::array<int, MAX_PLAYERS> order = scoreboard_order(g_mirror.players);
  int line = 0;
  for (const int slot : order) {
    const MirrorPlayer* player = g_mirror.players[slot].get();
    if (player == nullptr) continue;
    char text[64];
    const int name_length = static_cast<int>(strnlen(player->name, sizeof player->name));
    std::snprintf(text, sizeof text, "%.*s Score: %d", name_length, player->name, player->score);
    draw_text(width / 2 - 7, height - 80 - 20 * line, text,
              slot == own_slot ? palette_red : palette_blue, 0);
    ++line;
  }
  if (g_mirror.matchRunning == 0) {
    draw_text(width / 2 - 7, height - 40, "Game Over", palette_blue, 0);
  }
}

}  // namespace

void draw_overlay() {
  set_overlay_projection();
  const int width = window_width();
  const int height = window_height();
  const JoinInfo& join = g_mirror.join;
  const MirrorPlayer* own = own_player();
  if (own != nullptr) {
    char text[64];
    if (own->lives != 0) {
      std::snprintf(text, sizeof text, "Score:  %d", own->score);
      draw_text(10, height - 20, text, palette_green, 0);
      if (join.gameType != 2) {
        std::snprintf(text, sizeof text, "Lives:  %d", own->lives);
        draw_text(10, height - 35, text, palette_green, 0);
      }
      std::snprintf(text, sizeof text, "HyperWarps:  %d", own->warps);
      draw_text(width - 100, height - 20, text, palette_green, 0);
      std::snprintf(text, sizeof text, "Nukes:  %d", own->nukes);
      draw_text(width - 100, height - 35, text, palette_green, 0);
      if (join.gameType != 0 && (score_table_held() || g_mirror.matchRunning == 0)) {
        draw_scoreboard(width, height, join.slot);
      }
      const int shield_end = draw_text(10, 10, "Shield: ", palette_green, 0);
      draw_gauge(shield_end, own->shield, join.maxShield);
      const int armor_end = draw_text(width - 100, 10, "Armor: ", palette_green, 0);
      draw_gauge(armor_end, own->armor, join.maxArmor);
    } else {
      draw_text(width / 2 - 7, height / 2 + 20, "Game Over", palette_blue, 0);
      if (join.gameType == 0) {
        std::snprintf(text, sizeof text, "Player Score: %d", own->score);
        draw_text(width / 2 - 7, height / 2, text, palette_blue, 0);
        draw_text(width / 2 - 7, height / 2 - 20, "Press Fire key to continue", palette_blue, 0);
      }
    }
  }
  draw_radar();
  set_perspective();
}

void draw_silence(int seconds) {
  set_overlay_projection();
  char text[96];
  const char key = g_client_settings.keys.QUIT_KEY;
  if (key == 0) {
    std::snprintf(text, sizeof text, "No word from the server for %d s", seconds);
  } else {
    std::snprintf(text, sizeof text, "No word from the server for %d s - press %s to leave",
                  seconds, key_name(key).data());
  }
  draw_text((window_width() - text_width(text, 1)) / 2, window_height() / 2, text, palette_red, 1);
  set_perspective();
}

void draw_replay_state(int speed, bool paused) {
  set_overlay_projection();
  char text[32];
  if (paused) {
    std::snprintf(text, sizeof text, "Replay paused");
  } else if (speed > 1) {
    std::snprintf(text, sizeof text, "Replay %dx", speed);
  } else {
    std::snprintf(text, sizeof text, "Replay");
  }
  draw_text((window_width() - text_width(text, 0)) / 2, window_height() - 20, text, palette_blue,
            0);
  set_perspective();
}

}  // namespace zbx
