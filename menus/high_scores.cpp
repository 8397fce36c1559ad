// The high-score view with its two-item menu, and the name entry after a
// game over with a score that earns a place.
#include <cstdio>
#include <mutex>

#include "client/client.h"
#include "client/mirror.h"
#include "menus/menus.h"
#include "render/draw2d.h"
#include "render/render.h"
#include "startup/highscores.h"
#include "startup/settings.h"

namespace zbx {

namespace {

void clear_high_scores_action() {
  clear_high_scores();
  save_high_scores();
  draw_high_score_view();
}

void set_item(MenuItem& item, const char* label, MenuAction action) {
  std::snprintf(item.label, sizeof item.label, "%s", label);
  item.action = action;
}

// The final score of the game just ended (its receiver has stopped).
int own_final_score() {
  std::unique_lock<std::mutex> lock(mirror_mutex(), std::defer_lock);
  if (!g_play.holdsMirror) lock.lock();
  const MirrorPlayer* own = own_player();
  return own ? own->score : 0;
}

}  // namespace

void build_high_score_menu() {
  auto& m = g_menus.highScoreMenu;
  m.selected = 0;
  set_item(m.items[0], "Clear High Scores", clear_high_scores_action);
  set_item(m.items[1], "Return To Main Menu", show_main_menu);
  m.count = HIGH_SCORE_MENU_ITEMS;
}

void show_high_scores() {
  install_screen(ScreenCallbacks{.keyboard = high_score_keyboard,
                                 .keyboard_up = nullptr,
                                 .special = high_score_special,
                                 .idle = nullptr,
                                 .display = draw_high_score_view});
  g_menus.screen = Screen::HighScores;
  draw_high_score_view();
}

void draw_high_score_view() {
  const int w = window_width();
  const int h = window_height();
  const auto& m = g_menus.highScoreMenu;
  begin_frame();
  draw_text(20, h - 50, "Name", palette_blue, 1);
  draw_text(w / 2, h - 50, "Score", palette_blue, 1);
  const int rows = high_score_rows(h);
  for (int j = 0; j < rows; ++j) {
    const HighScoreEntry& entry = g_high_scores.entries[j];
    const int y = h - 90 - MENU_LINE_HEIGHT * j;
    char score[16];
    std::snprintf(score, sizeof score, "%d", entry.score);
    draw_text(20, y, entry.name, palette_red, 1);
    draw_text(w / 2, y, score, palette_red, 1);
  }
  for (int i = 0; i < m.count; ++i) {
    draw_text(w / 2 - 100, MENU_LINE_HEIGHT * (m.count - i) + MENU_LINE_HEIGHT, m.items[i].label,
              i == m.selected ? palette_white : palette_blue, 1);
  }
  swap_frame();
}

void high_score_keyboard(unsigned char key, int, int) {
  if (key != KEY_RETURN) return;
  const auto& m = g_menus.highScoreMenu;
  if (m.selected >= 0 && m.selected < m.count && m.items[m.selected].action) {
    m.items[m.selected].action();
  }
}

void high_score_special(int key, int, int) {
  auto& m = g_menus.highScoreMenu;
  if (key == SPECIAL_KEY_UP || key == SPECIAL_KEY_DOWN) play_interface_sound(SOUND_MENU_MOVE);
  m.selected = navigate_list(m.selected, m.count, key);
  draw_high_score_view();
}

void show_name_entry() {
  g_menus.nameBuffer[0] = '\0';
  install_screen(ScreenCallbacks{.keyboard = name_entry_keyboard,
                                 .keyboard_up = nullptr,
                                 .special = nullptr,
                                 .idle = nullptr,
                                 .display = draw_name_entry});
  g_menus.screen = Screen::NameEntry;
  draw_name_entry();
}

void draw_name_entry() {
  const int w = window_width();
  const int h = window_height();
  begin_frame();
  draw_text(w / 2 - 200, h / 2 + 50, "Congratulations, you've made a high score", palette_blue, 1);
  draw_input_box_body("Enter Name", g_menus.nameBuffer);
}

void name_entry_keyboard(unsigned char key, int, int) {
  if (key == KEY_RETURN) {
    play_interface_sound(SOUND_NAME_ENTERED);
    insert_high_score(own_final_score(), g_menus.nameBuffer);
    show_high_scores();
    return;
  }
  edit_text_key(g_menus.nameBuffer, PLAYER_NAME_LIMIT, key);
  draw_name_entry();
}

}  // namespace zbx
