// The game screen's key callbacks, its frame and the two ways out of a game.
#include <array>
#include <cstdio>

#include "client/client.h"
#include "client/replay.h"
#include "client/smoothing.h"
#include "protocol/protocol.h"
#include "server/server.h"
#include "startup/settings.h"

namespace zbx {

PlayState g_play;

void hold_mirror() {
  mirror_mutex().lock();
  g_play.holdsMirror = true;
}

void release_mirror() {
  if (!g_play.holdsMirror) return;
  g_play.holdsMirror = false;
  mirror_mutex().unlock();
}

namespace {

constexpr Vector3f AT_LISTENER{0, 0, 0};

// Holds the mirror mutex for a callback that may run outside a frame (the
// window thread normally holds it already); leave_game may release it early.
class MirrorAccess {
 public:
  MirrorAccess() {
    if (!g_play.holdsMirror) {
      hold_mirror();
      locked_ = true;
    }
  }
  ~MirrorAccess() {
    if (locked_) release_mirror();
  }
  MirrorAccess(const MirrorAccess&) = delete;
  MirrorAccess& operator=(const MirrorAccess&) = delete;

 private:
  bool locked_ = false;
};

void stop_loop_handle(int& handle) {
  if (handle != -1) {
    g_client_hooks.stop_loop(handle);
    handle = -1;
  }
}

void start_loop_handle(int& handle, int sound) {
  if (handle == -1) handle = g_client_hooks.play_loop(sound);
}

// Called only after the receiver has ended, so the warp loop cannot come back.
void stop_game_loops() {
  stop_loop_handle(g_play.engineLoop);
  stop_loop_handle(g_play.shieldLoop);
  stop_loop_handle(g_connection.warpLoop);
  g_client_hooks.stop_all_loops();
}

// A private single-player server ends with its game, whether it was played
// or the join failed; any other server thread goes on running.
void finish_private_server() {
  if (!g_local_server.privateGame) return;
  g_local_server.privateGame = false;
  if (stop_server_thread()) load_server_settings(g_paths.serverSettings.c_str());
}

// Steps shared by both ends of a game, up to the screen that follows.
void end_connection() {
  TellServer(CONTROL_QUIT, true);
  g_play.inGame = false;
  stop_receiver();
  stop_game_loops();
  finish_private_server();
}

bool bound(unsigned char key, char binding) {
  return key != 0 && static_cast<char>(key) == binding;
}

// Seconds on the clock the smoother works in: a replay's runs at its speed.
double game_clock() { return g_replay.active ? g_replay.clock : steady_seconds(); }

void key_pressed(int control) {
  if (const int byte = key_state_byte(control); byte >= 0) g_connection.KeyState[byte] = 1;
  note_held_keys(game_clock());  // the own view turns from this moment
  TellServer(control, true);
}

void key_released(int control) {
  if (const int byte = key_state_byte(control); byte >= 0) g_connection.KeyState[byte] = 0;
  {
    MirrorAccess access;  // a release may come outside a game's frames
    note_held_keys(game_clock());
  }
  TellServer(control, false);
}

// The held controls that come in pairs on one axis, in the order the keys are
// tried: of a pair, only the first bound to the key acts.
struct ControlPair {
  char KeyBindings::*first;
  char KeyBindings::*second;
  int firstControl;  // the second's control is the next id
};
constexpr std::array<ControlPair, 4> CONTROL_PAIRS = {{
    {&KeyBindings::Z_FORWARD_KEY, &KeyBindings::Z_BACKWARD_KEY, CONTROL_FORWARD_THRUST},
    {&KeyBindings::X_FORWARD_ROTATE_KEY, &KeyBindings::X_BACKWARD_ROTATE_KEY,
     CONTROL_X_FORWARD_ROTATE},
    {&KeyBindings::Y_FORWARD_ROTATE_KEY, &KeyBindings::Y_BACKWARD_ROTATE_KEY,
     CONTROL_Y_FORWARD_ROTATE},
    {&KeyBindings::Z_FORWARD_ROTATE_KEY, &KeyBindings::Z_BACKWARD_ROTATE_KEY,
     CONTROL_Z_FORWARD_ROTATE},
}};

// The control of the pair that `key` works, or -1.
int paired_control(const KeyBindings& k, const ControlPair& pair, unsigned char key) {
  if (bound(key, k.*pair.first)) return pair.firstControl;
  if (bound(key, k.*pair.second)) return pair.firstControl + 1;
  return -1;
}

void update_loop_sounds(const MirrorPlayer* own) {
  const auto& ks = g_connection.KeyState;
  if (!own) {
    stop_loop_handle(g_play.shieldLoop);
    stop_loop_handle(g_play.engineLoop);
    return;
  }
  if (own->alive && own->shield != 0) {
    if (ks[KEYSTATE_SHIELD]) start_loop_handle(g_play.shieldLoop, SOUND_SHIELD_LOOP);
  } else {
    stop_loop_handle(g_play.shieldLoop);
  }
  if (own->alive) {
    if (ks[KEYSTATE_FORWARD_THRUST]) start_loop_handle(g_play.engineLoop, SOUND_ENGINE_LOOP);
  } else {
    stop_loop_handle(g_play.engineLoop);
  }
}

// A late frame does not sleep; a receiver already queued for the mirror still
// gets its turn before the next frame takes the mutex back.
void give_receiver_turn() {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(5);
  while (g_connection.receiverActive.load() != 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
}

}  // namespace

void play_key_down(unsigned char key) {
  if (key == 0) return;  // unbound actions hold character 0
  const KeyBindings& k = g_client_settings.keys;
  MirrorAccess access;
  MirrorPlayer* own = own_player();
  if (!own) {
    // Quitting must work before the first update has arrived.
    if (bound(key, k.QUIT_KEY)) leave_game();
    return;
  }

  if (bound(key, k.FIRE_KEY)) {
    if (own->lives != 0) {
      TellServer(CONTROL_FIRE, true);
    } else {
      end_game();
      return;  // the game is over: no other binding of this key may act
    }
  }
  for (const ControlPair& pair : CONTROL_PAIRS) {
    const int control = paired_control(k, pair, key);
    if (control < 0) continue;
    key_pressed(control);
    if (control == CONTROL_FORWARD_THRUST && own->alive) {
      start_loop_handle(g_play.engineLoop, SOUND_ENGINE_LOOP);
    }
  }
  if (bound(key, k.SHIELD_KEY)) {
    if (own->alive) {
      if (own->shield == 0) {
        g_client_hooks.play_sound_at(SOUND_SHIELD_EMPTY, AT_LISTENER);
      } else {
        start_loop_handle(g_play.shieldLoop, SOUND_SHIELD_LOOP);
      }
    }
    key_pressed(CONTROL_SHIELD);
  }
  if (bound(key, k.WARP_KEY)) key_pressed(CONTROL_WARP);
  if (bound(key, k.NUKE_KEY)) key_pressed(CONTROL_NUKE);
  if (bound(key, k.SCORE_KEY)) g_play.scoreTable = 1;
  if (bound(key, k.REVERSE_VIEW_KEY)) g_play.reverseView = 1;
  if (bound(key, k.QUIT_KEY)) leave_game();
}

void play_key_up(unsigned char key) {
  if (key == 0) return;
  const KeyBindings& k = g_client_settings.keys;
  for (const ControlPair& pair : CONTROL_PAIRS) {
    const int control = paired_control(k, pair, key);
    if (control < 0) continue;
    key_released(control);
    if (control == CONTROL_FORWARD_THRUST) stop_loop_handle(g_play.engineLoop);
  }
  if (bound(key, k.SHIELD_KEY)) {
    key_released(CONTROL_SHIELD);
    stop_loop_handle(g_play.shieldLoop);
  }
  if (bound(key, k.SCORE_KEY)) g_play.scoreTable = 0;
  if (bound(key, k.REVERSE_VIEW_KEY)) g_play.reverseView = 0;
}

std::int64_t elapsed_microseconds(const timeval& a, const timeval& b) {
  return (static_cast<std::int64_t>(b.tv_sec) - a.tv_sec) * 1000000 +
         (static_cast<std::int64_t>(b.tv_usec) - a.tv_usec);
}

FramePacing frame_pacing(std::int64_t elapsed) {
  if (elapsed >= 1 && elapsed < FRAME_MICROSECONDS) {
    return {static_cast<int>(FRAME_MICROSECONDS - elapsed), FRAME_ANIMATION_STEP};
  }
  // A clock set back must not run the animations backwards.
  if (elapsed < 0) return {0, 0.0f};
  return {0, static_cast<float>(static_cast<double>(elapsed) / FRAME_MICROSECONDS *
                                FRAME_ANIMATION_STEP)};
}

int next_beat(int& counter, int& toggle, int period) {
  if (--counter > 0) return -1;
  const int sound = toggle == 0 ? SOUND_BEAT_LOW : SOUND_BEAT_HIGH;
  toggle = 1 - toggle;
  counter = period;
  return sound;
}

void advance_explosions(WorldMirror& mirror, float increment) {
  for (auto& o : mirror.objects) {
    if (!o) continue;
    if (o->kind == KIND_SMALL_EXPLOSION) {
      o->age += increment;
    } else if (o->kind == KIND_SHIP_EXPLOSION) {
      o->age += increment / 6.0f;
    }
  }
}

bool update_due(const timeval& lastUpdate, const timeval& now) {
  return lastUpdate.tv_sec != now.tv_sec;
}

void frame_step() {
  if (!g_play.inGame) return;
  MirrorAccess access;

  const int beat = next_beat(g_play.beatCounter, g_play.beatToggle, g_play.beatPeriod);
  if (beat >= 0) g_client_hooks.play_sound_at(beat, AT_LISTENER);

  const MirrorPlayer* own = own_player();
  update_loop_sounds(own);

  timeval now{};
  gettimeofday(&now, nullptr);
  if (update_due(g_play.lastUpdate, now)) {
    SendUpdate();
    g_play.lastUpdate = now;
  }

  if (const int quiet = silence_seconds(); quiet > 0) g_client_hooks.draw_silence(quiet);
  if (g_replay.active) g_client_hooks.draw_replay_state(g_replay.speed.load(), false);
  if (own) {
    g_client_hooks.draw_overlay();
    g_client_hooks.draw_world();
  }

  const FramePacing pacing = frame_pacing(elapsed_microseconds(g_play.previousFrame, now));
  advance_explosions(g_mirror, pacing.increment);
  advance_drawn_explosions(pacing.increment);

  // The receiver applies its datagrams while the mirror is free.
  release_mirror();
  if (pacing.sleepMicroseconds > 0) {
    std::this_thread::sleep_for(std::chrono::microseconds(pacing.sleepMicroseconds));
  } else {
    give_receiver_turn();
  }
  gettimeofday(&g_play.previousFrame, nullptr);
  hold_mirror();
}

void play_frame() {
  if (!g_play.inGame) return;
  MirrorAccess access;
  refresh_drawn_world(game_clock());
  g_client_hooks.begin_frame();
  g_client_hooks.reset_view();
  if (own_player()) g_client_hooks.draw_starfield();
  frame_step();
  g_client_hooks.swap_frame();
}

void leave_game() {
  end_connection();
  // Restores the address and port a single-player start replaced, and drops
  // unsaved edits.
  load_client_settings();
  g_client_hooks.set_overlay_projection();
  g_client_hooks.show_main_menu();
}

void end_game() {
  int score = 0;
  {
    MirrorAccess access;
    if (const MirrorPlayer* own = own_player()) score = own->score;
  }
  end_connection();
  if (g_client_hooks.score_qualifies(score)) {
    g_client_hooks.play_sound_at(SOUND_HIGH_SCORE, AT_LISTENER);
    g_client_hooks.set_overlay_projection();
    g_client_hooks.show_name_entry();
  } else {
    g_client_hooks.set_overlay_projection();
    g_client_hooks.show_main_menu();
  }
}

}  // namespace zbx
