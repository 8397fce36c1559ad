// Rotations as unit quaternions: the conversions from and back to the rows of
// an orientation, and the path between two of them.
#include <algorithm>
#include <cmath>

#include "smooth/smooth.h"

namespace zbx {

namespace {

constexpr double DEGREES = 57.29577951308232;
// Tolerances for rows the server sends: its float products drift slowly.
constexpr double ROW_LENGTH_TOLERANCE = 0.02;
constexpr double ROW_DOT_TOLERANCE = 0.02;

double m_at(const Matrix3f& m, int row, int column) { return m[row * 3 + column]; }

Quaternion normalised(Quaternion q) {
  const double n = std::sqrt(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z);
  if (!(n > 1e-12) || !std::isfinite(n)) return Quaternion{};
  return {q.w / n, q.x / n, q.y / n, q.z / n};
}

}  // namespace

bool is_rotation(const Matrix3f& m) {
  for (float v : m) {
    if (!std::isfinite(v)) return false;
  }
  for (int i = 0; i < 3; ++i) {
    for (int j = i; j < 3; ++j) {
      const double dot = m_at(m, i, 0) * m_at(m, j, 0) + m_at(m, i, 1) * m_at(m, j, 1) +
                         m_at(m, i, 2) * m_at(m, j, 2);
      const double want = i == j ? 1.0 : 0.0;
      if (std::fabs(dot - want) > (i == j ? ROW_LENGTH_TOLERANCE : ROW_DOT_TOLERANCE)) return false;
    }
  }
  // A mirror image has no quaternion.
  const double det =
      m_at(m, 0, 0) * (m_at(m, 1, 1) * m_at(m, 2, 2) - m_at(m, 1, 2) * m_at(m, 2, 1)) -
      m_at(m, 0, 1) * (m_at(m, 1, 0) * m_at(m, 2, 2) - m_at(m, 1, 2) * m_at(m, 2, 0)) +
      m_at(m, 0, 2) * (m_at(m, 1, 0) * m_at(m, 2, 1) - m_at(m, 1, 1) * m_at(m, 2, 0));
  return det > 0.5;
}

Quaternion to_quaternion(const Matrix3f& m) {
  // Shepperd's choice: divide by the largest of the four candidates.
  const double r00 = m_at(m, 0, 0), r11 = m_at(m, 1, 1), r22 = m_at(m, 2, 2);
  const double trace = r00 + r11 + r22;
  Quaternion q;
  if (trace > 0) {
    const double s = std::sqrt(trace + 1.0) * 2;
    q = {0.25 * s, (m_at(m, 2, 1) - m_at(m, 1, 2)) / s, (m_at(m, 0, 2) - m_at(m, 2, 0)) / s,
         (m_at(m, 1, 0) - m_at(m, 0, 1)) / s};
  } else if (r00 > r11 && r00 > r22) {
    const double s = std::sqrt(std::max(1.0 + r00 - r11 - r22, 1e-12)) * 2;
    q = {(m_at(m, 2, 1) - m_at(m, 1, 2)) / s, 0.25 * s, (m_at(m, 0, 1) + m_at(m, 1, 0)) / s,
         (m_at(m, 0, 2) + m_at(m, 2, 0)) / s};
  } else if (r11 > r22) {
    const double s = std::sqrt(std::max(1.0 + r11 - r00 - r22, 1e-12)) * 2;
    q = {(m_at(m, 0, 2) - m_at(m, 2, 0)) / s, (m_at(m, 0, 1) + m_at(m, 1, 0)) / s, 0.25 * s,
         (m_at(m, 1, 2) + m_at(m, 2, 1)) / s};
  } else {
    const double s = std::sqrt(std::max(1.0 + r22 - r00 - r11, 1e-12)) * 2;
    q = {(m_at(m, 1, 0) - m_at(m, 0, 1)) / s, (m_at(m, 0, 2) + m_at(m, 2, 0)) / s,
         (m_at(m, 1, 2) + m_at(m, 2, 1)) / s, 0.25 * s};
  }
  return normalised(q);
}

Matrix3f to_matrix(Quaternion q) {
  q = normalised(q);
  const double w = q.w, x = q.x, y = q.y, z = q.z;
  const double m[9] = {1 - 2 * (y * y + z * z), 2 * (x * y - w * z),     2 * (x * z + w * y),
                       2 * (x * y + w * z),     1 - 2 * (x * x + z * z), 2 * (y * z - w * x),
                       2 * (x * z - w * y),     2 * (y * z + w * x),     1 - 2 * (x * x + y * y)};
  Matrix3f out;
  for (int i = 0; i < 9; ++i) out[i] = static_cast<float>(m[i]);
  return out;
}

Quaternion multiply(Quaternion a, Quaternion b) {
  return {
      a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z, a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
      a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x, a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w};
}

Quaternion conjugate(Quaternion q) { return {q.w, -q.x, -q.y, -q.z}; }

Quaternion rotate_towards(Quaternion a, Quaternion b, double u) {
  Quaternion d = multiply(conjugate(a), b);
  if (d.w < 0) d = {-d.w, -d.x, -d.y, -d.z};  // the short way round
  const double v = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
  if (!(v > 1e-12) || !std::isfinite(u)) return normalised(a);
  const double half = std::atan2(v, d.w) * u;
  const double s = std::sin(half) / v;
  return normalised(multiply(a, Quaternion{std::cos(half), d.x * s, d.y * s, d.z * s}));
}

double angle_between(Quaternion a, Quaternion b) {
  const Quaternion d = multiply(conjugate(a), b);
  const double v = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
  return 2 * std::atan2(v, std::fabs(d.w)) * DEGREES;
}

}  // namespace zbx
