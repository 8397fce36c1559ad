// The simulation thread and its paced loop.
#include "simulation.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>

#include "asteroids.h"
#include "motion.h"
#include "rules.h"
#include "startup/settings.h"
#include "world.h"

namespace zbx {

namespace {

constexpr std::int32_t STEP_UNITS = 10;
constexpr std::int32_t DIFFICULTY_UNITS = 1000;
constexpr int MAX_CATCH_UP = 10;  // boundaries made up by running without sleep
// Accumulators stop here instead of overflowing when GAME_SLEEP is large.
constexpr std::int64_t ACCUMULATOR_LIMIT = std::int64_t{1} << 30;
// Longest single nap, so a stop request is seen promptly however long the sleep.
constexpr auto NAP = std::chrono::milliseconds(10);

std::int32_t saturating_add(std::int32_t a, std::int64_t b) {
  return static_cast<std::int32_t>(
      std::clamp(static_cast<std::int64_t>(a) + b, -ACCUMULATOR_LIMIT, ACCUMULATOR_LIMIT));
}

// Calls new_asteroid `count` times; calls past the count limit could not
// create anything, so a huge count costs nothing.
void spawn_asteroids(int count) {
  count = std::min(count, MAX_ASTEROIDS);
  for (int i = 0; i < count; ++i) new_asteroid();
}

int free_player_slot() {
  for (int slot = 0; slot < MAX_PLAYERS; ++slot) {
    if (!g_world.players[slot]) return slot;
  }
  return -1;
}

void add_bots(int count) {
  for (int k = 1; k <= count; ++k) {
    const int slot = free_player_slot();
    if (slot < 0) break;  // every later bot would be skipped as well
    char name[20];
    std::snprintf(name, sizeof name, "Bot %d", k);
    auto bot = std::make_unique<Ship>();
    add_player(*bot, slot, name, 1, random_clear_position());
    g_world.players[slot] = std::move(bot);
  }
}

void start_new_match(SimulationState& state) {
  g_world.matchRunning = 1;
  clear_objects();
  for (auto& ship : g_world.players) {
    if (ship) reset_ship(*ship);
  }
  state.restartCountdown = RESTART_ITERATIONS;
  spawn_asteroids(g_server_settings.START_ASTEROIDS);
}

std::uint64_t micros_since(std::chrono::steady_clock::time_point start) {
  const auto elapsed = std::chrono::steady_clock::now() - start;
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count());
}

// Sleeps in short naps, returning early once the server is told to stop.
void sleep_unless_stopped(const std::atomic<int>& stop, std::uint64_t micros) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::microseconds(micros);
  while (!stop.load()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(deadline - now, NAP));
  }
}

}  // namespace

PacingStep pacing_step(std::uint64_t prev, std::uint64_t now, std::uint64_t period,
                       std::int32_t debt) {
  if (period == 0) period = 1;
  prev = std::min(prev, now);
  const std::uint32_t n =
      static_cast<std::uint32_t>(now / period) - static_cast<std::uint32_t>(prev / period);
  const std::int64_t change = n <= MAX_CATCH_UP ? 1 - static_cast<std::int64_t>(n) : 1;
  const std::int64_t limit = std::numeric_limits<std::int32_t>::max();
  const std::int32_t newDebt = static_cast<std::int32_t>(
      std::clamp(static_cast<std::int64_t>(debt) + change, -limit, limit));
  const std::uint64_t sleep = newDebt > 0 ? static_cast<std::uint64_t>(newDebt) * period : 0;
  return PacingStep{newDebt, sleep};
}

void start_game(SimulationState& state) {
  ServerSettings& s = g_server_settings;
  state = SimulationState{};
  g_world.matchRunning = 1;
  state.asteroidInterval = s.NEW_ASTEROID_TIME;
  state.asteroidCountdown = s.NEW_ASTEROID_TIME;
  g_world.asteroidCount = 0;
  g_world.asteroidTotalSize = 0.0f;
  g_world.botRatio = s.START_BOT_RATIO;
  for (auto& ship : g_world.players) ship.reset();
  for (auto& object : g_world.objects) object.reset();
  g_world.humanCount = 0;  // the player table is empty now
  if (s.MAX_NUMBER_OF_PLAYERS == 1) s.GAME_TYPE = 0;
  // A non-positive GAME_SLEEP would divide by zero or sleep for ages.
  state.period = static_cast<std::uint64_t>(std::max(s.GAME_SLEEP, 1)) * 2000u;
  spawn_asteroids(s.START_ASTEROIDS);
  add_bots(s.NUM_BOTS);
}

