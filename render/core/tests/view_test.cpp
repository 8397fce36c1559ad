#include "render/core/view.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace zbx {
namespace {

// Yaw of 90 degrees: right = world -z, up = world y, back = world x.
constexpr Matrix3f TURNED = {0, 0, -1, 0, 1, 0, 1, 0, 0};

TEST(View, NearestImageAcrossTheWrap) {
  Vector3f d = wrapped_offset({-9.5f, 0, 0}, {9.5f, 0, 0}, 10);
  EXPECT_FLOAT_EQ(d.x, 1.0f);
  d = wrapped_offset({9.5f, 3, -9}, {-9.5f, 1, 9}, 10);
  EXPECT_FLOAT_EQ(d.x, -1.0f);
  EXPECT_FLOAT_EQ(d.y, 2.0f);
  EXPECT_FLOAT_EQ(d.z, 2.0f);
  // Exactly half a world away is left as it is, on either side.
  EXPECT_FLOAT_EQ(wrapped_offset({5, 0, 0}, {0, 0, 0}, 5).x, 5.0f);
  EXPECT_FLOAT_EQ(wrapped_offset({-3, 0, 0}, {2, 0, 0}, 5).x, -5.0f);
  EXPECT_FLOAT_EQ(wrapped_offset({-3, 0, 0}, {2.5f, 0, 0}, 5).x, 4.5f);
}

TEST(View, CameraCoordinatesUseTheFlightRows) {
  Vector3f c = to_camera({2, 3, 4}, IDENTITY_MATRIX);
  EXPECT_FLOAT_EQ(c.z, 4);
  c = to_camera({2, 3, 4}, TURNED);
  EXPECT_FLOAT_EQ(c.x, -4);
  EXPECT_FLOAT_EQ(c.y, 3);
  EXPECT_FLOAT_EQ(c.z, 2);
  // Model vertex (1, 0, 0) of an entity of size 0.5 turned the same way.
  Vector3f p = model_offset({1, 1, 1}, 0.5f, TURNED, {1, 0, 0});
  EXPECT_FLOAT_EQ(p.x, 1);
  EXPECT_FLOAT_EQ(p.z, 1.5f);
}

TEST(View, CentreBehindTheCameraIsCulledUnlessReversed) {
  // Slightly behind: camera z just above 0.
  Vector3f c = to_camera(wrapped_offset({0, 0, 0.01f}, {0, 0, 0}, 10), IDENTITY_MATRIX);
  EXPECT_FALSE(centre_in_view(view_z(c.z, false)));
  EXPECT_TRUE(centre_in_view(view_z(c.z, true)));
  c = to_camera({0, 0, -3}, IDENTITY_MATRIX);
  EXPECT_TRUE(centre_in_view(view_z(c.z, false)));
  EXPECT_FALSE(centre_in_view(view_z(c.z, true)));
  EXPECT_TRUE(centre_in_view(view_z(0.0f, true)));  // exactly level is drawn
}

TEST(Translucent, FarthestFirstAndEqualDepthsInEntryOrder) {
  TranslucentList list;
  clear_translucent(list);
  EXPECT_TRUE(add_translucent(list, -2, 10, TRANSLUCENT_POWERUP));
  EXPECT_TRUE(add_translucent(list, -5, 11, TRANSLUCENT_NUKE_EXPLOSION));
  EXPECT_TRUE(add_translucent(list, -2, 12, TRANSLUCENT_EXPLOSION));
  EXPECT_TRUE(add_translucent(list, -2, 3, TRANSLUCENT_SHIELD));
  EXPECT_FALSE(add_translucent(list, 0, 13, TRANSLUCENT_EXPLOSION));  // not in front
  EXPECT_FALSE(add_translucent(list, NAN, 14, TRANSLUCENT_EXPLOSION));
  ASSERT_EQ(list.used, 4);
  int slots[] = {11, 10, 12, 3};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(list.entries[i].slot, slots[i]) << i;
  EXPECT_EQ(list.entries[3].kind, TRANSLUCENT_SHIELD);
  EXPECT_EQ(list.entries[4].slot, -1);
  clear_translucent(list);
  EXPECT_EQ(list.used, 0);
  EXPECT_EQ(list.entries[0].slot, -1);
}

TEST(Translucent, AFullListDropsTheNearest) {
  TranslucentList list;
  clear_translucent(list);
  for (int i = 0; i < TRANSLUCENT_SLOTS; ++i) {
    ASSERT_TRUE(add_translucent(list, -1000.0f + i, i, TRANSLUCENT_EXPLOSION));
  }
  EXPECT_FALSE(add_translucent(list, -0.5f, 999, TRANSLUCENT_EXPLOSION));         // nearest of all
  EXPECT_FALSE(add_translucent(list, -1000.0f + TRANSLUCENT_SLOTS - 1, 998, 1));  // ties the last
  EXPECT_TRUE(add_translucent(list, -2000, 997, TRANSLUCENT_EXPLOSION));
  EXPECT_EQ(list.used, TRANSLUCENT_SLOTS);
  EXPECT_EQ(list.entries[0].slot, 997);
  EXPECT_EQ(list.entries[TRANSLUCENT_SLOTS - 1].slot, TRANSLUCENT_SLOTS - 2);
}

TEST(Halo, PulledTowardsTheCameraOnlyFromOutside) {
  Vector3f c = halo_centre({0, 3, -4}, 1, false);  // distance 5
  EXPECT_FLOAT_EQ(c.y, 2.4f);
  EXPECT_FLOAT_EQ(c.z, -3.2f);
  c = halo_centre({0, 0, 4}, 2, true);  // reverse view: behind becomes ahead
  EXPECT_FLOAT_EQ(c.z, -2);
  c = halo_centre({0, 0.3f, -0.4f}, 0.5f, false);  // inside: through the centre
  EXPECT_FLOAT_EQ(c.y, 0.3f);
  EXPECT_FLOAT_EQ(c.z, -0.4f);
  c = halo_centre({0, 0, 0}, 0, false);
  EXPECT_EQ(c.z, 0.0f);
  c = halo_centre({0, 0, 0}, -1, false);  // no division by a zero distance
  EXPECT_FALSE(std::isnan(c.x));

  Vector3f p = halo_rim_point({1, 2, -3}, 0.5f, 0, 64);
  EXPECT_FLOAT_EQ(p.x, 1.5f);
  EXPECT_FLOAT_EQ(p.y, 2);
  EXPECT_FLOAT_EQ(p.z, -3);
  p = halo_rim_point({1, 2, -3}, 0.5f, 16, 64);
  EXPECT_NEAR(p.x, 1, 1e-6);
  EXPECT_FLOAT_EQ(p.y, 2.5f);
  EXPECT_EQ(halo_style(TRANSLUCENT_NUKE_EXPLOSION).segments, 256);
  EXPECT_FLOAT_EQ(halo_style(TRANSLUCENT_SHIELD).centreAlpha, 0.15f);
  EXPECT_FLOAT_EQ(halo_style(TRANSLUCENT_POWERUP).colour.g, 0.6f);
}

TEST(Explosion, SquareGrowsWithAgeByKind) {
  EXPECT_FLOAT_EQ(explosion_half_size(KIND_SMALL_EXPLOSION, 0), 0.05f);
  EXPECT_FLOAT_EQ(explosion_half_size(KIND_SMALL_EXPLOSION, 1), 0.15f);
  EXPECT_FLOAT_EQ(explosion_half_size(KIND_SHIP_EXPLOSION, 0), 0.05f);
  EXPECT_FLOAT_EQ(explosion_half_size(KIND_SHIP_EXPLOSION, 1), 0.45f);
  auto q = explosion_quad({1, 2, -3}, 0.5f);
  EXPECT_EQ(q[0].t, 1);
  EXPECT_FLOAT_EQ(q[0].position.x, 0.5f);
  EXPECT_FLOAT_EQ(q[0].position.y, 2.5f);
  EXPECT_FLOAT_EQ(q[2].position.x, 1.5f);
  EXPECT_FLOAT_EQ(q[2].position.y, 1.5f);
  EXPECT_EQ(q[2].s, 1);
  EXPECT_EQ(q[2].t, 0);
  EXPECT_FLOAT_EQ(q[3].position.z, -3);
}

TEST(Overlay, PixelsCirclesAndDashes) {
  EXPECT_FLOAT_EQ(pixel_to_ndc(0, 640), -1);
  EXPECT_FLOAT_EQ(pixel_to_ndc(320, 640), 0);
  EXPECT_FLOAT_EQ(pixel_to_ndc(480, 480), 1);
  EXPECT_FLOAT_EQ(pixel_to_ndc(160, 640), -0.5f);
  EXPECT_TRUE(std::isfinite(pixel_to_ndc(5, 0)));
  Point2f p = circle_point(0.1f, -0.2f, 0.27f, 16, 64);
  EXPECT_NEAR(p.x, 0.1f, 1e-6);
  EXPECT_FLOAT_EQ(p.y, 0.07f);
  EXPECT_EQ(circle_step(0), 0.0f);
  int dashes[16];
  ASSERT_EQ(circle_dashes(64, 3, dashes, 16), 8);
  EXPECT_EQ(dashes[7], 59);
  // Starting at -1 the ninth dash (63 to 65) closes over the first.
  ASSERT_EQ(circle_dashes(64, -1, dashes, 16), 9);
  EXPECT_EQ(dashes[0], -1);
  EXPECT_EQ(dashes[8], 63);
  EXPECT_EQ(circle_dashes(64, 3, dashes, 2), 2);
}

TEST(Radar, BlipSizesByGapToTheSurface) {
  struct Case {
    float dist;
    bool visible;
    int pixels;
  } cases[] = {{10.5f, false, 0}, {9, true, 1}, {2.6f, true, 4}, {1.1f, true, 10}};
  for (const Case& c : cases) {
    Blip b = radar_blip({c.dist, 0, 0}, 0.2f, false, 640, 480);
    std::array<std::array<int, 2>, 10> px;
    EXPECT_EQ(b.visible, c.visible) << c.dist;
    EXPECT_EQ(blip_pixels(b, px), c.pixels) << c.dist;
  }
  // 1.1 units: a 3 × 3 block reaching two pixels right and up.
  Blip b = radar_blip({1.1f, 0, 0}, 0.2f, false, 640, 480);
  std::array<std::array<int, 2>, 10> px;
  int n = blip_pixels(b, px);
  std::set<std::pair<int, int>> cells;
  for (int i = 0; i < n; ++i) cells.insert({px[i][0] - b.px, px[i][1] - b.py});
  EXPECT_EQ(cells.size(), 9u);
  EXPECT_TRUE(cells.count({2, 2}));
  // Abeam on the right: 0.26 of the half width right of centre.
  EXPECT_EQ(b.px, static_cast<int>(320 * (0.26 + 1.0)));
  // Asteroids have the shorter range.
  EXPECT_FALSE(radar_blip({7, 0, 0}, 0.5f, true, 640, 480).visible);
  EXPECT_TRUE(radar_blip({7, 0, 0}, 0.5f, false, 640, 480).visible);
}

TEST(Radar, AheadAndBehindBothSitInTheCentre) {
  Blip ahead = radar_blip({0, 0, -3}, 0.5f, true, 640, 480);
  Blip behind = radar_blip({0, 0, 3}, 0.5f, true, 640, 480);
  EXPECT_TRUE(ahead.ahead);
  EXPECT_FALSE(behind.ahead);
  EXPECT_EQ(ahead.px, 320);
  EXPECT_EQ(ahead.py, static_cast<int>(240 * 0.333));
  EXPECT_EQ(behind.px, ahead.px);
  EXPECT_EQ(behind.py, ahead.py);
  Blip here = radar_blip({0, 0, 0}, 0.2f, false, 640, 480);  // at the camera itself
  EXPECT_EQ(here.px, 320);
  EXPECT_EQ(here.block, 3);
}

TEST(Gauge, FillFollowsTheValueAndNeverDividesByZero) {
  EXPECT_EQ(gauge_length(150, 300), 19);
  EXPECT_EQ(gauge_length(300, 300), 38);
  EXPECT_EQ(gauge_length(500, 1000), 19);
  EXPECT_EQ(gauge_length(0, 300), 0);
  EXPECT_EQ(gauge_length(150, 0), 0);
  EXPECT_EQ(gauge_length(-5, 300), 0);
  EXPECT_EQ(gauge_length(900, 300), 38);
  EXPECT_EQ(gauge_length(200000000, 300000000), 25);  // no 32-bit wrap
}

}  // namespace
}  // namespace zbx
