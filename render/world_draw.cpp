// The first-person world pass: other ships, asteroids, shots, nukes,
// powerup letters, then the translucent halos and explosions far to near,
// and the crosshair.
//
// Whole meshes go to GL with their transform in the model-view matrix (one
// display list per model); the camera z row changes sign in the reverse
// view, which mirrors the picture exactly as transforming each vertex on the
// processor would. RenderState::cpu_transform selects the per-vertex path.
#include <GL/gl.h>

#include <cmath>
#include <unordered_map>

#include "client/mirror.h"
#include "render/pending_core.h"
#include "render/render.h"

namespace zbx {

namespace {

struct Camera {
  Vector3f position;
  Matrix3f flight{};
  float world_width = 10.0f;
  bool reverse = false;
};

Camera own_camera(const MirrorPlayer& own) {
  return {own.position, own.flightOrientation, g_mirror.join.worldWidth, reverse_view_held()};
}

// Camera coordinates of a world position, without the reverse-view sign.
Vector3f camera_point(const Camera& camera, Vector3f world) {
  return to_camera(wrapped_offset(world, camera.position, camera.world_width), camera.flight);
}

bool finite(Vector3f v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

bool finite(const Matrix3f& m) {
  for (float x : m) {
    if (!std::isfinite(x)) return false;
  }
  return true;
}

// One display list per model, built the first time the model is drawn.
std::unordered_map<const Model*, GLuint>& mesh_lists() {
  static std::unordered_map<const Model*, GLuint> lists;
  return lists;
}

GLuint mesh_list(const Model& model) {
  auto& lists = mesh_lists();
  if (auto it = lists.find(&model); it != lists.end()) return it->second;
  const GLuint list = glGenLists(1);
  glNewList(list, GL_COMPILE);
  glBegin(GL_TRIANGLES);
  const int faces = model_face_count(model);
  for (int f = 0; f < faces; ++f) {
    Vector3f p[3];
    Colour3f c[3];
    model_face(model, f, p, c);
    for (int k = 0; k < 3; ++k) {
      glColor3f(c[k].r, c[k].g, c[k].b);
      glVertex3f(p[k].x, p[k].y, p[k].z);
    }
  }
  glEnd();
  glEndList();
  lists.emplace(&model, list);
  return list;
}

// Draws a model whose vertex v lands at the camera point centre + A v, with
// A given by rows; the reverse view negates the camera z row.
void draw_transformed(const Model& model, const float (&a)[9], Vector3f centre, bool reverse) {
  if (model_face_count(model) <= 0) return;
  if (g_render.cpu_transform) {
    const int faces = model_face_count(model);
    for (int f = 0; f < faces; ++f) {
      Vector3f p[3];
      Colour3f c[3];
      model_face(model, f, p, c);
      Vector3f q[3];
      for (int k = 0; k < 3; ++k) {
        const Vector3f v = p[k];
        q[k] = {centre.x + a[0] * v.x + a[1] * v.y + a[2] * v.z,
                centre.y + a[3] * v.x + a[4] * v.y + a[5] * v.z,
                centre.z + a[6] * v.x + a[7] * v.y + a[8] * v.z};
      }
      draw_triangle(q, c);
    }
    return;
  }
  const float z_sign = reverse ? -1.0f : 1.0f;
  // Column-major, as GL stores matrices.
  const GLfloat m[16] = {a[0], a[3], a[6] * z_sign, 0,  //
                         a[1], a[4], a[7] * z_sign, 0,  //
                         a[2], a[5], a[8] * z_sign, 0,  //
                         centre.x, centre.y, centre.z * z_sign, 1};
  glMatrixMode(GL_MODELVIEW);
  glLoadMatrixf(m);
  glCallList(mesh_list(model));
  glLoadIdentity();
}

struct Translucent {
  TranslucentList list;
};
Translucent g_translucent;

void add_translucent_entity(const Camera& camera, Vector3f position, int slot, int kind) {
  float depth = camera_point(camera, position).z;
  if (camera.reverse) depth = -depth;
  if (depth < 0) add_translucent(g_translucent.list, depth, slot, kind);
}

}  // namespace

void clear_mesh_cache() {
  for (auto& [model, list] : mesh_lists()) glDeleteLists(list, 1);
  mesh_lists().clear();
}

void draw_triangle(const Vector3f (&points)[3], const Colour3f (&colours)[3]) {
  const float z_sign = reverse_view_held() ? -1.0f : 1.0f;
  glBegin(GL_TRIANGLES);
  for (int k = 0; k < 3; ++k) {
    glColor3f(colours[k].r, colours[k].g, colours[k].b);
    glVertex3f(points[k].x, points[k].y, points[k].z * z_sign);
  }
  glEnd();
}

void draw_oriented_model(const MirrorObject& entity) {
  const MirrorPlayer* own = own_player();
  if (own == nullptr || entity.model == nullptr) return;
  const Camera camera = own_camera(*own);
  const Vector3f c = camera_point(camera, entity.position);
  const float cz = camera.reverse ? -c.z : c.z;
  if (cz > 0) return;  // centre behind the camera: the whole entity goes
  if (!finite(c) || !std::isfinite(entity.size) || !finite(entity.orientation)) return;
  // A = size x flight x orientation: the model turned into the world, then
  // into camera axes.
  const Matrix3f& f = camera.flight;
  const Matrix3f& o = entity.orientation;
  float a[9];
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      a[i * 3 + j] =
          entity.size * (f[i * 3] * o[j] + f[i * 3 + 1] * o[3 + j] + f[i * 3 + 2] * o[6 + j]);
    }
  }
  draw_transformed(*entity.model, a, c, camera.reverse);
}

