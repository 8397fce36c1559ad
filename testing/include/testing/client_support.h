// Test helpers: hooks that record what the client asked of sound and menus, a
// scripted UDP peer on 127.0.0.1, and snapshot builders.
#pragma once

#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/client.h"
#include "protocol/protocol.h"
#include "protocol/query.h"
#include "startup/settings.h"
#include "testing/files.h"
#include "testing/loopback.h"

namespace zbx::test {

// --- Recording hooks ---

struct SoundCall {
  enum Kind { ONE_SHOT, LOOP, STOP, STOP_ALL } kind;
  int number;  // sound number, or the handle for STOP
  Vector3f position;
};

struct Recorder {
  std::mutex lock;
  std::vector<SoundCall> sounds;
  int nextHandle = 0;
  int mainMenus = 0;
  int nameEntries = 0;
  int overlayProjections = 0;
  int draws = 0;
  bool qualifies = false;

  std::vector<SoundCall> calls() {
    std::lock_guard<std::mutex> g(lock);
    return sounds;
  }
  int count(SoundCall::Kind kind, int number) {
    std::lock_guard<std::mutex> g(lock);
    int n = 0;
    for (const auto& c : sounds) n += c.kind == kind && (number < 0 || c.number == number);
    return n;
  }
  void clear() {
    std::lock_guard<std::mutex> g(lock);
    sounds.clear();
  }
};

inline Recorder& recorder() {
  static Recorder r;
  return r;
}

inline void install_recorder() {
  Recorder& r = recorder();
  {
    std::lock_guard<std::mutex> g(r.lock);
    r.sounds.clear();
    r.nextHandle = 0;
    r.mainMenus = r.nameEntries = r.overlayProjections = r.draws = 0;
    r.qualifies = false;
  }
  ClientHooks h = default_client_hooks();
  h.play_sound_at = [](int n, Vector3f p) {
    std::lock_guard<std::mutex> g(recorder().lock);
    recorder().sounds.push_back({SoundCall::ONE_SHOT, n, p});
  };
  h.play_loop = [](int n) {
    std::lock_guard<std::mutex> g(recorder().lock);
    recorder().sounds.push_back({SoundCall::LOOP, n, {}});
    return recorder().nextHandle++ % 16;
  };
  h.stop_loop = [](int handle) {
    std::lock_guard<std::mutex> g(recorder().lock);
    recorder().sounds.push_back({SoundCall::STOP, handle, {}});
  };
  h.stop_all_loops = [] {
    std::lock_guard<std::mutex> g(recorder().lock);
    recorder().sounds.push_back({SoundCall::STOP_ALL, -1, {}});
  };
  h.show_main_menu = [] { ++recorder().mainMenus; };
  h.show_name_entry = [] { ++recorder().nameEntries; };
  h.score_qualifies = [](int) { return recorder().qualifies; };
  h.set_overlay_projection = [] { ++recorder().overlayProjections; };
  h.draw_world = [] {
    // Reads the mirror as the real world pass does, under the frame's lock.
    int n = 0;
    for (const auto& o : g_mirror.objects) n += o ? 1 : 0;
    for (const auto& p : g_mirror.players) n += p ? 1 : 0;
    recorder().draws += n >= 0 ? 1 : 0;
  };
  g_client_hooks = h;
}

// --- Process state ---

inline int open_descriptors() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d) != nullptr) ++n;
    closedir(d);
  }
  return n;
}

// Runs frames until pred holds; the receiver fills the mirror while they sleep.
template <class Pred>
bool frames_until(Pred pred, int maxFrames = 150) {
  for (int i = 0; i < maxFrames; ++i) {
    if (pred()) return true;
    frame_step();
  }
  return pred();
}

// Fresh client state, a temporary HOME, default settings, recording hooks.
inline void fresh_client(int serverPort, std::chrono::milliseconds timeout) {
  static const test::TempDir home;
  setenv("HOME", home.path().c_str(), 1);
  reset_client_state();
  clear_mirror();
  g_mirror.join = JoinInfo{};
  g_client_settings = ClientSettings{};
  g_client_settings.SERVER_PORT = serverPort;
  g_connection.receiveTimeout = timeout;
  install_recorder();
}

// --- A scripted peer on 127.0.0.1 ---

struct Datagram {
  std::vector<std::uint8_t> bytes;
  sockaddr_in from{};
};

