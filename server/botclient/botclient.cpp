// zbx3d-botclient: a headless client for tests and load runs. It joins a
// server, sends key events on a schedule and key-state updates at an interval,
// decodes every snapshot datagram and prints one summary line of what it saw.
// With -C it asks for the compact stream (and takes the first one if the
// server does not grant it); -D FILE writes every compact snapshot applied, one
// line per object and player, for comparisons. With -B it joins nothing: it
// lists the servers that the masters (-m) and a broadcast (-b) find, one line
// each, as the game's "Find Servers" does.
// Exit status: 0 joined (or listed), 1 usage or socket error, 2 no JoinReply.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "browser/browser.h"
#include "compact/compact.h"
#include "protocol/protocol.h"

namespace {

using Clock = std::chrono::steady_clock;

struct ScheduledKey {
  double at;  // seconds after the join
  std::uint8_t byte;
};

struct Options {
  std::string address = "127.0.0.1";
  int port = 12346;
  std::string name = "bot";
  double duration = 5.0;
  double updateInterval = 1.0;  // 0: never
  double joinWait = 5.0;
  int joinTries = 3;
  double rejoinAt = -1;  // send the JoinRequest again at this time
  bool quit = false;
  bool play = false;  // built-in manoeuvres: thrust, turn, fire twice a second
  bool list = false;  // -B: list servers instead of joining
  std::string masters;
  std::string broadcast;  // empty: no broadcast
  bool compact = false;
  std::string dump;  // file for the compact snapshots applied
  std::vector<ScheduledKey> keys;
};

// What the snapshots showed.
struct Seen {
  long datagrams = 0;
  long bytes = 0;
  long snapshots = 0;  // PresenceMessages
  long objectMessages = 0;
  long playerMessages = 0;
  long sounds = 0;
  int objects = 0;  // occupied slots in the last PresenceMessage
  int players = 0;
  int ownPresent = 0;
  int ownSlot = -1;
  int ownShield = -1;
  int othersOwnFieldsNonZero = 0;  // (own) fields seen in another player's message
  int matchRunning = -1;
  std::size_t maxDatagram = 0;
  double lastSnapshotAt = -1;
  double now = 0;
  double longestGap = 0;  // seconds between two snapshots applied, after the first
  long rejected = 0;      // compact datagrams refused (a key snapshot asked for)
};

int usage(const char* program) {
  std::printf(
      "usage: %s [-a address] [-p port] [-n name] [-t seconds] [-k time:byte,...]\n"
      "          [-u update_seconds] [-w join_wait] [-r join_tries] [-R rejoin_at] [-q] [-P]\n"
      "          [-C] [-D dump_file]\n"
      "       %s -B [-m host:port,...] [-b broadcast_address] [-t seconds]\n",
      program, program);
  return 1;
}

bool parse_keys(const char* text, std::vector<ScheduledKey>& out) {
  std::string all(text);
  std::size_t pos = 0;
  while (pos < all.size()) {
    const std::size_t end = std::min(all.find(',', pos), all.size());
    const std::string item = all.substr(pos, end - pos);
    const std::size_t colon = item.find(':');
    if (colon == std::string::npos) return false;
    const double at = std::atof(item.substr(0, colon).c_str());
    const int byte = std::atoi(item.substr(colon + 1).c_str());
    if (at < 0 || byte < 0 || byte > 255) return false;
    out.push_back({at, static_cast<std::uint8_t>(byte)});
    pos = end + 1;
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const ScheduledKey& a, const ScheduledKey& b) { return a.at < b.at; });
  return true;
}

