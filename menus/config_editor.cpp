// The configuration editor: a scrolling list of the client settings and the
// three one-field editors (text, number, key) it opens.
#include <GL/freeglut.h>

#include <cassert>
#include <cstdio>
#include <cstring>

#include "menus/menus.h"
#include "render/draw2d.h"
#include "render/render.h"
#include "sound/sound.h"
#include "startup/settings.h"

namespace zbx {

namespace {

void set_item(ConfigItem& item, const char* label, const char* prompt, SettingRef value, int kind,
              int limit) {
  std::snprintf(item.label, sizeof item.label, "%s", label);
  std::snprintf(item.prompt, sizeof item.prompt, "%s", prompt);
  item.value = value;
  item.kind = kind;
  item.limit = limit;
  item.edit = edit_config_item;
  item.action = nullptr;
}

void set_plain(ConfigItem& item, const char* label, MenuAction action) {
  item = ConfigItem{};
  std::snprintf(item.label, sizeof item.label, "%s", label);
  item.action = action;
}

SettingRef text_ref(char* text) { return SettingRef{.number = nullptr, .chars = text}; }
SettingRef number_ref(int* number) { return SettingRef{.number = number, .chars = nullptr}; }

const ScreenCallbacks& editor_screen() {
  static const ScreenCallbacks screen{.keyboard = config_keyboard,
                                      .keyboard_up = nullptr,
                                      .special = config_special,
                                      .idle = nullptr,
                                      .display = draw_config_menu};
  return screen;
}

void save_settings_action() { save_client_settings(); }

// The value shown right of an item's label.
void value_text(const ConfigItem& item, char* out, std::size_t size) {
  out[0] = '\0';
  if (item.kind == CONFIG_KIND_NUMBER && item.value.number) {
    std::snprintf(out, size, "%d", *item.value.number);
  } else if (item.kind == CONFIG_KIND_KEY && item.value.chars) {
    out[0] = *item.value.chars;  // an unbound key (0) shows nothing
    out[1] = '\0';
  } else if (item.value.chars) {
    std::snprintf(out, size, "%s", item.value.chars);
  }
}

bool has_value(const ConfigItem& item) {
  return item.value.number != nullptr || item.value.chars != nullptr;
}

}  // namespace

void build_config_menu() {
  auto& m = g_menus.config;
  auto& s = g_client_settings;
  auto& k = s.keys;
  m.selected = 0;
  const int T = CONFIG_KIND_TEXT, N = CONFIG_KIND_NUMBER, K = CONFIG_KIND_KEY;
  auto* items = m.items.data();
  set_item(items[0], "Server IP (MultiPlayer Only)", "Enter Server IP", text_ref(s.SERVER_IP), T,
           sizeof s.SERVER_IP - 1);
  set_item(items[1], "Server Port (MultiPlayer Only)", "Enter Server Port",
           number_ref(&s.SERVER_PORT), N, 5);
  set_item(items[2], "Player Name (MultiPlayer Only)", "Enter Player Name", text_ref(s.PLAYER_NAME),
           T, sizeof s.PLAYER_NAME - 1);
  set_item(items[3], "Screen Width", "Enter Screen Width", number_ref(&g_menus.pendingWidth), N, 4);
  set_item(items[4], "Screen Height", "Enter Screen Height", number_ref(&g_menus.pendingHeight), N,
           4);
  set_item(items[5], "Volume", "Enter Volume (Values 0 through 9)",
           number_ref(&g_sound.pendingVolume), N, 1);
  struct KeyItem {
    const char* label;
    const char* prompt;
    char* key;
  };
  const KeyItem keys[] = {
      {"Score Key (DeathMatch Only)", "Enter Score Key", &k.SCORE_KEY},
      {"Fire Key", "Enter Fire Key", &k.FIRE_KEY},
      {"Shield Key", "Enter Shield Key", &k.SHIELD_KEY},
      {"Warp Key", "Enter Warp Key", &k.WARP_KEY},
      {"Nuke Key", "Enter Nuke Key", &k.NUKE_KEY},
      {"Quit Key", "Enter Quit Key", &k.QUIT_KEY},
      {"Forward Thrust Key", "Enter Forward Thrust Key", &k.Z_FORWARD_KEY},
      {"Reverse Thrust Key", "Enter Reverse Thrust Key", &k.Z_BACKWARD_KEY},
      {"x Forward Rotate Key", "Enter x Forward Rotate Key", &k.X_FORWARD_ROTATE_KEY},
      {"x Backward Rotate Key", "Enter x Backward Rotate Key", &k.X_BACKWARD_ROTATE_KEY},
      {"y Forward Rotate Key", "Enter y Forward Rotate Key", &k.Y_FORWARD_ROTATE_KEY},
      {"y Backward Rotate Key", "Enter y Backward Rotate Key", &k.Y_BACKWARD_ROTATE_KEY},
      {"z Forward Rotate Key", "Enter z Forward Rotate Key", &k.Z_FORWARD_ROTATE_KEY},
      {"z Backward Rotate Key", "Enter z Backward Rotate Key", &k.Z_BACKWARD_ROTATE_KEY},
      {"Reverse View Key", "Enter Reverse View Key", &k.REVERSE_VIEW_KEY},
  };
  int i = 6;
  for (const KeyItem& key : keys)
    set_item(items[i++], key.label, key.prompt, text_ref(key.key), K, 1);
  set_plain(items[21], "Save Settings As Defaults", save_settings_action);
  set_plain(items[22], "Return To Main Menu", show_main_menu);
  // Later settings, after every item of the first games so those keep their
  // places.
  i = CONFIG_ITEMS_FIRST;
  set_item(items[i++], "Smooth Motion (1 on, 0 off)", "Enter Smooth Motion (1 on, 0 off)",
           number_ref(&s.SMOOTH_MOTION), N, 1);
  set_item(items[i++], "Compact Snapshots (1 on, 0 off)", "Enter Compact Snapshots (1 on, 0 off)",
           number_ref(&s.COMPACT_SNAPSHOTS), N, 1);
  set_item(items[i++], "Broadcast Address (Find Servers)", "Enter Broadcast Address",
           text_ref(s.BROADCAST_ADDRESS), T, sizeof s.BROADCAST_ADDRESS - 1);
  set_item(items[i++], "Master Servers (Find Servers)", "Enter Master Servers (host:port,...)",
           text_ref(s.MASTER_SERVERS), T, sizeof s.MASTER_SERVERS - 1);
  set_item(items[i++], "Gamepad (1 on, 0 off)", "Enter Gamepad (1 on, 0 off)",
           number_ref(&s.GAMEPAD), N, 1);
  set_item(items[i++], "Gamepad Dead Zone (percent)", "Enter Gamepad Dead Zone (0 through 95)",
           number_ref(&s.GAMEPAD_DEAD_ZONE), N, 2);
  struct PadItem {
    const char* label;
    const char* prompt;
    char* name;
  };
  auto& p = s.pad;
  const PadItem pads[] = {
      {"Pad Fire Button", "Enter Pad Fire Button", p.PAD_FIRE_BUTTON},
      {"Pad Shield Button", "Enter Pad Shield Button", p.PAD_SHIELD_BUTTON},
      {"Pad Nuke Button", "Enter Pad Nuke Button", p.PAD_NUKE_BUTTON},
      {"Pad Warp Button", "Enter Pad Warp Button", p.PAD_WARP_BUTTON},
      {"Pad Score Button", "Enter Pad Score Button", p.PAD_SCORE_BUTTON},
      {"Pad Reverse View Button", "Enter Pad Reverse View Button", p.PAD_REVERSE_VIEW_BUTTON},
      {"Pad Quit Button", "Enter Pad Quit Button", p.PAD_QUIT_BUTTON},
      {"Pad Roll Left Button", "Enter Pad Roll Left Button", p.PAD_ROLL_LEFT_BUTTON},
      {"Pad Roll Right Button", "Enter Pad Roll Right Button", p.PAD_ROLL_RIGHT_BUTTON},
  };
  for (const PadItem& pad : pads) {
    set_item(items[i++], pad.label, pad.prompt, text_ref(pad.name), T, PAD_BUTTON_NAME_SIZE - 1);
  }
  set_plain(items[i++], "Save Settings As Defaults", save_settings_action);
  set_plain(items[i++], "Return To Main Menu", show_main_menu);
  m.count = i;
  assert(m.count == CONFIG_ITEMS);
  m.top = config_top_offset(window_height());
}

void show_config_editor() {
  install_screen(editor_screen());
  g_menus.screen = Screen::ConfigEditor;
  draw_config_menu();
}

void draw_config_menu() {
  auto& m = g_menus.config;
  const int w = window_width();
  const int h = window_height();
  const ScrollWindow window = begin_list_frame(m.first, m.selected, m.count);
  for (int i = window.first; i <= window.last; ++i) {
    const ConfigItem& item = m.items[i];
    const int y = h - m.top - MENU_LINE_HEIGHT * (i - window.first);
    const int end =
        draw_text(w / 2 - 200, y, item.label, i == m.selected ? palette_white : palette_blue, 1);
    if (has_value(item)) {
      char value[MENU_TEXT_SIZE];
      value_text(item, value, sizeof value);
      draw_text(end + 20, y, value, palette_red, 1);
    }
  }
  swap_frame();
}

void config_keyboard(unsigned char key, int, int) {
  if (key != KEY_RETURN) return;
  const auto& m = g_menus.config;
  if (m.selected < 0 || m.selected >= m.count) return;
  const ConfigItem& item = m.items[m.selected];
  if (item.edit) {
    item.edit(item.prompt, item.value, item.limit, item.kind);
  } else if (item.action) {
    item.action();
  }
}

void config_special(int key, int, int) {
  auto& m = g_menus.config;
  if (key == SPECIAL_KEY_UP || key == SPECIAL_KEY_DOWN) play_interface_sound(SOUND_MENU_MOVE);
  m.selected = navigate_list(m.selected, m.count, key);
  draw_config_menu();
}

void edit_config_item(const char* prompt, SettingRef value, int limit, int kind) {
  std::snprintf(g_menus.prompt, sizeof g_menus.prompt, "%s", prompt);
  g_menus.editing = value;
  g_menus.editKind = kind;
  if (kind == CONFIG_KIND_NUMBER) {
    g_menus.editLimit = limit;
    g_menus.editNumberBefore = value.number ? *value.number : 0;
    install_screen(ScreenCallbacks{.keyboard = number_entry_keyboard,
                                   .keyboard_up = nullptr,
                                   .special = nullptr,
                                   .idle = nullptr,
                                   .display = draw_number_entry});
    g_menus.screen = Screen::NumberEntry;
    draw_number_entry();
  } else if (kind == CONFIG_KIND_TEXT) {
    g_menus.editLimit = limit;
    std::snprintf(g_menus.editBefore, sizeof g_menus.editBefore, "%s",
                  value.chars ? value.chars : "");
    install_screen(ScreenCallbacks{.keyboard = text_entry_keyboard,
                                   .keyboard_up = nullptr,
                                   .special = nullptr,
                                   .idle = nullptr,
                                   .display = draw_text_entry});
    g_menus.screen = Screen::TextEntry;
    draw_text_entry();
  } else {
    install_screen(ScreenCallbacks{.keyboard = key_capture_keyboard,
                                   .keyboard_up = nullptr,
                                   .special = nullptr,
                                   .idle = nullptr,
                                   .display = draw_key_prompt});
    g_menus.screen = Screen::KeyCapture;
    draw_key_prompt();
  }
}

void draw_text_entry() {
  draw_input_box(g_menus.prompt, g_menus.editing.chars ? g_menus.editing.chars : "");
}

void draw_number_entry() {
  char value[16] = {};
  if (g_menus.editing.number) std::snprintf(value, sizeof value, "%d", *g_menus.editing.number);
  draw_input_box(g_menus.prompt, value);
}

void draw_key_prompt() {
  char text[2 * MENU_TEXT_SIZE];
  std::snprintf(text, sizeof text, "Enter key for %s", g_menus.prompt);
  begin_frame();
  draw_text(window_width() / 2 - 100, window_height() / 2, text, palette_red, 1);
  swap_frame();
}

void text_entry_keyboard(unsigned char key, int, int) {
  char* text = g_menus.editing.chars;
  if (key == KEY_RETURN) {
    // An empty value would be saved as "KEY=" and swallow the next line.
    if (text && text[0] == '\0' && g_menus.editLimit > 0) {
      std::snprintf(text, static_cast<std::size_t>(g_menus.editLimit) + 1, "%s",
                    g_menus.editBefore);
    }
    show_config_editor();
    return;
  }
  // Blanks, "=" and comment starters end a value in the settings file: what
  // follows them would not come back from a save.
  if (std::strchr(" \t\n=#/;", key) != nullptr && key != 0) {
    play_interface_sound(SOUND_REFUSED);
    return;
  }
  if (text) edit_text_key(text, g_menus.editLimit, key);
  draw_text_entry();
}

void number_entry_keyboard(unsigned char key, int, int) {
  if (key == KEY_RETURN) {
    end_number_entry();
    return;
  }
  if (g_menus.editing.number && number_entry_key(*g_menus.editing.number, g_menus.editLimit, key)) {
    draw_number_entry();
  }
}

void key_capture_keyboard(unsigned char key, int, int) {
  // A newline binding would be saved as a line break and swallow the next
  // setting; wait for another key instead.
  if (key == KEY_NEWLINE) return;
  if (g_menus.editing.chars) *g_menus.editing.chars = static_cast<char>(key);
  show_config_editor();
}

void end_number_entry() {
  install_screen(editor_screen());
  g_menus.screen = Screen::ConfigEditor;
  auto& s = g_client_settings;
  if (g_menus.pendingWidth != s.SCREEN_WIDTH || g_menus.pendingHeight != s.SCREEN_HEIGHT) {
    if (g_menus.pendingWidth >= 1 && g_menus.pendingHeight >= 1) {
      s.SCREEN_WIDTH = g_menus.pendingWidth;
      s.SCREEN_HEIGHT = g_menus.pendingHeight;
      resize_window(s.SCREEN_WIDTH, s.SCREEN_HEIGHT);
      build_main_menu();
      build_config_menu();
    } else {
      // No window can be that small: the size in force stays.
      g_menus.pendingWidth = s.SCREEN_WIDTH;
      g_menus.pendingHeight = s.SCREEN_HEIGHT;
    }
  }
  if (g_sound.pendingVolume != s.VOLUME) {
    s.VOLUME = g_sound.pendingVolume;
    set_volume_gain();
  }
  draw_config_menu();
}

}  // namespace zbx
