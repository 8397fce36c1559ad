// Ship damage, destruction, the respawn countdown, lives and the order of the
// per-step update.
#include "rules_test_support.h"

namespace zbx::test {
namespace {

using ShipTest = RulesTest;

TEST_F(ShipTest, DamageOfZeroOrLessDoesNothing) {
  Ship& s = add_ship(0, {0, 0, 0});
  EXPECT_FALSE(apply_damage(s, 0));
  EXPECT_FALSE(apply_damage(s, -20));
  EXPECT_EQ(s.armor, 1000);
  EXPECT_EQ(s.hitFlash, 0);
  EXPECT_EQ(count_sounds(0, 13), 0);
}

TEST_F(ShipTest, HitFlashClimbsInThirtiesThenCapsAtHundred) {
  Ship& s = add_ship(0, {0, 0, 0});
  const int expected[] = {30, 60, 90, 100, 100};
  for (int flash : expected) {
    EXPECT_FALSE(apply_damage(s, 10));
    EXPECT_EQ(s.hitFlash, flash);
  }
  s.hitFlash = 71;
  apply_damage(s, 1);
  EXPECT_EQ(s.hitFlash, 100);
  s.hitFlash = 70;
  apply_damage(s, 1);
  EXPECT_EQ(s.hitFlash, 100);
  EXPECT_EQ(count_sounds(0, 13), 7);
  EXPECT_EQ(s.armor, 1000 - 52);
}

TEST_F(ShipTest, ArmorExactlyZeroDestroysAndLeavesTheWreckOneUnitBack) {
  g_server_settings.WORLD_WIDTH = 10;
  Ship& s = add_ship(0, {1, 2, 3});
  s.armor = 50;
  s.velocity = {0.01f, 0, 0};
  s.shieldOn = 1;
  s.fireRequest = 1;
  s.warpTimer = 5;
  s.hitFlash = 40;
  EXPECT_TRUE(apply_damage(s, 50));
  EXPECT_EQ(s.armor, 0);
  EXPECT_EQ(s.lifetime, SHIP_RESPAWN_STEPS);
  EXPECT_EQ(s.position.z, 4.0f);  // identity: row 2 is +z
  EXPECT_EQ(s.velocity.x, 0.0f);
  EXPECT_EQ(s.shield, 0);
  EXPECT_EQ(s.shieldOn, 0);
  EXPECT_EQ(s.fireRequest, 0);
  EXPECT_EQ(s.warpTimer, 0);
  EXPECT_EQ(s.hitFlash, 0);
  ASSERT_EQ(count_kind(KIND_SHIP_EXPLOSION), 1);
  EXPECT_EQ(g_world.objects[0]->position.z, 3.0f);  // where it was hit
  EXPECT_EQ(count_sounds(0, 3), 1);
}

TEST_F(ShipTest, WreckPushedPastAFaceIsWrappedIntoTheWorld) {
  Ship& s = add_ship(0, {0, 0, 9.5f});
  apply_damage(s, 5000);
  EXPECT_FLOAT_EQ(s.position.z, -9.5f);
}

TEST_F(ShipTest, SurvivingBotRaisesItsShieldForAScaledTime) {
  g_server_settings.BOT_NUKE_ODDS = 0;
  Ship& bot = add_ship(0, {0, 0, 0}, true);
  EXPECT_EQ(bot.armor, 250);
  EXPECT_FALSE(apply_damage(bot, 12));
  EXPECT_EQ(bot.shieldOn, 1);
  EXPECT_EQ(bot.botShieldTimer, 15);
  EXPECT_EQ(bot.hitFlash, 0);
  // The bot's own countdown comes before the shield cost in a step: it pays
  // for 14 steps and the 15th lowers the shield.
  for (int step = 0; step < 14; ++step) update_ship(bot);
  EXPECT_EQ(bot.shieldOn, 1);
  update_ship(bot);
  EXPECT_EQ(bot.shieldOn, 0);
  EXPECT_EQ(bot.shield, 75 - 14);
}

TEST_F(ShipTest, DestroyedShipWaitsThenRespawnsAtAClearPlace) {
  Ship& s = add_ship(0, {0, 0, 0});
  s.spin = {1, 0, 0};
  s.score = 7;
  apply_damage(s, 5000);
  const Vector3f wreck = s.position;
  for (int step = 0; step < SHIP_RESPAWN_STEPS - 1; ++step) {
    update_ship(s);
    ASSERT_EQ(s.position.z, wreck.z);
    ASSERT_EQ(s.orientation, IDENTITY_MATRIX);  // no turning while destroyed
  }
  EXPECT_EQ(s.lifetime, 1);
  update_ship(s);
  EXPECT_EQ(s.lifetime, SHIP_FLYING);
  EXPECT_EQ(s.lives, 2);
  EXPECT_EQ(s.armor, 1000);
  EXPECT_EQ(s.shield, 300);
  EXPECT_EQ(s.score, 7);
  EXPECT_EQ(s.spin.x, 1.0f);  // a held rotation key keeps turning the new ship
}

TEST_F(ShipTest, LivesRunOutInGameTypeOneButNotInDeathmatchOrForBots) {
  g_server_settings.GAME_TYPE = 1;
  Ship& human = add_ship(0, {0, 0, 0});
  Ship& bot = add_ship(1, {5, 5, 5}, true);
  for (int death = 1; death <= 3; ++death) {
    ASSERT_EQ(human.lifetime, SHIP_FLYING);
    apply_damage(human, 5000);
    apply_damage(bot, 5000);
    for (int step = 0; step < SHIP_RESPAWN_STEPS; ++step) {
      update_ship(human);
      update_ship(bot);
    }
    EXPECT_EQ(human.lives, 3 - death);
  }
  EXPECT_EQ(human.lifetime, SHIP_OUT);
  EXPECT_EQ(bot.lifetime, SHIP_FLYING);
  // Out of lives: further steps change nothing.
  human.fireRequest = 1;
  for (int step = 0; step < 300; ++step) update_ship(human);
  EXPECT_EQ(human.lifetime, SHIP_OUT);
  EXPECT_EQ(count_kind(KIND_SHOT), 0);

  SetUp();
  g_server_settings.GAME_TYPE = 2;
  Ship& fighter = add_ship(0, {0, 0, 0});
  for (int death = 0; death < 5; ++death) {
    apply_damage(fighter, 5000);
    for (int step = 0; step < SHIP_RESPAWN_STEPS; ++step) update_ship(fighter);
  }
  EXPECT_EQ(fighter.lives, -1);
  EXPECT_EQ(fighter.lifetime, SHIP_FLYING);
}

TEST_F(ShipTest, StartLivesZeroNeverRunsOut) {
  g_server_settings.START_LIVES = 0;
  Ship& s = add_ship(0, {0, 0, 0});
  for (int death = 1; death <= 3; ++death) {
    apply_damage(s, 5000);
    for (int step = 0; step < SHIP_RESPAWN_STEPS; ++step) update_ship(s);
    EXPECT_EQ(s.lives, -death);
    EXPECT_EQ(s.lifetime, SHIP_FLYING);
  }
}

TEST_F(ShipTest, BotRespawnsWithTheCurrentRatio) {
  Ship& bot = add_ship(0, {0, 0, 0}, true);
  EXPECT_EQ(bot.shield, 75);
  EXPECT_EQ(bot.armor, 250);
  g_world.botRatio = 0.5f;
  bot.score = 3;
  bot.botFireCounter = 9;
  respawn(bot);
  EXPECT_EQ(bot.shield, 150);
  EXPECT_EQ(bot.armor, 500);
  EXPECT_FLOAT_EQ(bot.thrustInput.z, 1.5f);
  EXPECT_EQ(bot.score, 3);
  EXPECT_EQ(bot.botFireCounter, 9);

  Ship& human = add_ship(1, {5, 5, 5});
  human.thrustInput = {1, 2, 3};
  human.gunSide = -1;
  respawn(human);
  EXPECT_EQ(human.armor, 1000);
  EXPECT_EQ(human.thrustInput.x, 0.0f);
  EXPECT_EQ(human.thrustInput.z, 0.0f);
  EXPECT_EQ(human.gunSide, -1.0f);
}

TEST_F(ShipTest, ShieldCostsOnePointPerFlyingStep) {
  Ship& s = add_ship(0, {0, 0, 0});
  s.shieldOn = 1;
  s.shield = 2;
  for (int step = 0; step < 5; ++step) update_ship(s);
  EXPECT_EQ(s.shield, 0);
  EXPECT_FALSE(ship_shielded(s));
}

TEST_F(ShipTest, ThrustThenDragGiveTheDocumentedTopSpeed) {
  Ship& s = add_ship(0, {0, 0, 0});
  set_thrust(s, 3, 3);
  for (int step = 0; step < 400; ++step) update_ship(s);
  EXPECT_NEAR(s.velocity.z, -0.00945f, 1e-6);
}

TEST_F(ShipTest, FireRequestWhileDestroyedIsDroppedSilently) {
  Ship& s = add_ship(0, {0, 0, 0});
  apply_damage(s, 5000);
  clear_sounds();
  s.fireRequest = 1;
  update_ship(s);
  EXPECT_EQ(s.fireRequest, 0);
  EXPECT_EQ(count_kind(KIND_SHOT), 0);
  EXPECT_EQ(count_sounds(0, 0), 0);
  EXPECT_EQ(s.gunSide, 1.0f);
}

TEST_F(ShipTest, FireRequestDuringAWarpWaitsForItsEnd) {
  Ship& s = add_ship(0, {0, 0, 0});
  start_warp(s);
  s.fireRequest = 1;
  for (int step = 0; step < WARP_STEPS; ++step) {
    update_ship(s);
    ASSERT_EQ(count_kind(KIND_SHOT), 0);
  }
  EXPECT_EQ(s.fireRequest, 1);
  update_ship(s);
  EXPECT_EQ(count_kind(KIND_SHOT), 1);
  EXPECT_EQ(s.fireRequest, 0);
}

TEST_F(ShipTest, CapsAndFloorsOfShieldAndArmor) {
  Ship& s = add_ship(0, {0, 0, 0});
  s.shield = 280;
  add_shield(s, 50);
  EXPECT_EQ(s.shield, 300);
  s.armor = 990;
  add_armor(s, 50);
  EXPECT_EQ(s.armor, 1000);
  drain_shield(s, 500);
  EXPECT_EQ(s.shield, 0);
  add_shield(s, INT_MAX);  // no overflow on absurd values
  EXPECT_EQ(s.shield, 300);
}

}  // namespace
}  // namespace zbx::test
