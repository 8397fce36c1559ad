#include "render/core/starfield.h"

#include <gtest/gtest.h>

#include <cmath>

#include "test_util.h"

namespace zbx {
namespace {

using test::lcg;
int always_127() { return 127; }

TEST(Starfield, StarsLieOnTheSphereWithVisibleColours) {
  Starfield field;
  test::g_random.draws = 0;
  make_starfield(field, lcg);
  EXPECT_EQ(test::g_random.draws, 6 * STAR_COUNT);
  for (const Star& s : field.stars) {
    const Vector3f& d = s.direction;
    EXPECT_NEAR(std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z), 15.0f, 1e-4f);
    for (float c : {s.colour.r, s.colour.g, s.colour.b}) {
      EXPECT_GE(c, 1.0f / 256);
      EXPECT_LE(c, 1.0f);
    }
  }
  EXPECT_FLOAT_EQ(field.amplitude, 0.15f);
  EXPECT_EQ(field.counter, 0);
}

TEST(Starfield, AStarWithNoDirectionIsGivenOne) {
  Starfield field;
  make_starfield(field, always_127);  // every component (127 + 1) / 128 - 1 = 0
  for (const Star& s : field.stars) {
    EXPECT_FLOAT_EQ(std::hypot(s.direction.x, s.direction.y, s.direction.z), 15.0f);
  }
}

TEST(Starfield, TwinkleTakesFifteenDrawsAndRecoloursOnlyItsStars) {
  Starfield field;
  make_starfield(field, lcg);
  Starfield before = field;
  test::g_random.draws = 0;
  twinkle_starfield(field, lcg);
  EXPECT_EQ(test::g_random.draws, 15);
  int changed = 0;
  for (int i = 0; i < STAR_COUNT; ++i) {
    EXPECT_EQ(field.stars[i].direction.x, before.stars[i].direction.x);
    if (field.stars[i].colour.r != before.stars[i].colour.r ||
        field.stars[i].colour.g != before.stars[i].colour.g)
      ++changed;
  }
  EXPECT_LE(changed, 3);
  EXPECT_GE(changed, 1);
}

TEST(Starfield, ShakeRunsPlusMinusMinusPlusOnlyWhileHit) {
  Starfield field;
  for (int i = 0; i < 5; ++i) EXPECT_EQ(shake_starfield(field, 0), 0.0f);
  EXPECT_EQ(field.counter, 0);
  EXPECT_FLOAT_EQ(field.amplitude, 0.15f);
  float expect[] = {0.15f, -0.15f, -0.15f, 0.15f, 0.15f, -0.15f};
  for (float e : expect) EXPECT_FLOAT_EQ(shake_starfield(field, 4), e);
}

TEST(Starfield, RadarBoxAndBackHalfStayDark) {
  Vector3f out;
  EXPECT_FALSE(star_camera_point({{0, -5, -14.1f}, {}}, IDENTITY_MATRIX, 0, false, out));
  EXPECT_TRUE(star_camera_point({{3.5f, -5, -13.7f}, {}}, IDENTITY_MATRIX, 0, false, out));
  EXPECT_FLOAT_EQ(out.x, 3.5f);
  // The shake can push a star out of the box, or into it.
  EXPECT_TRUE(star_camera_point({{2.9f, -5, -14}, {}}, IDENTITY_MATRIX, 0.15f, false, out));
  EXPECT_FALSE(star_camera_point({{3.1f, -5, -14}, {}}, IDENTITY_MATRIX, -0.15f, false, out));
  // Behind the camera: hidden, unless the view is reversed.
  EXPECT_FALSE(star_camera_point({{0, 5, 14}, {}}, IDENTITY_MATRIX, 0, false, out));
  EXPECT_TRUE(star_camera_point({{0, 5, 14}, {}}, IDENTITY_MATRIX, 0, true, out));
  EXPECT_FLOAT_EQ(out.z, -14);
  EXPECT_FALSE(in_radar_box(0, -3));
  EXPECT_FALSE(in_radar_box(-3, -5));
}

}  // namespace
}  // namespace zbx
