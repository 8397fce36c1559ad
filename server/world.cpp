// World tables, counters, sound queues and the operations that create, reset
// and remove their records.
#include "world.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "motion.h"
#include "rules.h"
#include "startup/settings.h"

namespace zbx {

namespace {

constexpr std::array<RemovalEffect, NUM_KINDS> default_removal_effects() {
  std::array<RemovalEffect, NUM_KINDS> table{};
  table[KIND_NUKE] = nuke_removal_effect;
  table[KIND_SHIP_EXPLOSION] = ship_explosion_removal_effect;
  return table;
}

bool valid_player_slot(int slot) { return slot >= 0 && slot < MAX_PLAYERS; }

int start_lifetime(int kind) {
  const ServerSettings& s = g_server_settings;
  switch (kind) {
    case KIND_SHOT:
      return s.SHOT_ALIVE_TIME;
    case KIND_SMALL_EXPLOSION:
      return 20;
    case KIND_SHIP_EXPLOSION:
      return 65;
    case KIND_SHIELD_POWERUP:
    case KIND_ARMOR_POWERUP:
    case KIND_NUKE_POWERUP:
    case KIND_WARP_POWERUP:
      return s.POWERUP_ALIVE_TIME;
    case KIND_NUKE:
      return s.NUKE_ALIVE_TIME;
    case KIND_NUKE_EXPLOSION:
      return s.NUKE_EXPLOSION_ALIVE_TIME;
    default:  // ships and asteroids live until removed
      return -1;
  }
}

}  // namespace

World g_world;
std::array<RemovalEffect, NUM_KINDS> g_removal_effects = default_removal_effects();

std::mutex& world_lock() {
  static std::mutex lock;
  return lock;
}

void install_removal_effects() { g_removal_effects = default_removal_effects(); }

void reset_world() {
  g_world = World{};
  g_world.botRatio = g_server_settings.START_BOT_RATIO;
}

void init_object(WorldObject& record, int kind, int owner, Vector3f position, Vector3f velocity,
                 Vector3f spin, float size, float mass) {
  record.position = position;
  record.velocity = velocity;
  record.spin = spin;
  record.orientation = IDENTITY_MATRIX;
  record.kind = kind;
  record.size = size;
  record.mass = mass;
  record.owner = owner;
  record.lifetime = start_lifetime(kind);
  if (kind == KIND_ASTEROID) {
    ++g_world.asteroidCount;
    g_world.asteroidTotalSize += size;
  } else if (kind == KIND_NUKE_EXPLOSION) {
    record.hitPlayers = {};
  }
}

int find_free_object_slot() {
  for (int slot = 0; slot < MAX_OBJECTS; ++slot) {
    if (!g_world.objects[slot]) return slot;
  }
  return -1;
}

void remove_object(int slot) {
  if (slot < 0 || slot >= MAX_OBJECTS || !g_world.objects[slot]) return;
  const WorldObject& record = *g_world.objects[slot];
  if (record.kind == KIND_ASTEROID) {
    --g_world.asteroidCount;
    g_world.asteroidTotalSize -= record.size;
    // With no asteroid left the total is exactly zero; don't let float error
    // accumulate over a long game and block new asteroids.
    if (g_world.asteroidCount <= 0) {
      g_world.asteroidCount = 0;
      g_world.asteroidTotalSize = 0.0f;
    }
  }
  if (record.kind > 0 && record.kind < NUM_KINDS && g_removal_effects[record.kind]) {
    // The record is still in its slot, so whatever the effect creates lands
    // elsewhere.
    g_removal_effects[record.kind](record);
  }
  g_world.objects[slot].reset();
}

void clear_objects() {
  for (int slot = 0; slot < MAX_OBJECTS; ++slot) {
    if (g_world.objects[slot]) remove_object(slot);
  }
}

void add_player(Ship& ship, int slot, const char* name, int isBot, Vector3f start) {
  if (!valid_player_slot(slot)) return;
  const ServerSettings& s = g_server_settings;
  init_object(ship, KIND_SHIP, slot, start, Vector3f{}, Vector3f{}, s.SHIP_SIZE, 1.0f);
  ship.isBot = isBot;
  reset_ship(ship);
  std::memset(ship.name, 0, sizeof ship.name);
  if (name) std::strncpy(ship.name, name, sizeof ship.name - 1);
  if (!isBot) ++g_world.humanCount;
  std::printf("Adding Player %d\n", slot);
  std::fflush(stdout);
}

void delete_player(int slot) {
  if (!valid_player_slot(slot) || !g_world.players[slot]) return;
  if (!g_world.players[slot]->isBot && g_world.humanCount > 0) --g_world.humanCount;
  std::printf("Deleting Player %d\n", slot);
  std::fflush(stdout);
  g_world.players[slot].reset();
}

bool is_client(int slot) {
  return valid_player_slot(slot) && g_world.players[slot] && !g_world.players[slot]->isBot;
}

void queue_sound(int slot, const WorldObject& record, int id) {
  if (!valid_player_slot(slot)) return;
  const Ship* ship = g_world.players[slot].get();
  if (!ship || ship->isBot) return;
  for (int i = 0; i < SOUND_QUEUE_USED; ++i) {
    SoundEvent& event = g_world.soundQueue[slot][i];
    if (event.id != 255) continue;
    event.id = static_cast<std::uint8_t>(id);
    event.x = record.position.x;
    event.y = record.position.y;
    event.z = record.position.z;
    return;
  }
}

void queue_sound_all(const WorldObject& record, int id) {
  for (int slot = 0; slot < MAX_PLAYERS; ++slot) queue_sound(slot, record, id);
}

}  // namespace zbx
