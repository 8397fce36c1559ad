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
#include "render/core/model.h"
#include "render/core/view.h"
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

bool finite(const Matrix3f& m) {
  for (float x : m) {
    if (!std::isfinite(x)) return false;
  }
  return true;
}

// State of the world pass. The display lists live as long as the window
// (models never change once loaded); the translucent list is refilled by
// every pass.
struct WorldPass {
  std::unordered_map<const Model*, GLuint> mesh_lists;  // built at first draw
  TranslucentList translucent;
};
WorldPass g_world_pass;

GLuint mesh_list(const Model& model) {
  auto& lists = g_world_pass.mesh_lists;
  if (auto it = lists.find(&model); it != lists.end()) return it->second;
  const GLuint list = glGenLists(1);
  glNewList(list, GL_COMPILE);
  glBegin(GL_TRIANGLES);
  const int faces = face_count(model);
  for (int f = 0; f < faces; ++f) {
    const Face face = face_corners(model, f);
    for (int k = 0; k < 3; ++k) {
      glColor3f(face.colour[k].r, face.colour[k].g, face.colour[k].b);
      glVertex3f(face.position[k].x, face.position[k].y, face.position[k].z);
    }
  }
  glEnd();
  glEndList();
  lists.emplace(&model, list);
  return list;
}

// Sends every face through draw_triangle with its corners turned into camera
// points by to_point, the per-vertex arithmetic of the processor path.
template <typename ToPoint>
void draw_faces(const Model& model, ToPoint to_point) {
  const int faces = face_count(model);
  for (int f = 0; f < faces; ++f) {
    const Face face = face_corners(model, f);
    const Colour3f c[3] = {face.colour[0], face.colour[1], face.colour[2]};
    const Vector3f q[3] = {to_point(face.position[0]), to_point(face.position[1]),
                           to_point(face.position[2])};
    draw_triangle(q, c);
  }
}

// Hands the whole mesh to GL with a model-view matrix that puts vertex v at
// the camera point centre + A v (A given by rows); the reverse view negates
// the camera z row.
void draw_mesh(const Model& model, const float (&a)[9], Vector3f centre, bool reverse) {
  const float z_sign = reverse ? -1.0f : 1.0f;
  // Column-major, as GL stores matrices.
  const GLfloat m[16] = {a[0],     a[3],     a[6] * z_sign,     0,  //
                         a[1],     a[4],     a[7] * z_sign,     0,  //
                         a[2],     a[5],     a[8] * z_sign,     0,  //
                         centre.x, centre.y, centre.z * z_sign, 1};
  glMatrixMode(GL_MODELVIEW);
  glLoadMatrixf(m);
  glCallList(mesh_list(model));
  glLoadIdentity();
}

void add_translucent_entity(const Camera& camera, Vector3f position, int slot, int kind) {
  // Anything not in front of the camera is refused by the list.
  add_translucent(g_world_pass.translucent,
                  view_z(camera_point(camera, position).z, camera.reverse), slot, kind);
}

}  // namespace

