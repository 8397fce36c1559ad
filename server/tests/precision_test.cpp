// Exact figures: which sums are formed in double and which in float, and the
// order in which new rocks and fragments draw their random numbers. Each case
// uses inputs for which the other precision gives a different float, so a
// slip in either direction shows up as an inequality, not as rounding noise.
#include <cmath>
#include <cstdlib>

#include "asteroids.h"
#include "rules_test_support.h"

namespace zbx::test {
namespace {

using PrecisionTest = RulesTest;

constexpr double DEG = 0.017453292519943295;

// Turned `degrees` about one local axis from the identity, as a rotation does.
Matrix3f turned(int axis, float degrees) {
  Matrix3f m = IDENTITY_MATRIX;
  if (axis == 0) rotate_x(m, 2, degrees);
  if (axis == 1) rotate_y(m, 2, degrees);
  return m;
}

TEST_F(PrecisionTest, AnglesBecomeRadiansInDouble) {
  const float degrees = 53.2799988f;
  const Matrix3f m = turned(0, degrees);
  const float c = static_cast<float>(std::cos(static_cast<double>(degrees) * DEG));
  const float s = static_cast<float>(std::sin(static_cast<double>(degrees) * DEG));
  ASSERT_NE(c, std::cos(degrees * 0.017453292f));  // the inputs tell the two apart
  EXPECT_EQ(m[4], c);
  EXPECT_EQ(m[5], s);
  EXPECT_EQ(m[7], -s);
  EXPECT_EQ(m[8], c);
}

TEST_F(PrecisionTest, ThrustVectorIsSummedInDouble) {
  Ship& ship = add_ship(0, {0, 0, 0});
  ship.orientation = turned(0, 53.2799988f);
  ship.thrustInput = {0.35f, -0.35f, 1.05f};
  update_thrust_vector(ship);
  const Matrix3f& m = ship.orientation;
  const float got[3] = {ship.thrustVector.x, ship.thrustVector.y, ship.thrustVector.z};
  int floatWouldDiffer = 0;
  for (int col = 0; col < 3; ++col) {
    const double sum = static_cast<double>(0.35f) * m[col] +
                       static_cast<double>(-0.35f) * m[3 + col] +
                       static_cast<double>(1.05f) * m[6 + col];
    const float expected = static_cast<float>(-0.001 * sum);
    EXPECT_EQ(got[col], expected) << col;
    const float inFloat = -0.001f * (0.35f * m[col] + -0.35f * m[3 + col] + 1.05f * m[6 + col]);
    floatWouldDiffer += inFloat != expected ? 1 : 0;
  }
  EXPECT_EQ(floatWouldDiffer, 3);
}

TEST_F(PrecisionTest, ShotStartsAtOffsetsSummedInDouble) {
  Ship& ship = add_ship(0, {1.3f, -2.7f, 4.1f});
  ship.orientation = turned(1, 3.17999983f);
  fire_shot(ship);
  ASSERT_EQ(count_kind(KIND_SHOT), 1);
  const Vector3f got = g_world.objects[0]->position;
  const float p[3] = {1.3f, -2.7f, 4.1f};
  const float at[3] = {got.x, got.y, got.z};
  const Matrix3f& m = ship.orientation;
  int floatWouldDiffer = 0;
  for (int col = 0; col < 3; ++col) {
    const float expected =
        static_cast<float>(p[col] + 0.047 * m[col] + 0.022 * m[3 + col] - 0.06 * m[6 + col]);
    EXPECT_EQ(at[col], expected) << col;
    const float inFloat = p[col] + 0.047f * m[col] + 0.022f * m[3 + col] - 0.06f * m[6 + col];
    floatWouldDiffer += inFloat != expected ? 1 : 0;
  }
  EXPECT_GE(floatWouldDiffer, 2);
  // The velocity is a float sum: ship velocity - SHOT_SPEED * row 2.
  EXPECT_EQ(g_world.objects[0]->velocity.x, 0.0f - 0.14f * m[6]);
  EXPECT_EQ(g_world.objects[0]->velocity.z, 0.0f - 0.14f * m[8]);
}

TEST_F(PrecisionTest, WarpVelocityIsFormedInDouble) {
  Ship& ship = add_ship(0, {0, 0, 0});
  ship.orientation = turned(1, 0.529999971f);
  start_warp(ship);
  const float expected = static_cast<float>(-0.2 * static_cast<double>(ship.orientation[8]));
  ASSERT_NE(expected, -0.2f * ship.orientation[8]);
  EXPECT_EQ(ship.velocity.z, expected);
  EXPECT_EQ(ship.velocity.x, static_cast<float>(-0.2 * static_cast<double>(ship.orientation[6])));
}

TEST_F(PrecisionTest, BotFiguresFollowTheirOwnPrecision) {
  // Shot interval: (1 / b) in double, so 1 / 0.1f is a hair under 10.
  EXPECT_EQ(bot_fire_interval(0.1f, 20), 199);
  // Start figures and shot damage: float products, so 1000 * 0.7f is 700.
  g_world.botRatio = 0.7f;
  Ship& bot = add_ship(1, {3, 3, 3}, true);
  EXPECT_EQ(bot.armor, 700);
  EXPECT_EQ(bot.shield, 210);
  EXPECT_EQ(bot.thrustInput.z, 3.0f * 0.7f);
  apply_damage(bot, 5000);
  for (int step = 0; step < SHIP_RESPAWN_STEPS; ++step) update_ship(bot);
  ASSERT_EQ(bot.lifetime, SHIP_FLYING);
  EXPECT_EQ(bot.armor, 700);

  Ship& victim = add_ship(0, {0, 0, 0});
  place(0, KIND_SHOT, {0, 0, 0.05f}, {0, 0, -0.01f}, 1);
  collision_pass();
  EXPECT_EQ(victim.armor, 1000 - 35);  // 50 * 0.7f in float is 35
}

TEST_F(PrecisionTest, BounceFollowsTheFormulaStepByStep) {
  Ship& ship = add_ship(0, {0.13f, 0.21f, -0.07f});
  ship.velocity = {-0.003f, -0.0041f, 0.0017f};
  WorldObject& rock = place_asteroid(0, {-0.2f, -0.1f, 0.05f}, 0.3f, {0.002f, 0.0013f, -0.0009f});
  const WorldObject a = ship;
  const WorldObject b = rock;

  const float dx = a.position.x - b.position.x, dy = a.position.y - b.position.y,
              dz = a.position.z - b.position.z;
  const float ux = a.velocity.x - b.velocity.x, uy = a.velocity.y - b.velocity.y,
              uz = a.velocity.z - b.velocity.z;
  const float D = std::sqrt(dx * dx + dy * dy + dz * dz);
  const float U = std::sqrt(ux * ux + uy * uy + uz * uz);
  const float S = std::sqrt((dx + ux) * (dx + ux) + (dy + uy) * (dy + uy) + (dz + uz) * (dz + uz));
  const float c = (D * D + U * U - S * S) / (2 * D * U);
  const float i[3] = {(dx / D) * c * U, (dy / D) * c * U, (dz / D) * c * U};
  const double ma = a.mass, mb = b.mass;
  const float va[3] = {a.velocity.x, a.velocity.y, a.velocity.z};
  const float vb[3] = {b.velocity.x, b.velocity.y, b.velocity.z};
  const int damage =
      static_cast<int>(75 * std::sqrt(i[0] * i[0] + i[1] * i[1] + i[2] * i[2]) * 100);

  ASSERT_GT(damage, 0);
  EXPECT_EQ(bounce(ship, rock), damage);
  const float gotA[3] = {ship.velocity.x, ship.velocity.y, ship.velocity.z};
  const float gotB[3] = {rock.velocity.x, rock.velocity.y, rock.velocity.z};
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(gotA[k], static_cast<float>(va[k] + 2.0 * i[k] / (ma / mb + 1))) << k;
    EXPECT_EQ(gotB[k], static_cast<float>(vb[k] - 2.0 * i[k] / (mb / ma + 1))) << k;
  }
}

TEST_F(PrecisionTest, NewAsteroidDrawsPlaceSpinVelocityThenSize) {
  g_server_settings.WORLD_WIDTH = 10;
  std::srand(4242);
  float expected[10];
  for (int k = 0; k < 3; ++k) {
    expected[k] = 10.0f * (static_cast<float>(std::rand() % 50 - 25) / 25.0f);
  }
  for (int k = 3; k < 6; ++k) expected[k] = static_cast<float>(std::rand() % 50 - 25) / 50.0f;
  for (int k = 6; k < 9; ++k) expected[k] = static_cast<float>(std::rand() % 50 - 25) / 6000.0f;
  expected[9] =
      (0.7f - 0.15f) * (static_cast<float>(std::rand() % 50 + 1) / 50.0f) + 0.15f;  // in float
  const int next = std::rand();

  std::srand(4242);
  new_asteroid();
  ASSERT_TRUE(g_world.objects[0]);
  const WorldObject& a = *g_world.objects[0];
  const float got[10] = {a.position.x, a.position.y, a.position.z, a.spin.x,     a.spin.y,
                         a.spin.z,     a.velocity.x, a.velocity.y, a.velocity.z, a.size};
  for (int k = 0; k < 10; ++k) EXPECT_EQ(got[k], expected[k]) << k;
  EXPECT_EQ(a.mass, a.size * a.size * a.size * 400.0f);
  EXPECT_EQ(std::rand(), next);  // no draw more, none fewer
}

TEST_F(PrecisionTest, FragmentsDrawCountSpinJitterSizeAndCompensate) {
  WorldObject& parent = place_asteroid(0, {1, 2, 3}, 0.7f, {0.003f, -0.002f, 0.001f});
  const Vector3f pv = parent.velocity;
  for (unsigned seed : {7u, 8u, 9u, 10u}) {
    for (int slot = 1; slot < MAX_OBJECTS; ++slot) g_world.objects[slot].reset();
    g_world.asteroidCount = 1;
    g_world.asteroidTotalSize = 0.7f;

    std::srand(seed);
    const int n = 2 + std::rand() % 2;
    const double k = 1.0 / static_cast<double>(std::sqrt(static_cast<float>(n)));
    float sx = 0, sy = 0, sz = 0;
    struct Fragment {
      Vector3f spin, velocity;
      float size;
    } want[3];
    for (int f = 0; f < n; ++f) {
      Fragment& w = want[f];
      w.spin.x = static_cast<float>(std::rand() % 50 - 25) / 50.0f;
      w.spin.y = static_cast<float>(std::rand() % 50 - 25) / 50.0f;
      w.spin.z = static_cast<float>(std::rand() % 50 - 25) / 50.0f;
      const double jx = (std::rand() % 50 - 25) / 6000.0;
      const double jy = (std::rand() % 50 - 25) / 6000.0;
      const double jz = (std::rand() % 50 - 25) / 6000.0;
      const float s = static_cast<float>((1.0 - (std::rand() % 20) / 50.0) * (0.7f * 0.8 * k));
      w.size = s;
      w.velocity.x = static_cast<float>(pv.x + jx) - sx / s;
      w.velocity.y = static_cast<float>(pv.y + jy) - sy / s;
      w.velocity.z = static_cast<float>(pv.z + jz) - sz / s;
      sx += (w.velocity.x - pv.x) * s;
      sy += (w.velocity.y - pv.y) * s;
      sz += (w.velocity.z - pv.z) * s;
    }
    const int next = std::rand();

    std::srand(seed);
    split_asteroid(0);
    ASSERT_EQ(g_world.asteroidCount, 1 + n) << seed;
    for (int f = 0; f < n; ++f) {
      const WorldObject& got = *g_world.objects[1 + f];
      const Fragment& w = want[f];
      EXPECT_EQ(got.size, w.size) << seed << " fragment " << f;
      EXPECT_EQ(got.mass, w.size * w.size * w.size * 400.0f);
      EXPECT_EQ(got.position.x, 1.0f);
      EXPECT_EQ(got.spin.x, w.spin.x);
      EXPECT_EQ(got.spin.z, w.spin.z);
      EXPECT_EQ(got.velocity.x, w.velocity.x) << seed << " fragment " << f;
      EXPECT_EQ(got.velocity.y, w.velocity.y) << seed << " fragment " << f;
      EXPECT_EQ(got.velocity.z, w.velocity.z) << seed << " fragment " << f;
    }
    EXPECT_EQ(std::rand(), next) << seed;
  }
}

}  // namespace
}  // namespace zbx::test
