// A virtual pad through SDL's real game-controller path on the menu screens:
// moving, picking, going back, and the entries it may only confirm or leave.
#include "menu_session.h"
#include "testing/virtual_pad.h"

namespace zbx::menu_test {
namespace {

class PadMenuTest : public MenuTest {
 protected:
  void TearDown() override {
    pads.stop();
    MenuTest::TearDown();
  }
  test::PadSession pads;
};

TEST_F(PadMenuTest, MovesPicksGoesBackAndConfirmsOrLeavesEntries) {
  pads.start(pad_menu_command);
  for (int i = 0; i < 5; ++i) pads.press(SDL_CONTROLLER_BUTTON_DPAD_DOWN);
  EXPECT_EQ(times_played(SOUND_MENU_MOVE), 5);
  pads.press(SDL_CONTROLLER_BUTTON_A);
  EXPECT_EQ(g_menus.screen, Screen::HighScores);
  pads.press(SDL_CONTROLLER_BUTTON_B);
  pads.press(SDL_CONTROLLER_BUTTON_B);  // nowhere further back
  EXPECT_EQ(g_menus.screen, Screen::MainMenu);

  show_config_editor();
  select_config_item(2);  // player name
  const std::string name = g_client_settings.PLAYER_NAME;
  pads.press(SDL_CONTROLLER_BUTTON_A);
  type(text_entry_keyboard, "xy");
  pads.press(SDL_CONTROLLER_BUTTON_B);
  EXPECT_EQ(g_client_settings.PLAYER_NAME, name);
  pads.press(SDL_CONTROLLER_BUTTON_A);
  type(text_entry_keyboard, "Q");
  pads.press(SDL_CONTROLLER_BUTTON_A);
  EXPECT_EQ(g_client_settings.PLAYER_NAME, name + "Q");
  edit_number(5, "\b3");  // volume
  pads.press(SDL_CONTROLLER_BUTTON_B);
  EXPECT_EQ(g_sound.pendingVolume, 9);
  select_config_item(7);  // fire key: A is no key, B leaves
  const char fire = g_client_settings.keys.FIRE_KEY;
  pads.press(SDL_CONTROLLER_BUTTON_A);
  pads.press(SDL_CONTROLLER_BUTTON_A);
  pads.press(SDL_CONTROLLER_BUTTON_B);
  EXPECT_EQ(g_menus.screen, Screen::ConfigEditor);
  EXPECT_EQ(g_client_settings.keys.FIRE_KEY, fire);

  show_name_entry();
  pads.press(SDL_CONTROLLER_BUTTON_B);  // left without a name: nothing recorded
  EXPECT_EQ(g_menus.screen, Screen::MainMenu);
  show_name_entry();
  pads.press(SDL_CONTROLLER_BUTTON_A);
  EXPECT_EQ(g_menus.screen, Screen::HighScores);
  EXPECT_EQ(times_played(SOUND_NAME_ENTERED), 1);
}

}  // namespace
}  // namespace zbx::menu_test
