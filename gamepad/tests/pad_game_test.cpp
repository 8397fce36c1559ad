// A virtual pad through SDL's real game-controller path, driving a client
// joined to a scripted server: the bytes the server hears, the key state,
// pads coming and going, the mapping file.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "gamepad/gamepad.h"
#include "testing/client_game.h"
#include "testing/virtual_pad.h"

namespace zbx {
namespace {

using test::VirtualPad;

class PadGameTest : public test::GameTest {
 protected:
  void SetUp() override {
    test::only_virtual_pads();
    g_paths.gamepadMappings.clear();
    GameTest::SetUp();
    own();
    poll();  // SDL starts
    pad = std::make_unique<VirtualPad>();
    ASSERT_TRUE(pad->ok());
    poll();
    ASSERT_TRUE(gamepad_connected());
  }
  void TearDown() override {
    pad.reset();
    stop_gamepads();
    GameTest::TearDown();
  }
  // One poll a world step later than the last.
  void poll() {
    poll_gamepads(nullptr, now);
    now += WORLD_STEP_MILLISECONDS;
  }

  std::int64_t now = 100000;
  std::unique_ptr<VirtualPad> pad;
};

TEST_F(PadGameTest, HalfPushedStickTurnsHalfTheStepsOfASecond) {
  pad->axis(SDL_CONTROLLER_AXIS_LEFTX, 16384);
  int held = 0;
  for (int step = 0; step < 50; ++step) {
    poll();
    held += g_connection.KeyState[KEYSTATE_Y_FORWARD_ROTATE];
  }
  EXPECT_EQ(held, 25);
  pad->axis(SDL_CONTROLLER_AXIS_LEFTX, 0);
  poll();
  // Five periods, one press and one release each: ten events in the second.
  const std::vector<int> pair = {CONTROL_Y_FORWARD_ROTATE + 16, CONTROL_Y_FORWARD_ROTATE};
  std::vector<int> expected;
  for (int i = 0; i < 5; ++i) expected.insert(expected.end(), pair.begin(), pair.end());
  EXPECT_EQ(events_after_wait(expected.size()), expected);
}

TEST_F(PadGameTest, TriggersHoldTheThrustBytesAndUnpluggingReleases) {
  pad->axis(SDL_CONTROLLER_AXIS_TRIGGERLEFT, 32767);
  poll();
  EXPECT_EQ(g_connection.KeyState[KEYSTATE_REVERSE_THRUST], 1);
  SendUpdate();
  pad->axis(SDL_CONTROLLER_AXIS_TRIGGERLEFT, SDL_JOYSTICK_AXIS_MIN);
  pad->axis(SDL_CONTROLLER_AXIS_TRIGGERRIGHT, 32767);
  poll();
  EXPECT_EQ(g_connection.KeyState[KEYSTATE_REVERSE_THRUST], 0);
  EXPECT_EQ(g_connection.KeyState[KEYSTATE_FORWARD_THRUST], 1);
  EXPECT_EQ(test::recorder().count(test::SoundCall::LOOP, SOUND_ENGINE_LOOP), 1);
  SendUpdate();

  pad->unplug();
  poll();
  EXPECT_FALSE(gamepad_connected());
  EXPECT_EQ(g_connection.KeyState[KEYSTATE_FORWARD_THRUST], 0);
  EXPECT_EQ(test::recorder().count(test::SoundCall::STOP, -1), 1);  // the engine stops
  EXPECT_EQ(events_after_wait(4), (std::vector<int>{22, 6, 21, 5}));
  const auto updates = server.of_size(KEY_STATE_SIZE);
  ASSERT_EQ(updates.size(), 2u);
  EXPECT_EQ(updates[0][KEYSTATE_REVERSE_THRUST], 1);
  EXPECT_EQ(updates[0][KEYSTATE_FORWARD_THRUST], 0);
  EXPECT_EQ(updates[1][KEYSTATE_REVERSE_THRUST], 0);
  EXPECT_EQ(updates[1][KEYSTATE_FORWARD_THRUST], 1);

  // Plugged in again, it drives again.
  pad = std::make_unique<VirtualPad>();
  poll();
  EXPECT_TRUE(gamepad_connected());
}

TEST_F(PadGameTest, SendsWhatTheKeysSendAndSharesHeldControlsWithThem) {
  KeyBindings& k = g_client_settings.keys;
  k.Z_FORWARD_KEY = 'i';
  k.Z_FORWARD_ROTATE_KEY = 'q';
  k.X_BACKWARD_ROTATE_KEY = 'w';
  k.FIRE_KEY = 'j';
  k.SHIELD_KEY = 'l';
  k.NUKE_KEY = 'n';
  k.WARP_KEY = 'h';
  struct Step {
    int button;  // -1: an axis
    int axis;
    int full;
    char key;
  };
  const Step steps[] = {
      {-1, SDL_CONTROLLER_AXIS_TRIGGERRIGHT, 32767, 'i'},
      {-1, SDL_CONTROLLER_AXIS_LEFTY, -32768, 'w'},
      {SDL_CONTROLLER_BUTTON_LEFTSHOULDER, 0, 0, 'q'},
      {SDL_CONTROLLER_BUTTON_A, 0, 0, 'j'},
      {SDL_CONTROLLER_BUTTON_B, 0, 0, 'l'},
      {SDL_CONTROLLER_BUTTON_X, 0, 0, 'n'},
      {SDL_CONTROLLER_BUTTON_Y, 0, 0, 'h'},
  };
  for (const Step& s : steps) {
    for (const bool down : {true, false}) {
      if (s.button >= 0) {
        pad->button(s.button, down);
      } else {
        pad->axis(s.axis, down ? s.full : s.axis == SDL_CONTROLLER_AXIS_LEFTY ? 0 : -32768);
      }
      poll();
    }
  }
  const std::vector<int> fromPad = events_after_wait(11);
  ASSERT_EQ(fromPad.size(), 11u);
  server.forget();
  for (const Step& s : steps) {
    play_key_down(static_cast<unsigned char>(s.key));
    play_key_up(static_cast<unsigned char>(s.key));
  }
  EXPECT_EQ(events_after_wait(11), fromPad);

  // Held by both: one press, one release once both have let go.
  server.forget();
  play_key_down('i');
  pad->axis(SDL_CONTROLLER_AXIS_TRIGGERRIGHT, 32767);
  poll();
  play_key_up('i');
  EXPECT_EQ(g_connection.KeyState[KEYSTATE_FORWARD_THRUST], 1);
  pad->axis(SDL_CONTROLLER_AXIS_TRIGGERRIGHT, -32768);
  poll();
  EXPECT_EQ(g_connection.KeyState[KEYSTATE_FORWARD_THRUST], 0);
  EXPECT_EQ(events_after_wait(2), (std::vector<int>{21, 5}));
}

TEST_F(PadGameTest, TheFirstPadDrivesAndTheNextTakesOver) {
  VirtualPad second;
  second.button(SDL_CONTROLLER_BUTTON_A, true);
  poll();
  poll();
  pad->unplug();
  poll();  // the second takes over, its held button is a new press
  EXPECT_TRUE(gamepad_connected());
  EXPECT_EQ(events_after_wait(1), (std::vector<int>{CONTROL_FIRE + 16}));
}

TEST_F(PadGameTest, MappingFileMakesAJoystickAPadAndSaysOnceWhatItIgnored) {
  SDL_InitSubSystem(SDL_INIT_JOYSTICK);  // keeps virtual devices through the restart
  pad.reset();
  stop_gamepads();
  {
    VirtualPad bare(false);
    char guid[33];
    SDL_JoystickGetGUIDString(bare.guid(), guid, sizeof guid);
    const test::TempDir dir;
    g_paths.gamepadMappings = dir.file("gamecontrollerdb.txt");
    test::write_file(g_paths.gamepadMappings,
                     "junk\n" + std::string(guid) + ",Bare,a:b3,platform:Linux,\n" + guid +
                         ",Bare,a:b3,shoot:b4,\n" + std::string(3000, 'x'));
    testing::internal::CaptureStderr();
    poll();
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(said, "zbx3d: " + g_paths.gamepadMappings +
                        ": 3 of 4 mapping lines ignored (not a mapping, too long, or an unknown "
                        "button or axis)\n");
    EXPECT_TRUE(gamepad_connected());
    bare.button(3, true);
    poll();
    EXPECT_EQ(events_after_wait(1), (std::vector<int>{CONTROL_FIRE + 16}));
    stop_gamepads();
  }
  SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
}

}  // namespace
}  // namespace zbx
