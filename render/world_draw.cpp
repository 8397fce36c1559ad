// The first-person world pass: other ships, asteroids, shots, nukes,
// powerup letters, then the translucent halos and explosions far to near,
// and the crosshair.
//
// The opaque models of a pass are transformed on the processor, with the
// very arithmetic of the per-vertex path, into one indexed vertex array and
// handed to GL in a single draw before blending starts: software renderers
// pay per call far more than per triangle, and identical vertices in the
// identical order give the identical picture. RenderState::cpuTransform
// selects the per-vertex path (one call per vertex) for comparison.
#include <GL/gl.h>

#include <cmath>
#include <vector>

#include "client/mirror.h"
#include "client/smoothing.h"
#include "render/core/model.h"
#include "render/core/view.h"
#include "render/render.h"

namespace zbx {

namespace {

struct Camera {
  Vector3f position;
  Matrix3f flight{};
  float worldWidth = 10.0f;
  bool reverse = false;
};

Camera own_camera(const MirrorPlayer& own) {
  return {own.position, own.flightOrientation, drawn_mirror().join.worldWidth, reverse_view_held()};
}

// Camera coordinates of a world position, without the reverse-view sign.
Vector3f camera_point(const Camera& camera, Vector3f world) {
  return to_camera(wrapped_offset(world, camera.position, camera.worldWidth), camera.flight);
}

bool finite(const Matrix3f& m) {
  for (float x : m) {
    if (!std::isfinite(x)) return false;
  }
  return true;
}

// The opaque triangles gathered for one draw: corners in camera coordinates
// (reverse-view sign applied) with their colours, and the triangles as
// indices. The arrays keep their capacity from frame to frame.
struct MeshBatch {
  std::vector<MeshVertex> vertices;
  std::vector<GLuint> indices;
};

// State of the world pass; the translucent list is refilled by every pass.
struct WorldPass {
  MeshBatch batch;
  bool batching = false;  // inside draw_world: models wait for the one draw
  TranslucentList translucent;
};
WorldPass g_world_pass;

void flush_batch() {
  MeshBatch& batch = g_world_pass.batch;
  if (!batch.indices.empty()) {
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glVertexPointer(3, GL_FLOAT, sizeof(MeshVertex), &batch.vertices[0].position);
    glColorPointer(3, GL_FLOAT, sizeof(MeshVertex), &batch.vertices[0].colour);
    glDrawRangeElements(GL_TRIANGLES, 0, static_cast<GLuint>(batch.vertices.size() - 1),
                        static_cast<GLsizei>(batch.indices.size()), GL_UNSIGNED_INT,
                        batch.indices.data());
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
  }
  batch.vertices.clear();
  batch.indices.clear();
}

// Sends every face of model with its corners turned into camera points by
// to_point: through draw_triangle, one call per vertex, on the per-vertex
// path; else into the batch, each shared corner of a welded model once.
template <typename ToPoint>
void draw_faces(const Model& model, ToPoint to_point) {
  if (g_render.cpuTransform) {
    const int faces = face_count(model);
    for (int f = 0; f < faces; ++f) {
      const Face face = face_corners(model, f);
      const Colour3f c[3] = {face.colour[0], face.colour[1], face.colour[2]};
      const Vector3f q[3] = {to_point(face.position[0]), to_point(face.position[1]),
                             to_point(face.position[2])};
      draw_triangle(q, c);
    }
    return;
  }
  const float z_sign = reverse_view_held() ? -1.0f : 1.0f;
  auto camera_vertex = [&](Vector3f v, Colour3f colour) {
    const Vector3f q = to_point(v);
    return MeshVertex{{q.x, q.y, q.z * z_sign}, colour};
  };
  MeshBatch& batch = g_world_pass.batch;
  const auto base = static_cast<GLuint>(batch.vertices.size());
  if (is_welded(model)) {
    for (const MeshVertex& v : model.vertices) {
      batch.vertices.push_back(camera_vertex(v.position, v.colour));
    }
    for (const WeldedFace& face : model.welded) {
      for (std::uint32_t k : face.vertex) batch.indices.push_back(base + k);
    }
  } else {
    for (const Face& face : model.faces) {
      for (int k = 0; k < 3; ++k) {
        batch.vertices.push_back(camera_vertex(face.position[k], face.colour[k]));
      }
    }
    for (GLuint i = base; i < batch.vertices.size(); ++i) batch.indices.push_back(i);
  }
  if (!g_world_pass.batching) flush_batch();
}

void add_translucent_entity(const Camera& camera, Vector3f position, int slot, int kind) {
  // Anything not in front of the camera is refused by the list.
  add_translucent(g_world_pass.translucent,
                  view_z(camera_point(camera, position).z, camera.reverse), slot, kind);
}

}  // namespace

void clear_mesh_cache() { g_world_pass.batch = MeshBatch{}; }

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
  const MirrorPlayer* own = drawn_own_player();
  if (own == nullptr || model == nullptr) return;
  const Camera camera = own_camera(*own);
  const Vector3f c = camera_point(camera, entity.position);
  // Centre behind the camera: the whole entity goes, whatever would reach into view.
  if (!centre_in_view(view_z(c.z, camera.reverse))) return;
  if (!is_finite(c) || !std::isfinite(entity.size) || !finite(entity.orientation)) return;
  // A = size x flight x orientation, the model turned into camera axes, must
  // stay finite for the corners to be.
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
  // Each corner placed in the world about the entity, then seen from the camera.
  const Vector3f d = wrapped_offset(entity.position, camera.position, camera.worldWidth);
  draw_faces(*model, [&](Vector3f v) { return to_camera(model_offset(d, entity.size, o, v), f); });
}

