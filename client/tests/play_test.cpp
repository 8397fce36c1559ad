// Game keys, loop sounds, frames and the two ends of a game, against a
// scripted peer that records every key event and update.
#include <gtest/gtest.h>

#include <thread>

#include "testing/client_game.h"

namespace zbx {
namespace {

using test::GameTest;
using test::recorder;
using test::SoundCall;
using V = std::vector<int>;

// --- Pure frame arithmetic ---

TEST(FramePacing, SleepsAwayTheRestOfTwentyMillisecondsAndLateFramesScaleTheAnimation) {
  struct Case {
    long long elapsed;
    int sleep;
    float increment;
  };
  // Early frames sleep the rest; late ones do not sleep and scale the step.
  for (const Case c : {Case{5000, 15000, 0.15f}, Case{19999, 1, 0.15f}, Case{30000, 0, 0.225f},
                       Case{20000, 0, 0.15f}, Case{0, 0, 0.0f}}) {
    const FramePacing p = frame_pacing(c.elapsed);
    EXPECT_EQ(p.sleepMicroseconds, c.sleep) << c.elapsed;
    EXPECT_FLOAT_EQ(p.increment, c.increment) << c.elapsed;
  }
  // Ten minutes away (suspend) does not wrap around.
  const FramePacing p = frame_pacing(600LL * 1000000);
  EXPECT_EQ(p.sleepMicroseconds, 0);
  EXPECT_GT(p.increment, 4000.0f);
}

TEST(FramePacing, ClockSetBackNeitherSleepsNorRewinds) {
  const FramePacing p = frame_pacing(-3600LL * 1000000);
  EXPECT_EQ(p.sleepMicroseconds, 0);
  EXPECT_FLOAT_EQ(p.increment, 0.0f);
}

TEST(FramePacing, ElapsedAndSecondBoundaries) {
  EXPECT_EQ(elapsed_microseconds({10, 999000}, {11, 4000}), 5000);
  EXPECT_EQ(elapsed_microseconds({11, 4000}, {10, 999000}), -5000);
  EXPECT_FALSE(update_due({10, 0}, {10, 999999}));
  EXPECT_TRUE(update_due({10, 999999}, {11, 0}));
  EXPECT_TRUE(update_due({11, 0}, {10, 500000})) << "a clock set back also sends";
}

TEST(Beat, AlternatesLowAndHighEveryPeriod) {
  int counter = BEAT_PERIOD, toggle = 0;
  std::vector<std::pair<int, int>> beats;  // frame, sound
  for (int frame = 1; frame <= 3 * BEAT_PERIOD; ++frame) {
    const int s = next_beat(counter, toggle, BEAT_PERIOD);
    if (s >= 0) beats.push_back({frame, s});
  }
  const std::vector<std::pair<int, int>> want = {
      {40, SOUND_BEAT_LOW}, {80, SOUND_BEAT_HIGH}, {120, SOUND_BEAT_LOW}};
  EXPECT_EQ(beats, want);
}

TEST(Explosions, SmallAgeByTheIncrementShipBySixth) {
  WorldMirror m;
  for (int kind : {KIND_SMALL_EXPLOSION, KIND_SHIP_EXPLOSION, KIND_NUKE_EXPLOSION}) {
    m.objects[kind] = std::make_unique<MirrorObject>();
    m.objects[kind]->kind = kind;
  }
  advance_explosions(m, 0.3f);
  EXPECT_FLOAT_EQ(m.objects[KIND_SMALL_EXPLOSION]->age, 0.3f);
  EXPECT_FLOAT_EQ(m.objects[KIND_SHIP_EXPLOSION]->age, 0.05f);
  EXPECT_FLOAT_EQ(m.objects[KIND_NUKE_EXPLOSION]->age, 0.0f);
}

// --- Keys ---

TEST_F(GameTest, ForwardThrustSendsPressAndReleaseAndRunsTheEngine) {
  g_client_settings.keys.Z_FORWARD_KEY = 'w';
  own();
  play_key_down('w');
  EXPECT_EQ(g_connection.KeyState[KEYSTATE_FORWARD_THRUST], 1);
  EXPECT_EQ(recorder().count(SoundCall::LOOP, SOUND_ENGINE_LOOP), 1);
  play_key_up('w');
  EXPECT_EQ(g_connection.KeyState[KEYSTATE_FORWARD_THRUST], 0);
  EXPECT_EQ(recorder().count(SoundCall::STOP, -1), 1);
  EXPECT_EQ(events_after_wait(2), (V{21, 5}));
}

TEST_F(GameTest, KeySharedByForwardAndReverseThrustDoesOnlyForward) {
  g_client_settings.keys.Z_FORWARD_KEY = 'w';
  g_client_settings.keys.Z_BACKWARD_KEY = 'w';
  g_client_settings.keys.X_FORWARD_ROTATE_KEY = 'r';
  g_client_settings.keys.X_BACKWARD_ROTATE_KEY = 'r';
  own();
  play_key_down('w');
  EXPECT_EQ(g_connection.KeyState[KEYSTATE_REVERSE_THRUST], 0);
  play_key_up('w');
  play_key_down('r');
  play_key_up('r');
  EXPECT_EQ(events_after_wait(4), (V{21, 5, 23, 7}));
}

TEST_F(GameTest, EveryRotationAndItsRelease) {
  auto& k = g_client_settings.keys;
  k.X_BACKWARD_ROTATE_KEY = 'a';
  k.Y_FORWARD_ROTATE_KEY = 'b';
  k.Y_BACKWARD_ROTATE_KEY = 'c';
  k.Z_FORWARD_ROTATE_KEY = 'd';
  k.Z_BACKWARD_ROTATE_KEY = 'e';
  k.Z_BACKWARD_KEY = 's';
  own();
  for (unsigned char c : {'a', 'b', 'c', 'd', 'e', 's'}) play_key_down(c);
  for (int b = KEYSTATE_REVERSE_THRUST; b <= KEYSTATE_Z_BACKWARD_ROTATE; ++b) {
    EXPECT_EQ(g_connection.KeyState[b], b == KEYSTATE_X_FORWARD_ROTATE ? 0 : 1) << b;
  }
  for (unsigned char c : {'a', 'b', 'c', 'd', 'e', 's'}) play_key_up(c);
  for (int b = 0; b < 16; ++b) EXPECT_EQ(g_connection.KeyState[b], 0) << b;
  EXPECT_EQ(events_after_wait(12), (V{24, 25, 26, 27, 28, 22, 8, 9, 10, 11, 12, 6}));
}

TEST_F(GameTest, CharacterZeroNeverActs) {
  own();  // every binding is still character 0
  play_key_down(0);
  play_key_up(0);
  EXPECT_TRUE(g_play.inGame);
  for (int b = 0; b < 16; ++b) EXPECT_EQ(g_connection.KeyState[b], 0);
  EXPECT_EQ(events_after_wait(0), V{});
}

TEST_F(GameTest, PressesWaitForTheOwnRecordReleasesDoNot) {
  g_client_settings.keys.Z_FORWARD_KEY = 'w';
  g_client_settings.keys.SHIELD_KEY = 's';
  play_key_down('w');
  play_key_down('s');
  EXPECT_EQ(g_connection.KeyState[KEYSTATE_FORWARD_THRUST], 0);
  play_key_up('w');
  play_key_up('s');
  EXPECT_EQ(events_after_wait(2), (V{5, 14}));
  EXPECT_EQ(recorder().count(SoundCall::LOOP, -1), 0);
}

TEST_F(GameTest, QuitKeyLeavesBeforeTheFirstUpdate) {
  g_client_settings.keys.QUIT_KEY = 'q';
  play_key_down('q');
  EXPECT_FALSE(g_play.inGame);
  EXPECT_FALSE(g_play.holdsMirror);
  EXPECT_EQ(recorder().mainMenus, 1);
  EXPECT_EQ(g_connection.receiversRunning.load(), 0);
  EXPECT_EQ(g_connection.socket, -1);
  EXPECT_EQ(events_after_wait(1), (V{31}));
}

TEST_F(GameTest, ShieldWithoutEnergyClicksAndStillAsks) {
  g_client_settings.keys.SHIELD_KEY = 's';
  own(3, 0);
  play_key_down('s');
  EXPECT_EQ(recorder().count(SoundCall::ONE_SHOT, SOUND_SHIELD_EMPTY), 1);
  EXPECT_EQ(recorder().count(SoundCall::LOOP, SOUND_SHIELD_LOOP), 0);
  EXPECT_EQ(g_connection.KeyState[KEYSTATE_SHIELD], 1);
  play_key_up('s');
  EXPECT_EQ(events_after_wait(2), (V{30, 14}));
}

TEST_F(GameTest, ShieldWithEnergyHumsUntilReleased) {
  g_client_settings.keys.SHIELD_KEY = 's';
  own(3, 200);
  play_key_down('s');
  frame_step();  // held key with energy: no second loop
  EXPECT_EQ(recorder().count(SoundCall::LOOP, SOUND_SHIELD_LOOP), 1);
  play_key_up('s');
  EXPECT_EQ(recorder().count(SoundCall::STOP, -1), 1);
  EXPECT_EQ(g_play.shieldLoop, -1);
}

TEST_F(GameTest, WarpAndNukeArePressOnlyAndStayInKeyState) {
  g_client_settings.keys.WARP_KEY = 'h';
  g_client_settings.keys.NUKE_KEY = 'n';
  own();
  for (const unsigned char key : {'h', 'n'}) {
    play_key_down(key);
    play_key_up(key);
  }
  EXPECT_EQ(g_connection.KeyState[KEYSTATE_WARP], 1);
  EXPECT_EQ(g_connection.KeyState[KEYSTATE_NUKE], 1);
  EXPECT_EQ(events_after_wait(2), (V{33, 32}));
}

TEST_F(GameTest, ScoreTableAndReverseViewFollowTheirKeys) {
  g_client_settings.keys.SCORE_KEY = 't';
  g_client_settings.keys.REVERSE_VIEW_KEY = 'v';
  own();
  play_key_down('t');
  play_key_down('v');
  EXPECT_EQ(g_play.scoreTable, 1);
  EXPECT_EQ(g_play.reverseView, 1);
  play_key_up('t');
  play_key_up('v');
  EXPECT_EQ(g_play.scoreTable, 0);
  EXPECT_EQ(g_play.reverseView, 0);
  EXPECT_EQ(events_after_wait(0), V{});
}

TEST_F(GameTest, FireWithUnlimitedLivesNeverEndsTheGame) {
  g_client_settings.keys.FIRE_KEY = ' ';
  own(-1);
  play_key_down(' ');
  play_key_up(' ');
  EXPECT_TRUE(g_play.inGame);
  EXPECT_EQ(events_after_wait(1), (V{29}));
}

TEST_F(GameTest, FireAfterTheLastLifeGoesToTheNameEntryWhenTheScoreQualifies) {
  g_client_settings.keys.FIRE_KEY = ' ';
  own(0).score = 77;
  recorder().qualifies = true;
  play_key_down(' ');
  EXPECT_FALSE(g_play.inGame);
  EXPECT_EQ(recorder().nameEntries, 1);
  EXPECT_EQ(recorder().mainMenus, 0);
  EXPECT_EQ(recorder().count(SoundCall::ONE_SHOT, SOUND_HIGH_SCORE), 1);
  EXPECT_EQ(events_after_wait(1), (V{31}));
}

TEST_F(GameTest, FireAfterTheLastLifeWithALowScoreShowsTheMenu) {
  g_client_settings.keys.FIRE_KEY = ' ';
  own(0);
  play_key_down(' ');
  EXPECT_EQ(recorder().nameEntries, 0);
  EXPECT_EQ(recorder().mainMenus, 1);
  EXPECT_EQ(recorder().count(SoundCall::ONE_SHOT, SOUND_HIGH_SCORE), 0);
}

TEST_F(GameTest, GameOverFireKeySharedWithThrustDoesNothingAfterTheEnd) {
  g_client_settings.keys.FIRE_KEY = 'f';
  g_client_settings.keys.Z_FORWARD_KEY = 'f';
  g_client_settings.keys.QUIT_KEY = 'f';
  own(0);
  play_key_down('f');
  EXPECT_FALSE(g_play.inGame);
  EXPECT_EQ(recorder().mainMenus, 1) << "ended once, not left again";
  EXPECT_EQ(g_connection.KeyState[KEYSTATE_FORWARD_THRUST], 0);
  EXPECT_EQ(events_after_wait(1), (V{31}));
}

// --- Frames ---

TEST_F(GameTest, EngineStopsWhenTheShipDiesAndRestartsAfterRespawn) {
  g_client_settings.keys.Z_FORWARD_KEY = 'w';
  MirrorPlayer& me = own();
  play_key_down('w');
  EXPECT_EQ(recorder().count(SoundCall::LOOP, SOUND_ENGINE_LOOP), 1);
  me.alive = 0;
  frame_step();
  EXPECT_EQ(g_play.engineLoop, -1);
  EXPECT_EQ(recorder().count(SoundCall::STOP, -1), 1);
  frame_step();
  EXPECT_EQ(recorder().count(SoundCall::LOOP, SOUND_ENGINE_LOOP), 1);
  g_mirror.players[g_mirror.join.slot]->alive = 1;
  frame_step();
  EXPECT_EQ(recorder().count(SoundCall::LOOP, SOUND_ENGINE_LOOP), 2);
}

TEST_F(GameTest, LoopsStopWhenTheOwnRecordIsMissingOrShieldRunsDry) {
  g_client_settings.keys.SHIELD_KEY = 's';
  MirrorPlayer& me = own(3, 100);
  play_key_down('s');
  ASSERT_NE(g_play.shieldLoop, -1);
  me.shield = 0;
  frame_step();
  EXPECT_EQ(g_play.shieldLoop, -1);
  g_mirror.players[g_mirror.join.slot]->shield = 50;
  frame_step();  // key still held: hum again
  EXPECT_NE(g_play.shieldLoop, -1);
  g_mirror.players[g_mirror.join.slot].reset();
  frame_step();
  EXPECT_EQ(g_play.shieldLoop, -1);
}

TEST_F(GameTest, HeldKeyAcrossSecondsSendsOneUpdatePerSecond) {
  g_client_settings.keys.Z_FORWARD_KEY = 'w';
  own();
  play_key_down('w');
  const time_t first = g_play.lastUpdate.tv_sec;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(2300);
  int frames = 0;
  while (std::chrono::steady_clock::now() < end && frames < 1000) {
    // A frame that took no measurable time is not paced: give each some.
    std::this_thread::sleep_for(std::chrono::microseconds(50));
    frame_step();
    ++frames;
  }
  const long seconds = static_cast<long>(g_play.lastUpdate.tv_sec - first);
  ASSERT_GE(seconds, 2);
  server.wait_for([&] { return static_cast<long>(server.of_size(16).size()) >= seconds; });
  const auto updates = server.of_size(KEY_STATE_SIZE);
  EXPECT_EQ(static_cast<long>(updates.size()), seconds);
  for (const auto& u : updates) EXPECT_EQ(u[KEYSTATE_FORWARD_THRUST], 1);
  // Paced to at most about 50 frames a second (fewer on a busy machine).
  EXPECT_GT(frames, 40);
  EXPECT_LT(frames, 125);
}

TEST_F(GameTest, FrameDrawsOnlyWithAnOwnRecordAndAgesExplosions) {
  g_mirror.objects[5] = std::make_unique<MirrorObject>();
  g_mirror.objects[5]->kind = KIND_SMALL_EXPLOSION;
  play_frame();
  EXPECT_EQ(recorder().draws, 0);
  own();
  play_frame();
  EXPECT_EQ(recorder().draws, 1);
  EXPECT_GT(g_mirror.objects[5]->age, 0.0f);
  EXPECT_TRUE(g_play.holdsMirror);
}

}  // namespace
}  // namespace zbx
