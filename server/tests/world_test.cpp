// World tables: slot reuse, asteroid counters, removal effects, players and
// sound queues.
#include "world.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "rules.h"
#include "startup/settings.h"

namespace zbx {
namespace {

class WorldTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_server_settings = ServerSettings{};
    install_removal_effects();
    reset_world();
    std::srand(7);
  }
  void TearDown() override {
    install_removal_effects();
    reset_world();
  }

  // Creates an object the way every creator does; returns its slot or -1.
  static int spawn(int kind, float size = 0.1f, Vector3f at = {}) {
    const int slot = find_free_object_slot();
    if (slot < 0) return -1;
    auto record = std::make_unique<WorldObject>();
    init_object(*record, kind, 0, at, {}, {}, size, 1.0f);
    g_world.objects[slot] = std::move(record);
    return slot;
  }

  static int occupied() {
    int n = 0;
    for (const auto& o : g_world.objects) n += o ? 1 : 0;
    return n;
  }

  // Adds a player and returns stdout of the call.
  static std::string join(int slot, const char* name, int isBot) {
    testing::internal::CaptureStdout();
    auto ship = std::make_unique<Ship>();
    add_player(*ship, slot, name, isBot, Vector3f{});
    g_world.players[slot] = std::move(ship);
    return testing::internal::GetCapturedStdout();
  }
};

TEST_F(WorldTest, LowestFreeSlotIsReusedAndFullTableCreatesNothing) {
  for (int i = 0; i < MAX_OBJECTS; ++i) ASSERT_EQ(spawn(KIND_ASTEROID, 0.02f), i);
  EXPECT_EQ(find_free_object_slot(), -1);
  const int count = g_world.asteroidCount;
  const float total = g_world.asteroidTotalSize;
  EXPECT_EQ(spawn(KIND_ASTEROID, 0.5f), -1);
  EXPECT_EQ(g_world.asteroidCount, count);
  EXPECT_EQ(g_world.asteroidTotalSize, total);

  remove_object(300);
  remove_object(7);
  EXPECT_EQ(spawn(KIND_SHOT), 7);
  EXPECT_EQ(spawn(KIND_SHOT), 300);
  EXPECT_EQ(spawn(KIND_SHOT), -1);
}

TEST_F(WorldTest, InitObjectTakesLifetimeFromKind) {
  g_server_settings.SHOT_ALIVE_TIME = 33;
  g_server_settings.POWERUP_ALIVE_TIME = 44;
  g_server_settings.NUKE_ALIVE_TIME = 55;
  g_server_settings.NUKE_EXPLOSION_ALIVE_TIME = 66;
  const struct {
    int kind;
    int lifetime;
  } expected[] = {{KIND_SHIP, -1},           {KIND_SHOT, 33},
                  {KIND_ASTEROID, -1},       {KIND_SMALL_EXPLOSION, 20},
                  {KIND_SHIP_EXPLOSION, 65}, {KIND_SHIELD_POWERUP, 44},
                  {KIND_WARP_POWERUP, 44},   {KIND_NUKE, 55},
                  {KIND_NUKE_EXPLOSION, 66}};
  for (const auto& e : expected) {
    WorldObject o;
    o.orientation = {2, 2, 2, 2, 2, 2, 2, 2, 2};
    o.hitPlayers.fill(1);
    init_object(o, e.kind, 5, {1, 2, 3}, {4, 5, 6}, {7, 8, 9}, 0.3f, 2.0f);
    EXPECT_EQ(o.lifetime, e.lifetime) << "kind " << e.kind;
    EXPECT_EQ(o.orientation, IDENTITY_MATRIX);
    EXPECT_EQ(o.owner, 5);
    EXPECT_EQ(o.velocity.y, 5.0f);
    if (e.kind == KIND_NUKE_EXPLOSION) {
      EXPECT_EQ(o.hitPlayers[3], 0);
    }
  }
}

TEST_F(WorldTest, AsteroidCountersFollowRemovalsAndClearing) {
  const float sizes[] = {0.7f, 0.161f, 0.33f, 0.45f};
  for (float s : sizes) spawn(KIND_ASTEROID, s);
  spawn(KIND_SHOT, 0.01f);
  EXPECT_EQ(g_world.asteroidCount, 4);
  EXPECT_NEAR(g_world.asteroidTotalSize, 1.641f, 1e-5);

  remove_object(1);
  EXPECT_EQ(g_world.asteroidCount, 3);
  EXPECT_NEAR(g_world.asteroidTotalSize, 1.48f, 1e-5);
  remove_object(4);  // the shot: counters unchanged
  EXPECT_EQ(g_world.asteroidCount, 3);
  remove_object(1);  // already empty: nothing happens
  remove_object(-1);
  remove_object(MAX_OBJECTS);
  EXPECT_EQ(g_world.asteroidCount, 3);

  clear_objects();
  EXPECT_EQ(g_world.asteroidCount, 0);
  EXPECT_EQ(g_world.asteroidTotalSize, 0.0f);  // exactly, no float residue
  EXPECT_EQ(occupied(), 0);
}

