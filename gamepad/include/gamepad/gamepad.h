// Gamepads beside the keyboard, through SDL's game-controller layer (only its
// game-controller and joystick subsystems: the window, the keyboard and the
// drawing stay the window system's). In a game the pad works the same actions
// as the keys (client/client.h, play_action); outside a game it gives the
// menus Up, Down, Accept and Back. The pad found first drives; pads plugged
// in or pulled out are picked up or dropped at the next poll.
//
// The pure parts (button names, mapping lines, the analog duty cycle, menu
// commands, the actions a reading asks for) need no SDL and are tested
// directly. Everything runs on the window-system thread; no lock.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "client/client.h"
#include "startup/settings.h"

namespace zbx {

// --- Buttons and axes, in SDL's game-controller order ---

inline constexpr int PAD_BUTTONS = 21;
inline constexpr int PAD_BUTTON_A = 0;
inline constexpr int PAD_BUTTON_B = 1;
inline constexpr int PAD_BUTTON_DPAD_UP = 11;
inline constexpr int PAD_BUTTON_DPAD_DOWN = 12;

enum PadAxis {
  PAD_LEFT_X,
  PAD_LEFT_Y,
  PAD_RIGHT_X,
  PAD_RIGHT_Y,
  PAD_LEFT_TRIGGER,
  PAD_RIGHT_TRIGGER,
  PAD_AXES
};
inline constexpr int PAD_AXIS_MAX = 32767;

// The button of an SDL button name (any case); -1 for an unknown or empty one.
int pad_button_index(std::string_view name);
// The axis of an SDL axis name (any case); -1 for an unknown one.
int pad_axis_index(std::string_view name);

// One reading of the driving pad: buttons down, axes (sticks -32768..32767,
// up and left negative; triggers 0..32767).
struct PadReading {
  std::array<bool, PAD_BUTTONS> buttons{};
  std::array<int, PAD_AXES> axes{};
};

// --- Mapping files (SDL's gamecontrollerdb.txt format) ---

// Longest mapping line taken, without its line end.
inline constexpr std::size_t MAPPING_LINE_LIMIT = 1024;

enum class MappingLine {
  Good,  // a mapping for this system
  Skip,  // blank, a comment, or a mapping for another system
  Bad,   // junk, too long, or an unknown button or axis
};
MappingLine check_mapping_line(std::string_view line);

struct MappingCount {
  int good = 0;  // lines handed over and taken
  int bad = 0;   // lines ignored as Bad, or refused by add
};
// Reads the file at path line by line and hands every good line to add (false:
// refused). A missing file counts nothing.
MappingCount read_mapping_file(const char* path, bool (*add)(const char* line));

// --- Analog feel through held / not held ---

// A part-pushed stick or trigger holds its control for that share of each
// period of world steps; one period costs at most a press and a release.
inline constexpr int WORLD_STEP_MILLISECONDS = 20;
inline constexpr int DUTY_PERIOD_STEPS = 10;

// Steps of a period that an axis pushed this far (a magnitude, 0 at rest,
// 32767 full; values past the range count as full) holds its control: 0 up
// to the dead zone (percent of the travel), else the travel rounded to
// tenths of a period.
int analog_steps(int magnitude, int deadZonePercent);

// One direction of an axis switching its control on and off.
struct DutyCycle {
  std::int64_t start = INT64_MIN / 2;  // world step of this period's start
  int onSteps = 0;                     // steps held in it
  bool held = false;
};
// The channel at a world step with onSteps (0..DUTY_PERIOD_STEPS) wanted now.
// A new share waits for the next period, so switching stays bounded; letting
// go releases at once and a full push holds at once; a push from rest starts
// a new period.
bool duty_cycle(DutyCycle& channel, std::int64_t step, int onSteps);

// --- What a reading asks of the game and of the menus ---

// The button of each action in a game (-1: none), from the PAD_* settings.
struct PadLayout {
  std::array<int, PLAY_ACTIONS> button{};
};
PadLayout pad_layout(const PadButtons& buttons);

// The left stick's four directions and the two triggers.
inline constexpr int PAD_CHANNELS = 6;
using PadChannels = std::array<DutyCycle, PAD_CHANNELS>;

struct PadIntent {
  std::array<bool, PLAY_ACTIONS> held{};     // lasting actions to hold now
  std::array<bool, PLAY_ACTIONS> pressed{};  // one-shot actions whose button went down
};
// The left stick pitches (up: nose down) and yaws, the triggers thrust (right
// forward, left reverse), the buttons follow the layout.
PadIntent pad_game_intent(const PadReading& now, const PadReading& before, const PadLayout& layout,
                          int deadZonePercent, PadChannels& channels, std::int64_t step);

// What play_action made of a call.
enum class ActionResult { Taken, NotTaken, GameOver };
using ActionSink = ActionResult (*)(PlayAction action, bool pressed);
// Brings the lasting actions the game holds (held) to the intent, releases
// first, then the presses and the one-shot actions, each in action order;
// stops when the game has ended. A press not taken stays unheld, to be
// tried again.
void apply_pad_intent(std::array<bool, PLAY_ACTIONS>& held, const PadIntent& intent,
                      ActionSink sink);

enum class PadCommand { Up, Down, Accept, Back };
// Edges and repeats of the menu buttons: A accepts, B goes back, the d-pad
// or the left stick past half its travel moves up and down (repeated while
// held).
struct PadMenuState {
  bool up = false;
  bool down = false;
  bool accept = false;
  bool back = false;
  std::int64_t repeatAt = 0;  // milliseconds of the next repeat
};
inline constexpr int MENU_REPEAT_DELAY_MS = 400;
inline constexpr int MENU_REPEAT_MS = 150;
// The commands of a reading at nowMs into out (at most 4); their count.
int pad_menu_commands(const PadReading& now, PadMenuState& state, std::int64_t nowMs,
                      std::array<PadCommand, 4>& out);

// --- The SDL side ---

using PadMenuSink = void (*)(PadCommand command);

// One poll at nowMs (steady milliseconds): starts SDL's game-controller
// subsystem and reads the mapping file on the first poll with GAMEPAD set,
// follows pads coming and going, then drives the game or hands the menus
// their commands. False once SDL cannot start: the caller may stop polling.
bool poll_gamepads(PadMenuSink menu, std::int64_t nowMs);
// Whether a pad drives now.
bool gamepad_connected();
// Releases what the pad holds and shuts SDL's subsystem down (tests, exit).
void stop_gamepads();

}  // namespace zbx