bool parse_options(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    const bool has_value = i + 1 < argc;
    if (word == "-q") {
      o.quit = true;
    } else if (word == "-P") {
      o.play = true;
    } else if (word == "-B") {
      o.list = true;
    } else if (word == "-C") {
      o.compact = true;
    } else if (!has_value) {
      return false;
    } else if (word == "-a") {
      o.address = argv[++i];
    } else if (word == "-p") {
      o.port = std::atoi(argv[++i]);
    } else if (word == "-n") {
      o.name = argv[++i];
    } else if (word == "-t") {
      o.duration = std::atof(argv[++i]);
    } else if (word == "-u") {
      o.updateInterval = std::atof(argv[++i]);
    } else if (word == "-w") {
      o.joinWait = std::atof(argv[++i]);
    } else if (word == "-r") {
      o.joinTries = std::max(1, std::atoi(argv[++i]));
    } else if (word == "-R") {
      o.rejoinAt = std::atof(argv[++i]);
    } else if (word == "-D") {
      o.dump = argv[++i];
    } else if (word == "-k") {
      if (!parse_keys(argv[++i], o.keys)) return false;
    } else if (word == "-m") {
      o.masters = argv[++i];
    } else if (word == "-b") {
      o.broadcast = argv[++i];
    } else {
      return false;
    }
  }
  return o.port > 0 && o.port < 65536 && o.duration >= 0;
}

void track_key(zbx::KeyStateArray& state, std::uint8_t byte) {
  const zbx::KeyEvent e = zbx::decode_key_event(byte);
  if (!e.valid) return;
  const int index = zbx::key_state_byte(e.control);
  if (index < 0) return;
  if (e.pressed) {
    state[static_cast<std::size_t>(index)] = 1;
  } else if (index != zbx::KEYSTATE_WARP &&
             index != zbx::KEYSTATE_NUKE) {  // warp and nuke stay set, as a real client does
    state[static_cast<std::size_t>(index)] = 0;
  }
}

void on_presence(void* c, const zbx::PresenceMessage& m) {
  auto* seen = static_cast<Seen*>(c);
  ++seen->snapshots;
  seen->objects = 0;
  seen->players = 0;
  for (std::uint8_t b : m.objects) seen->objects += b ? 1 : 0;
  for (std::uint8_t b : m.players) seen->players += b ? 1 : 0;
  seen->ownPresent = (seen->ownSlot >= 0 && m.players[seen->ownSlot]) ? 1 : 0;
  seen->matchRunning = m.matchRunning;
  if (seen->lastSnapshotAt >= 0) {
    seen->longestGap = std::max(seen->longestGap, seen->now - seen->lastSnapshotAt);
  }
  seen->lastSnapshotAt = seen->now;
}

void on_player(void* c, const zbx::PlayerMessage& m) {
  auto* seen = static_cast<Seen*>(c);
  ++seen->playerMessages;
  if (m.slot == seen->ownSlot) {
    seen->ownShield = m.shield;
  } else if (m.shield || m.armor || m.hit || m.nukes || m.warps) {
    ++seen->othersOwnFieldsNonZero;
  }
}

void on_object(void* c, const zbx::ObjectMessage&) { ++static_cast<Seen*>(c)->objectMessages; }
void on_sound(void* c, const zbx::SoundEventMessage&) { ++static_cast<Seen*>(c)->sounds; }

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

class Connection {
 public:
  bool open(const Options& o) {
    socket_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (socket_ < 0) return false;
    server_.sin_family = AF_INET;
    server_.sin_port = htons(static_cast<std::uint16_t>(o.port));
    return inet_pton(AF_INET, o.address.c_str(), &server_.sin_addr) == 1;
  }
  ~Connection() {
    if (socket_ >= 0) close(socket_);
  }
  bool send(const void* data, std::size_t length) const {
    return sendto(socket_, data, length, 0, reinterpret_cast<const sockaddr*>(&server_),
                  sizeof server_) == static_cast<ssize_t>(length);
  }
  // Waits up to `seconds` for one datagram; returns its length, or -1.
  long receive(std::uint8_t* buffer, std::size_t size, double seconds) const {
    pollfd p{socket_, POLLIN, 0};
    const int millis = static_cast<int>(std::max(0.0, seconds) * 1000.0);
    if (poll(&p, 1, millis) <= 0) return -1;
    return recv(socket_, buffer, size, 0);
  }