void draw_facing_model(const MirrorObject& object) {
  const MirrorPlayer* own = own_player();
  if (own == nullptr || object.model == nullptr) return;
  const Camera camera = own_camera(*own);
  const Vector3f c = camera_point(camera, object.position);
  if (camera.reverse ? c.z < 0 : c.z > 0) return;
  if (!finite(c) || !std::isfinite(object.size)) return;
  const float s = object.size;
  const float a[9] = {s, 0, 0, 0, s, 0, 0, 0, s};
  draw_transformed(*object.model, a, c, camera.reverse);
}

void draw_halo(const MirrorObject& entity, Colour3f colour, int segments, float centre_alpha,
               float rim_alpha, float radius) {
  const MirrorPlayer* own = own_player();
  if (own == nullptr || segments <= 0) return;
  const Camera camera = own_camera(*own);
  Vector3f c = camera_point(camera, entity.position);
  const float dist = std::sqrt(c.x * c.x + c.y * c.y + c.z * c.z);
  if (camera.reverse) c.z = -c.z;
  // Outside the sphere the disc moves towards the camera by the radius.
  if (dist > radius && dist > 0) {
    c.x -= c.x * radius / dist;
    c.y -= c.y * radius / dist;
    c.z -= c.z * radius / dist;
  }
  if (!finite(c) || !std::isfinite(radius)) return;
  const float step = 6.2831855f / static_cast<float>(segments);
  glBegin(GL_TRIANGLES);
  for (int i = 0; i < segments; ++i) {
    const double a0 = static_cast<float>(i) * step;
    const double a1 = static_cast<float>(i + 1) * step;
    glColor4f(colour.r, colour.g, colour.b, centre_alpha);
    glVertex3f(c.x, c.y, c.z);
    glColor4f(colour.r, colour.g, colour.b, rim_alpha);
    glVertex3f(static_cast<float>(c.x + radius * std::cos(a0)),
               static_cast<float>(c.y + radius * std::sin(a0)), c.z);
    glVertex3f(static_cast<float>(c.x + radius * std::cos(a1)),
               static_cast<float>(c.y + radius * std::sin(a1)), c.z);
  }
  glEnd();
}

void draw_explosion(Vector3f position, int kind, float age) {
  glEnable(GL_TEXTURE_2D);
  const MirrorPlayer* own = own_player();
  const float h = kind == KIND_SMALL_EXPLOSION ? (2 * age + 1) * 0.05f : (2 * age + 0.25f) * 0.2f;
  if (own != nullptr && age < 1.0f) {
    const Camera camera = own_camera(*own);
    Vector3f c = camera_point(camera, position);
    if (camera.reverse) c.z = -c.z;
    if (finite(c) && std::isfinite(h)) {
      glBindTexture(GL_TEXTURE_2D, g_render.explosion_texture);
      glColor4f(1.0f, 1.0f, 1.0f, 1.0f - age);
      glBegin(GL_QUADS);
      glTexCoord2f(0, 1);
      glVertex3f(c.x - h, c.y + h, c.z);
      glTexCoord2f(0, 0);
      glVertex3f(c.x - h, c.y - h, c.z);
      glTexCoord2f(1, 0);
      glVertex3f(c.x + h, c.y - h, c.z);
      glTexCoord2f(1, 1);
      glVertex3f(c.x + h, c.y + h, c.z);
      glEnd();
    }
  }
  glDisable(GL_TEXTURE_2D);
}

