// A private Xvfb and one open game window for the GL tests of this folder,
// with helpers that read back what a call drew.
#pragma once

#include <GL/freeglut.h>
#include <GL/gl.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "client/client.h"
#include "client/mirror.h"
#include "render/core/model.h"
#include "render/render.h"
#include "startup/settings.h"
#include "testing/files.h"
#include "testing/xvfb.h"

namespace zbx::testing_gl {

struct Rgb {
  int r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};

inline void PrintTo(const Rgb& c, std::ostream* os) {
  *os << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

// Starts Xvfb on a display of its own choosing and opens the window once per
// test process; the server is stopped when the process ends.
class GlSession {
 public:
  static GlSession& get() {
    static GlSession session;
    return session;
  }
  bool ok() const { return ok_; }
  std::filesystem::path dir() const { return dir_.path(); }

  ~GlSession() {
    // Leave the X server before stopping it, or Xlib reports a lost server.
    if (ok_) glutExit();
    if (xvfb_ > 0) {
      kill(xvfb_, SIGTERM);
      waitpid(xvfb_, nullptr, 0);
    }
  }

 private:
  GlSession() {
    if (dir_.path().empty()) return;
    setenv("HOME", dir_.path().c_str(), 1);
    if (!test::start_xvfb(xvfb_, {.screen = "800x600x24"})) return;
    // Kept loaded to the end, so leak reports can name the driver's own
    // allocations (see sanitizer_suppressions_test.cpp); harmless if absent.
    dlopen("/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so", RTLD_NOW | RTLD_NODELETE);
    write_texture(dir() / "share" / "zbx3d" / "textures" / "explosion.rgb");
    setenv("ZBX3D_DATA_PREFIX", (dir() / "share").c_str(), 1);
    int argc = 1;
    char name[] = "zbx_render_tests";
    char* argv[] = {name, nullptr};
    glutInit(&argc, argv);
    g_client_settings.SCREEN_WIDTH = 640;
    g_client_settings.SCREEN_HEIGHT = 480;
    open_window(ScreenCallbacks{.display = [] {}});
    init_palette();
    ok_ = true;
  }

  // A 4 x 2 run-length-encoded image: channel 0 full in the bottom row, which
  // the reader turns blue (channel 2 comes first), channel 1 full in the top row.
  static void write_texture(const std::filesystem::path& path) {
    std::filesystem::create_directories(path.parent_path());
    std::vector<unsigned char> f(512, 0);
    f[0] = 0x01;
    f[1] = 0xda;
    f[2] = 1;
    f[3] = 1;
    f[5] = 3;
    f[7] = 4;   // width
    f[9] = 2;   // height
    f[11] = 3;  // channels
    // Rows (y + c * 2): each "repeat 4 times" of one value, then the end byte.
    const unsigned char values[6] = {255, 0, 0, 255, 0, 0};
    const unsigned table = 512 + 2 * 6 * 4;
    for (int i = 0; i < 6; ++i) {
      const unsigned start = table + 3 * i;
      f.insert(f.end(), {0, 0, static_cast<unsigned char>(start >> 8),
                         static_cast<unsigned char>(start & 0xff)});
    }
    for (int i = 0; i < 6; ++i) f.insert(f.end(), {0, 0, 0, 3});
    for (int i = 0; i < 6; ++i) f.insert(f.end(), {4, values[i], 0});
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(f.data()), static_cast<std::streamsize>(f.size()));
  }

  bool ok_ = false;
  pid_t xvfb_ = -1;
  test::TempDir dir_;
};

// Fixture: a cleared frame, an empty world with the own ship at the origin
// looking along -z, overlay projection for 2-D tests.
class GlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!GlSession::get().ok()) GTEST_SKIP() << "no X server";
    clear_mirror();
    g_mirror.join = JoinInfo{};
    g_mirror.join.maxShield = 300;
    g_mirror.join.maxArmor = 1000;
    auto own = std::make_unique<MirrorPlayer>();
    own->flightOrientation = IDENTITY_MATRIX;
    own->lives = 3;
    own->alive = 1;
    g_mirror.players[0] = std::move(own);
    g_play.reverseView = 0;
    g_play.scoreTable = 0;
    g_render.cpuTransform = false;
    glDisable(GL_BLEND);
    begin_frame();
    reset_view();
    set_overlay_projection();
  }
  void TearDown() override { clear_mirror(); }

 public:
  static void world_projection() {
    set_overlay_projection();
    set_perspective();
    glLoadIdentity();
  }

  static std::vector<unsigned char> pixels() {
    std::vector<unsigned char> p(640 * 480 * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, 640, 480, GL_RGB, GL_UNSIGNED_BYTE, p.data());
    return p;
  }
  static Rgb at(const std::vector<unsigned char>& p, int x, int y) {
    const std::size_t i = (static_cast<std::size_t>(y) * 640 + x) * 3;
    return {p[i], p[i + 1], p[i + 2]};
  }
  // Pixels that are not black.
  static int lit(const std::vector<unsigned char>& p) {
    int n = 0;
    for (std::size_t i = 0; i < p.size(); i += 3) n += (p[i] | p[i + 1] | p[i + 2]) != 0;
    return n;
  }
  static int count(const std::vector<unsigned char>& p, Rgb colour) {
    int n = 0;
    for (std::size_t i = 0; i < p.size(); i += 3) n += Rgb{p[i], p[i + 1], p[i + 2]} == colour;
    return n;
  }
};

}  // namespace zbx::testing_gl
