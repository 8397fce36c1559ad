// Motion: wrap-around, torus distances, offsets, turning and spawn positions.
#include "motion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <vector>

#include "rules_test_support.h"
#include "startup/settings.h"

namespace zbx {
namespace {

using MotionTest = test::FreshWorldTest<11>;

Matrix3f product(const Matrix3f& a, const Matrix3f& b) {
  Matrix3f out{};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      for (int k = 0; k < 3; ++k) out[i * 3 + j] += a[i * 3 + k] * b[k * 3 + j];
    }
  }
  return out;
}

void expect_matrix_near(const Matrix3f& actual, const Matrix3f& expected, float tolerance) {
  for (int i = 0; i < 9; ++i) EXPECT_NEAR(actual[i], expected[i], tolerance) << "entry " << i;
}

TEST_F(MotionTest, MoveWrapsJustPastAFaceButNotAtIt) {
  WorldObject o;
  o.position = {9.99f, 0.0f, -9.99f};
  o.velocity = {0.02f, 0.0f, -0.02f};
  move(o);
  EXPECT_NEAR(o.position.x, -9.99f, 1e-5);
  EXPECT_NEAR(o.position.z, 9.99f, 1e-5);

  WorldObject edge;
  edge.position = {10.0f, -10.0f, 10.0f};
  move(edge);
  EXPECT_EQ(edge.position.x, 10.0f);
  EXPECT_EQ(edge.position.y, -10.0f);

  // Landing exactly on a face keeps the coordinate there.
  WorldObject onto;
  onto.position = {9.5f, -9.5f, 0.0f};
  onto.velocity = {0.5f, -0.5f, 0.0f};
  move(onto);
  EXPECT_EQ(onto.position.x, 10.0f);
  EXPECT_EQ(onto.position.y, -10.0f);

  g_server_settings.WORLD_WIDTH = 12.5f;
  WorldObject wide;
  wide.position = {12.4f, 0, 0};
  wide.velocity = {0.2f, 0, 0};
  move(wide);
  EXPECT_NEAR(wide.position.x, -12.4f, 1e-5);
}

TEST_F(MotionTest, TorusDistanceTakesTheShortWayAcrossFaces) {
  EXPECT_NEAR(torus_distance({-9.9f, 1, 1}, {9.9f, 1, 1}), 0.2f, 1e-5);
  EXPECT_NEAR(torus_distance({1, -9.9f, 1}, {1, 9.9f, 1}), 0.2f, 1e-5);
  EXPECT_NEAR(torus_distance({-9.9f, 9.8f, 0}, {9.9f, -9.9f, 0}),
              std::sqrt(0.2f * 0.2f + 0.3f * 0.3f), 1e-5);
  EXPECT_NEAR(torus_distance({0, 0, 0}, {3, 4, 0}), 5.0f, 1e-6);
  // The farthest two points can be is W on every axis.
  EXPECT_NEAR(torus_distance({-5, -5, -5}, {5, 5, 5}), std::sqrt(300.0f), 1e-4);
  EXPECT_EQ(torus_distance({2, -7, 9}, {-8, 3, 1}), torus_distance({-8, 3, 1}, {2, -7, 9}));
}

TEST_F(MotionTest, LocalOffsetUsesTheNearestCopyInTheShipsFrame) {
  Ship ship;
  ship.position = {1, 2, 3};
  Vector3f ahead = local_offset(ship, {1, 2, 2.5f});
  EXPECT_NEAR(ahead.x, 0.0f, 1e-6);
  EXPECT_NEAR(ahead.y, 0.0f, 1e-6);
  EXPECT_NEAR(ahead.z, -0.5f, 1e-6);

  ship.position = {0, 0, -9.8f};
  Vector3f across = local_offset(ship, {0, 0, 9.9f});  // 0.3 behind through the face
  EXPECT_NEAR(across.z, -0.3f, 1e-5);
  ship.position = {9.8f, 0, 0};
  across = local_offset(ship, {-9.9f, 0, 0});
  EXPECT_NEAR(across.x, 0.3f, 1e-5);

  // Turned 90 degrees about its own y axis, the world's +x lies ahead.
  ship.position = {0, 0, 0};
  rotate_y(ship.orientation, 2, 90.0f);
  Vector3f turned = local_offset(ship, {2, 0, 0});
  EXPECT_NEAR(turned.x, 0.0f, 1e-6);
  EXPECT_NEAR(turned.z, -2.0f, 1e-6);
}

