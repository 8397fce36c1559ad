// Arithmetic of the world view, the radar and the gauges.
#include "render/core/view.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace zbx {

namespace {

constexpr float TWO_PI = 6.2831855f;

}  // namespace

Vector3f model_offset(Vector3f d, float size, const Matrix3f& orientation, Vector3f v) {
  return {d.x + size * row_dot(orientation, 0, v), d.y + size * row_dot(orientation, 1, v),
          d.z + size * row_dot(orientation, 2, v)};
}

void clear_translucent(TranslucentList& list) {
  list.entries.fill(TranslucentEntry{});
  list.used = 0;
}

bool add_translucent(TranslucentList& list, float depth, int slot, int kind) {
  if (!(depth < 0.0f)) return false;
  int at = 0;
  // Equal depths are passed over: the earlier entry stays in front of the queue.
  while (at < list.used && !(list.entries[static_cast<std::size_t>(at)].depth > depth)) ++at;
  if (at >= TRANSLUCENT_SLOTS) return false;
  int last = std::min(list.used, TRANSLUCENT_SLOTS - 1);
  for (int i = last; i > at; --i) {
    list.entries[static_cast<std::size_t>(i)] = list.entries[static_cast<std::size_t>(i - 1)];
  }
  list.entries[static_cast<std::size_t>(at)] = {slot, depth, kind};
  list.used = std::min(list.used + 1, TRANSLUCENT_SLOTS);
  return true;
}

HaloStyle halo_style(int translucentKind) {
  switch (translucentKind) {
    case TRANSLUCENT_SHIELD:
      return {{0.5f, 0.4f, 1.0f}, 64, 0.15f, 0.5f};
    case TRANSLUCENT_POWERUP:
      return {{0.4f, 0.6f, 0.0f}, 64, 0.3f, 0.5f};
    case TRANSLUCENT_NUKE_EXPLOSION:
      return {{0.6f, 0.0f, 0.0f}, 256, 0.5f, 0.35f};
    default:
      return {};
  }
}

Vector3f halo_centre(Vector3f c, float r, bool reverse) {
  float dist = length(c);
  c.z = view_z(c.z, reverse);
  // From outside the sphere the disc stands on its near side, so the halo
  // wraps the entity instead of cutting through it.
  if (dist > r && dist > 0.0f)
    c = {c.x - c.x * r / dist, c.y - c.y * r / dist, c.z - c.z * r / dist};
  return c;
}

Vector3f halo_rim_point(Vector3f centre, float r, int i, int n) {
  float angle = static_cast<float>(i) * circle_step(n);
  return {centre.x + r * std::cos(angle), centre.y + r * std::sin(angle), centre.z};
}

float explosion_half_size(int kind, float age) {
  if (kind == KIND_SMALL_EXPLOSION) return (2.0f * age + 1.0f) * 0.05f;
  return (2.0f * age + 0.25f) * 0.2f;
}

std::array<TexturedCorner, 4> explosion_quad(Vector3f c, float h) {
  return {{{0, 1, {c.x - h, c.y + h, c.z}},
           {0, 0, {c.x - h, c.y - h, c.z}},
           {1, 0, {c.x + h, c.y - h, c.z}},
           {1, 1, {c.x + h, c.y + h, c.z}}}};
}

float pixel_to_ndc(int p, int size) {
  if (size <= 0) return -1.0f;
  float q = static_cast<float>(p) / static_cast<float>(size);
  return static_cast<float>(q * 2.0 - 1.0);
}

float circle_step(int n) { return n > 0 ? TWO_PI / static_cast<float>(n) : 0.0f; }

Point2f circle_point(float cx, float cy, float r, int k, int n) {
  float angle = static_cast<float>(k) * circle_step(n);
  return {cx + r * std::cos(angle), cy + r * std::sin(angle)};
}

int circle_dashes(int n, int start, int* out, int capacity) {
  int count = 0;
  for (int k = start; k < n && count < capacity; k += 8) out[count++] = k;
  return count;
}

Blip radar_blip(Vector3f v, float size, bool isAsteroid, int wd, int ht) {
  Blip b;
  b.ahead = v.z < 0.0f;
  float dist = length(v);
  float gap = dist - size;
  b.visible = gap < (isAsteroid ? RADAR_ASTEROID_RANGE : RADAR_SHIP_RANGE);
  if (!b.visible) return b;
  // An entity exactly at the camera has no direction: show it in the centre.
  float sx = dist > 0.0f ? v.x / dist : 0.0f;
  float sy = dist > 0.0f ? v.y / dist : 0.0f;
  b.px = static_cast<int>((wd / 2) * (sx * 0.26 + 1.0));
  b.py = static_cast<int>((ht / 2) * (sy * 0.26 + 0.333));
  b.block = gap > 2.5f ? 1 : gap > 1.0f ? 2 : 3;
  return b;
}

int blip_pixels(const Blip& b, std::array<std::array<int, 2>, 10>& out) {
  if (!b.visible) return 0;
  int n = 0;
  auto put = [&](int dx, int dy) { out[static_cast<std::size_t>(n++)] = {b.px + dx, b.py + dy}; };
  put(0, 0);
  if (b.block >= 2) {
    put(1, 0);
    put(0, 1);
    put(1, 1);
  }
  if (b.block >= 3) {
    put(2, 0);
    put(2, 1);
    put(1, 2);
    put(0, 2);
    put(1, 1);
    put(2, 2);
  }
  return n;
}

int gauge_length(int value, int maximum) {
  if (maximum <= 0 || value <= 0) return 0;
  long long v = std::min(value, maximum);
  return static_cast<int>(v * GAUGE_FULL / maximum);
}

}  // namespace zbx
