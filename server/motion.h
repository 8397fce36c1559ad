// Kinematics of the wrapping world: rotations about a record's own axes,
// moving with wrap-around, ship turning and thrust, distances and offsets in
// the torus, and free spawn positions.
#pragma once

#include "protocol/zbx_types.h"
#include "world.h"

namespace zbx {

// mode 2: M = R*M (turn about the record's own axis); mode 1: M = M*R.
void rotate_x(Matrix3f& m, int mode, float degrees);
void rotate_y(Matrix3f& m, int mode, float degrees);
void rotate_z(Matrix3f& m, int mode, float degrees);
void move(WorldObject& record);
void turn_object(WorldObject& object);
void turn_ship(Ship& ship);
void update_thrust_vector(Ship& ship);
float torus_distance(Vector3f a, Vector3f b);
Vector3f local_offset(const Ship& ship, Vector3f target);
Vector3f random_clear_position();

}  // namespace zbx
