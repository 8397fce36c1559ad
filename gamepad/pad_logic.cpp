// The gamepad's pure parts: names, the duty cycle, the game intent of a
// reading and the menu commands.
#include <algorithm>
#include <cctype>

#include "gamepad/gamepad.h"

namespace zbx {

namespace {

// SDL's order: face buttons, the three in the middle, stick clicks,
// shoulders, d-pad, then the extras of newer pads.
// clang-format off
constexpr std::array<const char*, PAD_BUTTONS> BUTTON_NAMES = {
    "a", "b", "x", "y", "back", "guide", "start", "leftstick", "rightstick", "leftshoulder",
    "rightshoulder", "dpup", "dpdown", "dpleft", "dpright", "misc1", "paddle1", "paddle2",
    "paddle3", "paddle4", "touchpad"};
// clang-format on

constexpr std::array<const char*, PAD_AXES> AXIS_NAMES = {"leftx",  "lefty",       "rightx",
                                                          "righty", "lefttrigger", "righttrigger"};

bool same_name(std::string_view a, const char* b) {
  const std::string_view bv(b);
  if (a.size() != bv.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != bv[i]) return false;
  }
  return true;
}

template <std::size_t N>
int find_name(const std::array<const char*, N>& names, std::string_view name) {
  if (name.empty()) return -1;
  for (std::size_t i = 0; i < N; ++i) {
    if (same_name(name, names[i])) return static_cast<int>(i);
  }
  return -1;
}

// The stick directions and triggers: which axis, which side, which action.
struct Channel {
  PadAxis axis;
  bool negative;
  PlayAction action;
};
// Stick up dives like the keyboard's w (nose down), left yaws left like a.
constexpr std::array<Channel, PAD_CHANNELS> CHANNELS = {{
    {PAD_LEFT_Y, true, PlayAction::XBackwardRotate},
    {PAD_LEFT_Y, false, PlayAction::XForwardRotate},
    {PAD_LEFT_X, true, PlayAction::YBackwardRotate},
    {PAD_LEFT_X, false, PlayAction::YForwardRotate},
    {PAD_RIGHT_TRIGGER, false, PlayAction::ForwardThrust},
    {PAD_LEFT_TRIGGER, false, PlayAction::ReverseThrust},
}};

int index_of(PlayAction action) { return static_cast<int>(action); }

}  // namespace

int pad_button_index(std::string_view name) { return find_name(BUTTON_NAMES, name); }

int pad_axis_index(std::string_view name) { return find_name(AXIS_NAMES, name); }

int analog_steps(int magnitude, int deadZonePercent) {
  const long travel = std::clamp(magnitude, 0, PAD_AXIS_MAX);
  const long deadZone = std::clamp(deadZonePercent, 0, 100);
  if (travel == 0 || travel * 100 <= deadZone * PAD_AXIS_MAX) return 0;
  // Rounded to the nearest step; a stick that stops a little short of its
  // end still holds all the time.
  return static_cast<int>((travel * DUTY_PERIOD_STEPS * 2 + PAD_AXIS_MAX) / (2 * PAD_AXIS_MAX));
}

bool duty_cycle(DutyCycle& c, std::int64_t step, int onSteps) {
  onSteps = std::clamp(onSteps, 0, DUTY_PERIOD_STEPS);
  if (onSteps == 0) {
    // The rest of this period stays off, however the axis jitters.
    c.onSteps = 0;
    c.held = false;
    return false;
  }
  const std::int64_t since = step - c.start;
  if (since < 0 || since >= DUTY_PERIOD_STEPS) {
    // From rest a push starts its period now; a running cycle keeps its beat.
    c.start = c.onSteps == 0 || since < 0 ? step : step - since % DUTY_PERIOD_STEPS;
    c.onSteps = onSteps;
  } else if (onSteps == DUTY_PERIOD_STEPS) {
    c.onSteps = DUTY_PERIOD_STEPS;
  }
  c.held = step - c.start < c.onSteps;
  return c.held;
}

