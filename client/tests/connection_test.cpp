// Joining, the receiver and whole games against a scripted peer on 127.0.0.1,
// and loop sounds that must not outlive the receiver.
#include <gtest/gtest.h>

#include <algorithm>
#include <type_traits>

#include "protocol/query.h"
#include "testing/client_game.h"

namespace zbx {
namespace {

using test::FakeServer;
using test::frames_until;
using test::GameTest;
using test::recorder;
using test::SoundCall;
using namespace std::chrono_literals;

// Flags polled by other threads.
static_assert(std::is_same_v<decltype(ClientConnection::receiverStop), std::atomic<int>>);
static_assert(std::is_same_v<decltype(ClientConnection::receiverActive), std::atomic<int>>);

class JoinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server.start();
    test::fresh_client(server.port(), 150ms);
  }
  void TearDown() override {
    if (g_play.inGame) leave_game();
    reset_client_state();
    server.stop();
  }
  FakeServer server;
};

TEST_F(JoinTest, ProbeThenStatusQueryThenNameThenJoinInfoFromTheReply) {
  JoinReply r = server.reply();
  r.slot = 3;
  r.gameType = 2;
  r.worldWidth = 12.5f;
  r.maxShield = 250;
  r.maxArmor = 900;
  server.set_reply(r);
  std::snprintf(g_client_settings.PLAYER_NAME, sizeof g_client_settings.PLAYER_NAME, "Ace");
  ASSERT_EQ(ConnectServer(), 0);
  EXPECT_EQ(g_mirror.join.slot, 3);
  EXPECT_EQ(g_mirror.join.gameType, 2);
  EXPECT_FLOAT_EQ(g_mirror.join.worldWidth, 12.5f);
  EXPECT_EQ(g_mirror.join.maxShield, 250);
  EXPECT_EQ(g_mirror.join.maxArmor, 900);

  // The status query (a server of the first games ignores it by its length),
  // then the join.
  const auto got = server.received();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].bytes, std::vector<std::uint8_t>{PROBE_BYTE});
  EXPECT_TRUE(is_out_of_band(got[1].bytes.data(), got[1].bytes.size()));
  EXPECT_TRUE(got[1].bytes.size() != 16 && got[1].bytes.size() != 20);
  std::vector<std::uint8_t> name(JOIN_REQUEST_SIZE, 0);
  std::memcpy(name.data(), "Ace", 3);
  EXPECT_EQ(got[2].bytes, name);
  EXPECT_FALSE(g_connection.compact);
  EXPECT_EQ(recorder().mainMenus, 0);
}

