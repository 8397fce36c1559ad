// Whole games against the real server running on a thread of this process,
// on a free port of 127.0.0.1: which server a game may wait for, and leaving
// the process with the server's and the game's threads still running.
#include <gtest/gtest.h>

#include "client/replay.h"
#include "server/server.h"
#include "testing/client_support.h"
#include "testing/files.h"
#include "testing/loopback.h"

namespace zbx {
namespace {

using namespace std::chrono_literals;
using test::FakeServer;
using test::frames_until;
using test::free_udp_port;
using test::recorder;

int object_count() {
  int n = 0;
  for (const auto& o : g_mirror.objects) n += o ? 1 : 0;
  return n;
}

class ServerGameTest : public test::LocalGameTest {};

TEST_F(ServerGameTest, MultiPlayerGameOnAServerStartedHere) {
  load_server_settings(g_paths.serverSettings.c_str());
  ASSERT_TRUE(start_server_thread(1));
  EXPECT_FALSE(start_server_thread(1)) << "one server thread at a time";
  std::this_thread::sleep_for(200ms);

  std::snprintf(g_client_settings.PLAYER_NAME, sizeof g_client_settings.PLAYER_NAME, "Tester");
  g_client_settings.SERVER_PORT = port_;
  g_client_settings.keys.Z_FORWARD_KEY = 'w';
  g_client_settings.keys.QUIT_KEY = 'q';
  test::TempDir records;
  ASSERT_TRUE(start_recording(records.file("game")));
  ASSERT_EQ(StartGame(), 0);
  EXPECT_EQ(g_mirror.join.gameType, 1);
  EXPECT_FLOAT_EQ(g_mirror.join.worldWidth, 10.0f);
  // The status answer before the join: the server's rules, and the compact
  // stream it offers.
  EXPECT_TRUE(g_mirror.join.traits.known);
  EXPECT_FLOAT_EQ(g_mirror.join.traits.rotationSpeed, g_server_settings.ROTATION_SPEED);
  EXPECT_TRUE(g_connection.compact);

  ASSERT_TRUE(frames_until([] { return own_player() != nullptr && object_count() >= 3; }));
  EXPECT_STREQ(own_player()->name, "Tester");
  EXPECT_EQ(own_player()->alive, 1);
  EXPECT_EQ(g_mirror.matchRunning, 1);

  // Snapshots keep coming: the asteroids drift from one to the next.
  int slot = -1;
  for (int i = 0; i < MAX_OBJECTS && slot < 0; ++i) {
    if (g_mirror.objects[i] && g_mirror.objects[i]->kind == KIND_ASTEROID) slot = i;
  }
  ASSERT_GE(slot, 0);
  const Vector3f start = g_mirror.objects[slot]->position;
  EXPECT_TRUE(frames_until([&] {
    const auto& o = g_mirror.objects[slot];
    return !o || o->position.x != start.x || o->position.y != start.y || o->position.z != start.z;
  }));

  // Forward thrust, forwarded as key events, moves the own ship.
  const Vector3f from = own_player()->position;
  play_key_down('w');
  EXPECT_TRUE(frames_until([&] {
    const Vector3f p = own_player()->position;
    return p.x != from.x || p.y != from.y || p.z != from.z;
  }));
  play_key_up('w');

  play_key_down('q');
  EXPECT_FALSE(g_play.inGame);
  EXPECT_EQ(g_connection.receiversRunning.load(), 0);
  // Leaving a multi-player game never waits for, nor stops, this process's server.
  EXPECT_TRUE(local_server_running());
  EXPECT_TRUE(stop_server_thread());
  EXPECT_FALSE(local_server_running());

  // The compact game was recorded as snapshots of the first stream's layout.
  g_recording = RecordingState{};
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
      std::fopen(records.file("game").c_str(), "rb"), std::fclose);
  ASSERT_TRUE(file);
  RecordingReader reader(file.get());
  JoinReply join;
  std::string message;
  ASSERT_TRUE(reader.open(join, message)) << message;
  int presences = 0;
  SnapshotHandler counter;
  counter.context = &presences;
  counter.on_presence = [](void* c, const PresenceMessage&) { ++*static_cast<int*>(c); };
  Record record;
  while (reader.next(record, message) == ReadStatus::Record) {
    parse_snapshot(record.data, record.length, counter);
  }
  EXPECT_GE(presences, 2);  // a short game: a few snapshots
}

TEST_F(ServerGameTest, TwentyQuickGamesOnTheRealServer) {
  load_server_settings(g_paths.serverSettings.c_str());
  ASSERT_TRUE(start_server_thread(1));
  std::this_thread::sleep_for(200ms);
  const int before = test::open_descriptors();
  int compactGames = 0;
  for (int game = 1; game <= 20; ++game) {
    const auto begin = std::chrono::steady_clock::now();
    g_client_settings.SERVER_PORT = port_;
    g_client_settings.keys.QUIT_KEY = 'q';
    g_client_settings.COMPACT_SNAPSHOTS = game % 2;  // either stream, in turn
    ASSERT_EQ(StartGame(), 0) << "game " << game;
    // Asked for, it is granted while the server answers this address's status
    // queries (ten at once, then one a second); never when not asked for.
    if (game % 2 == 0) {
      EXPECT_FALSE(g_connection.compact);
    }
    compactGames += g_connection.compact ? 1 : 0;
    ASSERT_TRUE(frames_until([] { return own_player() != nullptr; }));
    play_key_down('q');
    EXPECT_EQ(g_connection.receiversRunning.load(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 1s) << "game " << game;
  }
  EXPECT_EQ(g_connection.receiversStarted.load(), 20);
  EXPECT_GE(compactGames, 5);
  EXPECT_EQ(test::open_descriptors(), before);
  EXPECT_TRUE(stop_server_thread());
}

TEST_F(ServerGameTest, SinglePlayerGameStartsAndEndsItsPrivateServer) {
  test::write_file(g_paths.singleSettings, "MAX_NUMBER_OF_PLAYERS=1\nGAME_TYPE=1\nGAME_PORT=" +
                                               std::to_string(port_) + "\n");
  g_local_server.singlePlayerPort = port_;
  g_local_server.startWait = 200ms;
  g_client_settings.keys.QUIT_KEY = 'q';

  for (int game = 0; game < 2; ++game) {
    ASSERT_EQ(start_single_player_game(), 0) << "game " << game;
    EXPECT_EQ(g_mirror.join.gameType, 0);
    EXPECT_EQ(start_single_player_game(), -1) << "refused while its server runs";
    ASSERT_TRUE(frames_until([] { return own_player() != nullptr; }));
    g_client_settings.keys.QUIT_KEY = 'q';
    play_key_down('q');
    EXPECT_FALSE(local_server_running());
    EXPECT_FALSE(g_local_server.thread.joinable());
    // The address and port of the client settings are back.
    EXPECT_STREQ(g_client_settings.SERVER_IP, "127.0.0.1");
    EXPECT_EQ(g_client_settings.SERVER_PORT, 12345);
    // The server settings are those of the server file again.
    EXPECT_EQ(g_server_settings.MAX_NUMBER_OF_PLAYERS, 4);
  }
}

TEST_F(ServerGameTest, FailedSinglePlayerJoinStopsItsPrivateServer) {
  test::write_file(g_paths.singleSettings,
                   "MAX_NUMBER_OF_PLAYERS=1\nGAME_PORT=" + std::to_string(port_) + "\n");
  g_local_server.singlePlayerPort = port_;
  g_local_server.startWait = 400ms;
  g_connection.receiveTimeout = 100ms;
  // Someone else takes the only place while the client waits to join.
  std::thread intruder([this] {
    std::this_thread::sleep_for(150ms);
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in to = test::loopback_address(port_);
    std::uint8_t request[JOIN_REQUEST_SIZE];
    encode_join_request("Intruder", request);
    sendto(s, request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    std::this_thread::sleep_for(1000ms);
    close(s);
  });
  testing::internal::CaptureStdout();
  const auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(start_single_player_game(), 1);
  const auto took = std::chrono::steady_clock::now() - begin;
  const std::string out = testing::internal::GetCapturedStdout();
  intruder.join();
  EXPECT_NE(out.find("Failed to connect to server"), std::string::npos);
  EXPECT_EQ(recorder().mainMenus, 1);
  EXPECT_FALSE(local_server_running()) << "a new single-player game can start at once";
  EXPECT_FALSE(g_local_server.thread.joinable());
  EXPECT_LT(took, 2s) << "the private server is woken, not waited out";
}

// A server started from the menu ("Start ZBX Server") on a free port.
class MenuServerTest : public ServerGameTest {
 protected:
  void SetUp() override {
    ServerGameTest::SetUp();
    g_connection.receiveTimeout = 300ms;
    g_client_settings.keys.QUIT_KEY = 'q';
  }
  void start_menu_server(int maxPlayers) {
    test::write_file(g_paths.serverSettings, "MAX_NUMBER_OF_PLAYERS=" + std::to_string(maxPlayers) +
                                                 "\nGAME_PORT=" + std::to_string(port_) + "\n");
    load_server_settings(g_paths.serverSettings.c_str());
    ASSERT_TRUE(start_server_thread(1));
    std::this_thread::sleep_for(150ms);
  }
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
