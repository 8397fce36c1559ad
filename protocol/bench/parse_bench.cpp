// Cost of encoding and parsing the datagrams of one full snapshot
// (512 objects, 32 players, 22 sound events) on one side of the wire.
#include <benchmark/benchmark.h>

#include <vector>

#include "protocol/protocol.h"

namespace {

struct Datagrams {
  std::vector<std::vector<std::uint8_t>> list;
};

bool keep(void* context, const std::uint8_t* data, std::size_t length) {
  static_cast<Datagrams*>(context)->list.emplace_back(data, data + length);
  return true;
}

bool discard(void*, const std::uint8_t*, std::size_t length) {
  benchmark::DoNotOptimize(length);
  return true;
}

void write_full(zbx::SnapshotWriter& w) {
  zbx::ObjectMessage o;
  o.kind = zbx::KIND_ASTEROID;
  o.orientation = zbx::IDENTITY_MATRIX;
  for (int i = 0; i < zbx::MAX_OBJECTS; ++i) {
    o.slot = i;
    w.add_object(o);
  }
  zbx::PlayerMessage p;
  for (int i = 0; i < zbx::MAX_PLAYERS; ++i) {
    p.slot = i;
    w.add_player(p);
  }
  for (int i = 0; i < 22; ++i) w.add_sound_event({static_cast<std::int8_t>(i), {}});
  zbx::PresenceMessage presence;
  w.finish(presence);
}

void BM_EncodeFullSnapshot(benchmark::State& state) {
  zbx::SnapshotWriter w(1024, discard, nullptr);
  for (auto _ : state) {
    w.begin(1024);
    write_full(w);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(w.bytes_sent()));  // totals over all runs
}
BENCHMARK(BM_EncodeFullSnapshot);

void BM_ParseFullSnapshot(benchmark::State& state) {
  Datagrams d;
  zbx::SnapshotWriter w(1024, keep, &d);
  write_full(w);
  int count = 0;
  zbx::SnapshotHandler h;
  h.context = &count;
  h.on_object = [](void* c, const zbx::ObjectMessage&) { ++*static_cast<int*>(c); };
  h.on_player = [](void* c, const zbx::PlayerMessage&) { ++*static_cast<int*>(c); };
  for (auto _ : state) {
    for (const auto& datagram : d.list) zbx::parse_snapshot(datagram.data(), datagram.size(), h);
    benchmark::DoNotOptimize(count);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(w.bytes_sent()));
}
BENCHMARK(BM_ParseFullSnapshot);

}  // namespace

BENCHMARK_MAIN();