// Records each removal effect call with the state of the table at that moment.
struct EffectLog {
  std::vector<int> kinds;
  std::vector<int> occupiedAtCall;
  std::vector<int> createdSlots;
};
EffectLog g_log;

void recording_nuke_effect(const WorldObject& nuke) {
  g_log.kinds.push_back(nuke.kind);
  int n = 0;
  for (const auto& o : g_world.objects) n += o ? 1 : 0;
  g_log.occupiedAtCall.push_back(n);
  // What the real effect does: a nuke explosion in the lowest free slot.
  const int slot = find_free_object_slot();
  g_log.createdSlots.push_back(slot);
  if (slot < 0) return;
  auto blast = std::make_unique<WorldObject>();
  init_object(*blast, KIND_NUKE_EXPLOSION, nuke.owner, nuke.position, {}, {}, 0.1f, 0.0f);
  g_world.objects[slot] = std::move(blast);
}

void recording_ship_explosion_effect(const WorldObject& explosion) {
  g_log.kinds.push_back(explosion.kind);
}

TEST_F(WorldTest, ClearingRunsRemovalEffectsAndKeepsWhatTheyLeave) {
  g_log = EffectLog{};
  g_removal_effects[KIND_NUKE] = recording_nuke_effect;
  g_removal_effects[KIND_SHIP_EXPLOSION] = recording_ship_explosion_effect;
  spawn(KIND_ASTEROID, 0.5f);
  spawn(KIND_SHOT);
  spawn(KIND_SHIP_EXPLOSION);
  const int nuke = spawn(KIND_NUKE, 0.1f, {1, 2, 3});
  spawn(KIND_ASTEROID, 0.3f);
  ASSERT_EQ(nuke, 3);

  clear_objects();
  ASSERT_EQ(g_log.kinds, (std::vector<int>{KIND_SHIP_EXPLOSION, KIND_NUKE}));
  // The nuke was still in its slot when its effect ran, behind three freed
  // slots, so the blast landed in slot 0, which the clearing had passed.
  EXPECT_EQ(g_log.occupiedAtCall[0], 2);
  EXPECT_EQ(g_log.createdSlots[0], 0);
  ASSERT_TRUE(g_world.objects[0]);
  EXPECT_EQ(g_world.objects[0]->kind, KIND_NUKE_EXPLOSION);
  EXPECT_EQ(g_world.objects[0]->position.z, 3.0f);
  EXPECT_EQ(occupied(), 1);
  EXPECT_EQ(g_world.asteroidCount, 0);
}

TEST_F(WorldTest, ClearingWithTheRealNukeEffectLeavesItsExplosion) {
  // Meaningful once the weapon rules are linked; the stand-in creates nothing.
  WorldObject probe;
  init_object(probe, KIND_NUKE, 0, {}, {}, {}, 0.1f, 0.05f);
  nuke_removal_effect(probe);
  if (find_free_object_slot() == 0) GTEST_SKIP() << "nuke removal effect not linked yet";
  reset_world();

  spawn(KIND_ASTEROID, 0.5f);
  const int nuke = spawn(KIND_NUKE, 0.1f, {4, 5, 6});
  ASSERT_EQ(nuke, 1);
  clear_objects();
  ASSERT_TRUE(g_world.objects[0]);
  EXPECT_EQ(g_world.objects[0]->kind, KIND_NUKE_EXPLOSION);
  EXPECT_EQ(g_world.objects[0]->position.y, 5.0f);
}

TEST_F(WorldTest, HumanJoinAndLeave) {
  EXPECT_EQ(join(4, "A rather long player name!", 0), "Adding Player 4\n");
  const Ship& ship = *g_world.players[4];
  EXPECT_EQ(ship.kind, KIND_SHIP);
  EXPECT_EQ(ship.owner, 4);
  EXPECT_EQ(ship.size, 0.2f);
  EXPECT_EQ(ship.mass, 1.0f);
  EXPECT_EQ(std::string(ship.name), "A rather long playe");  // 19 characters kept
  EXPECT_EQ(ship.shield, 300);
  EXPECT_EQ(ship.armor, 1000);
  EXPECT_EQ(ship.lives, 3);
  EXPECT_EQ(ship.lifetime, -1);
  EXPECT_EQ(ship.thrustInput.z, 0.0f);
  EXPECT_EQ(g_world.humanCount, 1);
  EXPECT_TRUE(is_client(4));

  testing::internal::CaptureStdout();
  delete_player(4);
  delete_player(4);  // already gone: nothing
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Deleting Player 4\n");
  EXPECT_FALSE(g_world.players[4]);
  EXPECT_EQ(g_world.humanCount, 0);
  EXPECT_FALSE(is_client(4));
}

