// The menu screens driven through their callbacks on a real window, and the
// list and editing arithmetic they share.
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>

#include "client/mirror.h"
#include "menu_session.h"
#include "server/server.h"
#include "testing/loopback.h"

namespace zbx::menu_test {
namespace {

// --- Pure arithmetic ---

TEST(ScrollWindow, MainMenuFitsAt480AndScrollsInAShortWindow) {
  EXPECT_EQ(main_menu_top_offset(480), 165);  // first item at 480 - 165 = 315
  EXPECT_EQ(main_menu_top_offset(199), MIN_TOP_OFFSET);
  ScrollWindow w = scroll_window(0, 0, 7, 480);
  EXPECT_EQ(w.first, 0);
  EXPECT_EQ(w.last, 6);

  // Height 150: four lines of room, five items shown, the window follows.
  w = scroll_window(0, 0, 7, 150);
  EXPECT_EQ(w.first, 0);
  EXPECT_EQ(w.last, 4);
  w = scroll_window(w.first, 6, 7, 150);
  EXPECT_EQ(w.first, 2);
  EXPECT_EQ(w.last, 6);
  w = scroll_window(w.first, 3, 7, 150);  // moving back up inside the window keeps it
  EXPECT_EQ(w.first, 2);
  w = scroll_window(w.first, 0, 7, 150);
  EXPECT_EQ(w.first, 0);
  EXPECT_EQ(w.last, 4);
}

TEST(ScrollWindow, ConfigEditorShowsEighteenItemsAt480) {
  EXPECT_EQ(config_top_offset(480), MIN_TOP_OFFSET);  // first line at 443
  EXPECT_EQ(config_top_offset(800), 137);
  ScrollWindow w = scroll_window(0, 0, 23, 480);
  EXPECT_EQ(w.first, 0);
  EXPECT_EQ(w.last, 17);
  w = scroll_window(w.first, 22, 23, 480);
  EXPECT_EQ(w.first, 5);
  EXPECT_EQ(w.last, 22);
}

TEST(Navigation, WrapsBothWaysAndIgnoresOtherKeys) {
  EXPECT_EQ(navigate_list(0, 7, SPECIAL_KEY_UP), 6);
  EXPECT_EQ(navigate_list(6, 7, SPECIAL_KEY_DOWN), 0);
  EXPECT_EQ(navigate_list(3, 7, SPECIAL_KEY_DOWN), 4);
  EXPECT_EQ(navigate_list(3, 7, SPECIAL_KEY_UP), 2);
  EXPECT_EQ(navigate_list(3, 7, 100), 3);  // left arrow
  EXPECT_EQ(navigate_list(-4, 7, SPECIAL_KEY_UP), 6);
}

TEST(HighScoreRows, FollowTheWindowHeight) {
  EXPECT_EQ(high_score_rows(480), 10);
  EXPECT_EQ(high_score_rows(300), 4);
  EXPECT_EQ(high_score_rows(225), 1);
  EXPECT_EQ(high_score_rows(224), 0);
  EXPECT_EQ(high_score_rows(-5), 0);
}

TEST(EditTextKey, BackspaceLimitAndLineBreakingCharacters) {
  char text[20] = "";
  edit_text_key(text, 19, KEY_BACKSPACE);  // empty stays empty
  EXPECT_STREQ(text, "");
  for (char c : std::string("abc\t\x1b")) edit_text_key(text, 19, static_cast<unsigned char>(c));
  EXPECT_STREQ(text, "abc\t\x1b");  // tab and escape are text like any other
  edit_text_key(text, 19, KEY_NEWLINE);
  edit_text_key(text, 19, KEY_RETURN);
  edit_text_key(text, 19, 0);
  EXPECT_STREQ(text, "abc\t\x1b");
  edit_text_key(text, 19, KEY_BACKSPACE);
  EXPECT_STREQ(text, "abc\t");

  char full[6] = "12345";
  edit_text_key(full, 5, 'x');
  EXPECT_STREQ(full, "12345");
  edit_text_key(full, 0, KEY_BACKSPACE);
  EXPECT_STREQ(full, "1234");
  edit_text_key(full, 0, 'x');  // no room at all
  EXPECT_STREQ(full, "1234");
}

TEST(NumberEntryKey, DigitsBackspaceAndLimit) {
  int volume = 9;
  EXPECT_TRUE(number_entry_key(volume, 1, '5'));
  EXPECT_EQ(volume, 9);  // one digit shown and it is not 0
  EXPECT_TRUE(number_entry_key(volume, 1, KEY_BACKSPACE));
  EXPECT_EQ(volume, 0);
  EXPECT_TRUE(number_entry_key(volume, 1, '5'));
  EXPECT_EQ(volume, 5);  // the lone 0 is replaced

  int width = 640;
  number_entry_key(width, 4, '0');
  EXPECT_EQ(width, 6400);
  number_entry_key(width, 4, KEY_BACKSPACE);
  number_entry_key(width, 4, KEY_BACKSPACE);
  EXPECT_EQ(width, 64);

  int port = 12345;
  number_entry_key(port, 5, '7');
  EXPECT_EQ(port, 12345);
  number_entry_key(port, 5, KEY_BACKSPACE);
  number_entry_key(port, 5, '7');
  EXPECT_EQ(port, 12347);

  EXPECT_FALSE(number_entry_key(port, 5, 'a'));
  EXPECT_FALSE(number_entry_key(port, 5, KEY_NEWLINE));
  EXPECT_EQ(port, 12347);

  int negative = -7;  // only a hand-edited file gives one
  number_entry_key(negative, 4, KEY_BACKSPACE);
  EXPECT_EQ(negative, 0);
}

// --- Screens ---

TEST_F(MenuTest, MainMenuArrowsWrapWithSoundAndOnlyReturnActs) {
  main_menu_special(SPECIAL_KEY_UP, 0, 0);
  EXPECT_EQ(g_menus.mainMenu.selected, 7);
  EXPECT_STREQ(g_menus.mainMenu.items[6].label, "Quit Game");
  EXPECT_STREQ(g_menus.mainMenu.items[7].label, "Find Servers");
  main_menu_special(SPECIAL_KEY_DOWN, 0, 0);
  EXPECT_EQ(g_menus.mainMenu.selected, 0);
  EXPECT_EQ(times_played(SOUND_MENU_MOVE), 2);
  main_menu_special(102, 0, 0);  // right arrow: redraw only
  EXPECT_EQ(times_played(SOUND_MENU_MOVE), 2);

  main_menu_special(SPECIAL_KEY_DOWN, 0, 0);
  main_menu_special(SPECIAL_KEY_DOWN, 0, 0);
  main_menu_special(SPECIAL_KEY_DOWN, 0, 0);
  main_menu_special(SPECIAL_KEY_DOWN, 0, 0);  // "Edit Game Configuration"
  type(main_menu_keyboard, std::string("a1 \n\b") + '\0');
  EXPECT_EQ(g_menus.screen, Screen::MainMenu);
  main_menu_keyboard(KEY_RETURN, 0, 0);
  EXPECT_EQ(g_menus.screen, Screen::ConfigEditor);

  // Selections persist across visits.
  select_config_item(22);
  config_keyboard(KEY_RETURN, 0, 0);
  EXPECT_EQ(g_menus.screen, Screen::MainMenu);
  EXPECT_EQ(g_menus.mainMenu.selected, 4);
  main_menu_keyboard(KEY_RETURN, 0, 0);
  EXPECT_EQ(g_menus.config.selected, 22);
}

TEST_F(MenuTest, ConfigItemsEditTheSettingsTheyName) {
  const auto& items = g_menus.config.items;
  ASSERT_EQ(g_menus.config.count, CONFIG_ITEMS);
  EXPECT_STREQ(items[0].label, "Server IP (MultiPlayer Only)");
  EXPECT_EQ(items[0].limit, 15);
  EXPECT_EQ(items[1].limit, 5);
  EXPECT_EQ(items[2].limit, 19);
  EXPECT_STREQ(items[5].prompt, "Enter Volume (Values 0 through 9)");
  EXPECT_EQ(items[5].value.number, &g_sound.pendingVolume);
  EXPECT_EQ(items[3].value.number, &g_menus.pendingWidth);
  EXPECT_STREQ(items[14].label, "x Forward Rotate Key");
  EXPECT_EQ(items[14].value.chars, &g_client_settings.keys.X_FORWARD_ROTATE_KEY);
  EXPECT_EQ(items[20].value.chars, &g_client_settings.keys.REVERSE_VIEW_KEY);
  for (int i = 6; i <= 20; ++i) EXPECT_EQ(items[i].kind, CONFIG_KIND_KEY) << i;
  EXPECT_STREQ(items[21].label, "Save Settings As Defaults");
  EXPECT_EQ(items[21].edit, nullptr);
  EXPECT_STREQ(items[22].label, "Return To Main Menu");
  // Later settings come after them; the list ends with the save and return
  // items again.
  EXPECT_EQ(items[23].value.number, &g_client_settings.SMOOTH_MOTION);
  EXPECT_STREQ(items[CONFIG_ITEMS - 2].label, "Save Settings As Defaults");
  EXPECT_STREQ(items[CONFIG_ITEMS - 1].label, "Return To Main Menu");
}

TEST_F(MenuTest, VolumeEntryAppliesOnReturn) {
  g_client_settings.VOLUME = 9;
  g_sound.pendingVolume = 9;
  show_config_editor();
  select_config_item(5);
  config_keyboard(KEY_RETURN, 0, 0);
  ASSERT_EQ(g_menus.screen, Screen::NumberEntry);
  EXPECT_STREQ(g_menus.prompt, "Enter Volume (Values 0 through 9)");
  type(number_entry_keyboard, "5\b5");
  EXPECT_EQ(g_sound.pendingVolume, 5);
  EXPECT_EQ(g_client_settings.VOLUME, 9);  // not yet in force
  number_entry_keyboard(KEY_RETURN, 0, 0);
  EXPECT_EQ(g_menus.screen, Screen::ConfigEditor);
  EXPECT_EQ(g_client_settings.VOLUME, 5);
  EXPECT_EQ(g_menus.config.selected, 5);  // no size change: no rebuild
}

TEST_F(MenuTest, WindowSizeIsTakenOverAtTheEndOfAnyNumberEntry) {
  show_config_editor();
  edit_number(3, "0");
  EXPECT_EQ(g_menus.pendingWidth, 6400);
  type(number_entry_keyboard, "\b\b\b2");
  EXPECT_EQ(g_menus.pendingWidth, 62);
  EXPECT_EQ(g_client_settings.SCREEN_WIDTH, 640);
  number_entry_keyboard(KEY_RETURN, 0, 0);
  EXPECT_EQ(g_client_settings.SCREEN_WIDTH, 62);
  EXPECT_EQ(g_menus.config.selected, 0);  // rebuilt

  // A height of 700 moves both lists' top offsets.
  edit_number(4, "\b\b\b700");
  number_entry_keyboard(KEY_RETURN, 0, 0);
  EXPECT_EQ(g_client_settings.SCREEN_HEIGHT, 700);
  EXPECT_EQ(g_menus.mainMenu.top, 275);
  EXPECT_EQ(g_menus.config.top, 87);
}

TEST_F(MenuTest, WindowSizeBelowOnePixelIsRefused) {
  show_config_editor();
  edit_number(4, "\b\b\b");
  EXPECT_EQ(g_menus.pendingHeight, 0);
  number_entry_keyboard(KEY_RETURN, 0, 0);
  EXPECT_EQ(g_client_settings.SCREEN_HEIGHT, 480);
  EXPECT_EQ(g_client_settings.SCREEN_WIDTH, 640);
  EXPECT_EQ(g_menus.pendingHeight, 480);  // the editor shows the size in force again
  EXPECT_EQ(g_menus.config.selected, 4);
}

TEST_F(MenuTest, KeyCaptureTakesTheNextCharacterButNeverANewline) {
  show_config_editor();
  select_config_item(7);  // "Fire Key"
  config_keyboard(KEY_RETURN, 0, 0);
  ASSERT_EQ(g_menus.screen, Screen::KeyCapture);
  EXPECT_STREQ(g_menus.prompt, "Enter Fire Key");
  key_capture_keyboard(KEY_NEWLINE, 0, 0);
  EXPECT_EQ(g_menus.screen, Screen::KeyCapture);
  key_capture_keyboard(KEY_RETURN, 0, 0);
  EXPECT_EQ(g_client_settings.keys.FIRE_KEY, KEY_RETURN);
  EXPECT_EQ(g_menus.screen, Screen::ConfigEditor);

  config_keyboard(KEY_RETURN, 0, 0);
  key_capture_keyboard('x', 0, 0);
  EXPECT_EQ(g_client_settings.keys.FIRE_KEY, 'x');
}

TEST_F(MenuTest, TextEntryEditsInPlaceUpToItsLimit) {
  show_config_editor();
  select_config_item(2);
  config_keyboard(KEY_RETURN, 0, 0);
  ASSERT_EQ(g_menus.screen, Screen::TextEntry);
  std::strcpy(g_client_settings.PLAYER_NAME, "");
  type(text_entry_keyboard, "abcdefghijklmnopqrstuvwxyz");
  EXPECT_STREQ(g_client_settings.PLAYER_NAME, "abcdefghijklmnopqrs");
  type(text_entry_keyboard, "\b\n");
  EXPECT_STREQ(g_client_settings.PLAYER_NAME, "abcdefghijklmnopqr");
  text_entry_keyboard(KEY_RETURN, 0, 0);
  EXPECT_EQ(g_menus.screen, Screen::ConfigEditor);

  select_config_item(0);
  config_keyboard(KEY_RETURN, 0, 0);
  type(text_entry_keyboard, "\b\b\b\b\b\b\b\b\b\b10.0.0.1234567890");
  EXPECT_STREQ(g_client_settings.SERVER_IP, "10.0.0.12345678");
}

// Each of these once saved a file that reloaded other values: an emptied
// address as "SERVER_IP=" (the port line became the address), a blank in a name.
TEST_F(MenuTest, TextEntryKeepsToWhatTheFileCanHold) {
  const std::string shipped = read_file(g_paths.clientSettings);
  show_config_editor();
  config_keyboard(KEY_RETURN, 0, 0);  // "Server IP"
  type(text_entry_keyboard, std::string(15, '\b'));
  EXPECT_STREQ(g_client_settings.SERVER_IP, "");
  text_entry_keyboard(KEY_RETURN, 0, 0);
  EXPECT_STREQ(g_client_settings.SERVER_IP, "127.0.0.1");

  select_config_item(2);
  config_keyboard(KEY_RETURN, 0, 0);
  type(text_entry_keyboard, std::string(19, '\b') + "my name\t=#/;x\r");
  EXPECT_EQ(times_played(SOUND_REFUSED), 6);
  EXPECT_STREQ(g_client_settings.PLAYER_NAME, "mynamex");

  select_config_item(21);
  config_keyboard(KEY_RETURN, 0, 0);
  g_client_settings = ClientSettings{};
  load_client_settings();
  EXPECT_STREQ(g_client_settings.SERVER_IP, "127.0.0.1");
  EXPECT_EQ(g_client_settings.SERVER_PORT, 12346);
  EXPECT_STREQ(g_client_settings.PLAYER_NAME, "mynamex");
  test::write_file(g_paths.clientSettings, shipped);
}

TEST_F(MenuTest, SaveWritesTheValuesShownAndStaysOnTheList) {
  show_config_editor();
  edit_number(5, "\b3\r");
  select_config_item(11);  // "Quit Key"
  config_keyboard(KEY_RETURN, 0, 0);
  key_capture_keyboard('Q', 0, 0);
  select_config_item(21);
  sounds_played().clear();
  config_keyboard(KEY_RETURN, 0, 0);
  EXPECT_EQ(g_menus.screen, Screen::ConfigEditor);

  const std::string saved = read_file(g_paths.clientSettings);
  // The 21 lines of the first games come first, the later settings after them.
  const std::string first = saved.substr(0, saved.find("SMOOTH_MOTION="));
  EXPECT_EQ(std::count(first.begin(), first.end(), '\n'), 21);
  EXPECT_NE(saved.find("VOLUME=3\n"), std::string::npos);
  EXPECT_NE(saved.find("QUIT_KEY=Q\n"), std::string::npos);
  EXPECT_EQ(saved.rfind("SERVER_IP=127.0.0.1\nSERVER_PORT=12346\nPLAYER_NAME=Pilot\n", 0), 0u);

  load_client_settings();
  EXPECT_EQ(g_client_settings.VOLUME, 3);
  EXPECT_EQ(g_client_settings.keys.QUIT_KEY, 'Q');
  EXPECT_EQ(g_client_settings.keys.FIRE_KEY, 'j');
}

TEST_F(MenuTest, HighScoreViewClearsAndReturns) {
  insert_high_score(40, "ace");
  main_menu_special(SPECIAL_KEY_UP, 0, 0);
  main_menu_special(SPECIAL_KEY_UP, 0, 0);
  main_menu_special(SPECIAL_KEY_UP, 0, 0);  // "View High Scores"
  main_menu_keyboard(KEY_RETURN, 0, 0);
  ASSERT_EQ(g_menus.screen, Screen::HighScores);
  high_score_special(SPECIAL_KEY_UP, 0, 0);
  EXPECT_EQ(g_menus.highScoreMenu.selected, 1);
  high_score_special(SPECIAL_KEY_UP, 0, 0);
  EXPECT_EQ(g_menus.highScoreMenu.selected, 0);
  high_score_keyboard('c', 0, 0);
  EXPECT_EQ(g_high_scores.entries[0].score, 40);
  high_score_keyboard(KEY_RETURN, 0, 0);
  EXPECT_EQ(g_high_scores.entries[0].score, 0);
  std::string ten;
  for (int i = 0; i < 10; ++i) ten += "0 \n";
  EXPECT_EQ(read_file(g_paths.highScores), ten);
  EXPECT_EQ(g_menus.screen, Screen::HighScores);

  high_score_special(SPECIAL_KEY_DOWN, 0, 0);
  high_score_keyboard(KEY_RETURN, 0, 0);
  EXPECT_EQ(g_menus.screen, Screen::MainMenu);
}

TEST_F(MenuTest, NameEntryInsertsTheFinalScoreUnderTheTypedName) {
  insert_high_score(100, "best");
  {
    std::lock_guard<std::mutex> lock(mirror_mutex());
    clear_mirror();
    g_mirror.join.slot = 3;
    g_mirror.players[3] = std::make_unique<MirrorPlayer>();
    g_mirror.players[3]->score = 57;
  }
  std::strcpy(g_menus.nameBuffer, "left over");
  show_name_entry();
  EXPECT_EQ(g_menus.screen, Screen::NameEntry);
  EXPECT_STREQ(g_menus.nameBuffer, "");
  type(name_entry_keyboard, "Jo\nhn Q. Public the Third");
  EXPECT_STREQ(g_menus.nameBuffer, "John Q. Public the ");  // 19 characters, no line break
  name_entry_keyboard(KEY_RETURN, 0, 0);
  EXPECT_EQ(times_played(SOUND_NAME_ENTERED), 1);
  EXPECT_EQ(g_menus.screen, Screen::HighScores);
  EXPECT_EQ(g_high_scores.entries[1].score, 57);
  EXPECT_STREQ(g_high_scores.entries[1].name, "John Q. Public the ");
  EXPECT_EQ(read_file(g_paths.highScores).substr(0, 32), "100 best\n57 John Q. Public the \n");
  std::lock_guard<std::mutex> lock(mirror_mutex());
  clear_mirror();
}

TEST_F(MenuTest, HooksReachTheMenus) {
  show_config_editor();
  g_client_hooks.show_main_menu();
  EXPECT_EQ(g_menus.screen, Screen::MainMenu);
  g_client_hooks.show_name_entry();
  EXPECT_EQ(g_menus.screen, Screen::NameEntry);
}

// --- Server actions against real server threads on 127.0.0.1 ---

using test::free_udp_port;

TEST_F(MenuTest, ServerStartsOnceStopsOnceAndBlocksSinglePlayer) {
  load_server_settings(g_paths.serverSettings.c_str());
  g_server_settings.GAME_PORT = free_udp_port();
  g_local_server.startWait = std::chrono::milliseconds(50);

  stop_server_action();
  EXPECT_EQ(times_played(SOUND_REFUSED), 1);

  start_server_action();
  EXPECT_EQ(times_played(SOUND_GAME_START), 1);
  EXPECT_TRUE(local_server_running());
  start_server_action();
  EXPECT_EQ(times_played(SOUND_REFUSED), 2);
  start_single_player_action();
  EXPECT_EQ(times_played(SOUND_REFUSED), 3);
  EXPECT_EQ(g_menus.screen, Screen::MainMenu);

  stop_server_action();
  EXPECT_FALSE(local_server_running());
  EXPECT_FALSE(g_local_server.thread.joinable());
}

TEST_F(MenuTest, MultiPlayerJoinWithNobodyThereComesBackToTheMenu) {
  g_client_settings.SERVER_PORT = free_udp_port();
  g_connection.receiveTimeout = std::chrono::milliseconds(100);
  main_menu_special(SPECIAL_KEY_DOWN, 0, 0);
  main_menu_keyboard(KEY_RETURN, 0, 0);
  EXPECT_EQ(times_played(SOUND_GAME_START), 1);
  EXPECT_EQ(g_menus.screen, Screen::Connecting);
  finish_join();
  EXPECT_EQ(g_menus.screen, Screen::MainMenu);
  EXPECT_FALSE(g_play.inGame);
  EXPECT_EQ(g_connection.socket, -1);
  EXPECT_GT(g_menus.failedUntil, std::chrono::steady_clock::now());  // the line under the items
  EXPECT_FALSE(local_server_running());                              // no server of its own
  EXPECT_EQ(g_menus.mainMenu.selected, 1);
}

TEST_F(MenuTest, EscapeOrTheQuitKeyEndsAJoinAtOnceAndOtherKeysDoNot) {
  g_client_settings.SERVER_PORT = free_udp_port();
  ASSERT_NE(g_client_settings.keys.QUIT_KEY, 0);
  for (const unsigned char key : {static_cast<unsigned char>(27),
                                  static_cast<unsigned char>(g_client_settings.keys.QUIT_KEY)}) {
    start_multi_player_action();
    connecting_idle();
    connecting_keyboard('x', 0, 0);
    EXPECT_EQ(g_menus.screen, Screen::Connecting) << key;
    EXPECT_GE(g_connection.socket, 0) << key;
    connecting_keyboard(key, 0, 0);
    EXPECT_EQ(g_menus.screen, Screen::MainMenu) << key;
    EXPECT_EQ(g_connection.socket, -1) << key;
    EXPECT_FALSE(g_connection.join.active) << key;
    EXPECT_LT(g_menus.failedUntil, std::chrono::steady_clock::now()) << "not a failure";
  }
}

TEST_F(MenuTest, FailedSinglePlayerJoinStopsItsServerAndAllowsANewStart) {
  // The private server listens where the client does not look for it.
  const int clientPort = free_udp_port();
  int serverPort = free_udp_port();
  while (serverPort == clientPort) serverPort = free_udp_port();
  test::write_file(g_paths.singleSettings, "MAX_NUMBER_OF_PLAYERS=1\nGAME_PORT=" +
                                               std::to_string(serverPort) + "\nNUM_BOTS=0\n");
  g_local_server.singlePlayerPort = clientPort;
  g_local_server.startWait = std::chrono::milliseconds(50);
  g_connection.receiveTimeout = std::chrono::milliseconds(100);

  for (int round = 0; round < 2; ++round) {
    sounds_played().clear();
    const auto start = std::chrono::steady_clock::now();
    start_single_player_action();
    finish_join();
    EXPECT_EQ(times_played(SOUND_GAME_START), 1) << round;
    EXPECT_EQ(g_menus.screen, Screen::MainMenu) << round;
    EXPECT_FALSE(local_server_running()) << round;
    EXPECT_FALSE(g_local_server.thread.joinable()) << round;
    // Bounded by the server's own receive time-out, never an endless wait.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8)) << round;
  }
  // leave_game restored the client settings from the file.
  EXPECT_EQ(g_client_settings.SERVER_PORT, 12346);
}

}  // namespace
}  // namespace zbx::menu_test
