// The model both ends keep of a slot: quantisation, prediction to a world
// step, and what a model shows as snapshot messages.
#include "model.h"

#include <cmath>
#include <cstring>

namespace zbx::compact {

namespace {

constexpr double CIRCLE = 4294967296.0;  // 2^32
constexpr double Q30 = 1073741824.0;
constexpr double Q24 = 16777216.0;
constexpr double Q16 = 65536.0;
constexpr double DEGREES_TO_RADIANS = 0.017453292519943295;

float finite(float v) { return std::isfinite(v) ? v : 0.0f; }

std::int32_t clamp_to_int(double v) {
  if (!(v > -2147483648.0)) return INT32_MIN;  // NaN too
  if (v >= 2147483647.0) return INT32_MAX;
  return static_cast<std::int32_t>(std::llround(v));
}

void matrix_product(const Mat& a, const Mat& b, Mat& out) {
  Mat r;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      r[i * 3 + j] = a[i * 3] * b[j] + a[i * 3 + 1] * b[3 + j] + a[i * 3 + 2] * b[6 + j];
    }
  }
  out = r;
}

// The rotation the server applies for one turn of `degrees` about one axis,
// in its own row layout.
Mat axis_turn(int axis, double degrees) {
  const double c = std::cos(degrees * DEGREES_TO_RADIANS);
  const double s = std::sin(degrees * DEGREES_TO_RADIANS);
  if (axis == 0) return {1, 0, 0, 0, c, s, 0, -s, c};
  if (axis == 1) return {c, 0, s, 0, 1, 0, -s, 0, c};
  return {c, s, 0, -s, c, 0, 0, 0, 1};
}

}  // namespace

std::uint32_t to_circle(float p, float worldWidth) {
  const double w = worldWidth;
  double u = (static_cast<double>(finite(p)) + w) / (2.0 * w);
  if (!std::isfinite(u)) return 0;
  u -= std::floor(u);
  const auto q = static_cast<std::uint64_t>(std::llround(u * CIRCLE));
  return static_cast<std::uint32_t>(q);
}

float from_circle(std::uint32_t q, float worldWidth) {
  const double w = worldWidth;
  return static_cast<float>(static_cast<double>(q) / CIRCLE * 2.0 * w - w);
}

std::int32_t velocity_units(float v, float worldWidth) {
  const double units = static_cast<double>(finite(v)) / (2.0 * worldWidth) * CIRCLE;
  const std::int32_t q = clamp_to_int(units / VELOCITY_GRAIN);
  return clamp_to_int(static_cast<double>(q) * VELOCITY_GRAIN);
}

Mat rotation_of(const Quat& q) {
  const double n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
  if (!(n > 1e-12)) return {1, 0, 0, 0, 1, 0, 0, 0, 1};
  const double w = q[0] / n, x = q[1] / n, y = q[2] / n, z = q[3] / n;
  return {1 - 2 * (y * y + z * z), 2 * (x * y - w * z),     2 * (x * z + w * y),
          2 * (x * y + w * z),     1 - 2 * (x * x + z * z), 2 * (y * z - w * x),
          2 * (x * z - w * y),     2 * (y * z + w * x),     1 - 2 * (x * x + y * y)};
}

Quat quaternion_of(const Mat& m) {
  // Shepperd's choice of the largest diagonal term keeps the division sound.
  const double t = m[0] + m[4] + m[8];
  Quat q;
  if (t > m[0] && t > m[4] && t > m[8]) {
    const double s = std::sqrt(1.0 + t) * 2;
    q = {0.25 * s, (m[7] - m[5]) / s, (m[2] - m[6]) / s, (m[3] - m[1]) / s};
  } else if (m[0] > m[4] && m[0] > m[8]) {
    const double s = std::sqrt(1.0 + m[0] - m[4] - m[8]) * 2;
    q = {(m[7] - m[5]) / s, 0.25 * s, (m[1] + m[3]) / s, (m[2] + m[6]) / s};
  } else if (m[4] > m[8]) {
    const double s = std::sqrt(1.0 + m[4] - m[0] - m[8]) * 2;
    q = {(m[2] - m[6]) / s, (m[1] + m[3]) / s, 0.25 * s, (m[5] + m[7]) / s};
  } else {
    const double s = std::sqrt(1.0 + m[8] - m[0] - m[4]) * 2;
    q = {(m[3] - m[1]) / s, (m[2] + m[6]) / s, (m[5] + m[7]) / s, 0.25 * s};
  }
  for (double& c : q) {
    if (!std::isfinite(c)) return {1, 0, 0, 0};
  }
  return q;
}

