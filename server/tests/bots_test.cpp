// Bot firing rhythm, nukes, threat choice and steering.
#include <cmath>
#include <random>
#include <vector>

#include "rules_test_support.h"

namespace zbx::test {
namespace {

class BotTest : public RulesTest {
 protected:
  void SetUp() override {
    RulesTest::SetUp();
    g_server_settings.BOT_NUKE_ODDS = 0;
  }
};

// Steps between consecutive shots of a lone bot.
std::vector<int> shot_steps(Ship& bot, int steps) {
  std::vector<int> at;
  for (int step = 1; step <= steps; ++step) {
    const int before = RulesTest::count_kind(KIND_SHOT);
    bot_behaviour(bot);
    if (RulesTest::count_kind(KIND_SHOT) > before) at.push_back(step);
  }
  return at;
}

TEST_F(BotTest, FiringIntervalFollowsTheRatio) {
  Ship& bot = add_ship(0, {0, 0, 0}, true);
  EXPECT_EQ(shot_steps(bot, 250), (std::vector<int>{80, 160, 240}));
  g_world.objects = {};
  g_world.botRatio = 1.0f;
  bot.botFireCounter = 0;
  EXPECT_EQ(shot_steps(bot, 65), (std::vector<int>{20, 40, 60}));
  EXPECT_EQ(bot_fire_interval(0.25f, 20), 80);
  EXPECT_EQ(bot_fire_interval(1.0f, 20), 20);
  EXPECT_EQ(bot_fire_interval(0.3f, 20), 66);
}

TEST_F(BotTest, RatioOfZeroOrLessMeansTheBotNeverFires) {
  for (float ratio : {0.0f, -0.0f, -0.5f, 1e-30f, NAN}) {
    EXPECT_EQ(bot_fire_interval(ratio, 20), BOT_NEVER_FIRES) << ratio;
  }
  g_server_settings.START_BOT_RATIO = 0;
  g_world.botRatio = 0;
  Ship& bot = add_ship(0, {0, 0, 0}, true);
  EXPECT_EQ(bot.armor, 0);
  EXPECT_EQ(bot.thrustInput.z, 0.0f);
  bot.botFireCounter = INT_MAX - 2;
  for (int step = 0; step < 10; ++step) update_ship(bot);
  EXPECT_EQ(count_kind(KIND_SHOT), 0);
  EXPECT_EQ(bot.botFireCounter, INT_MAX);  // saturates instead of overflowing
  EXPECT_TRUE(std::isfinite(bot.position.x));
}

TEST_F(BotTest, CounterRunsWhileDestroyedAndTheAttemptResetsIt) {
  Ship& bot = add_ship(0, {0, 0, 0}, true);
  apply_damage(bot, 5000);
  bot.botFireCounter = 79;
  bot_behaviour(bot);
  EXPECT_EQ(bot.botFireCounter, 0);
  EXPECT_EQ(count_kind(KIND_SHOT), 0);
}

TEST_F(BotTest, NukeOddsOfOneLaunchesWhenever) {
  g_server_settings.BOT_NUKE_ODDS = 1;
  Ship& bot = add_ship(0, {0, 0, 0}, true);
  for (int step = 0; step < 5; ++step) bot_behaviour(bot);
  EXPECT_EQ(count_kind(KIND_NUKE), 2);  // START_NUKES
  EXPECT_EQ(bot.nukes, 0);
}

TEST_F(BotTest, NearestThreatPrefersCloserApproachingAsteroids) {
  Ship& bot = add_ship(0, {0, 0, 0}, true);
  bot.velocity = {};
  float gap = -1;
  EXPECT_EQ(nearest_threat(bot, &gap), -1);

  place_asteroid(3, {3, 0, 0}, 0.3f);                     // first found
  place_asteroid(5, {0, 2, 0}, 0.3f, {0, 0.01f, 0});      // closer, receding
  place_asteroid(8, {0, 0, 2.5f}, 0.3f, {0, 0, -0.01f});  // closer, approaching
  EXPECT_EQ(nearest_threat(bot, &gap), 8);
  EXPECT_FLOAT_EQ(gap, 2.5f - 0.5f);

  place_asteroid(9, {-2.8f, 0, 0}, 0.3f, {0.01f, 0, 0});  // approaching, further
  EXPECT_EQ(nearest_threat(bot, &gap), 8);
}

TEST_F(BotTest, CloseAsteroidOverridesTheChase) {
  Ship& bot = add_ship(0, {0, 0, 0}, true);
  add_ship(1, {0, 0, -1});  // straight ahead
  // Asteroid up and to the right, at a gap of 0.15.
  place_asteroid(0, {0.52f, 0.39f, 0}, 0.3f);
  bot_behaviour(bot);
  EXPECT_EQ(bot.spin.y, -1.0f);
  EXPECT_EQ(bot.spin.x, -1.0f);

  // Further off, the bot turns towards the ship instead.
  g_world.objects[0]->position = {3, 3, 3};
  Ship& target = *g_world.players[1];
  target.position = {2, 1, 0};
  bot_behaviour(bot);
  EXPECT_EQ(bot.spin.x, 1.0f);
  EXPECT_EQ(bot.spin.y, 1.0f);
}

TEST_F(BotTest, VeryCloseTargetMakesTheBotTurnAway) {
  Ship& bot = add_ship(0, {0, 0, 0}, true);
  add_ship(1, {0.5f, 0.3f, 0});
  bot_behaviour(bot);
  EXPECT_EQ(bot.spin.x, -1.0f);
  EXPECT_EQ(bot.spin.y, -1.0f);
}

TEST_F(BotTest, TargetChoiceSkipsTheDeadAndWeighsStoredGapAgainstDistance) {
  Ship& bot = add_ship(0, {0, 0, 0}, true);
  Ship& dead = add_ship(1, {0.5f, 0, 0});
  apply_damage(dead, 5000);
  dead.position = {0.5f, 0, 0};
  add_ship(2, {-3, -3, 0});  // first candidate: below left
  add_ship(3, {4, 4, 0});    // further: never replaces
  bot_behaviour(bot);
  EXPECT_EQ(bot.spin.x, -1.0f);
  EXPECT_EQ(bot.spin.y, -1.0f);
  add_ship(4, {2, 2, 0});  // nearer than the stored gap: replaces
  bot_behaviour(bot);
  EXPECT_EQ(bot.spin.x, 1.0f);
  EXPECT_EQ(bot.spin.y, 1.0f);
}

TEST_F(BotTest, LoneBotKeepsItsRotationAndThrust) {
  Ship& bot = add_ship(0, {0, 0, 0}, true);
  bot.spin = {1, -1, 1};
  for (int step = 0; step < 50; ++step) update_ship(bot);
  EXPECT_EQ(bot.spin.x, 1.0f);
  EXPECT_EQ(bot.spin.y, -1.0f);
  EXPECT_FLOAT_EQ(bot.thrustInput.z, 0.75f);
  EXPECT_GT(std::fabs(bot.velocity.x) + std::fabs(bot.velocity.y) + std::fabs(bot.velocity.z), 0);
}

}  // namespace
}  // namespace zbx::test

