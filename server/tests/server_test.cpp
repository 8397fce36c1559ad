// The server over real UDP sockets on 127.0.0.1: joins, refusal by silence,
// quits, rejoins, bots, malformed datagrams, stopping, several clients
// playing at once (run under ThreadSanitizer too), no datagram handled before
// the game is set up, and nothing of a server outliving its ServerThread.
// Every wait is bounded.
#include "server/server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "protocol/protocol.h"
#include "startup/settings.h"
#include "testing/loopback.h"
#include "world.h"

namespace zbx {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

using test::free_udp_port;

// A client socket on 127.0.0.1 talking to the server under test.
class TestClient {
 public:
  explicit TestClient(int port) {
    socket_ = socket(AF_INET, SOCK_DGRAM, 0);
    test::bind_loopback(socket_);
    server_ = test::loopback_address(port);
  }
  ~TestClient() { close(socket_); }
  TestClient(const TestClient&) = delete;
  TestClient& operator=(const TestClient&) = delete;

  void send(const void* data, std::size_t length) const {
    sendto(socket_, data, length, 0, reinterpret_cast<const sockaddr*>(&server_), sizeof server_);
  }
  void send_byte(std::uint8_t b) const { send(&b, 1); }
  void send_join(const char* name) const {
    std::uint8_t request[JOIN_REQUEST_SIZE];
    encode_join_request(name, request);
    send(request, sizeof request);
  }
  // One datagram within `wait`, or an empty vector.
  std::vector<std::uint8_t> receive(std::chrono::milliseconds wait) const {
    pollfd p{socket_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(wait.count())) <= 0) return {};
    std::vector<std::uint8_t> buffer(DATAGRAM_BUFFER_SIZE);
    const ssize_t got = recv(socket_, buffer.data(), buffer.size(), 0);
    buffer.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return buffer;
  }
  // Joins and returns the reply's slot, or -1 when no JoinReply came.
  int join(const char* name, std::chrono::milliseconds wait = 2000ms) {
    send_join(name);
    const auto until = Clock::now() + wait;
    while (Clock::now() < until) {
      const auto d =
          receive(std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()));
      if (d.size() == JOIN_REPLY_SIZE) {
        reply = decode_join_reply(d.data());
        return reply.slot;
      }
    }
    return -1;
  }
  // Sends a join every millisecond until a JoinReply comes; its slot, or -1.
  int join_hard(const char* name, std::chrono::milliseconds limit) const {
    const auto until = Clock::now() + limit;
    while (Clock::now() < until) {
      send_join(name);
      const auto d = receive(1ms);
      if (d.size() == JOIN_REPLY_SIZE) return decode_join_reply(d.data()).slot;
    }
    return -1;
  }
  // Counts snapshots (PresenceMessages) received during `span`; true on a QuitAck.
  struct Tally {
    int snapshots = 0;
    int datagrams = 0;
    bool quitAck = false;
    std::vector<int> players;  // slots present in the last PresenceMessage
  };
  Tally listen(std::chrono::milliseconds span) const {
    Tally t;
    SnapshotHandler h;
    h.context = &t;
    h.on_presence = [](void* c, const PresenceMessage& m) {
      auto* tally = static_cast<Tally*>(c);
      ++tally->snapshots;
      tally->players.clear();
      for (int i = 0; i < MAX_PLAYERS; ++i) {
        if (m.players[i]) tally->players.push_back(i);
      }
    };
    const auto until = Clock::now() + span;
    while (Clock::now() < until) {
      const auto d =
          receive(std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()));
      if (d.empty()) continue;
      if (d.size() == 1 && d[0] == QUIT_ACK_BYTE) {
        t.quitAck = true;
        continue;
      }
      ++t.datagrams;
      parse_snapshot(d.data(), d.size(), h);
    }
    return t;
  }

  JoinReply reply;

 private:
  int socket_ = -1;
  sockaddr_in server_{};
};

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_server_settings = ServerSettings{};
    g_server_settings.MAX_NUMBER_OF_PLAYERS = 4;
    g_server_settings.GAME_PORT = free_udp_port();
    g_server_settings.START_ASTEROIDS = 2;
    port_ = g_server_settings.GAME_PORT;
  }
  void TearDown() override { EXPECT_TRUE(stop()); }

  void start(bool waitForPort = true) {
    leftOver_ = -1;
    control_.stop.store(0);
    done_ = std::async(std::launch::async, [this] {
      ServerThread(1, control_);
      // What the world holds the moment ServerThread has returned.
      std::lock_guard<std::mutex> lock(world_lock());
      int n = g_world.humanCount;
      for (const auto& p : g_world.players) n += p ? 1 : 0;
      for (const auto& o : g_world.objects) n += o ? 1 : 0;
      leftOver_ = n;
    });
    // The port is bound before the loop runs.
    const auto until = Clock::now() + 3s;
    while (waitForPort && Clock::now() < until && !bound()) std::this_thread::sleep_for(10ms);
  }

  bool bound() const { return test::udp_port_bound(port_); }

  // True when the server thread ended within `wait`.
  bool ended(std::chrono::milliseconds wait) {
    return !done_.valid() || done_.wait_for(wait) == std::future_status::ready;
  }

  // Stops the server; true when its ServerThread returned in time.
  bool stop() {
    if (!done_.valid()) return true;
    control_.stop.store(1);
    TestClient waker(port_);
    for (int i = 0; i < 100 && !ended(20ms); ++i) waker.send("xx", 2);  // wake the receive
    if (!ended(0ms)) return false;
    done_.get();
    return true;
  }

  int port_ = 0;
  std::atomic<int> leftOver_{-1};  // players, objects and humans left at the return
  ServerControl control_;
  std::future<void> done_;
};

