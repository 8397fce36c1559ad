// The SDL side: the subsystem, the mappings, pads coming and going, and one
// reading per poll handed to the game or the menus.
#include "gamepad/gamepad.h"

#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "client/replay.h"

namespace zbx {

namespace {

static_assert(SDL_CONTROLLER_BUTTON_MAX == PAD_BUTTONS);
static_assert(static_cast<int>(SDL_CONTROLLER_AXIS_MAX) == PAD_AXES);
static_assert(SDL_CONTROLLER_BUTTON_A == PAD_BUTTON_A && SDL_CONTROLLER_BUTTON_B == PAD_BUTTON_B);
static_assert(SDL_CONTROLLER_BUTTON_DPAD_UP == PAD_BUTTON_DPAD_UP);
static_assert(SDL_CONTROLLER_BUTTON_DPAD_DOWN == PAD_BUTTON_DPAD_DOWN);
static_assert(static_cast<int>(SDL_CONTROLLER_AXIS_TRIGGERRIGHT) == PAD_RIGHT_TRIGGER);

// The pads for the life of the client.
struct GamepadState {
  bool started = false;  // the subsystem is up
  bool failed = false;   // it could not start: never tried again
  SDL_GameController* pad = nullptr;
  SDL_JoystickID padId = -1;
  PadReading before;
  PadChannels channels;
  PadMenuState menu;
  std::array<bool, PLAY_ACTIONS> held{};  // lasting actions the game has from the pad
};
GamepadState g_gamepad;

bool in_game() { return g_play.inGame && !g_replay.active; }

ActionResult to_game(PlayAction action, bool pressed) {
  const bool taken = play_action(action, pressed);
  if (!in_game()) return ActionResult::GameOver;
  return taken ? ActionResult::Taken : ActionResult::NotTaken;
}

// Lets go of everything the game has from the pad, as key releases would.
void release_held() {
  if (in_game()) apply_pad_intent(g_gamepad.held, PadIntent{}, to_game);
  g_gamepad.held.fill(false);
  g_gamepad.channels = PadChannels{};
}

void drop_pad() {
  if (g_gamepad.pad == nullptr) return;
  release_held();
  SDL_GameControllerClose(g_gamepad.pad);
  g_gamepad.pad = nullptr;
  g_gamepad.padId = -1;
  g_gamepad.before = PadReading{};
}

// The first game controller attached drives until it goes.
void open_first_pad() {
  const int count = SDL_NumJoysticks();
  for (int index = 0; index < count && g_gamepad.pad == nullptr; ++index) {
    if (!SDL_IsGameController(index)) continue;
    SDL_GameController* pad = SDL_GameControllerOpen(index);
    if (pad == nullptr) continue;
    g_gamepad.pad = pad;
    g_gamepad.padId = SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(pad));
    g_gamepad.before = PadReading{};
  }
}

bool add_mapping(const char* line) { return SDL_GameControllerAddMapping(line) >= 0; }

bool start_subsystem() {
  // The game keeps its own handling of Ctrl+C and termination.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) != 0) return false;
  const std::string& path = g_paths.gamepadMappings;
  if (!path.empty()) {
    const MappingCount count = read_mapping_file(path.c_str(), add_mapping);
    if (count.bad > 0) {
      std::fprintf(stderr,
                   "zbx3d: %s: %d of %d mapping lines ignored (not a mapping, too long, or an "
                   "unknown button or axis)\n",
                   path.c_str(), count.bad, count.bad + count.good);
    }
  }
  return true;
}

// Drains SDL's queue; only pads coming and going matter, the state of the
// driving pad is read afterwards whatever arrived in between.
void follow_pads() {
  SDL_Event event;
  while (SDL_PollEvent(&event) == 1) {
    if (event.type == SDL_CONTROLLERDEVICEREMOVED && event.cdevice.which == g_gamepad.padId) {
      drop_pad();
    }
  }
  if (g_gamepad.pad != nullptr && !SDL_GameControllerGetAttached(g_gamepad.pad)) drop_pad();
  if (g_gamepad.pad == nullptr) open_first_pad();
}

PadReading read_pad(SDL_GameController* pad) {
  PadReading r;
  for (int b = 0; b < PAD_BUTTONS; ++b) {
    r.buttons[b] = SDL_GameControllerGetButton(pad, static_cast<SDL_GameControllerButton>(b)) != 0;
  }
  for (int a = 0; a < PAD_AXES; ++a) {
    r.axes[a] = SDL_GameControllerGetAxis(pad, static_cast<SDL_GameControllerAxis>(a));
  }
  return r;
}

}  // namespace

bool poll_gamepads(PadMenuSink menu, std::int64_t nowMs) {
  if (g_gamepad.failed) return false;
  if (g_client_settings.GAMEPAD == 0) {
    drop_pad();
    if (g_gamepad.started) {
      SDL_PumpEvents();  // nothing piles up while pads are switched off
      SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    }
    return true;
  }
  if (!g_gamepad.started) {
    if (!start_subsystem()) {
      g_gamepad.failed = true;
      return false;
    }
    g_gamepad.started = true;
  }
  follow_pads();
  if (g_gamepad.pad == nullptr) return true;

  const PadReading now = read_pad(g_gamepad.pad);
  std::array<PadCommand, 4> commands{};
  const int n = pad_menu_commands(now, g_gamepad.menu, nowMs, commands);
  if (in_game()) {
    // Menu buttons held through the end of a game do not act in the menu.
    g_gamepad.menu.repeatAt = INT64_MAX;
    const PadIntent intent =
        pad_game_intent(now, g_gamepad.before, pad_layout(g_client_settings.pad),
                        std::clamp(g_client_settings.GAMEPAD_DEAD_ZONE, 0, 95), g_gamepad.channels,
                        nowMs / WORLD_STEP_MILLISECONDS);
    apply_pad_intent(g_gamepad.held, intent, to_game);
  } else {
    // A game that ended has forgotten what it held.
    g_gamepad.held.fill(false);
    for (int i = 0; i < n && menu != nullptr; ++i) menu(commands[i]);
  }
  g_gamepad.before = now;
  return true;
}

bool gamepad_connected() { return g_gamepad.pad != nullptr; }

void stop_gamepads() {
  drop_pad();
  if (g_gamepad.started) SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
  g_gamepad = GamepadState{};
}

}  // namespace zbx
