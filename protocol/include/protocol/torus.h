// Wrap-around arithmetic of the world, shared by the server, the client and
// the drawing: the world is a cube of half-edge W whose opposite faces meet.
#pragma once

#include "protocol/zbx_types.h"

namespace zbx {

// d brought back once into -W..W: above W it loses 2W, below -W it gains 2W
// (exactly ±W stays). The sum is taken in double precision.
inline float fold(float d, float w) {
  if (d > w) d = static_cast<float>(d - 2.0 * w);
  if (d < -w) d = static_cast<float>(d + 2.0 * w);
  return d;
}

// p - own with every axis folded: the offset to the nearest image of p.
inline Vector3f wrapped_offset(Vector3f p, Vector3f own, float w) {
  return {fold(p.x - own.x, w), fold(p.y - own.y, w), fold(p.z - own.z, w)};
}

// Row `row` of m times v.
inline float row_dot(const Matrix3f& m, int row, Vector3f v) {
  const auto r = static_cast<std::size_t>(row) * 3;
  return m[r] * v.x + m[r + 1] * v.y + m[r + 2] * v.z;
}

// d in the axes given by the rows of an orientation: (R·d, U·d, B·d).
inline Vector3f to_camera(Vector3f d, const Matrix3f& orientation) {
  return {row_dot(orientation, 0, d), row_dot(orientation, 1, d), row_dot(orientation, 2, d)};
}

}  // namespace zbx
