// The server's authoritative world: object and player tables owning heap
// records, counters and per-player sound queues. Everything
// here is guarded by world_lock(); every operation below expects it held.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>

#include "protocol/zbx_types.h"

namespace zbx {

struct WorldObject {
  Vector3f position;
  Vector3f velocity;
  Vector3f spin;  // objects: degrees per step; ships: rotation inputs -1/0/+1
  Matrix3f orientation = IDENTITY_MATRIX;
  int kind = 0;
  float size = 0;
  float mass = 0;
  int lifetime = -1;  // steps left, -1 unlimited; ships: life state
  int owner = 0;
  std::array<int, MAX_PLAYERS> hitPlayers{};  // nuke explosions only
  virtual ~WorldObject() = default;
};

struct Ship : WorldObject {
  Matrix3f inverseOrientation = IDENTITY_MATRIX;
  std::uint8_t fireRequest = 0;
  std::uint8_t shieldOn = 0;
  Vector3f thrustVector;
  Vector3f thrustInput;
  float gunSide = 1.0f;
  int score = 0;
  int lives = 0;
  int shield = 0;
  int armor = 0;
  int hitFlash = 0;
  char name[20] = {};
  int isBot = 0;
  int botFireCounter = 0;
  int botShieldTimer = 0;
  int warpTimer = 0;
  int warps = 0;
  int nukes = 0;
};

// One pending sound event; laid out exactly as a SoundEventMessage body.
struct SoundEvent {
  std::uint8_t id = 255;  // 255 = free entry
  std::uint8_t reserved[3] = {};
  float x = 0, y = 0, z = 0;
};
static_assert(sizeof(SoundEvent) == 16);

inline constexpr int SOUND_QUEUE_SIZE = 32;
inline constexpr int SOUND_QUEUE_USED = 22;  // producers fill only these

// The world: cleared at the start of each game by the simulation thread.
struct World {
  std::array<std::unique_ptr<WorldObject>, MAX_OBJECTS> objects;
  std::array<std::unique_ptr<Ship>, MAX_PLAYERS> players;
  int asteroidCount = 0;
  float asteroidTotalSize = 0;
  int matchRunning = 0;
  float botRatio = 0.25f;
  int humanCount = 0;
  std::uint32_t steps = 0;  // world steps taken: the clock of the compact stream's predictions
  std::array<std::array<SoundEvent, SOUND_QUEUE_SIZE>, MAX_PLAYERS> soundQueue;
};

extern World g_world;
std::mutex& world_lock();

// Empties tables, counters and queues (tests; server start).
void reset_world();

// Stores the arguments, identity orientation and the kind's start lifetime;
// asteroids add to the asteroid counters.
void init_object(WorldObject& record, int kind, int owner, Vector3f position, Vector3f velocity,
                 Vector3f spin, float size, float mass);
// Lowest empty object slot, or -1.
int find_free_object_slot();
// Runs the removal effects of the kind, frees the record, empties the slot.
void remove_object(int slot);
// remove_object on every occupied slot in ascending order.
void clear_objects();
// Makes `ship` the player of `slot` (the caller stores it in players[slot]).
void add_player(Ship& ship, int slot, const char* name, int isBot, Vector3f start);
// Frees the player slot; a human's client entry goes with it (a slot is a
// client's exactly while it holds a human ship, see is_client).
void delete_player(int slot);
// True while `slot` holds a human player, whose client entry is then in use.
bool is_client(int slot);
// Queues {id, record's position} for a human in that player slot; dropped when
// the slot is empty, a bot, or its first SOUND_QUEUE_USED entries are taken.
void queue_sound(int slot, const WorldObject& record, int id);
void queue_sound_all(const WorldObject& record, int id);

// What remove_object does for a kind before the record is freed; a table so
// tests can watch the calls. Kinds without an effect hold nullptr.
using RemovalEffect = void (*)(const WorldObject& record);
inline constexpr int NUM_KINDS = 12;  // kinds 1..11, index 0 unused
extern std::array<RemovalEffect, NUM_KINDS> g_removal_effects;
// Puts the default effects (rules' nuke and ship-explosion effects) back.
void install_removal_effects();

}  // namespace zbx
