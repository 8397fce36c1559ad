// The server's own threads: nothing of a server outlives its ServerThread,
// and no datagram is handled before the simulation has set up its game.
// Real UDP sockets on 127.0.0.1; every wait is bounded.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <future>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "protocol/protocol.h"
#include "server/server.h"
#include "startup/settings.h"
#include "world.h"

namespace zbx {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

class Peer {
 public:
  explicit Peer(int port) {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local);
    to_.sin_family = AF_INET;
    to_.sin_port = htons(static_cast<std::uint16_t>(port));
    to_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  }
  ~Peer() { close(fd_); }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  void send(const void* data, std::size_t n) const {
    sendto(fd_, data, n, 0, reinterpret_cast<const sockaddr*>(&to_), sizeof to_);
  }
  void send_join(const char* name) const {
    std::uint8_t request[JOIN_REQUEST_SIZE];
    encode_join_request(name, request);
    send(request, sizeof request);
  }
  // One datagram within `wait`, or an empty vector.
  std::vector<std::uint8_t> receive(std::chrono::milliseconds wait) const {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(wait.count())) <= 0) return {};
    std::vector<std::uint8_t> buffer(DATAGRAM_BUFFER_SIZE);
    const ssize_t got = recv(fd_, buffer.data(), buffer.size(), 0);
    buffer.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return buffer;
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

 private:
  int fd_ = -1;
  sockaddr_in to_{};
};

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

class ServerLifetimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_server_settings = ServerSettings{};
    g_server_settings.MAX_NUMBER_OF_PLAYERS = 4;
    g_server_settings.GAME_PORT = free_udp_port();
    port_ = g_server_settings.GAME_PORT;
  }
  void TearDown() override { stop(); }

  void start() {
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
  }
  // Stops the server; true when its ServerThread returned in time.
  bool stop() {
    if (!done_.valid()) return true;
    control_.stop.store(1);
    Peer waker(port_);
    for (int i = 0; i < 100; ++i) {
      waker.send("xx", 2);  // the receive loop sees the flag at once
      if (done_.wait_for(20ms) == std::future_status::ready) break;
    }
    if (done_.wait_for(0ms) != std::future_status::ready) return false;
    done_.get();
    return true;
  }

  // Looks the port up in the kernel's table; binding a probe socket could
  // take the port from the server starting up.
  bool port_bound() const {
    std::ifstream table("/proc/net/udp");
    char wanted[8];
    std::snprintf(wanted, sizeof wanted, ":%04X", static_cast<unsigned>(port_));
    std::string line;
    std::getline(table, line);  // header
    while (std::getline(table, line)) {
      std::istringstream fields(line);
      std::string slot, local;
      fields >> slot >> local;
      if (local.size() > 5 && local.compare(local.size() - 5, 5, wanted) == 0) return true;
    }
    return false;
  }

  int port_ = 0;
  std::atomic<int> leftOver_{-1};  // players, objects and humans left at the return
  ServerControl control_;
  std::future<void> done_;
};

TEST_F(ServerLifetimeTest, FirstJoinWaitsForTheGameToBeSetUp) {
  // Bots are added by the start of the game; a join handled before it would
  // take slot 0 and then be wiped out with the tables.
  g_server_settings.NUM_BOTS = 30;
  g_server_settings.START_ASTEROIDS = 300;
  // The race is the scheduler's: many rounds make a lucky pass unlikely.
  for (int round = 0; round < 20; ++round) {
    Peer eager(port_);
    start();
    // Joins queue up while the world is held, so the receive loop has one
    // waiting the moment the simulation could start its game.
    const auto until = Clock::now() + 3s;
    while (!port_bound() && Clock::now() < until) {
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

TEST_F(ServerLifetimeTest, NothingOfAServerOutlivesItsThread) {
  g_server_settings.NUM_BOTS = 3;
  g_server_settings.START_ASTEROIDS = 6;
  g_server_settings.NET_SLEEP_TIME = 5;
  for (int round = 0; round < 3; ++round) {
    start();
    std::vector<std::unique_ptr<Peer>> clients;
    for (int i = 0; i < 2; ++i) {
      clients.push_back(std::make_unique<Peer>(port_));
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
