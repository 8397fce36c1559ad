// Client settings: defaults, the key handler and the 21-line save.
#include <cstdio>
#include <cstring>
#include <iterator>

#include "startup/safe_file.h"
#include "startup/settings.h"

namespace zbx {

ClientSettings g_client_settings;

namespace {

// Binding keys in the order the handler tests them.
struct BindingKey {
  const char* name;
  char KeyBindings::*field;
};

#define ZBX_BINDING(k) \
  { #k, &KeyBindings::k }
constexpr BindingKey BINDING_KEYS[] = {
    ZBX_BINDING(SCORE_KEY),
    ZBX_BINDING(FIRE_KEY),
    ZBX_BINDING(SHIELD_KEY),
    ZBX_BINDING(WARP_KEY),
    ZBX_BINDING(NUKE_KEY),
    ZBX_BINDING(Z_FORWARD_KEY),
    ZBX_BINDING(Z_BACKWARD_KEY),
    ZBX_BINDING(X_FORWARD_ROTATE_KEY),
    ZBX_BINDING(X_BACKWARD_ROTATE_KEY),
    ZBX_BINDING(Y_FORWARD_ROTATE_KEY),
    ZBX_BINDING(Y_BACKWARD_ROTATE_KEY),
    ZBX_BINDING(Z_FORWARD_ROTATE_KEY),
    ZBX_BINDING(Z_BACKWARD_ROTATE_KEY),
    ZBX_BINDING(REVERSE_VIEW_KEY),
    ZBX_BINDING(QUIT_KEY),
};
#undef ZBX_BINDING

static_assert(std::size(BINDING_KEYS) == sizeof(KeyBindings));

// Gamepad buttons, in the order they are saved.
struct PadKey {
  const char* name;
  char (PadButtons::*field)[PAD_BUTTON_NAME_SIZE];
};

#define ZBX_PAD(k) \
  { #k, &PadButtons::k }
constexpr PadKey PAD_KEYS[] = {
    ZBX_PAD(PAD_FIRE_BUTTON), ZBX_PAD(PAD_SHIELD_BUTTON),    ZBX_PAD(PAD_NUKE_BUTTON),
    ZBX_PAD(PAD_WARP_BUTTON), ZBX_PAD(PAD_SCORE_BUTTON),     ZBX_PAD(PAD_REVERSE_VIEW_BUTTON),
    ZBX_PAD(PAD_QUIT_BUTTON), ZBX_PAD(PAD_ROLL_LEFT_BUTTON), ZBX_PAD(PAD_ROLL_RIGHT_BUTTON),
};
#undef ZBX_PAD

static_assert(std::size(PAD_KEYS) * PAD_BUTTON_NAME_SIZE == sizeof(PadButtons));

// Copies text into a fixed field when it fits with its NUL and is at least
// min_length long; otherwise the field keeps its value.
template <std::size_t N>
void copy_if_fits(char (&field)[N], const char* text, std::size_t min_length) {
  std::size_t length = std::strlen(text);
  if (length < min_length || length >= N) return;
  std::memcpy(field, text, length + 1);
}

}  // namespace

void client_settings_handler(const char* key, const char* value) {
  ClientSettings& s = g_client_settings;
  if (std::strcmp(key, "SCREEN_WIDTH") == 0) {
    int v = settings_int(value);
    if (v >= 320 && v <= 1600) s.SCREEN_WIDTH = v;
  } else if (std::strcmp(key, "SCREEN_HEIGHT") == 0) {
    int v = settings_int(value);
    if (v >= 240 && v <= 1200) s.SCREEN_HEIGHT = v;
  } else if (std::strcmp(key, "PLAYER_NAME") == 0) {
    copy_if_fits(s.PLAYER_NAME, value, 1);
  } else if (std::strcmp(key, "SERVER_IP") == 0) {
    // Too long for the field, or empty: ignored, like such a player name.
    copy_if_fits(s.SERVER_IP, value, 1);
  } else if (std::strcmp(key, "SERVER_PORT") == 0) {
    s.SERVER_PORT = settings_int(value);
  } else if (std::strcmp(key, "VOLUME") == 0) {
    s.VOLUME = settings_int(value);
  } else if (std::strcmp(key, "SMOOTH_MOTION") == 0) {
    s.SMOOTH_MOTION = settings_int(value);
  } else if (std::strcmp(key, "COMPACT_SNAPSHOTS") == 0) {
    s.COMPACT_SNAPSHOTS = settings_int(value);
  } else if (std::strcmp(key, "BROADCAST_ADDRESS") == 0) {
    copy_if_fits(s.BROADCAST_ADDRESS, value, 1);
  } else if (std::strcmp(key, "MASTER_SERVERS") == 0) {
    copy_if_fits(s.MASTER_SERVERS, value, 1);
  } else if (std::strcmp(key, "GAMEPAD") == 0) {
    s.GAMEPAD = settings_int(value);
  } else if (std::strcmp(key, "GAMEPAD_DEAD_ZONE") == 0) {
    const int v = settings_int(value);
    if (v >= 0 && v <= 95) s.GAMEPAD_DEAD_ZONE = v;
  } else {
    for (const PadKey& p : PAD_KEYS) {
      if (std::strcmp(key, p.name) == 0) {
        copy_if_fits(s.pad.*p.field, value, 1);
        return;
      }
    }
    for (const BindingKey& b : BINDING_KEYS) {
      if (std::strcmp(key, b.name) == 0) {
        s.keys.*b.field = value[0];
        return;
      }
    }
  }
}

void load_client_settings() {
  ClientSettings& s = g_client_settings;
  // Bindings have no defaults: a reload keeps those the file does not set.
  const KeyBindings keys = s.keys;
  s = ClientSettings{};
  s.keys = keys;
  if (std::FILE* file = std::fopen(g_paths.clientSettings.c_str(), "r")) {
    read_settings_file(file, client_settings_handler);
    std::fclose(file);
  }
}

namespace {

// The saved lines: the 21 of the first games, then the later settings.
void write_client_settings(std::FILE* file) {
  const ClientSettings& s = g_client_settings;
  const KeyBindings& k = s.keys;
  std::fprintf(file, "SERVER_IP=%s\n", s.SERVER_IP);
  std::fprintf(file, "SERVER_PORT=%d\n", s.SERVER_PORT);
  std::fprintf(file, "PLAYER_NAME=%s\n", s.PLAYER_NAME);
  std::fprintf(file, "SCREEN_WIDTH=%d\n", s.SCREEN_WIDTH);
  std::fprintf(file, "SCREEN_HEIGHT=%d\n", s.SCREEN_HEIGHT);
  std::fprintf(file, "VOLUME=%d\n", s.VOLUME);
  std::fprintf(file, "SCORE_KEY=%c\n", k.SCORE_KEY);
  std::fprintf(file, "FIRE_KEY=%c\n", k.FIRE_KEY);
  std::fprintf(file, "SHIELD_KEY=%c\n", k.SHIELD_KEY);
  std::fprintf(file, "WARP_KEY=%c\n", k.WARP_KEY);
  std::fprintf(file, "NUKE_KEY=%c\n", k.NUKE_KEY);
  std::fprintf(file, "QUIT_KEY=%c\n", k.QUIT_KEY);
  std::fprintf(file, "Z_FORWARD_KEY=%c\n", k.Z_FORWARD_KEY);
  std::fprintf(file, "Z_BACKWARD_KEY=%c\n", k.Z_BACKWARD_KEY);
  std::fprintf(file, "X_FORWARD_ROTATE_KEY=%c\n", k.X_FORWARD_ROTATE_KEY);
  std::fprintf(file, "X_BACKWARD_ROTATE_KEY=%c\n", k.X_BACKWARD_ROTATE_KEY);
  std::fprintf(file, "Y_FORWARD_ROTATE_KEY=%c\n", k.Y_FORWARD_ROTATE_KEY);
  std::fprintf(file, "Y_BACKWARD_ROTATE_KEY=%c\n", k.Y_BACKWARD_ROTATE_KEY);
  std::fprintf(file, "Z_FORWARD_ROTATE_KEY=%c\n", k.Z_FORWARD_ROTATE_KEY);
  std::fprintf(file, "Z_BACKWARD_ROTATE_KEY=%c\n", k.Z_BACKWARD_ROTATE_KEY);
  std::fprintf(file, "REVERSE_VIEW_KEY=%c\n", k.REVERSE_VIEW_KEY);
  // Later settings follow the 21 lines of the first games, so older readers
  // still find theirs where they were. An empty text would swallow the next
  // line: it is left out, and reads back as empty.
  std::fprintf(file, "SMOOTH_MOTION=%d\n", s.SMOOTH_MOTION);
  std::fprintf(file, "COMPACT_SNAPSHOTS=%d\n", s.COMPACT_SNAPSHOTS);
  if (s.BROADCAST_ADDRESS[0] != '\0') {
    std::fprintf(file, "BROADCAST_ADDRESS=%s\n", s.BROADCAST_ADDRESS);
  }
  if (s.MASTER_SERVERS[0] != '\0') std::fprintf(file, "MASTER_SERVERS=%s\n", s.MASTER_SERVERS);
  std::fprintf(file, "GAMEPAD=%d\n", s.GAMEPAD);
  std::fprintf(file, "GAMEPAD_DEAD_ZONE=%d\n", s.GAMEPAD_DEAD_ZONE);
  for (const PadKey& p : PAD_KEYS) {
    if ((s.pad.*p.field)[0] != '\0') std::fprintf(file, "%s=%s\n", p.name, s.pad.*p.field);
  }
}

}  // namespace

void save_client_settings() { save_user_file(g_paths.clientSettings, write_client_settings); }

}  // namespace zbx
