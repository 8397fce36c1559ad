// Broadcast threads: each sends its client a snapshot of the world every
// NET_SLEEP_TIME milliseconds, built and sent under the world lock.
#include "broadcast.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "startup/settings.h"

namespace zbx {
namespace {

// Longest single sleep, so a stopping server is never kept waiting for a
// long NET_SLEEP_TIME.
constexpr long SLEEP_SLICE_MICROS = 20'000;
// How often a client not yet heard from since its join is looked at again.
constexpr long UNVERIFIED_POLL_MILLIS = 10;

struct Peer {
  int socket;
  const sockaddr_in* address;
};

bool send_to_peer(void* context, const std::uint8_t* data, std::size_t length) {
  const auto* peer = static_cast<const Peer*>(context);
  const ssize_t sent =
      sendto(peer->socket, data, length, 0, reinterpret_cast<const sockaddr*>(peer->address),
             sizeof(sockaddr_in));
  return sent == static_cast<ssize_t>(length);
}

// Sleeps NET_SLEEP_TIME milliseconds in slices; false once the stop flag is set.
bool sleep_between_snapshots(const std::atomic<int>& stop, long millis) {
  long left = std::max(0L, millis) * 1000;
  while (left > 0) {
    const long slice = std::min(left, SLEEP_SLICE_MICROS);
    std::this_thread::sleep_for(std::chrono::microseconds(slice));
    left -= slice;
    if (stop.load()) return false;
  }
  return stop.load() == 0;
}

}  // namespace

ObjectMessage make_object_message(const WorldObject& object, int slot) {
  ObjectMessage m;
  m.kind = object.kind;
  m.slot = slot;
  m.position = object.position;
  m.size = object.size;
  m.orientation = object.orientation;
  return m;
}

PlayerMessage make_player_message(const Ship& ship, int slot, int receiver) {
  PlayerMessage m;
  const bool own = slot == receiver;
  m.slot = slot;
  m.score = ship.score;
  m.lives = ship.lives;
  m.shieldActive = (ship.shieldOn == 1 && ship.shield != 0) ? 1 : 0;
  m.alive = ship.lifetime == -1 ? 1 : 0;
  m.warping = ship.warpTimer != 0 ? 1 : 0;
  if (own) {
    m.shield = ship.shield;
    m.armor = ship.armor;
    m.hit = ship.hitFlash != 0 ? 1 : 0;
    m.nukes = static_cast<std::uint8_t>(ship.nukes & 0xFF);
    m.warps = static_cast<std::uint8_t>(ship.warps & 0xFF);
  }
  m.position = ship.position;
  std::memcpy(m.name, ship.name, sizeof m.name);
  m.name[sizeof m.name - 1] = '\0';
  m.size = ship.size;
  m.orientation = own ? ship.orientation : ship.inverseOrientation;
  return m;
}

void make_presence_message(PresenceMessage& out) {
  for (int i = 0; i < MAX_OBJECTS; ++i) out.objects[i] = g_world.objects[i] ? 1 : 0;
  for (int i = 0; i < MAX_PLAYERS; ++i) out.players[i] = g_world.players[i] ? 1 : 0;
  out.matchRunning = static_cast<std::int8_t>(g_world.matchRunning);
}

void build_snapshot(int receiver, SnapshotWriter& writer) {
  for (int i = 0; i < MAX_OBJECTS; ++i) {
    if (const WorldObject* object = g_world.objects[i].get()) {
      writer.add_object(make_object_message(*object, i));
    }
  }
  for (int i = 0; i < MAX_PLAYERS; ++i) {
    if (const Ship* ship = g_world.players[i].get()) {
      writer.add_player(make_player_message(*ship, i, receiver));
    }
  }
  if (receiver >= 0 && receiver < MAX_PLAYERS) {
    for (SoundEvent& event : g_world.soundQueue[receiver]) {
      if (event.id == 255) continue;
      writer.add_sound_event({static_cast<std::int8_t>(event.id), {event.x, event.y, event.z}});
      event.id = 255;  // freed once in the buffer, even if its send fails
    }
  }
  PresenceMessage presence;
  make_presence_message(presence);
  writer.finish(presence);
}

void build_compact_frame(int receiver, CompactFrame& frame) {
  const ServerSettings& s = g_server_settings;
  frame.step = g_world.steps;
  frame.matchRunning = static_cast<std::int8_t>(g_world.matchRunning);
  for (int i = 0; i < MAX_OBJECTS; ++i) {
    FrameObject& o = frame.objects[i];
    const WorldObject* object = g_world.objects[i].get();
    o.present = object != nullptr;
    if (!object) continue;
    o.message = make_object_message(*object, i);
    o.velocity = object->velocity;
    o.spin = object->spin;
    const bool growing = object->kind == KIND_NUKE_EXPLOSION && object->lifetime > 0;
    o.growth = growing ? s.NUKE_EXPLOSTION_GROWTH_SPEED : 0.0f;
  }
  for (int i = 0; i < MAX_PLAYERS; ++i) {
    FramePlayer& p = frame.players[i];
    const Ship* ship = g_world.players[i].get();
    p.present = ship != nullptr;
    if (!ship) continue;
    p.message = make_player_message(*ship, i, receiver);
    p.velocity = ship->velocity;
    // A ship turns by its inputs only while it flies and is not warping.
    const bool turns = ship->lifetime == -1 && ship->warpTimer == 0;
    const float rate = s.ROTATION_SPEED * (ship->isBot ? g_world.botRatio : 1.0f);
    p.spin = turns ? Vector3f{ship->spin.x * rate, ship->spin.y * rate, ship->spin.z * rate}
                   : Vector3f{};
  }
  frame.sounds.clear();
  if (receiver >= 0 && receiver < MAX_PLAYERS) {
    for (SoundEvent& event : g_world.soundQueue[receiver]) {
      if (event.id == 255) continue;
      frame.sounds.push_back({static_cast<std::int8_t>(event.id), {event.x, event.y, event.z}});
      event.id = 255;
    }
  }
}

void broadcast_thread(ServerRun& run, int socket, int slot, unsigned generation) {
  if (run.stop.load() || slot < 0 || slot >= MAX_PLAYERS) return;
  // The peer address is read at each send, under the lock: a rejoin may change it.
  Peer peer{socket, &run.clients[slot].peer};
  SnapshotWriter writer(g_server_settings.PACKET_SIZE, send_to_peer, &peer);
  std::unique_ptr<CompactFrame> frame;  // made for a client of the compact stream
  for (;;) {
    long sleep_millis = 0;
    {
      std::lock_guard<std::mutex> lock(world_lock());
      if (run.generation[slot] != generation || !g_world.players[slot]) return;
      sleep_millis = g_server_settings.NET_SLEEP_TIME;
      if (g_server_settings.VERIFY_NEW_CLIENTS != 0 && !run.clients[slot].heardAgain) {
        // Nothing yet shows the client is where its join claimed to come from.
        sleep_millis = std::max(sleep_millis, UNVERIFIED_POLL_MILLIS);
      } else {
        bool failed = false;
        if (CompactEncoder* compact = run.compact[slot].get()) {
          if (!frame) frame = std::make_unique<CompactFrame>();
          build_compact_frame(slot, *frame);
          failed = !compact->send(*frame, send_to_peer, &peer);
        } else {
          writer.begin(g_server_settings.PACKET_SIZE);
          build_snapshot(slot, writer);
          failed = writer.failed();
        }
        if (failed) {
          std::printf("write error\n");
          std::fflush(stdout);
          if (g_server_settings.MAX_NUMBER_OF_PLAYERS == 1) run.stop.store(1);
          if (g_world.players[slot]) delete_player(slot);
          return;
        }
      }
    }
    if (!sleep_between_snapshots(run.stop, sleep_millis)) return;
  }
}

}  // namespace zbx
