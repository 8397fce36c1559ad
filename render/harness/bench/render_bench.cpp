// Drawing speed under a real X server (run under xvfb-run; Mesa llvmpipe):
//  - FirstFrame: a fresh harness process from its start to the first drawn
//    and finished game frame (window, texture, starfield, models, the 512
//    asteroid meshes, one frame);
//  - Frame/N: one whole game frame (clear, stars, HUD, radar, world pass,
//    crosshair, swap) with N asteroids in view;
//  - FloorSameCalls/N: the same asteroid draws and the swap, nothing else;
//  - FloorOneArray/N: the same triangles, transformed once beforehand, in a
//    single vertex-array draw, and the swap: what the renderer needs to
//    draw them with nothing else to do;
//  - FramePerVertex/N: the whole frame with every vertex transformed on the
//    processor and sent on its own (for comparison).
#include <GL/freeglut.h>
#include <GL/gl.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "client/client.h"
#include "client/mirror.h"
#include "render/core/model.h"
#include "render/core/view.h"
#include "render/render.h"
#include "scene.h"
#include "startup/settings.h"

namespace {

void finish_frame() {
  zbx::swap_frame();
  glFinish();
}

void BM_FirstFrame(benchmark::State& state) {
  const std::string command = std::string(ZBX_RENDER_HARNESS) + " --startup --asteroids 20";
  for (auto _ : state) {
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
      state.SkipWithError("cannot start the harness");
      return;
    }
    long long us = -1;
    char line[128];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
      std::sscanf(line, "first frame after %lld us", &us);
    }
    if (pclose(pipe) != 0 || us < 0) {
      state.SkipWithError("harness failed");
      return;
    }
    state.SetIterationTime(static_cast<double>(us) / 1e6);
  }
}
BENCHMARK(BM_FirstFrame)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_Frame(benchmark::State& state) {
  zbx::harness::build_asteroid_field(static_cast<int>(state.range(0)));
  zbx::g_render.cpuTransform = false;
  zbx::harness::draw_game_frame();  // grows the frame's vertex arrays once
  finish_frame();
  for (auto _ : state) {
    zbx::harness::draw_game_frame();
    finish_frame();
  }
}
BENCHMARK(BM_Frame)->Arg(20)->Arg(100)->Arg(256)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_FramePerVertex(benchmark::State& state) {
  zbx::harness::build_asteroid_field(static_cast<int>(state.range(0)));
  zbx::g_render.cpuTransform = true;
  for (auto _ : state) {
    zbx::harness::draw_game_frame();
    finish_frame();
  }
  zbx::g_render.cpuTransform = false;
}
BENCHMARK(BM_FramePerVertex)->Arg(256)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_FloorSameCalls(benchmark::State& state) {
  zbx::harness::build_asteroid_field(static_cast<int>(state.range(0)));
  zbx::harness::draw_asteroids_only();
  finish_frame();
  for (auto _ : state) {
    zbx::harness::draw_asteroids_only();
    finish_frame();
  }
}
BENCHMARK(BM_FloorSameCalls)->Arg(256)->UseRealTime()->Unit(benchmark::kMillisecond);

// Every asteroid triangle of the mirror in camera coordinates, as the world
// pass makes them, ready for one vertex-array draw.
struct TriangleArrays {
  std::vector<float> positions, colours;
  GLsizei vertices = 0;
};

TriangleArrays transformed_asteroids() {
  TriangleArrays arrays;
  auto& positions = arrays.positions;
  auto& colours = arrays.colours;
  const zbx::MirrorPlayer& own = *zbx::own_player();
  for (int slot = 0; slot < zbx::MAX_OBJECTS; ++slot) {
    const zbx::MirrorObject* object = zbx::g_mirror.objects[slot].get();
    const zbx::Model* model = object ? zbx::model_for_kind(object->kind, slot) : nullptr;
    if (model == nullptr) continue;
    const zbx::Vector3f d =
        zbx::wrapped_offset(object->position, own.position, zbx::g_mirror.join.worldWidth);
    for (int f = 0; f < zbx::face_count(*model); ++f) {
      const zbx::Face face = zbx::face_corners(*model, f);
      for (int k = 0; k < 3; ++k) {
        const zbx::Vector3f c = zbx::to_camera(
            zbx::model_offset(d, object->size, object->orientation, face.position[k]),
            own.flightOrientation);
        positions.insert(positions.end(), {c.x, c.y, c.z});
        colours.insert(colours.end(), {face.colour[k].r, face.colour[k].g, face.colour[k].b});
      }
    }
  }
  arrays.vertices = static_cast<GLsizei>(positions.size() / 3);
  return arrays;
}

