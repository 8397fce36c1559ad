// Asteroids: new rocks, fragments, and the count and total-size limits.
#include "asteroids.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

#include "motion.h"
#include "rules_test_support.h"
#include "startup/settings.h"
#include "world.h"

namespace zbx {
namespace {

class AsteroidsTest : public test::FreshWorldTest<5> {
 protected:
  static int place_rock(float size, Vector3f velocity = {}) {
    const int slot = find_free_object_slot();
    auto rock = std::make_unique<WorldObject>();
    init_object(*rock, KIND_ASTEROID, 0, {1, 2, 3}, velocity, {}, size, size * size * size * 400);
    g_world.objects[slot] = std::move(rock);
    return slot;
  }

  static std::vector<const WorldObject*> asteroids_except(int slot) {
    std::vector<const WorldObject*> out;
    for (int i = 0; i < MAX_OBJECTS; ++i) {
      const WorldObject* o = g_world.objects[i].get();
      if (o && i != slot && o->kind == KIND_ASTEROID) out.push_back(o);
    }
    return out;
  }
};

TEST_F(AsteroidsTest, NewAsteroidHasItsFiguresWithinTheirRanges) {
  for (int i = 0; i < 40; ++i) {
    reset_world();
    new_asteroid();
    ASSERT_TRUE(g_world.objects[0]);
    const WorldObject& a = *g_world.objects[0];
    EXPECT_EQ(a.kind, KIND_ASTEROID);
    EXPECT_EQ(a.owner, 0);
    EXPECT_EQ(a.lifetime, -1);
    EXPECT_GE(a.size, 0.161f);
    EXPECT_LE(a.size, 0.7f);
    EXPECT_FLOAT_EQ(a.mass, a.size * a.size * a.size * 400);
    for (float spin : {a.spin.x, a.spin.y, a.spin.z}) {
      EXPECT_GE(spin, -0.5f);
      EXPECT_LE(spin, 0.48f);
    }
    for (float v : {a.velocity.x, a.velocity.y, a.velocity.z}) {
      EXPECT_GE(v, -25.0f / 6000);
      EXPECT_LE(v, 24.0f / 6000);
    }
    EXPECT_EQ(g_world.asteroidCount, 1);
    EXPECT_EQ(g_world.asteroidTotalSize, a.size);
  }
}

TEST_F(AsteroidsTest, NewAsteroidsKeepClearOfShipsAndObjects) {
  auto ship = std::make_unique<Ship>();
  ship->lifetime = -1;
  ship->size = 0.2f;
  g_world.players[0] = std::move(ship);
  g_server_settings.MAX_TOTAL_ASTEROID_SIZE = 1000;
  for (int i = 0; i < 60; ++i) new_asteroid();
  ASSERT_EQ(g_world.asteroidCount, 60);
  // With this few obstacles the 20 attempts never all fail.
  for (int i = 0; i < 60; ++i) {
    const WorldObject& a = *g_world.objects[i];
    EXPECT_GE(torus_distance(a.position, {0, 0, 0}), 1.2f);
    for (int j = 0; j < i; ++j) {
      const WorldObject& earlier = *g_world.objects[j];
      EXPECT_GE(torus_distance(a.position, earlier.position), earlier.size + 0.3f);
    }
  }
}

TEST_F(AsteroidsTest, TotalSizeLimitStopsNewRocksButNotSplits) {
  place_rock(0.7f);
  g_world.asteroidTotalSize = 10.2f;
  new_asteroid();
  EXPECT_EQ(g_world.asteroidCount, 1);
  split_asteroid(0);
  EXPECT_GE(g_world.asteroidCount, 3);
  EXPECT_GT(g_world.asteroidTotalSize, 10.2f);

  // A total exactly at the maximum still admits one more.
  reset_world();
  g_world.asteroidTotalSize = 10.0f;
  new_asteroid();
  EXPECT_EQ(g_world.asteroidCount, 1);
  new_asteroid();
  EXPECT_EQ(g_world.asteroidCount, 1);
}

TEST_F(AsteroidsTest, CountLimitOf256HoldsForNewRocksAndSplits) {
  g_server_settings.MAX_TOTAL_ASTEROID_SIZE = 1e9f;
  for (int i = 0; i < 256; ++i) place_rock(0.7f);
  new_asteroid();
  split_asteroid(10);
  EXPECT_EQ(g_world.asteroidCount, 256);
  EXPECT_FALSE(g_world.objects[256]);
  remove_object(10);  // the shot still destroys the parent
  EXPECT_EQ(g_world.asteroidCount, 255);

  // One below the limit: a split stops after its first fragment.
  split_asteroid(20);
  EXPECT_EQ(g_world.asteroidCount, 256);
  EXPECT_TRUE(g_world.objects[10]);
  EXPECT_FALSE(g_world.objects[256]);
}

TEST_F(AsteroidsTest, FragmentSizesDependOnTheirNumber) {
  int seen[4] = {};
  for (unsigned seed = 1; seed <= 200; ++seed) {
    reset_world();
    std::srand(seed);
    const int parent = place_rock(0.7f, {0.001f, -0.002f, 0.003f});
    split_asteroid(parent);
    const auto fragments = asteroids_except(parent);
    const int n = static_cast<int>(fragments.size());
    ASSERT_TRUE(n == 2 || n == 3) << n;
    ++seen[n];
    const float low = n == 2 ? 0.245f : 0.2f;
    const float high = n == 2 ? 0.396f : 0.324f;
    for (const WorldObject* f : fragments) {
      EXPECT_GE(f->size, low);
      EXPECT_LE(f->size, high);
      EXPECT_EQ(f->position.y, 2.0f);
      EXPECT_FLOAT_EQ(f->mass, f->size * f->size * f->size * 400);
    }
    EXPECT_EQ(g_world.objects[parent]->size, 0.7f);  // parent left to the caller
    EXPECT_EQ(g_world.asteroidCount, n + 1);
  }
  EXPECT_GT(seen[2], 50);
  EXPECT_GT(seen[3], 50);
}

TEST_F(AsteroidsTest, FragmentsFlyApartAroundTheParentsCourse) {
  const Vector3f course{0.003f, 0.0f, -0.001f};
  for (unsigned seed = 1; seed <= 100; ++seed) {
    reset_world();
    std::srand(seed);
    const int parent = place_rock(0.6f, course);
    split_asteroid(parent);
    // Each fragment cancels the weighted deviation of those before it, so the
    // sum is only the last fragment's own jitter times its size.
    double sx = 0, sy = 0, sz = 0;
    float last_size = 0;
    for (const WorldObject* f : asteroids_except(parent)) {
      sx += (f->velocity.x - course.x) * f->size;
      sy += (f->velocity.y - course.y) * f->size;
      sz += (f->velocity.z - course.z) * f->size;
      last_size = f->size;
    }
    const double bound = 25.0 / 6000 * last_size + 1e-6;
    EXPECT_LE(std::fabs(sx), bound);
    EXPECT_LE(std::fabs(sy), bound);
    EXPECT_LE(std::fabs(sz), bound);
  }
}

TEST_F(AsteroidsTest, OneFreeSlotMakesOneFragment) {
  const int parent = place_rock(0.5f);
  for (int i = 1; i < MAX_OBJECTS - 1; ++i) {
    auto shot = std::make_unique<WorldObject>();
    init_object(*shot, KIND_SHOT, 0, {}, {}, {}, 0.01f, 0.05f);
    g_world.objects[i] = std::move(shot);
  }
  split_asteroid(parent);
  EXPECT_EQ(g_world.asteroidCount, 2);
  ASSERT_TRUE(g_world.objects[MAX_OBJECTS - 1]);
  EXPECT_EQ(g_world.objects[MAX_OBJECTS - 1]->kind, KIND_ASTEROID);
}

TEST_F(AsteroidsTest, DegenerateParentsGiveFiniteFragments) {
  split_asteroid(0);  // empty slot
  split_asteroid(-1);
  split_asteroid(MAX_OBJECTS);
  EXPECT_EQ(g_world.asteroidCount, 0);

  const int parent = place_rock(0.0f, {0.001f, 0, 0});
  split_asteroid(parent);
  for (const WorldObject* f : asteroids_except(parent)) {
    EXPECT_TRUE(std::isfinite(f->velocity.x) && std::isfinite(f->velocity.y) &&
                std::isfinite(f->velocity.z));
  }
}

}  // namespace
}  // namespace zbx