void clear_mesh_cache() {
  for (auto& [model, list] : g_world_pass.mesh_lists) glDeleteLists(list, 1);
  g_world_pass.mesh_lists.clear();
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

void draw_oriented_model(const MirrorObject& entity, const Model* model) {
  const MirrorPlayer* own = own_player();
  if (own == nullptr || model == nullptr) return;
  const Camera camera = own_camera(*own);
  const Vector3f c = camera_point(camera, entity.position);
  // Centre behind the camera: the whole entity goes, whatever would reach into view.
  if (!centre_in_view(view_z(c.z, camera.reverse))) return;
  if (!is_finite(c) || !std::isfinite(entity.size) || !finite(entity.orientation)) return;
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
  // Finite parts can still multiply out to infinity (a size of 1e30).
  for (float x : a) {
    if (!std::isfinite(x)) return;
  }
  if (face_count(*model) <= 0) return;
  if (g_render.cpu_transform) {
    // Each corner placed in the world about the entity, then seen from the camera.
    const Vector3f d = wrapped_offset(entity.position, camera.position, camera.world_width);
    draw_faces(*model,
               [&](Vector3f v) { return to_camera(model_offset(d, entity.size, o, v), f); });
    return;
  }
  draw_mesh(*model, a, c, camera.reverse);
}

void draw_facing_model(const MirrorObject& object, const Model* model) {
  const MirrorPlayer* own = own_player();
  if (own == nullptr || model == nullptr) return;
  const Camera camera = own_camera(*own);
  const Vector3f c = camera_point(camera, object.position);
  if (!centre_in_view(view_z(c.z, camera.reverse))) return;
  if (!is_finite(c) || !std::isfinite(object.size)) return;
  const float s = object.size;
  if (face_count(*model) <= 0) return;
  if (g_render.cpu_transform) {
    draw_faces(*model, [&](Vector3f v) {
      return Vector3f{c.x + s * v.x, c.y + s * v.y, c.z + s * v.z};
    });
    return;
  }
  const float a[9] = {s, 0, 0, 0, s, 0, 0, 0, s};
  draw_mesh(*model, a, c, camera.reverse);
}

void draw_halo(const MirrorObject& entity, Colour3f colour, int segments, float centre_alpha,
               float rim_alpha, float radius) {
  const MirrorPlayer* own = own_player();
  if (own == nullptr || segments <= 0) return;
  const Camera camera = own_camera(*own);
  const Vector3f c = halo_centre(camera_point(camera, entity.position), radius, camera.reverse);
  if (!is_finite(c) || !std::isfinite(radius)) return;
  glBegin(GL_TRIANGLES);
  for (int i = 0; i < segments; ++i) {
    const Vector3f rim0 = halo_rim_point(c, radius, i, segments);
    const Vector3f rim1 = halo_rim_point(c, radius, i + 1, segments);
    glColor4f(colour.r, colour.g, colour.b, centre_alpha);
    glVertex3f(c.x, c.y, c.z);
    glColor4f(colour.r, colour.g, colour.b, rim_alpha);
    glVertex3f(rim0.x, rim0.y, rim0.z);
    glVertex3f(rim1.x, rim1.y, rim1.z);
  }
  glEnd();
}

void draw_explosion(Vector3f position, int kind, float age) {
  glEnable(GL_TEXTURE_2D);
  const MirrorPlayer* own = own_player();
  const float h = explosion_half_size(kind, age);
  if (own != nullptr && age < 1.0f) {
    const Camera camera = own_camera(*own);
    Vector3f c = camera_point(camera, position);
    c.z = view_z(c.z, camera.reverse);
    if (is_finite(c) && std::isfinite(h)) {
      glBindTexture(GL_TEXTURE_2D, g_render.explosion_texture);
      glColor4f(1.0f, 1.0f, 1.0f, 1.0f - age);
      glBegin(GL_QUADS);
      for (const TexturedCorner& corner : explosion_quad(c, h)) {
        glTexCoord2f(corner.s, corner.t);
        glVertex3f(corner.position.x, corner.position.y, corner.position.z);
      }
      glEnd();
    }
  }
  glDisable(GL_TEXTURE_2D);
}

void draw_crosshair() {
  glColor4f(CROSSHAIR_COLOUR.r, CROSSHAIR_COLOUR.g, CROSSHAIR_COLOUR.b, CROSSHAIR_ALPHA);
  glBegin(GL_TRIANGLES);
  for (const auto& triangle : CROSSHAIR_TRIANGLES) {
    for (const auto& corner : triangle) glVertex3f(corner[0], corner[1], CROSSHAIR_Z);
  }
  glEnd();
}

namespace {

void draw_translucent() {
  for (const TranslucentEntry& entry : g_world_pass.translucent.entries) {
    if (entry.slot < 0) continue;
    // Shield entries hold a player slot, every other kind an object slot.
    const MirrorObject* entity = nullptr;
    if (entry.kind == TRANSLUCENT_SHIELD) {
      if (entry.slot < MAX_PLAYERS) entity = g_mirror.players[entry.slot].get();
    } else if (entry.slot < MAX_OBJECTS) {
      entity = g_mirror.objects[entry.slot].get();
    }
    if (entity == nullptr) continue;
    if (entry.kind == TRANSLUCENT_EXPLOSION) {
      draw_explosion(entity->position, entity->kind, entity->age);
      continue;
    }
    const HaloStyle style = halo_style(entry.kind);
    draw_halo(*entity, style.colour, style.segments, style.centreAlpha, style.rimAlpha,
              entity->size);
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
    if (player != nullptr && i != own_slot && player->alive) {
      draw_oriented_model(*player, g_models[0].get());
    }
  }
  clear_translucent(g_world_pass.translucent);
  for (int i = 0; i < MAX_OBJECTS; ++i) {
    const MirrorObject* object = g_mirror.objects[i].get();
    if (object == nullptr) continue;
    switch (object->kind) {
      case KIND_SHIELD_POWERUP:
      case KIND_ARMOR_POWERUP:
      case KIND_NUKE_POWERUP:
      case KIND_WARP_POWERUP:
        draw_facing_model(*object, model_for_kind(object->kind, i));
        add_translucent_entity(camera, object->position, i, TRANSLUCENT_POWERUP);
        break;
      case KIND_SHOT:
      case KIND_ASTEROID:
      case KIND_NUKE:
        draw_oriented_model(*object, model_for_kind(object->kind, i));
        break;
      case KIND_NUKE_EXPLOSION:
        add_translucent_entity(camera, object->position, i, TRANSLUCENT_NUKE_EXPLOSION);
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
      add_translucent_entity(camera, object->position, i, TRANSLUCENT_EXPLOSION);
    }
  }
  for (int i = 0; i < MAX_PLAYERS; ++i) {
    const MirrorPlayer* player = g_mirror.players[i].get();
    if (player != nullptr && i != own_slot && player->shieldActive != 0) {
      add_translucent_entity(camera, player->position, i, TRANSLUCENT_SHIELD);
    }
  }
  draw_translucent();
  draw_crosshair();
  disable_blending();
}

}  // namespace zbx
