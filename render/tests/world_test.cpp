// The world pass, radar, HUD and starfield drawn into a real window under
// Xvfb and read back.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "client/client.h"
#include "client/mirror.h"
#include "gl_session.h"
#include "render/core/model.h"
#include "render/core/starfield.h"
#include "render/render.h"

namespace zbx {
namespace {

using testing_gl::GlTest;
using testing_gl::Rgb;

constexpr float NOT_A_NUMBER = std::numeric_limits<float>::quiet_NaN();
constexpr float INF = std::numeric_limits<float>::infinity();

// A unit cube's front face (two triangles) in one colour per corner set.
Model square_model(Colour3f colour) {
  Model m;
  Face a, b;
  a.position = {Vector3f{-1, -1, 0}, Vector3f{1, -1, 0}, Vector3f{1, 1, 0}};
  b.position = {Vector3f{-1, -1, 0}, Vector3f{1, 1, 0}, Vector3f{-1, 1, 0}};
  a.colour = {colour, colour, colour};
  b.colour = a.colour;
  m.faces = {a, b};
  return m;
}

// An "L": tall bar on the left, foot to the right at the bottom; tells
// mirrored and turned pictures apart.
Model letter_model() {
  Model m;
  auto bar = [&m](float x0, float y0, float x1, float y1) {
    Face a, b;
    const Colour3f c{1, 1, 0};
    a.position = {Vector3f{x0, y0, 0}, Vector3f{x1, y0, 0}, Vector3f{x1, y1, 0}};
    b.position = {Vector3f{x0, y0, 0}, Vector3f{x1, y1, 0}, Vector3f{x0, y1, 0}};
    a.colour = {c, c, c};
    b.colour = a.colour;
    m.faces.push_back(a);
    m.faces.push_back(b);
  };
  bar(-1, -1, -0.5f, 1);
  bar(-0.5f, -1, 1, -0.5f);
  return m;
}

class World : public GlTest {
 protected:
  void SetUp() override {
    GlTest::SetUp();
    if (IsSkipped()) return;
    clear_mesh_cache();
    world_projection();
  }
  void TearDown() override {
    clear_mesh_cache();
    for (auto& m : g_models) m.reset();
    for (auto& m : g_asteroid_meshes) m.reset();
    GlTest::TearDown();
  }
  // The drawing picks a model by kind (asteroids: by slot): model, copied,
  // becomes that table entry, or empties it.
  static void use_model(std::unique_ptr<Model>& entry, const Model* model) {
    entry = model ? std::make_unique<Model>(*model) : nullptr;
  }
  MirrorObject& put(int slot, int kind, Vector3f position, float size, const Model* model,
                    const Matrix3f& orientation = IDENTITY_MATRIX) {
    if (kind == KIND_ASTEROID) {
      use_model(g_asteroid_meshes[slot], model);
    } else if (kind >= 0 && kind < MODEL_SLOTS) {
      use_model(g_models[kind], model);
    }
    auto o = std::make_unique<MirrorObject>();
    o->kind = kind;
    o->position = position;
    o->size = size;
    o->orientation = orientation;
    g_mirror.objects[slot] = std::move(o);
    return *g_mirror.objects[slot];
  }
  // First and last pixel column of row y in the colour.
  static std::pair<int, int> span(const std::vector<unsigned char>& p, int y, Rgb colour) {
    int lo = 640, hi = -1;
    for (int x = 0; x < 640; ++x) {
      if (at(p, x, y) == colour) {
        lo = std::min(lo, x);
        hi = std::max(hi, x);
      }
    }
    return {lo, hi};
  }
  MirrorPlayer& own() { return *g_mirror.players[0]; }
  // Draws the world again through the per-vertex path; returns how many
  // pixels differ from gl, the frame the GL transform drew.
  static int differ_from_cpu_transform(const std::vector<unsigned char>& gl) {
    g_render.cpuTransform = true;
    begin_frame();
    draw_world();
    const auto cpu = pixels();
    int differ = 0;
    for (std::size_t i = 0; i < gl.size(); i += 3) {
      differ += gl[i] != cpu[i] || gl[i + 1] != cpu[i + 1] || gl[i + 2] != cpu[i + 2];
    }
    return differ;
  }
};

TEST_F(World, AsteroidAcrossTheWrapIsDrawnAtItsNearImage) {
  // W = 10: an object at x = -9.5 seen from x = 9.5 lies 1 to the right.
  const Model red = square_model({1, 0, 0});
  own().position = {9.5f, 0, 0};
  put(0, KIND_ASTEROID, {-9.5f, 0, -3}, 0.2f, &red);
  draw_world();
  const auto p = pixels();
  const auto [lo, hi] = span(p, 240, {255, 0, 0});
  // Centre x = 1 / 3 / tan 30 / (4/3) of the half width right of the middle.
  const double cx = 320 + 320 * (1.0 / 3.0) / std::tan(M_PI / 6) / (640.0 / 480.0);
  EXPECT_NEAR((lo + hi) / 2.0, cx, 1.5);
  EXPECT_EQ(at(p, static_cast<int>(cx), 240), (Rgb{255, 0, 0}));
}

TEST_F(World, CentreBehindTheCameraHidesTheWholeEntityUnlessReversed) {
  const Model red = square_model({1, 0, 0});
  // A ceiling 0.5 above the eye, 2 deep: drawn while its centre is in front.
  const Matrix3f flat{1, 0, 0, 0, 0, 1, 0, -1, 0};
  put(0, KIND_ASTEROID, {0, 0.5f, -0.05f}, 1.0f, &red, flat);
  draw_world();
  EXPECT_GT(count(pixels(), {255, 0, 0}), 5000);
  // Centre slightly behind: nothing of it, though most of it would be in view.
  g_mirror.objects[0]->position.z = 0.05f;
  put(1, KIND_SHOT, {0, -0.05f, -2}, 0.1f, &red);  // in front, below the middle
  begin_frame();
  draw_world();
  auto p = pixels();
  EXPECT_EQ(at(p, 320, 230), (Rgb{255, 0, 0}));
  EXPECT_EQ(at(p, 320, 300), (Rgb{}));
  // Reverse view: the one behind is drawn, the one in front is not.
  g_play.reverseView = 1;
  begin_frame();
  draw_world();
  p = pixels();
  EXPECT_EQ(at(p, 320, 230), (Rgb{}));
  EXPECT_GT(count(p, {255, 0, 0}), 5000);
}

TEST_F(World, ReverseViewMirrorsLeftAndRightLikeAMirror) {
  const Model letter = letter_model();
  const Matrix3f identity = IDENTITY_MATRIX;
  // Behind the camera, to the right.
  put(0, KIND_SHOT, {1.0f, 0, 4}, 0.5f, &letter, identity);
  g_play.reverseView = 1;
  draw_world();
  const auto gl = pixels();
  EXPECT_GT(span(gl, 240, {255, 255, 0}).first, 320);  // stays on the right
  // The same through the per-vertex path.
  const int differ = differ_from_cpu_transform(gl);
  EXPECT_LT(differ, 20);
  EXPECT_GT(count(gl, {255, 255, 0}), 500);
}

TEST_F(World, TurnedModelsMatchThePerVertexTransform) {
  const Model letter = letter_model();
  const float c = std::cos(0.7f), s = std::sin(0.7f);
  own().flightOrientation = {c, 0, -s, 0, 1, 0, s, 0, c};  // yawed
  own().position = {0.3f, -0.2f, 0.1f};
  const Vector3f ahead{0.3f - 3 * s, -0.2f, 0.1f - 3 * c};
  put(0, KIND_NUKE, ahead, 0.6f, &letter, Matrix3f{0.8f, -0.6f, 0, 0.6f, 0.8f, 0, 0, 0, 1});
  draw_world();
  const auto gl = pixels();
  const int differ = differ_from_cpu_transform(gl);
  EXPECT_GT(count(gl, {255, 255, 0}), 1000);
  EXPECT_LT(differ, 30);
}

TEST_F(World, PowerupLetterFacesTheViewerHoweverTheShipRolls) {
  const Model letter = letter_model();
  put(20, KIND_SHIELD_POWERUP, {0, 0, -3}, 0.5f, &letter);
  draw_world();
  const auto level = pixels();
  const float c = std::cos(1.1f), s = std::sin(1.1f);
  own().flightOrientation = {c, s, 0, -s, c, 0, 0, 0, 1};  // rolled about the view axis
  begin_frame();
  draw_world();
  const auto rolled = pixels();
  EXPECT_EQ(level, rolled);
  // Size 0.5 at depth 3 is 69 pixels: the foot of the L lies at the bottom
  // right, its bar on the left; the halo's green is added on top.
  EXPECT_EQ(at(level, 335, 190), (Rgb{255, 255, 0}));
  EXPECT_EQ(at(level, 265, 255), (Rgb{255, 255, 0}));
  const Rgb beside = at(level, 335, 255);
  EXPECT_LT(beside.r, 60);
  EXPECT_GT(beside.g, beside.r);
}

TEST_F(World, ExplosionsFadeAndStopAtAgeOne) {
  auto& boom = put(7, KIND_SMALL_EXPLOSION, {0, 0, -1}, 0.1f, nullptr);
  boom.age = 0.5f;
  draw_world();
  EXPECT_GT(lit(pixels()), 100);
  EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
  EXPECT_FALSE(glIsEnabled(GL_BLEND));
  boom.age = 1.0f;
  begin_frame();
  draw_world();
  const auto p = pixels();
  // Only the crosshair is left.
  EXPECT_EQ(lit(p), count(p, {0, 0, 70}));
}

TEST_F(World, HaloFromInsideItsSphereStaysAtTheCentre) {
  // Camera inside a nuke blast of radius 3 centred 1 ahead: the disc stays
  // at depth 1 and, radius 3, covers the whole view in red.
  put(9, KIND_NUKE_EXPLOSION, {0, 0, -1}, 3.0f, nullptr);
  draw_world();
  auto p = pixels();
  EXPECT_GT(at(p, 5, 5).r, 60);
  EXPECT_GE(at(p, 320, 240).r, 76);  // centre alpha 0.5 of red 0.6
  // From outside, the disc is pulled in front and has a rim.
  g_mirror.objects[9]->position = {0, 0, -10};
  g_mirror.objects[9]->size = 1.0f;
  begin_frame();
  draw_world();
  p = pixels();
  EXPECT_EQ(at(p, 5, 5), (Rgb{}));
  EXPECT_GE(at(p, 320, 240).r, 76);
}

TEST_F(World, NothingBadReachesGlFromBrokenOrDegenerateRecords) {
  const Model red = square_model({1, 0, 0});
  put(0, KIND_ASTEROID, {NOT_A_NUMBER, 0, -3}, 0.5f, &red);
  put(1, KIND_ASTEROID, {0, 0, -3}, INF, &red);
  put(2, KIND_SHOT, {0, 0, -3}, 0.5f, &red, Matrix3f{NOT_A_NUMBER, 0, 0, 0, 1, 0, 0, 0, 1});
  put(3, KIND_SHOT, {0, 0, -3}, 0.5f, nullptr);
  put(4, KIND_NUKE_EXPLOSION, {0, 0, 0}, 0.0f, nullptr);  // exactly at the camera
  put(5, KIND_SHIP_EXPLOSION, {0, INF, -2}, 0.5f, nullptr);
  put(6, KIND_ARMOR_POWERUP, {0, 0, -3}, NOT_A_NUMBER, &red);
  put(7, KIND_ASTEROID, {0, 0, -3}, 3e38f, &red, Matrix3f{3e38f, 0, 0, 0, 1, 0, 0, 0, 1});
  put(8, 100000, {0, 0, -3}, 1, &red);
  put(10, -1, {0, 0, -3}, 1, &red);
  const Model empty;
  put(11, KIND_ASTEROID, {0, 0, -3}, 1, &empty);
  auto other = std::make_unique<MirrorPlayer>();
  other->position = {0, 0, 0};  // at the camera
  other->size = 0.2f;
  other->alive = 1;
  other->shieldActive = 1;
  use_model(g_models[0], &red);
  other->orientation = IDENTITY_MATRIX;
  g_mirror.players[1] = std::move(other);
  set_overlay_projection();
  draw_overlay();
  draw_world();
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  // Only the overlay, the crosshair and the shield halo of the ship at the
  // camera (a disc through the eye: nothing) are left; no red model anywhere.
  EXPECT_EQ(count(pixels(), {255, 0, 0}), 0);
  // The own player gone: the frame calls draw nothing.
  g_mirror.players[0].reset();
  draw_overlay();
  draw_world();
  draw_starfield();
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(World, WorldPassLeavesTheStateItFound) {
  const Model red = square_model({1, 0, 0});
  put(0, KIND_ASTEROID, {0, 0, -3}, 0.5f, &red);
  draw_world();
  GLfloat m[16];
  glGetFloatv(GL_MODELVIEW_MATRIX, m);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(m[i], (i % 5 == 0) ? 1.0f : 0.0f) << i;
  EXPECT_FALSE(glIsEnabled(GL_BLEND));
  EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
}

TEST_F(World, RadarShowsNearbyThingsByDirectionAndIgnoresTheReverseView) {
  const Model red = square_model({1, 0, 0});
  // Straight ahead and straight behind: both at the centre (light and dark).
  put(0, KIND_ASTEROID, {0, 0, -3}, 0.5f, &red);
  set_overlay_projection();
  draw_radar();
  auto p = pixels();
  // Centre pixel: Wd/2 x (0 + 1) = 320, Ht/2 x 0.333 = 79; 1 point at gap 2.5.
  EXPECT_EQ(at(p, 320, 79), (Rgb{178, 178, 178}));
  g_mirror.objects[0]->position = {0, 0, 3};
  g_play.reverseView = 1;
  begin_frame();
  draw_radar();
  p = pixels();
  EXPECT_EQ(at(p, 320, 79), (Rgb{115, 115, 115}));
  // A ship 10.5 away (gap 10.3) is not shown, at 9 it is one point.
  g_mirror.objects[0].reset();
  auto ship = std::make_unique<MirrorPlayer>();
  ship->alive = 1;
  ship->size = 0.2f;
  ship->position = {10.5f, 0, 0};
  g_mirror.join.worldWidth = 20;
  g_mirror.players[2] = std::move(ship);
  begin_frame();
  draw_radar();
  p = pixels();
  // Abeam to the right: x = 320 x 1.26 = 403.
  EXPECT_EQ(count(p, {255, 0, 0}) + count(p, {178, 0, 0}) - 19, 0) << "cross only";
  g_mirror.players[2]->position = {9, 0, 0};
  begin_frame();
  draw_radar();
  p = pixels();
  EXPECT_EQ(at(p, 403, 79), (Rgb{178, 0, 0}));
  EXPECT_EQ(at(p, 404, 79), (Rgb{}));
}

TEST_F(World, BlipGrowsAsTheGapCloses) {
  set_overlay_projection();
  struct Case {
    float distance;
    int pixels;
  };
  // Size 0.5: gaps 3.0, 2.0 and 0.9.
  for (const Case c : {Case{3.5f, 1}, Case{2.5f, 4}, Case{1.4f, 9}}) {
    begin_frame();
    draw_blip({0, 0, -c.distance}, palette_grey, palette_light_grey, true, 0.5f);
    const auto p = pixels();
    EXPECT_EQ(count(p, {178, 178, 178}), c.pixels) << c.distance;
    EXPECT_EQ(lit(p), c.pixels) << c.distance;
    EXPECT_EQ(at(p, 320, 79), (Rgb{178, 178, 178}));
  }
  // Beyond 6 from its surface an asteroid is off the radar.
  begin_frame();
  draw_blip({0, 0, -6.6f}, palette_grey, palette_light_grey, true, 0.5f);
  EXPECT_EQ(lit(pixels()), 0);
}

TEST_F(World, StarfieldShakesWhileHitAndTakesFifteenDrawsAFrame) {
  make_starfield(g_starfield);
  draw_starfield();
  const auto still = pixels();
  EXPECT_GT(lit(still), 10);
  EXPECT_EQ(g_starfield.counter, 0);
  own().hitFlash = 1;
  for (int frame = 0; frame < 4; ++frame) {
    begin_frame();
    draw_starfield();
  }
  EXPECT_EQ(g_starfield.counter, 4);
  // +, -, -, + : the fourth frame is shifted by +0.15 again.
  EXPECT_EQ(g_starfield.amplitude, 0.15f);
  std::srand(42);
  own().hitFlash = 0;
  begin_frame();
  draw_starfield();
  const int after = std::rand();
  std::srand(42);
  for (int i = 0; i < 15; ++i) (void)std::rand();
  EXPECT_EQ(after, std::rand());
}

}  // namespace
}  // namespace zbx
