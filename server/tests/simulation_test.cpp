// Simulation loop: pacing arithmetic, the start of a game, timers,
// difficulty, deathmatch restarts and the thread's start and stop.
#include "simulation.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "server/server.h"
#include "startup/settings.h"
#include "world.h"

namespace zbx {
namespace {

constexpr std::uint64_t PERIOD = 20000;

TEST(PacingTest, SteadyStateSleepsOnePeriod) {
  // First iteration: nothing has passed yet.
  PacingStep p = pacing_step(0, 150, PERIOD, 0);
  EXPECT_EQ(p.debt, 1);
  EXPECT_EQ(p.sleepMicros, PERIOD);
  std::uint64_t prev = 150;
  for (int i = 1; i <= 50; ++i) {
    const std::uint64_t now = i * PERIOD + 150 + (i % 3) * 40;
    p = pacing_step(prev, now, PERIOD, p.debt);
    EXPECT_EQ(p.debt, 1);
    EXPECT_EQ(p.sleepMicros, PERIOD);
    prev = now;
  }
}

TEST(PacingTest, CatchUpRunsBackToBackForUpToTenBoundaries) {
  for (std::uint32_t n = 2; n <= 10; ++n) {
    PacingStep p = pacing_step(5 * PERIOD + 10, (5 + n) * PERIOD + 10, PERIOD, 1);
    EXPECT_EQ(p.debt, 1 - static_cast<std::int32_t>(n) + 1);
    EXPECT_EQ(p.sleepMicros, 0u);
    // The following iterations within one period run without sleep, each adding 1.
    std::uint64_t now = (5 + n) * PERIOD + 10;
    int unslept = 1;
    while (p.sleepMicros == 0) {
      now += 100;
      p = pacing_step(now - 100, now, PERIOD, p.debt);
      ++unslept;
      ASSERT_LE(unslept, 20);
    }
    EXPECT_EQ(unslept, static_cast<int>(n));  // the n - 1 missed iterations, made up
    EXPECT_EQ(p.debt, 1);
  }
}

TEST(PacingTest, DelaysOfElevenBoundariesOrMoreAreGivenUp) {
  PacingStep p = pacing_step(PERIOD, 12 * PERIOD, PERIOD, 1);
  EXPECT_EQ(p.debt, 2);
  EXPECT_EQ(p.sleepMicros, 2 * PERIOD);
  p = pacing_step(0, 1000000 * PERIOD, PERIOD, 1);
  EXPECT_EQ(p.debt, 2);
}

TEST(PacingTest, ClockGoingBackwardsCountsNoBoundary) {
  const PacingStep p = pacing_step(9 * PERIOD, 3 * PERIOD, PERIOD, 1);
  EXPECT_EQ(p.debt, 2);
  EXPECT_EQ(p.sleepMicros, 2 * PERIOD);
}

TEST(PacingTest, DegenerateInputsStayInRange) {
  const PacingStep zero = pacing_step(0, 50, 0, 0);  // no division by zero
  EXPECT_LE(zero.debt, 1);
  const PacingStep top = pacing_step(0, 0, PERIOD, 2147483647);
  EXPECT_EQ(top.debt, 2147483647);
  EXPECT_EQ(top.sleepMicros, 2147483647ull * PERIOD);  // no 32-bit wrap
  const PacingStep bottom = pacing_step(0, 10 * PERIOD, PERIOD, -2147483647);
  EXPECT_LT(bottom.debt, 0);
  EXPECT_EQ(bottom.sleepMicros, 0u);
}

// Records calls of the removal effects, to see which emptying runs them.
int g_effect_calls = 0;
std::atomic<int> g_stop{0};  // the simulation thread's stop flag
void count_effect(const WorldObject&) { ++g_effect_calls; }

class SimulationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_server_settings = ServerSettings{};
    g_stop = 0;
    install_removal_effects();
    reset_world();
    std::srand(17);
    g_effect_calls = 0;
  }
  void TearDown() override {
    g_stop = 0;
    install_removal_effects();
    reset_world();
  }

  // Joins a human into the lowest free slot the way the receive loop does.
  static int join_human(const char* name = "Human") {
    int slot = 0;
    while (g_world.players[slot]) ++slot;
    testing::internal::CaptureStdout();
    auto ship = std::make_unique<Ship>();
    add_player(*ship, slot, name, 0, Vector3f{});
    g_world.players[slot] = std::move(ship);
    testing::internal::GetCapturedStdout();
    return slot;
  }