TEST_F(WorldTest, BotStartsScaledByBotRatio) {
  g_world.botRatio = 0.25f;
  g_server_settings.GAME_TYPE = 2;
  EXPECT_EQ(join(0, "Bot 1", 1), "Adding Player 0\n");
  const Ship& bot = *g_world.players[0];
  EXPECT_EQ(bot.shield, 75);
  EXPECT_EQ(bot.armor, 250);
  EXPECT_FLOAT_EQ(bot.thrustInput.z, 0.75f);
  EXPECT_EQ(bot.lives, -1);  // deathmatch: unlimited
  EXPECT_EQ(g_world.humanCount, 0);
  EXPECT_FALSE(is_client(0));

  testing::internal::CaptureStdout();
  delete_player(0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Deleting Player 0\n");
  EXPECT_EQ(g_world.humanCount, 0);
}

TEST_F(WorldTest, BotWithBrokenRatioStillGetsFiniteValues) {
  g_world.botRatio = std::nanf("");
  join(1, "Bot 1", 1);
  EXPECT_EQ(g_world.players[1]->shield, 0);
  EXPECT_TRUE(std::isfinite(g_world.players[1]->thrustInput.z));
  g_world.botRatio = 1e30f;
  reset_ship(*g_world.players[1]);
  EXPECT_EQ(g_world.players[1]->armor, 2147483647);
}

TEST_F(WorldTest, ResetShipRestoresStartStateButKeepsMotion) {
  join(2, "Pilot", 0);
  Ship& ship = *g_world.players[2];
  ship.velocity = {0.1f, 0.2f, 0.3f};
  ship.spin = {1, 0, -1};
  ship.score = 17;
  ship.nukes = 0;
  ship.lifetime = 120;
  ship.gunSide = -1.0f;
  ship.orientation = {0, 1, 0, -1, 0, 0, 0, 0, 1};
  queue_sound(2, ship, 5);
  reset_ship(ship);
  EXPECT_EQ(ship.score, 0);
  EXPECT_EQ(ship.nukes, 2);
  EXPECT_EQ(ship.warps, 2);
  EXPECT_EQ(ship.lifetime, -1);
  EXPECT_EQ(ship.gunSide, 1.0f);
  EXPECT_EQ(ship.orientation, IDENTITY_MATRIX);
  EXPECT_EQ(ship.velocity.y, 0.2f);
  EXPECT_EQ(ship.spin.z, -1.0f);
  EXPECT_EQ(g_world.soundQueue[2][0].id, 255);
}

TEST_F(WorldTest, SoundQueueTakesHumansOnlyAndDropsThe23rdEvent) {
  join(0, "Bot 1", 1);
  join(3, "Human", 0);
  join(5, "Other", 0);
  WorldObject source;
  source.position = {1.5f, -2.5f, 3.5f};

  queue_sound(0, source, 8);   // bot
  queue_sound(9, source, 8);   // empty slot
  queue_sound(-1, source, 8);  // out of range
  queue_sound(MAX_PLAYERS, source, 8);
  EXPECT_EQ(g_world.soundQueue[0][0].id, 255);
  EXPECT_EQ(g_world.soundQueue[9][0].id, 255);

  for (int i = 0; i < 23; ++i) queue_sound(3, source, i % 22);
  for (int i = 0; i < SOUND_QUEUE_USED; ++i) EXPECT_EQ(g_world.soundQueue[3][i].id, i);
  for (int i = SOUND_QUEUE_USED; i < SOUND_QUEUE_SIZE; ++i) {
    EXPECT_EQ(g_world.soundQueue[3][i].id, 255) << i;
  }
  EXPECT_EQ(g_world.soundQueue[3][4].y, -2.5f);

  g_world.soundQueue[3][10].id = 255;  // sent by the broadcast: reusable
  queue_sound_all(source, 20);
  EXPECT_EQ(g_world.soundQueue[3][10].id, 20);
  EXPECT_EQ(g_world.soundQueue[5][0].id, 20);
  EXPECT_EQ(g_world.soundQueue[5][1].id, 255);
  EXPECT_EQ(g_world.soundQueue[0][0].id, 255);
}

}  // namespace
}  // namespace zbx
