// The ends of games: which server a game may wait for, loop sounds that
// must not outlive the receiver, flags shared between threads, and leaving
// the process with threads still running.
#include <gtest/gtest.h>

#include <fstream>
#include <type_traits>

#include "game_fixture.h"
#include "server/server.h"

namespace zbx {
namespace {

using test::FakeServer;
using test::recorder;
using test::SoundCall;
using namespace std::chrono_literals;

// Flags polled by other threads.
static_assert(std::is_same_v<decltype(ClientConnection::receiverStop), std::atomic<int>>);
static_assert(std::is_same_v<decltype(ClientConnection::receiverActive), std::atomic<int>>);

int free_udp_port() {
  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  close(s);
  return ntohs(a.sin_port);
}

// A server started from the menu ("Start ZBX Server") on a free port.
class MenuServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::fresh_client(0, 300ms);
    const std::string home = getenv("HOME");
    g_paths.server_settings = home + "/ZBXServerConfig";
    g_paths.single_settings = home + "/ZBXServerSingleConfig";
    g_paths.client_settings = home + "/ZBXConfig";
    std::remove(g_paths.client_settings.c_str());
    g_client_settings.keys.QUIT_KEY = 'q';
  }
  void TearDown() override {
    if (g_play.inGame) leave_game();
    reset_client_state();
  }
  void start_menu_server(int maxPlayers) {
    port_ = free_udp_port();
    std::ofstream(g_paths.server_settings)
        << "MAX_NUMBER_OF_PLAYERS=" << maxPlayers << "\nGAME_PORT=" << port_ << "\n";
    load_server_settings(g_paths.server_settings.c_str());
    ASSERT_TRUE(start_server_thread(1));
    std::this_thread::sleep_for(150ms);
  }
  int port_ = 0;
};

TEST_F(MenuServerTest, RemoteGameOfTypeZeroLeavesTheMenuServerAlone) {
  start_menu_server(4);
  // Some other server announces a single-player game.
  FakeServer remote;
  JoinReply r = remote.reply();
  r.gameType = 0;
  r.maxPlayers = 1;
  remote.set_reply(r);
  remote.start();
  g_client_settings.SERVER_PORT = remote.port();
  for (int game = 0; game < 2; ++game) {
    ASSERT_EQ(StartGame(), 0);
    EXPECT_EQ(g_mirror.join.gameType, 0);
    g_client_settings.keys.QUIT_KEY = 'q';
    const auto begin = std::chrono::steady_clock::now();
    play_key_down('q');
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 500ms) << "nothing to wait for";
    EXPECT_FALSE(g_play.inGame);
    EXPECT_TRUE(local_server_running()) << "the menu's server was not this game's";
    EXPECT_TRUE(g_local_server.thread.joinable());
    g_client_settings.SERVER_PORT = remote.port();
  }
  remote.stop();
  EXPECT_TRUE(stop_server_thread());
}

TEST_F(MenuServerTest, OnePlayerMenuServerIsNotTheGamesToCollect) {
  // "Start ZBX Server" with room for one: it announces type 0 and stops by
  // itself at the quit, but only "Stop ZBX Server" collects its thread.
  start_menu_server(1);
  g_client_settings.SERVER_PORT = port_;
  ASSERT_EQ(StartGame(), 0);
  EXPECT_EQ(g_mirror.join.gameType, 0);
  play_key_down('q');
  EXPECT_FALSE(g_play.inGame);
  EXPECT_TRUE(g_local_server.thread.joinable());
  // The server ends by itself, with nobody waiting for it.
  const auto until = std::chrono::steady_clock::now() + 3s;
  while (local_server_running() != 0 && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_FALSE(local_server_running());
  EXPECT_TRUE(stop_server_thread());
  EXPECT_FALSE(g_local_server.thread.joinable());
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

TEST(ProcessEndDeathTest, FatalExitGivesItsStatusWhileServerAndGameThreadsRun) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        dup2(2, 1);  // standard output is what must be flushed; let the matcher see it
        FakeServer remote;
        remote.start();
        test::fresh_client(remote.port(), 2000ms);
        g_server_settings = ServerSettings{};
        g_server_settings.MAX_NUMBER_OF_PLAYERS = 4;
        g_server_settings.GAME_PORT = free_udp_port();
        start_server_thread(1);
        StartGame();                                  // a receiver waits in its receive
        std::printf("leaving with threads running");  // no newline: still buffered
        fatal_exit(5);
      },
      testing::ExitedWithCode(5), "leaving with threads running");
}

}  // namespace
}  // namespace zbx