TEST_F(MotionTest, RotationModesAndBadAngles) {
  Matrix3f pre = IDENTITY_MATRIX;
  rotate_z(pre, 2, 30.0f);
  Matrix3f turned = pre;
  rotate_x(turned, 2, 40.0f);  // R * M
  Matrix3f post = pre;
  rotate_x(post, 1, 40.0f);  // M * R
  Matrix3f r = IDENTITY_MATRIX;
  rotate_x(r, 2, 40.0f);
  expect_matrix_near(turned, product(r, pre), 1e-6f);
  expect_matrix_near(post, product(pre, r), 1e-6f);

  Matrix3f same = pre;
  rotate_y(same, 0, 40.0f);
  rotate_y(same, 3, 40.0f);
  EXPECT_EQ(same, pre);
  rotate_y(same, 2, std::numeric_limits<float>::infinity());
  rotate_z(same, 2, std::nanf(""));
  EXPECT_EQ(same, pre);
}

// Turns reuse the cosine and sine of recent angles: every turn, remembered,
// evicted or fresh, must equal the one computed from scratch.
TEST_F(MotionTest, RememberedTurnsEqualFreshOnes) {
  Matrix3f start = IDENTITY_MATRIX;
  rotate_z(start, 2, 30.0f);
  rotate_x(start, 2, 20.0f);
  std::vector<float> angles;
  for (int n = 0; n < 3000; ++n)
    angles.push_back(static_cast<float>(std::rand() % 20001 - 10000) / 997.0f);
  for (int pass = 0; pass < 2; ++pass) {
    for (float degrees : angles) {
      const double radians = static_cast<double>(degrees) * 0.017453292519943295;
      const float c = static_cast<float>(std::cos(radians));
      const float s = static_cast<float>(std::sin(radians));
      const Matrix3f r{c, 0, s, 0, 1, 0, -s, 0, c};
      Matrix3f turned = start;
      rotate_y(turned, 2, degrees);
      ASSERT_EQ(turned, product(r, start)) << degrees;
      turned = start;
      rotate_y(turned, 1, degrees);
      ASSERT_EQ(turned, product(start, r)) << degrees;
    }
  }
}

TEST_F(MotionTest, SeventyFiveStepsOfTurningMakeNinetyDegrees) {
  Ship ship;
  ship.lifetime = -1;
  ship.spin = {1, 0, 0};
  for (int i = 0; i < 75; ++i) turn_ship(ship);
  // Nose (minus local z) now points along the former local +y.
  EXPECT_NEAR(-ship.orientation[6], 0.0f, 1e-4);
  EXPECT_NEAR(-ship.orientation[7], 1.0f, 1e-4);
  EXPECT_NEAR(-ship.orientation[8], 0.0f, 1e-4);
  expect_matrix_near(product(ship.orientation, ship.inverseOrientation), IDENTITY_MATRIX, 1e-5f);

  // Mixed turning for a long while: the two stay inverse of each other.
  ship.spin = {1, -1, 1};
  for (int i = 0; i < 5000; ++i) turn_ship(ship);
  expect_matrix_near(product(ship.orientation, ship.inverseOrientation), IDENTITY_MATRIX, 1e-3f);
}

TEST_F(MotionTest, BotsTurnAtTheirRatioAndAZeroRatioIsHarmless) {
  Ship bot;
  bot.isBot = 1;
  bot.spin = {0, 1, 0};
  g_world.botRatio = 0.5f;
  for (int i = 0; i < 150; ++i) turn_ship(bot);  // 150 * 0.6 degrees
  EXPECT_NEAR(bot.orientation[0], 0.0f, 1e-4);
  g_world.botRatio = 0.0f;
  bot.thrustInput = {0, 0, 3 * 0.0f};
  turn_ship(bot);
  for (float v : bot.orientation) EXPECT_TRUE(std::isfinite(v));
  EXPECT_TRUE(std::isfinite(bot.thrustVector.x));
}

