// The server's handling of datagrams from three clients on 127.0.0.1 (joins,
// key events, key states, quits, status queries, compact joins and their
// acknowledgements, and junk of every length),
// with world steps in between. Each reply is a JoinReply for the slot now
// held by its client or a quit acknowledgement; no more humans than allowed,
// no address in two slots; every snapshot the server then builds for its
// clients parses back whole and matches the world. Status queries get
// answers of one datagram or none.
//
// Input: records of an op byte, then for a datagram a length byte and the
// bytes. The op's low two bits pick the client, its top bit asks for world
// steps instead of a datagram.
#include <fcntl.h>
#include <sys/socket.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "broadcast.h"
#include "protocol/query.h"
#include "receive.h"
#include "rules.h"
#include "simulation.h"
#include "startup/settings.h"
#include "testing/fuzz.h"
#include "testing/loopback.h"
#include "world.h"

namespace {

using namespace zbx;

constexpr int kClients = 3;

struct Sockets {
  int server = -1;
  std::array<int, kClients> client{};
  std::array<sockaddr_in, kClients> address{};
};

const Sockets& sockets() {
  static const Sockets s = [] {
    Sockets out;
    out.server = socket(AF_INET, SOCK_DGRAM, 0);
    test::bind_loopback(out.server);
    for (int i = 0; i < kClients; ++i) {
      out.client[i] = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
      out.address[i] = test::bind_loopback(out.client[i]);
    }
    return out;
  }();
  return s;
}

bool same_peer(const sockaddr_in& a, const sockaddr_in& b) {
  return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}

// Replies to client i: JoinReplies for its slot, quit acknowledgements.
void check_replies(const ServerRun& run, int i) {
  std::uint8_t buffer[DATAGRAM_BUFFER_SIZE];
  for (;;) {
    const ssize_t n = recv(sockets().client[i], buffer, sizeof buffer, 0);
    if (n < 0) return;
    if (n == QUIT_ACK_SIZE) {
      ZBX_FUZZ_CHECK(buffer[0] == QUIT_ACK_BYTE);
      continue;
    }
    if (is_out_of_band(buffer, static_cast<std::size_t>(n))) {
      // A status answer, within one datagram.
      const OobKind kind = parse_out_of_band(buffer, static_cast<std::size_t>(n)).kind;
      ZBX_FUZZ_CHECK(kind == OobKind::InfoResponse || kind == OobKind::StatusResponse);
      ZBX_FUZZ_CHECK(static_cast<std::size_t>(n) <= QUERY_MAX_DATAGRAM);
      continue;
    }
    ZBX_FUZZ_CHECK(n == JOIN_REPLY_SIZE);
    const JoinReply reply = decode_join_reply(buffer);
    ZBX_FUZZ_CHECK(reply.slot >= 0 && reply.slot < MAX_PLAYERS);
    std::lock_guard<std::mutex> lock(world_lock());
    ZBX_FUZZ_CHECK(is_client(reply.slot));
    ZBX_FUZZ_CHECK(same_peer(run.clients[reply.slot].peer, sockets().address[i]));
  }
}

void check_clients(const ServerRun& run) {
  std::lock_guard<std::mutex> lock(world_lock());
  int humans = 0;
  std::array<int, kClients> slots{};
  for (int k = 0; k < MAX_PLAYERS; ++k) {
    if (!is_client(k)) continue;
    ++humans;
    int owner = -1;
    for (int i = 0; i < kClients; ++i) {
      if (same_peer(run.clients[k].peer, sockets().address[i])) owner = i;
    }
    ZBX_FUZZ_CHECK(owner >= 0 && ++slots[owner] == 1);
  }
  ZBX_FUZZ_CHECK(humans == g_world.humanCount);
  ZBX_FUZZ_CHECK(humans <= g_server_settings.MAX_NUMBER_OF_PLAYERS);
}

// What one snapshot's datagrams hold, message by message.
struct Parsed {
  std::size_t bytes = 0;
  std::size_t presenceEnd = 0;
  int players = 0, objects = 0, presences = 0;
  PresenceMessage presence;
};

bool capture(void* context, const std::uint8_t* data, std::size_t length) {
  static_cast<std::vector<std::vector<std::uint8_t>>*>(context)->emplace_back(data, data + length);
  return true;
}

void check_snapshot(int receiver) {
  std::vector<std::vector<std::uint8_t>> datagrams;
  SnapshotWriter writer(g_server_settings.PACKET_SIZE, capture, &datagrams);
  build_snapshot(receiver, writer);
  Parsed parsed;
  SnapshotHandler handler;
  handler.context = &parsed;
  handler.on_presence = [](void* c, const PresenceMessage& m) {
    auto* p = static_cast<Parsed*>(c);
    p->bytes += PRESENCE_MESSAGE_SIZE;
    p->presenceEnd = p->bytes;
    ++p->presences;
    p->presence = m;
  };
  handler.on_player = [](void* c, const PlayerMessage&) {
    static_cast<Parsed*>(c)->bytes += PLAYER_MESSAGE_SIZE;
    ++static_cast<Parsed*>(c)->players;
  };
  handler.on_object = [](void* c, const ObjectMessage&) {
    static_cast<Parsed*>(c)->bytes += OBJECT_MESSAGE_SIZE;
    ++static_cast<Parsed*>(c)->objects;
  };
  handler.on_sound = [](void* c, const SoundEventMessage&) {
    static_cast<Parsed*>(c)->bytes += SOUND_EVENT_MESSAGE_SIZE;
  };
  std::size_t total = 0;
  for (const auto& d : datagrams) {
    ZBX_FUZZ_CHECK(!d.empty() && d.size() <= DATAGRAM_BUFFER_SIZE);
    total += d.size();
    parse_snapshot(d.data(), d.size(), handler);
    ZBX_FUZZ_CHECK(parsed.bytes == total);  // every message parsed, none skipped
  }
  ZBX_FUZZ_CHECK(parsed.presences == 1 && parsed.presenceEnd == total);
  ZBX_FUZZ_CHECK(parsed.presence.matchRunning == g_world.matchRunning);
  int players = 0, objects = 0;
  for (int k = 0; k < MAX_PLAYERS; ++k) {
    ZBX_FUZZ_CHECK((parsed.presence.players[k] != 0) == (g_world.players[k] != nullptr));
    players += g_world.players[k] != nullptr;
  }
  for (int k = 0; k < MAX_OBJECTS; ++k) {
    ZBX_FUZZ_CHECK((parsed.presence.objects[k] != 0) == (g_world.objects[k] != nullptr));
    objects += g_world.objects[k] != nullptr;
  }
  ZBX_FUZZ_CHECK(parsed.players == players && parsed.objects == objects);
}

bool keep(void* context, const std::uint8_t* data, std::size_t length) {
  static_cast<std::vector<std::vector<std::uint8_t>>*>(context)->emplace_back(data, data + length);
  return true;
}

// A client of the compact stream: its own encoder (whatever acknowledgements
// it took) sends, and a fresh key snapshot of the same world decodes whole
// into the world's presence and kinds.
void check_compact(ServerRun& run, int receiver) {
  auto frame = std::make_unique<CompactFrame>();
  build_compact_frame(receiver, *frame);
  std::vector<std::vector<std::uint8_t>> sent;
  ZBX_FUZZ_CHECK(run.compact[receiver]->send(*frame, keep, &sent));
  for (const auto& d : sent) ZBX_FUZZ_CHECK(d.size() <= COMPACT_MAX_DATAGRAM);
  sent.clear();
  CompactEncoder fresh(g_server_settings.WORLD_WIDTH, receiver);
  ZBX_FUZZ_CHECK(fresh.send(*frame, keep, &sent));
  CompactDecoder decoder(g_server_settings.WORLD_WIDTH, receiver);
  auto shown = std::make_unique<CompactFrame>();
  int applied = 0;
  for (const auto& d : sent) {
    applied += decoder.accept(d.data(), d.size(), *shown) == CompactDecoder::Result::Applied;
  }
  ZBX_FUZZ_CHECK(applied == 1);
  for (int i = 0; i < MAX_OBJECTS; ++i) {
    ZBX_FUZZ_CHECK(shown->objects[i].present == (g_world.objects[i] != nullptr));
    if (g_world.objects[i])
      ZBX_FUZZ_CHECK(shown->objects[i].message.kind == g_world.objects[i]->kind);
  }
  for (int i = 0; i < MAX_PLAYERS; ++i) {
    ZBX_FUZZ_CHECK(shown->players[i].present == (g_world.players[i] != nullptr));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool once = [] {
    install_collision_responses();
    return true;
  }();
  (void)once;
  ServerSettings& settings = g_server_settings;
  settings = ServerSettings{};
  settings.MAX_NUMBER_OF_PLAYERS = 2;
  settings.NUM_BOTS = 1;
  {
    std::lock_guard<std::mutex> lock(world_lock());
    reset_world();
    SimulationState state;
    start_game(state);
  }
  // A stopped run: broadcast threads of joins end at once, snapshots are
  // built here instead.
  std::atomic<int> stop{1};
  ServerRun run(stop);
  ReceiveLoop loop(run);
  loop.socket = sockets().server;
  loop.joinReply = join_reply_template();

  std::size_t at = 0;
  while (at < size) {
    const std::uint8_t op = data[at++];
    const int client = op % 4 % kClients;
    if (op & 0x80) {
      std::lock_guard<std::mutex> lock(world_lock());
      for (int n = (op >> 2) & 15; n >= 0; --n) world_step();
      continue;
    }
    if (at == size) break;
    std::size_t length = data[at++] % 65;  // the receive buffer holds 64
    if (length > size - at) length = size - at;
    if (length == 0) continue;  // an empty datagram never reaches the loop
    handle_datagram(loop, data + at, length, sockets().address[client]);
    at += length;
    for (int i = 0; i < kClients; ++i) check_replies(run, i);
    check_clients(run);
  }
  {
    std::lock_guard<std::mutex> lock(world_lock());
    for (int k = 0; k < MAX_PLAYERS; ++k) {
      if (is_client(k)) check_snapshot(k);
      if (is_client(k) && run.compact[k]) check_compact(run, k);
    }
    check_snapshot(-1);
  }
  reap_broadcasts(loop, true);
  std::lock_guard<std::mutex> lock(world_lock());
  reset_world();
  return 0;
}
