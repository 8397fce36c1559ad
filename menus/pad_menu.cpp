// A gamepad's Up, Down, Accept and Back on whatever screen is on show.
#include <cstdio>

#include "menus/menus.h"
#include "render/render.h"

namespace zbx {

namespace {

// The one-field editors and the name entry take typed characters, Escape
// among them: the pad confirms or leaves them instead.
bool entry_command(PadCommand command) {
  const bool accept = command == PadCommand::Accept;
  const bool back = command == PadCommand::Back;
  switch (g_menus.screen) {
    case Screen::TextEntry:
      if (back && g_menus.editing.chars && g_menus.editLimit > 0) {
        std::snprintf(g_menus.editing.chars, static_cast<std::size_t>(g_menus.editLimit) + 1, "%s",
                      g_menus.editBefore);
      }
      if (accept || back) text_entry_keyboard(KEY_RETURN, 0, 0);
      return true;
    case Screen::NumberEntry:
      if (back && g_menus.editing.number) *g_menus.editing.number = g_menus.editNumberBefore;
      if (accept || back) end_number_entry();
      return true;
    case Screen::KeyCapture:
      // Any key typed here becomes the binding; the pad only leaves.
      if (back) show_config_editor();
      return true;
    case Screen::NameEntry:
      if (accept) name_entry_keyboard(KEY_RETURN, 0, 0);
      if (back) show_main_menu();  // no name, no entry in the table
      return true;
    default:
      return false;
  }
}

}  // namespace

void pad_menu_command(PadCommand command) {
  if (entry_command(command)) return;
  const ScreenCallbacks& screen = g_render.screen;
  switch (command) {
    case PadCommand::Up:
    case PadCommand::Down:
      if (screen.special) {
        screen.special(command == PadCommand::Up ? SPECIAL_KEY_UP : SPECIAL_KEY_DOWN, 0, 0);
      }
      break;
    case PadCommand::Accept:
      if (screen.keyboard) screen.keyboard(KEY_RETURN, 0, 0);
      break;
    case PadCommand::Back:
      // Lists without an Escape of their own go back where their "Return To
      // Main Menu" item leads; the main menu has nowhere to go back to.
      if (g_menus.screen == Screen::ConfigEditor || g_menus.screen == Screen::HighScores) {
        show_main_menu();
      } else if (g_menus.screen != Screen::MainMenu && screen.keyboard) {
        screen.keyboard(KEY_ESCAPE, 0, 0);
      }
      break;
  }
}

}  // namespace zbx
