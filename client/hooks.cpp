#include "client/hooks.h"

#include "startup/highscores.h"

namespace zbx {

namespace {
void no_sound(int, Vector3f) {}
int no_loop(int) { return -1; }
void no_stop(int) {}
void nothing() {}
void no_silence(int) {}
}  // namespace

ClientHooks default_client_hooks() {
  ClientHooks h{};
  h.play_sound_at = no_sound;
  h.play_loop = no_loop;
  h.stop_loop = no_stop;
  h.stop_all_loops = nothing;
  h.show_main_menu = nothing;
  h.show_name_entry = nothing;
  h.score_qualifies = score_qualifies;  // the table of this process
  h.set_overlay_projection = nothing;
  h.begin_frame = nothing;
  h.reset_view = nothing;
  h.draw_starfield = nothing;
  h.draw_overlay = nothing;
  h.draw_world = nothing;
  h.draw_silence = no_silence;
  h.draw_replay_state = [](int, bool) {};
  h.swap_frame = nothing;
  return h;
}

ClientHooks g_client_hooks = default_client_hooks();

}  // namespace zbx