namespace zbx::test {
namespace {

// The threat choice without the early skip of far asteroids.
int nearest_threat_plain(const Ship& bot, float* gap) {
  auto later = [](const WorldObject& r) {
    auto one = [](float p, float v) { return static_cast<float>(p + v / 100.0); };
    return Vector3f{one(r.position.x, r.velocity.x), one(r.position.y, r.velocity.y),
                    one(r.position.z, r.velocity.z)};
  };
  int choice = -1;
  float choiceGap = 0;
  for (int slot = 0; slot < MAX_OBJECTS; ++slot) {
    const WorldObject* o = g_world.objects[slot].get();
    if (o == nullptr || o->kind != KIND_ASTEROID) continue;
    const float g = torus_distance(bot.position, o->position) - (bot.size + o->size);
    const float gNext = torus_distance(later(bot), later(*o)) - (bot.size + o->size);
    if (choice < 0 || (g > gNext && g < choiceGap)) {
      choice = slot;
      choiceGap = g;
    }
  }
  *gap = choiceGap;
  return choice;
}

TEST_F(BotTest, ThreatChoiceMatchesTheFullScanOnRandomWorlds) {
  std::mt19937 rng(99);
  for (int world = 0; world < 300; ++world) {
    SetUp();
    const float w = world % 3 == 0 ? 2.0f : 10.0f;
    g_server_settings.WORLD_WIDTH = w;
    std::uniform_real_distribution<float> coord(-w, w);
    std::uniform_real_distribution<float> speed(-0.02f, 0.02f);
    const int asteroids = 1 + rng() % 256;
    for (int n = 0; n < asteroids; ++n) {
      const Vector3f p{coord(rng), coord(rng), coord(rng)};
      place_asteroid(rng() % MAX_OBJECTS, p, 0.15f + (rng() % 56) / 100.0f,
                     {speed(rng), speed(rng), speed(rng)});
    }
    Ship& bot = add_ship(0, {coord(rng), coord(rng), coord(rng)}, true);
    bot.velocity = {speed(rng), speed(rng), speed(rng)};
    float fast = 0, plain = 0;
    ASSERT_EQ(nearest_threat(bot, &fast), nearest_threat_plain(bot, &plain)) << world;
    ASSERT_EQ(fast, plain);
  }
}

}  // namespace
}  // namespace zbx::test