void world_step() {
  const ServerSettings& s = g_server_settings;
  for (int slot = 0; slot < MAX_OBJECTS; ++slot) {
    WorldObject* object = g_world.objects[slot].get();
    if (!object) continue;
    move(*object);
    turn_object(*object);
    if (object->lifetime > 0) {
      if (object->kind == KIND_NUKE_EXPLOSION) object->size += s.NUKE_EXPLOSTION_GROWTH_SPEED;
      if (--object->lifetime == 0) remove_object(slot);
    }
  }
  for (int slot = 0; slot < MAX_PLAYERS; ++slot) {
    if (!g_world.players[slot]) continue;
    update_ship(*g_world.players[slot]);
    const Ship* ship = g_world.players[slot].get();
    if (ship && s.GAME_TYPE == 2 && ship->score >= s.MAX_KILLS) g_world.matchRunning = 0;
  }
  collision_pass();
  ++g_world.steps;
}

void simulation_iteration(SimulationState& state) {
  const ServerSettings& s = g_server_settings;
  if (g_world.humanCount > 0 && g_world.matchRunning == 1) {
    bool stepDue = false;
    bool difficultyDue = false;
    state.stepAccumulator = saturating_add(state.stepAccumulator, s.GAME_SLEEP);
    if (state.stepAccumulator >= STEP_UNITS) {
      stepDue = true;
      state.stepAccumulator -= STEP_UNITS;
    }
    state.difficultyAccumulator = saturating_add(state.difficultyAccumulator, s.GAME_SLEEP);
    if (state.difficultyAccumulator >= DIFFICULTY_UNITS) {
      difficultyDue = true;
      state.difficultyAccumulator -= DIFFICULTY_UNITS;
    }
    state.asteroidCountdown = saturating_add(state.asteroidCountdown, -std::int64_t{s.GAME_SLEEP});
    if (state.asteroidCountdown <= 0) {
      new_asteroid();
      state.asteroidCountdown = state.asteroidInterval;
    }
    if (stepDue) world_step();
    if (difficultyDue && s.GAME_TYPE == 0) {
      state.asteroidInterval =
          std::max(saturating_add(state.asteroidInterval, -std::int64_t{s.ASTEROID_TIME_SPEEDUP}),
                   s.MIN_ASTEROID_TIME);
      g_world.botRatio += s.BOT_RATIO_INCREASE;
      if (g_world.botRatio > s.MAX_BOT_RATIO) g_world.botRatio = s.MAX_BOT_RATIO;
    }
  }
  if (g_world.humanCount > 0 && g_world.matchRunning == 0) {
    if (--state.restartCountdown <= 0) start_new_match(state);
  }
}

void stop_world() {
  clear_objects();
  for (int slot = 0; slot < MAX_PLAYERS; ++slot) {
    if (g_world.players[slot]) delete_player(slot);
  }
}

void simulation_thread(const std::atomic<int>& stop, void (*started)(void* context),
                       void* context) {
  SimulationState state;
  const auto start = std::chrono::steady_clock::now();
  bool stopped = false;
  {
    std::lock_guard<std::mutex> lock(world_lock());
    start_game(state);
    if (stop.load()) {
      stop_world();
      stopped = true;
    }
  }
  if (started) started(context);
  while (!stopped) {
    const std::uint64_t now = micros_since(start);
    const PacingStep pace = pacing_step(state.previousReading, now, state.period, state.sleepDebt);
    state.sleepDebt = pace.debt;
    if (pace.sleepMicros > 0) sleep_unless_stopped(stop, pace.sleepMicros);
    std::lock_guard<std::mutex> lock(world_lock());
    if (!stop.load()) {
      simulation_iteration(state);
      state.previousReading = now;
    }
    if (stop.load()) {
      stop_world();
      stopped = true;
    }
  }
}

}  // namespace zbx
