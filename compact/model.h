// Quantisation and prediction of the per-slot model shared by the encoder
// and the decoder. Positions are points on a circle of 2^32 per axis, so
// moving across the wrap is integer overflow; orientations are a quaternion
// (or, for a matrix that is no longer a rotation, its nine values) turned by
// a rotation vector per world step.
#pragma once

#include <array>
#include <cstdint>

#include "compact/compact.h"

namespace zbx::compact {

using Mat = std::array<double, 9>;
using Quat = std::array<double, 4>;  // w, x, y, z

// Grains of what travels: positions in 64ths of their unit (26 bits a
// circle), velocities in 256ths, quaternions in Q20, matrices in Q20 (the
// model keeps Q30 and Q24).
inline constexpr int POSITION_SHIFT = 6;
inline constexpr int VELOCITY_GRAIN = 256;
inline constexpr int QUATERNION_SHIFT = 10;
inline constexpr int MATRIX_SHIFT = 4;

// A model is used while it stays this close to the truth, inside the
// guaranteed bounds by the quantisation's own error.
inline constexpr float CHECK_POSITION = 0.00028f;  // per axis: 0.00049 in all
inline constexpr float CHECK_ORIENTATION = 0.0009f;
inline constexpr float CHECK_SIZE = 0.00045f;
// A quaternion stands for a matrix only when it shows it this closely.
inline constexpr float QUATERNION_FIT = 0.0003f;

std::uint32_t to_circle(float p, float worldWidth);
float from_circle(std::uint32_t q, float worldWidth);
std::int32_t velocity_units(float v, float worldWidth);  // a multiple of VELOCITY_GRAIN
std::int32_t size_units(float size);
std::int32_t growth_units(float growth);

Mat rotation_of(const Quat& q);
Quat quaternion_of(const Mat& m);
// The rotation vector of one world step's turn by spin (degrees about the own
// x, then y, then z axis).
std::array<std::int32_t, 3> turn_of(Vector3f spinDegrees);
Mat turn_matrix(const std::array<std::int32_t, 3>& turn, std::int64_t steps);

// World steps from `from` to `to`, never negative.
std::int64_t steps_between(std::uint32_t from, std::uint32_t to);
std::array<std::uint32_t, 3> predicted_position(const EntityModel& e, std::uint32_t step);
Mat stored_orientation(const EntityModel& e);
Mat predicted_orientation(const EntityModel& e, std::uint32_t step);
Quat predicted_quaternion(const EntityModel& e, std::uint32_t step);  // quaternion models
std::int32_t predicted_size(const EntityModel& e, std::uint32_t step);

// What a model shows at a step; `inverted` for another player's ship, whose
// orientation travels as the inverse.
struct Shown {
  Vector3f position;
  float size = 0;
  Matrix3f orientation{};
};
Shown show(const EntityModel& e, std::uint32_t step, float worldWidth, bool inverted);
bool within_bounds(const Shown& shown, Vector3f position, float size, const Matrix3f& orientation,
                   float worldWidth);

}  // namespace zbx::compact
