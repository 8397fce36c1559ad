// Collision detection and responses: the all-pairs overlap scan of a world
// step, the elastic bounce, and one response function per pair of kinds.
#include <cmath>
#include <cstring>
#include <optional>
#if defined(__SSE__)
#include <xmmintrin.h>
#endif

#include "asteroids.h"
#include "motion.h"
#include "rules.h"
#include "startup/settings.h"

namespace zbx {

namespace {

WorldObject* object_at(int slot) { return g_world.objects[slot].get(); }
Ship* ship_at(int slot) { return g_world.players[slot].get(); }
Ship* owner_ship(int ownerSlot) {
  if (ownerSlot < 0 || ownerSlot >= MAX_PLAYERS) return nullptr;
  return ship_at(ownerSlot);
}

Vector3f hundredth_later(const WorldObject& r) {
  auto one = [](float p, float v) { return static_cast<float>(p + v / 100.0); };
  return {one(r.position.x, r.velocity.x), one(r.position.y, r.velocity.y),
          one(r.position.z, r.velocity.z)};
}

// Early rejection of pairs that are far apart on some axis, four pairs at a
// time. It is conservative: the limit carries a margin far larger than any
// rounding in torus_distance, so every pair the exact test would accept gets
// through, and the exact test decides. NaN positions or sizes are rejected,
// which is also what the exact test says for them.
using Floats4 = float __attribute__((vector_size(16)));
using Ints4 = int __attribute__((vector_size(16)));

constexpr float NEAR_MARGIN = 1.0f / 65536.0f;

inline Floats4 splat(float v) { return Floats4{v, v, v, v}; }

inline Floats4 load4(const float* p) {
  Floats4 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline Floats4 abs4(Floats4 v) {
  const Ints4 magnitude = {0x7fffffff, 0x7fffffff, 0x7fffffff, 0x7fffffff};
  return reinterpret_cast<Floats4>(reinterpret_cast<Ints4>(v) & magnitude);
}

// The share of the limit that depends on one record of the pair.
inline float grown_size(float size) { return size * (1.0f + NEAR_MARGIN); }
inline float row_limit(float size, float span) { return grown_size(size) + span * NEAR_MARGIN; }

// Lane k: may a and b[k] overlap? limit = row share + b's share; on each axis
// the wrapped gap min(d, span - d) must be within it.
inline Ints4 near4(Floats4 ax, Floats4 ay, Floats4 az, Floats4 rowLimit, Floats4 bx, Floats4 by,
                   Floats4 bz, Floats4 bGrown, Floats4 span) {
  const Floats4 limit = rowLimit + bGrown;
  const Floats4 far = span - limit;
  auto axis = [&](Floats4 a, Floats4 b) {
    const Floats4 d = abs4(a - b);
    return (d <= limit) | (d >= far);
  };
  return axis(ax, bx) & axis(ay, by) & axis(az, bz);
}

inline unsigned lane_bits(Ints4 m) {
#if defined(__SSE__)
  return static_cast<unsigned>(_mm_movemask_ps(reinterpret_cast<__m128>(m)));
#else
  return (m[0] & 1u) | (m[1] & 2u) | (m[2] & 4u) | (m[3] & 8u);
#endif
}

bool overlaps_fast_inline(const WorldObject& a, const WorldObject& b, float span) {
  const Ints4 m = near4(splat(a.position.x), splat(a.position.y), splat(a.position.z),
                        splat(row_limit(a.size, span)), splat(b.position.x), splat(b.position.y),
                        splat(b.position.z), splat(grown_size(b.size)), splat(span));
  return (lane_bits(m) & 1u) != 0 && a.size + b.size > torus_distance(a.position, b.position);
}

// --- object with object --------------------------------------------------

int shot_hits_asteroid(int shot, int asteroid) {
  WorldObject& s = *object_at(shot);
  spawn_explosion(shot, 0);
  queue_sound_all(s, 2);
  if (object_at(asteroid)->size > MIN_ASTEROID_SIZE) split_asteroid(asteroid);
  credit_asteroid(s.owner);
  remove_object(shot);
  remove_object(asteroid);
  return 3;
}

int shot_destroys_powerup(int shot, int powerup) {
  const int ownerSlot = object_at(shot)->owner;
  if (Ship* owner = owner_ship(ownerSlot)) queue_sound(ownerSlot, *owner, 17);
  spawn_explosion(powerup, 0);
  queue_sound_all(*object_at(powerup), 2);
  remove_object(shot);
  remove_object(powerup);
  return 3;
}

int asteroids_bump(int a, int b) {
  if (bounce(*object_at(a), *object_at(b)) != 0) queue_sound_all(*object_at(a), 13);
  return 0;
}

int asteroid_pushes_powerup(int asteroid, int powerup) {
  if (bounce(*object_at(asteroid), *object_at(powerup)) != 0) {
    queue_sound_all(*object_at(powerup), 8);
  }
  return 0;
}

int powerups_bump(int a, int b) {
  if (bounce(*object_at(a), *object_at(b)) != 0) queue_sound_all(*object_at(a), 8);
  return 0;
}

int asteroid_sets_off_nuke(int, int nuke) {
  remove_object(nuke);
  return 2;
}

int asteroid_caught_in_blast(int asteroid, int blast) {
  const WorldObject& rock = *object_at(asteroid);
  spawn_explosion(asteroid, 0);
  queue_sound_all(rock, 2);
  credit_asteroid(object_at(blast)->owner);
  remove_object(asteroid);
  return 1;
}

// --- ship with object ----------------------------------------------------

int ship_hit_by_shot(int shot, int p) {
  WorldObject& s = *object_at(shot);
  Ship& ship = *ship_at(p);
  if (s.owner == p) return 0;
  const int b = bounce(ship, s);
  if (ship.shieldOn == 1 && b != 0 && ship.shield != 0) {
    queue_sound_all(ship, 8);
    return 0;
  }
  const Ship* owner = owner_ship(s.owner);
  int damage = g_server_settings.SHOT_DAMAGE;
  if (owner != nullptr && owner->isBot) {
    damage = saturating_truncate(static_cast<float>(damage) * g_world.botRatio);
  }
  if (apply_damage(ship, damage)) {
    credit_kill(s.owner);
    return 1;  // the shot flies on
  }
  spawn_explosion(shot, 0);
  remove_object(shot);
  return 0;
}

int ship_rams_asteroid(int asteroid, int p) {
  Ship& ship = *ship_at(p);
  WorldObject& rock = *object_at(asteroid);
  if (ship_shielded(ship)) {
    if (bounce(ship, rock) != 0) queue_sound_all(ship, 8);
    return 0;
  }
  if (apply_damage(ship, bounce(ship, rock))) debit_asteroid_death(ship);
  return 1;
}

int ship_picks_up(int powerup, int p) {
  Ship& ship = *ship_at(p);
  queue_sound(p, ship, 12);
  apply_pickup(ship, *object_at(powerup));
  remove_object(powerup);
  return 0;
}

int ship_sets_off_nuke(int nuke, int p) {
  if (object_at(nuke)->owner != p) remove_object(nuke);
  return 0;
}

int ship_caught_in_blast(int blast, int p) {
  WorldObject& b = *object_at(blast);
  Ship& ship = *ship_at(p);
  if (b.hitPlayers[p] != 0) return 0;
  int result = 0;
  if (ship_shielded(ship)) {
    drain_shield(ship, g_server_settings.NUKE_SHIELD_DRAIN);
  } else {
    if (apply_damage(ship, g_server_settings.NUKE_DAMAGE)) credit_kill(b.owner);
    result = 1;
  }
  b.hitPlayers[p] = 1;  // one blast harms each ship once only
  return result;
}

// --- ship with ship ------------------------------------------------------

// One side of a ram: the shielded ship hears the bump, the other takes damage.
bool ram_side(int self, Ship& ship, Ship& other, int damage) {
  if (ship_shielded(ship)) {
    if (damage != 0) queue_sound(self, ship, 8);
    return false;
  }
  if (!apply_damage(ship, damage)) return false;
  score_ram_death(ship, other);
  return true;
}

int ships_ram(int p, int q) {
  Ship& a = *ship_at(p);
  Ship& b = *ship_at(q);
  const int damage = bounce(a, b);
  ram_side(p, a, b, damage);
  return ram_side(q, b, a, damage) ? 1 : 0;
}

bool in_collision_play(const Ship* ship) {
  return ship != nullptr && ship_flies(*ship) && ship->warpTimer == 0;
}

bool kind_in_range(int kind) { return kind >= 0 && kind < COLLISION_KINDS; }

// Calls the response for the overlapping objects i and j (a and b), lower kind
// first. Returns whether i was removed, or nothing when the kinds have none.
std::optional<bool> respond_to_pair(const CollisionTables& t, int i, int j, const WorldObject& a,
                                    const WorldObject& b) {
  if (!kind_in_range(a.kind) || !kind_in_range(b.kind)) return std::nullopt;
  const bool iFirst = a.kind <= b.kind;
  const ObjectResponse response =
      iFirst ? t.objectObject[a.kind][b.kind] : t.objectObject[b.kind][a.kind];
  if (response == nullptr) return std::nullopt;
  const int result = iFirst ? response(i, j) : response(j, i);
  return (result & (iFirst ? 1 : 2)) != 0;
}

template <bool kFast>
bool pair_overlaps(const WorldObject& a, const WorldObject& b, float span) {
  if constexpr (kFast) {
    return overlaps_fast_inline(a, b, span);
  } else {
    return overlaps(a, b);
  }
}

template <bool kFast>
void objects_with_objects(float span) {
  const CollisionTables& t = g_collision_tables;
  for (int i = 0; i < MAX_OBJECTS - 1; ++i) {
    if (object_at(i) == nullptr) continue;
    for (int j = i + 1; j < MAX_OBJECTS; ++j) {
      const WorldObject* a = object_at(i);
      const WorldObject* b = object_at(j);
      if (b == nullptr || !pair_overlaps<kFast>(*a, *b, span)) continue;
      const std::optional<bool> iRemoved = respond_to_pair(t, i, j, *a, *b);
      if (!iRemoved) continue;
      if (*iRemoved || object_at(i) == nullptr) break;
    }
  }
}

template <bool kFast>
void ships_with_objects(float span) {
  const CollisionTables& t = g_collision_tables;
  for (int p = 0; p < MAX_PLAYERS; ++p) {
    if (!in_collision_play(ship_at(p))) continue;
    for (int o = 0; o < MAX_OBJECTS; ++o) {
      const WorldObject* object = object_at(o);
      if (object == nullptr || !kind_in_range(object->kind)) continue;
      const ShipObjectResponse response = t.shipObject[object->kind];
      if (response == nullptr || !pair_overlaps<kFast>(*ship_at(p), *object, span)) continue;
      if (response(o, p) != 0) break;
    }
  }
}

template <bool kFast>
void ships_with_ships(float span) {
  const ShipShipResponse response = g_collision_tables.shipShip;
  if (response == nullptr) return;
  for (int p = 0; p < MAX_PLAYERS - 1; ++p) {
    if (!in_collision_play(ship_at(p))) continue;
    for (int q = p + 1; q < MAX_PLAYERS; ++q) {
      if (!in_collision_play(ship_at(q))) continue;
      if (!pair_overlaps<kFast>(*ship_at(p), *ship_at(q), span)) continue;
      if (response(p, q) != 0) break;
    }
  }
}

// The object table's positions, sizes and kinds in flat arrays, so the
// all-pairs scan reads them without following a pointer per pair. Responses
// change only velocities, or add and remove records, so the copy is taken
// again after every response that ran. An empty slot has NaN coordinates,
// which near4 rejects.
struct ObjectCache {
  alignas(16) float x[MAX_OBJECTS];
  alignas(16) float y[MAX_OBJECTS];
  alignas(16) float z[MAX_OBJECTS];
  alignas(16) float grown[MAX_OBJECTS];    // grown_size of `size`
  const WorldObject* record[MAX_OBJECTS];  // what each entry was taken from
};
static_assert(MAX_OBJECTS % 4 == 0);
ObjectCache g_object_cache;  // scratch of collision_pass, under the world lock

void store_entry(ObjectCache& c, int k, const WorldObject* o) {
  c.record[k] = o;
  if (o == nullptr) {
    c.x[k] = c.y[k] = c.z[k] = NAN;
    c.grown[k] = 0;
  } else {
    c.x[k] = o->position.x;
    c.y[k] = o->position.y;
    c.z[k] = o->position.z;
    c.grown[k] = grown_size(o->size);
  }
}

void fill_cache(ObjectCache& c) {
  for (int k = 0; k < MAX_OBJECTS; ++k) store_entry(c, k, object_at(k));
}

// After a response: only added and removed records differ. No response frees
// a slot and then fills that same slot again (effects and explosions are made
// before the removals), so a changed pointer marks every changed entry.
void refresh_cache(ObjectCache& c) {
  for (int k = 0; k < MAX_OBJECTS; ++k) {
    const WorldObject* o = object_at(k);
    if (o != c.record[k]) store_entry(c, k, o);
  }
}

inline unsigned near_mask4(const ObjectCache& c, int block, Floats4 ax, Floats4 ay, Floats4 az,
                           Floats4 rowLimit, Floats4 span) {
  return lane_bits(near4(ax, ay, az, rowLimit, load4(c.x + block), load4(c.y + block),
                         load4(c.z + block), load4(c.grown + block), span));
}

void objects_with_objects_fast(float span) {
  const CollisionTables& t = g_collision_tables;
  ObjectCache& c = g_object_cache;
  const Floats4 span4 = splat(span);
  fill_cache(c);
  for (int i = 0; i < MAX_OBJECTS - 1; ++i) {
    if (object_at(i) == nullptr) continue;
    const Floats4 ax = splat(c.x[i]), ay = splat(c.y[i]), az = splat(c.z[i]);
    const Floats4 rowLimit = splat(row_limit(object_at(i)->size, span));
    bool iGone = false;
    int next = i + 1;  // lowest slot still to test against i
    while (next < MAX_OBJECTS && !iGone) {
      const int block = next & ~3;
      unsigned bits = near_mask4(c, block, ax, ay, az, rowLimit, span4) & (~0u << (next - block));
      next = block + 4;
      for (; bits != 0; bits &= bits - 1) {
        const int j = block + __builtin_ctz(bits);
        const WorldObject* a = object_at(i);
        const WorldObject* b = object_at(j);
        if (b == nullptr || !overlaps(*a, *b)) continue;
        const std::optional<bool> iRemoved = respond_to_pair(t, i, j, *a, *b);
        if (!iRemoved) continue;
        // The response may have added or removed records: test again from j + 1.
        refresh_cache(c);
        iGone = *iRemoved || object_at(i) == nullptr;
        next = j + 1;
        break;
      }
    }
  }
}

void ships_with_objects_fast(float span) {
  const CollisionTables& t = g_collision_tables;
  ObjectCache& c = g_object_cache;
  const Floats4 span4 = splat(span);
  fill_cache(c);
  for (int p = 0; p < MAX_PLAYERS; ++p) {
    const Ship* ship = ship_at(p);
    if (!in_collision_play(ship)) continue;
    bool done = false;
    int next = 0;
    while (next < MAX_OBJECTS && !done) {
      const Vector3f at = ship->position;
      const int block = next & ~3;
      unsigned bits = near_mask4(c, block, splat(at.x), splat(at.y), splat(at.z),
                                 splat(row_limit(ship->size, span)), span4) &
                      (~0u << (next - block));
      next = block + 4;
      for (; bits != 0; bits &= bits - 1) {
        const int o = block + __builtin_ctz(bits);
        const WorldObject* object = object_at(o);
        if (object == nullptr || !kind_in_range(object->kind)) continue;
        const ShipObjectResponse response = t.shipObject[object->kind];
        if (response == nullptr || !overlaps(*ship, *object)) continue;
        const int result = response(o, p);
        refresh_cache(c);
        done = result != 0;
        next = o + 1;
        break;
      }
    }
  }
}

template <bool kFast>
void run_passes() {
  const float span = 2.0f * g_server_settings.WORLD_WIDTH;
  if constexpr (kFast) {
    objects_with_objects_fast(span);
    ships_with_objects_fast(span);
  } else {
    objects_with_objects<false>(span);
    ships_with_objects<false>(span);
  }
  ships_with_ships<kFast>(span);
}

}  // namespace

bool overlaps(const WorldObject& a, const WorldObject& b) {
  return a.size + b.size > torus_distance(a.position, b.position);
}

bool overlaps_fast(const WorldObject& a, const WorldObject& b) {
  return overlaps_fast_inline(a, b, 2.0f * g_server_settings.WORLD_WIDTH);
}

int bounce(WorldObject& a, WorldObject& b) {
  // Only records that are closing in on each other bounce.
  if (!(torus_distance(hundredth_later(a), hundredth_later(b)) <
        torus_distance(a.position, b.position))) {
    return 0;
  }
  const float dx = a.position.x - b.position.x;
  const float dy = a.position.y - b.position.y;
  const float dz = a.position.z - b.position.z;
  const float ux = a.velocity.x - b.velocity.x;
  const float uy = a.velocity.y - b.velocity.y;
  const float uz = a.velocity.z - b.velocity.z;
  const float D = length({dx, dy, dz});
  const float U = length({ux, uy, uz});
  const float S = length({dx + ux, dy + uy, dz + uz});
  // Coincident centres or equal velocities give no direction: nothing happens.
  if (!(D > 0) || !(U > 0) || !std::isfinite(D) || !std::isfinite(U)) return 0;
  const float c = (D * D + U * U - S * S) / (2 * D * U);
  // The part of -u along d.
  const float ix = (dx / D) * c * U;
  const float iy = (dy / D) * c * U;
  const float iz = (dz / D) * c * U;

  // Two massless records (powerups) share the impulse as equal masses would;
  // against a massless partner a massive record keeps its velocity.
  const double ma = a.mass;
  const double mb = b.mass;
  const bool bothMassless = ma == 0 && mb == 0;
  auto pushed = [&](float v, float impulse, double self, double other, double sign) {
    if (bothMassless) return static_cast<float>(v + sign * 2.0 * impulse / 2.0);
    if (other == 0) return v;
    return static_cast<float>(v + sign * (2.0 * impulse / (self / other + 1.0)));
  };
  const Vector3f va{pushed(a.velocity.x, ix, ma, mb, 1), pushed(a.velocity.y, iy, ma, mb, 1),
                    pushed(a.velocity.z, iz, ma, mb, 1)};
  const Vector3f vb{pushed(b.velocity.x, ix, mb, ma, -1), pushed(b.velocity.y, iy, mb, ma, -1),
                    pushed(b.velocity.z, iz, mb, ma, -1)};
  const float damage =
      static_cast<float>(g_server_settings.COLLISION_DAMAGE) * length({ix, iy, iz}) * 100;
  if (!is_finite(va) || !is_finite(vb) || !std::isfinite(damage)) return 0;
  a.velocity = limit_velocity(va);
  b.velocity = limit_velocity(vb);
  return saturating_truncate(damage);
}

namespace {

constexpr CollisionTables default_collision_tables() {
  CollisionTables t{};
  t.objectObject[KIND_SHOT][KIND_ASTEROID] = shot_hits_asteroid;
  t.objectObject[KIND_ASTEROID][KIND_ASTEROID] = asteroids_bump;
  t.objectObject[KIND_ASTEROID][KIND_NUKE] = asteroid_sets_off_nuke;
  t.objectObject[KIND_ASTEROID][KIND_NUKE_EXPLOSION] = asteroid_caught_in_blast;
  for (int k = KIND_SHIELD_POWERUP; k <= KIND_WARP_POWERUP; ++k) {
    t.objectObject[KIND_SHOT][k] = shot_destroys_powerup;
    t.objectObject[KIND_ASTEROID][k] = asteroid_pushes_powerup;
    for (int other = k; other <= KIND_WARP_POWERUP; ++other)
      t.objectObject[k][other] = powerups_bump;
    t.shipObject[k] = ship_picks_up;
  }
  t.shipObject[KIND_SHOT] = ship_hit_by_shot;
  t.shipObject[KIND_ASTEROID] = ship_rams_asteroid;
  t.shipObject[KIND_NUKE] = ship_sets_off_nuke;
  t.shipObject[KIND_NUKE_EXPLOSION] = ship_caught_in_blast;
  t.shipShip = ships_ram;
  return t;
}

}  // namespace

// Filled from the start, so a world stepped before the server start (tests,
// benchmarks) already has every response.
CollisionTables g_collision_tables = default_collision_tables();

void install_collision_responses() { g_collision_tables = default_collision_tables(); }

void collision_pass() { run_passes<true>(); }

void collision_pass_plain() { run_passes<false>(); }

}  // namespace zbx
