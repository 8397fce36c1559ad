// The play-state flags that change what is drawn, and the drawing entries
// of the client's hook table.
#include "client/client.h"
#include "client/hooks.h"
#include "render/render.h"

namespace zbx {

bool reverse_view_held() { return g_play.reverseView != 0; }
bool score_table_held() { return g_play.scoreTable != 0; }

void fill_render_hooks(ClientHooks& hooks) {
  hooks.set_overlay_projection = set_overlay_projection;
  hooks.begin_frame = begin_frame;
  hooks.reset_view = reset_view;
  hooks.draw_starfield = draw_starfield;
  hooks.draw_overlay = draw_overlay;
  hooks.draw_world = draw_world;
  hooks.draw_silence = draw_silence;
  hooks.draw_replay_state = draw_replay_state;
  hooks.swap_frame = swap_frame;
}

}  // namespace zbx
