// The screens outside a game: the main menu and its actions, the
// configuration editor with its text, number and key entries, the high-score
// view and name entry, the server browser, and the play screen's
// window-system callbacks. Each
// screen is a ScreenCallbacks set (render/render.h); switching screens
// installs the next set and draws it at once. Interface sounds go through
// g_client_hooks (client/hooks.h).
//
// Everything here runs on the window-system thread; g_menus has no lock.
#pragma once

#include <array>
#include <chrono>
#include <memory>

#include "browser/browser.h"
#include "client/hooks.h"
#include "gamepad/gamepad.h"
#include "protocol/zbx_types.h"
#include "render/render.h"

namespace zbx {

inline constexpr int MENU_TEXT_SIZE = 80;  // labels and prompts: 79 characters

// Characters and GLUT special-key codes the lists react to.
inline constexpr unsigned char KEY_BACKSPACE = 8;
inline constexpr unsigned char KEY_NEWLINE = 10;
inline constexpr unsigned char KEY_RETURN = 13;
inline constexpr unsigned char KEY_ESCAPE = 27;
inline constexpr int SPECIAL_KEY_UP = 101;
inline constexpr int SPECIAL_KEY_DOWN = 103;

// Interface sounds.
inline constexpr int SOUND_REFUSED = 6;
inline constexpr int SOUND_NAME_ENTERED = 7;
inline constexpr int SOUND_MENU_MOVE = 9;
inline constexpr int SOUND_GAME_START = 12;
inline constexpr int SOUND_READY = 14;
inline constexpr int SOUND_WELCOME = 15;

inline constexpr int MENU_LINE_HEIGHT = 25;
inline constexpr int MIN_TOP_OFFSET = 37;
// The seven items of the first games, then "Find Servers".
inline constexpr int MAIN_MENU_ITEMS = 8;
// The 23 items of the first games, then the later settings, then the save and
// return items again so they are one arrow away from the list's top.
inline constexpr int CONFIG_ITEMS_FIRST = 23;
inline constexpr int CONFIG_ITEMS = 40;
inline constexpr int HIGH_SCORE_MENU_ITEMS = 2;
inline constexpr int PLAYER_NAME_LIMIT = 19;

using MenuAction = void (*)();

struct MenuItem {
  char label[MENU_TEXT_SIZE] = {};
  MenuAction action = nullptr;
};

// The setting an editor item changes: a number, or characters (a text, or
// the single character of a key binding).
struct SettingRef {
  int* number = nullptr;
  char* chars = nullptr;
};

inline constexpr int CONFIG_KIND_TEXT = 0;
inline constexpr int CONFIG_KIND_NUMBER = 1;
inline constexpr int CONFIG_KIND_KEY = 2;

using EditAction = void (*)(const char* prompt, SettingRef value, int limit, int kind);

struct ConfigItem {
  char label[MENU_TEXT_SIZE] = {};
  char prompt[MENU_TEXT_SIZE] = {};
  SettingRef value;
  int limit = 0;
  int kind = CONFIG_KIND_TEXT;
  EditAction edit = nullptr;
  MenuAction action = nullptr;
};

// A list on screen: its items, how many, which is selected, the first one
// shown (scrolling lists) and the top offset of the first line.
template <typename Item, int N>
struct MenuList {
  std::array<Item, N> items{};
  int count = 0;
  int selected = 0;
  int first = 0;
  int top = MIN_TOP_OFFSET;
};

enum class Screen {
  None,
  MainMenu,
  ConfigEditor,
  TextEntry,
  NumberEntry,
  KeyCapture,
  HighScores,
  NameEntry,
  Connecting,
  FindServers,
  Play
};

// Menu state for the life of the client.
struct MenuState {
  MenuList<MenuItem, MAIN_MENU_ITEMS> mainMenu;
  MenuList<ConfigItem, CONFIG_ITEMS> config;
  MenuList<MenuItem, HIGH_SCORE_MENU_ITEMS> highScoreMenu;
  Screen screen = Screen::None;  // the screen whose callbacks are installed

  // Where interface sounds are played (the listener).
  Vector3f interfaceSoundPosition{0, 0, 0};

  // The editor's copies of the window size, taken over at the end of a
  // number entry when they differ (the pending volume lives in g_sound).
  int pendingWidth = 640;
  int pendingHeight = 480;

  // The one-field editor open now, and the text it opened with (an entry
  // left empty gets it back).
  char prompt[MENU_TEXT_SIZE] = {};
  SettingRef editing;
  char editBefore[MENU_TEXT_SIZE] = {};
  int editNumberBefore = 0;  // the number an entry opened with (a pad leaves it so)
  int editLimit = 0;
  int editKind = CONFIG_KIND_TEXT;

  // Name typed in the high-score name entry.
  char nameBuffer[PLAYER_NAME_LIMIT + 1] = {};

  // The connecting screen: when its join begins (after a private server's
  // start-up pause) and whether it has.
  std::chrono::steady_clock::time_point joinAt{};
  bool joinBegun = false;
  // Until then the main menu says the last join failed.
  std::chrono::steady_clock::time_point failedUntil{};

