// A virtual pad through SDL's real game-controller path, driving a client
// joined to a scripted server: the bytes the server hears, the key state,
// pads coming and going, the mapping file.
#include <gtest/gtest.h>

#include <string>

#include "testing/client_game.h"
#include "testing/virtual_pad.h"

namespace zbx {
namespace {

using Events = std::vector<int>;

class PadGameTest : public test::GameTest {
 protected:
  void SetUp() override {
    GameTest::SetUp();
    own();
    pads.start(nullptr);
    ASSERT_TRUE(gamepad_connected());
  }
  void TearDown() override {
    pads.stop();
    GameTest::TearDown();
  }
  test::PadSession pads;
};

TEST_F(PadGameTest, HalfPushedStickTurnsHalfTheStepsOfASecond) {
  pads.pad->axis(SDL_CONTROLLER_AXIS_LEFTX, 16384);
  int held = 0;
  for (int step = 0; step < 50; ++step) {
    pads.poll();
    held += g_connection.KeyState[KEYSTATE_Y_FORWARD_ROTATE];
  }
  EXPECT_EQ(held, 25);
  pads.poll();
  pads.set(SDL_CONTROLLER_AXIS_LEFTX, -32768);  // while held, over to the other side
  Events expected;
  for (int i = 0; i < 6; ++i) expected.insert(expected.end(), {25, 9});
  expected.push_back(26);
  EXPECT_EQ(events_after_wait(expected.size()), expected);
}

TEST_F(PadGameTest, TriggersHoldTheThrustBytesAndUnpluggingReleases) {
  pads.set(SDL_CONTROLLER_AXIS_TRIGGERLEFT, 32767);
  EXPECT_EQ(g_connection.KeyState[KEYSTATE_REVERSE_THRUST], 1);
  pads.pad->axis(SDL_CONTROLLER_AXIS_TRIGGERLEFT, -32768);
  pads.set(SDL_CONTROLLER_AXIS_TRIGGERRIGHT, 32767);
  EXPECT_EQ(g_connection.KeyState[KEYSTATE_REVERSE_THRUST], 0);
  EXPECT_EQ(g_connection.KeyState[KEYSTATE_FORWARD_THRUST], 1);
  EXPECT_EQ(test::recorder().count(test::SoundCall::LOOP, SOUND_ENGINE_LOOP), 1);
  // A second pad waits with A held; pulling the first releases its thrust,
  // stops the engine and hands over.
  test::VirtualPad second;
  second.button(SDL_CONTROLLER_BUTTON_A, true);
  pads.poll();
  pads.pad->unplug();
  pads.poll();
  EXPECT_EQ(g_connection.KeyState[KEYSTATE_FORWARD_THRUST], 0);
  EXPECT_EQ(test::recorder().count(test::SoundCall::STOP, -1), 1);
  EXPECT_EQ(events_after_wait(5), (Events{22, 6, 21, 5, 29}));
}

TEST_F(PadGameTest, SendsWhatTheKeysSendAndSharesHeldControlsWithThem) {
  // The shipped bindings: i forward, w nose down, q roll left, j, l, n.
  std::FILE* shipped =
      std::fopen((std::string(data_prefix()) + "/zbx3d/conf/ZBXConfig").c_str(), "r");
  ASSERT_NE(shipped, nullptr);
  read_settings_file(shipped, client_settings_handler);
  std::fclose(shipped);
  pads.set(SDL_CONTROLLER_AXIS_TRIGGERRIGHT, 32767);
  pads.set(SDL_CONTROLLER_AXIS_TRIGGERRIGHT, -32768);
  pads.set(SDL_CONTROLLER_AXIS_LEFTY, -32768);
  pads.set(SDL_CONTROLLER_AXIS_LEFTY, 0);
  for (const int b : {SDL_CONTROLLER_BUTTON_LEFTSHOULDER, SDL_CONTROLLER_BUTTON_A,
                      SDL_CONTROLLER_BUTTON_B, SDL_CONTROLLER_BUTTON_X}) {
    pads.press(b);
  }
  const Events fromPad = events_after_wait(10);
  server.forget();
  for (const char key : std::string("iwqjln")) {
    play_key_down(static_cast<unsigned char>(key));
    play_key_up(static_cast<unsigned char>(key));
  }
  EXPECT_EQ(events_after_wait(10), fromPad);

  // Held by both: one press, and one release once both have let go.
  server.forget();
  play_key_down('i');
  pads.set(SDL_CONTROLLER_AXIS_TRIGGERRIGHT, 32767);
  play_key_up('i');
  EXPECT_EQ(g_connection.KeyState[KEYSTATE_FORWARD_THRUST], 1);
  pads.set(SDL_CONTROLLER_AXIS_TRIGGERRIGHT, -32768);
  EXPECT_EQ(events_after_wait(2), (Events{21, 5}));
}

TEST_F(PadGameTest, MappingFileMakesAJoystickAPadAndSaysOnceWhatItIgnored) {
  SDL_InitSubSystem(SDL_INIT_JOYSTICK);  // keeps virtual devices through the restart
  pads.stop();
  {
    test::VirtualPad bare(true);
    char guid[33];
    SDL_JoystickGetGUIDString(SDL_JoystickGetGUID(bare.joystick), guid, sizeof guid);
    g_paths.gamepadMappings = std::string(std::getenv("HOME")) + "/gamecontrollerdb.txt";
    test::write_file(g_paths.gamepadMappings, "# pads\r\njunk\n" + std::string(guid) +
                                                  ",Bare,a:b3,platform:Linux,\r\n" + guid +
                                                  ",Bare,a:b3,shoot:b4,\n" +
                                                  std::string("\0x\n", 3) + std::string(3000, 'x'));
    testing::internal::CaptureStderr();
    pads.poll();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "zbx3d: " + g_paths.gamepadMappings +
                  ": 4 of 5 mapping lines ignored (not a mapping, too long, or an unknown "
                  "button or axis)\n");
    bare.button(3, true);
    pads.poll();
    EXPECT_EQ(events_after_wait(1), (Events{29}));
    stop_gamepads();
  }
  SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
}

}  // namespace
}  // namespace zbx
