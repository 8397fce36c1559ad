// The simulation thread: start of a game, the paced world loop, timed
// asteroids, difficulty, deathmatch restarts and the stop sequence. The loop
// body and the pacing arithmetic are separate functions so they can be driven
// without threads or sleeping; all but pacing_step expect the world lock held.
#pragma once

#include <atomic>
#include <cstdint>

namespace zbx {

inline constexpr int RESTART_ITERATIONS = 500;  // iterations a won match stands still

// The loop's private state; times in the loop's time units unless noted.
struct SimulationState {
  std::uint64_t period = 20000;                        // microseconds per iteration
  std::uint64_t previousReading = 0;                   // microseconds since the thread started
  std::int32_t sleepDebt = 0;                          // periods still to sleep
  std::int32_t stepAccumulator = 0;                    // towards the next world step (10)
  std::int32_t difficultyAccumulator = 0;              // towards the next difficulty rise (1000)
  std::int32_t asteroidInterval = 0;                   // between timed asteroids
  std::int32_t asteroidCountdown = 0;                  // to the next timed asteroid
  std::int32_t restartCountdown = RESTART_ITERATIONS;  // iterations
};

// Result of one pacing decision.
struct PacingStep {
  std::int32_t debt;          // new sleep debt
  std::uint64_t sleepMicros;  // how long to sleep now (0: run at once)
};

// Counts the period boundaries between prev and now (prev clamped to now) and
// turns them into the new debt and the sleep: one boundary per iteration keeps
// the debt at 1; up to 10 are made up by running without sleep; 11 or more
// are given up.
PacingStep pacing_step(std::uint64_t prev, std::uint64_t now, std::uint64_t period,
                       std::int32_t debt);

// The start of a game: fresh loop state, empty tables, start asteroids, bots.
void start_game(SimulationState& state);
// One world step: every object, every ship, then the collision pass.
void world_step();
// The locked part of one loop iteration: step, timers, difficulty, restarts.
void simulation_iteration(SimulationState& state);
// Removes every object and deletes every player (server stop).
void stop_world();

// Thread body; returns after the stop sequence once `stop` is seen set.
// `started` (may be null) is called exactly once, after the start of the game
// is complete and with the world lock released, even when stopping at once.
void simulation_thread(const std::atomic<int>& stop, void (*started)(void* context), void* context);

}  // namespace zbx
