// The screen of a join under way: where to, which attempt and how long it
// may still wait, redrawn while the join goes on a slice at a time; Escape
// or the quit key gives up at once.
#include <GL/freeglut.h>

#include <algorithm>
#include <cstdio>
#include <thread>

#include "client/client.h"
#include "menus/menus.h"
#include "render/draw2d.h"
#include "render/render.h"
#include "startup/settings.h"

namespace zbx {

namespace {

using Clock = std::chrono::steady_clock;

// Short enough for 50 redraws a second, long enough to leave the CPU idle.
constexpr std::chrono::milliseconds SLICE{20};
constexpr std::chrono::seconds FAILED_NOTICE{4};

void play_keyboard(unsigned char key, int, int) { play_key_down(key); }
void play_keyboard_up(unsigned char key, int, int) { play_key_up(key); }

// Redraws the main menu once the failure line has had its time.
void notice_timer(int) {
  if (g_menus.screen == Screen::MainMenu) draw_main_menu();
}

void centred(int y, const char* text, Colour3f colour) {
  draw_text((window_width() - text_width(text, 1)) / 2, y, text, colour, 1);
}

void begin_connecting() {
  g_menus.joinBegun = true;
  stop_receiver();  // never two receivers: an unfinished game ends here
  begin_join();
}

}  // namespace

void show_play_screen() {
  install_screen(ScreenCallbacks{.keyboard = play_keyboard,
                                 .keyboard_up = play_keyboard_up,
                                 .special = nullptr,
                                 .idle = play_frame,
                                 .display = play_frame});
  g_menus.screen = Screen::Play;
}

void show_connecting_screen(std::chrono::milliseconds pause) {
  install_screen(ScreenCallbacks{.keyboard = connecting_keyboard,
                                 .keyboard_up = nullptr,
                                 .special = nullptr,
                                 .idle = connecting_idle,
                                 .display = draw_connecting});
  g_menus.screen = Screen::Connecting;
  g_menus.joinAt = Clock::now() + pause;
  g_menus.joinBegun = false;
  if (pause.count() <= 0) begin_connecting();
  draw_connecting();
}

void connecting_idle() {
  if (g_menus.screen != Screen::Connecting) return;
  if (!g_menus.joinBegun) {
    const auto left = g_menus.joinAt - Clock::now();
    if (left > Clock::duration::zero()) {
      std::this_thread::sleep_for(std::min<Clock::duration>(left, SLICE));
      draw_connecting();
      return;
    }
    begin_connecting();
  }
  switch (join_step(SLICE)) {
    case JoinStatus::Waiting:
      draw_connecting();
      break;
    case JoinStatus::Joined:
      // The single-player game's private server is nothing to come back to.
      if (!g_local_server.privateGame) remember_joined_server();
      show_play_screen();
      set_overlay_projection();
      set_perspective();
      begin_game();
      break;
    case JoinStatus::Failed:
      g_menus.failedUntil = Clock::now() + FAILED_NOTICE;
      glutTimerFunc(std::chrono::milliseconds(FAILED_NOTICE).count() + 50, notice_timer, 0);
      leave_game();  // the main menu, the socket closed, a private server stopped
      break;
  }
}

void connecting_keyboard(unsigned char key, int, int) {
  const char quit = g_client_settings.keys.QUIT_KEY;
  if (key != KEY_ESCAPE && (quit == 0 || static_cast<char>(key) != quit)) return;
  g_connection.join.active = false;
  leave_game();
}

void draw_connecting() {
  const int h = window_height() / 2;
  char line[96];
  const auto& s = g_client_settings;
  std::snprintf(line, sizeof line, "Connecting to %.*s port %d",
                static_cast<int>(sizeof s.SERVER_IP), s.SERVER_IP, s.SERVER_PORT);
  begin_frame();
  centred(h + 30, line, palette_blue);
  if (!g_menus.joinBegun) {
    std::snprintf(line, sizeof line, "Starting the local server");
  } else {
    const auto left = g_connection.join.deadline - Clock::now();
    const double seconds = std::max(0.0, std::chrono::duration<double>(left).count());
    std::snprintf(line, sizeof line, "Attempt %d of %d, %.1f s left", g_connection.join.attempt,
                  JOIN_ATTEMPTS, seconds);
  }
  centred(h, line, palette_white);
  centred(h - 30, "Escape cancels", palette_blue);
  swap_frame();
}

void relayout_screens() {
  g_menus.mainMenu.top = main_menu_top_offset(window_height());
  g_menus.config.top = config_top_offset(window_height());
  if (g_menus.screen == Screen::Play) {
    set_overlay_projection();
    set_perspective();
  }
}

}  // namespace zbx
