// A client joined to a scripted peer, as the window thread sees it during a
// game: StartGame has returned and this thread holds the mirror mutex.
#pragma once

#include <gtest/gtest.h>

#include "testing/client_support.h"

namespace zbx::test {

class GameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server.start();
    fresh_client(server.port(), std::chrono::milliseconds(300));
    ASSERT_EQ(StartGame(), 0);
    ASSERT_TRUE(g_play.holdsMirror);
    server.forget();  // probe and join request
  }
  void TearDown() override {
    if (g_play.inGame) leave_game();
    reset_client_state();
    server.stop();
  }

  // The own record as the first update would create it (this thread holds
  // the mirror mutex, so it may write the mirror).
  MirrorPlayer& own(int lives = 3, int shield = 300, bool alive = true) {
    auto& p = g_mirror.players[g_mirror.join.slot];
    if (!p) p = std::make_unique<MirrorPlayer>();
    p->lives = lives;
    p->shield = shield;
    p->alive = alive ? 1 : 0;
    return *p;
  }

  std::vector<int> events_after_wait(std::size_t count) {
    server.wait_for([&] { return server.key_events().size() >= count; });
    // Anything beyond the expected count would arrive within moments.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return server.key_events();
  }

  FakeServer server;
};

}  // namespace zbx::test
