// Smooth motion in a game against a scripted server: the world pass draws
// g_mirror itself with the setting off, and with it on a world whose rock is
// between the places sent while the HUD's mirror keeps the newest snapshot;
// a turn key turns the drawn view at the next frame.
#include "client/smoothing.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "testing/client_support.h"

namespace zbx {
namespace {

constexpr int ROCK = 5;

class Smoothing : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    server.start();
    test::fresh_client(server.port(), std::chrono::milliseconds(300));
    g_client_settings.SMOOTH_MOTION = GetParam();
    g_client_settings.keys.Y_FORWARD_ROTATE_KEY = 'd';
    ASSERT_EQ(StartGame(), 0);
  }
  void TearDown() override {
    if (g_play.inGame) leave_game();
    reset_client_state();
    server.stop();
  }
  // The own ship and a rock at x, as one snapshot.
  void send(float x) {
    std::vector<std::uint8_t> d;
    test::add_object(d, test::object(ROCK, KIND_ASTEROID, {x, 0, -3}));
    test::add_player(d, test::player(g_mirror.join.slot));
    PresenceMessage presence;
    presence.objects[ROCK] = 1;
    presence.players[g_mirror.join.slot] = 1;
    presence.matchRunning = 1;
    test::add_presence(d, presence);
    server.send_to_client(d);
  }
  test::FakeServer server;
};

TEST_P(Smoothing, DrawsBetweenTheSnapshotsOnlyWhenOn) {
  std::vector<float> sent, drawn, newest;
  for (int i = 0; i < 14; ++i) {
    sent.push_back(0.1f * i);
    send(sent.back());
    for (int f = 0; f < 2; ++f) {  // about 40 ms of frames to a snapshot
      play_frame();
      const WorldMirror& m = drawn_mirror();
      if (GetParam() == 0) {
        EXPECT_EQ(&m, &g_mirror) << "off: the mirror itself";
      }
      if (m.objects[ROCK]) drawn.push_back(m.objects[ROCK]->position.x);
      if (g_mirror.objects[ROCK]) newest.push_back(g_mirror.objects[ROCK]->position.x);
    }
  }
  auto was_sent = [&](float x) { return std::find(sent.begin(), sent.end(), x) != sent.end(); };
  for (float x : newest) EXPECT_TRUE(was_sent(x)) << "the HUD's mirror changed: " << x;
  const auto between = std::count_if(drawn.begin(), drawn.end(), [&](float x) {
    return !was_sent(x) && x > 0.0f && x < sent.back();
  });
  ASSERT_GT(drawn.size(), 10u);
  if (GetParam() == 0) {
    EXPECT_EQ(between, 0);
  } else {
    EXPECT_GT(between, static_cast<long>(drawn.size()) / 2) << "drawn only at the places sent";
  }
}

// In a world at rest: the snapshots are all the same.
TEST_P(Smoothing, TurnKeyTurnsTheDrawnViewAtTheNextFrame) {
  for (int i = 0; i < 10; ++i) {
    send(0);
    play_frame();
    play_frame();
  }
  ASSERT_NE(drawn_own_player(), nullptr);
  const Matrix3f before = drawn_own_player()->flightOrientation;
  play_key_down('d');
  play_frame();
  const Matrix3f after = drawn_own_player()->flightOrientation;
  if (GetParam() == 0) {
    EXPECT_EQ(after, before) << "off: only the server turns the view";
  } else {
    EXPECT_NE(after, before) << "the view did not answer the key";
    EXPECT_TRUE(is_rotation(after));
  }
  play_key_up('d');
}

INSTANTIATE_TEST_SUITE_P(Setting, Smoothing, ::testing::Values(0, 1));

}  // namespace
}  // namespace zbx
