// Rotations, movement with wrap-around, ship turning and thrust, torus
// distances and free spawn positions.
#include "motion.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "protocol/torus.h"
#include "startup/settings.h"

namespace zbx {

namespace {

constexpr double DEGREES_TO_RADIANS = 0.017453292519943295;

using Rows = std::array<float, 9>;

// Rotation matrix of `degrees` about one axis, or false when the angle is not
// finite (a NaN or infinite angle would poison the orientation for good).
// cos and sin of recently used angles, found by the angle's bits: a record
// turns by the same angles step after step, and the trigonometry would
// otherwise be the dearest part of moving the table. Key 0 (a zero angle) is
// never looked up, so it marks an empty entry.
struct TurnMemo {
  static constexpr int SIZE = 1024;
  std::uint32_t key[SIZE] = {};
  float cosine[SIZE];
  float sine[SIZE];
};
thread_local TurnMemo t_turns;

void cos_sin(float degrees, float& c, float& s) {
  std::uint32_t key;
  std::memcpy(&key, &degrees, sizeof key);
  const std::uint32_t at = (key * 2654435761u) >> 22;
  TurnMemo& memo = t_turns;
  if (memo.key[at] != key) {
    const double radians = static_cast<double>(degrees) * DEGREES_TO_RADIANS;
    memo.key[at] = key;
    memo.cosine[at] = static_cast<float>(std::cos(radians));
    memo.sine[at] = static_cast<float>(std::sin(radians));
  }
  c = memo.cosine[at];
  s = memo.sine[at];
}

bool rotation(int axis, float degrees, Rows& r) {
  if (!std::isfinite(degrees)) return false;
  float c, s;
  cos_sin(degrees, c, s);
  switch (axis) {
    case 0:
      r = {1, 0, 0, 0, c, s, 0, -s, c};
      break;
    case 1:
      r = {c, 0, s, 0, 1, 0, -s, 0, c};
      break;
    default:
      r = {c, s, 0, -s, c, 0, 0, 0, 1};
      break;
  }
  return true;
}

using Lanes = float __attribute__((vector_size(16)));

Lanes row_lanes(const Rows& m, int row) {
  return Lanes{m[row * 3], m[row * 3 + 1], m[row * 3 + 2], 0};
}

// a * b, a row at a time; each element is summed in the order
// a[i][0]*b[0][j] + a[i][1]*b[1][j] + a[i][2]*b[2][j].
Rows multiply(const Rows& a, const Rows& b) {
  const Lanes b0 = row_lanes(b, 0), b1 = row_lanes(b, 1), b2 = row_lanes(b, 2);
  Rows out;
  for (int i = 0; i < 3; ++i) {
    const Lanes o = a[i * 3] * b0 + a[i * 3 + 1] * b1 + a[i * 3 + 2] * b2;
    out[i * 3] = o[0];
    out[i * 3 + 1] = o[1];
    out[i * 3 + 2] = o[2];
  }
  return out;
}

void rotate(Matrix3f& m, int axis, int mode, float degrees) {
  // A zero turn is the identity: skip the trigonometry (most objects and
  // ships turn about at most one axis at a time).
  if ((mode != 1 && mode != 2) || degrees == 0.0f) return;
  Rows r;
  if (!rotation(axis, degrees, r)) return;
  m = mode == 2 ? multiply(r, m) : multiply(m, r);
}

float axis_distance(float a, float b, float w) {
  float d = std::fabs(a - b);
  const float across = 2.0f * w - d;
  return across < d ? across : d;
}

// One grid coordinate of a spawn candidate: W * (k / 25), k in -25..24.
float random_grid_coordinate(float w) {
  const int k = std::rand() % 50 - 25;
  return w * (static_cast<float>(k) / 25.0f);
}

bool position_is_clear(Vector3f candidate) {
  for (const auto& object : g_world.objects) {
    if (object && torus_distance(candidate, object->position) < object->size + 0.3f) return false;
  }
  for (const auto& ship : g_world.players) {
    if (ship && ship->lifetime == -1 &&
        torus_distance(candidate, ship->position) < ship->size + 1.0f) {
      return false;
    }
  }
  return true;
}

}  // namespace

void rotate_x(Matrix3f& m, int mode, float degrees) { rotate(m, 0, mode, degrees); }
void rotate_y(Matrix3f& m, int mode, float degrees) { rotate(m, 1, mode, degrees); }
void rotate_z(Matrix3f& m, int mode, float degrees) { rotate(m, 2, mode, degrees); }

void move(WorldObject& record) {
  const float w = g_server_settings.WORLD_WIDTH;
  Vector3f& p = record.position;
  p.x += record.velocity.x;
  p.y += record.velocity.y;
  p.z += record.velocity.z;
  p.x = fold(p.x, w);
  p.y = fold(p.y, w);
  p.z = fold(p.z, w);
}

void turn_object(WorldObject& object) {
  rotate_x(object.orientation, 2, object.spin.x);
  rotate_y(object.orientation, 2, object.spin.y);
  rotate_z(object.orientation, 2, object.spin.z);
}

void turn_ship(Ship& ship) {
  if (ship.lifetime != -1 || ship.warpTimer != 0) return;
  float s = g_server_settings.ROTATION_SPEED;
  if (ship.isBot) s *= g_world.botRatio;
  if (!std::isfinite(s)) s = 0.0f;
  rotate_x(ship.orientation, 2, ship.spin.x * s);
  rotate_y(ship.orientation, 2, ship.spin.y * s);
  rotate_z(ship.orientation, 2, ship.spin.z * s);
  rotate_x(ship.inverseOrientation, 1, -ship.spin.x * s);
  rotate_y(ship.inverseOrientation, 1, -ship.spin.y * s);
  rotate_z(ship.inverseOrientation, 1, -ship.spin.z * s);
  update_thrust_vector(ship);
}

void update_thrust_vector(Ship& ship) {
  const Matrix3f& m = ship.orientation;
  const double tx = ship.thrustInput.x, ty = ship.thrustInput.y, tz = ship.thrustInput.z;
  auto component = [&](int column) {
    const double sum = tx * m[column] + ty * m[3 + column] + tz * m[6 + column];
    const float value = static_cast<float>(-0.001 * sum);
    return std::isfinite(value) ? value : 0.0f;
  };
  ship.thrustVector = Vector3f{component(0), component(1), component(2)};
}

float torus_distance(Vector3f a, Vector3f b) {
  const float w = g_server_settings.WORLD_WIDTH;
  const float dx = axis_distance(a.x, b.x, w);
  const float dy = axis_distance(a.y, b.y, w);
  const float dz = axis_distance(a.z, b.z, w);
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

Vector3f local_offset(const Ship& ship, Vector3f target) {
  return to_camera(wrapped_offset(target, ship.position, g_server_settings.WORLD_WIDTH),
                   ship.orientation);
}

Vector3f random_clear_position() {
  const float w = g_server_settings.WORLD_WIDTH;
  Vector3f candidate;
  for (int attempt = 0; attempt < 20; ++attempt) {
    candidate.x = random_grid_coordinate(w);
    candidate.y = random_grid_coordinate(w);
    candidate.z = random_grid_coordinate(w);
    if (position_is_clear(candidate)) break;
  }
  return candidate;
}

}  // namespace zbx