void draw_crosshair() {
  glColor4f(0.0f, 0.0f, 0.55f, 0.5f);
  glBegin(GL_TRIANGLES);
  const float z = -0.1f;
  glVertex3f(0, 0.005f, z);
  glVertex3f(0.002f, 0.01f, z);
  glVertex3f(-0.002f, 0.01f, z);
  glVertex3f(0, -0.005f, z);
  glVertex3f(0.002f, -0.01f, z);
  glVertex3f(-0.002f, -0.01f, z);
  glVertex3f(0.005f, 0, z);
  glVertex3f(0.01f, 0.002f, z);
  glVertex3f(0.01f, -0.002f, z);
  glVertex3f(-0.005f, 0, z);
  glVertex3f(-0.01f, 0.002f, z);
  glVertex3f(-0.01f, -0.002f, z);
  glEnd();
}

namespace {

void draw_translucent() {
  for (const TranslucentEntry& entry : g_translucent.list.entries) {
    if (entry.slot < 0) continue;
    if (entry.kind == 2) {
      if (entry.slot >= MAX_PLAYERS) continue;
      const MirrorPlayer* player = g_mirror.players[entry.slot].get();
      if (player != nullptr) draw_halo(*player, {0.5f, 0.4f, 1.0f}, 64, 0.15f, 0.5f, player->size);
      continue;
    }
    if (entry.slot >= MAX_OBJECTS) continue;
    const MirrorObject* object = g_mirror.objects[entry.slot].get();
    if (object == nullptr) continue;
    switch (entry.kind) {
      case 1:
        draw_explosion(object->position, object->kind, object->age);
        break;
      case 3:
        draw_halo(*object, {0.4f, 0.6f, 0.0f}, 64, 0.3f, 0.5f, object->size);
        break;
      case 4:
        draw_halo(*object, {0.6f, 0.0f, 0.0f}, 256, 0.5f, 0.35f, object->size);
        break;
      default:
        break;
    }
  }
}

}  // namespace

void draw_world() {
  const MirrorPlayer* own = own_player();
  if (own == nullptr) return;
  const Camera camera = own_camera(*own);
  const int own_slot = g_mirror.join.slot;
  for (int i = 0; i < MAX_PLAYERS; ++i) {
    const MirrorPlayer* player = g_mirror.players[i].get();
    if (player != nullptr && i != own_slot && player->alive) draw_oriented_model(*player);
  }
  clear_translucent(g_translucent.list);
  for (int i = 0; i < MAX_OBJECTS; ++i) {
    const MirrorObject* object = g_mirror.objects[i].get();
    if (object == nullptr) continue;
    switch (object->kind) {
      case KIND_SHIELD_POWERUP:
      case KIND_ARMOR_POWERUP:
      case KIND_NUKE_POWERUP:
      case KIND_WARP_POWERUP:
        draw_facing_model(*object);
        add_translucent_entity(camera, object->position, i, 3);
        break;
      case KIND_SHOT:
      case KIND_ASTEROID:
      case KIND_NUKE:
        draw_oriented_model(*object);
        break;
      case KIND_NUKE_EXPLOSION:
        add_translucent_entity(camera, object->position, i, 4);
        break;
      default:
        break;
    }
  }
  enable_blending();
  for (int i = 0; i < MAX_OBJECTS; ++i) {
    const MirrorObject* object = g_mirror.objects[i].get();
    if (object == nullptr) continue;
    if ((object->kind == KIND_SMALL_EXPLOSION || object->kind == KIND_SHIP_EXPLOSION) &&
        object->age < 1.0f) {
      add_translucent_entity(camera, object->position, i, 1);
    }
  }
  for (int i = 0; i < MAX_PLAYERS; ++i) {
    const MirrorPlayer* player = g_mirror.players[i].get();
    if (player != nullptr && i != own_slot && player->shieldActive != 0) {
      add_translucent_entity(camera, player->position, i, 2);
    }
  }
  draw_translucent();
  draw_crosshair();
  disable_blending();
}

}  // namespace zbx
