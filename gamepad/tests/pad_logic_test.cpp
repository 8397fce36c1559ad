// The gamepad's pure parts: mapping lines, the duty cycle and the menu
// commands.
#include <gtest/gtest.h>

#include <string>

#include "gamepad/gamepad.h"

namespace zbx {
namespace {

// Comments, junk, unknown buttons and long lines: the mapping file's test.
TEST(MappingLines, GoodSkippedAndBad) {
  const std::string guid = "030000005e0400008e02000010010000";
  const std::pair<std::string, MappingLine> lines[] = {
      {guid + ",Pad,a:b0,-lefty:-a1,righttrigger:a5~,dpup:h0.1,crc:1a2b,platform:Linux,",
       MappingLine::Good},
      {guid + ",Pad,a:b0,platform:Windows,", MappingLine::Skip},
      {guid.substr(1) + ",Pad,a:b0,", MappingLine::Bad},
      {guid + ",,a:b0,", MappingLine::Bad},
      {guid + ",Pad,+a:b0,", MappingLine::Bad},
      {guid + ",Pad,a:h0,", MappingLine::Bad},
      {guid + ",Pad\t,a:b0,", MappingLine::Bad},
  };
  for (const auto& [line, kind] : lines) EXPECT_EQ(check_mapping_line(line), kind) << line;
}

TEST(DutyCycle, ShareOfStepsWithBoundedSwitching) {
  EXPECT_EQ(analog_steps(6553, 20), 0);  // inside the dead zone
  EXPECT_EQ(analog_steps(6700, 20), 2);
  EXPECT_EQ(analog_steps(31500, 20), DUTY_PERIOD_STEPS);  // nearly all the way
  EXPECT_EQ(analog_steps(90000, 20), DUTY_PERIOD_STEPS);  // past the range
  // Rattling at the dead zone, or wobbling between shares every step: still
  // at most a press and a release a period.
  for (const int wobble : {0, 1}) {
    DutyCycle c;
    int switches = 0;
    for (int s = 0; s < 50; ++s) {
      const bool was = c.held;
      duty_cycle(c, s, wobble ? (s % 2 ? 1 : 9) : s % 2 * 3);
      switches += c.held != was;
    }
    EXPECT_LE(switches, 10) << wobble;
  }
  // Letting go releases at once and a full push holds at once.
  DutyCycle c;
  EXPECT_TRUE(duty_cycle(c, 7, 3));
  EXPECT_FALSE(duty_cycle(c, 8, 0));
  EXPECT_FALSE(duty_cycle(c, 9, 3));
  EXPECT_TRUE(duty_cycle(c, 10, DUTY_PERIOD_STEPS));
}

TEST(MenuCommands, RepeatWhileHeldAndNeverBothWays) {
  PadMenuState state;
  std::array<PadCommand, 4> out{};
  PadReading r;
  r.axes[PAD_LEFT_Y] = 20000;
  EXPECT_EQ(pad_menu_commands(r, state, 0, out), 1);
  EXPECT_EQ(pad_menu_commands(r, state, 399, out), 0);
  EXPECT_EQ(pad_menu_commands(r, state, 400, out), 1);
  EXPECT_EQ(pad_menu_commands(r, state, 550, out), 1);
  EXPECT_EQ(out[0], PadCommand::Down);
  r.buttons[PAD_BUTTON_DPAD_UP] = true;
  EXPECT_EQ(pad_menu_commands(r, state, 2000, out), 0);
}

}  // namespace
}  // namespace zbx
