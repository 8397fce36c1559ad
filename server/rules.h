// The rules of a world step: ship update, collisions, weapons, player
// controls, powerups, hyper-warp and bots. All expect the world lock held.
// The collision tables are filled once per process by
// install_collision_responses() and only read afterwards.
#pragma once

#include <array>
#include <climits>
#include <cmath>
#include <cstdint>

#include "world.h"

namespace zbx {

// Life states held in a ship's `lifetime`.
inline constexpr int SHIP_FLYING = -1;
inline constexpr int SHIP_OUT = 0;
inline constexpr int SHIP_RESPAWN_STEPS = 250;

inline constexpr int WARP_STEPS = 200;
inline constexpr double WARP_SPEED = 0.2;  // units per step

// Number of kinds the dispatch tables are indexed by.
inline constexpr int COLLISION_KINDS = 128;

// Float-to-int truncation that never overflows: NaN gives 0, values beyond
// the int range give its nearest end.
inline int saturating_truncate(double value) {
  if (!(value == value)) return 0;
  if (value >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (value <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(value);
}

// a + b and a - b clamped to the int range (scores, counters fed by settings).
inline int saturating_add(int a, int b) {
  const long long sum = static_cast<long long>(a) + b;
  if (sum > INT_MAX) return INT_MAX;
  if (sum < INT_MIN) return INT_MIN;
  return static_cast<int>(sum);
}
inline int saturating_sub(int a, int b) {
  const long long difference = static_cast<long long>(a) - b;
  if (difference > INT_MAX) return INT_MAX;
  if (difference < INT_MIN) return INT_MIN;
  return static_cast<int>(difference);
}

inline bool ship_flies(const WorldObject& ship) { return ship.lifetime == SHIP_FLYING; }
// Flying with `shieldOn` and shield energy left.
inline bool ship_shielded(const Ship& ship) { return ship.shieldOn == 1 && ship.shield != 0; }

// A point brought back into -W..W the way `move` wraps, for records placed
// beside another one (shots, nukes, wrecks) so none sits outside the world.
Vector3f wrap_position(Vector3f p);
// A velocity made safe to keep: non-finite components become 0, the rest are
// held within W per step, so one wrap per step always brings a record back
// into the world. Only absurd settings ever reach either limit.
Vector3f limit_velocity(Vector3f v);

// Ships
// Start-of-game state of a ship; velocity and spin stay.
void reset_ship(Ship& ship);
void update_ship(Ship& ship);
bool apply_damage(Ship& ship, int amount);  // true: destroyed
void respawn(Ship& ship);
void add_shield(Ship& ship, int n);    // capped at MAX_SHIELD
void add_armor(Ship& ship, int n);     // capped at MAX_ARMOR
void drain_shield(Ship& ship, int n);  // floored at 0

// Score changes of the game types; an empty owner slot gets nothing.
void credit_asteroid(int ownerSlot);              // asteroid destroyed by shot or blast
void credit_kill(int ownerSlot);                  // ship destroyed by shot or blast
void debit_asteroid_death(Ship& victim);          // ship destroyed by an asteroid
void score_ram_death(Ship& victim, Ship& other);  // ship destroyed by ramming

// Collisions
void install_collision_responses();
void collision_pass();
// The same three passes with no early rejection of distant pairs; kept to
// check that collision_pass gives exactly the same outcome.
void collision_pass_plain();
// The overlap test of the passes: `size` A + `size` B > torus_distance.
bool overlaps(const WorldObject& a, const WorldObject& b);
// Same answer as overlaps(), cheaper for pairs that are far apart on an axis.
bool overlaps_fast(const WorldObject& a, const WorldObject& b);
// The early rejection runs 4, 8 or 16 floats a step, the widest the processor
// has unless narrowed here (tests check each width). Returns the width in use.
int set_collision_vector_floats(int floats);
int bounce(WorldObject& a, WorldObject& b);

// Response signatures of the dispatch tables.
using ObjectResponse = int (*)(int first, int second);       // bit 0/1: first/second removed
using ShipObjectResponse = int (*)(int object, int player);  // nonzero: stop testing ship
using ShipShipResponse = int (*)(int lower, int higher);     // nonzero: stop testing lower

struct CollisionTables {
  // [lower kind][higher kind]
  std::array<std::array<ObjectResponse, COLLISION_KINDS>, COLLISION_KINDS> objectObject{};
  std::array<ShipObjectResponse, COLLISION_KINDS> shipObject{};  // [object kind]
  ShipShipResponse shipShip = nullptr;
};
extern CollisionTables g_collision_tables;

// Weapons and explosions; source 0: object slot, 1: player slot.
void fire_shot(Ship& ship);
void launch_nuke(Ship& ship);
void spawn_explosion(int slot, int source);

// Removal effects, called by remove_object before the record is freed.
void nuke_removal_effect(const WorldObject& nuke);
void ship_explosion_removal_effect(const WorldObject& explosion);

// Player controls
void apply_control(Ship& ship, int control, bool pressed);
void apply_key_state(Ship& ship, const std::uint8_t keys[16]);
void set_thrust(Ship& ship, int axis, float value);

// Powerups and hyper-warp
void apply_pickup(Ship& ship, const WorldObject& powerup);
void start_warp(Ship& ship);

// Bots
void bot_behaviour(Ship& ship);
// Object slot of the asteroid a bot should avoid, or -1; its gap in *gap.
int nearest_threat(const Ship& bot, float* gap);
// Steps between a bot's shots; BOT_NEVER_FIRES when the ratio is not above 0
// or the interval would not fit an int.
inline constexpr int BOT_NEVER_FIRES = INT_MAX;
int bot_fire_interval(float botRatio, int botFireTime);

}  // namespace zbx
