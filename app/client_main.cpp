// Client mode of zbx3d: settings, sound, window, assets, menus, then the
// window system's event loop, which never returns.
#include "client_main.h"

#include <GL/freeglut.h>

#include <chrono>

#include "client/client.h"
#include "client/hooks.h"
#include "client/mirror.h"
#include "client/replay.h"
#include "gamepad/gamepad.h"
#include "menus/menus.h"
#include "render/core/model.h"
#include "render/core/starfield.h"
#include "render/draw2d.h"
#include "render/render.h"
#include "server/server.h"
#include "sound/sound.h"
#include "startup/highscores.h"
#include "startup/settings.h"

namespace zbx {

namespace {

// The client library reaches sound, drawing and the menus through its hooks.
void fill_client_hooks() {
  ClientHooks hooks = default_client_hooks();
  hooks.play_sound_at = play_sound_at;
  hooks.play_loop = play_loop;
  hooks.stop_loop = stop_loop;
  hooks.stop_all_loops = stop_all_loops;
  fill_render_hooks(hooks);
  fill_menu_hooks(hooks);
  g_client_hooks = hooks;
}

void init_client() {
  g_menus.interfaceSoundPosition = Vector3f{0, 0, 0};
  for (auto& model : g_models) model.reset();
  for (auto& mesh : g_asteroid_meshes) mesh.reset();

  g_menus.pendingWidth = g_client_settings.SCREEN_WIDTH;
  g_menus.pendingHeight = g_client_settings.SCREEN_HEIGHT;
  open_window(main_menu_screen());
  g_menus.screen = Screen::MainMenu;

  make_starfield(g_starfield);
  play_interface_sound(SOUND_WELCOME);
  load_model_set();
  for (int slot = 0; slot < MAX_OBJECTS; ++slot) build_asteroid_mesh(slot);
  init_palette();

  clear_high_scores();
  load_high_scores();

  build_main_menu();
  build_config_menu();
  build_high_score_menu();

  clear_mirror();
  g_mirror.matchRunning = 0;
  g_play.scoreTable = 0;
  // The mirror mutex and the world lock are ready from their construction:
  // default attributes, nothing left to initialise here.
}

// Every screen polls the pads: GLUT has no idle callback on the menus, and
// during a game the timer runs between two frames.
constexpr unsigned PAD_POLL_MILLISECONDS = 15;

void pad_timer(int) {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  if (poll_gamepads(pad_menu_command,
                    std::chrono::duration_cast<std::chrono::milliseconds>(now).count())) {
    glutTimerFunc(PAD_POLL_MILLISECONDS, pad_timer, 0);
  }
}

}  // namespace

int run_client(int argc, char** argv) {
  load_client_settings();
  init_sound(&argc, argv);
  glutInit(&argc, argv);
  // Closing the window leaves through fatal_exit like "Quit Game", not
  // through exit() with server threads still running.
  glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_GLUTMAINLOOP_RETURNS);
  fill_client_hooks();
  init_client();
  play_interface_sound(SOUND_READY);
  pad_timer(0);
  if (g_replay.reader) show_replay_screen();
  enter_main_loop();
}

}  // namespace zbx