TEST_F(JoinTest, SilentServerRetriesTwiceThenGivesUpAndClosesItsSocket) {
  server.answerJoins = false;
  const int before = test::open_descriptors();
  for (int round = 0; round < 3; ++round) {
    g_client_settings.SERVER_PORT = server.port();
    testing::internal::CaptureStdout();
    EXPECT_EQ(StartGame(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error connecting to server, retrying\n"
              "Error connecting to server, retrying\n"
              "Failed to connect to server\n");
  }
  EXPECT_EQ(recorder().mainMenus, 3);
  EXPECT_EQ(test::open_descriptors(), before);
  EXPECT_FALSE(g_play.holdsMirror);
  EXPECT_EQ(g_connection.receiversStarted.load(), 0);
  EXPECT_EQ(server.of_size(JOIN_REQUEST_SIZE).size(), 9u);
  // The mirror mutex is free: nothing was taken that was not given back.
  EXPECT_TRUE(mirror_mutex().try_lock());
  mirror_mutex().unlock();
}

TEST_F(JoinTest, ReplyWithASlotOutsideTheTableIsNoReply) {
  server.badSlotReplies = 1;
  testing::internal::CaptureStdout();
  EXPECT_EQ(ConnectServer(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error connecting to server, retrying\n");
  EXPECT_EQ(g_mirror.join.slot, server.reply().slot);
}

TEST_F(JoinTest, ShortReplyIsNoReply) {
  server.answerJoins = false;
  std::thread answer([&] {
    // One 19-byte answer to the first request, a good one to the second.
    server.wait_for([&] { return server.of_size(JOIN_REQUEST_SIZE).size() >= 1; });
    server.send_to_client(std::vector<std::uint8_t>(19, 0));
    server.wait_for([&] { return server.of_size(JOIN_REQUEST_SIZE).size() >= 2; });
    std::vector<std::uint8_t> reply(JOIN_REPLY_SIZE + 30, 0);  // longer: cut to 20
    encode_join_reply(server.reply(), reply.data());
    server.send_to_client(reply);
  });
  testing::internal::CaptureStdout();
  const int result = ConnectServer();
  answer.join();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error connecting to server, retrying\n");
}

TEST_F(JoinTest, ShortSlicesKeepEveryAttemptsWholeTimeOut) {
  server.answerJoins = false;
  testing::internal::CaptureStdout();
  const auto start = std::chrono::steady_clock::now();
  begin_join();
  int waits = 0;
  JoinStatus status = JoinStatus::Waiting;
  while ((status = join_step(10ms)) == JoinStatus::Waiting) ++waits;
  EXPECT_GE(std::chrono::steady_clock::now() - start, 3 * 150ms);
  EXPECT_EQ(status, JoinStatus::Failed);
  EXPECT_GE(waits, 20);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Error connecting to server, retrying\n"
            "Error connecting to server, retrying\n"
            "Failed to connect to server\n");
  EXPECT_EQ(server.of_size(JOIN_REQUEST_SIZE).size(), 3u);
  leave_game();
  EXPECT_EQ(g_connection.socket, -1);
}

TEST(JoinDeathTest, HostNameInsteadOfAddressExitsWithStatusTwo) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  test::fresh_client(9, 100ms);
  std::snprintf(g_client_settings.SERVER_IP, sizeof g_client_settings.SERVER_IP, "example.com");
  EXPECT_EXIT(
      {
        dup2(2, 1);  // the message goes to standard output; let the matcher see it
        ConnectServer();
      },
      testing::ExitedWithCode(2), "inet_pton error for example.com");
}

// --- The receiver ---

std::vector<std::uint8_t> own_snapshot(int slot, std::uint8_t warping = 0, int alsoPresent = -1) {
  std::vector<std::uint8_t> d;
  test::add_object(d, test::object(4, KIND_ASTEROID, {1, 2, 3}));
  PlayerMessage me = test::player(slot, "Me");
  me.warping = warping;
  test::add_player(d, me);
  PresenceMessage presence;
  presence.objects[4] = 1;
  presence.players[slot] = 1;
  if (alsoPresent >= 0) presence.players[alsoPresent] = 1;
  presence.matchRunning = 1;
  test::add_presence(d, presence);
  return d;
}

TEST_F(GameTest, SnapshotFillsTheMirror) {
  server.send_to_client(own_snapshot(g_mirror.join.slot));
  ASSERT_TRUE(frames_until([] { return own_player() != nullptr; }));
  EXPECT_STREQ(own_player()->name, "Me");
  ASSERT_NE(g_mirror.objects[4], nullptr);
  EXPECT_EQ(g_mirror.objects[4]->kind, KIND_ASTEROID);
  EXPECT_FLOAT_EQ(g_mirror.objects[4]->position.y, 2.0f);
  EXPECT_EQ(g_mirror.matchRunning, 1);
}

TEST_F(GameTest, WarpLoopFromTheWireStartsOnceStopsOnce) {
  const int slot = g_mirror.join.slot;
  const std::uint8_t warping[] = {1, 1, 1, 0, 0};
  for (int i = 0; i < 5; ++i) {
    std::vector<std::uint8_t> d;
    PlayerMessage me = test::player(slot);
    me.warping = warping[i];
    me.score = i + 1;  // tells which snapshot the mirror holds
    test::add_player(d, me);
    server.send_to_client(d);
    ASSERT_TRUE(frames_until([&] { return own_player() && own_player()->score == i + 1; }));
  }
  EXPECT_EQ(recorder().count(SoundCall::LOOP, SOUND_WARP_LOOP), 1);
  EXPECT_EQ(recorder().count(SoundCall::STOP, -1), 1);
}

TEST_F(GameTest, CraftedDatagramsLeaveTheClientRunning) {
  const int slot = g_mirror.join.slot;
  std::vector<std::vector<std::uint8_t>> bad;

  std::vector<std::uint8_t> d;
  test::add_player(d, test::player(7));
  std::memset(d.data() + 49, 'n', 20);  // name field without a NUL
  bad.push_back(d);

  d.clear();
  test::add_player(d, test::player(256));
  test::add_object(d, test::object(256 * 2, KIND_SHOT));
  test::add_object(d, test::object(8, 100000));
  test::add_object(d, test::object(9, -1));
  bad.push_back(d);

  d.clear();
  for (int s : {22, 127, -1}) {
    SoundEventMessage m;
    m.sound = static_cast<std::int8_t>(s);
    test::add_sound(d, m);
  }
  bad.push_back(d);

  bad.push_back({});                                          // empty datagram
  bad.push_back({0x00});                                      // a QuitAck
  bad.push_back(std::vector<std::uint8_t>(100, MSG_PLAYER));  // player message cut short
  bad.push_back(std::vector<std::uint8_t>(545, MSG_PRESENCE));
  bad.push_back({200, 1, 2, 3});  // unknown type
  std::vector<std::uint8_t> huge;
  while (huge.size() < 4000) test::add_object(huge, test::object(10, KIND_SHOT));
  bad.push_back(huge);  // longer than the receive buffer

  for (const auto& b : bad) server.send_to_client(b);
  std::vector<std::uint8_t> good = own_snapshot(slot, 0, 7);
  server.send_to_client(good);
  ASSERT_TRUE(frames_until([] { return own_player() != nullptr; }));

  EXPECT_EQ(g_connection.receiversRunning.load(), 1);
  ASSERT_NE(g_mirror.players[7], nullptr);
  EXPECT_EQ(std::strlen(g_mirror.players[7]->name), 19u);
  EXPECT_EQ(g_mirror.objects[8], nullptr);
  EXPECT_EQ(g_mirror.objects[9], nullptr);
  EXPECT_EQ(recorder().count(SoundCall::ONE_SHOT, 22), 0);
  // The presence of the good snapshot removed everything not in it but the own record.
  EXPECT_EQ(g_mirror.objects[10], nullptr);
}

TEST_F(GameTest, LateFramesStillLetTheReceiverIn) {
  // Every frame starts late (the time before its step 3 counts), so none
  // sleeps, while snapshots keep coming.
  g_client_hooks.begin_frame = [] { std::this_thread::sleep_for(25ms); };
  own();
  int applied = 0;
  for (int frame = 0; frame < 20; ++frame) {
    std::vector<std::uint8_t> d;
    test::add_object(d, test::object(1, KIND_SHOT, {static_cast<float>(frame), 0, 0}));
    server.send_to_client(d);
    play_frame();  // the datagram arrives during begin_frame's 25 ms
    if (g_mirror.objects[1] && g_mirror.objects[1]->position.x == static_cast<float>(frame)) {
      ++applied;
    }
  }
  EXPECT_GE(applied, 18) << "the receiver must get the mirror between late frames";
}

// --- Whole games ---

TEST(GameCycle, TwentyQuickGamesOneReceiverEachAndNoLeakedDescriptors) {
  FakeServer server;
  server.start();
  test::fresh_client(server.port(), 2000ms);  // a long wait that leaving must cut short
  g_client_settings.keys.QUIT_KEY = 'q';
  const int before = test::open_descriptors();
  for (int game = 1; game <= 20; ++game) {
    const auto start = std::chrono::steady_clock::now();
    g_client_settings.SERVER_PORT = server.port();
    g_client_settings.keys.QUIT_KEY = 'q';
    ASSERT_EQ(StartGame(), 0);
    EXPECT_EQ(g_connection.receiversRunning.load(), 1);
    server.send_to_client(own_snapshot(g_mirror.join.slot));
    frames_until([] { return own_player() != nullptr; }, 10);
    play_key_down('q');
    EXPECT_EQ(g_connection.receiversRunning.load(), 0);
    EXPECT_EQ(g_connection.receiversStarted.load(), game);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s) << "game " << game;
  }
  EXPECT_EQ(test::open_descriptors(), before);
  EXPECT_EQ(recorder().mainMenus, 20);
  // The last quit may still be on its way to the peer's thread.
  server.wait_for([&] {
    const auto e = server.key_events();
    return std::count(e.begin(), e.end(), 31) >= 20;
  });
  const auto events = server.key_events();
  EXPECT_EQ(std::count(events.begin(), events.end(), 31), 20) << "one quit per game";
  EXPECT_EQ(std::count(events.begin(), events.end(), PROBE_BYTE), 20);
  reset_client_state();
}

