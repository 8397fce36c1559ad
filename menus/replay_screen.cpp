// The game screen of a replay: the play screen's drawing with the replay's
// keys.
#include "client/replay.h"
#include "menus/menus.h"
#include "render/render.h"

namespace zbx {

namespace {
void replay_keyboard(unsigned char key, int, int) { replay_key_down(key); }
void replay_keyboard_up(unsigned char key, int, int) { replay_key_up(key); }
}  // namespace

void show_replay_screen() {
  install_screen(ScreenCallbacks{.keyboard = replay_keyboard,
                                 .keyboard_up = replay_keyboard_up,
                                 .special = nullptr,
                                 .idle = replay_frame,
                                 .display = replay_frame});
  g_menus.screen = Screen::Play;
  set_overlay_projection();
  set_perspective();
  begin_replay();
}

}  // namespace zbx
