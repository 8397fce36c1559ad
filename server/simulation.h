// The simulation thread: start of a game, the paced world loop, timed
// asteroids, difficulty, deathmatch restarts and the stop sequence.
#pragma once

namespace zbx {

// Thread body; returns after the stop sequence once g_server_stop is seen.
// `started` (may be null) is set once the start of a game is complete.
void simulation_thread(void (*started)(void* context), void* context);

}  // namespace zbx
