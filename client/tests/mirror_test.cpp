// Applying snapshot messages to the mirror: presence, slot reuse, kinds,
// names from untrusted senders, the hyper-warp loop and sound placement.
#include <gtest/gtest.h>

#include <tuple>

#include "testing/client_support.h"

namespace zbx {
namespace {

using test::SoundCall;

class MirrorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::install_recorder();
    mirror.join.slot = 2;
    mirror.join.worldWidth = 10.0f;
  }
  WorldMirror mirror;
  int warpLoop = -1;
};

TEST_F(MirrorTest, PresenceDeletesOthersButNeverTheOwnRecord) {
  apply_player_message(mirror, test::player(2), warpLoop);
  apply_player_message(mirror, test::player(5), warpLoop);
  apply_object_message(mirror, test::object(7, KIND_SHOT));
  apply_object_message(mirror, test::object(9, KIND_SHOT));

  PresenceMessage presence;  // nothing present
  presence.objects[9] = 1;
  presence.matchRunning = 1;
  apply_presence(mirror, presence);

  EXPECT_NE(mirror.players[2], nullptr) << "own record must survive";
  EXPECT_EQ(mirror.players[5], nullptr);
  EXPECT_EQ(mirror.objects[7], nullptr);
  EXPECT_NE(mirror.objects[9], nullptr);
  EXPECT_EQ(mirror.matchRunning, 1);

  // A later game with another own slot may delete the old own record.
  mirror.join.slot = 4;
  apply_presence(mirror, PresenceMessage{});
  EXPECT_EQ(mirror.players[2], nullptr);
  EXPECT_EQ(mirror.matchRunning, 0);
}

TEST_F(MirrorTest, ReusedObjectSlotKeepsItsAgeUntilRemoved) {
  apply_object_message(mirror, test::object(3, KIND_SMALL_EXPLOSION));
  advance_explosions(mirror, 0.6f);
  ObjectMessage shot = test::object(3, KIND_SHOT, {1, 2, 3});
  shot.size = 0.05f;
  apply_object_message(mirror, shot);
  ASSERT_NE(mirror.objects[3], nullptr);
  EXPECT_EQ(mirror.objects[3]->kind, KIND_SHOT);
  EXPECT_FLOAT_EQ(mirror.objects[3]->size, 0.05f);
  EXPECT_FLOAT_EQ(mirror.objects[3]->position.z, 3.0f);
  EXPECT_FLOAT_EQ(mirror.objects[3]->age, 0.6f);

  PresenceMessage none;
  apply_presence(mirror, none);
  apply_object_message(mirror, test::object(3, KIND_SMALL_EXPLOSION));
  EXPECT_FLOAT_EQ(mirror.objects[3]->age, 0.0f);
}

TEST_F(MirrorTest, ObjectsOutsideTheTableAreIgnoredAndAnyKindIsKept) {
  apply_object_message(mirror, test::object(MAX_OBJECTS, KIND_SHOT));
  apply_object_message(mirror, test::object(-1, KIND_SHOT));
  for (const auto& o : mirror.objects) EXPECT_EQ(o, nullptr);
  // The kind decides what is drawn, even one without a model.
  for (int kind : {KIND_ASTEROID, KIND_SHOT, 100000, -1}) {
    apply_object_message(mirror, test::object(11, kind));
    EXPECT_EQ(mirror.objects[11]->kind, kind);
  }
}

TEST_F(MirrorTest, PlayerFieldsAndOrientationByOwnership) {
  PlayerMessage own = test::player(2, "Me");
  own.score = 40;
  own.lives = -1;
  own.shield = 120;
  own.armor = 700;
  own.hit = 1;
  own.nukes = 2;
  own.warps = 1;
  own.shieldActive = 1;
  own.position = {1, 2, 3};
  own.orientation = {0, 1, 0, 1, 0, 0, 0, 0, -1};
  apply_player_message(mirror, own, warpLoop);
  const MirrorPlayer& me = *mirror.players[2];
  EXPECT_EQ(std::tuple(me.score, me.lives, me.shield, me.armor, me.hitFlash, me.nukes, me.warps,
                       me.shieldActive),
            std::tuple(40, -1, 120, 700, 1, 2, 1, 1));
  EXPECT_STREQ(me.name, "Me");
  EXPECT_EQ(me.flightOrientation, own.orientation);
  EXPECT_EQ(me.orientation, Matrix3f{}) << "own drawing orientation is never written";

  PlayerMessage other = test::player(6, "Them");
  other.orientation = {0, 0, 1, 0, 1, 0, -1, 0, 0};
  apply_player_message(mirror, other, warpLoop);
  EXPECT_EQ(mirror.players[6]->orientation, other.orientation);
  EXPECT_EQ(mirror.players[6]->flightOrientation, Matrix3f{});

  apply_player_message(mirror, test::player(MAX_PLAYERS), warpLoop);
  apply_player_message(mirror, test::player(256), warpLoop);
  apply_player_message(mirror, test::player(-1), warpLoop);
}

