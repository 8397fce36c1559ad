// Pixel checks of the game picture at places computed from the layout: the
// window's buffers, translucent drawing onto the picture, the textured
// explosion square, halo alphas, the dashed radar rings, the HUD in each game
// state, and the GL state a game frame hands back to the menus.
#include <GL/freeglut.h>
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "client/client.h"
#include "client/mirror.h"
#include "render/core/view.h"
#include "render/render.h"
#include "gl_session.h"

namespace zbx {
namespace {

using testing_gl::GlSession;
using testing_gl::GlTest;
using testing_gl::Rgb;

constexpr int W = 640, H = 480;
constexpr Rgb BLACK{};
constexpr Rgb GREEN{0, 255, 0};
constexpr Rgb BLUE{0, 0, 255};
constexpr Rgb RED{255, 0, 0};
constexpr Rgb WHITE{255, 255, 255};

// Writes a run-length-encoded SGI file whose picture is rgb[y][x] (row 0 at
// the bottom); the file stores blue in channel 0 and red in channel 2, as the
// reader puts channel 2 first in a texel.
void write_sgi(const std::string& path, int w, int h, const std::vector<Rgb>& rgb) {
  std::vector<std::uint8_t> f(512, 0);
  f[0] = 0x01;
  f[1] = 0xda;
  f[2] = 1;
  f[3] = 1;
  f[5] = 3;
  f[7] = static_cast<std::uint8_t>(w);
  f[9] = static_cast<std::uint8_t>(h);
  f[11] = 3;
  const int rows = 3 * h;
  const std::size_t row_bytes = static_cast<std::size_t>(w) + 2;
  auto put32 = [&f](std::size_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) f.push_back(static_cast<std::uint8_t>(v >> shift));
  };
  const std::size_t data = 512 + 8 * static_cast<std::size_t>(rows);
  for (int i = 0; i < rows; ++i) put32(data + static_cast<std::size_t>(i) * row_bytes);
  for (int i = 0; i < rows; ++i) put32(row_bytes);
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < h; ++y) {
      f.push_back(static_cast<std::uint8_t>(0x80 | w));
      for (int x = 0; x < w; ++x) {
        const Rgb& p = rgb[static_cast<std::size_t>(y * w + x)];
        f.push_back(static_cast<std::uint8_t>(c == 0 ? p.b : c == 1 ? p.g : p.r));
      }
      f.push_back(0);
    }
  }
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(f.data()), static_cast<std::streamsize>(f.size()));
}

::testing::AssertionResult near(Rgb a, Rgb b, int tolerance) {
  if (std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
      std::abs(a.b - b.b) <= tolerance) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "(" << a.r << ", " << a.g << ", " << a.b << ") is not within " << tolerance << " of ("
         << b.r << ", " << b.g << ", " << b.b << ")";
}

class Conformance : public GlTest {
 protected:
  void SetUp() override {
    GlTest::SetUp();
    if (IsSkipped()) return;
    g_mirror.join.worldWidth = 10.0f;
    g_mirror.join.gameType = 1;
    g_mirror.matchRunning = 1;
  }
  MirrorObject& put(int slot, int kind, Vector3f position, float size) {
    auto o = std::make_unique<MirrorObject>();
    o->kind = kind;
    o->position = position;
    o->size = size;
    o->orientation = IDENTITY_MATRIX;
    g_mirror.objects[static_cast<std::size_t>(slot)] = std::move(o);
    return *g_mirror.objects[static_cast<std::size_t>(slot)];
  }
  MirrorPlayer& player(int slot, const char* name, int score) {
    auto p = std::make_unique<MirrorPlayer>();
    p->orientation = IDENTITY_MATRIX;
    p->flightOrientation = IDENTITY_MATRIX;
    p->alive = 1;
    p->lives = 3;
    p->score = score;
    std::snprintf(p->name, sizeof p->name, "%s", name);
    g_mirror.players[static_cast<std::size_t>(slot)] = std::move(p);
    return *g_mirror.players[static_cast<std::size_t>(slot)];
  }
  // Pixels of one colour in the box x0..x1, y0..y1 (inclusive).
  static int count_in(const std::vector<unsigned char>& p, int x0, int y0, int x1, int y1,
                      Rgb colour) {
    int n = 0;
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) n += at(p, x, y) == colour;
    return n;
  }
  static bool any_near(const std::vector<unsigned char>& p, int x, int y, Rgb colour) {
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx)
        if (at(p, x + dx, y + dy) == colour) return true;
    return false;
  }
};

