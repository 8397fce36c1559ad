// The key=value reader under both handlers: values stay in their ranges, and
// client settings that the configuration editor can produce survive a save
// and a reload unchanged.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "startup/settings.h"
#include "testing/fuzz.h"

namespace {

using zbx::ClientSettings;
using zbx::KeyBindings;
using zbx::ServerSettings;

// Text the file cannot hold: a value ends at a blank and "#", "/" or ";" start
// a comment. The editor refuses these keys and restores an emptied field (a
// mend on its way); until then such values are known not to round-trip.
bool editable_text(const char* text) {
  return text[0] != '\0' && std::strpbrk(text, " \t\n=#/;") == nullptr;
}
bool bindable(char key) { return key == '\0' || std::strchr(" \t\n=#/;", key) == nullptr; }

bool same_client(const ClientSettings& a, const ClientSettings& b) {
  return a.SCREEN_WIDTH == b.SCREEN_WIDTH && a.SCREEN_HEIGHT == b.SCREEN_HEIGHT &&
         std::strcmp(a.SERVER_IP, b.SERVER_IP) == 0 && a.SERVER_PORT == b.SERVER_PORT &&
         std::strcmp(a.PLAYER_NAME, b.PLAYER_NAME) == 0 && a.VOLUME == b.VOLUME &&
         std::memcmp(&a.keys, &b.keys, sizeof a.keys) == 0;
}

void read_bytes(const std::uint8_t* data, std::size_t size, zbx::SettingsHandler handler) {
  std::FILE* file = fmemopen(const_cast<std::uint8_t*>(data), size, "r");
  ZBX_FUZZ_CHECK(file != nullptr);
  zbx::read_settings_file(file, handler);
  std::fclose(file);
}

void check_client(const std::uint8_t* data, std::size_t size) {
  ClientSettings& s = zbx::g_client_settings;
  s = ClientSettings{};
  read_bytes(data, size, zbx::client_settings_handler);
  ZBX_FUZZ_CHECK(s.SCREEN_WIDTH >= 320 && s.SCREEN_WIDTH <= 1600);
  ZBX_FUZZ_CHECK(s.SCREEN_HEIGHT >= 240 && s.SCREEN_HEIGHT <= 1200);
  ZBX_FUZZ_CHECK(strnlen(s.SERVER_IP, sizeof s.SERVER_IP) < sizeof s.SERVER_IP);
  const std::size_t name = strnlen(s.PLAYER_NAME, sizeof s.PLAYER_NAME);
  ZBX_FUZZ_CHECK(name >= 1 && name < sizeof s.PLAYER_NAME);

  if (!editable_text(s.SERVER_IP) || !editable_text(s.PLAYER_NAME)) return;
  const char* keys = reinterpret_cast<const char*>(&s.keys);
  for (std::size_t i = 0; i < sizeof s.keys; ++i) {
    if (!bindable(keys[i])) return;
  }
  static const std::string path = zbx::test::fuzz_temp_path("ZBXConfig");
  zbx::g_paths.clientSettings = path;
  const ClientSettings saved = s;
  zbx::save_client_settings();
  s = ClientSettings{};
  s.keys = KeyBindings{};
  zbx::load_client_settings();
  ZBX_FUZZ_CHECK(same_client(s, saved));
}

constexpr float ServerSettings::*kFloats[] = {
    &ServerSettings::WORLD_WIDTH,
    &ServerSettings::DECELERATION_CONSTANT,
    &ServerSettings::ACCELERATION_CONSTANT,
    &ServerSettings::SHIP_SIZE,
    &ServerSettings::SHOT_SPEED,
    &ServerSettings::NUKE_SPEED,
    &ServerSettings::NUKE_EXPLOSTION_GROWTH_SPEED,
    &ServerSettings::MAX_TOTAL_ASTEROID_SIZE,
    &ServerSettings::START_BOT_RATIO,
    &ServerSettings::MAX_BOT_RATIO,
    &ServerSettings::BOT_RATIO_INCREASE,
    &ServerSettings::ROTATION_SPEED,
};

void check_server(const std::uint8_t* data, std::size_t size) {
  ServerSettings& s = zbx::g_server_settings;
  s = ServerSettings{};
  read_bytes(data, size, zbx::server_settings_handler);
  zbx::sanitize_server_settings(s);
  ZBX_FUZZ_CHECK(s.GAME_SLEEP >= 1 && s.GAME_SLEEP <= 60000);
  ZBX_FUZZ_CHECK(s.NET_SLEEP_TIME >= 0 && s.NET_SLEEP_TIME <= 60000);
  ZBX_FUZZ_CHECK(s.NUM_BOTS >= 0 && s.NUM_BOTS <= 32);
  ZBX_FUZZ_CHECK(s.PACKET_SIZE >= 1 && s.PACKET_SIZE <= 1502);
  for (float ServerSettings::*field : kFloats) ZBX_FUZZ_CHECK(std::isfinite(s.*field));
  ZBX_FUZZ_CHECK(s.WORLD_WIDTH > 0.0f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;  // fmemopen wants at least one byte
  check_client(data, size);
  check_server(data, size);
  return 0;
}
