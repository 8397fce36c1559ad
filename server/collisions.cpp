// Collision detection and responses: the all-pairs overlap scan of a world
// step, the elastic bounce, and one response function per pair of kinds.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#if defined(__x86_64__)
#include <immintrin.h>
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

// Early rejection of pairs that are far apart on some axis: one record against
// 64 entries of flat arrays per call, 4, 8 or 16 entries a step as wide as the
// processor's vectors go. It is conservative: the per-axis gap is formed exactly as
// torus_distance forms it, and the limit carries a margin far larger than any
// rounding in the distance, so every pair the exact test would accept gets
// through, and the exact test decides. An empty entry has NaN coordinates and
// is rejected.
constexpr float NEAR_MARGIN = 1.0f / 65536.0f;

// The share of the limit that depends on one record of the pair.
inline float grown_size(float size) { return size * (1.0f + NEAR_MARGIN); }

// The record every entry is tested against.
struct Probe {
  float x, y, z;
  float limit;  // its share of the limit, with the margin
  float span;
};

Probe probe_of(Vector3f at, float size, float span) {
  return {at.x, at.y, at.z, grown_size(size) + span * NEAR_MARGIN, span};
}

// Flat arrays of entries: positions and grown_size of the sizes.
struct Entries {
  const float* x;
  const float* y;
  const float* z;
  const float* grown;
};

using Floats4 = float __attribute__((vector_size(16)));
using Ints4 = int __attribute__((vector_size(16)));

inline Floats4 splat(float v) { return Floats4{v, v, v, v}; }

inline Floats4 load4(const float* p) {
  Floats4 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline Floats4 gap4(float a, const float* b, Floats4 span) {
  const Ints4 magnitude = {0x7fffffff, 0x7fffffff, 0x7fffffff, 0x7fffffff};
  const Floats4 d =
      reinterpret_cast<Floats4>(reinterpret_cast<Ints4>(splat(a) - load4(b)) & magnitude);
  const Floats4 across = span - d;
  return across < d ? across : d;
}

inline unsigned lane_bits(Ints4 m) {
#if defined(__SSE__)
  return static_cast<unsigned>(_mm_movemask_ps(reinterpret_cast<__m128>(m)));
#else
  return (m[0] & 1u) | (m[1] & 2u) | (m[2] & 4u) | (m[3] & 8u);
#endif
}

// Bit k: may entry e + k (k < 8) overlap the probe?
inline unsigned near8_narrow(const Probe& p, const Entries& b, int e) {
  const Floats4 span = splat(p.span);
  unsigned bits = 0;
  for (int h = 0; h < 8; h += 4) {
    const int k = e + h;
    const Floats4 gx = gap4(p.x, b.x + k, span);
    const Floats4 gy = gap4(p.y, b.y + k, span);
    const Floats4 gz = gap4(p.z, b.z + k, span);
    const Floats4 gxy = gx > gy ? gx : gy;
    const Floats4 most = gxy > gz ? gxy : gz;
    bits |= lane_bits(most <= splat(p.limit) + load4(b.grown + k)) << h;
  }
  return bits;
}

std::uint64_t near_word_narrow(const Probe& p, const Entries& b, int base, int from) {
  std::uint64_t bits = 0;
  for (int k = from; k < 64; k += 8) bits |= std::uint64_t{near8_narrow(p, b, base + k)} << k;
  return bits;
}

#if defined(__x86_64__)
// The same test on processors with 256-bit vectors.
#define ZBX_WIDE __attribute__((target("avx")))

ZBX_WIDE inline __m256 gap8(__m256 a, const float* b, __m256 span, __m256 magnitude) {
  const __m256 d = _mm256_and_ps(_mm256_sub_ps(a, _mm256_loadu_ps(b)), magnitude);
  return _mm256_min_ps(_mm256_sub_ps(span, d), d);
}

ZBX_WIDE std::uint64_t near_word_wide(const Probe& p, const Entries& b, int base, int from) {
  const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7fffffff));
  const __m256 span = _mm256_set1_ps(p.span);
  const __m256 x = _mm256_set1_ps(p.x), y = _mm256_set1_ps(p.y), z = _mm256_set1_ps(p.z);
  const __m256 limit = _mm256_set1_ps(p.limit);
  std::uint64_t bits = 0;
  for (int k = from; k < 64; k += 8) {
    const int e = base + k;
    const __m256 most = _mm256_max_ps(
        _mm256_max_ps(gap8(x, b.x + e, span, magnitude), gap8(y, b.y + e, span, magnitude)),
        gap8(z, b.z + e, span, magnitude));
    const __m256 near =
        _mm256_cmp_ps(most, _mm256_add_ps(limit, _mm256_loadu_ps(b.grown + e)), _CMP_LE_OQ);
    bits |= std::uint64_t{static_cast<unsigned>(_mm256_movemask_ps(near))} << k;
  }
  return bits;
}
#undef ZBX_WIDE