  static std::string start_quietly(SimulationState& state) {
    testing::internal::CaptureStdout();
    start_game(state);
    return testing::internal::GetCapturedStdout();
  }

  static void run(SimulationState& state, int iterations) {
    for (int i = 0; i < iterations; ++i) simulation_iteration(state);
  }

  // A marker object that never expires; a small explosion by default since
  // that kind takes part in no collision.
  static int place_marker(int kind = KIND_SMALL_EXPLOSION) {
    const int slot = find_free_object_slot();
    auto o = std::make_unique<WorldObject>();
    init_object(*o, kind, 0, {0, 0, 0}, {0.01f, 0, 0}, {}, 0.1f, 0);
    o->lifetime = -1;
    g_world.objects[slot] = std::move(o);
    return slot;
  }
};

TEST_F(SimulationTest, StartEmptiesTablesWithoutEffectsAndAddsRocksAndBots) {
  g_removal_effects[KIND_NUKE] = count_effect;
  place_marker(KIND_NUKE);
  g_world.players[7] = std::make_unique<Ship>();
  g_world.asteroidCount = 99;
  g_server_settings.NUM_BOTS = 2;
  g_server_settings.START_ASTEROIDS = 4;
  g_server_settings.GAME_SLEEP = 7;
  SimulationState state;
  EXPECT_EQ(start_quietly(state), "Adding Player 0\nAdding Player 1\n");
  EXPECT_EQ(g_effect_calls, 0);
  EXPECT_FALSE(g_world.players[7]);
  EXPECT_EQ(std::string(g_world.players[0]->name), "Bot 1");
  EXPECT_EQ(std::string(g_world.players[1]->name), "Bot 2");
  EXPECT_TRUE(g_world.players[1]->isBot);
  EXPECT_EQ(g_world.asteroidCount, 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(g_world.objects[i]->kind, KIND_ASTEROID);
  EXPECT_FALSE(g_world.objects[4]);
  EXPECT_EQ(g_world.matchRunning, 1);
  EXPECT_EQ(g_world.humanCount, 0);
  EXPECT_EQ(state.period, 14000u);
  EXPECT_EQ(state.asteroidCountdown, 10000);
  EXPECT_EQ(g_server_settings.GAME_TYPE, 1);
}

TEST_F(SimulationTest, OnePlayerServerPlaysTypeZeroAndBotsStopAt32) {
  g_server_settings.MAX_NUMBER_OF_PLAYERS = 1;
  g_server_settings.GAME_TYPE = 2;
  g_server_settings.NUM_BOTS = 40;
  g_server_settings.START_ASTEROIDS = 1000000;
  g_server_settings.GAME_SLEEP = 0;
  SimulationState state;
  start_quietly(state);
  EXPECT_EQ(g_server_settings.GAME_TYPE, 0);
  for (int slot = 0; slot < MAX_PLAYERS; ++slot) {
    ASSERT_TRUE(g_world.players[slot]);
    EXPECT_EQ(std::string(g_world.players[slot]->name), "Bot " + std::to_string(slot + 1));
  }
  EXPECT_LE(g_world.asteroidCount, 256);
  EXPECT_GT(state.period, 0u);
}

TEST_F(SimulationTest, NothingAdvancesWithoutHumans) {
  g_server_settings.NUM_BOTS = 1;
  SimulationState state;
  start_quietly(state);
  const int marker = place_marker();
  run(state, 2000);
  EXPECT_EQ(g_world.objects[marker]->position.x, 0.0f);
  EXPECT_EQ(g_world.asteroidCount, 3);
  EXPECT_EQ(state.asteroidCountdown, 10000);
  EXPECT_EQ(state.stepAccumulator, 0);
}

TEST_F(SimulationTest, FirstTimedAsteroidComesAfter1000Iterations) {
  SimulationState state;
  start_quietly(state);
  join_human();
  run(state, 999);
  EXPECT_EQ(g_world.asteroidCount, 3);
  run(state, 1);
  EXPECT_EQ(g_world.asteroidCount, 4);
  EXPECT_EQ(state.asteroidCountdown, 10000);  // type 1: the interval never shrinks
  EXPECT_FLOAT_EQ(g_world.botRatio, 0.25f);
}

TEST_F(SimulationTest, DifficultyRisesInTypeZero) {
  g_server_settings.GAME_TYPE = 0;
  SimulationState state;
  start_quietly(state);
  join_human();
  run(state, 99);
  EXPECT_EQ(state.asteroidInterval, 10000);
  EXPECT_FLOAT_EQ(g_world.botRatio, 0.25f);
  run(state, 1);
  EXPECT_EQ(state.asteroidInterval, 9990);
  EXPECT_FLOAT_EQ(g_world.botRatio, 0.252f);
  run(state, 900);
  // At iteration 1000 the asteroid came before that iteration's shrink.
  EXPECT_EQ(state.asteroidInterval, 9900);
  EXPECT_EQ(state.asteroidCountdown, 9910);
  EXPECT_NEAR(g_world.botRatio, 0.27f, 1e-5);
  EXPECT_EQ(g_world.asteroidCount, 4);
}

TEST_F(SimulationTest, DifficultyStopsAtItsLimits) {
  g_server_settings.GAME_TYPE = 0;
  g_server_settings.BOT_RATIO_INCREASE = 0.3f;
  g_server_settings.MIN_ASTEROID_TIME = 9950;
  SimulationState state;
  start_quietly(state);
  join_human();
  run(state, 300);
  EXPECT_FLOAT_EQ(g_world.botRatio, 1.0f);
  EXPECT_EQ(state.asteroidInterval, 9970);
  run(state, 500);
  EXPECT_EQ(g_world.botRatio, 1.0f);
  EXPECT_EQ(state.asteroidInterval, 9950);
}

TEST_F(SimulationTest, GameSleepSetsHowOftenTheWorldSteps) {
  g_server_settings.GAME_SLEEP = 5;
  SimulationState state;
  start_quietly(state);
  join_human();
  const int marker = place_marker();
  run(state, 10);
  EXPECT_NEAR(g_world.objects[marker]->position.x, 0.05f, 1e-6);

  g_server_settings.GAME_SLEEP = 25;  // more than 10: still one step per iteration
  run(state, 10);
  EXPECT_NEAR(g_world.objects[marker]->position.x, 0.15f, 1e-6);
  EXPECT_EQ(state.stepAccumulator, 150);
}

TEST_F(SimulationTest, WorldStepExpiresObjectsAndGrowsNukeExplosions) {
  auto rock = std::make_unique<WorldObject>();
  init_object(*rock, KIND_ASTEROID, 0, {5, 5, 5}, {}, {}, 0.3f, 10.8f);
  g_world.objects[100] = std::move(rock);
  const int blast = place_marker(KIND_NUKE_EXPLOSION);
  g_world.objects[blast]->lifetime = 3;
  const int shot = place_marker(KIND_SHOT);
  g_world.objects[shot]->lifetime = 1;
  world_step();
  EXPECT_FALSE(g_world.objects[shot]);
  EXPECT_NEAR(g_world.objects[blast]->size, 0.13f, 1e-6);
  EXPECT_EQ(g_world.objects[blast]->lifetime, 2);
  world_step();
  world_step();
  EXPECT_FALSE(g_world.objects[blast]);
  EXPECT_TRUE(g_world.objects[100]);  // rocks never expire
}

TEST_F(SimulationTest, DeathmatchStandsStillThenRestarts) {
  g_server_settings.GAME_TYPE = 2;
  g_server_settings.NUM_BOTS = 1;
  SimulationState state;
  start_quietly(state);
  const int human = join_human();
  const int marker = place_marker();
  Ship& winner = *g_world.players[human];
  Ship& bot = *g_world.players[0];
  winner.score = 20;
  bot.score = 7;
  bot.nukes = 0;

  run(state, 1);  // the winning step still completes
  EXPECT_EQ(g_world.matchRunning, 0);
  const float frozen = g_world.objects[marker]->position.x;
  EXPECT_NEAR(frozen, 0.01f, 1e-6);
  run(state, 498);
  EXPECT_EQ(g_world.matchRunning, 0);
  EXPECT_EQ(g_world.objects[marker]->position.x, frozen);
  EXPECT_EQ(winner.score, 20);

  run(state, 1);
  EXPECT_EQ(g_world.matchRunning, 1);
  EXPECT_EQ(winner.score, 0);
  EXPECT_EQ(bot.score, 0);
  EXPECT_EQ(bot.nukes, 2);
  EXPECT_EQ(winner.lives, -1);
  EXPECT_EQ(g_world.asteroidCount, 3);
  int objects = 0;
  for (const auto& o : g_world.objects) objects += o ? 1 : 0;
  EXPECT_EQ(objects, 3);  // the marker is gone with the old match
  EXPECT_EQ(state.restartCountdown, RESTART_ITERATIONS);
}

TEST_F(SimulationTest, OtherGameTypesHaveNoMatchEnd) {
  SimulationState state;
  start_quietly(state);
  const int human = join_human();
  g_world.players[human]->score = 500;
  run(state, 10);
  EXPECT_EQ(g_world.matchRunning, 1);
}

TEST_F(SimulationTest, StopWorldRemovesEverythingAndDeletesEveryone) {
  g_server_settings.NUM_BOTS = 2;
  SimulationState state;
  start_quietly(state);
  join_human();
  testing::internal::CaptureStdout();
  stop_world();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Deleting Player 0\nDeleting Player 1\nDeleting Player 2\n");
  EXPECT_EQ(g_world.humanCount, 0);
  EXPECT_EQ(g_world.asteroidCount, 0);
  for (const auto& p : g_world.players) EXPECT_FALSE(p);
}

// The start callback's view of the world.
struct StartProbe {
  std::atomic<int> calls{0};
  int asteroids = -1;
  bool lockFree = false;
};

void on_started(void* context) {
  auto* probe = static_cast<StartProbe*>(context);
  std::unique_lock<std::mutex> lock(world_lock(), std::try_to_lock);
  probe->lockFree = lock.owns_lock();
  if (lock.owns_lock()) probe->asteroids = g_world.asteroidCount;
  ++probe->calls;
}

// Runs the thread until `stop_after` has passed, then stops it; true when it
// ended within the time limit.
bool run_thread(StartProbe& probe, std::chrono::milliseconds stop_after) {
  testing::internal::CaptureStdout();
  auto done =
      std::async(std::launch::async, [&] { simulation_thread(g_stop, on_started, &probe); });
  std::this_thread::sleep_for(stop_after);
  g_stop = 1;
  const bool ended = done.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  if (!ended) return false;  // the future's destructor still waits for it
  done.get();
  testing::internal::GetCapturedStdout();
  return true;
}

TEST_F(SimulationTest, ThreadStartsTheGameBeforeReportingAndStopsPromptly) {
  g_server_settings.NUM_BOTS = 1;
  StartProbe probe;
  ASSERT_TRUE(run_thread(probe, std::chrono::milliseconds(120)));
  EXPECT_EQ(probe.calls, 1);
  EXPECT_TRUE(probe.lockFree);
  EXPECT_EQ(probe.asteroids, 3);
  EXPECT_FALSE(g_world.players[0]);
  EXPECT_EQ(g_world.asteroidCount, 0);
}

TEST_F(SimulationTest, ThreadAdvancesTheWorldUnderTheLockOnceAHumanJoins) {
  g_server_settings.GAME_SLEEP = 1;  // 2 ms iterations, a step every tenth
  g_server_settings.NUM_BOTS = 2;
  testing::internal::CaptureStdout();
  StartProbe probe;
  std::thread sim([&] { simulation_thread(g_stop, on_started, &probe); });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (probe.calls == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  int marker = -1;
  {
    std::lock_guard<std::mutex> lock(world_lock());
    auto ship = std::make_unique<Ship>();
    add_player(*ship, 5, "Human", 0, Vector3f{});
    g_world.players[5] = std::move(ship);
    marker = place_marker();
  }
  bool moved = false;
  while (!moved && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::lock_guard<std::mutex> lock(world_lock());
    moved = g_world.objects[marker]->position.x != 0.0f;
  }
  g_stop = 1;
  sim.join();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(moved);
  EXPECT_NE(out.find("Deleting Player 5\n"), std::string::npos);
  EXPECT_EQ(g_world.humanCount, 0);
}

TEST_F(SimulationTest, ThreadStopsPromptlyFromALongSleep) {
  g_server_settings.GAME_SLEEP = 30000;  // one minute per iteration
  StartProbe probe;
  const auto begin = std::chrono::steady_clock::now();
  ASSERT_TRUE(run_thread(probe, std::chrono::milliseconds(50)));
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2));
  EXPECT_EQ(probe.calls, 1);
}

TEST_F(SimulationTest, ThreadToldToStopBeforeItStartsStillReports) {
  g_server_settings.NUM_BOTS = 3;
  g_stop = 1;
  StartProbe probe;
  testing::internal::CaptureStdout();
  simulation_thread(g_stop, on_started, &probe);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(probe.calls, 1);
  EXPECT_NE(out.find("Deleting Player 2\n"), std::string::npos);
  EXPECT_FALSE(g_world.players[0]);
  simulation_thread(g_stop, nullptr, nullptr);  // no callback: fine too
}

}  // namespace
}  // namespace zbx