class FakeServer {
 public:
  // Answers joins with reply (its slot may be out of range) after the first
  // ignoredJoins requests; answerJoins false: never answers.
  FakeServer() {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    port_ = ntohs(bind_loopback(fd_).sin_port);
    timeval tv{0, 20000};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    reply_ = JoinReply{.gameType = 1,
                       .maxPlayers = 8,
                       .slot = 2,
                       .worldWidth = 10.0f,
                       .maxShield = 300,
                       .maxArmor = 1000};
  }
  ~FakeServer() {
    stop();
    close(fd_);
  }
  void start() {
    running_ = true;
    thread_ = std::thread([this] { run(); });
  }
  void stop() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
  }
  int port() const { return port_; }

  JoinReply reply() {
    std::lock_guard<std::mutex> g(lock_);
    return reply_;
  }
  void set_reply(const JoinReply& r) {
    std::lock_guard<std::mutex> g(lock_);
    reply_ = r;
  }
  std::atomic<bool> answerJoins{true};
  std::atomic<bool> answerStatus{true};
  std::atomic<int> badSlotReplies{0};  // first joins answered with slot 256

  std::vector<Datagram> received() {
    std::lock_guard<std::mutex> g(lock_);
    return received_;
  }
  void forget() {
    std::lock_guard<std::mutex> g(lock_);
    received_.clear();
  }
  // Datagrams of one length received so far.
  std::vector<std::vector<std::uint8_t>> of_size(std::size_t size) {
    std::vector<std::vector<std::uint8_t>> out;
    for (auto& d : received()) {
      if (d.bytes.size() == size) out.push_back(d.bytes);
    }
    return out;
  }
  // Key event bytes received so far, in order.
  std::vector<int> key_events() {
    std::vector<int> out;
    for (auto& d : of_size(KEY_EVENT_SIZE)) out.push_back(d[0]);
    return out;
  }
  // Waits until pred() holds or the time is up.
  template <class Pred>
  bool wait_for(Pred pred, std::chrono::milliseconds limit = std::chrono::milliseconds(2000)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      if (pred()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return pred();
  }
  // Sends raw bytes to the last client that spoke to us.
  void send_to_client(const std::vector<std::uint8_t>& bytes) {
    sockaddr_in to;
    {
      std::lock_guard<std::mutex> g(lock_);
      to = client_;
    }
    sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }

 private:
  void run() {
    std::uint8_t buf[4096];
    while (running_) {
      sockaddr_in from{};
      socklen_t len = sizeof from;
      const ssize_t n = recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
      if (n < 0) continue;
      {
        std::lock_guard<std::mutex> g(lock_);
        received_.push_back({std::vector<std::uint8_t>(buf, buf + n), from});
        client_ = from;
      }
      // A status answer without extensions: the join then follows at once.
      const OobMessage query = parse_out_of_band(buf, static_cast<std::size_t>(n));
      if (query.kind == OobKind::GetStatus && answerStatus) {
        std::string info;
        info_append(info, "challenge", query.challenge, QUERY_MAX_DATAGRAM);
        const std::string answer = status_response(info, {});
        sendto(fd_, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from),
               sizeof from);
      }
      if (n == static_cast<ssize_t>(JOIN_REQUEST_SIZE) && answerJoins) {
        std::uint8_t out[JOIN_REPLY_SIZE];
        JoinReply r = reply();
        if (badSlotReplies.load() > 0) {
          --badSlotReplies;
          r.slot = 256;
        }
        encode_join_reply(r, out);
        sendto(fd_, out, sizeof out, 0, reinterpret_cast<sockaddr*>(&from), sizeof from);
      }
    }
  }

  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> running_{false};
  std::thread thread_;
  std::mutex lock_;
  std::vector<Datagram> received_;
  sockaddr_in client_{};
  JoinReply reply_;
};

// --- Snapshot builders ---

inline void append(std::vector<std::uint8_t>& out, std::size_t size, auto encode) {
  const std::size_t at = out.size();
  out.resize(at + size);
  encode(out.data() + at);
}

inline void add_object(std::vector<std::uint8_t>& out, const ObjectMessage& m) {
  append(out, OBJECT_MESSAGE_SIZE, [&](std::uint8_t* p) { encode_object_message(m, p); });
}
inline void add_player(std::vector<std::uint8_t>& out, const PlayerMessage& m) {
  append(out, PLAYER_MESSAGE_SIZE, [&](std::uint8_t* p) { encode_player_message(m, p); });
}
inline void add_sound(std::vector<std::uint8_t>& out, const SoundEventMessage& m) {
  append(out, SOUND_EVENT_MESSAGE_SIZE, [&](std::uint8_t* p) { encode_sound_event_message(m, p); });
}
inline void add_presence(std::vector<std::uint8_t>& out, const PresenceMessage& m) {
  append(out, PRESENCE_MESSAGE_SIZE, [&](std::uint8_t* p) { encode_presence_message(m, p); });
}

inline PlayerMessage player(int slot, const char* name = "Pilot") {
  PlayerMessage m;
  m.slot = slot;
  m.lives = 3;
  m.alive = 1;
  m.shield = 300;
  m.size = 0.2f;
  m.orientation = IDENTITY_MATRIX;
  std::snprintf(m.name, sizeof m.name, "%s", name);
  return m;
}

inline ObjectMessage object(int slot, int kind, Vector3f at = {}) {
  ObjectMessage m;
  m.slot = slot;
  m.kind = kind;
  m.position = at;
  m.size = 0.25f;
  m.orientation = IDENTITY_MATRIX;
  return m;
}

// A client and settings files in HOME for games against a server of this
// process: four players, game type 1, three asteroids, on a free port.
class LocalGameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fresh_client(0, std::chrono::milliseconds(1000));
    home_ = std::getenv("HOME");
    g_paths.serverSettings = home_ + "/ZBXServerConfig";
    g_paths.singleSettings = home_ + "/ZBXServerSingleConfig";
    g_paths.clientSettings = home_ + "/ZBXConfig";
    std::remove(g_paths.clientSettings.c_str());
    port_ = free_udp_port();
    write_file(g_paths.serverSettings, "MAX_NUMBER_OF_PLAYERS=4\nGAME_TYPE=1\nGAME_PORT=" +
                                           std::to_string(port_) + "\nSTART_ASTEROIDS=3\n");
  }
  void TearDown() override {
    if (g_play.inGame) leave_game();
    reset_client_state();
  }
  std::string home_;
  int port_ = 0;
};

}  // namespace zbx::test
