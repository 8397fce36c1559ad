// What a sound costs its caller, who holds the mirror mutex meanwhile: a
// one-shot (fresh buffer, PCM upload, fresh source), a loop start and stop,
// and a call while VOLUME is 0. OpenAL's null device, so no mixing cost.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "sound/sound.h"
#include "startup/settings.h"

namespace {

void start_sound(int volume) {
  setenv("ALSOFT_DRIVERS", "null", 0);
  if (std::getenv("ZBX3D_DATA_PREFIX") == nullptr) setenv("ZBX3D_DATA_PREFIX", "share", 0);
  zbx::g_client_settings.VOLUME = volume;
  zbx::init_sound(nullptr, nullptr);
}

// Sound n at a position; 0 is the 0.2 s shot, 20 the 3 s nuke blast.
void BM_PlayOneShot(benchmark::State& state) {
  start_sound(9);
  const int n = static_cast<int>(state.range(0));
  for (auto _ : state) zbx::play_sound_at(n, zbx::Vector3f{1, 2, -3});
  state.SetLabel(zbx::g_sound.available ? "null device" : "no device");
  zbx::shutdown_sound();
}
BENCHMARK(BM_PlayOneShot)->Arg(0)->Arg(20);

void BM_LoopStartStop(benchmark::State& state) {
  start_sound(9);
  for (auto _ : state) zbx::stop_loop(zbx::play_loop(16));
  zbx::shutdown_sound();
}
BENCHMARK(BM_LoopStartStop);

void BM_PlayAtVolumeZero(benchmark::State& state) {
  start_sound(0);
  for (auto _ : state) zbx::play_sound_at(2, zbx::Vector3f{});
  zbx::shutdown_sound();
}
BENCHMARK(BM_PlayAtVolumeZero);

}  // namespace

BENCHMARK_MAIN();