TEST_F(ServerTest, JoinGetsReplyAndAboutTwentySnapshotsASecond) {
  g_server_settings.GAME_TYPE = 2;
  g_server_settings.WORLD_WIDTH = 12.5f;
  start();
  TestClient a(port_);
  testing::internal::CaptureStdout();
  ASSERT_EQ(a.join("Ann"), 0);
  EXPECT_EQ(a.reply.gameType, 2);
  EXPECT_EQ(a.reply.maxPlayers, 4);
  EXPECT_EQ(a.reply.worldWidth, 12.5f);
  EXPECT_EQ(a.reply.maxShield, 300);
  EXPECT_EQ(a.reply.maxArmor, 1000);
  const auto tally = a.listen(1000ms);
  EXPECT_GE(tally.snapshots, 14);
  EXPECT_LE(tally.snapshots, 22);
  EXPECT_EQ(tally.players, std::vector<int>{0});
  ASSERT_TRUE(stop());
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Adding Player 0\n"), std::string::npos);
  EXPECT_NE(out.find("Deleting Player 0\n"), std::string::npos);  // stop sequence
}

TEST_F(ServerTest, FullServerStaysSilentUntilAPlayerQuits) {
  g_server_settings.MAX_NUMBER_OF_PLAYERS = 2;
  start();
  TestClient a(port_), b(port_), c(port_);
  ASSERT_EQ(a.join("A"), 0);
  ASSERT_EQ(b.join("B"), 1);
  EXPECT_EQ(c.join("C", 400ms), -1);

  a.send_byte(encode_key_event(CONTROL_QUIT, true));
  const auto after_quit = a.listen(300ms);
  EXPECT_TRUE(after_quit.quitAck);
  EXPECT_EQ(c.join("C"), 0);
  // The one who left hears nothing more.
  EXPECT_EQ(a.listen(200ms).datagrams, 0);
  const auto seen = b.listen(200ms);
  EXPECT_EQ(seen.players, (std::vector<int>{0, 1}));
}

TEST_F(ServerTest, RejoinFromTheSameAddressIsServedByOneThread) {
  start();
  TestClient a(port_), b(port_);
  ASSERT_EQ(a.join("A"), 0);
  ASSERT_EQ(b.join("B"), 1);
  ASSERT_EQ(a.join("A again"), 0);  // old player deleted, lowest free slot
  a.listen(150ms);                  // let the old thread see its end
  const auto tally = a.listen(1000ms);
  EXPECT_LE(tally.snapshots, 22);  // two threads serving the slot would double this
  EXPECT_GE(tally.snapshots, 14);
  EXPECT_EQ(tally.players, (std::vector<int>{0, 1}));
  std::lock_guard<std::mutex> lock(world_lock());
  EXPECT_EQ(g_world.humanCount, 2);
  EXPECT_STREQ(g_world.players[0]->name, "A again");
}

