// How long the receiver holds the mirror mutex per datagram: parsing one
// snapshot datagram and applying it to the mirror, for the largest datagram
// a default server sends and for a whole crowded world.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "client/mirror.h"
#include "protocol/protocol.h"

namespace {

using namespace zbx;

void on_presence(void* c, const PresenceMessage& m) {
  apply_presence(*static_cast<WorldMirror*>(c), m);
}
void on_player(void* c, const PlayerMessage& m) {
  static int warpLoop = -1;
  apply_player_message(*static_cast<WorldMirror*>(c), m, warpLoop);
}
void on_object(void* c, const ObjectMessage& m) {
  apply_object_message(*static_cast<WorldMirror*>(c), m);
}

// objects object messages, players player messages and the presence message.
std::vector<std::uint8_t> snapshot(int objects, int players) {
  std::vector<std::uint8_t> d;
  PresenceMessage presence;
  for (int i = 0; i < objects; ++i) {
    ObjectMessage m;
    m.kind = KIND_SHOT;
    m.slot = i;
    m.size = 0.05f;
    m.orientation = IDENTITY_MATRIX;
    d.resize(d.size() + OBJECT_MESSAGE_SIZE);
    encode_object_message(m, d.data() + d.size() - OBJECT_MESSAGE_SIZE);
    presence.objects[i] = 1;
  }
  for (int i = 0; i < players; ++i) {
    PlayerMessage m;
    m.slot = i;
    m.alive = 1;
    m.orientation = IDENTITY_MATRIX;
    d.resize(d.size() + PLAYER_MESSAGE_SIZE);
    encode_player_message(m, d.data() + d.size() - PLAYER_MESSAGE_SIZE);
    presence.players[i] = 1;
  }
  d.resize(d.size() + PRESENCE_MESSAGE_SIZE);
  encode_presence_message(presence, d.data() + d.size() - PRESENCE_MESSAGE_SIZE);
  return d;
}

void apply_datagram(benchmark::State& state, int objects, int players) {
  WorldMirror mirror;
  mirror.join.slot = 0;
  const std::vector<std::uint8_t> d = snapshot(objects, players);
  SnapshotHandler h;
  h.context = &mirror;
  h.on_presence = on_presence;
  h.on_player = on_player;
  h.on_object = on_object;
  for (auto _ : state) {
    parse_snapshot(d.data(), d.size(), h);
    benchmark::DoNotOptimize(mirror.objects[0].get());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * d.size()));
}

// The last datagram of a default snapshot: 1024 bytes of messages + presence.
void BM_ApplyLargestDatagram(benchmark::State& state) { apply_datagram(state, 16, 1); }
// A crowded world in one go (more than a real datagram holds).
void BM_ApplyCrowdedWorld(benchmark::State& state) { apply_datagram(state, 512, 32); }

BENCHMARK(BM_ApplyLargestDatagram);
BENCHMARK(BM_ApplyCrowdedWorld);

}  // namespace

BENCHMARK_MAIN();