TEST_F(MotionTest, WarpingOrDeadShipsNeitherTurnNorThrustButStillMove) {
  Ship ship;
  ship.spin = {1, 1, 1};
  ship.thrustInput = {0, 0, 1.05f};
  ship.velocity = {0.02f, 0, 0};
  ship.position = {9.99f, 0, 0};
  ship.warpTimer = 10;
  turn_ship(ship);
  move(ship);
  EXPECT_EQ(ship.orientation, IDENTITY_MATRIX);
  EXPECT_EQ(ship.thrustVector.z, 0.0f);
  EXPECT_NEAR(ship.position.x, -9.99f, 1e-5);

  ship.warpTimer = 0;
  ship.lifetime = 250;
  turn_ship(ship);
  EXPECT_EQ(ship.orientation, IDENTITY_MATRIX);

  ship.lifetime = -1;
  turn_ship(ship);
  EXPECT_NE(ship.orientation, IDENTITY_MATRIX);
}

TEST_F(MotionTest, ThrustPushesAlongTheNose) {
  Ship ship;
  ship.thrustInput = {0, 0, 1.05f};
  update_thrust_vector(ship);
  EXPECT_NEAR(ship.thrustVector.x, 0.0f, 1e-9);
  EXPECT_NEAR(ship.thrustVector.z, -0.00105f, 1e-9);
  rotate_x(ship.orientation, 2, 90.0f);  // nose up
  update_thrust_vector(ship);
  EXPECT_NEAR(ship.thrustVector.y, 0.00105f, 1e-8);
  ship.thrustInput = {std::numeric_limits<float>::infinity(), 0, 0};
  update_thrust_vector(ship);
  EXPECT_TRUE(std::isfinite(ship.thrustVector.x));
}

bool on_grid(float v, float w) {
  const float k = v / w * 25.0f;
  return std::fabs(k - std::round(k)) < 1e-3f && k >= -25.0f && k <= 24.0f;
}

TEST_F(MotionTest, ClearPositionKeepsAwayFromObjectsAndFlyingShips) {
  // A few obstacles; every returned spot keeps its distance from them.
  for (int i = 0; i < 6; ++i) {
    auto rock = std::make_unique<WorldObject>();
    init_object(*rock, KIND_ASTEROID, 0, {i * 3.0f - 8, 0, 0}, {}, {}, 0.7f, 1);
    g_world.objects[i * 10] = std::move(rock);
  }
  auto ship = std::make_unique<Ship>();
  ship->position = {0, 5, 5};
  ship->size = 0.2f;
  ship->lifetime = -1;
  g_world.players[3] = std::move(ship);
  for (int trial = 0; trial < 200; ++trial) {
    const Vector3f p = random_clear_position();
    EXPECT_TRUE(on_grid(p.x, 10) && on_grid(p.y, 10) && on_grid(p.z, 10));
    for (const auto& o : g_world.objects) {
      if (!o) continue;
      EXPECT_GE(torus_distance(p, o->position), o->size + 0.3f);
    }
    EXPECT_GE(torus_distance(p, {0, 5, 5}), 1.2f);
  }
}

TEST_F(MotionTest, CrowdedWorldStillGivesAPositionAndSeedsRepeat) {
  // Every point of the world is within some obstacle's reach.
  auto blob = std::make_unique<WorldObject>();
  blob->size = 100.0f;
  g_world.objects[0] = std::move(blob);
  std::srand(3);
  const Vector3f first = random_clear_position();
  EXPECT_TRUE(on_grid(first.x, 10) && on_grid(first.y, 10) && on_grid(first.z, 10));
  // It made all 20 attempts: the 20th candidate is what a fresh run draws last.
  std::srand(3);
  Vector3f last;
  for (int i = 0; i < 20; ++i) {
    last.x = 10.0f * (static_cast<float>(std::rand() % 50 - 25) / 25.0f);
    last.y = 10.0f * (static_cast<float>(std::rand() % 50 - 25) / 25.0f);
    last.z = 10.0f * (static_cast<float>(std::rand() % 50 - 25) / 25.0f);
  }
  EXPECT_EQ(first.x, last.x);
  EXPECT_EQ(first.y, last.y);
  EXPECT_EQ(first.z, last.z);
}

}  // namespace
}  // namespace zbx