// And with 512-bit vectors, sixteen entries a step from the 16-aligned entry
// at or below `from` (near_word drops the bits below it).
#define ZBX_WIDEST __attribute__((target("avx512f")))
// GCC 12's min and max intrinsics start from an undefined vector and warn.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

ZBX_WIDEST inline __m512 gap16(__m512 a, const float* b, __m512 span) {
  const __m512 d = _mm512_abs_ps(_mm512_sub_ps(a, _mm512_loadu_ps(b)));
  return _mm512_min_ps(_mm512_sub_ps(span, d), d);
}

ZBX_WIDEST std::uint64_t near_word_widest(const Probe& p, const Entries& b, int base, int from) {
  const __m512 span = _mm512_set1_ps(p.span);
  const __m512 x = _mm512_set1_ps(p.x), y = _mm512_set1_ps(p.y), z = _mm512_set1_ps(p.z);
  const __m512 limit = _mm512_set1_ps(p.limit);
  std::uint64_t bits = 0;
  for (int k = from & ~15; k < 64; k += 16) {
    const int e = base + k;
    const __m512 most = _mm512_max_ps(
        _mm512_max_ps(gap16(x, b.x + e, span), gap16(y, b.y + e, span)), gap16(z, b.z + e, span));
    const __mmask16 near =
        _mm512_cmp_ps_mask(most, _mm512_add_ps(limit, _mm512_loadu_ps(b.grown + e)), _CMP_LE_OQ);
    bits |= std::uint64_t{near} << k;
  }
  return bits;
}
#pragma GCC diagnostic pop
#undef ZBX_WIDEST

// Floats per step of the widest test the processor runs.
int widest_vectors() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f")) return 16;
  if (__builtin_cpu_supports("avx")) return 8;
  return 4;
}
#else
int widest_vectors() { return 4; }
#endif

const int g_widest_vectors = widest_vectors();
int g_vector_floats = g_widest_vectors;

