// The gamepad's pure parts: names, mapping lines and files, the duty cycle,
// the game intent of a reading and the menu commands.
#include <SDL.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "gamepad/gamepad.h"
#include "testing/files.h"

namespace zbx {
namespace {

constexpr const char* GOOD_LINE =
    "030000005e0400008e02000010010000,X360 Pad,a:b0,b:b1,x:b2,y:b3,back:b6,start:b7,"
    "leftstick:b9,leftshoulder:b4,rightshoulder:b5,dpup:h0.1,dpdown:h0.4,leftx:a0,lefty:a1,"
    "-righty:a4~,lefttrigger:a2,righttrigger:+a5,platform:Linux,";

TEST(PadNames, MatchSdlsAndIgnoreCase) {
  for (int b = 0; b < PAD_BUTTONS; ++b) {
    EXPECT_STREQ(pad_button_name(b),
                 SDL_GameControllerGetStringForButton(static_cast<SDL_GameControllerButton>(b)));
    EXPECT_EQ(pad_button_index(pad_button_name(b)), b);
  }
  for (int a = 0; a < PAD_AXES; ++a) {
    EXPECT_EQ(
        pad_axis_index(SDL_GameControllerGetStringForAxis(static_cast<SDL_GameControllerAxis>(a))),
        a);
  }
  EXPECT_EQ(pad_button_index("LeftShoulder"), 9);
  EXPECT_EQ(pad_button_index(""), -1);
  EXPECT_EQ(pad_button_index("a "), -1);
  EXPECT_EQ(pad_button_index("lefttrigger"), -1);  // an axis, not a button
  EXPECT_STREQ(pad_button_name(PAD_BUTTONS), "");
}

TEST(MappingLines, GoodSkippedAndBad) {
  EXPECT_EQ(check_mapping_line(GOOD_LINE), MappingLine::Good);
  EXPECT_EQ(check_mapping_line("030000005e0400008e02000010010000,Pad,a:b0"), MappingLine::Good);
  EXPECT_EQ(check_mapping_line(""), MappingLine::Skip);
  EXPECT_EQ(check_mapping_line("  # Xbox pads"), MappingLine::Skip);
  EXPECT_EQ(check_mapping_line("030000005e0400008e02000010010000,Pad,a:b0,platform:Windows,"),
            MappingLine::Skip);
  for (const char* bad : {
           "hello world",
           "030000005e0400008e0200001001000,Pad,a:b0,",      // 31 digits
           "030000005e0400008e02000010010000,,a:b0,",        // no name
           "030000005e0400008e02000010010000,Pad,jump:b0,",  // unknown button
           "030000005e0400008e02000010010000,Pad,+a:b0,",    // half of a button
           "030000005e0400008e02000010010000,Pad,a:c0,",
           "030000005e0400008e02000010010000,Pad,a:h0,",
           "030000005e0400008e02000010010000,Pad,a,",
           "030000005e0400008e02000010010000,Pad\t,a:b0,",
       }) {
    EXPECT_EQ(check_mapping_line(bad), MappingLine::Bad) << bad;
  }
  std::string longLine = GOOD_LINE;
  while (longLine.size() <= MAPPING_LINE_LIMIT) longLine += "a:b0,";
  EXPECT_EQ(check_mapping_line(longLine), MappingLine::Bad);
}

TEST(MappingFile, CountsGoodLinesAndTheRestOnce) {
  test::TempDir dir;
  const std::string path = dir.file("gamecontrollerdb.txt");
  std::string text = "# pads\r\n" + std::string(GOOD_LINE) + "\r\n";
  text += std::string(5000, 'x') + "\n";        // too long: skipped whole
  text += std::string("0300\0junk", 9) + "\n";  // a NUL inside
  text += "030000005e0400008e02000010010000,Pad,bogus:b0,\n";
  text += "030000005e0400008e02000010010001,Refused,a:b0,\n";
  text += GOOD_LINE;  // the last line without its newline
  test::write_file(path, text);
  static int added;
  added = 0;
  const MappingCount count = read_mapping_file(path.c_str(), [](const char* line) {
    ++added;
    return std::string(line).find("Refused") == std::string::npos;
  });
  EXPECT_EQ(added, 3);
  EXPECT_EQ(count.good, 2);
  EXPECT_EQ(count.bad, 4);
  EXPECT_EQ(read_mapping_file(dir.file("absent").c_str(), nullptr).bad, 0);
}

TEST(AnalogSteps, DeadZoneShareAndFullTravel) {
  EXPECT_EQ(analog_steps(0, 20), 0);
  EXPECT_EQ(analog_steps(6553, 20), 0);  // inside 20 %
  EXPECT_EQ(analog_steps(6700, 20), 2);
  EXPECT_EQ(analog_steps(16384, 20), 5);  // half way: half the time
  EXPECT_EQ(analog_steps(31500, 20), DUTY_PERIOD_STEPS);
  EXPECT_EQ(analog_steps(90000, 20), DUTY_PERIOD_STEPS);  // past the range
  EXPECT_EQ(analog_steps(-5, 0), 0);
  EXPECT_EQ(analog_steps(32767, 95), DUTY_PERIOD_STEPS);
  EXPECT_EQ(analog_steps(30000, 95), 0);
}

// Held steps and switches of a channel over 50 steps with onSteps(step).
template <class F>
std::pair<int, int> run_channel(DutyCycle& c, F onSteps, std::int64_t from = 0) {
  int held = 0, switches = 0;
  bool was = c.held;
  for (std::int64_t s = from; s < from + 50; ++s) {
    const bool now = duty_cycle(c, s, onSteps(s));
    held += now;
    switches += now != was;
    was = now;
  }
  return {held, switches};
}

TEST(DutyCycle, ShareOfStepsAndBoundedSwitching) {
  DutyCycle c;
  EXPECT_EQ(run_channel(c, [](auto) { return 5; }), std::make_pair(25, 10));
  c = DutyCycle{};
  EXPECT_EQ(run_channel(c, [](auto) { return 10; }), std::make_pair(50, 1));
  // A stick rattling at the edge of the dead zone, and one wobbling between
  // shares every step, switch no more than twice a period.
  c = DutyCycle{};
  EXPECT_LE(run_channel(c, [](auto s) { return static_cast<int>(s % 2) * 3; }).second, 10);
  c = DutyCycle{};
  EXPECT_LE(run_channel(c, [](auto s) { return s % 2 ? 1 : 9; }).second, 10);
  // Letting go releases at once; a full push holds at once.
  c = DutyCycle{};
  EXPECT_TRUE(duty_cycle(c, 100, 3));
  EXPECT_FALSE(duty_cycle(c, 101, 0));
  EXPECT_FALSE(duty_cycle(c, 102, 3));
  EXPECT_TRUE(duty_cycle(c, 103, 10));
  // A push from rest starts at once, even mid-period on the clock.
  c = DutyCycle{};
  EXPECT_TRUE(duty_cycle(c, 7, 1));
  EXPECT_FALSE(duty_cycle(c, 8, 1));
  EXPECT_FALSE(duty_cycle(c, 60, 0));
  EXPECT_TRUE(duty_cycle(c, 61, 1));
}

TEST(GameIntent, SticksTriggersAndButtons) {
  const PadLayout layout = pad_layout(PadButtons{});
  PadChannels channels;
  PadReading before, now;
  now.axes[PAD_LEFT_Y] = -32768;  // stick up: nose down, as the keyboard's w
  now.axes[PAD_LEFT_X] = 32767;
  now.axes[PAD_RIGHT_TRIGGER] = 32767;
  now.buttons[PAD_BUTTON_A] = true;
  now.buttons[1] = true;   // b: shield
  now.buttons[10] = true;  // right shoulder: roll right
  PadIntent i = pad_game_intent(now, before, layout, 20, channels, 0);
  const auto held = [&](PlayAction a) { return i.held[static_cast<int>(a)]; };
  EXPECT_TRUE(held(PlayAction::XBackwardRotate));
  EXPECT_FALSE(held(PlayAction::XForwardRotate));
  EXPECT_TRUE(held(PlayAction::YForwardRotate));
  EXPECT_TRUE(held(PlayAction::ForwardThrust));
  EXPECT_FALSE(held(PlayAction::ReverseThrust));
  EXPECT_TRUE(held(PlayAction::Shield));
  EXPECT_TRUE(held(PlayAction::ZBackwardRotate));
  EXPECT_TRUE(i.pressed[static_cast<int>(PlayAction::Fire)]);
  // Fire acts on the press only; a layout naming no button leaves it alone.
  i = pad_game_intent(now, now, layout, 20, channels, 1);
  EXPECT_FALSE(i.pressed[static_cast<int>(PlayAction::Fire)]);
  PadButtons none;
  none.PAD_FIRE_BUTTON[0] = '\0';
  i = pad_game_intent(now, before, pad_layout(none), 20, channels, 2);
  EXPECT_FALSE(i.pressed[static_cast<int>(PlayAction::Fire)]);
}

std::vector<std::pair<PlayAction, bool>> g_calls;
ActionResult g_answer = ActionResult::Taken;
ActionResult record(PlayAction a, bool pressed) {
  g_calls.emplace_back(a, pressed);
  return pressed ? g_answer : ActionResult::Taken;
}

TEST(ApplyIntent, ReleasesFirstRetriesAndStopsAtTheEnd) {
  std::array<bool, PLAY_ACTIONS> held{};
  held[static_cast<int>(PlayAction::XBackwardRotate)] = true;
  PadIntent intent;
  intent.held[static_cast<int>(PlayAction::XForwardRotate)] = true;  // stick flipped down
  intent.pressed[static_cast<int>(PlayAction::Fire)] = true;
  g_calls.clear();
  g_answer = ActionResult::NotTaken;
  apply_pad_intent(held, intent, record);
  ASSERT_EQ(g_calls.size(), 3u);
  EXPECT_EQ(g_calls[0], std::make_pair(PlayAction::XBackwardRotate, false));
  EXPECT_EQ(g_calls[1], std::make_pair(PlayAction::Fire, true));
  EXPECT_EQ(g_calls[2], std::make_pair(PlayAction::XForwardRotate, true));
  EXPECT_FALSE(held[static_cast<int>(PlayAction::XForwardRotate)]);  // tried again next time
  g_calls.clear();
  g_answer = ActionResult::GameOver;
  apply_pad_intent(held, intent, record);
  EXPECT_EQ(g_calls.size(), 1u);
}

TEST(MenuCommands, EdgesRepeatsAndTheStick) {
  PadMenuState state;
  std::array<PadCommand, 4> out{};
  PadReading r;
  r.buttons[PAD_BUTTON_DPAD_DOWN] = true;
  r.buttons[PAD_BUTTON_A] = true;
  ASSERT_EQ(pad_menu_commands(r, state, 0, out), 2);
  EXPECT_EQ(out[0], PadCommand::Down);
  EXPECT_EQ(out[1], PadCommand::Accept);
  EXPECT_EQ(pad_menu_commands(r, state, 390, out), 0);
  EXPECT_EQ(pad_menu_commands(r, state, 400, out), 1);  // held: repeats
  EXPECT_EQ(pad_menu_commands(r, state, 500, out), 0);
  EXPECT_EQ(pad_menu_commands(r, state, 550, out), 1);
  r = PadReading{};
  r.axes[PAD_LEFT_Y] = -20000;
  r.buttons[PAD_BUTTON_B] = true;
  ASSERT_EQ(pad_menu_commands(r, state, 600, out), 2);
  EXPECT_EQ(out[0], PadCommand::Up);
  EXPECT_EQ(out[1], PadCommand::Back);
  r.buttons[PAD_BUTTON_DPAD_DOWN] = true;  // both ways at once: no move
  EXPECT_EQ(pad_menu_commands(r, state, 2000, out), 0);
}

}  // namespace
}  // namespace zbx
