// Stand-ins for render/core code that has not landed on this branch yet.
// Removed once the core library provides these.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocol/zbx_types.h"

namespace zbx {

struct Model {
  std::vector<std::array<Vector3f, 3>> positions;
  std::vector<std::array<Colour3f, 3>> colours;
};

inline int model_face_count(const Model& m) { return static_cast<int>(m.positions.size()); }
inline void model_face(const Model& m, int face, Vector3f (&p)[3], Colour3f (&c)[3]) {
  for (int k = 0; k < 3; ++k) {
    p[k] = m.positions[face][k];
    c[k] = m.colours[face][k];
  }
}

float pixel_to_ndc(int p, int size);
Vector3f wrapped_offset(Vector3f p, Vector3f own, float world_width);
Vector3f to_camera(Vector3f d, const Matrix3f& flight);

struct TranslucentEntry {
  int slot = -1;
  float depth = 0;
  int kind = 0;
};
inline constexpr int TRANSLUCENT_ENTRIES = 544;
struct TranslucentList {
  std::array<TranslucentEntry, TRANSLUCENT_ENTRIES> entries;
};
void clear_translucent(TranslucentList& list);
void add_translucent(TranslucentList& list, float depth, int slot, int kind);

std::uint32_t gauge_length(int value, int maximum);
int compare_scores(int a, int b);

struct Star {
  Vector3f direction;
  Colour3f colour;
};
inline constexpr int NUM_STARS = 500;
struct Starfield {
  std::array<Star, NUM_STARS> stars;
  float amplitude = 0.15f;
  int counter = 0;
};
extern Starfield g_starfield;
void make_starfield();
void twinkle_stars(Starfield& field);
float star_shift(Starfield& field, int hit_flash);
bool star_in_radar_box(float cx, float cy);

struct SgiImage {
  std::vector<std::uint8_t> rgba;
  int width = 0;
  int height = 0;
  int channels = 0;
};
bool decode_sgi_image(const std::uint8_t* data, std::size_t size, SgiImage& out);

}  // namespace zbx
