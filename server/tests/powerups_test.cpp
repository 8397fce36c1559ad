// Powerup drops, pickups and their caps, and the hyper-warp.
#include "rules_test_support.h"

namespace zbx::test {
namespace {

using PowerupTest = RulesTest;

TEST_F(PowerupTest, PickupsAddWithCapsOnShieldAndArmorOnly) {
  Ship& s = add_ship(0, {0, 0, 0});
  s.shield = 280;
  s.armor = 999;
  WorldObject shield, armor, nuke, warp;
  shield.kind = KIND_SHIELD_POWERUP;
  armor.kind = KIND_ARMOR_POWERUP;
  nuke.kind = KIND_NUKE_POWERUP;
  warp.kind = KIND_WARP_POWERUP;
  apply_pickup(s, shield);
  apply_pickup(s, armor);
  EXPECT_EQ(s.shield, 300);
  EXPECT_EQ(s.armor, 1000);
  for (int n = 0; n < 5; ++n) {
    apply_pickup(s, nuke);
    apply_pickup(s, warp);
  }
  EXPECT_EQ(s.nukes, 7);
  EXPECT_EQ(s.warps, 7);
  s.shield = 10;
  apply_pickup(s, shield);
  EXPECT_EQ(s.shield, 60);
}

TEST_F(PowerupTest, FlyingIntoAPowerupPicksItUp) {
  Ship& s = add_ship(1, {0, 0, 0});
  s.shield = 0;
  place(4, KIND_SHIELD_POWERUP, {0.25f, 0, 0});
  place(5, KIND_NUKE_POWERUP, {-0.25f, 0, 0});
  collision_pass();
  EXPECT_EQ(s.shield, 50);
  EXPECT_EQ(s.nukes, 3);
  EXPECT_EQ(count_sounds(1, 12), 2);
  EXPECT_EQ(g_world.objects[4], nullptr);
  EXPECT_EQ(g_world.objects[5], nullptr);
}

TEST_F(PowerupTest, ShipExplosionDropsFollowThePrizeOdds) {
  WorldObject wreck;
  init_object(wreck, KIND_SHIP_EXPLOSION, 1, {1, 2, 3}, {}, {}, 1.0f, 0.0f);
  for (int odds : {0, -5}) {
    g_server_settings.PRIZE_ODDS = odds;
    for (int n = 0; n < 200; ++n) ship_explosion_removal_effect(wreck);
    EXPECT_EQ(find_free_object_slot(), 0) << odds;
  }

  g_server_settings.PRIZE_ODDS = 1024;
  int kinds[12] = {};
  for (int n = 0; n < 400; ++n) {
    ship_explosion_removal_effect(wreck);
    const WorldObject& prize = *g_world.objects[0];
    ASSERT_GE(prize.kind, KIND_SHIELD_POWERUP);
    ASSERT_LE(prize.kind, KIND_WARP_POWERUP);
    ++kinds[prize.kind];
    EXPECT_EQ(prize.position.y, 2.0f);
    EXPECT_EQ(prize.lifetime, 500);
    EXPECT_EQ(prize.size, 0.1f);
    EXPECT_EQ(prize.mass, 0.0f);
    EXPECT_EQ(prize.owner, 0);
    g_world.objects[0].reset();
  }
  for (int k = KIND_SHIELD_POWERUP; k <= KIND_WARP_POWERUP; ++k) EXPECT_GT(kinds[k], 60) << k;

  g_server_settings.PRIZE_ODDS = 512;
  int drops = 0;
  for (int n = 0; n < 2000; ++n) {
    ship_explosion_removal_effect(wreck);
    if (g_world.objects[0]) ++drops;
    g_world.objects[0].reset();
  }
  EXPECT_GT(drops, 850);
  EXPECT_LT(drops, 1150);
}

TEST_F(PowerupTest, ClearingTheTableCanStillDropAPrize) {
  g_server_settings.PRIZE_ODDS = 1024;
  place(7, KIND_SHIP_EXPLOSION, {1, 1, 1});
  clear_objects();
  // The drop lands in the lowest free slot, which the clearing has passed.
  ASSERT_NE(g_world.objects[0], nullptr);
  EXPECT_GE(g_world.objects[0]->kind, KIND_SHIELD_POWERUP);
}

TEST_F(PowerupTest, WarpLastsTwoHundredStepsThenStopsDead) {
  Ship& s = add_ship(0, {0, 0, 0});
  s.hitFlash = 50;
  s.velocity = {0.005f, 0, 0};
  s.spin = {1, 0, 0};
  set_thrust(s, 3, 3);
  start_warp(s);
  EXPECT_EQ(s.warps, 1);
  EXPECT_EQ(s.hitFlash, 0);
  EXPECT_EQ(s.velocity.x, 0.0f);
  EXPECT_FLOAT_EQ(s.velocity.z, -0.2f);
  start_warp(s);  // a second press during the warp is ignored
  EXPECT_EQ(s.warps, 1);

  for (int step = 1; step < WARP_STEPS; ++step) {
    update_ship(s);
    ASSERT_FLOAT_EQ(s.velocity.z, -0.2f) << step;  // no thrust, no drag
    ASSERT_EQ(s.orientation, IDENTITY_MATRIX);     // no turning
  }
  EXPECT_EQ(s.warpTimer, 1);
  update_ship(s);
  EXPECT_EQ(s.warpTimer, 0);
  EXPECT_EQ(s.velocity.z, 0.0f);
  EXPECT_EQ(s.velocity.x, 0.0f);
  // 40 units forward in a 20-wide world: back where it started.
  EXPECT_NEAR(s.position.z, 0.0f, 1e-3);
}

TEST_F(PowerupTest, WarpingShipPassesThroughEverything) {
  Ship& s = add_ship(0, {0, 0, 0});
  start_warp(s);
  // Each of these overlaps the warping ship and nothing else.
  place_asteroid(0, {0, 0.4f, 0}, 0.3f, {0, -0.05f, 0});
  place(1, KIND_NUKE_EXPLOSION, {0, 0, -0.2f});
  place(2, KIND_ARMOR_POWERUP, {-0.25f, 0, 0});
  place(3, KIND_SHOT, {0, 0, 0.1f}, {}, 5);
  Ship& other = add_ship(1, {0.35f, 0, 0});
  other.velocity = {-0.05f, 0, 0};
  other.shieldOn = 1;
  collision_pass();
  EXPECT_EQ(s.armor, 1000);
  EXPECT_EQ(s.shield, 300);
  EXPECT_EQ(count_kind(KIND_ASTEROID), 1);
  EXPECT_EQ(count_kind(KIND_SHOT), 1);
  EXPECT_NE(g_world.objects[2], nullptr);
  EXPECT_EQ(g_world.objects[1]->hitPlayers[0], 0);
  EXPECT_EQ(count_sounds(1, 8), 0);  // the shielded ship met nothing either
}

TEST_F(PowerupTest, NoWarpWhenOutOfWarpsOrDestroyed) {
  Ship& s = add_ship(0, {0, 0, 0});
  s.warps = 0;
  start_warp(s);
  EXPECT_EQ(s.warpTimer, 0);
  s.warps = 2;
  apply_damage(s, 5000);
  start_warp(s);
  EXPECT_EQ(s.warpTimer, 0);
  EXPECT_EQ(s.warps, 2);
}

}  // namespace
}  // namespace zbx::test
