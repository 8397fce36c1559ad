// Collision pass order, the bounce, every response and the scoring they do,
// and the fast pair rejection matching the plain scan exactly.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "rules_test_support.h"

namespace zbx::test {
namespace {

using CollisionTest = RulesTest;

TEST_F(CollisionTest, TablesHoldExactlyTheDocumentedPairs) {
  const CollisionTables& t = g_collision_tables;
  int objectPairs = 0;
  for (int a = 0; a < COLLISION_KINDS; ++a) {
    for (int b = 0; b < COLLISION_KINDS; ++b) objectPairs += t.objectObject[a][b] != nullptr;
  }
  // shot-asteroid, shot x4 powerups, asteroid-asteroid, asteroid x4 powerups,
  // 10 unordered powerup pairs, asteroid-nuke, asteroid-blast.
  EXPECT_EQ(objectPairs, 1 + 4 + 1 + 4 + 10 + 1 + 1);
  EXPECT_EQ(t.objectObject[KIND_ASTEROID][KIND_SHOT], nullptr);  // lower kind first only
  EXPECT_EQ(t.objectObject[KIND_SHOT][KIND_SHOT], nullptr);
  EXPECT_EQ(t.objectObject[KIND_SHOT][KIND_NUKE], nullptr);
  EXPECT_EQ(t.objectObject[KIND_SHOT][KIND_NUKE_EXPLOSION], nullptr);
  EXPECT_EQ(t.objectObject[KIND_NUKE][KIND_NUKE], nullptr);
  EXPECT_NE(t.objectObject[KIND_SHIELD_POWERUP][KIND_WARP_POWERUP], nullptr);
  for (int k : {KIND_SMALL_EXPLOSION, KIND_SHIP_EXPLOSION}) {
    EXPECT_EQ(t.shipObject[k], nullptr);
    for (int other = 0; other < COLLISION_KINDS; ++other) {
      EXPECT_EQ(t.objectObject[k][other], nullptr);
      EXPECT_EQ(t.objectObject[other][k], nullptr);
    }
  }
  for (int k : {KIND_SHOT, KIND_ASTEROID, 6, 7, 8, 9, KIND_NUKE, KIND_NUKE_EXPLOSION}) {
    EXPECT_NE(t.shipObject[k], nullptr) << k;
  }
  EXPECT_NE(t.shipShip, nullptr);
}

TEST_F(CollisionTest, BounceOfEqualMassesHeadOnSwapsVelocities) {
  WorldObject a, b;
  init_object(a, KIND_SHIELD_POWERUP, 0, {0.1f, 0, 0}, {-0.01f, 0, 0}, {}, 0.1f, 2.0f);
  init_object(b, KIND_SHIELD_POWERUP, 0, {-0.1f, 0, 0}, {0.01f, 0, 0}, {}, 0.1f, 2.0f);
  EXPECT_EQ(bounce(a, b), 150);  // 75 * |0.02| * 100
  EXPECT_NEAR(a.velocity.x, 0.01f, 1e-7);
  EXPECT_NEAR(b.velocity.x, -0.01f, 1e-7);

  // Now separating: the approach test fails and nothing changes.
  const Vector3f before = a.velocity;
  EXPECT_EQ(bounce(a, b), 0);
  EXPECT_EQ(a.velocity.x, before.x);
}

TEST_F(CollisionTest, BounceWithMasslessRecordsStaysFinite) {
  WorldObject heavy, light;
  init_object(heavy, KIND_ASTEROID, 0, {0, 0, 0}, {0.004f, 0, 0}, {}, 0.3f, 10.8f);
  init_object(light, KIND_ARMOR_POWERUP, 0, {0.3f, 0, 0}, {}, {}, 0.1f, 0.0f);
  EXPECT_GT(bounce(heavy, light), 0);
  EXPECT_EQ(heavy.velocity.x, 0.004f);  // a massless partner cannot push back
  EXPECT_NEAR(light.velocity.x, 0.008f, 1e-7);

  // Two massless powerups: equal shares, like equal masses.
  WorldObject p, q;
  init_object(p, KIND_NUKE_POWERUP, 0, {0, 0, 0}, {0.002f, 0, 0}, {}, 0.1f, 0.0f);
  init_object(q, KIND_WARP_POWERUP, 0, {0.15f, 0, 0}, {}, {}, 0.1f, 0.0f);
  bounce(p, q);
  EXPECT_NEAR(p.velocity.x, 0.0f, 1e-7);
  EXPECT_NEAR(q.velocity.x, 0.002f, 1e-7);
}

TEST_F(CollisionTest, BounceNeverProducesNonFiniteValues) {
  std::mt19937 rng(7);
  const float special[] = {0.0f, -0.0f, 1e-30f, 1e30f, 3e38f, 1e-45f, 1.0f, 0.05f};
  auto pick = [&](float lo, float hi) {
    if (rng() % 4 == 0) return special[rng() % 8] * (rng() % 2 ? 1.0f : -1.0f);
    return std::uniform_real_distribution<float>(lo, hi)(rng);
  };
  for (int n = 0; n < 20000; ++n) {
    WorldObject a, b;
    a.position = {pick(-10, 10), pick(-10, 10), pick(-10, 10)};
    b.position =
        rng() % 8 == 0 ? a.position : Vector3f{pick(-10, 10), pick(-10, 10), pick(-10, 10)};
    a.velocity = {pick(-1, 1), pick(-1, 1), pick(-1, 1)};
    b.velocity = rng() % 8 == 0 ? a.velocity : Vector3f{pick(-1, 1), pick(-1, 1), pick(-1, 1)};
    a.mass = std::fabs(pick(0, 50));
    b.mass = rng() % 4 == 0 ? 0.0f : std::fabs(pick(0, 50));
    const int damage = bounce(a, b);
    EXPECT_GE(damage, 0);
    for (float v :
         {a.velocity.x, a.velocity.y, a.velocity.z, b.velocity.x, b.velocity.y, b.velocity.z}) {
      ASSERT_TRUE(std::isfinite(v)) << "case " << n;
    }
  }
}

TEST_F(CollisionTest, ObjectPassMovesOnOnceObjectIHasBeenRemoved) {
  place(0, KIND_SHOT, {0, 0, 0}, {}, 0);
  place_asteroid(1, {0.05f, 0, 0}, 0.1f);
  place_asteroid(2, {-0.05f, 0, 0}, 0.1f);
  Ship& shooter = add_ship(3, {5, 5, 5});
  g_world.objects[0]->owner = 3;
  collision_pass();
  // The shot went with the first asteroid it met; the second is untouched.
  EXPECT_EQ(g_world.objects[1], nullptr);
  ASSERT_NE(g_world.objects[2], nullptr);
  EXPECT_EQ(g_world.objects[2]->kind, KIND_ASTEROID);
  EXPECT_EQ(shooter.score, 1);
  EXPECT_EQ(g_world.asteroidCount, 1);
}

TEST_F(CollisionTest, PairsAreOrderedByKindWhateverTheSlots) {
  // The asteroid comes first in slot order but second in the response.
  place_asteroid(0, {0, 0, 0}, 0.1f);
  place(1, KIND_SHOT, {0.05f, 0, 0});
  collision_pass();
  EXPECT_EQ(count_kind(KIND_ASTEROID), 0);
  EXPECT_EQ(count_kind(KIND_SHOT), 0);
  EXPECT_EQ(count_kind(KIND_SMALL_EXPLOSION), 1);
}

TEST_F(CollisionTest, ObjectsCreatedInUnvisitedSlotsTakePartAtOnce) {
  WorldObject& rock = place_asteroid(0, {0, 0, 0}, 0.3f);
  place(1, KIND_NUKE, {0.2f, 0, 0}, {}, 5);
  WorldObject& prize = place(2, KIND_SHIELD_POWERUP, {-0.35f, 0, 0}, {0.01f, 0, 0});
  rock.velocity = {-0.001f, 0, 0};
  collision_pass();
  // Asteroid sets off the nuke (slot 0 stays, so j goes on): it then pushes
  // the powerup in slot 2 and meets the blast born in slot 3 in this pass.
  EXPECT_NE(prize.velocity.x, 0.01f);
  EXPECT_EQ(g_world.objects[0], nullptr);
  ASSERT_NE(g_world.objects[3], nullptr);
  EXPECT_EQ(g_world.objects[3]->kind, KIND_NUKE_EXPLOSION);
  EXPECT_EQ(g_world.objects[3]->owner, 5);
  EXPECT_EQ(g_world.asteroidCount, 0);
}

TEST_F(CollisionTest, SplitsOnlyAboveTheSmallestSize) {
  place_asteroid(0, {0, 0, 0}, 0.15f);
  place(1, KIND_SHOT, {0.1f, 0, 0});
  collision_pass();
  EXPECT_EQ(g_world.asteroidCount, 0);

  place_asteroid(0, {0, 0, 0}, 0.16f);
  place(1, KIND_SHOT, {0.1f, 0, 0});
  collision_pass();
  EXPECT_GE(g_world.asteroidCount, 2);
  EXPECT_LE(g_world.asteroidCount, 3);
}

TEST_F(CollisionTest, ShotsAndNukesIgnoreTheirOwnShip) {
  Ship& ship = add_ship(4, {0, 0, 0});
  place(0, KIND_SHOT, {0.05f, 0, 0}, {0.1f, 0, 0}, 4);
  place(1, KIND_NUKE, {-0.05f, 0, 0}, {}, 4);
  collision_pass();
  EXPECT_EQ(ship.armor, 1000);
  EXPECT_EQ(count_kind(KIND_SHOT), 1);
  EXPECT_EQ(count_kind(KIND_NUKE), 1);

  // Another ship sets the nuke off; the blast is born in a later slot and
  // catches that ship within the same pass.
  Ship& other = add_ship(5, {-0.2f, 0, 0});
  collision_pass();
  EXPECT_EQ(count_kind(KIND_NUKE), 0);
  EXPECT_EQ(count_kind(KIND_NUKE_EXPLOSION), 1);
  EXPECT_EQ(other.armor, 1000 - 350);
}

TEST_F(CollisionTest, ShieldDeflectsApproachingShotButNotARecedingOne) {
  g_server_settings.GAME_TYPE = 1;
  Ship& target = add_ship(0, {0, 0, 0});
  add_ship(1, {5, 5, 5});
  target.shieldOn = 1;
  WorldObject& shot = place(0, KIND_SHOT, {0, 0, 0.15f}, {0, 0, -0.01f}, 1);
  collision_pass();
  EXPECT_EQ(target.armor, 1000);
  EXPECT_EQ(count_sounds(0, 8), 1);
  ASSERT_NE(g_world.objects[0], nullptr);
  EXPECT_GT(shot.velocity.z, 0);  // sent back

  // Next step it still overlaps but moves away: the bounce gives 0 and the
  // shot hits through the shield.
  move_objects();
  collision_pass();
  EXPECT_EQ(target.armor, 950);
  EXPECT_EQ(g_world.objects[0], nullptr);
  EXPECT_EQ(count_kind(KIND_SMALL_EXPLOSION), 1);
  EXPECT_EQ(count_sounds(0, 13), 1);
}

TEST_F(CollisionTest, ShotThatKillsAShipFliesOn) {
  Ship& victim = add_ship(0, {0, 0, 0});
  Ship& shooter = add_ship(1, {5, 5, 5});
  victim.armor = 50;
  place(0, KIND_SHOT, {0, 0, 0.1f}, {0, 0, -0.14f}, 1);
  collision_pass();
  EXPECT_EQ(victim.lifetime, SHIP_RESPAWN_STEPS);
  EXPECT_EQ(shooter.score, 10);
  ASSERT_NE(g_world.objects[0], nullptr);
  EXPECT_EQ(g_world.objects[0]->kind, KIND_SHOT);
}

TEST_F(CollisionTest, ShotDamageFromBotsAndFromEmptySlots) {
  Ship& a = add_ship(0, {0, 0, 0});
  add_ship(1, {5, 5, 5}, true);
  place(0, KIND_SHOT, {0, 0, 0.1f}, {0, 0, -0.14f}, 1);  // bot: 50 * 0.25
  place(1, KIND_SHOT, {0.1f, 0, 0}, {-0.14f, 0, 0}, 9);  // nobody in slot 9
  collision_pass();
  EXPECT_EQ(a.armor, 1000 - 12 - 50);
}

TEST_F(CollisionTest, ShieldedShipRamsAsteroidUnharmedUnshieldedIsDamagedOnce) {
  Ship& s = add_ship(0, {0, 0, 0});
  s.velocity = {0.01f, 0, 0};
  s.shieldOn = 1;
  place_asteroid(0, {0.4f, 0, 0}, 0.3f);
  place_asteroid(1, {-0.4f, 0, 0}, 0.3f, {0.01f, 0, 0});
  collision_pass();
  EXPECT_EQ(s.armor, 1000);
  EXPECT_EQ(count_sounds(0, 8), 2);  // both asteroids bounced off the shield

  s.shieldOn = 0;
  s.velocity = {0.01f, 0, 0};
  g_world.objects[0]->velocity = {-0.01f, 0, 0};
  g_world.objects[1]->velocity = {0.02f, 0, 0};
  collision_pass();
  // The first asteroid ends this ship's tests for the pass.
  EXPECT_LT(s.armor, 1000);
  EXPECT_EQ(g_world.objects[1]->velocity.x, 0.02f);
}

TEST_F(CollisionTest, BlastHarmsEachShipOnceIncludingItsLauncher) {
  Ship& launcher = add_ship(0, {0, 0, 0});
  Ship& shielded = add_ship(1, {0.3f, 0, 0});
  shielded.shieldOn = 1;
  WorldObject& blast = place(0, KIND_NUKE_EXPLOSION, {0.1f, 0, 0}, {}, 0);
  blast.size = 0.5f;
  for (int step = 0; step < 3; ++step) collision_pass();
  EXPECT_EQ(launcher.armor, 650);
  EXPECT_EQ(shielded.armor, 1000);
  EXPECT_EQ(shielded.shield, 250);
  EXPECT_EQ(blast.hitPlayers[0], 1);
  EXPECT_EQ(blast.hitPlayers[1], 1);
}

TEST_F(CollisionTest, ShipsRammingCanBothDieAndDeathmatchScoresNetZero) {
  for (int type : {1, 2}) {
    SetUp();
    g_server_settings.GAME_TYPE = type;
    Ship& p = add_ship(0, {0, 0, 0});
    Ship& q = add_ship(1, {0.3f, 0, 0});
    p.velocity = {0.01f, 0, 0};
    q.velocity = {-0.01f, 0, 0};
    p.armor = q.armor = 5;
    collision_pass();
    EXPECT_EQ(p.lifetime, SHIP_RESPAWN_STEPS);
    EXPECT_EQ(q.lifetime, SHIP_RESPAWN_STEPS);
    EXPECT_EQ(p.score, type == 2 ? 0 : 10);
    EXPECT_EQ(q.score, type == 2 ? 0 : 10);
  }
}

TEST_F(CollisionTest, RamAgainstAShieldedShipHurtsOnlyTheOther) {
  Ship& p = add_ship(0, {0, 0, 0});
  Ship& q = add_ship(1, {0.3f, 0, 0});
  p.velocity = {0.01f, 0, 0};
  q.shieldOn = 1;
  collision_pass();
  EXPECT_LT(p.armor, 1000);
  EXPECT_EQ(q.armor, 1000);
  EXPECT_EQ(count_sounds(1, 8), 1);
  EXPECT_EQ(count_sounds(0, 8), 0);
}

// Every row of the scoring table in every game type, through real collisions.
struct ScoreCase {
  int gameType;
  int asteroidByShot, asteroidByBlast, shipByShot, shipByBlast, shipByAsteroid, ramOther, ramVictim;
};

class ScoringTest : public RulesTest, public ::testing::WithParamInterface<ScoreCase> {};

TEST_P(ScoringTest, EveryRow) {
  const ScoreCase c = GetParam();
  g_server_settings.GAME_TYPE = c.gameType;
  Ship& owner = add_ship(0, {5, 5, 5});
  Ship& victim = add_ship(1, {0, 0, 0});
  auto reset_scores = [&] {
    owner.score = victim.score = 0;
    victim.lifetime = SHIP_FLYING;
    victim.position = {0, 0, 0};
    victim.armor = 1;
    g_world.objects = {};
    g_world.asteroidCount = 0;
  };

  reset_scores();
  place_asteroid(0, {-5, -5, -5}, 0.1f);
  place(1, KIND_SHOT, {-5, -5, -5}, {}, 0);
  collision_pass();
  EXPECT_EQ(owner.score, c.asteroidByShot) << "asteroid by shot";

  reset_scores();
  place_asteroid(0, {-5, -5, -5}, 0.1f);
  place(1, KIND_NUKE_EXPLOSION, {-5, -5, -5}, {}, 0);
  collision_pass();
  EXPECT_EQ(owner.score, c.asteroidByBlast) << "asteroid by blast";

  reset_scores();
  place(0, KIND_SHOT, {0, 0, 0.1f}, {0, 0, -0.1f}, 0);
  collision_pass();
  EXPECT_EQ(owner.score, c.shipByShot) << "ship by shot";

  reset_scores();
  place(0, KIND_NUKE_EXPLOSION, {0, 0, 0}, {}, 0);
  collision_pass();
  EXPECT_EQ(owner.score, c.shipByBlast) << "ship by blast";

  reset_scores();
  place_asteroid(0, {0.4f, 0, 0}, 0.3f, {-0.05f, 0, 0});
  collision_pass();
  EXPECT_EQ(victim.lifetime, SHIP_RESPAWN_STEPS);
  EXPECT_EQ(victim.score, c.shipByAsteroid) << "ship by asteroid";

  reset_scores();
  owner.position = {0.3f, 0, 0};
  owner.velocity = {-0.05f, 0, 0};
  owner.shieldOn = 1;
  collision_pass();
  EXPECT_EQ(victim.lifetime, SHIP_RESPAWN_STEPS);
  EXPECT_EQ(owner.score, c.ramOther) << "ram, other";
  EXPECT_EQ(victim.score, c.ramVictim) << "ram, victim";
}

INSTANTIATE_TEST_SUITE_P(GameTypes, ScoringTest,
                         ::testing::Values(ScoreCase{0, 1, 1, 10, 10, 0, 10, 0},
                                           ScoreCase{1, 1, 1, 10, 10, -10, 10, 0},
                                           ScoreCase{2, 0, 0, 1, 1, -1, 1, -1},
                                           ScoreCase{7, 1, 1, 10, 10, 0, 0, 0}),
                         [](const ::testing::TestParamInfo<ScoreCase>& info) {
                           return "GameType" + std::to_string(info.param.gameType);
                         });

TEST_F(CollisionTest, OwnNukeKillInGameTypeOneEarnsShipScore) {
  g_server_settings.GAME_TYPE = 1;
  Ship& ship = add_ship(0, {0, 0, 0});
  ship.armor = 100;
  place(0, KIND_NUKE_EXPLOSION, {0, 0, 0}, {}, 0);
  collision_pass();
  EXPECT_EQ(ship.lifetime, SHIP_RESPAWN_STEPS);
  EXPECT_EQ(ship.score, 10);
}

TEST_F(CollisionTest, ShootingAPowerupEarnsNothingAndTellsTheShooter) {
  Ship& shooter = add_ship(2, {3, 3, 3});
  place(0, KIND_WARP_POWERUP, {0, 0, 0});
  place(1, KIND_SHOT, {0.05f, 0, 0}, {}, 2);
  collision_pass();
  EXPECT_EQ(shooter.score, 0);
  EXPECT_EQ(count_kind(KIND_WARP_POWERUP), 0);
  EXPECT_EQ(count_sounds(2, 17), 1);
  EXPECT_EQ(g_world.soundQueue[2][0].x, 3.0f);  // at the shooter's position
}

// --- the fast pair rejection ----------------------------------------------

// Every vector width the processor runs, widest last (as the server runs it).
std::vector<int> vector_widths() {
  std::vector<int> widths;
  for (int floats : {4, 8, 16}) {
    if (set_collision_vector_floats(floats) == floats) widths.push_back(floats);
  }
  return widths;
}

TEST_F(CollisionTest, FastOverlapAgreesWithTheExactTest) {
  for (int floats : vector_widths()) {
    set_collision_vector_floats(floats);
    std::mt19937 rng(11);
    for (float width : {10.0f, 12.5f, 1.0f, 1000.0f}) {
      g_server_settings.WORLD_WIDTH = width;
      std::uniform_real_distribution<float> coord(-width, width);
      std::uniform_real_distribution<float> sizes(0.0f, 1.5f);
      for (int n = 0; n < 200000; ++n) {
        WorldObject a, b;
        a.position = {coord(rng), coord(rng), coord(rng)};
        a.size = sizes(rng);
        b.size = sizes(rng);
        // Mostly near-misses: b at about the touching distance, often across a face.
        const float reach = a.size + b.size;
        const float t = reach * std::uniform_real_distribution<float>(0.999f, 1.001f)(rng);
        const int axis = rng() % 3;
        b.position = a.position;
        float* c = axis == 0 ? &b.position.x : axis == 1 ? &b.position.y : &b.position.z;
        *c += rng() % 2 ? t : -t;
        if (*c > width) *c -= 2 * width;
        if (*c < -width) *c += 2 * width;
        if (n % 4 == 0) b.position = {coord(rng), coord(rng), coord(rng)};
        ASSERT_EQ(overlaps_fast(a, b), overlaps(a, b)) << floats << " " << n;
      }
    }
  }
}

std::unique_ptr<WorldObject> copy_record(const WorldObject& o) {
  return std::make_unique<WorldObject>(o);
}

void copy_world(const World& from, World& to) {
  for (int i = 0; i < MAX_OBJECTS; ++i) {
    to.objects[i] = from.objects[i] ? copy_record(*from.objects[i]) : nullptr;
  }
  for (int p = 0; p < MAX_PLAYERS; ++p) {
    to.players[p] = from.players[p] ? std::make_unique<Ship>(*from.players[p]) : nullptr;
  }
  to.asteroidCount = from.asteroidCount;
  to.asteroidTotalSize = from.asteroidTotalSize;
  to.matchRunning = from.matchRunning;
  to.botRatio = from.botRatio;
  to.humanCount = from.humanCount;
  to.soundQueue = from.soundQueue;
}

bool same_object(const WorldObject& a, const WorldObject& b) {
  return std::memcmp(&a.position, &b.position, sizeof(Vector3f) * 3) == 0 &&
         a.orientation == b.orientation && a.kind == b.kind && a.size == b.size &&
         a.mass == b.mass && a.lifetime == b.lifetime && a.owner == b.owner &&
         a.hitPlayers == b.hitPlayers;
}

bool same_ship(const Ship& a, const Ship& b) {
  return same_object(a, b) && a.inverseOrientation == b.inverseOrientation &&
         a.fireRequest == b.fireRequest && a.shieldOn == b.shieldOn && a.score == b.score &&
         a.lives == b.lives && a.shield == b.shield && a.armor == b.armor &&
         a.hitFlash == b.hitFlash && a.warpTimer == b.warpTimer && a.nukes == b.nukes &&
         a.warps == b.warps && a.botShieldTimer == b.botShieldTimer &&
         std::memcmp(&a.thrustVector, &b.thrustVector, sizeof(Vector3f)) == 0;
}

void fill_random_world(std::mt19937& rng, int objects, int ships) {
  const float w = g_server_settings.WORLD_WIDTH;
  std::uniform_real_distribution<float> coord(-w, w);
  std::uniform_real_distribution<float> speed(-0.01f, 0.01f);
  const int kinds[] = {KIND_SHOT,
                       KIND_ASTEROID,
                       KIND_ASTEROID,
                       KIND_SMALL_EXPLOSION,
                       KIND_SHIP_EXPLOSION,
                       6,
                       7,
                       8,
                       9,
                       KIND_NUKE,
                       KIND_NUKE_EXPLOSION};
  for (int n = 0; n < objects; ++n) {
    const int slot = rng() % MAX_OBJECTS;
    if (g_world.objects[slot]) continue;
    const int kind = kinds[rng() % 11];
    const Vector3f p{coord(rng), coord(rng), coord(rng)};
    const Vector3f v{speed(rng), speed(rng), speed(rng)};
    if (kind == KIND_ASTEROID) {
      RulesTest::place_asteroid(slot, p, 0.15f + (rng() % 56) / 100.0f, v);
    } else {
      WorldObject& o = RulesTest::place(slot, kind, p, v, rng() % MAX_PLAYERS);
      if (kind == KIND_NUKE_EXPLOSION) o.size = 0.1f + (rng() % 40) * 0.03f;
    }
  }
  for (int n = 0; n < ships; ++n) {
    const int slot = rng() % MAX_PLAYERS;
    if (g_world.players[slot]) continue;
    Ship& s = RulesTest::add_ship(slot, {coord(rng), coord(rng), coord(rng)}, rng() % 2);
    s.velocity = {speed(rng), speed(rng), speed(rng)};
    s.shieldOn = rng() % 3 == 0;
    s.armor = 1 + rng() % 400;
  }
}

TEST_F(CollisionTest, FastPassGivesExactlyThePlainPassOutcome) {
  for (int floats : vector_widths()) {
    std::mt19937 rng(2024);
    for (int world = 0; world < 120; ++world) {
      SetUp();
      set_collision_vector_floats(floats);
      // Small worlds make dense ones: many overlaps, splits, blasts and rams.
      g_server_settings.WORLD_WIDTH = world % 2 ? 3.0f : 10.0f;
      g_server_settings.GAME_TYPE = world % 3;
      fill_random_world(rng, 300 + world * 5, 6 + world % 20);
      World plain;
      copy_world(g_world, plain);

      std::srand(world);
      collision_pass();
      World fast;
      copy_world(g_world, fast);

      copy_world(plain, g_world);
      std::srand(world);
      collision_pass_plain();

      for (int i = 0; i < MAX_OBJECTS; ++i) {
        ASSERT_EQ(fast.objects[i] == nullptr, g_world.objects[i] == nullptr) << world << " " << i;
        if (fast.objects[i]) {
          ASSERT_TRUE(same_object(*fast.objects[i], *g_world.objects[i])) << world << " " << i;
        }
      }
      for (int p = 0; p < MAX_PLAYERS; ++p) {
        ASSERT_EQ(fast.players[p] == nullptr, g_world.players[p] == nullptr);
        if (fast.players[p]) {
          ASSERT_TRUE(same_ship(*fast.players[p], *g_world.players[p])) << world << " " << p;
        }
      }
      EXPECT_EQ(std::memcmp(&fast.soundQueue, &g_world.soundQueue, sizeof fast.soundQueue), 0);
      EXPECT_EQ(fast.asteroidCount, g_world.asteroidCount);
    }
  }
}

}  // namespace
}  // namespace zbx::test
