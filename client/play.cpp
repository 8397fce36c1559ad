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
  PlayAction firstAction;  // the second's action is the next one
};
constexpr std::array<ControlPair, 4> CONTROL_PAIRS = {{
    {&KeyBindings::Z_FORWARD_KEY, &KeyBindings::Z_BACKWARD_KEY, PlayAction::ForwardThrust},
    {&KeyBindings::X_FORWARD_ROTATE_KEY, &KeyBindings::X_BACKWARD_ROTATE_KEY,
     PlayAction::XForwardRotate},
    {&KeyBindings::Y_FORWARD_ROTATE_KEY, &KeyBindings::Y_BACKWARD_ROTATE_KEY,
     PlayAction::YForwardRotate},
    {&KeyBindings::Z_FORWARD_ROTATE_KEY, &KeyBindings::Z_BACKWARD_ROTATE_KEY,
     PlayAction::ZForwardRotate},
}};

// The action of the pair that `key` works, if any.
bool paired_action(const KeyBindings& k, const ControlPair& pair, unsigned char key,
                   PlayAction& action) {
  if (bound(key, k.*pair.first)) {
    action = pair.firstAction;
  } else if (bound(key, k.*pair.second)) {
    action = static_cast<PlayAction>(static_cast<int>(pair.firstAction) + 1);
  } else {
    return false;
  }
  return true;
}

// The control of a thrust or rotation action (they follow each other in both
// lists).
int axis_control(PlayAction action) {
  return CONTROL_FORWARD_THRUST + static_cast<int>(action) -
         static_cast<int>(PlayAction::ForwardThrust);
}

// One source presses an action. False when the game has ended with it, so no
// other binding of the same key may act.
bool action_down(PlayAction action, std::uint8_t source, const MirrorPlayer& own) {
  if (action_is_held(action)) {
    auto& holders = g_play.holders[static_cast<int>(action)];
    const bool heldElsewhere = (holders & ~source) != 0;
    holders |= source;
    if (heldElsewhere) return true;  // the server has it held already
  }
  switch (action) {
    case PlayAction::Fire:
      if (own.lives == 0) {
        end_game();
        return false;
      }
      TellServer(CONTROL_FIRE, true);
      break;
    case PlayAction::ForwardThrust:
      key_pressed(CONTROL_FORWARD_THRUST);
      if (own.alive) start_loop_handle(g_play.engineLoop, SOUND_ENGINE_LOOP);
      break;
    case PlayAction::ReverseThrust:
    case PlayAction::XForwardRotate:
    case PlayAction::XBackwardRotate:
    case PlayAction::YForwardRotate:
    case PlayAction::YBackwardRotate:
    case PlayAction::ZForwardRotate:
    case PlayAction::ZBackwardRotate:
      key_pressed(axis_control(action));
      break;
    case PlayAction::Shield:
      if (own.alive) {
        if (own.shield == 0) {
          g_client_hooks.play_sound_at(SOUND_SHIELD_EMPTY, AT_LISTENER);
        } else {
          start_loop_handle(g_play.shieldLoop, SOUND_SHIELD_LOOP);
        }
      }
      key_pressed(CONTROL_SHIELD);
      break;
    case PlayAction::Warp:
      key_pressed(CONTROL_WARP);
      break;
    case PlayAction::Nuke:
      key_pressed(CONTROL_NUKE);
      break;
    case PlayAction::Score:
      g_play.scoreTable = 1;
      break;
    case PlayAction::ReverseView:
      g_play.reverseView = 1;
      break;
    case PlayAction::Quit:
      leave_game();
      return false;
  }
  return true;
}

// One source lets go of an action; it ends once no source holds it.
void action_up(PlayAction action, std::uint8_t source) {
  if (!action_is_held(action)) return;
  auto& holders = g_play.holders[static_cast<int>(action)];
  holders &= static_cast<std::uint8_t>(~source);
  if (holders != 0) return;
  switch (action) {
    case PlayAction::ForwardThrust:
      key_released(CONTROL_FORWARD_THRUST);
      stop_loop_handle(g_play.engineLoop);
      break;
    case PlayAction::Shield:
      key_released(CONTROL_SHIELD);
      stop_loop_handle(g_play.shieldLoop);
      break;
    case PlayAction::Score:
      g_play.scoreTable = 0;
      break;
    case PlayAction::ReverseView:
      g_play.reverseView = 0;
      break;
    default:
      key_released(axis_control(action));
      break;
  }
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
  const MirrorPlayer* own = own_player();
  if (!own) {
    // Quitting must work before the first update has arrived.
    if (bound(key, k.QUIT_KEY)) leave_game();
    return;
  }
  const auto down = [&](PlayAction action) { return action_down(action, HELD_BY_KEYBOARD, *own); };
  if (bound(key, k.FIRE_KEY) && !down(PlayAction::Fire)) return;
  for (const ControlPair& pair : CONTROL_PAIRS) {
    PlayAction action;
    if (paired_action(k, pair, key, action)) down(action);
  }
  if (bound(key, k.SHIELD_KEY)) down(PlayAction::Shield);
  if (bound(key, k.WARP_KEY)) down(PlayAction::Warp);
  if (bound(key, k.NUKE_KEY)) down(PlayAction::Nuke);
  if (bound(key, k.SCORE_KEY)) down(PlayAction::Score);
  if (bound(key, k.REVERSE_VIEW_KEY)) down(PlayAction::ReverseView);
  if (bound(key, k.QUIT_KEY)) down(PlayAction::Quit);
}

void play_key_up(unsigned char key) {
  if (key == 0) return;
  const KeyBindings& k = g_client_settings.keys;
  for (const ControlPair& pair : CONTROL_PAIRS) {
    PlayAction action;
    if (paired_action(k, pair, key, action)) action_up(action, HELD_BY_KEYBOARD);
  }
  if (bound(key, k.SHIELD_KEY)) action_up(PlayAction::Shield, HELD_BY_KEYBOARD);
  if (bound(key, k.SCORE_KEY)) action_up(PlayAction::Score, HELD_BY_KEYBOARD);
  if (bound(key, k.REVERSE_VIEW_KEY)) action_up(PlayAction::ReverseView, HELD_BY_KEYBOARD);
}

bool play_action(PlayAction action, bool pressed) {
  if (!g_play.inGame) return false;
  if (!pressed) {
    action_up(action, HELD_BY_OTHER);
    return true;
  }
  MirrorAccess access;
  const MirrorPlayer* own = own_player();
  if (!own) {
    if (action == PlayAction::Quit) leave_game();
    return action == PlayAction::Quit;
  }
  action_down(action, HELD_BY_OTHER, *own);
  return true;
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