TEST_F(Conformance, WindowHasNoAlphaBufferSoTranslucencyAddsOntoThePicture) {
  GLint alpha = -1, depth = 0, stencil = -1;
  GLboolean doubled = GL_FALSE;
  glGetIntegerv(GL_ALPHA_BITS, &alpha);
  glGetIntegerv(GL_DEPTH_BITS, &depth);
  glGetIntegerv(GL_STENCIL_BITS, &stencil);
  glGetBooleanv(GL_DOUBLEBUFFER, &doubled);
  EXPECT_EQ(alpha, 0);
  EXPECT_GT(depth, 0);
  EXPECT_EQ(stencil, 0);
  EXPECT_TRUE(doubled);
  EXPECT_EQ(glutDeviceGet(GLUT_DEVICE_IGNORE_KEY_REPEAT), 1);
  GLfloat clear[4] = {1, 1, 1, 1};
  glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
  EXPECT_EQ(clear[0] + clear[1] + clear[2] + clear[3], 0.0f);
  // Grey 0.4 under red 0.5 at alpha 0.5: 0.4 + 0.25 in red, the grey kept
  // elsewhere (the destination alpha reads as 1).
  draw_quad(100, 100, 100, 120, 140, 120, 140, 100, {0.4f, 0.4f, 0.4f});
  // The overlay lies in one depth plane: start the red afresh in depth.
  glClear(GL_DEPTH_BUFFER_BIT);
  enable_blending();
  glColor4f(0.5f, 0.0f, 0.0f, 0.5f);
  glBegin(GL_QUADS);
  glVertex2f(pixel_to_ndc(100, W), pixel_to_ndc(100, H));
  glVertex2f(pixel_to_ndc(100, W), pixel_to_ndc(120, H));
  glVertex2f(pixel_to_ndc(140, W), pixel_to_ndc(120, H));
  glVertex2f(pixel_to_ndc(140, W), pixel_to_ndc(100, H));
  glEnd();
  disable_blending();
  EXPECT_TRUE(near(at(pixels(), 120, 110), Rgb{166, 102, 102}, 1));
}

TEST_F(Conformance, ExplosionSquareShowsTheTextureUprightFadingWithAge) {
  // 2 x 2 picture: bottom row red, green; top row blue, white.
  const std::string path = (GlSession::get().dir() / "corners.rgb").string();
  write_sgi(path, 2, 2, {RED, GREEN, BLUE, WHITE});
  load_explosion_texture(path.c_str());
  world_projection();
  // Kind 4 at age 0.5, one unit ahead: half size (2 x 0.5 + 1) x 0.05 = 0.1,
  // which the 60 degree view shows 41.6 pixels wide each way.
  put(3, KIND_SMALL_EXPLOSION, {0, 0, -1}, 0.1f).age = 0.5f;
  draw_world();
  auto p = pixels();
  // Texel centres sit a quarter of the square from each side, alpha 0.5
  // (the pixel centres are a third of a pixel off: a little of the
  // neighbouring texel blends in).
  const int q = 21;
  EXPECT_TRUE(near(at(p, W / 2 - q, H / 2 - q), Rgb{128, 0, 0}, 4)) << "bottom left";
  EXPECT_TRUE(near(at(p, W / 2 + q, H / 2 - q), Rgb{0, 128, 0}, 4)) << "bottom right";
  EXPECT_TRUE(near(at(p, W / 2 - q, H / 2 + q), Rgb{0, 0, 128}, 4)) << "top left";
  EXPECT_TRUE(near(at(p, W / 2 + q, H / 2 + q), Rgb{128, 128, 128}, 4)) << "top right";
  // The square ends 41.6 pixels from the centre.
  EXPECT_NE(at(p, W / 2 - 40, H / 2 - 40), BLACK);
  EXPECT_EQ(at(p, W / 2 - 43, H / 2 - 30), BLACK);
  EXPECT_EQ(at(p, W / 2 - 30, H / 2 - 43), BLACK);
  // A ship explosion (kind 5) of the same age: (1 + 0.25) x 0.2 = 0.25, 104
  // pixels; at age 0.75 the texels are a quarter bright.
  g_mirror.objects[3]->kind = KIND_SHIP_EXPLOSION;
  g_mirror.objects[3]->age = 0.75f;
  begin_frame();
  draw_world();
  p = pixels();
  // (2 x 0.75 + 0.25) x 0.2 = 0.35: 145.5 pixels; texel centres at 72.
  EXPECT_TRUE(near(at(p, W / 2 - 72, H / 2 - 72), Rgb{64, 0, 0}, 2));
  EXPECT_TRUE(near(at(p, W / 2 + 72, H / 2 + 72), Rgb{64, 64, 64}, 2));
  EXPECT_NE(at(p, W / 2 - 144, H / 2 - 144), BLACK);
  EXPECT_EQ(at(p, W / 2 - 147, H / 2 - 100), BLACK);
  // The reverse view turns the camera round, not the square's picture.
  g_mirror.objects[3]->position = {0, 0, 1};
  g_play.reverseView = 1;
  begin_frame();
  draw_world();
  p = pixels();
  EXPECT_TRUE(near(at(p, W / 2 - 72, H / 2 - 72), Rgb{64, 0, 0}, 2));
  EXPECT_TRUE(near(at(p, W / 2 + 72, H / 2 - 72), Rgb{0, 64, 0}, 2));
  g_play.reverseView = 0;
  load_explosion_texture(
      (GlSession::get().dir() / "share" / "zbx3d" / "textures" / "explosion.rgb").c_str());
}

