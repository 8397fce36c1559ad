// The render side of start-up: the 512 asteroid meshes, the seven model
// files, the explosion texture and the starfield.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "render/core/model.h"
#include "render/core/sgi_image.h"
#include "render/core/starfield.h"

namespace {

std::string data_dir() {
  // Without ZBX3D_DATA_PREFIX: the share folder of the source tree.
  const char* prefix = std::getenv("ZBX3D_DATA_PREFIX");
  if (prefix) return std::string(prefix) + "/zbx3d/";
  std::string here = __FILE__;
  return here.substr(0, here.rfind("render/core/bench")) + "share/zbx3d/";
}

void BM_AsteroidMeshes512(benchmark::State& state) {
  std::srand(1);
  for (auto _ : state) {
    for (int slot = 0; slot < zbx::MAX_OBJECTS; ++slot) zbx::build_asteroid_mesh(slot);
    benchmark::DoNotOptimize(zbx::g_asteroid_meshes[511].get());
  }
}
BENCHMARK(BM_AsteroidMeshes512)->Unit(benchmark::kMillisecond);

void BM_OneAsteroidMesh(benchmark::State& state) {
  std::srand(1);
  for (auto _ : state) benchmark::DoNotOptimize(zbx::build_asteroid());
}
BENCHMARK(BM_OneAsteroidMesh)->Unit(benchmark::kMicrosecond);

void BM_ModelSet(benchmark::State& state) {
  std::string dir = data_dir() + "models/";
  for (auto _ : state) {
    zbx::ModelTable table;
    std::string error;
    if (!zbx::read_model_set(dir, table, error)) state.SkipWithError(error.c_str());
    benchmark::DoNotOptimize(table[0].get());
  }
}
BENCHMARK(BM_ModelSet)->Unit(benchmark::kMicrosecond);

void BM_ExplosionTexture(benchmark::State& state) {
  std::string path = data_dir() + "textures/explosion.rgb";
  for (auto _ : state) {
    zbx::SgiImage image;
    if (zbx::read_sgi_image(path.c_str(), image) != zbx::SgiRead::ok) {
      state.SkipWithError("cannot read the explosion texture");
    }
    benchmark::DoNotOptimize(image.rgba.data());
  }
}
BENCHMARK(BM_ExplosionTexture)->Unit(benchmark::kMicrosecond);

void BM_Starfield(benchmark::State& state) {
  for (auto _ : state) {
    zbx::make_starfield(zbx::g_starfield);
    benchmark::DoNotOptimize(zbx::g_starfield.stars[0].direction.x);
  }
}
BENCHMARK(BM_Starfield)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
