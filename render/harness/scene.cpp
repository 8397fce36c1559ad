// Scripted worlds for the render harness and benchmarks.
#include "scene.h"

#include <GL/gl.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "client/mirror.h"
#include "render/core/model.h"
#include "render/core/starfield.h"
#include "render/render.h"
#include "startup/settings.h"

namespace zbx::harness {

namespace {

// Rotation by angle (degrees) about a unit axis, as three rows.
Matrix3f rotation(float degrees, Vector3f axis) {
  const float a = degrees * 3.14159265f / 180.0f;
  const float c = std::cos(a), s = std::sin(a), t = 1 - c;
  const float x = axis.x, y = axis.y, z = axis.z;
  return {t * x * x + c,     t * x * y - s * z, t * x * z + s * y,  //
          t * x * y + s * z, t * y * y + c,     t * y * z - s * x,  //
          t * x * z - s * y, t * y * z + s * x, t * z * z + c};
}

MirrorObject& put_object(int slot, int kind, Vector3f position, float size,
                         const Matrix3f& orientation = IDENTITY_MATRIX) {
  auto object = std::make_unique<MirrorObject>();
  object->kind = kind;
  object->size = size;
  object->position = position;
  object->orientation = orientation;
  g_mirror.objects[slot] = std::move(object);
  return *g_mirror.objects[slot];
}

MirrorPlayer& put_player(int slot, const char* name, int score, Vector3f position) {
  auto player = std::make_unique<MirrorPlayer>();
  player->position = position;
  player->size = 0.2f;
  player->score = score;
  player->lives = 3;
  player->alive = 1;
  player->orientation = IDENTITY_MATRIX;
  player->flightOrientation = IDENTITY_MATRIX;
  std::snprintf(player->name, sizeof player->name, "%s", name);
  g_mirror.players[slot] = std::move(player);
  return *g_mirror.players[slot];
}

// A busy view from the cockpit: something of every kind where a test can
// find it (positions are camera coordinates, since the own ship sits at the
// origin looking along -z).
void cockpit_scene() {
  put_object(0, KIND_ASTEROID, {-1.6f, 0.9f, -4.0f}, 0.7f, rotation(30, {0.6f, 0.8f, 0}));
  put_object(1, KIND_ASTEROID, {2.2f, 1.2f, -6.0f}, 0.9f, rotation(75, {0, 0.6f, 0.8f}));
  put_object(2, KIND_ASTEROID, {0.4f, -1.4f, -7.5f}, 0.5f);
  put_object(3, KIND_ASTEROID, {-3.5f, -1.0f, -9.0f}, 1.0f, rotation(140, {0.8f, 0, 0.6f}));
  put_object(4, KIND_ASTEROID, {0.0f, 0.0f, 4.0f}, 0.6f);  // behind: radar only
  put_object(10, KIND_SHOT, {0.15f, -0.25f, -1.5f}, 0.01f);
  put_object(11, KIND_SHOT, {0.35f, -0.2f, -2.5f}, 0.01f);
  put_object(12, KIND_NUKE, {-0.5f, 0.35f, -2.0f}, 0.1f, rotation(-60, {0, 1, 0}));
  put_object(20, KIND_SHIELD_POWERUP, {-0.45f, -0.28f, -1.2f}, 0.1f);
  put_object(30, KIND_SHIP_EXPLOSION, {-0.3f, 1.0f, -3.0f}, 0.3f).age = 0.3f;
  put_object(40, KIND_NUKE_EXPLOSION, {1.0f, 3.2f, -9.0f}, 1.2f);
  MirrorPlayer& other = put_player(1, "Rival", 12, {0.8f, -0.35f, -1.9f});
  other.orientation = rotation(200, {0.3f, 0.95f, 0});
  other.shieldActive = 1;
}

// An asteroid behind and to the right, another in front and to the left.
void behind_scene() {
  put_object(0, KIND_ASTEROID, {1.5f, 0.0f, 5.0f}, 0.8f);
  put_object(1, KIND_ASTEROID, {-1.5f, 0.0f, -5.0f}, 0.8f);
}

// The own ship in a corner of the world, everything else across its faces,
// so that each is drawn at its near image; rocks from touching the near
// plane to far off, explosions, and a rock behind for the reverse view.
void wrap_scene() {
  g_mirror.players[0]->position = {9.5f, 9.5f, -9.5f};
  put_object(0, KIND_ASTEROID, {-9.3f, 9.5f, -12.5f}, 0.6f, rotation(40, {0.6f, 0.8f, 0}));
  put_object(1, KIND_ASTEROID, {9.0f, -9.2f, -13.5f}, 0.8f, rotation(110, {0, 0.6f, 0.8f}));
  put_object(2, KIND_ASTEROID, {9.5f, 9.2f, 6.0f}, 0.7f);
  put_object(3, KIND_ASTEROID, {-8.0f, -8.5f, 5.0f}, 1.0f, rotation(200, {0.8f, 0, 0.6f}));
  put_object(4, KIND_ASTEROID, {-9.9f, 9.4f, -10.8f}, 0.5f, rotation(15, {0, 1, 0}));
  put_object(5, KIND_ASTEROID, {9.0f, 9.5f, -6.0f}, 0.9f, rotation(70, {0.6f, 0, 0.8f}));
  put_object(10, KIND_SHOT, {-9.8f, -9.9f, -11.5f}, 0.01f);
  put_object(30, KIND_SMALL_EXPLOSION, {-9.7f, 9.8f, 8.0f}, 0.1f).age = 0.5f;
  put_object(31, KIND_SHIP_EXPLOSION, {9.2f, -9.6f, 7.5f}, 0.3f).age = 0.2f;
  put_object(32, KIND_SHIP_EXPLOSION, {9.8f, 9.0f, -7.0f}, 0.3f).age = 0.1f;
  MirrorPlayer& other = put_player(1, "Rival", 5, {-9.6f, -9.8f, 7.9f});
  other.orientation = rotation(120, {0, 0.6f, 0.8f});
  other.shieldActive = 1;
}

}  // namespace

void load_assets() {
  make_starfield(g_starfield);
  load_model_set();
  for (int slot = 0; slot < MAX_OBJECTS; ++slot) build_asteroid_mesh(slot);
  init_palette();
}

void reset_world() {
  clear_mirror();
  g_mirror.join = JoinInfo{};
  g_mirror.join.slot = 0;
  g_mirror.join.gameType = 1;
  g_mirror.join.worldWidth = 10.0f;
  g_mirror.join.maxShield = 300;
  g_mirror.join.maxArmor = 1000;
  g_mirror.matchRunning = 1;
  MirrorPlayer& own = put_player(0, "Pilot", 1234, {0, 0, 0});
  own.shield = 150;
  own.armor = 1000;
  own.warps = 2;
  own.nukes = 1;
}

bool build_scene(const std::string& name) {
  reset_world();
  MirrorPlayer& own = *g_mirror.players[0];
  if (name == "cockpit") {
    cockpit_scene();
  } else if (name == "empty") {
  } else if (name == "behind") {
    behind_scene();
  } else if (name == "wrap") {
    wrap_scene();
  } else if (name == "gameover") {
    cockpit_scene();
    g_mirror.join.gameType = 0;
    own.lives = 0;
  } else if (name == "scoreboard") {
    // Scores 7 (own), 12 and 3: lines 12, 7, 3 from the top.
    own.score = 7;
    put_player(3, "Alpha", 12, {0, 0, 9});
    put_player(5, "Bravo", 3, {0, 9, 0});
    g_mirror.matchRunning = 0;
  } else if (name == "hit") {
    own.hitFlash = 1;
  } else {
    return false;
  }
  return true;
}

void build_asteroid_field(int count) {
  reset_world();
  // Rows of rocks between 5 and 14 units ahead, spread to stay inside the
  // 60 degree view.
  for (int i = 0; i < count && i < MAX_OBJECTS; ++i) {
    const float depth = 5.0f + static_cast<float>(i % 10);
    const float spread = depth * 0.45f;
    const float u = static_cast<float>((i * 37) % 101) / 100.0f * 2 - 1;
    const float v = static_cast<float>((i * 61) % 97) / 96.0f * 2 - 1;
    put_object(i, KIND_ASTEROID, {u * spread, v * spread * 0.75f, -depth}, 0.45f,
               rotation(static_cast<float>(i * 13), {0.6f, 0.0f, 0.8f}));
  }
}

void draw_game_frame() {
  std::lock_guard<std::mutex> hold(mirror_mutex());
  begin_frame();
  reset_view();
  if (own_player() != nullptr) {
    draw_starfield();
    draw_overlay();
    draw_world();
  }
}

void draw_asteroids_only() {
  std::lock_guard<std::mutex> hold(mirror_mutex());
  begin_frame();
  reset_view();
  for (int slot = 0; slot < MAX_OBJECTS; ++slot) {
    const MirrorObject* object = g_mirror.objects[slot].get();
    if (object != nullptr && object->kind == KIND_ASTEROID) {
      draw_oriented_model(*object, model_for_kind(KIND_ASTEROID, slot));
    }
  }
}

bool save_ppm(const char* path) {
  const int w = g_client_settings.SCREEN_WIDTH;
  const int h = g_client_settings.SCREEN_HEIGHT;
  std::vector<unsigned char> pixels(static_cast<std::size_t>(w) * h * 3);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadBuffer(GL_BACK);
  glReadPixels(0, 0, w, h, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return false;
  std::fprintf(file, "P6\n%d %d\n255\n", w, h);
  bool ok = true;
  for (int row = h - 1; row >= 0 && ok; --row) {
    ok = std::fwrite(&pixels[static_cast<std::size_t>(row) * w * 3], 3, w, file) ==
         static_cast<std::size_t>(w);
  }
  return std::fclose(file) == 0 && ok;
}

}  // namespace zbx::harness