// Bit k, for k from `from` to 63: may entry base + k overlap the probe? The
// bits below `from` are clear.
std::uint64_t near_word(const Probe& p, const Entries& b, int base, int from) {
  const int start = from & ~7;
  std::uint64_t bits;
#if defined(__x86_64__)
  if (g_vector_floats == 16) {
    bits = near_word_widest(p, b, base, start);
  } else if (g_vector_floats == 8) {
    bits = near_word_wide(p, b, base, start);
  } else {
    bits = near_word_narrow(p, b, base, start);
  }
#else
  bits = near_word_narrow(p, b, base, start);
#endif
  return bits & (~std::uint64_t{0} << from);
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

void objects_with_objects_plain() {
  const CollisionTables& t = g_collision_tables;
  for (int i = 0; i < MAX_OBJECTS - 1; ++i) {
    if (object_at(i) == nullptr) continue;
    for (int j = i + 1; j < MAX_OBJECTS; ++j) {
      const WorldObject* a = object_at(i);
      const WorldObject* b = object_at(j);
      if (b == nullptr || !overlaps(*a, *b)) continue;
      const std::optional<bool> iRemoved = respond_to_pair(t, i, j, *a, *b);
      if (!iRemoved) continue;
      if (*iRemoved || object_at(i) == nullptr) break;
    }
  }
}

void ships_with_objects_plain() {
  const CollisionTables& t = g_collision_tables;
  for (int p = 0; p < MAX_PLAYERS; ++p) {
    if (!in_collision_play(ship_at(p))) continue;
    for (int o = 0; o < MAX_OBJECTS; ++o) {
      const WorldObject* object = object_at(o);
      if (object == nullptr || !kind_in_range(object->kind)) continue;
      const ShipObjectResponse response = t.shipObject[object->kind];
      if (response == nullptr || !overlaps(*ship_at(p), *object)) continue;
      if (response(o, p) != 0) break;
    }
  }
}

void ships_with_ships_plain() {
  const ShipShipResponse response = g_collision_tables.shipShip;
  if (response == nullptr) return;
  for (int p = 0; p < MAX_PLAYERS - 1; ++p) {
    if (!in_collision_play(ship_at(p))) continue;
    for (int q = p + 1; q < MAX_PLAYERS; ++q) {
      if (!in_collision_play(ship_at(q))) continue;
      if (!overlaps(*ship_at(p), *ship_at(q))) continue;
      if (response(p, q) != 0) break;
    }
  }
}

// The object table's positions, sizes and kinds in flat arrays, so the
// all-pairs scan reads them without following a pointer per pair. Responses
// change only velocities, or add and remove records, so the copy is taken
// again after every response that ran. An empty slot has NaN coordinates,
// which the test rejects.
struct ObjectCache {
  alignas(64) float x[MAX_OBJECTS];
  alignas(64) float y[MAX_OBJECTS];
  alignas(64) float z[MAX_OBJECTS];
  alignas(64) float grown[MAX_OBJECTS];    // grown_size of `size`
  const WorldObject* record[MAX_OBJECTS];  // what each entry was taken from
};
static_assert(MAX_OBJECTS % 64 == 0);
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

// One record tested against the whole cache: bit j of a row says that entry j
// may overlap it.
constexpr int ROW_WORDS = MAX_OBJECTS / 64;
using Row = std::uint64_t[ROW_WORDS];

// Fills the row from entry `first` on (bits below it are clear, words before
// its word untouched): one straight pass over the arrays.
void near_row(const ObjectCache& c, const Probe& p, int first, Row& row) {
  const Entries entries{c.x, c.y, c.z, c.grown};
  const int firstWord = first / 64;
  for (int w = firstWord; w < ROW_WORDS; ++w) {
    row[w] = near_word(p, entries, w * 64, w == firstWord ? first % 64 : 0);
  }
}

// Lowest set bit of the row from word `w` on, cleared; -1 when none is left.
int take_next(Row& row, int& w) {
  for (; w < ROW_WORDS; ++w) {
    if (row[w] != 0) {
      const int j = w * 64 + __builtin_ctzll(row[w]);
      row[w] &= row[w] - 1;
      return j;
    }
  }
  return -1;
}

void objects_with_objects_fast(ObjectCache& c, float span) {
  const CollisionTables& t = g_collision_tables;
  for (int i = 0; i < MAX_OBJECTS - 1; ++i) {
    const WorldObject* a = object_at(i);
    if (a == nullptr) continue;
    // No response moves or resizes a record, so i's probe holds for its row.
    const Probe p = probe_of(a->position, a->size, span);
    Row row;
    near_row(c, p, i + 1, row);
    int w = (i + 1) / 64;
    for (int j = take_next(row, w); j >= 0; j = take_next(row, w)) {
      const WorldObject* b = object_at(j);
      if (b == nullptr || !overlaps(*a, *b)) continue;
      const std::optional<bool> iRemoved = respond_to_pair(t, i, j, *a, *b);
      if (!iRemoved) continue;
      // The response may have added or removed records: test again from j + 1.
      refresh_cache(c);
      if (*iRemoved || object_at(i) == nullptr || j + 1 == MAX_OBJECTS) break;
      near_row(c, p, j + 1, row);
    }
  }
}

void ships_with_objects_fast(ObjectCache& c, float span) {
  const CollisionTables& t = g_collision_tables;
  for (int p = 0; p < MAX_PLAYERS; ++p) {
    const Ship* ship = ship_at(p);
    if (!in_collision_play(ship)) continue;
    Row row;
    near_row(c, probe_of(ship->position, ship->size, span), 0, row);
    int w = 0;
    for (int o = take_next(row, w); o >= 0; o = take_next(row, w)) {
      const WorldObject* object = object_at(o);
      if (object == nullptr || !kind_in_range(object->kind)) continue;
      const ShipObjectResponse response = t.shipObject[object->kind];
      if (response == nullptr || !overlaps(*ship, *object)) continue;
      const int result = response(o, p);
      // The response may have added or removed records, or moved the ship.
      refresh_cache(c);
      if (result != 0 || o + 1 == MAX_OBJECTS) break;
      near_row(c, probe_of(ship->position, ship->size, span), o + 1, row);
    }
  }
}

// The ships' positions and sizes in flat arrays: one word of entries.
struct ShipCache {
  alignas(64) float x[64];
  alignas(64) float y[64];
  alignas(64) float z[64];
  alignas(64) float grown[64];
};
static_assert(MAX_PLAYERS <= 64);

void fill_ship_cache(ShipCache& c) {
  for (int k = 0; k < 64; ++k) {
    const Ship* ship = k < MAX_PLAYERS ? ship_at(k) : nullptr;
    c.x[k] = ship != nullptr ? ship->position.x : NAN;
    c.y[k] = ship != nullptr ? ship->position.y : NAN;
    c.z[k] = ship != nullptr ? ship->position.z : NAN;
    c.grown[k] = ship != nullptr ? grown_size(ship->size) : 0.0f;
  }
}

// Ships near p from slot `first` on, as bits.
std::uint64_t ships_near(const ShipCache& c, int p, int first, float span) {
  const Ship& ship = *ship_at(p);
  return near_word(probe_of(ship.position, ship.size, span), {c.x, c.y, c.z, c.grown}, 0, first);
}

void ships_with_ships_fast(float span) {
  const ShipShipResponse response = g_collision_tables.shipShip;
  if (response == nullptr) return;
  ShipCache c;
  fill_ship_cache(c);
  for (int p = 0; p < MAX_PLAYERS - 1; ++p) {
    if (!in_collision_play(ship_at(p))) continue;
    std::uint64_t near = ships_near(c, p, p + 1, span);
    while (near != 0) {
      const int q = __builtin_ctzll(near);
      near &= near - 1;
      if (!in_collision_play(ship_at(q)) || !overlaps(*ship_at(p), *ship_at(q))) continue;
      const int result = response(p, q);
      fill_ship_cache(c);  // a destroyed ship has moved
      if (result != 0) break;
      near = ships_near(c, p, q + 1, span);
    }
  }
}

float world_span() { return 2.0f * g_server_settings.WORLD_WIDTH; }

}  // namespace