TEST_F(Conformance, HaloAlphasRunFromCentreToRim) {
  world_projection();
  // Another ship's shield, size 0.5, 2 ahead: the disc is pulled to 1.5 and
  // is 138.6 pixels in radius. Centre alpha 0.15, rim 0.5 of (0.5, 0.4, 1.0).
  MirrorPlayer& other = player(4, "Other", 0);
  other.position = {0, 0, -2};
  other.size = 0.5f;
  other.shieldActive = 1;
  draw_world();
  auto p = pixels();
  EXPECT_TRUE(near(at(p, W / 2 - 1, H / 2 - 1), Rgb{19, 15, 38}, 1)) << "centre";
  // Half way out (straight down, where a rim point lies): alpha 0.325.
  EXPECT_TRUE(near(at(p, W / 2, H / 2 - 70), Rgb{41, 33, 83}, 2)) << "half way";
  EXPECT_TRUE(near(at(p, W / 2, H / 2 - 137), Rgb{63, 50, 126}, 2)) << "rim";
  EXPECT_EQ(at(p, W / 2, H / 2 - 141), BLACK);
  // A powerup's halo: (0.4, 0.6, 0.0), centre alpha 0.3 (its letter has no
  // model here); a nuke blast: (0.6, 0, 0), centre alpha 0.5, rim 0.35.
  g_mirror.players[4].reset();
  put(8, KIND_ARMOR_POWERUP, {0, 0, -2}, 0.5f);
  begin_frame();
  draw_world();
  EXPECT_TRUE(near(at(pixels(), W / 2 - 1, H / 2 - 1), Rgb{31, 46, 0}, 1));
  g_mirror.objects[8]->kind = KIND_NUKE_EXPLOSION;
  begin_frame();
  draw_world();
  p = pixels();
  EXPECT_TRUE(near(at(p, W / 2 - 1, H / 2 - 1), Rgb{76, 0, 0}, 1));
  EXPECT_TRUE(near(at(p, W / 2, H / 2 - 137), Rgb{54, 0, 0}, 2));
}

TEST_F(Conformance, RadarDashesStartWhereTheirRingsSay) {
  draw_radar();
  const auto p = pixels();
  const int cx = W / 2, cy = H / 6;
  // Radius 0.18 (57.6 by 43.2 pixels) dashed from step 3: nothing at angle 0
  // (steps 59..61 and 3..5 leave it out), a dash at step 4 (22.5 degrees).
  const double a4 = 4 * 6.2831855 / 64;
  EXPECT_FALSE(any_near(p, cx + 57, cy, GREEN));
  EXPECT_TRUE(any_near(p, cx + static_cast<int>(57.6 * std::cos(a4)),
                       cy + static_cast<int>(43.2 * std::sin(a4)), GREEN));
  // Radius 0.09 dashed from step -1: its first dash runs through angle 0,
  // the next starts at step 7, so step 4 stays dark.
  EXPECT_TRUE(any_near(p, cx + 28, cy, GREEN));
  EXPECT_FALSE(any_near(p, cx + static_cast<int>(28.8 * std::cos(a4)),
                        cy + static_cast<int>(21.6 * std::sin(a4)), GREEN));
  // The label: "Radar" from Wd/2 - 12 on the baseline Ht/3.
  EXPECT_GT(count_in(p, cx - 12, H / 3, cx + 15, H / 3 + 8, GREEN), 10);
  EXPECT_EQ(count_in(p, cx - 20, H / 3 - 3, cx - 13, H / 3 + 10, GREEN), 0);
}