 private:
  int socket_ = -1;
  sockaddr_in server_{};
};

// Sends the JoinRequest (or CompactJoin) and waits for a 20-byte reply, like
// the game client; `compact` tells whether the reply grants that stream.
bool join(const Connection& link, const Options& o, zbx::JoinReply& reply, bool& compact) {
  std::uint8_t request[zbx::COMPACT_JOIN_SIZE];
  if (o.compact) {
    zbx::encode_compact_join(o.name.c_str(), request);
  } else {
    zbx::encode_join_request(o.name.c_str(), request);
  }
  const std::size_t length = o.compact ? zbx::COMPACT_JOIN_SIZE : zbx::JOIN_REQUEST_SIZE;
  std::uint8_t buffer[zbx::DATAGRAM_BUFFER_SIZE];
  for (int attempt = 0; attempt < o.joinTries; ++attempt) {
    if (!link.send(request, length)) return false;
    const auto start = Clock::now();
    while (seconds_since(start) < o.joinWait) {
      const long got = link.receive(buffer, sizeof buffer, o.joinWait - seconds_since(start));
      if (got == static_cast<long>(zbx::JOIN_REPLY_SIZE)) {
        reply = zbx::decode_join_reply(buffer);
        compact = o.compact && zbx::is_compact_join_reply(buffer);
        return true;
      }
      // Snapshots of an earlier admission may still arrive: not the reply.
    }
  }
  return false;
}

// -B: one round of the search, then a line per server found, best ping
// first; the name comes last as it may hold blanks.
int list_servers(const Options& o) {
  zbx::Browser browser;
  zbx::BrowserSettings settings;
  settings.broadcast = o.broadcast;
  settings.masters = o.masters;
  std::string error;
  if (!zbx::browser_refresh(browser, settings, error)) {
    std::printf("socket error: %s\n", error.c_str());
    return 1;
  }
  const auto start = Clock::now();
  while (zbx::browser_busy(browser) && seconds_since(start) < o.duration) {
    zbx::browser_poll(browser, std::chrono::milliseconds(20));
  }
  for (const zbx::ServerEntry& e : browser.state.servers) {
    std::string found;
    for (auto [bit, word] :
         {std::pair{zbx::FOUND_LAN, "lan"}, std::pair{zbx::FOUND_MASTER, "master"},
          std::pair{zbx::FOUND_RECENT, "recent"}}) {
      if (e.foundBy & bit) found += (found.empty() ? "" : ",") + std::string(word);
    }
    std::printf("server %s ping=%d players=%d/%d game_type=%d found=%s name=%s\n",
                zbx::format_server_address(e.where).c_str(), e.ping, e.players, e.maxPlayers,
                e.gameType, found.c_str(), e.name.c_str());
  }
  return 0;
}

