// Asteroid creation and splitting, within the 256-asteroid and total-size
// limits. Expects the world lock held.
#pragma once

namespace zbx {

inline constexpr int MAX_ASTEROIDS = 256;
inline constexpr float MIN_ASTEROID_SIZE = 0.15f;  // smallest new asteroid; no split at or below
inline constexpr float MAX_ASTEROID_SIZE = 0.7f;

// One asteroid at a random clear position, unless a limit or a full table
// stops it.
void new_asteroid();
// Creates two or three fragments of the asteroid in that object slot; the
// caller removes the parent.
void split_asteroid(int slot);

}  // namespace zbx