void draw_floor_frame(const TriangleArrays& arrays) {
  zbx::begin_frame();
  zbx::reset_view();
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_COLOR_ARRAY);
  glVertexPointer(3, GL_FLOAT, 0, arrays.positions.data());
  glColorPointer(3, GL_FLOAT, 0, arrays.colours.data());
  glDrawArrays(GL_TRIANGLES, 0, arrays.vertices);
  glDisableClientState(GL_VERTEX_ARRAY);
  glDisableClientState(GL_COLOR_ARRAY);
  finish_frame();
}

void BM_FloorOneArray(benchmark::State& state) {
  zbx::harness::build_asteroid_field(static_cast<int>(state.range(0)));
  const TriangleArrays arrays = transformed_asteroids();
  for (auto _ : state) draw_floor_frame(arrays);
  state.counters["triangles"] = static_cast<double>(arrays.vertices / 3);
}
BENCHMARK(BM_FloorOneArray)->Arg(256)->UseRealTime()->Unit(benchmark::kMillisecond);

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Full frames and the two floors in turn, so that all see the same load
// from whatever else runs on the machine. The floor is the quicker of the two
// ways of drawing only the asteroid triangles; reports medians, minima and
// the ratio of the frame's median to the floor's.
void BM_FrameOverFloor(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  auto ms = [](Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
  };
  zbx::harness::build_asteroid_field(static_cast<int>(state.range(0)));
  const TriangleArrays arrays = transformed_asteroids();
  zbx::harness::draw_game_frame();
  finish_frame();
  std::vector<double> frame_ms, array_ms, lists_ms;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    draw_floor_frame(arrays);
    const auto t1 = Clock::now();
    zbx::harness::draw_asteroids_only();
    finish_frame();
    const auto t2 = Clock::now();
    zbx::harness::draw_game_frame();
    finish_frame();
    const auto t3 = Clock::now();
    array_ms.push_back(ms(t0, t1));
    lists_ms.push_back(ms(t1, t2));
    frame_ms.push_back(ms(t2, t3));
  }
  const double floor = std::min(median(array_ms), median(lists_ms));
  state.counters["frame_ms"] = median(frame_ms);
  state.counters["floor_ms"] = floor;
  state.counters["ratio"] = median(frame_ms) / floor;
  // The quickest of each: the least disturbed by other work on the machine.
  state.counters["frame_min_ms"] = *std::min_element(frame_ms.begin(), frame_ms.end());
  state.counters["floor_min_ms"] = std::min(*std::min_element(array_ms.begin(), array_ms.end()),
                                            *std::min_element(lists_ms.begin(), lists_ms.end()));
}
BENCHMARK(BM_FrameOverFloor)
    ->Arg(20)
    ->Arg(100)
    ->Arg(256)
    ->Iterations(40)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("ZBX3D_DATA_PREFIX") == nullptr) setenv("ZBX3D_DATA_PREFIX", ZBX_DATA_DIR, 1);
  glutInit(&argc, argv);
  benchmark::Initialize(&argc, argv);
  std::srand(1);
  zbx::g_client_settings.SCREEN_WIDTH = 640;
  zbx::g_client_settings.SCREEN_HEIGHT = 480;
  zbx::ScreenCallbacks screen;
  screen.display = [] {};
  zbx::open_window(screen);
  zbx::harness::load_assets();
  // Let the window appear before timing anything.
  for (int i = 0; i < 10; ++i) glutMainLoopEvent();
  zbx::set_overlay_projection();
  zbx::set_perspective();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