PadLayout pad_layout(const PadButtons& b) {
  PadLayout layout;
  layout.button.fill(-1);
  const auto set = [&](PlayAction action, const char* name) {
    layout.button[index_of(action)] = pad_button_index(name);
  };
  set(PlayAction::Fire, b.PAD_FIRE_BUTTON);
  set(PlayAction::Shield, b.PAD_SHIELD_BUTTON);
  set(PlayAction::Nuke, b.PAD_NUKE_BUTTON);
  set(PlayAction::Warp, b.PAD_WARP_BUTTON);
  set(PlayAction::Score, b.PAD_SCORE_BUTTON);
  set(PlayAction::ReverseView, b.PAD_REVERSE_VIEW_BUTTON);
  set(PlayAction::Quit, b.PAD_QUIT_BUTTON);
  set(PlayAction::ZForwardRotate, b.PAD_ROLL_LEFT_BUTTON);
  set(PlayAction::ZBackwardRotate, b.PAD_ROLL_RIGHT_BUTTON);
  return layout;
}

PadIntent pad_game_intent(const PadReading& now, const PadReading& before, const PadLayout& layout,
                          int deadZonePercent, PadChannels& channels, std::int64_t step) {
  PadIntent intent;
  for (int a = 0; a < PLAY_ACTIONS; ++a) {
    const int button = layout.button[a];
    if (button < 0 || button >= PAD_BUTTONS) continue;
    if (action_is_held(static_cast<PlayAction>(a))) {
      intent.held[a] = intent.held[a] || now.buttons[button];
    } else {
      intent.pressed[a] = now.buttons[button] && !before.buttons[button];
    }
  }
  for (int c = 0; c < PAD_CHANNELS; ++c) {
    const Channel& channel = CHANNELS[c];
    const int value = now.axes[channel.axis];
    // -(-32768) is past the range and counts as full.
    const int magnitude =
        channel.negative ? (value < 0 ? -std::max(value, -PAD_AXIS_MAX) : 0) : std::max(value, 0);
    if (duty_cycle(channels[c], step, analog_steps(magnitude, deadZonePercent))) {
      intent.held[index_of(channel.action)] = true;
    }
  }
  return intent;
}

void apply_pad_intent(std::array<bool, PLAY_ACTIONS>& held, const PadIntent& intent,
                      ActionSink sink) {
  for (int a = 0; a < PLAY_ACTIONS; ++a) {
    if (!held[a] || intent.held[a]) continue;
    held[a] = false;
    if (sink(static_cast<PlayAction>(a), false) == ActionResult::GameOver) return;
  }
  for (int a = 0; a < PLAY_ACTIONS; ++a) {
    const bool lasting = action_is_held(static_cast<PlayAction>(a));
    if (lasting ? held[a] || !intent.held[a] : !intent.pressed[a]) continue;
    const ActionResult result = sink(static_cast<PlayAction>(a), true);
    if (result == ActionResult::GameOver) return;
    if (lasting) held[a] = result == ActionResult::Taken;
  }
}

int pad_menu_commands(const PadReading& now, PadMenuState& state, std::int64_t nowMs,
                      std::array<PadCommand, 4>& out) {
  constexpr int HALF = PAD_AXIS_MAX / 2;
  const bool up = now.buttons[PAD_BUTTON_DPAD_UP] || now.axes[PAD_LEFT_Y] < -HALF;
  const bool down = now.buttons[PAD_BUTTON_DPAD_DOWN] || now.axes[PAD_LEFT_Y] > HALF;
  const bool accept = now.buttons[PAD_BUTTON_A];
  const bool back = now.buttons[PAD_BUTTON_B];
  int n = 0;
  // One direction at a time: both held (a worn stick and the d-pad) move nowhere.
  const bool move = up != down;
  const bool moveStarted = move && ((up && !state.up) || (down && !state.down));
  if (moveStarted) {
    out[n++] = up ? PadCommand::Up : PadCommand::Down;
    state.repeatAt = nowMs + MENU_REPEAT_DELAY_MS;
  } else if (move && nowMs >= state.repeatAt) {
    out[n++] = up ? PadCommand::Up : PadCommand::Down;
    state.repeatAt = nowMs + MENU_REPEAT_MS;
  }
  if (accept && !state.accept) out[n++] = PadCommand::Accept;
  if (back && !state.back) out[n++] = PadCommand::Back;
  state.up = up;
  state.down = down;
  state.accept = accept;
  state.back = back;
  return n;
}

}  // namespace zbx