// One line per object and player of a compact snapshot, for comparisons
// with what the first stream delivers.
void dump_frame(std::FILE* out, double at, const zbx::CompactFrame& f) {
  std::fprintf(out, "snapshot %.4f %u %d\n", at, f.step, f.matchRunning);
  for (const zbx::FrameObject& o : f.objects) {
    if (!o.present) continue;
    const zbx::ObjectMessage& m = o.message;
    std::fprintf(out, "o %d %d %.6f %.6f %.6f %.6f", m.slot, m.kind, m.position.x, m.position.y,
                 m.position.z, m.size);
    for (float v : m.orientation) std::fprintf(out, " %.6f", v);
    std::fputc('\n', out);
  }
  for (const zbx::FramePlayer& p : f.players) {
    if (!p.present) continue;
    const zbx::PlayerMessage& m = p.message;
    std::fprintf(out, "p %d %d %d %d %d %d %d %d %d %d %d %.6f %.6f %.6f %.6f", m.slot, m.score,
                 m.lives, m.shieldActive, m.shield, m.armor, m.hit, m.alive, m.nukes, m.warps,
                 m.warping, m.position.x, m.position.y, m.position.z, m.size);
    for (float v : m.orientation) std::fprintf(out, " %.6f", v);
    std::fprintf(out, " %s\n", m.name);
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parse_options(argc, argv, o)) return usage(argv[0]);
  if (o.list) return list_servers(o);
  Connection link;
  if (!link.open(o)) {
    std::printf("socket or address error\n");
    return 1;
  }
  const std::uint8_t probe = zbx::PROBE_BYTE;
  link.send(&probe, 1);
  zbx::JoinReply reply;
  bool compact = false;
  if (!join(link, o, reply, compact)) {
    std::printf("refused\n");
    return 2;
  }
  std::printf(
      "joined slot=%d game_type=%d max_players=%d world_width=%g max_shield=%d "
      "max_armor=%d\n",
      reply.slot, reply.gameType, reply.maxPlayers, static_cast<double>(reply.worldWidth),
      reply.maxShield, reply.maxArmor);
  std::fflush(stdout);

  Seen seen;
  seen.ownSlot = reply.slot;
  zbx::SnapshotHandler handler{&seen, on_presence, on_player, on_object, on_sound};
  std::unique_ptr<zbx::CompactDecoder> decoder;
  auto frame = std::make_unique<zbx::CompactFrame>();
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> dump(nullptr, std::fclose);
  auto send_ack = [&] {
    std::uint8_t ack[zbx::COMPACT_ACK_SIZE];
    zbx::encode_compact_ack(decoder->ack(), ack);
    link.send(ack, sizeof ack);
  };
  if (compact) {
    decoder = std::make_unique<zbx::CompactDecoder>(reply.worldWidth, reply.slot);
    send_ack();
    if (!o.dump.empty()) dump.reset(std::fopen(o.dump.c_str(), "w"));
  }
  // A compact snapshot counts like a snapshot of the first stream's messages.
  auto take_frame = [&](const zbx::CompactFrame& f) {
    for (const zbx::FrameObject& obj : f.objects) {
      if (obj.present) on_object(&seen, obj.message);
    }
    for (const zbx::FramePlayer& p : f.players) {
      if (p.present) on_player(&seen, p.message);
    }
    for (const zbx::SoundEventMessage& sound : f.sounds) on_sound(&seen, sound);
    zbx::PresenceMessage presence;
    for (int i = 0; i < zbx::MAX_OBJECTS; ++i) presence.objects[i] = f.objects[i].present;
    for (int i = 0; i < zbx::MAX_PLAYERS; ++i) presence.players[i] = f.players[i].present;
    presence.matchRunning = f.matchRunning;
    on_presence(&seen, presence);
    if (dump) dump_frame(dump.get(), seen.now, f);
  };
  if (o.play) {
    o.keys.push_back({0.0, zbx::encode_key_event(zbx::CONTROL_FORWARD_THRUST, true)});
    o.keys.push_back({0.0, zbx::encode_key_event(zbx::CONTROL_Y_FORWARD_ROTATE, true)});
    for (double t = 0.25; t < o.duration; t += 0.5) {
      o.keys.push_back({t, zbx::encode_key_event(zbx::CONTROL_FIRE, true)});
    }
    std::stable_sort(o.keys.begin(), o.keys.end(),
                     [](const ScheduledKey& a, const ScheduledKey& b) { return a.at < b.at; });
  }

  zbx::KeyStateArray keyState{};
  std::size_t nextKey = 0;
  double nextUpdate = o.updateInterval > 0 ? o.updateInterval : o.duration + 1;
  bool rejoined = o.rejoinAt < 0;
  int quitAck = 0;
  int rejoinSlot = -1;
  long afterQuit = 0;
  std::uint8_t buffer[zbx::DATAGRAM_BUFFER_SIZE];
  const auto start = Clock::now();

  auto receive_until = [&](double until) {
    for (;;) {
      const double left = until - seconds_since(start);
      const long got = link.receive(buffer, sizeof buffer, std::max(0.0, left));
      if (got < 0) {
        if (seconds_since(start) >= until) return;
        continue;
      }
      seen.now = seconds_since(start);
      if (quitAck) ++afterQuit;
      if (got == 1 && buffer[0] == zbx::QUIT_ACK_BYTE) {
        quitAck = 1;
        continue;
      }
      if (got == static_cast<long>(zbx::JOIN_REPLY_SIZE)) {  // answer to a rejoin
        rejoinSlot = zbx::decode_join_reply(buffer).slot;
        continue;
      }
      ++seen.datagrams;
      seen.bytes += got;
      seen.maxDatagram = std::max(seen.maxDatagram, static_cast<std::size_t>(got));
      const auto length = static_cast<std::size_t>(got);
      if (decoder && zbx::is_compact_datagram(buffer, length)) {
        const auto result = decoder->accept(buffer, length, *frame);
        if (result == zbx::CompactDecoder::Result::Applied) take_frame(*frame);
        if (result == zbx::CompactDecoder::Result::Rejected) ++seen.rejected;
        if (result != zbx::CompactDecoder::Result::Ignored) send_ack();
        continue;
      }
      zbx::parse_snapshot(buffer, length, handler);
    }
  };

  for (;;) {
    const double now = seconds_since(start);
    if (now >= o.duration) break;
    while (nextKey < o.keys.size() && o.keys[nextKey].at <= now) {
      link.send(&o.keys[nextKey].byte, 1);
      track_key(keyState, o.keys[nextKey].byte);
      ++nextKey;
    }
    if (now >= nextUpdate) {
      link.send(keyState.data(), keyState.size());
      nextUpdate += o.updateInterval;
    }
    if (!rejoined && now >= o.rejoinAt) {
      std::uint8_t request[zbx::JOIN_REQUEST_SIZE];
      zbx::encode_join_request(o.name.c_str(), request);
      link.send(request, sizeof request);
      rejoined = true;
    }
    double next = o.duration;
    if (nextKey < o.keys.size()) next = std::min(next, o.keys[nextKey].at);
    next = std::min(next, nextUpdate);
    if (!rejoined) next = std::min(next, o.rejoinAt);
    receive_until(std::max(next, now + 0.001));
  }
  const double active = seconds_since(start);
  if (o.quit) {
    const std::uint8_t quit = zbx::encode_key_event(zbx::CONTROL_QUIT, true);
    link.send(&quit, 1);
    const double until = active + 1.0;
    while (!quitAck && seconds_since(start) < until) receive_until(until);
    // Anything the server still sends now comes after the QuitAck.
    receive_until(seconds_since(start) + 0.3);
  }

  const double secs = std::max(active, 1e-6);
  std::printf(
      "summary seconds=%.2f snapshots=%ld snapshots_per_sec=%.2f datagrams=%ld bytes=%ld "
      "bytes_per_sec=%.0f objects=%d players=%d own_present=%d own_shield=%d others_own_fields=%d "
      "object_messages=%ld player_messages=%ld sounds=%ld max_datagram=%zu match_running=%d "
      "last_snapshot_at=%.2f quit_ack=%d after_quit=%ld rejoin_slot=%d stream=%s "
      "longest_gap=%.3f rejected=%ld\n",
      active, seen.snapshots, static_cast<double>(seen.snapshots) / secs, seen.datagrams,
      seen.bytes, static_cast<double>(seen.bytes) / secs, seen.objects, seen.players,
      seen.ownPresent, seen.ownShield, seen.othersOwnFieldsNonZero, seen.objectMessages,
      seen.playerMessages, seen.sounds, seen.maxDatagram, seen.matchRunning, seen.lastSnapshotAt,
      quitAck, afterQuit, rejoinSlot, compact ? "compact" : "full", seen.longestGap,
      seen.rejected);
  return 0;
}