std::array<std::int32_t, 3> turn_of(Vector3f spinDegrees) {
  // One step turns about x, then y, then z, each about the record's own axis:
  // M' = Rz Ry Rx M.
  Mat step = axis_turn(0, finite(spinDegrees.x));
  matrix_product(axis_turn(1, finite(spinDegrees.y)), step, step);
  matrix_product(axis_turn(2, finite(spinDegrees.z)), step, step);
  Quat q = quaternion_of(step);
  if (q[0] < 0) {
    for (double& c : q) c = -c;
  }
  const double v = std::sqrt(q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
  const double angle = 2.0 * std::atan2(v, q[0]);
  const double scale = v > 1e-15 ? angle / v : 2.0;
  return {clamp_to_int(q[1] * scale * Q24), clamp_to_int(q[2] * scale * Q24),
          clamp_to_int(q[3] * scale * Q24)};
}

Mat turn_matrix(const std::array<std::int32_t, 3>& turn, std::int64_t steps) {
  const double x = turn[0] / Q24, y = turn[1] / Q24, z = turn[2] / Q24;
  const double rate = std::sqrt(x * x + y * y + z * z);
  if (rate == 0.0 || steps == 0) return {1, 0, 0, 0, 1, 0, 0, 0, 1};
  const double half = rate * static_cast<double>(steps) / 2.0;
  const double s = std::sin(half) / rate;
  return rotation_of({std::cos(half), x * s, y * s, z * s});
}

std::int64_t steps_between(std::uint32_t from, std::uint32_t to) {
  const auto n = static_cast<std::int32_t>(to - from);
  return n > 0 ? n : 0;
}

std::array<std::uint32_t, 3> predicted_position(const EntityModel& e, std::uint32_t step) {
  const auto n = static_cast<std::uint32_t>(steps_between(e.step, step));
  std::array<std::uint32_t, 3> p;
  for (int i = 0; i < 3; ++i) p[i] = e.position[i] + static_cast<std::uint32_t>(e.velocity[i]) * n;
  return p;
}

Mat stored_orientation(const EntityModel& e) {
  if (e.matrix) {
    Mat m;
    for (int i = 0; i < 9; ++i) m[i] = e.orientation[i] / Q24;
    return m;
  }
  return rotation_of({e.orientation[0] / Q30, e.orientation[1] / Q30, e.orientation[2] / Q30,
                      e.orientation[3] / Q30});
}

Mat predicted_orientation(const EntityModel& e, std::uint32_t step) {
  Mat m = stored_orientation(e);
  const std::int64_t n = steps_between(e.step, step);
  if (n > 0 && (e.turn[0] | e.turn[1] | e.turn[2]) != 0) {
    matrix_product(turn_matrix(e.turn, n), m, m);
  }
  return m;
}

Quat predicted_quaternion(const EntityModel& e, std::uint32_t step) {
  const Quat q{e.orientation[0] / Q30, e.orientation[1] / Q30, e.orientation[2] / Q30,
               e.orientation[3] / Q30};
  const std::int64_t n = steps_between(e.step, step);
  if (n == 0 || (e.turn[0] | e.turn[1] | e.turn[2]) == 0) return q;
  const double x = e.turn[0] / Q24, y = e.turn[1] / Q24, z = e.turn[2] / Q24;
  const double rate = std::sqrt(x * x + y * y + z * z);
  const double half = rate * static_cast<double>(n) / 2.0;
  const double s = std::sin(half) / rate;
  const Quat d{std::cos(half), x * s, y * s, z * s};
  // d * q (Hamilton product): the turn applied on the left, as the server does.
  return {d[0] * q[0] - d[1] * q[1] - d[2] * q[2] - d[3] * q[3],
          d[0] * q[1] + d[1] * q[0] + d[2] * q[3] - d[3] * q[2],
          d[0] * q[2] - d[1] * q[3] + d[2] * q[0] + d[3] * q[1],
          d[0] * q[3] + d[1] * q[2] - d[2] * q[1] + d[3] * q[0]};
}

std::int32_t predicted_size(const EntityModel& e, std::uint32_t step) {
  const std::int64_t n = steps_between(e.step, step);
  const std::int64_t s = e.size + ((static_cast<std::int64_t>(e.growth) * n) >> 8);
  return clamp_to_int(static_cast<double>(s));
}

std::int32_t size_units(float size) { return clamp_to_int(finite(size) * Q16); }
std::int32_t growth_units(float growth) { return clamp_to_int(finite(growth) * Q24); }

Shown show(const EntityModel& e, std::uint32_t step, float worldWidth, bool inverted) {
  Shown out;
  const auto p = predicted_position(e, step);
  out.position = {from_circle(p[0], worldWidth), from_circle(p[1], worldWidth),
                  from_circle(p[2], worldWidth)};
  out.size = static_cast<float>(predicted_size(e, step) / Q16);
  const Mat m = predicted_orientation(e, step);
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      out.orientation[i * 3 + j] = static_cast<float>(inverted ? m[j * 3 + i] : m[i * 3 + j]);
    }
  }
  return out;
}

bool within_bounds(const Shown& shown, Vector3f position, float size, const Matrix3f& orientation,
                   float worldWidth) {
  const float p[3] = {position.x, position.y, position.z};
  const float q[3] = {shown.position.x, shown.position.y, shown.position.z};
  for (int i = 0; i < 3; ++i) {
    // The nearest image: a value across the wrap is as good as its twin.
    double d = std::fabs(static_cast<double>(p[i]) - q[i]);
    d = std::fmod(d, 2.0 * worldWidth);
    if (2.0 * worldWidth - d < d) d = 2.0 * worldWidth - d;
    if (!(d <= CHECK_POSITION)) return false;
  }
  if (!(std::fabs(size - shown.size) <= CHECK_SIZE)) return false;
  for (int i = 0; i < 9; ++i) {
    if (!(std::fabs(orientation[i] - shown.orientation[i]) <= CHECK_ORIENTATION)) return false;
  }
  return true;
}

}  // namespace zbx::compact
