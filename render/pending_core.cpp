// Stand-ins for render/core code that has not landed on this branch yet.
#include "render/pending_core.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "client/mirror.h"

namespace zbx {

float pixel_to_ndc(int p, int size) {
  if (size <= 0) return -1.0f;
  const float q = static_cast<float>(p) / static_cast<float>(size);
  return static_cast<float>(static_cast<double>(q) * 2.0 - 1.0);
}

Vector3f wrapped_offset(Vector3f p, Vector3f own, float w) {
  auto fold = [w](float a, float b) {
    double d = static_cast<double>(a) - b;
    if (d > w) d -= 2.0 * w;
    if (d < -w) d += 2.0 * w;
    return static_cast<float>(d);
  };
  return {fold(p.x, own.x), fold(p.y, own.y), fold(p.z, own.z)};
}

Vector3f to_camera(Vector3f d, const Matrix3f& f) {
  return {f[0] * d.x + f[1] * d.y + f[2] * d.z, f[3] * d.x + f[4] * d.y + f[5] * d.z,
          f[6] * d.x + f[7] * d.y + f[8] * d.z};
}

void clear_translucent(TranslucentList& list) {
  for (auto& e : list.entries) e = TranslucentEntry{};
}

void add_translucent(TranslucentList& list, float depth, int slot, int kind) {
  auto& e = list.entries;
  int pos = 0;
  while (pos < TRANSLUCENT_ENTRIES && e[pos].slot >= 0 && !(e[pos].depth > depth)) ++pos;
  if (pos == TRANSLUCENT_ENTRIES) return;
  for (int i = TRANSLUCENT_ENTRIES - 1; i > pos; --i) e[i] = e[i - 1];
  e[pos] = {slot, depth, kind};
}

std::uint32_t gauge_length(int value, int maximum) {
  if (maximum == 0) return 0;
  return static_cast<std::uint32_t>(value) * 38u / static_cast<std::uint32_t>(maximum);
}

int compare_scores(int a, int b) {
  const auto* pa = g_mirror.players[a].get();
  const auto* pb = g_mirror.players[b].get();
  if (pa && pb) {
    if (pa->score != pb->score) return pa->score > pb->score ? -1 : 1;
    return a < b ? -1 : (a > b ? 1 : 0);
  }
  if (pa) return -1;
  if (pb) return 1;
  return a < b ? -1 : (a > b ? 1 : 0);
}

Starfield g_starfield;

void make_starfield() {
  g_starfield.amplitude = 0.15f;
  g_starfield.counter = 0;
  for (auto& s : g_starfield.stars) {
    s.colour.r = static_cast<float>(std::rand() % 256 + 1) / 256.0f;
    s.colour.g = static_cast<float>(std::rand() % 256 + 1) / 256.0f;
    s.colour.b = static_cast<float>(std::rand() % 256 + 1) / 256.0f;
    float x = static_cast<float>((std::rand() % 256 + 1) * (1.0 / 128) - 1);
    float y = static_cast<float>((std::rand() % 256 + 1) * (1.0 / 128) - 1);
    float z = static_cast<float>((std::rand() % 256 + 1) * (1.0 / 128) - 1);
    float len = std::sqrt(x * x + y * y + z * z);
    if (len == 0) {
      x = 1;
      len = 1;
    }
    s.direction = {x / len * 15, y / len * 15, z / len * 15};
  }
}

void twinkle_stars(Starfield& field) {
  for (int t = 0; t < 3; ++t) {
    Star& s = field.stars[std::rand() % NUM_STARS];
    s.colour.r = static_cast<float>(std::rand() % 256 + 1) / 256.0f;
    s.colour.g = static_cast<float>(std::rand() % 256 + 1) / 256.0f;
    s.colour.b = static_cast<float>(std::rand() % 256 + 1) / 256.0f;
    (void)std::rand();
  }
}

float star_shift(Starfield& field, int hit_flash) {
  if (hit_flash == 0) return 0.0f;
  const int noted = field.counter++;
  if (noted % 2 != 0) field.amplitude = -field.amplitude;
  return field.amplitude;
}

bool star_in_radar_box(float cx, float cy) { return std::fabs(cx) < 3 && cy > -7 && cy < -3; }

bool decode_sgi_image(const std::uint8_t* data, std::size_t size, SgiImage& out) {
  auto be16 = [&](std::size_t o) { return static_cast<unsigned>(data[o] << 8 | data[o + 1]); };
  auto be32 = [&](std::size_t o) {
    return static_cast<std::uint32_t>(data[o]) << 24 | static_cast<std::uint32_t>(data[o + 1]) << 16 |
           static_cast<std::uint32_t>(data[o + 2]) << 8 | data[o + 3];
  };
  if (size < 512 || data[2] != 1 || data[3] != 1) return false;
  const std::size_t w = be16(6), h = be16(8), ch = be16(10);
  if (w == 0 || h == 0 || ch < 3) return false;
  const std::size_t tab = h * ch * 4;
  if (512 + 2 * tab > size) return false;
  out.width = static_cast<int>(w);
  out.height = static_cast<int>(h);
  out.channels = static_cast<int>(ch);
  out.rgba.assign(w * h * 4, 255);
  std::vector<std::uint8_t> row(w);
  for (std::size_t y = 0; y < h; ++y) {
    for (std::size_t c = 0; c < 3; ++c) {
      const std::size_t start = be32(512 + (y + c * h) * 4);
      const std::size_t len = be32(512 + tab + (y + c * h) * 4);
      if (start > size || len > size - start) return false;
      std::size_t i = start, end = start + len, x = 0;
      std::fill(row.begin(), row.end(), 0);
      while (i < end) {
        const std::uint8_t ctl = data[i++];
        const std::size_t count = ctl & 0x7f;
        if (count == 0) break;
        if (x + count > w) return false;
        if (ctl & 0x80) {
          if (i + count > end) return false;
          std::memcpy(&row[x], data + i, count);
          i += count;
        } else {
          if (i >= end) return false;
          std::memset(&row[x], data[i++], count);
        }
        x += count;
      }
      for (std::size_t xx = 0; xx < w; ++xx) out.rgba[(y * w + xx) * 4 + (2 - c)] = row[xx];
    }
  }
  return true;
}

}  // namespace zbx