TEST_F(MirrorTest, NameWithoutNulIsCutTo19Characters) {
  PlayerMessage m = test::player(3);
  std::memset(m.name, 'x', sizeof m.name);  // all 20 bytes, no NUL
  apply_player_message(mirror, m, warpLoop);
  EXPECT_EQ(std::strlen(mirror.players[3]->name), 19u);

  // A shorter name replacing a longer one leaves nothing of the old one.
  std::snprintf(m.name, sizeof m.name, "Al");
  apply_player_message(mirror, m, warpLoop);
  EXPECT_STREQ(mirror.players[3]->name, "Al");
}

TEST_F(MirrorTest, WarpLoopStartsOnceAndStopsOnce) {
  PlayerMessage own = test::player(2);
  PlayerMessage other = test::player(4);
  other.warping = 1;  // another ship's warp is not ours to hear as a loop
  apply_player_message(mirror, other, warpLoop);
  EXPECT_EQ(warpLoop, -1);

  own.warping = 1;
  for (int i = 0; i < 3; ++i) apply_player_message(mirror, own, warpLoop);
  EXPECT_NE(warpLoop, -1);
  own.warping = 0;
  for (int i = 0; i < 3; ++i) apply_player_message(mirror, own, warpLoop);
  EXPECT_EQ(warpLoop, -1);

  auto& r = test::recorder();
  EXPECT_EQ(r.count(SoundCall::LOOP, SOUND_WARP_LOOP), 1);
  EXPECT_EQ(r.count(SoundCall::STOP, -1), 1);
}

TEST_F(MirrorTest, SoundEventsArePlacedAroundTheOwnShip) {
  auto& r = test::recorder();
  SoundEventMessage shot;
  shot.sound = 0;
  shot.position = {9.5f, 0, 0};

  apply_sound_event(mirror, shot);  // no own record yet: cannot be placed
  EXPECT_TRUE(r.calls().empty());

  PlayerMessage own = test::player(2);
  own.position = {-9.5f, 0, 0};
  // Camera axes: right = world -z, up = world y, back = world x.
  own.orientation = {0, 0, -1, 0, 1, 0, 1, 0, 0};
  apply_player_message(mirror, own, warpLoop);
  apply_sound_event(mirror, shot);
  ASSERT_EQ(r.calls().size(), 1u);
  const SoundCall c = r.calls()[0];
  EXPECT_EQ(c.number, 0);
  // Across the seam the shot is 1 unit along world -x: straight ahead.
  EXPECT_NEAR(c.position.x, 0.0f, 1e-5f);
  EXPECT_NEAR(c.position.y, 0.0f, 1e-5f);
  EXPECT_NEAR(c.position.z, -1.0f, 1e-5f);

  for (int bad : {22, 127, -1, -128}) {
    SoundEventMessage m = shot;
    m.sound = static_cast<std::int8_t>(bad);
    apply_sound_event(mirror, m);
  }
  EXPECT_EQ(r.calls().size(), 1u) << "sound numbers outside 0..21 are dropped";
}

TEST(SoundPosition, FoldsOnceAndKeepsTheSeamItself) {
  const Matrix3f id = IDENTITY_MATRIX;
  Vector3f q = sound_position({10, -10, 3}, {0, 0, 0}, id, 10.0f);
  EXPECT_FLOAT_EQ(q.x, 10.0f);
  EXPECT_FLOAT_EQ(q.y, -10.0f);
  q = sound_position({10.5f, -10.5f, 0}, {0, 0, 0}, id, 10.0f);
  EXPECT_FLOAT_EQ(q.x, -9.5f);
  EXPECT_FLOAT_EQ(q.y, 9.5f);
}

}  // namespace
}  // namespace zbx