void draw_facing_model(const MirrorObject& object, const Model* model) {
  const MirrorPlayer* own = drawn_own_player();
  if (own == nullptr || model == nullptr) return;
  const Camera camera = own_camera(*own);
  const Vector3f c = camera_point(camera, object.position);
  if (!centre_in_view(view_z(c.z, camera.reverse))) return;
  if (!is_finite(c) || !std::isfinite(object.size)) return;
  const float s = object.size;
  if (face_count(*model) <= 0) return;
  draw_faces(*model, [&](Vector3f v) {
    return Vector3f{c.x + s * v.x, c.y + s * v.y, c.z + s * v.z};
  });
}

void draw_halo(const MirrorObject& entity, Colour3f colour, int segments, float centre_alpha,
               float rim_alpha, float radius) {
  const MirrorPlayer* own = drawn_own_player();
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
  const MirrorPlayer* own = drawn_own_player();
  const float h = explosion_half_size(kind, age);
  if (own != nullptr && age < 1.0f) {
    const Camera camera = own_camera(*own);
    Vector3f c = camera_point(camera, position);
    c.z = view_z(c.z, camera.reverse);
    if (is_finite(c) && std::isfinite(h)) {
      glBindTexture(GL_TEXTURE_2D, g_render.explosionTexture);
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
  const WorldMirror& mirror = drawn_mirror();
  for (const TranslucentEntry& entry : g_world_pass.translucent.entries) {
    if (entry.slot < 0) continue;
    // Shield entries hold a player slot, every other kind an object slot.
    const MirrorObject* entity = nullptr;
    if (entry.kind == TRANSLUCENT_SHIELD) {
      if (entry.slot < MAX_PLAYERS) entity = mirror.players[entry.slot].get();
    } else if (entry.slot < MAX_OBJECTS) {
      entity = mirror.objects[entry.slot].get();
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
  const MirrorPlayer* own = drawn_own_player();
  if (own == nullptr) return;
  const Camera camera = own_camera(*own);
  // The newest snapshot, or with smooth motion the world at this frame's moment.
  const WorldMirror& mirror = drawn_mirror();
  const int own_slot = mirror.join.slot;
  g_world_pass.batching = true;
  for (int i = 0; i < MAX_PLAYERS; ++i) {
    const MirrorPlayer* player = mirror.players[i].get();
    if (player != nullptr && i != own_slot && player->alive) {
      draw_oriented_model(*player, g_models[0].get());
    }
  }
  clear_translucent(g_world_pass.translucent);
  for (int i = 0; i < MAX_OBJECTS; ++i) {
    const MirrorObject* object = mirror.objects[i].get();
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
  g_world_pass.batching = false;
  flush_batch();
  enable_blending();
  for (int i = 0; i < MAX_OBJECTS; ++i) {
    const MirrorObject* object = mirror.objects[i].get();
    if (object == nullptr) continue;
    if ((object->kind == KIND_SMALL_EXPLOSION || object->kind == KIND_SHIP_EXPLOSION) &&
        object->age < 1.0f) {
      add_translucent_entity(camera, object->position, i, TRANSLUCENT_EXPLOSION);
    }
  }
  for (int i = 0; i < MAX_PLAYERS; ++i) {
    const MirrorPlayer* player = mirror.players[i].get();
    if (player != nullptr && i != own_slot && player->shieldActive != 0) {
      add_translucent_entity(camera, player->position, i, TRANSLUCENT_SHIELD);
    }
  }
  draw_translucent();
  draw_crosshair();
  disable_blending();
}

}  // namespace zbx
