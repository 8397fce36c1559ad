// Server settings: defaults, the key handler and the safe-range pass.
#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>

#include "protocol/protocol.h"
#include "startup/settings.h"

namespace zbx {

ServerSettings g_server_settings;

namespace {

// One entry per key; exactly one of the two members is set.
struct ServerKey {
  const char* name;
  int ServerSettings::*int_field;
  float ServerSettings::*float_field;
};

#define ZBX_INT_KEY(k) \
  { #k, &ServerSettings::k, nullptr }
#define ZBX_FLOAT_KEY(k) \
  { #k, nullptr, &ServerSettings::k }

constexpr ServerKey SERVER_KEYS[] = {
    ZBX_INT_KEY(MAX_NUMBER_OF_PLAYERS),
    ZBX_INT_KEY(GAME_TYPE),
    ZBX_FLOAT_KEY(WORLD_WIDTH),
    ZBX_INT_KEY(GAME_PORT),
    ZBX_INT_KEY(SHOT_KEEP_ALIVE),
    ZBX_INT_KEY(SHIP_DEAD_TIME),
    ZBX_INT_KEY(START_LIVES),
    ZBX_INT_KEY(MAX_KILLS),
    ZBX_INT_KEY(GAME_SLEEP),
    ZBX_INT_KEY(MAX_SHIELD),
    ZBX_INT_KEY(START_SHIELD),
    ZBX_INT_KEY(MAX_ARMOR),
    ZBX_INT_KEY(START_ARMOR),
    ZBX_INT_KEY(ASTEROID_SCORE),
    ZBX_INT_KEY(SHIP_SCORE),
    ZBX_INT_KEY(NEW_ASTEROID_TIME),
    ZBX_INT_KEY(ASTEROID_TIME_SPEEDUP),
    ZBX_INT_KEY(MIN_ASTEROID_TIME),
    ZBX_INT_KEY(START_ASTEROIDS),
    ZBX_INT_KEY(PACKET_SIZE),
    ZBX_INT_KEY(NET_SLEEP_TIME),
    ZBX_FLOAT_KEY(DECELERATION_CONSTANT),
    ZBX_FLOAT_KEY(ACCELERATION_CONSTANT),
    ZBX_FLOAT_KEY(SHIP_SIZE),
    ZBX_INT_KEY(SHOT_DAMAGE),
    ZBX_INT_KEY(NUKE_DAMAGE),
    ZBX_INT_KEY(NUKE_SHIELD_DRAIN),
    ZBX_INT_KEY(COLLISION_DAMAGE),
    ZBX_FLOAT_KEY(SHOT_SPEED),
    ZBX_FLOAT_KEY(NUKE_SPEED),
    ZBX_INT_KEY(POWERUP_ALIVE_TIME),
    ZBX_INT_KEY(NUKE_ALIVE_TIME),
    ZBX_INT_KEY(NUKE_EXPLOSION_ALIVE_TIME),
    ZBX_FLOAT_KEY(NUKE_EXPLOSTION_GROWTH_SPEED),
    ZBX_INT_KEY(SHOT_ALIVE_TIME),
    ZBX_FLOAT_KEY(MAX_TOTAL_ASTEROID_SIZE),
    ZBX_INT_KEY(NUM_BOTS),
    ZBX_FLOAT_KEY(START_BOT_RATIO),
    ZBX_FLOAT_KEY(MAX_BOT_RATIO),
    ZBX_FLOAT_KEY(BOT_RATIO_INCREASE),
    ZBX_INT_KEY(BOT_FIRE_TIME),
    ZBX_INT_KEY(BOT_NUKE_ODDS),
    ZBX_INT_KEY(BOT_SHIELD_TIME),
    ZBX_INT_KEY(START_WARPS),
    ZBX_INT_KEY(START_NUKES),
    ZBX_INT_KEY(PRIZE_ODDS),
    ZBX_INT_KEY(SHIELD_POWERUP_VALUE),
    ZBX_INT_KEY(ARMOR_POWERUP_VALUE),
    ZBX_FLOAT_KEY(ROTATION_SPEED),
    ZBX_INT_KEY(VERIFY_NEW_CLIENTS),
    ZBX_INT_KEY(COMPACT_SNAPSHOTS),
};

// The text keys: a value that fits its field replaces it; an empty one is
// ignored.
struct ServerTextKey {
  const char* name;
  char (ServerSettings::*field)[SETTINGS_BUFFER_SIZE];
};
constexpr ServerTextKey SERVER_TEXT_KEYS[] = {
    {"SERVER_NAME", &ServerSettings::SERVER_NAME},
    {"MASTER_SERVERS", &ServerSettings::MASTER_SERVERS},
};

#undef ZBX_INT_KEY
#undef ZBX_FLOAT_KEY

// Every field of the record is reachable by exactly one key.
static_assert(std::size(SERVER_KEYS) * 4 + std::size(SERVER_TEXT_KEYS) * SETTINGS_BUFFER_SIZE ==
              sizeof(ServerSettings));

// The longest simulation pass and broadcast pause a server accepts, so that
// the microsecond products and the loop clocks stay far from overflow and a
// stop request is seen within a minute.
constexpr int MAX_SLEEP = 60000;

}  // namespace

int settings_int(const char* text) {
  if (text == nullptr) return 0;
  long v = std::strtol(text, nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

float settings_float(const char* text) {
  if (text == nullptr) return 0.0f;
  double v = std::strtod(text, nullptr);
  // Converting an out-of-range double to float is undefined; say infinity.
  if (std::isfinite(v) && std::fabs(v) > FLT_MAX) {
    return v > 0 ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
  }
  return static_cast<float>(v);
}

void server_settings_handler(const char* key, const char* value) {
  for (const ServerKey& k : SERVER_KEYS) {
    if (std::strcmp(key, k.name) != 0) continue;
    if (k.int_field != nullptr) {
      g_server_settings.*k.int_field = settings_int(value);
    } else {
      g_server_settings.*k.float_field = settings_float(value);
    }
    return;
  }
  for (const ServerTextKey& k : SERVER_TEXT_KEYS) {
    if (std::strcmp(key, k.name) != 0) continue;
    char(&field)[SETTINGS_BUFFER_SIZE] = g_server_settings.*k.field;
    const std::size_t length = std::strlen(value);
    if (length > 0 && length < sizeof field) std::memcpy(field, value, length + 1);
    return;
  }
}

void sanitize_server_settings(ServerSettings& s) {
  s.GAME_SLEEP = std::clamp(s.GAME_SLEEP, 1, MAX_SLEEP);
  s.NET_SLEEP_TIME = std::clamp(s.NET_SLEEP_TIME, 0, MAX_SLEEP);
  s.NUM_BOTS = std::clamp(s.NUM_BOTS, 0, MAX_PLAYERS);
  s.PACKET_SIZE = clamp_packet_size(s.PACKET_SIZE);
  const ServerSettings defaults;
  for (const ServerKey& k : SERVER_KEYS) {
    if (k.float_field != nullptr && !std::isfinite(s.*k.float_field)) {
      s.*k.float_field = defaults.*k.float_field;
    }
  }
  if (!(s.WORLD_WIDTH > 0.0f)) s.WORLD_WIDTH = defaults.WORLD_WIDTH;
}

void load_server_settings(const char* path) {
  // These three have no default: they keep what the last file gave them.
  ServerSettings fresh;
  fresh.MAX_NUMBER_OF_PLAYERS = g_server_settings.MAX_NUMBER_OF_PLAYERS;
  fresh.SHOT_KEEP_ALIVE = g_server_settings.SHOT_KEEP_ALIVE;
  fresh.SHIP_DEAD_TIME = g_server_settings.SHIP_DEAD_TIME;
  g_server_settings = fresh;
  if (path != nullptr) {
    if (std::FILE* file = std::fopen(path, "r")) {
      read_settings_file(file, server_settings_handler);
      std::fclose(file);
    }
  }
  sanitize_server_settings(g_server_settings);
}

}  // namespace zbx
