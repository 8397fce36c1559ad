// Procedural asteroid meshes: a welded octahedron roughened, subdivided and
// shaded with random draws taken in a fixed order, so that one seed always
// gives the same rocks.
#include <cmath>
#include <cstdlib>

#include "render/core/model.h"

namespace zbx {

AsteroidMeshes g_asteroid_meshes;

int system_random() { return std::rand(); }

namespace {

int draw_byte(RandomSource random) {
  int r = random() % 256;
  return r < 0 ? r + 256 : r;
}

bool same_position(const Vector3f& a, const Vector3f& b) {
  return a.x == b.x && a.y == b.y && a.z == b.z;
}

// Index of the shared vertex at exactly this position, appending one with
// this colour when there is none.
std::uint32_t find_or_add(std::vector<MeshVertex>& list, const Vector3f& p, const Colour3f& c) {
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (same_position(list[i].position, p)) return static_cast<std::uint32_t>(i);
  }
  list.push_back({p, c});
  return static_cast<std::uint32_t>(list.size() - 1);
}

}  // namespace

Model make_octahedron() {
  Model m;
  for (float sx : {-1.0f, 1.0f})
    for (float sy : {-1.0f, 1.0f})
      for (float sz : {-1.0f, 1.0f}) {
        Face f;
        f.position = {{{sx, 0, 0}, {0, sy, 0}, {0, 0, sz}}};
        f.colour = {{{1, 1, 1}, {1, 1, 1}, {1, 1, 1}}};
        m.faces.push_back(f);
      }
  return m;
}

void weld_model(Model& m) {
  if (is_welded(m)) return;
  std::vector<WeldedFace> welded;
  welded.reserve(m.faces.size());
  for (const Face& f : m.faces) {
    WeldedFace w;
    for (int i = 0; i < 3; ++i) w.vertex[i] = find_or_add(m.vertices, f.position[i], f.colour[i]);
    welded.push_back(w);
  }
  m.welded = std::move(welded);
  m.faces.clear();
}

void perturb_vertices(Model& m, float amplitude, RandomSource random) {
  for (MeshVertex& v : m.vertices) {
    for (float* c : {&v.position.x, &v.position.y, &v.position.z}) {
      float ra = static_cast<float>(draw_byte(random)) * amplitude;
      double move = ra * (1.0 / 512) - amplitude * 0.5;
      *c = static_cast<float>(*c + move);
    }
  }
}

void shade_vertices(Model& m, RandomSource random) {
  for (MeshVertex& v : m.vertices) {
    float g = static_cast<float>(draw_byte(random) / 1280.0 + 0.1);
    v.colour = {g, g, g};
  }
}

void subdivide_model(Model& m) {
  if (!is_welded(m)) return;
  std::vector<WeldedFace> next;
  next.reserve(m.welded.size() * 4);
  for (const WeldedFace& face : m.welded) {
    std::array<std::uint32_t, 3> v = face.vertex;
    std::array<std::uint32_t, 3> mid{};
    for (int i = 0; i < 3; ++i) {
      int j = (i + 1) % 3;
      // Copies: find_or_add may grow the list under references.
      MeshVertex a = m.vertices[v[i]];
      MeshVertex b = m.vertices[v[j]];
      Vector3f p = {(a.position.x + b.position.x) * 0.5f, (a.position.y + b.position.y) * 0.5f,
                    (a.position.z + b.position.z) * 0.5f};
      float target = (length(a.position) + length(b.position)) * 0.5f;
      float len = length(p);
      // A midpoint at the origin has no direction to push along.
      if (len > 0.0f) {
        float k = target / len;
        p = {p.x * k, p.y * k, p.z * k};
      }
      Colour3f c = {(a.colour.r + b.colour.r) * 0.5f, (a.colour.g + b.colour.g) * 0.5f,
                    (a.colour.b + b.colour.b) * 0.5f};
      mid[i] = find_or_add(m.vertices, p, c);
    }
    next.push_back({{mid[0], v[0], mid[2]}});
    next.push_back({{mid[1], v[1], mid[0]}});
    next.push_back({{mid[2], v[2], mid[1]}});
    next.push_back({{mid[0], mid[1], mid[2]}});
  }
  m.welded = std::move(next);
}

void centre_model(Model& m) {
  if (m.vertices.empty()) return;
  Vector3f sum;
  for (const MeshVertex& v : m.vertices) {
    sum.x += v.position.x;
    sum.y += v.position.y;
    sum.z += v.position.z;
  }
  float n = static_cast<float>(m.vertices.size());
  Vector3f mean = {sum.x / n, sum.y / n, sum.z / n};
  for (MeshVertex& v : m.vertices) {
    v.position.x -= mean.x;
    v.position.y -= mean.y;
    v.position.z -= mean.z;
  }
}

Model build_asteroid(RandomSource random) {
  Model m = make_octahedron();
  weld_model(m);
  perturb_vertices(m, 0.3f, random);
  subdivide_model(m);
  perturb_vertices(m, 0.6f, random);
  shade_vertices(m, random);
  subdivide_model(m);
  perturb_vertices(m, 0.3f, random);
  subdivide_model(m);
  normalise_model(m);
  centre_model(m);
  return m;
}

void build_asteroid_mesh(int slot, RandomSource random) {
  if (slot < 0 || slot >= MAX_OBJECTS) return;
  g_asteroid_meshes[static_cast<std::size_t>(slot)] =
      std::make_unique<Model>(build_asteroid(random));
}

}  // namespace zbx