TEST_F(ServerTest, KeyEventsFromStrangersAndMalformedDatagramsDoNoHarm) {
  start();
  TestClient a(port_), stranger(port_);
  ASSERT_EQ(a.join("A"), 0);
  std::srand(99);
  std::vector<std::uint8_t> junk(100);
  for (std::size_t len = 0; len <= junk.size(); ++len) {
    for (auto& x : junk) x = static_cast<std::uint8_t>(std::rand());
    if (len == JOIN_REQUEST_SIZE) continue;  // that would be a join
    stranger.send(junk.data(), len);
    if (len != KEY_EVENT_SIZE && len != KEY_STATE_SIZE) a.send(junk.data(), len);
  }
  stranger.send_byte(encode_key_event(CONTROL_QUIT, true));  // not a client: ignored
  for (int b = 0; b < 256; ++b) {
    if (b != 31) a.send_byte(static_cast<std::uint8_t>(b));  // every key byte but the quit
  }
  const auto tally = a.listen(500ms);
  EXPECT_GE(tally.snapshots, 5);
  EXPECT_FALSE(tally.quitAck);
  EXPECT_EQ(tally.players, std::vector<int>{0});
  EXPECT_EQ(stranger.listen(100ms).datagrams, 0);
}

// Waits (bounded) until `check` holds with the world lock taken.
template <typename Check>
bool eventually(Check check) {
  const auto until = Clock::now() + 2s;
  while (Clock::now() < until) {
    {
      std::lock_guard<std::mutex> lock(world_lock());
      if (check()) return true;
    }
    std::this_thread::sleep_for(5ms);
  }
  return false;
}

TEST_F(ServerTest, KeyEventsAndKeyStatesReachOnlyTheSendersShip) {
  g_server_settings.START_ASTEROIDS = 0;
  start();
  TestClient a(port_), b(port_);  // same address, different ports
  ASSERT_EQ(a.join("A"), 0);
  ASSERT_EQ(b.join("B"), 1);
  auto ship = [](int slot) -> Ship& { return *g_world.players[slot]; };

  a.send_byte(encode_key_event(CONTROL_FORWARD_THRUST, true));
  EXPECT_TRUE(eventually([&] { return ship(0).thrustInput.z == 3.0f * 0.35f; }));
  {
    std::lock_guard<std::mutex> lock(world_lock());
    EXPECT_EQ(ship(1).thrustInput.z, 0.0f);
  }
  // 0 and 15 do nothing; 16 launches a nuke like 32 would.
  a.send_byte(0);
  a.send_byte(15);
  a.send_byte(16);
  EXPECT_TRUE(eventually([&] { return ship(0).nukes == 1; }));
  {
    std::lock_guard<std::mutex> lock(world_lock());
    EXPECT_EQ(ship(0).thrustInput.z, 3.0f * 0.35f);
    EXPECT_EQ(ship(1).nukes, 2);
  }
  // The held-key summary repairs a lost release.
  KeyStateArray keys{};
  keys[9] = 1;  // reverse thrust held
  b.send(keys.data(), keys.size());
  EXPECT_TRUE(eventually([&] { return ship(1).thrustInput.z == -0.35f; }));
  keys = {};
  a.send(keys.data(), keys.size());
  EXPECT_TRUE(eventually([&] { return ship(0).thrustInput.z == 0.0f; }));
}

TEST_F(ServerTest, SinglePlayerQuitStopsTheServerAndFreesThePort) {
  g_server_settings.MAX_NUMBER_OF_PLAYERS = 1;
  g_server_settings.GAME_TYPE = 1;
  start();
  TestClient a(port_);
  ASSERT_EQ(a.join("Solo"), 0);
  EXPECT_EQ(a.reply.gameType, 0);
  a.send_byte(encode_key_event(CONTROL_QUIT, true));
  ASSERT_TRUE(ended(3000ms));
  done_.get();
  EXPECT_FALSE(bound());  // every thread gone, socket closed
  {
    std::lock_guard<std::mutex> lock(world_lock());
    for (const auto& p : g_world.players) EXPECT_EQ(p, nullptr);
  }
  // A new server starts cleanly on the same port.
  start();
  TestClient b(port_);
  EXPECT_EQ(b.join("Again"), 0);
}

TEST_F(ServerTest, StopFlagEndsEveryThreadWithClientsConnected) {
  start();
  std::vector<std::unique_ptr<TestClient>> clients;
  for (int i = 0; i < 4; ++i) {
    clients.push_back(std::make_unique<TestClient>(port_));
    ASSERT_EQ(clients.back()->join("C"), i);
  }
  control_.stop.store(1);
  clients[0]->send("xx", 2);
  ASSERT_TRUE(ended(2000ms));
  done_.get();
  EXPECT_FALSE(bound());
  // Drain what was in flight; nothing new may follow.
  clients[1]->listen(100ms);
  EXPECT_EQ(clients[1]->listen(200ms).datagrams, 0);
}

