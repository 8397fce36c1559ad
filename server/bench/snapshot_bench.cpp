// Building one snapshot of a full world (512 objects, 32 players, a full
// sound queue) under the conditions of a broadcast cycle: into the writer's
// own buffer, then also through a real socket to a 127.0.0.1 receiver.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "broadcast.h"
#include "world.h"
#include "startup/settings.h"
#include "testing/loopback.h"

namespace {

void fill_world() {
  zbx::reset_world();
  for (int i = 0; i < zbx::MAX_OBJECTS; ++i) {
    auto o = std::make_unique<zbx::WorldObject>();
    o->kind = zbx::KIND_ASTEROID;
    o->size = 0.3f;
    o->position = {static_cast<float>(i % 20) - 10.0f, 1.0f, 2.0f};
    zbx::g_world.objects[i] = std::move(o);
  }
  for (int i = 0; i < zbx::MAX_PLAYERS; ++i) {
    auto s = std::make_unique<zbx::Ship>();
    s->kind = zbx::KIND_SHIP;
    s->lifetime = -1;
    std::snprintf(s->name, sizeof s->name, "Player %d", i);
    zbx::g_world.players[i] = std::move(s);
  }
}

void refill_sounds(int slot) {
  for (int i = 0; i < zbx::SOUND_QUEUE_USED; ++i) zbx::g_world.soundQueue[slot][i].id = 2;
}

bool discard(void*, const std::uint8_t*, std::size_t length) {
  benchmark::DoNotOptimize(length);
  return true;
}

void BM_BuildFullSnapshot(benchmark::State& state) {
  fill_world();
  zbx::SnapshotWriter writer(1024, discard, nullptr);
  for (auto _ : state) {
    refill_sounds(5);
    writer.begin(1024);
    zbx::build_snapshot(5, writer);
  }
  state.counters["datagrams"] =
      static_cast<double>(writer.datagrams_sent()) / static_cast<double>(state.iterations());
  state.counters["bytes"] =
      static_cast<double>(writer.bytes_sent()) / static_cast<double>(state.iterations());
  zbx::reset_world();
}
BENCHMARK(BM_BuildFullSnapshot);

struct Loopback {
  int sender;
  sockaddr_in to;
};

bool send_loopback(void* context, const std::uint8_t* data, std::size_t length) {
  const auto* l = static_cast<const Loopback*>(context);
  return sendto(l->sender, data, length, 0, reinterpret_cast<const sockaddr*>(&l->to),
                sizeof l->to) == static_cast<ssize_t>(length);
}

void BM_BuildAndSendFullSnapshot(benchmark::State& state) {
  fill_world();
  const int receiver = socket(AF_INET, SOCK_DGRAM, 0);
  const sockaddr_in local = zbx::test::bind_loopback(receiver);
  Loopback link{socket(AF_INET, SOCK_DGRAM, 0), local};
  zbx::SnapshotWriter writer(1024, send_loopback, &link);
  std::uint8_t sink[zbx::DATAGRAM_BUFFER_SIZE];
  for (auto _ : state) {
    refill_sounds(5);
    writer.begin(1024);
    zbx::build_snapshot(5, writer);
    state.PauseTiming();  // drain, so the receive buffer never drops
    while (recv(receiver, sink, sizeof sink, MSG_DONTWAIT) > 0) {
    }
    state.ResumeTiming();
  }
  if (writer.failed()) state.SkipWithError("send failed");
  state.counters["datagrams"] =
      static_cast<double>(writer.datagrams_sent()) / static_cast<double>(state.iterations());
  close(link.sender);
  close(receiver);
  zbx::reset_world();
}
BENCHMARK(BM_BuildAndSendFullSnapshot);

}  // namespace

BENCHMARK_MAIN();