TEST(GameCycle, ReceiverAndFramesShareTheMirror) {
  FakeServer server;
  server.start();
  test::fresh_client(server.port(), 300ms);
  g_client_settings.keys.Z_FORWARD_KEY = 'w';
  g_client_settings.keys.SHIELD_KEY = 's';
  ASSERT_EQ(StartGame(), 0);
  const int slot = g_mirror.join.slot;
  std::atomic<bool> sending{true};
  std::thread sender([&] {
    for (int i = 0; sending && i < 5000; ++i) {
      std::vector<std::uint8_t> d;
      for (int o = 0; o < 20; ++o) {
        test::add_object(d, test::object((o + i) % 40, o % 2 ? KIND_SMALL_EXPLOSION : KIND_SHOT));
      }
      PlayerMessage me = test::player(slot, "Me");
      me.warping = (i / 10) % 2;
      me.alive = (i / 7) % 2;
      test::add_player(d, me);
      SoundEventMessage s;
      s.sound = static_cast<std::int8_t>(i % NUM_SOUNDS);
      test::add_sound(d, s);
      PresenceMessage p;
      for (int o = 0; o < 20; ++o) p.objects[(o + i) % 40] = 1;
      p.players[slot] = 1;
      test::add_presence(d, p);
      server.send_to_client(d);
      std::this_thread::sleep_for(1ms);
    }
  });
  const auto end = std::chrono::steady_clock::now() + 700ms;
  for (int f = 0; std::chrono::steady_clock::now() < end && f < 200; ++f) {
    play_frame();
    if (f % 5 == 0) play_key_down(f % 10 ? 'w' : 's');
    if (f % 5 == 2) play_key_up(f % 10 ? 'w' : 's');
  }
  sending = false;
  sender.join();
  leave_game();
  EXPECT_EQ(g_connection.receiversRunning.load(), 0);
  EXPECT_GT(recorder().count(SoundCall::ONE_SHOT, -1), 0);
  // Every loop the game started was stopped by the end of it.
  EXPECT_EQ(g_play.engineLoop, -1);
  EXPECT_EQ(g_play.shieldLoop, -1);
  EXPECT_EQ(g_connection.warpLoop, -1);
  reset_client_state();
}

