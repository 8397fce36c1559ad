// One world step over a full table: 256 asteroids, 256 other objects and 32
// ships (half of them bots). Goal: median at most 100 µs, the collision pass
// at most 40 µs.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "asteroids.h"
#include "motion.h"
#include "rules.h"
#include "simulation.h"
#include "world.h"
#include "startup/settings.h"

namespace {

using namespace zbx;

float random_coordinate() { return static_cast<float>(std::rand() % 2000 - 1000) / 100.0f; }

Vector3f random_point() { return {random_coordinate(), random_coordinate(), random_coordinate()}; }

Vector3f random_velocity() {
  return {static_cast<float>(std::rand() % 50 - 25) / 6000.0f,
          static_cast<float>(std::rand() % 50 - 25) / 6000.0f,
          static_cast<float>(std::rand() % 50 - 25) / 6000.0f};
}

void place(int slot, int kind, int owner, float size, float mass, int lifetime) {
  auto o = std::make_unique<WorldObject>();
  init_object(*o, kind, owner, random_point(), random_velocity(), {0.3f, -0.2f, 0.1f}, size, mass);
  o->lifetime = lifetime;
  g_world.objects[slot] = std::move(o);
}

void fill_world_loudly() {
  std::srand(1234);
  reset_world();
  g_server_settings.MAX_TOTAL_ASTEROID_SIZE = 1e9f;
  g_world.matchRunning = 1;
  int slot = 0;
  for (int i = 0; i < 256; ++i, ++slot) {
    const float size = 0.15f + static_cast<float>(std::rand() % 50) / 90.0f;
    place(slot, KIND_ASTEROID, 0, size, size * size * size * 400, -1);
  }
  // Long-lived shots, explosions and powerups fill the rest of the table.
  for (int i = 0; i < 128; ++i, ++slot) place(slot, KIND_SHOT, i % 32, 0.01f, 0.05f, 100000);
  for (int i = 0; i < 64; ++i, ++slot) place(slot, KIND_SMALL_EXPLOSION, 1, 1.0f, 0, 100000);
  for (int i = 0; i < 64; ++i, ++slot) {
    place(slot, KIND_SHIELD_POWERUP + i % 4, 0, 0.1f, 0, 100000);
  }
  for (int p = 0; p < MAX_PLAYERS; ++p) {
    auto ship = std::make_unique<Ship>();
    add_player(*ship, p, p < 16 ? "Bot" : "Human", p < 16 ? 1 : 0, random_point());
    ship->spin = {1, 0, -1};
    ship->thrustInput = {0, 0, 1.05f};
    g_world.players[p] = std::move(ship);
  }
}

// Builds the world with the "Adding Player" lines sent to /dev/null, so they
// do not mix with the benchmark's report.
void fill_world() {
  std::fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  const int null = open("/dev/null", O_WRONLY);
  if (null >= 0) dup2(null, STDOUT_FILENO);
  fill_world_loudly();
  std::fflush(stdout);
  if (saved >= 0) dup2(saved, STDOUT_FILENO);
  if (null >= 0) close(null);
  if (saved >= 0) close(saved);
}

void BM_WorldStep(benchmark::State& state) {
  int steps = 0;
  fill_world();
  for (auto _ : state) {
    if (++steps == 64) {  // keep the table full as shots and rocks get used up
      state.PauseTiming();
      fill_world();
      steps = 0;
      state.ResumeTiming();
    }
    world_step();
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_WorldStep)->Unit(benchmark::kMicrosecond)->Repetitions(10)->ReportAggregatesOnly(true);

// The parts of a step, to see where the time goes.
void BM_MoveAndTurnFullTable(benchmark::State& state) {
  fill_world();
  for (auto _ : state) {
    for (auto& object : g_world.objects) {
      move(*object);
      turn_object(*object);
    }
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_MoveAndTurnFullTable)->Unit(benchmark::kMicrosecond);

void BM_CollisionPassFullTable(benchmark::State& state) {
  int passes = 0;
  fill_world();
  for (auto _ : state) {
    if (++passes == 64) {
      state.PauseTiming();
      fill_world();
      passes = 0;
      state.ResumeTiming();
    }
    collision_pass();
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_CollisionPassFullTable)->Unit(benchmark::kMicrosecond);

void BM_RandomClearPositionFullTable(benchmark::State& state) {
  fill_world();
  for (auto _ : state) benchmark::DoNotOptimize(random_clear_position());
}
BENCHMARK(BM_RandomClearPositionFullTable)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
