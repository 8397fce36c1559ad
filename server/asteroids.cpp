// New asteroids and the fragments of a hit one, within the count and
// total-size limits.
#include "asteroids.h"

#include <cmath>
#include <cstdlib>
#include <memory>

#include "motion.h"
#include "startup/settings.h"
#include "world.h"

namespace zbx {

namespace {

// ((r mod 50) - 25) / divisor, as a float: spins and velocities of new rocks.
float random_offset(float divisor) { return static_cast<float>(std::rand() % 50 - 25) / divisor; }

Vector3f random_spin() {
  Vector3f spin;
  spin.x = random_offset(50.0f);
  spin.y = random_offset(50.0f);
  spin.z = random_offset(50.0f);
  return spin;
}

float asteroid_mass(float size) { return size * size * size * 400.0f; }

}  // namespace

void new_asteroid() {
  if (g_world.asteroidCount >= MAX_ASTEROIDS ||
      g_world.asteroidTotalSize > g_server_settings.MAX_TOTAL_ASTEROID_SIZE) {
    return;
  }
  const int slot = find_free_object_slot();
  if (slot < 0) return;
  const Vector3f position = random_clear_position();
  const Vector3f spin = random_spin();
  Vector3f velocity;
  velocity.x = random_offset(6000.0f);
  velocity.y = random_offset(6000.0f);
  velocity.z = random_offset(6000.0f);
  const float size =
      (MAX_ASTEROID_SIZE - MIN_ASTEROID_SIZE) * (static_cast<float>(std::rand() % 50 + 1) / 50.0f) +
      MIN_ASTEROID_SIZE;
  auto asteroid = std::make_unique<WorldObject>();
  init_object(*asteroid, KIND_ASTEROID, 0, position, velocity, spin, size, asteroid_mass(size));
  g_world.objects[slot] = std::move(asteroid);
}

void split_asteroid(int slot) {
  if (slot < 0 || slot >= MAX_OBJECTS || !g_world.objects[slot]) return;
  const WorldObject parent = *g_world.objects[slot];  // copied: creation may not touch it
  const int n = 2 + std::rand() % 2;
  if (g_world.asteroidCount >= MAX_ASTEROIDS) return;
  const double k = 1.0 / static_cast<double>(std::sqrt(static_cast<float>(n)));
  float sx = 0.0f;
  float syz[2] = {0.0f, 0.0f};
  for (int i = 0; i < n && g_world.asteroidCount < MAX_ASTEROIDS; ++i) {
    const int free_slot = find_free_object_slot();
    if (free_slot < 0) continue;
    const Vector3f spin = random_spin();
    const double jitter_x = (std::rand() % 50 - 25) / 6000.0;
    const double jitter_y = (std::rand() % 50 - 25) / 6000.0;
    const double jitter_z = (std::rand() % 50 - 25) / 6000.0;
    const float s = static_cast<float>((1.0 - (std::rand() % 20) / 50.0) *
                                       (static_cast<double>(parent.size) * 0.8 * k));
    // A degenerate parent (size 0 or not finite) gets no compensation rather
    // than a NaN velocity.
    const bool can_compensate = std::isfinite(s) && s > 0.0f;
    auto compensation = [&](float sum) { return can_compensate ? sum / s : 0.0f; };
    Vector3f velocity;
    velocity.x = static_cast<float>(parent.velocity.x + jitter_x) - compensation(sx);
    velocity.y = static_cast<float>(parent.velocity.y + jitter_y) - compensation(syz[0]);
    velocity.z = static_cast<float>(parent.velocity.z + jitter_z) - compensation(syz[1]);
    auto fragment = std::make_unique<WorldObject>();
    init_object(*fragment, KIND_ASTEROID, 0, parent.position, velocity, spin, s, asteroid_mass(s));
    g_world.objects[free_slot] = std::move(fragment);
    if (can_compensate) {
      sx += (velocity.x - parent.velocity.x) * s;
      syz[0] += (velocity.y - parent.velocity.y) * s;
      syz[1] += (velocity.z - parent.velocity.z) * s;
    }
  }
}

}  // namespace zbx
