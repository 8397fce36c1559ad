// Shots, nukes, blasts and explosion objects.
#include <cmath>

#include "rules_test_support.h"

namespace zbx::test {
namespace {

using WeaponTest = RulesTest;

void fill_object_table() {
  for (int slot = 0; slot < MAX_OBJECTS; ++slot) {
    if (!g_world.objects[slot]) {
      RulesTest::place(slot, KIND_SMALL_EXPLOSION, {9, 9, 9});
    }
  }
}

TEST_F(WeaponTest, GunsAlternateAndShotsFlyAlongTheNose) {
  Ship& s = add_ship(0, {1, 1, 1});
  s.velocity = {0.001f, 0, 0};
  s.inverseOrientation = {0, 1, 0, -1, 0, 0, 0, 0, 1};  // marker only
  fire_shot(s);
  fire_shot(s);
  ASSERT_EQ(count_kind(KIND_SHOT), 2);
  const WorldObject& first = *g_world.objects[0];
  const WorldObject& second = *g_world.objects[1];
  EXPECT_FLOAT_EQ(first.position.x, 1.047f);
  EXPECT_FLOAT_EQ(second.position.x, 0.953f);
  EXPECT_NEAR(first.position.x - second.position.x, 0.094f, 1e-6);
  EXPECT_FLOAT_EQ(first.position.y, 1.022f);
  EXPECT_FLOAT_EQ(first.position.z, 0.94f);  // a little ahead: forward is -z
  EXPECT_FLOAT_EQ(first.velocity.z, -0.14f);
  EXPECT_FLOAT_EQ(first.velocity.x, 0.001f);
  EXPECT_EQ(first.owner, 0);
  EXPECT_EQ(first.lifetime, 50);
  EXPECT_EQ(first.size, 0.01f);
  EXPECT_EQ(first.mass, 0.05f);
  EXPECT_EQ(first.orientation, s.inverseOrientation);
  EXPECT_EQ(s.gunSide, 1.0f);
  EXPECT_EQ(count_sounds(0, 0), 2);
}

TEST_F(WeaponTest, FullTableStillSoundsAndFlipsTheGunButKeepsTheNuke) {
  Ship& s = add_ship(0, {0, 0, 0});
  add_ship(1, {5, 5, 5});
  fill_object_table();
  fire_shot(s);
  EXPECT_EQ(s.gunSide, -1.0f);
  EXPECT_EQ(count_sounds(0, 0), 1);
  launch_nuke(s);
  EXPECT_EQ(s.nukes, 2);
  EXPECT_EQ(count_sounds(0, 19), 1);
  EXPECT_EQ(count_sounds(1, 21), 1);
  EXPECT_EQ(count_kind(KIND_SHOT), 0);
}

TEST_F(WeaponTest, NukeLaunchNeedsAFlyingUnwarpedShipWithNukes) {
  Ship& s = add_ship(0, {0, 0, 0});
  Ship& other = add_ship(1, {5, 5, 5});
  launch_nuke(s);
  ASSERT_EQ(count_kind(KIND_NUKE), 1);
  const WorldObject& nuke = *g_world.objects[0];
  EXPECT_FLOAT_EQ(nuke.position.y, -0.1f);
  EXPECT_FLOAT_EQ(nuke.position.z, -0.06f);
  EXPECT_FLOAT_EQ(nuke.velocity.z, -0.14f);
  EXPECT_EQ(nuke.lifetime, 35);
  EXPECT_EQ(s.nukes, 1);
  EXPECT_EQ(count_sounds(0, 19), 1);
  EXPECT_EQ(count_sounds(0, 21), 0);
  EXPECT_EQ(count_sounds(1, 21), 1);

  start_warp(s);
  launch_nuke(s);
  EXPECT_EQ(s.nukes, 1);
  s.warpTimer = 0;
  launch_nuke(s);
  launch_nuke(s);
  EXPECT_EQ(s.nukes, 0);
  EXPECT_EQ(count_kind(KIND_NUKE), 2);
  apply_damage(other, 5000);
  other.nukes = 3;
  launch_nuke(other);
  EXPECT_EQ(other.nukes, 3);
}

TEST_F(WeaponTest, ExpiredOrRemovedNukeLeavesABlastWhereItWas) {
  add_ship(0, {5, 5, 5});
  WorldObject& nuke = place(3, KIND_NUKE, {1, 2, 3}, {0.1f, 0, 0}, 7);
  nuke.spin = {0.5f, 0, 0};
  remove_object(3);
  ASSERT_EQ(count_kind(KIND_NUKE_EXPLOSION), 1);
  const WorldObject& blast = *g_world.objects[0];
  EXPECT_EQ(blast.position.x, 1.0f);
  EXPECT_EQ(blast.velocity.x, 0.0f);
  EXPECT_EQ(blast.spin.x, 0.5f);
  EXPECT_EQ(blast.owner, 7);
  EXPECT_EQ(blast.size, 0.1f);
  EXPECT_EQ(blast.mass, 0.0f);
  EXPECT_EQ(blast.lifetime, 40);
  EXPECT_EQ(count_sounds(0, 20), 1);

  // With no slot left the nuke goes quietly.
  clear_sounds();
  fill_object_table();
  g_world.objects[100] = nullptr;
  place(100, KIND_NUKE, {0, 0, 0});
  remove_object(100);
  EXPECT_EQ(g_world.objects[100], nullptr);
  EXPECT_EQ(count_sounds(0, 20), 0);
}

TEST_F(WeaponTest, ExplosionsComeFromObjectOrPlayerSlots) {
  add_ship(2, {1, 2, 3});
  place(5, KIND_ASTEROID, {4, 5, 6});
  spawn_explosion(5, 0);
  spawn_explosion(2, 1);
  spawn_explosion(9, 0);   // empty object slot
  spawn_explosion(31, 1);  // empty player slot
  spawn_explosion(-1, 0);  // out of range
  spawn_explosion(600, 1);
  spawn_explosion(2, 7);  // unknown source
  ASSERT_EQ(count_kind(KIND_SMALL_EXPLOSION), 1);
  ASSERT_EQ(count_kind(KIND_SHIP_EXPLOSION), 1);
  const WorldObject& small = *g_world.objects[0];
  EXPECT_EQ(small.position.x, 4.0f);
  EXPECT_EQ(small.lifetime, 20);
  EXPECT_EQ(small.size, 1.0f);
  const WorldObject& big = *g_world.objects[1];
  EXPECT_EQ(big.position.z, 3.0f);
  EXPECT_EQ(big.lifetime, 65);
}

TEST_F(WeaponTest, ShotsFollowATurnedShip) {
  Ship& s = add_ship(0, {0, 0, 0});
  // Nose turned to +x: row 2 (local z) points along -x.
  s.orientation = {0, 0, 1, 0, 1, 0, -1, 0, 0};
  fire_shot(s);
  const WorldObject& shot = *g_world.objects[0];
  EXPECT_FLOAT_EQ(shot.velocity.x, 0.14f);
  EXPECT_NEAR(shot.velocity.z, 0.0f, 1e-7);
  EXPECT_FLOAT_EQ(shot.position.x, 0.06f);
  EXPECT_FLOAT_EQ(shot.position.z, 0.047f);
}

}  // namespace
}  // namespace zbx::test
