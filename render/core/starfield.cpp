// Starfield state: building, twinkling, shaking, and the per-star camera test.
#include "render/core/starfield.h"

#include <climits>
#include <cmath>

#include "render/core/view.h"

namespace zbx {

Starfield g_starfield;

namespace {

int draw_mod(RandomSource random, int n) {
  int r = random() % n;
  return r < 0 ? r + n : r;
}

Colour3f random_colour(RandomSource random) {
  Colour3f c;
  c.r = static_cast<float>(draw_mod(random, 256) + 1) / 256.0f;
  c.g = static_cast<float>(draw_mod(random, 256) + 1) / 256.0f;
  c.b = static_cast<float>(draw_mod(random, 256) + 1) / 256.0f;
  return c;
}

float random_axis(RandomSource random) {
  return static_cast<float>((draw_mod(random, 256) + 1) * (1.0 / 128) - 1);
}

}  // namespace

void make_starfield(Starfield& field, RandomSource random) {
  field.amplitude = STAR_SHAKE;
  field.counter = 0;
  for (Star& s : field.stars) {
    s.colour = random_colour(random);
    Vector3f d;
    d.x = random_axis(random);
    d.y = random_axis(random);
    d.z = random_axis(random);
    float len = length(d);
    // All three components can come out 0 (one chance in 2^24): such a star
    // has no direction, so it is put straight above.
    if (len == 0.0f) {
      d = {0.0f, 1.0f, 0.0f};
      len = 1.0f;
    }
    s.direction = {d.x / len * STAR_DISTANCE, d.y / len * STAR_DISTANCE, d.z / len * STAR_DISTANCE};
  }
}

void twinkle_starfield(Starfield& field, RandomSource random) {
  for (int i = 0; i < 3; ++i) {
    int index = draw_mod(random, STAR_COUNT);
    field.stars[static_cast<std::size_t>(index)].colour = random_colour(random);
    random();  // every twinkle takes a fifth draw that nothing uses
  }
}

float shake_starfield(Starfield& field, int hitFlash) {
  if (hitFlash == 0) return 0.0f;
  int noted = field.counter;
  field.counter = noted == INT_MAX ? 0 : noted + 1;
  if (noted % 2 != 0) field.amplitude = -field.amplitude;
  return field.amplitude;
}

bool in_radar_box(float cx, float cy) { return std::fabs(cx) < 3.0f && cy > -7.0f && cy < -3.0f; }

bool star_camera_point(const Star& star, const Matrix3f& flightOrientation, float shift,
                       bool reverse, Vector3f& out) {
  Vector3f c = to_camera(star.direction, flightOrientation);
  c.z = view_z(c.z, reverse);
  if (c.z > 0.0f) return false;
  c.x += shift;
  if (in_radar_box(c.x, c.y)) return false;
  out = c;
  return true;
}

}  // namespace zbx
