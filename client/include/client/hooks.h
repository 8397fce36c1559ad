// What the client reaches outside itself without linking GL, GLUT or AL: the
// sound voices, the drawing of a frame, the menus and the high-score table.
// The window task fills g_client_hooks at start-up; until then every entry is
// a harmless default (no sound, nothing drawn, play_loop returns -1; the
// high-score check asks startup's table), which is also what headless tests
// start from. Set only while no game runs.
#pragma once

#include "protocol/zbx_types.h"

namespace zbx {

struct ClientHooks {
  // Sound: one-shot at a listener-relative position; loops by handle (-1: none).
  void (*play_sound_at)(int number, Vector3f position);
  int (*play_loop)(int number);
  void (*stop_loop)(int handle);
  void (*stop_all_loops)();

  // Screens after a game: the menus, or the high-score name entry (which
  // empties its name buffer itself).
  void (*show_main_menu)();
  void (*show_name_entry)();
  bool (*score_qualifies)(int score);

  // Graphics state and the drawing parts of one game frame.
  void (*set_overlay_projection)();
  void (*begin_frame)();
  void (*reset_view)();
  void (*draw_starfield)();
  void (*draw_overlay)();
  void (*draw_world)();
  // The line over a game frame when the server has been silent that long.
  void (*draw_silence)(int seconds);
  // The line over a replay's frames: its speed, or that it is paused.
  void (*draw_replay_state)(int speed, bool paused);
  void (*swap_frame)();
};

// The defaults: every entry set, none of them does anything.
ClientHooks default_client_hooks();

extern ClientHooks g_client_hooks;

}  // namespace zbx
