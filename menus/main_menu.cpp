// The main menu, its eight actions and the play screen the games run on.
#include <chrono>
#include <cstdio>
#include <thread>

#include "client/client.h"
#include "menus/menus.h"
#include "render/draw2d.h"
#include "render/render.h"
#include "server/server.h"
#include "startup/settings.h"

namespace zbx {

namespace {

void set_item(MenuItem& item, const char* label, MenuAction action) {
  std::snprintf(item.label, sizeof item.label, "%s", label);
  item.action = action;
}

}  // namespace

void build_main_menu() {
  auto& m = g_menus.mainMenu;
  m.selected = 0;
  set_item(m.items[0], "Start Single Player Game", start_single_player_action);
  set_item(m.items[1], "Start Multi Player Game", start_multi_player_action);
  set_item(m.items[2], "Start ZBX Server", start_server_action);
  set_item(m.items[3], "Stop ZBX Server", stop_server_action);
  set_item(m.items[4], "Edit Game Configuration", show_config_editor);
  set_item(m.items[5], "View High Scores", show_high_scores);
  set_item(m.items[6], "Quit Game", quit_game_action);
  // After the items of the first games, so that they keep their places.
  set_item(m.items[7], "Find Servers", show_find_servers);
  m.count = MAIN_MENU_ITEMS;
  m.top = main_menu_top_offset(window_height());
}

const ScreenCallbacks& main_menu_screen() {
  static const ScreenCallbacks screen{.keyboard = main_menu_keyboard,
                                      .keyboard_up = nullptr,
                                      .special = main_menu_special,
                                      .idle = nullptr,
                                      .display = draw_main_menu};
  return screen;
}

void show_main_menu() {
  install_screen(main_menu_screen());
  g_menus.screen = Screen::MainMenu;
  draw_main_menu();
}

void draw_main_menu() {
  auto& m = g_menus.mainMenu;
  const int w = window_width();
  const int h = window_height();
  const ScrollWindow window = begin_list_frame(m.first, m.selected, m.count);
  for (int i = window.first; i <= window.last; ++i) {
    draw_text(w / 2 - 100, h - m.top - MENU_LINE_HEIGHT * (i - window.first), m.items[i].label,
              i == m.selected ? palette_white : palette_blue, 1);
  }
  if (std::chrono::steady_clock::now() < g_menus.failedUntil) {
    draw_text(w / 2 - 100, h - m.top - MENU_LINE_HEIGHT * (window.last - window.first + 2),
              "Failed to connect to server", palette_red, 1);
  }
  swap_frame();
}

void main_menu_keyboard(unsigned char key, int, int) {
  if (key != KEY_RETURN) return;
  const auto& m = g_menus.mainMenu;
  if (m.selected >= 0 && m.selected < m.count && m.items[m.selected].action) {
    m.items[m.selected].action();
  }
}

void main_menu_special(int key, int, int) {
  auto& m = g_menus.mainMenu;
  if (key == SPECIAL_KEY_UP || key == SPECIAL_KEY_DOWN) play_interface_sound(SOUND_MENU_MOVE);
  m.selected = navigate_list(m.selected, m.count, key);
  draw_main_menu();
}

void start_single_player_action() {
  if (local_server_running()) {
    play_interface_sound(SOUND_REFUSED);
    return;
  }
  play_interface_sound(SOUND_GAME_START);
  // Private server on 127.0.0.1:12345, a pause, then the join; a failed join
  // comes back to the main menu through leave_game, which stops that server.
  start_private_server();
  show_connecting_screen(g_local_server.startWait);
}

void start_multi_player_action() {
  play_interface_sound(SOUND_GAME_START);
  show_connecting_screen(std::chrono::milliseconds(0));
}

void start_server_action() {
  if (local_server_running()) {
    play_interface_sound(SOUND_REFUSED);
    return;
  }
  play_interface_sound(SOUND_GAME_START);
  start_server_thread(1);
  std::this_thread::sleep_for(g_local_server.startWait);
}

void stop_server_action() {
  if (!local_server_running()) {
    play_interface_sound(SOUND_REFUSED);
    return;
  }
  stop_server_thread();
}

void quit_game_action() { fatal_exit(0); }

void fill_menu_hooks(ClientHooks& hooks) {
  hooks.show_main_menu = show_main_menu;
  hooks.show_name_entry = show_name_entry;
  // Not a client hook, but set at the same moment: the window's size changes
  // reach the menus through it.
  g_render.relayout = relayout_screens;
}

}  // namespace zbx