bool overlaps(const WorldObject& a, const WorldObject& b) {
  return a.size + b.size > torus_distance(a.position, b.position);
}

bool overlaps_fast(const WorldObject& a, const WorldObject& b) {
  // b in the last entry of a word, NaN (never near) before it.
  alignas(64) float x[64], y[64], z[64], grown[64];
  for (int k = 48; k < 63; ++k) x[k] = y[k] = z[k] = grown[k] = NAN;
  x[63] = b.position.x;
  y[63] = b.position.y;
  z[63] = b.position.z;
  grown[63] = grown_size(b.size);
  const Probe p = probe_of(a.position, a.size, world_span());
  return (near_word(p, {x, y, z, grown}, 0, 63) >> 63) != 0 && overlaps(a, b);
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

int set_collision_vector_floats(int floats) {
  g_vector_floats = floats >= 16 ? 16 : floats >= 8 ? 8 : 4;
  if (g_vector_floats > g_widest_vectors) g_vector_floats = g_widest_vectors;
  return g_vector_floats;
}

void collision_pass() {
  const float span = world_span();
  ObjectCache& c = g_object_cache;
  fill_cache(c);
  objects_with_objects_fast(c, span);
  ships_with_objects_fast(c, span);
  ships_with_ships_fast(span);
}

void collision_pass_plain() {
  objects_with_objects_plain();
  ships_with_objects_plain();
  ships_with_ships_plain();
}

}  // namespace zbx
