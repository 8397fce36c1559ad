// List arithmetic, the input box and the line-editing rule shared by every
// menu screen.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "menus/menus.h"
#include "render/draw2d.h"
#include "render/render.h"
#include "startup/settings.h"

namespace zbx {

MenuState g_menus;

ScrollWindow scroll_window(int first, int selected, int count, int height) {
  ScrollWindow w;
  w.first = std::min(first, selected);
  const int visible = (height - 50) / MENU_LINE_HEIGHT;
  w.last = w.first + visible;
  if (w.last >= count) {
    w.last = count - 1;
    w.first = std::max(count - visible - 1, 0);
  }
  if (w.last < selected) {
    w.first += selected - w.last;
    w.last = selected;
  }
  return w;
}

ScrollWindow begin_list_frame(int& first, int selected, int count) {
  const ScrollWindow window = scroll_window(first, selected, count, window_height());
  first = window.first;
  begin_frame();
  return window;
}

int navigate_list(int selected, int count, int special_key) {
  if (special_key == SPECIAL_KEY_DOWN) return selected + 1 >= count ? 0 : selected + 1;
  if (special_key == SPECIAL_KEY_UP) return selected <= 0 ? count - 1 : selected - 1;
  return selected;
}

int main_menu_top_offset(int height) { return height >= 200 ? (height - 150) / 2 : MIN_TOP_OFFSET; }

int config_top_offset(int height) { return height >= 600 ? (height - 525) / 2 : MIN_TOP_OFFSET; }

int high_score_rows(int height) {
  const int room = height - MENU_LINE_HEIGHT * HIGH_SCORE_MENU_ITEMS - 150;
  if (room < MENU_LINE_HEIGHT) return 0;
  return std::min(room / MENU_LINE_HEIGHT, 10);
}

void edit_text_key(char* text, int limit, unsigned char key) {
  const std::size_t length = std::strlen(text);
  if (key == KEY_BACKSPACE) {
    if (length > 0) text[length - 1] = '\0';
    return;
  }
  // A newline would split the line this text is saved on; NUL would cut it.
  if (key == KEY_RETURN || key == KEY_NEWLINE || key == 0) return;
  if (limit > 0 && length < static_cast<std::size_t>(limit)) {
    text[length] = static_cast<char>(key);
    text[length + 1] = '\0';
  }
}

bool number_entry_key(int& value, int limit, unsigned char key) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", value);
  const int length = static_cast<int>(std::strlen(text));
  if (key >= '0' && key <= '9') {
    if (length < limit && length + 1 < static_cast<int>(sizeof text)) {
      text[length] = static_cast<char>(key);
      text[length + 1] = '\0';
    } else if (length == 1 && value == 0) {
      text[0] = static_cast<char>(key);
    }
    value = settings_int(text);
    return true;
  }
  if (key == KEY_BACKSPACE) {
    if (length > 0) text[length - 1] = '\0';
    value = settings_int(text);
    return true;
  }
  return false;
}

void play_interface_sound(int number) {
  g_client_hooks.play_sound_at(number, g_menus.interfaceSoundPosition);
}

void draw_input_box_body(const char* prompt, const char* value) {
  const int w = window_width();
  const int h = window_height() / 2;
  const int e = draw_text(w / 2 - 200, h, prompt, palette_blue, 1);
  // Everything here lies in one depth plane and the depth test stays on, so
  // the box goes in last: drawn first it would hide the text and the caret.
  const int c = draw_text(e + 20, h, value, palette_red, 1);
  draw_quad(c + 2, h, c + 2, h + 15, c + 8, h + 15, c + 8, h, palette_white);
  draw_quad(e + 17, h - 2, e + 17, h + 20, e + 300, h + 20, e + 300, h - 2, palette_dark_grey);
  swap_frame();
}

void draw_input_box(const char* prompt, const char* value) {
  begin_frame();
  draw_input_box_body(prompt, value);
}

void reset_menus() { g_menus = MenuState{}; }

}  // namespace zbx