TEST_F(Conformance, HudShowsWhatEachGameStateCallsFor) {
  MirrorPlayer& own = *g_mirror.players[0];
  own.score = 42;
  own.shield = 300;
  own.armor = 500;
  player(6, "Rival", 99);
  auto green_at = [](const std::vector<unsigned char>& p, int x, int y) {
    return count_in(p, x, y, x + 50, y + 8, GREEN);
  };
  // Multi-player with lives: all four lines, both gauges, no scoreboard.
  draw_overlay();
  auto p = pixels();
  EXPECT_GT(green_at(p, 10, H - 20), 15) << "score";
  EXPECT_GT(green_at(p, 10, H - 35), 15) << "lives";
  EXPECT_GT(green_at(p, W - 100, H - 20), 15) << "warps";
  EXPECT_GT(green_at(p, W - 100, H - 35), 15) << "nukes";
  EXPECT_GT(count_in(p, 0, 9, W - 1, 18, WHITE), 80) << "gauge frames";
  EXPECT_EQ(count_in(p, W / 2 - 7, H - 140, W - 110, H - 32, BLUE), 0);
  // Deathmatch: no lives line; the match over, the scoreboard shows by
  // itself under "Game Over", the rival (99) above the own line (42, red).
  g_mirror.join.gameType = 2;
  g_mirror.matchRunning = 0;
  set_overlay_projection();
  begin_frame();
  draw_overlay();
  p = pixels();
  EXPECT_GT(green_at(p, 10, H - 20), 15);
  EXPECT_EQ(green_at(p, 10, H - 35), 0);
  EXPECT_GT(count_in(p, W / 2 - 7, H - 40, W / 2 + 60, H - 32, BLUE), 15) << "Game Over";
  EXPECT_GT(count_in(p, W / 2 - 7, H - 80, W / 2 + 80, H - 72, BLUE), 20) << "rival";
  EXPECT_GT(count_in(p, W / 2 - 7, H - 100, W / 2 + 80, H - 92, RED), 20) << "own";
  EXPECT_EQ(count_in(p, 0, H / 2, W / 2 - 8, H - 1, BLUE), 0) << "lines start at Wd/2 - 7";
  // Single player: never a scoreboard, even with the score key held.
  g_mirror.join.gameType = 0;
  g_mirror.matchRunning = 1;
  g_play.scoreTable = 1;
  set_overlay_projection();
  begin_frame();
  draw_overlay();
  p = pixels();
  EXPECT_EQ(count_in(p, W / 2 - 7, H - 140, W - 110, H - 32, BLUE), 0);
  EXPECT_EQ(count(p, RED), 0);
  // Lives gone in a multi-player game: "Game Over" alone in the middle, then
  // the radar; no score line, no gauges.
  g_mirror.join.gameType = 1;
  own.lives = 0;
  set_overlay_projection();
  begin_frame();
  draw_overlay();
  p = pixels();
  EXPECT_GT(count_in(p, W / 2 - 7, H / 2 + 20, W / 2 + 60, H / 2 + 28, BLUE), 15);
  EXPECT_EQ(count(p, BLUE), count_in(p, W / 2 - 7, H / 2 + 17, W / 2 + 60, H / 2 + 30, BLUE));
  EXPECT_EQ(count(p, WHITE), 0);
  EXPECT_EQ(count_in(p, 0, H / 3 + 12, W - 1, H - 1, GREEN), 0);
  // The same in single player adds the score and the prompt below it.
  g_mirror.join.gameType = 0;
  set_overlay_projection();
  begin_frame();
  draw_overlay();
  p = pixels();
  EXPECT_GT(count_in(p, W / 2 - 7, H / 2, W / 2 + 60, H / 2 + 8, BLUE), 15);
  EXPECT_GT(count_in(p, W / 2 - 7, H / 2 - 20, W / 2 + 60, H / 2 - 12, BLUE), 15);
  g_play.scoreTable = 0;
}

TEST_F(Conformance, MenuDrawingAfterAGameFrameLandsWhereItDoesOnAFreshWindow) {
  // What a menu draws on a fresh window...
  draw_text(200, 300, "Start Single Player Game", palette_white, 1);
  draw_quad(20, 30, 20, 40, 60, 40, 60, 30, palette_dark_grey);
  const auto fresh = pixels();
  // ...and after a busy game frame (blending, texture, halos, models) and
  // the return to the menus.
  world_projection();
  MirrorPlayer& other = player(2, "Other", 0);
  other.position = {0.5f, 0, -2};
  other.size = 0.3f;
  other.shieldActive = 1;
  put(5, KIND_SHIP_EXPLOSION, {0, 0.3f, -1}, 0.2f).age = 0.2f;
  put(6, KIND_NUKE_EXPLOSION, {-1, 0, -4}, 1.0f);
  begin_frame();
  reset_view();
  draw_starfield();
  draw_overlay();
  draw_world();
  set_overlay_projection();
  EXPECT_FALSE(glIsEnabled(GL_BLEND));
  EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
  EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
  GLfloat m[16];
  glGetFloatv(GL_MODELVIEW_MATRIX, m);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(m[i], (i % 5 == 0) ? 1.0f : 0.0f) << i;
  begin_frame();
  draw_text(200, 300, "Start Single Player Game", palette_white, 1);
  draw_quad(20, 30, 20, 40, 60, 40, 60, 30, palette_dark_grey);
  EXPECT_EQ(pixels(), fresh);
}

}  // namespace
}  // namespace zbx