// Several clients join, play and leave at once; meant for ThreadSanitizer.
TEST_F(ServerTest, ManyClientsJoiningPlayingAndLeaving) {
  g_server_settings.MAX_NUMBER_OF_PLAYERS = 8;
  g_server_settings.NET_SLEEP_TIME = 10;
  g_server_settings.NUM_BOTS = 2;
  start();
  std::vector<std::thread> players;
  std::atomic<int> joins{0}, snapshots{0};
  for (int i = 0; i < 6; ++i) {
    players.emplace_back([&, i] {
      for (int round = 0; round < 2; ++round) {
        TestClient c(port_);
        if (c.join("player") < 0) continue;
        ++joins;
        KeyStateArray keys{};
        keys[8] = 1;
        c.send(keys.data(), keys.size());
        for (int control : {CONTROL_FORWARD_THRUST, CONTROL_FIRE, CONTROL_SHIELD,
                            CONTROL_Y_FORWARD_ROTATE, CONTROL_NUKE, CONTROL_WARP}) {
          c.send_byte(encode_key_event(control, true));
          snapshots += c.listen(30ms).snapshots;
          c.send_byte(encode_key_event(control, false));
        }
        if ((i + round) % 2 == 0) c.send_join("again");  // rejoin mid-game
        snapshots += c.listen(50ms).snapshots;
        c.send_byte(encode_key_event(CONTROL_QUIT, true));
      }
    });
  }
  for (auto& t : players) t.join();
  EXPECT_EQ(joins.load(), 12);
  EXPECT_GT(snapshots.load(), 12);
  // Everyone has left; only the bots remain, in the lowest slots.
  TestClient last(port_);
  ASSERT_EQ(last.join("last"), 2);
  const auto tally = last.listen(200ms);
  EXPECT_EQ(tally.players, (std::vector<int>{0, 1, 2}));
}

TEST_F(ServerTest, FirstJoinWaitsForTheGameToBeSetUp) {
  // Bots are added by the start of the game; a join handled before it would
  // take slot 0 and then be wiped out with the tables.
  g_server_settings.NUM_BOTS = 30;
  g_server_settings.START_ASTEROIDS = 300;
  // The race is the scheduler's: many rounds make a lucky pass unlikely.
  for (int round = 0; round < 20; ++round) {
    TestClient eager(port_);
    start(false);
    // Joins queue up while the world is held, so the receive loop has one
    // waiting the moment the simulation could start its game.
    const auto until = Clock::now() + 3s;
    while (!bound() && Clock::now() < until) {
    }
    {
      std::lock_guard<std::mutex> hold(world_lock());
      for (int i = 0; i < 20; ++i) {
        eager.send_join("Eager");
        std::this_thread::sleep_for(1ms);
      }
    }
    EXPECT_EQ(eager.join_hard("Eager", 3000ms), 30) << "round " << round;
    {
      std::lock_guard<std::mutex> lock(world_lock());
      ASSERT_NE(g_world.players[30], nullptr) << "round " << round;
      EXPECT_EQ(g_world.players[30]->isBot, 0);
      EXPECT_EQ(g_world.humanCount, 1);
    }
    ASSERT_TRUE(stop());
  }
}

TEST_F(ServerTest, NothingOfAServerOutlivesItsThread) {
  g_server_settings.NUM_BOTS = 3;
  g_server_settings.START_ASTEROIDS = 6;
  g_server_settings.NET_SLEEP_TIME = 5;
  for (int round = 0; round < 3; ++round) {
    start();
    std::vector<std::unique_ptr<TestClient>> clients;
    for (int i = 0; i < 2; ++i) {
      clients.push_back(std::make_unique<TestClient>(port_));
      ASSERT_EQ(clients.back()->join_hard("C", 3000ms), 3 + i) << "round " << round;
    }
    std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(stop()) << "round " << round;
    // The simulation's final clean-up was done before the return, not later.
    EXPECT_EQ(leftOver_.load(), 0) << "round " << round;
    // No broadcast thread is left to send: drain what was in flight, then silence.
    for (auto& c : clients) {
      while (!c->receive(0ms).empty()) {
      }
      EXPECT_TRUE(c->receive(150ms).empty()) << "round " << round;
    }
  }
}

}  // namespace
}  // namespace zbx