// The peer of the game in progress, for hooks (plain function pointers).
FakeServer* g_peer = nullptr;

class GameEndTest : public test::GameTest {
 protected:
  void SetUp() override {
    test::GameTest::SetUp();
    g_peer = &server;
  }
  void TearDown() override {
    test::GameTest::TearDown();
    g_peer = nullptr;
  }
};

TEST_F(GameEndTest, WarpLoopCannotStartAgainOnceTheGameHasEnded) {
  const int slot = g_mirror.join.slot;
  own();
  g_client_settings.keys.QUIT_KEY = 'q';
  // The moment the loops are stopped, the server's next snapshot says the
  // ship warps. If the receiver still ran, it would start the loop again.
  ClientHooks hooks = g_client_hooks;
  hooks.stop_all_loops = [] {
    {
      std::lock_guard<std::mutex> g(recorder().lock);
      recorder().sounds.push_back({SoundCall::STOP_ALL, -1, {}});
    }
    std::vector<std::uint8_t> d;
    PlayerMessage me = test::player(g_mirror.join.slot);
    me.warping = 1;
    test::add_player(d, me);
    g_peer->send_to_client(d);
    const auto until = std::chrono::steady_clock::now() + 300ms;
    while (g_connection.receiverActive.load() == 0 && std::chrono::steady_clock::now() < until) {
      std::this_thread::yield();
    }
  };
  g_client_hooks = hooks;
  ASSERT_EQ(slot, g_mirror.join.slot);
  play_key_down('q');
  EXPECT_FALSE(g_play.inGame);
  const auto calls = recorder().calls();
  int lastStopAll = -1;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].kind == SoundCall::STOP_ALL) lastStopAll = static_cast<int>(i);
  }
  ASSERT_GE(lastStopAll, 0);
  for (std::size_t i = static_cast<std::size_t>(lastStopAll); i < calls.size(); ++i) {
    EXPECT_NE(calls[i].kind, SoundCall::LOOP) << "a loop started after the game ended";
  }
  EXPECT_EQ(g_connection.warpLoop, -1);
}

}  // namespace
}  // namespace zbx
