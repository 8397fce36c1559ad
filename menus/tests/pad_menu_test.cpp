// A virtual pad through SDL's real game-controller path on the menu screens:
// moving, picking, going back, and the entries it may only confirm or leave.
#include <memory>

#include "menu_session.h"
#include "testing/virtual_pad.h"

namespace zbx::menu_test {
namespace {

class PadMenuTest : public MenuTest {
 protected:
  void SetUp() override {
    MenuTest::SetUp();
    if (IsSkipped()) return;
    test::only_virtual_pads();
    g_paths.gamepadMappings.clear();
    poll();
    pad = std::make_unique<test::VirtualPad>();
    ASSERT_TRUE(pad->ok());
    poll();
  }
  void TearDown() override {
    pad.reset();
    stop_gamepads();
    MenuTest::TearDown();
  }
  void poll() {
    poll_gamepads(pad_menu_command, now);
    now += 20;
  }
  void press(int button) {
    pad->button(button, true);
    poll();
    pad->button(button, false);
    poll();
  }

  std::int64_t now = 0;
  std::unique_ptr<test::VirtualPad> pad;
};

TEST_F(PadMenuTest, MovesPicksTheSelectedItemAndGoesBack) {
  for (int i = 0; i < 4; ++i) press(SDL_CONTROLLER_BUTTON_DPAD_DOWN);
  EXPECT_EQ(g_menus.mainMenu.selected, 4);
  EXPECT_EQ(times_played(SOUND_MENU_MOVE), 4);
  press(SDL_CONTROLLER_BUTTON_A);
  EXPECT_EQ(g_menus.screen, Screen::ConfigEditor);
  press(SDL_CONTROLLER_BUTTON_B);
  EXPECT_EQ(g_menus.screen, Screen::MainMenu);
  press(SDL_CONTROLLER_BUTTON_B);  // nowhere further back
  EXPECT_EQ(g_menus.screen, Screen::MainMenu);

  pad->axis(SDL_CONTROLLER_AXIS_LEFTY, 30000);  // the stick moves too
  poll();
  pad->axis(SDL_CONTROLLER_AXIS_LEFTY, 0);
  poll();
  EXPECT_EQ(g_menus.mainMenu.selected, 5);
  press(SDL_CONTROLLER_BUTTON_A);
  EXPECT_EQ(g_menus.screen, Screen::HighScores);
  press(SDL_CONTROLLER_BUTTON_DPAD_UP);
  EXPECT_EQ(g_menus.highScoreMenu.selected, 1);
  press(SDL_CONTROLLER_BUTTON_B);
  EXPECT_EQ(g_menus.screen, Screen::MainMenu);
}

TEST_F(PadMenuTest, EntriesAreConfirmedOrLeftUnchanged) {
  show_config_editor();
  select_config_item(2);  // player name
  const std::string name = g_client_settings.PLAYER_NAME;
  press(SDL_CONTROLLER_BUTTON_A);
  ASSERT_EQ(g_menus.screen, Screen::TextEntry);
  type(text_entry_keyboard, "xy");
  press(SDL_CONTROLLER_BUTTON_B);
  EXPECT_EQ(g_menus.screen, Screen::ConfigEditor);
  EXPECT_EQ(g_client_settings.PLAYER_NAME, name);
  press(SDL_CONTROLLER_BUTTON_A);
  type(text_entry_keyboard, "Q");
  press(SDL_CONTROLLER_BUTTON_A);
  EXPECT_EQ(g_client_settings.PLAYER_NAME, name + "Q");

  edit_number(5, "\b3");  // volume
  press(SDL_CONTROLLER_BUTTON_B);
  EXPECT_EQ(g_menus.screen, Screen::ConfigEditor);
  EXPECT_EQ(g_sound.pendingVolume, 9);

  select_config_item(7);  // fire key: the pad cannot be the key
  const char fire = g_client_settings.keys.FIRE_KEY;
  press(SDL_CONTROLLER_BUTTON_A);
  press(SDL_CONTROLLER_BUTTON_A);
  EXPECT_EQ(g_menus.screen, Screen::KeyCapture);
  press(SDL_CONTROLLER_BUTTON_B);
  EXPECT_EQ(g_menus.screen, Screen::ConfigEditor);
  EXPECT_EQ(g_client_settings.keys.FIRE_KEY, fire);

  show_name_entry();
  press(SDL_CONTROLLER_BUTTON_B);  // left: no name, nothing recorded
  EXPECT_EQ(g_menus.screen, Screen::MainMenu);
  EXPECT_EQ(times_played(SOUND_NAME_ENTERED), 0);
  show_name_entry();
  pad->unplug();  // pulled out here: nothing happens
  poll();
  EXPECT_EQ(g_menus.screen, Screen::NameEntry);
  pad = std::make_unique<test::VirtualPad>();
  poll();
  press(SDL_CONTROLLER_BUTTON_A);
  EXPECT_EQ(g_menus.screen, Screen::HighScores);
  EXPECT_EQ(times_played(SOUND_NAME_ENTERED), 1);
}

}  // namespace
}  // namespace zbx::menu_test
