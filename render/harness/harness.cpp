// Render harness: opens the game window, fills the client mirror with a
// scripted world and draws game frames from it, saving the last one.
//
//   zbx_render_harness [--scene cockpit|behind|wrap|gameover|scoreboard|hit|empty]
//                      [--asteroids N] [--frames N] [--out FILE.ppm] [--reverse]
//                      [--score-key] [--cpu] [--hold MS] [--startup] [--size WxH]
//
// --startup prints "first frame after N us" (measured from the start of
// main) once the first frame has been drawn and finished. --hold keeps the
// window on screen for MS milliseconds after the last frame, printing
// "shown" when the frame is in the front buffer.
#include <GL/freeglut.h>
#include <GL/gl.h>
#include <dlfcn.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "client/client.h"
#include "render/render.h"
#include "scene.h"
#include "startup/settings.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  std::string scene = "cockpit";
  int asteroids = -1;  // >= 0: an asteroid field instead of a scene
  int frames = 1;
  const char* out = nullptr;
  bool reverse = false;
  bool scoreKey = false;
  bool cpu = false;
  int holdMs = 0;
  bool startup = false;
  int width = 640;
  int height = 480;
};

struct HarnessState {
  Options options;
  Clock::time_point start;
  int framesDrawn = 0;
  bool done = false;
  Clock::time_point doneAt;
};
HarnessState g_harness;

void finish_and_leave() { glutLeaveMainLoop(); }

void frame() {
  HarnessState& h = g_harness;
  if (h.done) {
    // Repaint requests after the last frame: show it again.
    zbx::harness::draw_game_frame();
    zbx::swap_frame();
    return;
  }
  zbx::harness::draw_game_frame();
  ++h.framesDrawn;
  if (h.options.startup && h.framesDrawn == 1) {
    glFinish();
    const auto us =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - h.start).count();
    std::printf("first frame after %lld us\n", static_cast<long long>(us));
    std::fflush(stdout);
  }
  if (h.framesDrawn < h.options.frames) {
    zbx::swap_frame();
    return;
  }
  if (h.options.out != nullptr && !zbx::harness::save_ppm(h.options.out)) {
    std::printf("cannot write %s\n", h.options.out);
    std::fflush(stdout);
    zbx::fatal_exit(1);
  }
  zbx::swap_frame();
  glFinish();
  h.done = true;
  h.doneAt = Clock::now();
  if (h.options.holdMs <= 0) {
    finish_and_leave();
    return;
  }
  std::printf("shown\n");
  std::fflush(stdout);
}

void idle() {
  HarnessState& h = g_harness;
  if (!h.done) {
    frame();
    return;
  }
  if (Clock::now() - h.doneAt >= std::chrono::milliseconds(h.options.holdMs)) {
    finish_and_leave();
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

bool parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool has_value = i + 1 < argc;
    if (a == "--scene" && has_value) {
      o.scene = argv[++i];
    } else if (a == "--asteroids" && has_value) {
      o.asteroids = std::atoi(argv[++i]);
    } else if (a == "--frames" && has_value) {
      o.frames = std::atoi(argv[++i]);
    } else if (a == "--out" && has_value) {
      o.out = argv[++i];
    } else if (a == "--hold" && has_value) {
      o.holdMs = std::atoi(argv[++i]);
    } else if (a == "--size" && has_value) {
      if (std::sscanf(argv[++i], "%dx%d", &o.width, &o.height) != 2) return false;
    } else if (a == "--reverse") {
      o.reverse = true;
    } else if (a == "--score-key") {
      o.scoreKey = true;
    } else if (a == "--cpu") {
      o.cpu = true;
    } else if (a == "--startup") {
      o.startup = true;
    } else {
      return false;
    }
  }
  return o.frames >= 1 && o.width > 0 && o.height > 0 && o.asteroids <= zbx::MAX_OBJECTS;
}

}  // namespace

// The GL driver keeps some allocations until the process ends; they are not
// ours. main keeps the driver loaded so that leak reports can name it.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:swrast_dri.so\n"
         "leak:libGLX_mesa.so\n";
}

// llvmpipe's rasteriser threads synchronise inside the driver in ways the
// thread sanitizer cannot see.
extern "C" const char* __tsan_default_suppressions() { return "race:swrast_dri.so\n"; }

int main(int argc, char** argv) {
  g_harness.start = Clock::now();
  dlopen("/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so", RTLD_NOW | RTLD_NODELETE);
  glutInit(&argc, argv);
  Options& o = g_harness.options;
  if (!parse(argc, argv, o)) {
    std::printf(
        "usage: %s [--scene NAME] [--asteroids N] [--frames N] [--out FILE.ppm]\n"
        "  [--reverse] [--score-key] [--cpu] [--hold MS] [--startup] [--size WxH]\n",
        argv[0]);
    return 2;
  }
  glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_GLUTMAINLOOP_RETURNS);
  // The seed only matters for the look of the rocks and stars; a fixed one
  // makes every run draw the same picture.
  std::srand(1);
  zbx::g_client_settings.SCREEN_WIDTH = o.width;
  zbx::g_client_settings.SCREEN_HEIGHT = o.height;
  zbx::ScreenCallbacks screen;
  screen.display = frame;
  screen.idle = idle;
  zbx::open_window(screen);
  zbx::harness::load_assets();
  if (o.asteroids >= 0) {
    zbx::harness::build_asteroid_field(o.asteroids);
  } else if (!zbx::harness::build_scene(o.scene)) {
    std::printf("unknown scene %s\n", o.scene.c_str());
    return 2;
  }
  zbx::g_play.reverseView = o.reverse ? 1 : 0;
  zbx::g_play.scoreTable = o.scoreKey ? 1 : 0;
  zbx::g_render.cpuTransform = o.cpu;
  // As the menu leaves it when a game starts.
  zbx::set_overlay_projection();
  zbx::set_perspective();
  glutMainLoop();
  return 0;
}
