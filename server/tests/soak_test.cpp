// A seeded server-only game of several thousand steps with bots, asteroids and
// a scripted human, checking the world's invariants after every iteration.
#include <cmath>
#include <cstdlib>
#include <string>

#include "asteroids.h"
#include "rules_test_support.h"
#include "simulation.h"

namespace zbx::test {
namespace {

class SoakTest : public RulesTest, public ::testing::WithParamInterface<int> {};

bool finite(Vector3f v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

bool inside(Vector3f p, float w) {
  return p.x >= -w && p.x <= w && p.y >= -w && p.y <= w && p.z >= -w && p.z <= w;
}

bool finite_matrix(const Matrix3f& m) {
  for (float v : m) {
    if (!std::isfinite(v)) return false;
  }
  return true;
}

bool is_rotation_input(float v) { return v == -1.0f || v == 0.0f || v == 1.0f; }

// Every invariant the rules promise; returns the first one broken, or "".
std::string broken_invariant() {
  const ServerSettings& s = g_server_settings;
  const float w = s.WORLD_WIDTH;
  int asteroids = 0;
  double totalSize = 0;
  for (int slot = 0; slot < MAX_OBJECTS; ++slot) {
    const WorldObject* o = g_world.objects[slot].get();
    if (o == nullptr) continue;
    const std::string at = " object " + std::to_string(slot);
    if (o->kind < KIND_SHOT || o->kind > KIND_NUKE_EXPLOSION) return "kind" + at;
    if (!finite(o->position) || !finite(o->velocity) || !finite(o->spin)) return "finite" + at;
    if (!finite_matrix(o->orientation) || !std::isfinite(o->size) || !std::isfinite(o->mass)) {
      return "finite shape" + at;
    }
    if (!inside(o->position, w)) return "outside" + at;
    if (o->lifetime == 0 || o->lifetime < -1) return "lifetime" + at;
    if (o->kind == KIND_ASTEROID) {
      ++asteroids;
      totalSize += o->size;
      if (o->lifetime != -1 || o->size <= 0 || o->size > 0.7f) return "asteroid" + at;
    }
  }
  if (asteroids != g_world.asteroidCount) return "asteroidCount";
  if (g_world.asteroidCount > 256) return "asteroid limit";
  if (std::fabs(totalSize - g_world.asteroidTotalSize) > 0.01) return "asteroidTotalSize";

  int humans = 0;
  for (int slot = 0; slot < MAX_PLAYERS; ++slot) {
    const Ship* p = g_world.players[slot].get();
    if (p == nullptr) continue;
    const std::string at = " ship " + std::to_string(slot);
    humans += p->isBot ? 0 : 1;
    if (p->kind != KIND_SHIP || p->owner != slot) return "identity" + at;
    if (!finite(p->position) || !finite(p->velocity) || !finite(p->thrustVector) ||
        !finite(p->thrustInput) || !finite_matrix(p->orientation) ||
        !finite_matrix(p->inverseOrientation)) {
      return "finite" + at;
    }
    if (!inside(p->position, w)) return "outside" + at;
    if (p->lifetime < -1 || p->lifetime > SHIP_RESPAWN_STEPS) return "life state" + at;
    if (p->shield < 0 || p->shield > s.MAX_SHIELD) return "shield" + at;
    if (p->armor < 0 || p->armor > s.MAX_ARMOR) return "armor" + at;
    if (p->hitFlash < 0 || p->hitFlash > 100) return "hitFlash" + at;
    if (p->warpTimer < 0 || p->warpTimer > WARP_STEPS) return "warpTimer" + at;
    if (p->warpTimer != 0 && p->lifetime != SHIP_FLYING) return "warping wreck" + at;
    if (!is_rotation_input(p->spin.x) || !is_rotation_input(p->spin.y) ||
        !is_rotation_input(p->spin.z)) {
      return "spin" + at;
    }
    if (p->gunSide != 1.0f && p->gunSide != -1.0f) return "gunSide" + at;
    if (p->nukes < 0 || p->warps < 0 || p->botShieldTimer < 0) return "counters" + at;
    for (const SoundEvent& e : g_world.soundQueue[slot]) {
      if (e.id != 255 && (e.id >= NUM_SOUNDS || p->isBot)) return "sound" + at;
      if (e.id != 255 && !std::isfinite(e.x)) return "sound position" + at;
    }
  }
  if (humans != g_world.humanCount) return "humanCount";
  return "";
}

// The scripted human: presses and releases random controls now and then.
void play_human(Ship& human, int iteration) {
  if (iteration % 7 != 0) return;
  const int control = 1 + std::rand() % 17;
  if (control == CONTROL_QUIT) return;
  apply_control(human, control, std::rand() % 3 != 0);
  if (iteration % 50 == 0) {
    std::uint8_t keys[16];
    for (auto& k : keys) k = static_cast<std::uint8_t>(std::rand() % 2);
    apply_key_state(human, keys);
  }
}

void empty_sound_queues() {
  for (auto& queue : g_world.soundQueue) queue.fill(SoundEvent{});
}

TEST_P(SoakTest, ThousandsOfStepsKeepTheWorldConsistent) {
  const int gameType = GetParam();
  ServerSettings& s = g_server_settings;
  s.GAME_TYPE = gameType;
  s.MAX_NUMBER_OF_PLAYERS = 4;
  s.WORLD_WIDTH = 4.0f;  // small and crowded: many collisions
  s.NUM_BOTS = 6;
  s.START_ASTEROIDS = 12;
  s.NEW_ASTEROID_TIME = 300;
  s.MIN_ASTEROID_TIME = 50;
  s.ASTEROID_TIME_SPEEDUP = 20;
  s.MAX_TOTAL_ASTEROID_SIZE = 25.0f;
  s.BOT_RATIO_INCREASE = 0.02f;
  s.BOT_NUKE_ODDS = 150;
  s.PRIZE_ODDS = 900;
  s.MAX_KILLS = 3;
  s.START_LIVES = 2;
  std::srand(1000 + gameType);

  SimulationState state;
  start_game(state);
  auto human = std::make_unique<Ship>();
  add_player(*human, 6, "Soak", 0, random_clear_position());
  Ship* player = human.get();
  g_world.players[6] = std::move(human);

  int steps = 0;
  int restarts = 0;
  int destructions = 0;
  int warps = 0;
  int seen[NUM_KINDS] = {};
  for (int iteration = 0; iteration < 6000; ++iteration) {
    play_human(*player, iteration);
    const int matchBefore = g_world.matchRunning;
    simulation_iteration(state);
    if (matchBefore == 0 && g_world.matchRunning == 1) ++restarts;
    steps += matchBefore;
    const std::string broken = broken_invariant();
    ASSERT_EQ(broken, "") << "iteration " << iteration;
    for (const auto& ship : g_world.players) {
      if (ship && ship->lifetime == SHIP_RESPAWN_STEPS) ++destructions;
      if (ship && ship->warpTimer == WARP_STEPS - 1) ++warps;  // started this iteration
    }
    for (const auto& o : g_world.objects) {
      if (o) ++seen[o->kind];
    }
    empty_sound_queues();  // as the broadcast would
  }
  EXPECT_GT(steps, 3000);
  // The run really exercised the rules.
  EXPECT_GT(destructions, 5);
  EXPECT_GT(warps, 0);
  for (int kind = KIND_SHOT; kind <= KIND_NUKE_EXPLOSION; ++kind) EXPECT_GT(seen[kind], 0) << kind;
  if (gameType == 2) {
    EXPECT_GE(restarts, 1);
  }
  stop_world();
}

INSTANTIATE_TEST_SUITE_P(GameTypes, SoakTest, ::testing::Values(0, 1, 2));

TEST_F(RulesTest, AbsurdSettingsKeepEveryValueFiniteAndInTheWorld) {
  ServerSettings& s = g_server_settings;
  s.GAME_TYPE = 1;
  s.MAX_NUMBER_OF_PLAYERS = 2;
  s.WORLD_WIDTH = 3.0f;
  s.NUM_BOTS = 8;
  s.START_ASTEROIDS = 20;
  s.MAX_TOTAL_ASTEROID_SIZE = 1e30f;
  s.DECELERATION_CONSTANT = 1.5f;  // speeds grow without bound
  s.ACCELERATION_CONSTANT = 1e30f;
  s.SHOT_SPEED = 3e38f;
  s.NUKE_SPEED = -1e30f;
  s.START_BOT_RATIO = 1e30f;
  s.MAX_BOT_RATIO = 1e30f;
  s.COLLISION_DAMAGE = INT_MAX;
  s.SHIP_SCORE = INT_MIN;
  s.START_SHIELD = -7;
  s.ASTEROID_SCORE = INT_MAX;
  s.SHOT_DAMAGE = INT_MIN;
  s.NUKE_DAMAGE = INT_MAX;
  s.NUKE_SHIELD_DRAIN = INT_MIN;
  s.BOT_SHIELD_TIME = INT_MAX;
  s.BOT_FIRE_TIME = -5;
  s.BOT_NUKE_ODDS = INT_MIN;
  s.PRIZE_ODDS = 1024;
  s.SHIELD_POWERUP_VALUE = INT_MAX;
  s.ARMOR_POWERUP_VALUE = INT_MIN;
  s.START_NUKES = INT_MAX;
  s.START_WARPS = -3;
  std::srand(77);
  SimulationState state;
  start_game(state);
  auto human = std::make_unique<Ship>();
  add_player(*human, 10, "Absurd", 0, random_clear_position());
  Ship* player = human.get();
  g_world.players[10] = std::move(human);
  for (int iteration = 0; iteration < 1500; ++iteration) {
    play_human(*player, iteration);
    simulation_iteration(state);
    // Only the ranges that these settings themselves allow are left out.
    for (const auto& o : g_world.objects) {
      if (!o) continue;
      ASSERT_TRUE(finite(o->position) && finite(o->velocity)) << iteration;
      ASSERT_TRUE(inside(o->position, s.WORLD_WIDTH))
          << iteration << " kind " << o->kind << " v " << o->velocity.x << " " << o->velocity.y
          << " " << o->velocity.z;
    }
    for (const auto& p : g_world.players) {
      if (!p) continue;
      ASSERT_TRUE(finite(p->position) && finite(p->velocity) && finite(p->thrustVector));
      ASSERT_TRUE(inside(p->position, s.WORLD_WIDTH)) << iteration;
    }
    empty_sound_queues();
  }
  stop_world();
}

}  // namespace
}  // namespace zbx::test