  // "Find Servers": the search and its list (kept while a game is played,
  // so the list is there on return), the selected server (followed by its
  // address as answers re-sort the list) and the first line shown.
  std::unique_ptr<Browser> browser;
  ServerAddress browserSelected;
  int browserFirst = 0;
};
extern MenuState g_menus;

// --- Pure list and editing arithmetic ---

// Lines of a scrolling list: indexes first..last on screen.
struct ScrollWindow {
  int first = 0;
  int last = 0;
};
// Moves the window so the selected item is shown; first is the list's
// remembered first line.
ScrollWindow scroll_window(int first, int selected, int count, int height);
// Begins a frame of a scrolling list at the window's height: the window of
// lines to draw, with the list's remembered first line moved to it.
ScrollWindow begin_list_frame(int& first, int selected, int count);
// The selection after a special key (up 101, down 103, wrapping around);
// any other key leaves it.
int navigate_list(int selected, int count, int special_key);
int main_menu_top_offset(int height);
int config_top_offset(int height);
// High-score entries that fit above the two menu items of a window height.
int high_score_rows(int height);
// The line-editing rule on a NUL-terminated text of at most limit
// characters: backspace removes, Return and characters that would break a
// settings or score line (NUL, newline) are not taken, anything else is
// appended while there is room.
void edit_text_key(char* text, int limit, unsigned char key);
// A key of the number entry on value (limit: most digits). True when the
// entry must be redrawn (a digit or backspace), false when ignored.
bool number_entry_key(int& value, int limit, unsigned char key);

// --- Screens ---

void build_main_menu();
void build_config_menu();
void build_high_score_menu();

// The main menu's callbacks, for open_window's first screen.
const ScreenCallbacks& main_menu_screen();

void show_main_menu();
void show_config_editor();
void show_high_scores();
// Empties the name buffer and opens the high-score name entry.
void show_name_entry();
// Installs the play screen: play_key_down/up and play_frame.
void show_play_screen();
// The screen of a join under way; the join begins after pause. It ends in
// the game, or in the main menu when it fails or Escape or the quit key is
// pressed.
void show_connecting_screen(std::chrono::milliseconds pause);
void connecting_keyboard(unsigned char key, int x, int y);
// One slice of the join (at most 20 ms), then a redraw.
void connecting_idle();
void draw_connecting();
// Lays the lists and the game's projection out for the window's new size.
void relayout_screens();

// Window-system callbacks of the lists (tests drive them directly).
void main_menu_keyboard(unsigned char key, int x, int y);
void main_menu_special(int key, int x, int y);
void config_keyboard(unsigned char key, int x, int y);
void config_special(int key, int x, int y);
void text_entry_keyboard(unsigned char key, int x, int y);
void number_entry_keyboard(unsigned char key, int x, int y);
void key_capture_keyboard(unsigned char key, int x, int y);
void high_score_keyboard(unsigned char key, int x, int y);
void high_score_special(int key, int x, int y);
void name_entry_keyboard(unsigned char key, int x, int y);
void find_servers_keyboard(unsigned char key, int x, int y);
void find_servers_special(int key, int x, int y);
// One slice of the search (at most 20 ms), then a redraw if anything changed.
void find_servers_idle();

// The configuration editor's edit action for items 0 to 20.
void edit_config_item(const char* prompt, SettingRef value, int limit, int kind);
// End of a number entry: back to the list, take over size and volume.
void end_number_entry();

// Main-menu actions.
void start_single_player_action();
void start_multi_player_action();
void start_server_action();
void stop_server_action();
void quit_game_action();
// "Find Servers": the browser screen, asking every server again.
void show_find_servers();
// The address of a multi-player join that has just succeeded goes first in
// the recent-servers file.
void remember_joined_server();
// The game screen replaying the recording open_replay opened ("-play").
void show_replay_screen();

// Drawing of each screen.
void draw_main_menu();
void draw_config_menu();
void draw_text_entry();
void draw_number_entry();
void draw_key_prompt();
void draw_high_score_view();
void draw_name_entry();
void draw_find_servers();
// Prompt, value box and caret around the middle of the window.
void draw_input_box(const char* prompt, const char* value);
// The same without clearing the frame first (the name entry draws above it).
void draw_input_box_body(const char* prompt, const char* value);

// A gamepad's command on the screen on show: Up and Down move through a list
// (its special keys), Accept is Return, Back is the screen's Escape, or back
// to the main menu from a list that has a "Return To Main Menu" item; a
// one-field entry or the name entry is confirmed by Accept and left by Back
// without a change (typing stays on the keyboard).
void pad_menu_command(PadCommand command);

// Plays an interface sound at the listener.
void play_interface_sound(int number);

// Points the menu entries of the client's hook table here.
void fill_menu_hooks(ClientHooks& hooks);

// Back to the state before start-up (tests).
void reset_menus();

}  // namespace zbx
